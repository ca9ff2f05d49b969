#pragma once

#include <QWidget>

namespace ui {

// Redraws the layout's vector pictures (labels showing ":/ui/images/<name>.svg")
// at the screen's device pixel ratio, so ornaments and decoration stay crisp on
// a dense screen instead of being enlarged from their one-to-one raster.
void sharpenPixmaps(QWidget* root, qreal devicePixelRatio);

}  // namespace ui
