#include "http/dialog/AuthenticationDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "http/LoginTexts.h"

namespace http {

namespace {

struct DialogState {
    QPointer<AuthenticationDialog> current;
    QList<HTTPRequestPtr> waiting;
    QPointer<QWidget> presentingWindow;
};

DialogState& state() {
    static DialogState dialogs;
    return dialogs;
}

bool samePort(const QUrl& mine, const QUrl& other) {
    return (mine.port() == -1 && other.port() == -1) ||
           (mine.port() != -1 && mine.port() == other.port());
}

QLineEdit* makeField(const QString& placeholder, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setPlaceholderText(placeholder);
    // Names and passwords are typed as they are: no completion, no correction.
    field->setInputMethodHints(Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText |
                               Qt::ImhSensitiveData);
    return field;
}

}  // namespace

void AuthenticationDialog::install() {
    HTTPRequest::setAuthenticationDialogPresenter(
        [](const HTTPRequestPtr& request) { presentAuthenticationDialogForRequest(request); });
}

void AuthenticationDialog::setPresentingWindow(QWidget* window) {
    state().presentingWindow = window;
}

AuthenticationDialog* AuthenticationDialog::current() { return state().current; }

QList<HTTPRequestPtr> AuthenticationDialog::waitingRequests() { return state().waiting; }

void AuthenticationDialog::presentAuthenticationDialogForRequest(const HTTPRequestPtr& request) {
    if (state().current) {
        state().waiting.append(request);
        return;
    }
    QWidget* parent =
        state().presentingWindow ? state().presentingWindow.data() : QApplication::activeWindow();
    auto* dialog = new AuthenticationDialog(request, parent);
    state().current = dialog;
    dialog->show();
    dialog->usernameField_->setFocus();
}

AuthenticationDialog::AuthenticationDialog(const HTTPRequestPtr& request, QWidget* parent)
    : QDialog(parent), request_(request) {
    namespace texts = login_texts;
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(parent != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    type_ = request->authenticationNeeded() == 2 ? 1 : 0;
    const bool proxy = type_ == 1;

    auto* layout = new QVBoxLayout(this);
    promptLabel_ = new QLabel(texts::prompt(proxy), this);
    promptLabel_->setAlignment(Qt::AlignCenter);
    layout->addWidget(promptLabel_);
    headerLabel_ = new QLabel(texts::realm(*request, proxy), this);
    headerLabel_->setWordWrap(true);
    layout->addWidget(headerLabel_);

    auto* form = new QFormLayout();
    usernameField_ = makeField(texts::userPlaceholder(), this);
    passwordField_ = makeField(texts::passwordPlaceholder(), this);
    passwordField_->setEchoMode(QLineEdit::Password);
    form->addRow(usernameField_);
    form->addRow(passwordField_);
    if (texts::scheme(*request, proxy) == QLatin1String("NTLM")) {
        domainField_ = makeField(texts::domainPlaceholder(), this);
        form->addRow(domainField_);
    }
    layout->addLayout(form);
    footerLabel_ = new QLabel(texts::footer(*request, proxy), this);
    footerLabel_->setWordWrap(true);
    layout->addWidget(footerLabel_);

    auto* buttons = new QDialogButtonBox(this);
    cancelButton_ = buttons->addButton(QDialogButtonBox::Cancel);
    loginButton_ = buttons->addButton(texts::loginButton(), QDialogButtonBox::AcceptRole);
    loginButton_->setDefault(true);
    connect(loginButton_, &QPushButton::clicked, this,
            &AuthenticationDialog::loginWithCredentialsFromDialog);
    connect(cancelButton_, &QPushButton::clicked, this,
            &AuthenticationDialog::cancelAuthenticationFromDialog);
    layout->addWidget(buttons);

    setWindowTitle(texts::title(*request, proxy));
    // The prompt follows the window's shape as it turns.
    if (parent != nullptr) parent->installEventFilter(this);
    showTitle();
    // Closing the window any other way is a Cancel.
    connect(this, &QDialog::rejected, this, [this] {
        if (!answered_) cancelAuthenticationFromDialog();
    });
    connect(this, &QObject::destroyed, [] { QTimer::singleShot(0, [] { presentNextDialog(); }); });
}

void AuthenticationDialog::showTitle() {
    // The prompt shows only while the window it belongs to stands upright (portrait).
    const QWidget* frame = parentWidget() != nullptr ? parentWidget() : this;
    promptLabel_->setVisible(frame->height() >= frame->width());
}

void AuthenticationDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    showTitle();
}

bool AuthenticationDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) showTitle();
    return QDialog::eventFilter(watched, event);
}

QList<HTTPRequestPtr> AuthenticationDialog::requestsRequiringTheseCredentials() const {
    QList<HTTPRequestPtr> answered;
    const bool proxy = type_ == 1;
    const QUrl mine = request_->url();
    for (const HTTPRequestPtr& other : state().waiting) {
        const QUrl theirs = other->url();
        if (other->authenticationNeeded() != request_->authenticationNeeded() ||
            theirs.host() != mine.host() || !samePort(mine, theirs) ||
            theirs.scheme() != mine.scheme() ||
            login_texts::realm(*other, proxy) != login_texts::realm(*request_, proxy)) {
            continue;
        }
        answered.append(other);
    }
    answered.append(request_);
    return answered;
}

void AuthenticationDialog::loginWithCredentialsFromDialog() {
    answered_ = true;
    // An empty field is the empty string, not "nothing".
    const auto text = [](const QLineEdit* field) {
        const QString typed = field->text();
        return typed.isNull() ? QStringLiteral("") : typed;
    };
    for (const HTTPRequestPtr& request : requestsRequiringTheseCredentials()) {
        const bool proxy = type_ == 1;
        if (proxy) {
            request->setProxyUsername(text(usernameField_));
            request->setProxyPassword(text(passwordField_));
        } else {
            request->setUsername(text(usernameField_));
            request->setPassword(text(passwordField_));
        }
        if (login_texts::scheme(*request_, proxy) == QLatin1String("NTLM") && domainField_) {
            if (proxy) {
                request->setProxyDomain(text(domainField_));
            } else {
                request->setDomain(text(domainField_));
            }
        }
        request->retryUsingSuppliedCredentials();
        state().waiting.removeOne(request);
    }
    dismiss();
}

void AuthenticationDialog::cancelAuthenticationFromDialog() {
    answered_ = true;
    for (const HTTPRequestPtr& request : requestsRequiringTheseCredentials()) {
        request->cancelAuthentication();
        state().waiting.removeOne(request);
    }
    dismiss();
}

void AuthenticationDialog::dismiss() {
    if (state().current == this) state().current = nullptr;
    close();
}

void AuthenticationDialog::presentNextDialog() {
    if (state().current || state().waiting.isEmpty()) return;
    presentAuthenticationDialogForRequest(state().waiting.takeFirst());
}

}  // namespace http
