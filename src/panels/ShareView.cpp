#include "panels/ShareView.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "imaging/PanelSettings.h"
#include "platform/Defaults.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/SegmentedControl.h"
#include "platform/widgets/Switch.h"
#include "sharing/ShareKeys.h"
#include "ui/LayoutLoader.h"

namespace panels {

namespace {

// One check for the whole process, whichever panel started it.
QPointer<QTimer> checkTimer;

}  // namespace

ShareView::ShareView(QWidget* parent) : QWidget(parent) {
    QWidget* root = ui::loadLayout(QStringLiteral("share"), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(root);
    note = ui::field<QLabel>(root, "note");
    commentLabel = ui::field<QLabel>(root, "commentLabel");
    comment = ui::field<QPlainTextEdit>(root, "comment");
    adjustmentsLabel = ui::field<QLabel>(root, "adjustmentsLabel");
    adjustments = ui::field<platform::Switch>(root, "adjustments");
    ShareButton = ui::field<platform::SegmentedControl>(root, "ShareButton");
    uploading = ui::field<platform::ActivityIndicator>(root, "uploading");
    output = ui::field<QLineEdit>(root, "output");
    copyLinkButton = ui::field<platform::SegmentedControl>(root, "copyLinkButton");
    openLinkButton = ui::field<platform::SegmentedControl>(root, "openLinkButton");

    connect(ShareButton, &platform::SegmentedControl::valueChanged, this, &ShareView::SharePicture);
    connect(copyLinkButton, &platform::SegmentedControl::valueChanged, this, &ShareView::CopyLink);
    connect(openLinkButton, &platform::SegmentedControl::valueChanged, this, &ShareView::OpenLink);
}

// A closed panel cannot show the answer any more: its check ends with it,
// and the next panel starts afresh in the input state.
ShareView::~ShareView() {
    if (checkTimer && checkTimer->parent() == this) stopShareCheck();
}

QTimer* ShareView::shareCheckTimer() { return checkTimer; }

void ShareView::setInputVisible(bool visible) {
    for (QWidget* w : {static_cast<QWidget*>(comment), static_cast<QWidget*>(commentLabel),
                       static_cast<QWidget*>(adjustments), static_cast<QWidget*>(adjustmentsLabel),
                       static_cast<QWidget*>(ShareButton)}) {
        w->setVisible(visible);
    }
}

void ShareView::stopShareCheck() {
    if (!checkTimer) return;
    QTimer* timer = checkTimer;
    checkTimer = nullptr;
    timer->stop();
    // It may be the timer whose tick is running now.
    timer->deleteLater();
}

void ShareView::SharePicture() {
    const QString description = comment->toPlainText();
    const bool withAdjustments = adjustments->isOn();
    auto& defaults = platform::Defaults::standard();
    defaults.setString(description, sharing::keys::ShDescription);
    defaults.setBool(withAdjustments, sharing::keys::ShAdjustments);
    defaults.setInteger(1, sharing::keys::Share);
    defaults.setInteger(1, imaging::keys::activate);
    defaults.setBool(false, sharing::keys::ShOutputReady);
    defaults.setString(QString(), sharing::keys::ShOutput);
    defaults.setString(QString(), sharing::keys::ShError);
    defaults.synchronize();

    uploading->show();
    uploading->startAnimating();
    note->setText(QStringLiteral(
        "Your picture is currently uploading. Please wait until the shortlink appears before "
        "exiting this pop-up."));
    setInputVisible(false);
    comment->setPlainText(QString());

    stopShareCheck();
    checkTimer = new QTimer(this);
    checkTimer->setInterval(1000);
    connect(checkTimer, &QTimer::timeout, this, &ShareView::countDown3);
    checkTimer->start();
}

void ShareView::countDown3() {
    auto& defaults = platform::Defaults::standard();
    if (!defaults.boolForKey(sharing::keys::ShOutputReady)) return;
    uploading->stopAnimating();
    uploading->hide();
    const QString error = defaults.stringForKey(sharing::keys::ShError);
    if (error.isEmpty()) {
        output->setText(defaults.stringForKey(sharing::keys::ShOutput));
        note->setText(QStringLiteral(
            "Your picture has been uploaded. You can copy the shortlink to the picture to the "
            "clipboard and share it with your friends on Twitter, Facebook, etc."));
        output->show();
        copyLinkButton->show();
        openLinkButton->show();
    } else {
        // A failure is said as such, and the description comes back for another try.
        note->setText(QStringLiteral("Your picture could not be uploaded: %1").arg(error));
        comment->setPlainText(defaults.stringForKey(sharing::keys::ShDescription));
        setInputVisible(true);
    }
    stopShareCheck();
}

void ShareView::CopyLink() { QGuiApplication::clipboard()->setText(output->text()); }

void ShareView::OpenLink() {
    const QUrl url(output->text(), QUrl::StrictMode);
    // Only web addresses: the text came from the network.
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        return;
    }
    QDesktopServices::openUrl(url);
}

}  // namespace panels
