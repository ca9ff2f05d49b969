#pragma once

#include <QSize>
#include <QString>

#include "imaging/Bitmap.h"
#include "imaging/Picture.h"

namespace imaging {

// Target size of the fit to output size: the longer side at most outputSize,
// never enlarged. caseName is the one-letter name logged for the case, or
// empty when the picture already fits.
struct FitTarget {
    double width = 0;
    double height = 0;
    const char* caseName = "";
};
FitTarget fitTarget(double width, double height, double outputSize);

// Whole pixels of a fit target: fractions are cut off (650 x 487.5 gives
// 650 x 487, as the working image's size in whole points), never below 1.
QSize fitPixels(const FitTarget& target);

// The picked picture drawn upright at its fitted size, as the working image
// of a render. Rows carry the padding that rowPadding() names for that size.
// On a screen with devicePixelRatio pixels per point the fit aims at
// outputSize x devicePixelRatio pixels, so the picture is as sharp as the
// screen; it is still never enlarged.
Bitmap fitToOutputSize(const Picture& picture, int outputSize, double devicePixelRatio = 1.0);

// An upright copy of the picture at its own full size: orientation applied,
// nothing scaled, rows of exactly 4 x width bytes. Mirrored orientations are
// mirrored back as well, so the copy looks as the camera saw it.
Bitmap uprightPicture(const Picture& picture);

// The upright copy of a photo file, decoded straight into the copy's own
// memory when the file needs no turning: the export path, where a camera
// picture would otherwise occupy memory twice. Nothing on failure, with
// error set to one line.
Bitmap uprightPictureFromFile(const QString& path, QString* error = nullptr);

// The same at another upright size (the upload's reduced copy): scaled smoothly.
Bitmap uprightPicture(const Picture& picture, QSize uprightSize);

}  // namespace imaging
