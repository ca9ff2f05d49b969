#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include "AppTestSupport.h"

// Runs on two screens, Plain at scale factor 1 and Dense at 2 (two-screens.json).

using namespace testing_gui;

namespace {

class ScreenChangeTest : public ControllerFixture {};

TEST_F(ScreenChangeTest, TheWindowMovedToAScreenOfAnotherRatioIsRenderedForIt) {
    QScreen* plain = nullptr;
    QScreen* dense = nullptr;
    for (QScreen* screen : QGuiApplication::screens())
        (screen->name() == QLatin1String("Dense") ? dense : plain) = screen;
    ASSERT_TRUE(plain && dense);
    auto& c = start();
    c.view()->windowHandle()->setScreen(plain);
    pick(writeGradient(library + "/wide.png", {2048, 1536}));
    const QRectF place = c.image->displayedRect();
    const struct {
        QScreen* screen;
        QSize pixels;
    } moves[] = {{dense, {1300, 975}}, {plain, {650, 487}}};
    for (const auto& move : moves) {
        SCOPED_TRACE(move.screen->name().toStdString());
        c.view()->windowHandle()->setScreen(move.screen);
        QApplication::processEvents();
        EXPECT_EQ(shownImage().size(), move.pixels);
        EXPECT_DOUBLE_EQ(shownImage().devicePixelRatio(), move.screen->devicePixelRatio());
        EXPECT_EQ(c.state().imageWidth, 650);
        EXPECT_NEAR(c.image->displayedRect().width(), place.width(), 0.5);
    }
}

}  // namespace
