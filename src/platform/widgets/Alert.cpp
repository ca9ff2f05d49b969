#include "platform/widgets/Alert.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace platform {

Alert::Alert(const QString& title, const QString& message, const QString& cancelButtonTitle,
             const QStringList& otherButtonTitles, QWidget* parent)
    : QDialog(parent), title_(new QLabel(title, this)), message_(new QLabel(message, this)) {
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(280);
    setMaximumWidth(360);

    QFont bold = title_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    title_->setFont(bold);
    title_->setAlignment(Qt::AlignCenter);
    title_->setWordWrap(true);
    message_->setAlignment(Qt::AlignCenter);
    message_->setWordWrap(true);

    // The address of a link that could not be opened must be copyable.
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* row = new QHBoxLayout;
    QStringList titles = otherButtonTitles;
    hasCancelButton_ = !cancelButtonTitle.isEmpty();
    if (hasCancelButton_) titles.prepend(cancelButtonTitle);
    for (int i = 0; i < titles.size(); ++i) {
        auto* button = new QPushButton(titles[i], this);
        button->setAutoDefault(false);
        // Return presses the last button: the action the alert offers, or
        // its only button.
        button->setDefault(i == titles.size() - 1);
        buttons_.append(button);
        row->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, i] {
            accept();
            emit clickedButtonAtIndex(i);
        });
    }

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title_);
    layout->addWidget(message_);
    layout->addSpacing(8);
    layout->addLayout(row);
}

QString Alert::title() const { return title_->text(); }

QString Alert::message() const { return message_->text(); }

QString Alert::buttonTitleAtIndex(int index) const {
    return buttonAtIndex(index) ? buttonAtIndex(index)->text() : QString();
}

QPushButton* Alert::buttonAtIndex(int index) const {
    return index >= 0 && index < buttons_.size() ? buttons_[index] : nullptr;
}

void Alert::showAlert() { open(); }

void Alert::reject() {
    // Escape or the window's close button: the user dismissed the alert, which
    // is what its cancel button means.
    QDialog::reject();
    if (hasCancelButton_) emit clickedButtonAtIndex(0);
}

}  // namespace platform
