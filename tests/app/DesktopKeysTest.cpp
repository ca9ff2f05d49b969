#include <gtest/gtest.h>

#include <QKeySequence>
#include <QLabel>
#include <QToolButton>

#include "AppTestSupport.h"
#include "app/ProductLinks.h"

using namespace testing_gui;

namespace {

// How far a shown picture is from grey: the channel spread at a point where
// the test gradient is far from grey.
int colourfulness(const QImage& image) {
    const QRgb centre = image.pixel(image.width() * 3 / 4, image.height() / 4);
    return std::max({qRed(centre), qGreen(centre), qBlue(centre)}) -
           std::min({qRed(centre), qGreen(centre), qBlue(centre)});
}

}  // namespace

class DesktopKeysTest : public ControllerFixture {
protected:
    app::lumaroViewController& startActive() {
        auto& c = start();
        c.view()->activateWindow();
        QApplication::setActiveWindow(c.view());
        EXPECT_TRUE(QTest::qWaitForWindowActive(c.view()));
        return c;
    }

    void press(const QKeySequence& keys) {
        const QKeyCombination combination = keys[0];
        QTest::keyClick(controller->view(), combination.key(), combination.keyboardModifiers());
        QApplication::processEvents();
    }
};

TEST_F(DesktopKeysTest, StandardKeysRunTheirActions) {
    UrlSink urls;
    auto& c = startActive();
    // Before a picture: Save does nothing, Return applies nothing.
    press(QKeySequence::Save);
    EXPECT_EQ(alertTitled("Confirm"), nullptr);

    pick(writeGradient(library + "/keys.png", {200, 150}));
    c.view()->activateWindow();
    QApplication::setActiveWindow(c.view());

    struct Case {
        const char* name;
        QKeySequence keys;
        std::function<bool()> happened;
        std::function<void()> undo;
    };
    const Case cases[] = {
        {"open", QKeySequence::Open,
         [&] { return c.popoverController() && c.popoverController()->isPopoverVisible(); },
         [&] { c.popoverController()->dismiss(); }},
        {"save", QKeySequence::Save, [&] { return alertTitled("Confirm") != nullptr; },
         [&] { closeAllAlerts(); }},
        {"help", QKeySequence::HelpContents,
         [&] { return urls.opened.contains(app::ProductLinks::standard().help); }, [] {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_FALSE(k.happened());
        press(k.keys);
        EXPECT_TRUE(k.happened());
        k.undo();
        c.view()->activateWindow();
        QApplication::setActiveWindow(c.view());
    }
}

TEST_F(DesktopKeysTest, ReturnAppliesTheSlidersAndQuitClosesTheWindow) {
    auto& c = startActive();
    pick(writeGradient(library + "/apply.png", {200, 150}));
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        SCOPED_TRACE(key);
        const QImage before = shownImage();
        dragSlider(c.slider1, key == Qt::Key_Return ? 8.0 : -4.0);
        EXPECT_EQ(shownImage(), before);  // a slider move alone renders nothing
        QTest::keyClick(c.view(), key);
        EXPECT_NE(shownImage(), before);
    }
    press(QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_FALSE(c.view()->isVisible());
}

TEST_F(DesktopKeysTest, HoldingBackslashOrThePictureShowsTheColourOriginal) {
    auto& c = startActive();
    pick(writeGradient(library + "/compare.png", {200, 150}));
    const QImage rendered = shownImage();
    ASSERT_LT(colourfulness(rendered), 2);

    struct Case {
        const char* name;
        std::function<void()> hold;
        std::function<void()> letGo;
    };
    const Case cases[] = {
        {"backslash",
         [&] {
             QTest::keyPress(c.view(), Qt::Key_Backslash);
             QTest::keyPress(c.view(), Qt::Key_Backslash, Qt::NoModifier, -1);
         },
         [&] { QTest::keyRelease(c.view(), Qt::Key_Backslash); }},
        {"press on the picture",
         [&] {
             QTest::mousePress(c.image, Qt::LeftButton, {}, c.image->rect().center());
             QTest::qWait(600);
         },
         [&] { QTest::mouseRelease(c.image, Qt::LeftButton, {}, c.image->rect().center()); }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        k.hold();
        QApplication::processEvents();
        EXPECT_TRUE(c.isComparing());
        EXPECT_EQ(shownImage().size(), rendered.size());
        EXPECT_GT(colourfulness(shownImage()), 20);
        k.letGo();
        QApplication::processEvents();
        EXPECT_FALSE(c.isComparing());
        EXPECT_EQ(shownImage(), rendered);
    }

    // A short click on the picture is no comparison.
    QTest::mouseClick(c.image, Qt::LeftButton, {}, c.image->rect().center());
    QTest::qWait(500);
    EXPECT_FALSE(c.isComparing());
}
