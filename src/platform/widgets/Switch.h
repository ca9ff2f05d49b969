#pragma once

#include <QAbstractButton>

namespace platform {

// An on/off switch. A tap by the user toggles it and emits clicked();
// setOn() in code emits nothing but toggled().
class Switch : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(bool on READ isOn WRITE setOn)

public:
    explicit Switch(QWidget* parent = nullptr);

    bool isOn() const { return isChecked(); }
    void setOn(bool on) { setChecked(on); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace platform
