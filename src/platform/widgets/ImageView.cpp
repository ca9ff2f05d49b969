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

// The working picture is measured in points, one pixel per point; on a dense
// screen the painter maps those points onto device pixels, so the picture stays
// sharp when it is scaled to fit.
QSizeF ImageView::sizeInPoints() const { return QSizeF(image_.size()); }

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
