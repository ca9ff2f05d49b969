#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <memory>

#include "ui/LayoutLoader.h"

// Run with QT_SCALE_FACTOR=2: the layout's vector pictures are drawn with
// twice the pixels of their size in points, not enlarged from one-to-one.
TEST(HighDensityTest, LayoutPicturesHaveAPixelPerDevicePixel) {
    ASSERT_DOUBLE_EQ(qApp->devicePixelRatio(), 2.0);
    std::unique_ptr<QWidget> view(ui::loadLayout(QStringLiteral("main")));
    int checked = 0;
    for (const char* name : {"tape1", "tape4", "extape1", "sbanner", "disp", "darkArea"}) {
        SCOPED_TRACE(name);
        auto* label = view->findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr);
        const QPixmap pixmap = label->pixmap();
        ASSERT_FALSE(pixmap.isNull());
        EXPECT_DOUBLE_EQ(pixmap.devicePixelRatio(), 2.0);
        EXPECT_EQ(pixmap.size(), (pixmap.deviceIndependentSize() * 2).toSize());
        EXPECT_GE(pixmap.deviceIndependentSize().width(), 10);
        ++checked;
    }
    EXPECT_EQ(checked, 6);
}
