#include "platform/widgets/Switch.h"

#include <QPainter>

namespace platform {

Switch::Switch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

QSize Switch::sizeHint() const { return {51, 31}; }

void Switch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    painter.setPen(QPen(QColor(0x8a, 0x8f, 0x98), 1));
    painter.setBrush(isOn() ? QColor(0x4c, 0xa8, 0x6a) : QColor(0x3a, 0x3d, 0x42));
    if (!isEnabled()) painter.setOpacity(0.5);
    painter.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() - 4;
    const qreal x = isOn() ? track.right() - knob - 2 : track.left() + 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xf4, 0xf4, 0xf4));
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

}  // namespace platform
