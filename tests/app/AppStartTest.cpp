#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>

#include "AppTestSupport.h"
#include "app/ProductLinks.h"
#include "app/lumaroAppDelegate.h"
#include "platform/widgets/ImageView.h"
#include "platform/widgets/PhotoPicker.h"
#include "platform/widgets/SegmentedControl.h"
#include "support/Files.h"

using namespace testing_gui;
using app::lumaroViewController;

namespace {
platform::Defaults& defaults() { return platform::Defaults::standard(); }
}  // namespace

class StartTest : public ControllerFixture {};

TEST_F(StartTest, FirstStartSeedsTheDefaults) {
    // Left-overs of a last run are put back to their defaults at every start.
    defaults().setInteger(3, "Rad");
    defaults().setInteger(1, "activate");
    defaults().setInteger(40, "R");
    AppLog log;
    auto& c = start();
    EXPECT_EQ(defaults().integerForKey("oco"), 1);
    EXPECT_TRUE(log.contains("oconr=1"));
    EXPECT_TRUE(defaults().boolForKey("PreOrnaments"));
    EXPECT_TRUE(defaults().boolForKey("Ornaments"));
    EXPECT_TRUE(log.contains("Ornaments set"));
    EXPECT_EQ(stored({"Size", "Rad", "R", "Type", "Quant", "Exposure", "activate"}),
              (QList<int>{650, 20, 255, 1, 1, 100, 0}));
    EXPECT_EQ(c.state().outputSize, 650);
    EXPECT_EQ(c.state().ornamentsOn, 1);
    EXPECT_TRUE(log.contains("viewload"));
    EXPECT_TRUE(c.tape1->isVisible());
    EXPECT_TRUE(visibleAlerts().isEmpty());
    // At start nothing of the tint applies yet.
    EXPECT_EQ(c.state().tintR, 0);
    EXPECT_EQ(c.state().toneOn, 0);
}

TEST_F(StartTest, OutputSizeAndOrnamentsSurviveRestarts) {
    for (auto [stored, expected] : {std::pair{449, 650}, {450, 450}, {500, 500}, {1300, 1300}}) {
        defaults().setInteger(stored, "Size");
        auto& c = start();
        EXPECT_EQ(c.state().outputSize, expected) << stored;
        EXPECT_EQ(defaults().integerForKey("Size"), expected);
    }
    defaults().setInteger(0, "Ornaments");
    AppLog log;
    auto& c = start();
    EXPECT_FALSE(log.contains("Ornaments set"));
    EXPECT_EQ(c.state().ornamentsOn, 0);
    EXPECT_FALSE(c.tape1->isVisible());
    EXPECT_FALSE(c.tape4->isVisible());
}

TEST_F(StartTest, TheSixteenthStartAsksForARatingOnce) {
    UrlSink urls;
    defaults().setInteger(14, "oco");
    start();
    EXPECT_TRUE(visibleAlerts().isEmpty());
    EXPECT_EQ(defaults().integerForKey("oco"), 15);

    auto& c = start();
    EXPECT_EQ(defaults().integerForKey("oco"), 16);
    platform::Alert* prompt = alertTitled("Rate Lumaro HD");
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->message(),
              "You've been using Lumaro HD a lot, so you must like it. Could you please give us "
              "your rating and remarks? \n\nThank you in advance! \n\n(This message will never "
              "be shown again)");
    EXPECT_EQ(prompt->buttonTitleAtIndex(0), "Cancel");
    EXPECT_EQ(prompt->buttonTitleAtIndex(1), "Rate Lumaro");
    EXPECT_TRUE(c.ratePromptOpen());
    QTest::mouseClick(prompt->buttonAtIndex(1), Qt::LeftButton);
    EXPECT_FALSE(c.ratePromptOpen());
    ASSERT_EQ(urls.opened.size(), 1);
    EXPECT_EQ(urls.opened[0], app::ProductLinks::standard().store);
    EXPECT_TRUE(urls.opened[0].isValid());

    closeAllAlerts();
    start();
    EXPECT_EQ(defaults().integerForKey("oco"), 17);
    EXPECT_EQ(alertTitled("Rate Lumaro HD"), nullptr);
}

TEST_F(StartTest, PickingAPictureEntersTheEditingState) {
    AppLog log;
    auto& c = start();
    EXPECT_FALSE(c.Save->isEnabled());
    pick(writeGradient(library + "/wide.png", {800, 600}));

    ASSERT_TRUE(c.pickerInfo());
    EXPECT_EQ(c.state().origWidth, 800);
    EXPECT_EQ(c.state().origHeight, 600);
    EXPECT_EQ(c.state().imageWidth, 650);
    EXPECT_EQ(c.state().imageHeight, 487);
    EXPECT_EQ(shownImage().size(), QSize(650, 487));
    // The first render already converted the picture to grey.
    const QColor sample = shownImage().pixelColor(300, 200);
    EXPECT_EQ(sample.red(), sample.green());
    EXPECT_EQ(sample.green(), sample.blue());
    EXPECT_TRUE(log.contains("imagepicker"));

    for (QWidget* w : QList<QWidget*>{c.disp, c.sbanner, c.PhoneAppB, c.sliderR, c.tone})
        EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
    for (QWidget* w : QList<QWidget*>{c.color, c.darkArea, c.resetBut, c.controls, c.slider1,
                                      c.slider2, c.dfilter, c.tape1})
        EXPECT_TRUE(w->isVisible()) << w->objectName().toStdString();
    EXPECT_TRUE(c.Save->isEnabled());
    EXPECT_TRUE(c.Share->isEnabled());
    EXPECT_TRUE(c.Share->isVisible());
}

