#include "platform/widgets/ImageView.h"

#include <QPainter>
#include <algorithm>

namespace platform {

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void ImageView::setImage(const QImage& image) {
    image_ = image;
    update();
}

// A picture rendered for a dense screen carries its pixels per point as its
// device pixel ratio, so it takes the same room as at one pixel per point and
// the painter puts each of its pixels on a device pixel.
QSizeF ImageView::sizeInPoints() const { return image_.deviceIndependentSize(); }

qreal ImageView::fitScale() const {
    const QSizeF size = sizeInPoints();
    if (size.isEmpty()) return 1.0;
    return std::min({1.0, width() / size.width(), height() / size.height()});
}

QRectF ImageView::displayedRect() const {
    const QSizeF size = sizeInPoints() * fitScale();
    return QRectF((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(),
                  size.height());
}

void ImageView::paintEvent(QPaintEvent*) {
    if (image_.isNull()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(displayedRect(), image_);
}

}  // namespace platform
