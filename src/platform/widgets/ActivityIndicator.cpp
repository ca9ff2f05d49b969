#include "platform/widgets/ActivityIndicator.h"

#include <QPainter>

namespace platform {

namespace {
constexpr int spokes = 12;
}

ActivityIndicator::ActivityIndicator(Style style, QWidget* parent)
    : QWidget(parent), style_(style) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
        phase_ = (phase_ + 1) % spokes;
        update();
    });
    resize(sizeHint());
    hide();
}

namespace {

// White spokes sit on a dark rounded backdrop, so they show on light pictures too.
int backdropPadding(ActivityIndicator::Style style) {
    switch (style) {
        case ActivityIndicator::Style::whiteLarge:
            return 12;
        case ActivityIndicator::Style::white:
            return 6;
        case ActivityIndicator::Style::gray:
            return 0;
    }
    return 0;
}

}  // namespace

QSize ActivityIndicator::sizeHint() const {
    const int wheel = style_ == Style::whiteLarge ? 37 : 20;
    const int side = wheel + 2 * backdropPadding(style_);
    return {side, side};
}

void ActivityIndicator::startAnimating() {
    timer_.start();
    show();
    raise();
}

void ActivityIndicator::stopAnimating() {
    timer_.stop();
    hide();
}

void ActivityIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int padding = backdropPadding(style_);
    if (padding > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 150));
        painter.drawRoundedRect(QRectF(rect()), padding, padding);
    }
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal outer = std::min(width(), height()) / 2.0 - padding;
    const QColor colour = style_ == Style::gray ? QColor(0x80, 0x80, 0x80) : Qt::white;
    QPen pen(colour, outer / 4.5, Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < spokes; ++i) {
        const int age = (phase_ - i + spokes) % spokes;
        QColor faded = colour;
        faded.setAlphaF(1.0 - age / static_cast<double>(spokes) * 0.85);
        pen.setColor(faded);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, -outer * 0.5), QPointF(0, -outer * 0.9));
        painter.rotate(360.0 / spokes);
    }
}

}  // namespace platform