TEST_F(StartTest, APictureThatCannotBeReadLeavesTheScreenAsItWas) {
    auto& c = start();
    const QString broken = library + "/broken.jpg";
    ASSERT_TRUE(testfiles::writeFile(broken, "\xff\xd8 not really a photo"));
    pick(broken);
    platform::Alert* alert = alertTitled("Cannot Open Picture");
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->message().contains("broken.jpg"));
    EXPECT_FALSE(c.pickerInfo());
    EXPECT_TRUE(c.disp->isVisible());
    EXPECT_TRUE(c.sbanner->isVisible());
    EXPECT_FALSE(c.darkArea->isVisible());
    EXPECT_FALSE(c.Save->isEnabled());

    // After a good picture, a bad one keeps the good one on screen.
    closeAllAlerts();
    pick(writeGradient(library + "/good.png", {300, 200}));
    const QImage before = shownImage();
    pick(broken);
    EXPECT_NE(alertTitled("Cannot Open Picture"), nullptr);
    EXPECT_EQ(shownImage(), before);
    EXPECT_TRUE(c.darkArea->isVisible());
}

TEST_F(StartTest, OpenTogglesThePickerPopover) {
    writeGradient(library + "/one.png", {120, 90});
    auto& c = start();
    QTest::mouseClick(c.Open, Qt::LeftButton);
    ASSERT_NE(c.popoverController(), nullptr);
    EXPECT_TRUE(c.popoverController()->isPopoverVisible());
    EXPECT_EQ(c.popoverController()->content(), c.imgPicker());
    EXPECT_EQ(c.imgPicker()->size(), QSize(320, 480));
    QTest::mouseClick(c.Open, Qt::LeftButton);
    EXPECT_FALSE(c.popoverController()->isPopoverVisible());

    QTest::mouseClick(c.Open, Qt::LeftButton);
    QListWidget* list = c.imgPicker()->thumbnails();
    ASSERT_EQ(list->count(), 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    EXPECT_FALSE(c.popoverController()->isPopoverVisible());
    ASSERT_TRUE(waitFor([&] { return c.pickerInfo() != nullptr; }));
    EXPECT_EQ(shownImage().size(), QSize(120, 90));

    // With a panel open, Open only closes the panel.
    c.showSettings();
    ASSERT_TRUE(c.popoverController()->isPopoverVisible());
    QTest::mouseClick(c.Open, Qt::LeftButton);
    EXPECT_FALSE(c.popoverController() && c.popoverController()->isPopoverVisible());
    QTest::mouseClick(c.Open, Qt::LeftButton);
    EXPECT_EQ(c.popoverController()->content(), c.imgPicker());
    EXPECT_TRUE(c.popoverController()->isPopoverVisible());
}

TEST(WindowShape, PortraitOnlyAndScaledDownInItsShape) {
    for (int orientation = 0; orientation <= 4; ++orientation) {
        EXPECT_EQ(lumaroViewController::shouldAutorotateToInterfaceOrientation(orientation),
                  orientation <= 2)
            << orientation;
    }
    using app::lumaroAppDelegate;
    EXPECT_EQ(lumaroAppDelegate::windowSizeFor({600, 1000}), QSize(600, 800));
    // The room a screen leaves, counted in device pixels, and the window that fits it.
    const std::tuple<QSize, qreal, QSize> screens[] = {
        {{800, 1050}, 2.0, {768, 1024}},  // 1600 x 2100 device pixels
        {{800, 1050}, 1.0, {757, 1010}},
        {{1366, 768}, 1.0, {546, 728}},
    };
    for (const auto& [available, ratio, expected] : screens) {
        SCOPED_TRACE(testing::Message() << available.width() << "@" << ratio);
        EXPECT_EQ(
            lumaroAppDelegate::windowSizeFor(lumaroAppDelegate::roomForWindow(available, ratio)),
            expected);
    }
}

TEST_F(StartTest, TheDelegateShowsTheMainScreenInAPortraitWindow) {
    app::lumaroAppDelegate delegate;
    QElapsedTimer clock;
    clock.start();
    delegate.applicationDidFinishLaunching();
    EXPECT_GE(clock.elapsed(), 1000);
    ASSERT_NE(delegate.window(), nullptr);
    EXPECT_TRUE(delegate.window()->isVisible());
    EXPECT_EQ(delegate.viewController()->view()->window(), delegate.window());
    EXPECT_TRUE(delegate.viewController()->view()->isVisible());
    const QSize size = delegate.window()->size();
    EXPECT_EQ(size.width() * 4, size.height() * 3);
    EXPECT_EQ(delegate.window()->minimumSize(), delegate.window()->maximumSize());
}
