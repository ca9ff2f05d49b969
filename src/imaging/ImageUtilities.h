#pragma once

#include <QImage>
#include <QSizeF>

#include "imaging/AdjustmentState.h"
#include "imaging/Orientation.h"

namespace imaging {

// Image utilities of the main screen controller, drawn the way the platform's
// drawing contexts draw: coordinates with the origin at the bottom left and y
// upwards, an image drawn upright into its rectangle. None of the system's own
// flows needs them; the renderers work through the fit and the upright copy.

// The image drawn into a new transparent image of `size` points at `scale`
// pixels per point.
QImage imageWithImage(const QImage& image, QSizeF size, qreal scale = 1.0);

// The image (a stored grid of w x h) redrawn upright for an orientation 0..7
// in the platform's order. Up gives the image itself. Values above 7 are a
// programming error: an assertion in debug builds, a null image otherwise.
QImage rotate(const QImage& image, int orientation);

// A new image of h x w with the source drawn turned by `angle` degrees about
// the origin and moved back into view (meant for multiples of 90).
QImage CGImageRotatedByAngle(const QImage& image, double angle);

// The orientation normaliser: redraws an image whose size in points is w x h
// (truncated) into a fresh bitmap, w x h for up and down and h x w otherwise,
// turning it as the orientation says, and records w and h as imageWidth and
// imageHeight. Mirrored orientations get no turn.
QImage resizeImage(const QImage& image, Orientation orientation, QSizeF pointSize,
                   AdjustmentState& state);

}  // namespace imaging
