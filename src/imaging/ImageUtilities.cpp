#include "imaging/ImageUtilities.h"

#include <QPainter>
#include <QTransform>
#include <cmath>

#include "imaging/RenderLog.h"

namespace imaging {
namespace {

constexpr double kPi = 3.141592653589793;

QImage transparentImage(int width, int height) {
    QImage image(std::max(1, width), std::max(1, height), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Draws the image upright into rect given in a y-up coordinate system, as the
// platform's contexts do: the image's top row lies at the rectangle's top edge.
void drawUpright(QPainter& painter, const QRectF& rect, const QImage& image) {
    painter.save();
    painter.translate(rect.x(), rect.y() + rect.height());
    painter.scale(1, -1);
    painter.drawImage(QRectF(0, 0, rect.width(), rect.height()), image);
    painter.restore();
}

// A painter over a bitmap context: origin at the bottom left, y upwards.
void useBitmapCoordinates(QPainter& painter, int height) {
    painter.translate(0, height);
    painter.scale(1, -1);
}

double degrees(double radians) { return radians * 180.0 / kPi; }

}  // namespace

QImage imageWithImage(const QImage& image, QSizeF size, qreal scale) {
    QImage result = transparentImage(int(std::ceil(size.width() * scale)),
                                     int(std::ceil(size.height() * scale)));
    result.setDevicePixelRatio(scale);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(QPointF(0, 0), size), image);
    return result;
}

QImage rotate(const QImage& image, int orientation) {
    Q_ASSERT_X(orientation >= 0 && orientation <= 7, "rotate", "false");
    if (orientation < 0 || orientation > 7) return {};
    if (orientation == int(Orientation::Up)) return image;
    const double w = image.width();
    const double h = image.height();
    QTransform t;
    bool swapped = true;
    switch (static_cast<Orientation>(orientation)) {
        case Orientation::Down:
            t.translate(w, h).rotate(180);
            swapped = false;
            break;
        case Orientation::Left:
            t.translate(0, w).rotate(-90);
            break;
        case Orientation::Right:
            t.translate(h, 0).rotate(90);
            break;
        case Orientation::UpMirrored:
            t.translate(w, 0).scale(-1, 1);
            swapped = false;
            break;
        case Orientation::DownMirrored:
            t.translate(0, h).scale(1, -1);
            swapped = false;
            break;
        // The two mirrored side orientations take each other's transform: the
        // pairing as first written turned their pictures upside down.
        case Orientation::LeftMirrored:
            t.scale(-1, 1).rotate(90);
            break;
        default:
            t.translate(h, w).scale(-1, 1).rotate(-90);
            break;
    }
    // The image context has its origin at the top left, y downwards; the
    // flip puts the drawing into the bitmap coordinates T is written for.
    QImage result = swapped ? transparentImage(int(h), int(w)) : transparentImage(int(w), int(h));
    QPainter painter(&result);
    if (swapped) {
        painter.scale(-1, 1);
        painter.translate(-h, 0);
    } else {
        painter.scale(1, -1);
        painter.translate(0, -h);
    }
    painter.setWorldTransform(t, true);
    drawUpright(painter, QRectF(0, 0, w, h), image);
    return result;
}

QImage CGImageRotatedByAngle(const QImage& image, double angle) {
    const int w = image.width();
    const int h = image.height();
    QImage result = transparentImage(h, w);
    qCDebug(renderLog) << "image orientation left";
    QPainter painter(&result);
    useBitmapCoordinates(painter, result.height());
    painter.rotate(angle);  // degrees: exact for the quarter turns
    painter.translate(0, h * std::round(angle) / -90);
    drawUpright(painter, QRectF(0, 0, w, h), image);
    return result;
}

QImage resizeImage(const QImage& image, Orientation orientation, QSizeF pointSize,
                   AdjustmentState& state) {
    const int w = image.isNull() ? 0 : int(pointSize.width());
    const int h = image.isNull() ? 0 : int(pointSize.height());
    const bool upOrDown = orientation == Orientation::Up || orientation == Orientation::Down;
    QImage result = upOrDown ? transparentImage(w, h) : transparentImage(h, w);
    QPainter painter(&result);
    useBitmapCoordinates(painter, result.height());
    switch (orientation) {
        case Orientation::Left:
            qCDebug(renderLog) << "image orientation left";
            painter.rotate(degrees(double(1.5707964f)));
            painter.translate(0, -h);
            break;
        case Orientation::Right:
            qCDebug(renderLog) << "image orientation right";
            painter.rotate(degrees(-double(1.5707964f)));
            painter.translate(-w, 0);
            break;
        case Orientation::Up:
            qCDebug(renderLog) << "image orientation up";
            break;
        case Orientation::Down:
            qCDebug(renderLog) << "image orientation down";
            painter.translate(w, h);
            painter.rotate(degrees(double(-3.1415927f)));
            break;
        default:
            break;
    }
    state.imageWidth = w;
    state.imageHeight = h;
    drawUpright(painter, QRectF(0, 0, w, h), image);
    return result;
}

}  // namespace imaging
