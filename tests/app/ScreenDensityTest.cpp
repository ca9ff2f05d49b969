#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QElapsedTimer>

#include "AppTestSupport.h"
#include "app/lumaroAppDelegate.h"

// Runs at scale factor 2 and again at 1: what holds at one pixel per point must hold at two,
// with twice the pixels.

using namespace testing_gui;

namespace {

QRect frameIn(const QWidget* widget, const QWidget* ancestor) {
    return QRect(widget->mapTo(ancestor, QPoint(0, 0)), widget->size());
}

bool insideScrollArea(const QWidget* widget) {
    for (const QWidget* w = widget->parentWidget(); w; w = w->parentWidget())
        if (qobject_cast<const QAbstractScrollArea*>(w)) return true;
    return false;
}

// Every shown widget lies whole inside the window and inside its parent, and
// every caption has the room its text needs.
void expectNothingCutOff(const QWidget* window, const char* state) {
    SCOPED_TRACE(state);
    int checked = 0;
    for (const QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->size().isEmpty() || insideScrollArea(w)) continue;
        SCOPED_TRACE(w->objectName().isEmpty() ? w->metaObject()->className()
                                               : w->objectName().toStdString());
        EXPECT_TRUE(window->rect().contains(frameIn(w, window))) << frameIn(w, window).x();
        EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry()));
        const auto* label = qobject_cast<const QLabel*>(w);
        const auto* button = qobject_cast<const QAbstractButton*>(w);
        const bool caption = (label && !label->text().isEmpty() && !label->wordWrap()) ||
                             (button && !button->text().isEmpty());
        if (caption) {
            EXPECT_GE(w->width(), w->minimumSizeHint().width());
            EXPECT_GE(w->height(), w->minimumSizeHint().height());
        }
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

class ScreenDensityTest : public ControllerFixture {};

TEST_F(ScreenDensityTest, TheWindowShowsEveryControlWholeInEveryState) {
    app::lumaroAppDelegate delegate;
    QElapsedTimer clock;
    clock.start();
    delegate.applicationDidFinishLaunching();
    EXPECT_GE(clock.elapsed(), 1000);
    QWidget* window = delegate.window();
    ASSERT_TRUE(window && QTest::qWaitForWindowExposed(window));
    app::lumaroViewController& c = *delegate.viewController();
    EXPECT_EQ(c.view()->window(), window);
    EXPECT_EQ(window->width() * 4, window->height() * 3);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    expectNothingCutOff(window, "start");
    // The layout's vector pictures are drawn with the screen's pixels, not enlarged.
    for (QLabel* label : {c.tape1, c.tape4, c.extape1, c.sbanner, c.disp, c.darkArea}) {
        const QPixmap pixmap = label->pixmap();
        EXPECT_DOUBLE_EQ(pixmap.devicePixelRatio(), qApp->devicePixelRatio())
            << label->objectName().toStdString();
        EXPECT_EQ(pixmap.size(),
                  (pixmap.deviceIndependentSize() * qApp->devicePixelRatio()).toSize());
        EXPECT_GE(pixmap.deviceIndependentSize().width(), 10);
    }
    c.pickFile(writeGradient(library + "/wide.png", {1600, 1200}));
    ASSERT_TRUE(waitFor([&] { return !c.isOpeningPicture(); }));
    QApplication::processEvents();
    expectNothingCutOff(window, "editing");
    c.color->setSelectedSegmentIndex(3);
    const std::pair<const char*, std::function<void()>> panels[] = {
        {"tint", [&] { c.showColors(); }},           {"vignette", [&] { c.showVignet(); }},
        {"processing", [&] { c.showProcessing(); }}, {"settings", [&] { c.showSettings(); }},
        {"share", [&] { c.showShare(); }},           {"picker", [&] { c.grabImage(); }},
    };
    for (const auto& [name, open] : panels) {
        open();
        QApplication::processEvents();
        ASSERT_TRUE(c.popoverController() && c.popoverController()->isVisible()) << name;
        expectNothingCutOff(window, name);
        c.popoverController()->dismiss();
        c.countDown2();
    }
}

TEST_F(ScreenDensityTest, ThePictureHasAPixelForEveryDevicePixelAndKeepsItsPlace) {
    auto& c = start();
    pick(writeGradient(library + "/wide.png", {2048, 1536}));
    const QImage shown = shownImage();
    const qreal ratio = qApp->devicePixelRatio();
    // Rendered at the screen's pixels: 650 x 487.5 points, in pixels of the screen.
    EXPECT_DOUBLE_EQ(shown.devicePixelRatio(), ratio);
    EXPECT_EQ(shown.size(), QSize(int(650 * ratio), int(487.5 * ratio)));
    ASSERT_EQ(c.image->fitScale(), 1.0);
    const QRectF rect = c.image->displayedRect();
    EXPECT_NEAR(rect.width(), 650, 0.5);
    EXPECT_NEAR(rect.center().x(), c.image->width() / 2.0, 0.5);

    // Drawn pixel for pixel: the view's own device pixels are the picture's.
    const QImage drawn = c.image->grab().toImage();
    ASSERT_DOUBLE_EQ(drawn.devicePixelRatio(), ratio);
    const QPoint origin = (rect.topLeft() * ratio).toPoint();
    int differing = 0;
    for (int y = 0; y < shown.height(); y += 5)
        for (int x = 0; x < shown.width(); x += 5)
            differing += drawn.pixel(origin + QPoint(x, y)) != shown.pixel(x, y);
    EXPECT_EQ(differing, 0);

    // The ornaments sit on the corners, as at any scale.
    const QRectF inView = rect.translated(c.image->mapTo(c.view(), QPoint(0, 0)));
    const QRect tape = frameIn(c.tape1, c.view());
    EXPECT_NEAR(tape.center().x() + 0.5, inView.left(), 1.0);
    EXPECT_NEAR(tape.center().y() + 0.5, inView.top(), 1.0);

    // The untouched picture shown for comparison takes the same room.
    c.view()->activateWindow();
    QApplication::setActiveWindow(c.view());
    ASSERT_TRUE(QTest::qWaitForWindowActive(c.view()));
    QTest::keyPress(c.view(), Qt::Key_Backslash);
    ASSERT_TRUE(c.isComparing());
    EXPECT_EQ(shownImage().size(), shown.size());
    EXPECT_EQ(c.image->displayedRect(), rect);
}

}  // namespace
