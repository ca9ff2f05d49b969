#pragma once

#include <QImage>

#include "imaging/Bitmap.h"

namespace imaging {

// Conversions between bitmaps and Qt images, each one pass over the pixels.

// A bitmap of the image's pixels (any format; converted to premultiplied ARGB first when needed).
Bitmap bitmapFromImage(const QImage& image);

// A Format_ARGB32_Premultiplied copy of the bitmap, for display or encoding.
QImage imageFromBitmap(const Bitmap& bitmap);

// The same without a copy: reorders the bytes in place and hands the buffer
// over to the image. The bitmap is left null.
QImage imageFromBitmap(Bitmap&& bitmap);

}  // namespace imaging
