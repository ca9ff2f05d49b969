#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>

class QLabel;
class QPushButton;

namespace platform {

// A message with a title and a row of buttons, shown without blocking the
// caller. The cancel button, when there is one, has index 0 and the other
// buttons follow in order. Pressing a button closes the alert and then emits
// clickedButtonAtIndex(). Closing the alert without a button (Escape, the
// window's close button) counts as its cancel button; Return presses the last
// button.
class Alert : public QDialog {
    Q_OBJECT

public:
    Alert(const QString& title, const QString& message, const QString& cancelButtonTitle,
          const QStringList& otherButtonTitles, QWidget* parent);

    QString title() const;
    QString message() const;
    int numberOfButtons() const { return static_cast<int>(buttons_.size()); }
    QString buttonTitleAtIndex(int index) const;
    QPushButton* buttonAtIndex(int index) const;

    // Shows the alert over its parent's window and returns at once.
    void showAlert();

    void reject() override;

signals:
    void clickedButtonAtIndex(int index);

private:
    QLabel* title_;
    QLabel* message_;
    QList<QPushButton*> buttons_;
    bool hasCancelButton_ = false;
};

}  // namespace platform
