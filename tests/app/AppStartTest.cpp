#include "AppTestSupport.h"
#include "app/ProductLinks.h"
#include "app/lumaroAppDelegate.h"

using namespace testing_gui;
using app::lumaroViewController;

class StartTest : public ControllerFixture {};

TEST_F(StartTest, EveryStartResetsTheAdjustmentsButKeepsSizeAndOrnaments) {
    // Left-overs of a last run are put back to their defaults at every start.
    defaults().setInteger(3, "Rad");
    defaults().setInteger(1, "activate");
    defaults().setInteger(40, "R");
    AppLog log;
    auto& c = start();
    for (const char* line : {"oconr=1", "Ornaments set", "viewload"})
        EXPECT_TRUE(log.contains(line));
    EXPECT_TRUE(defaults().boolForKey("PreOrnaments") && defaults().boolForKey("Ornaments"));
    EXPECT_EQ(stored({"oco", "Size", "Rad", "R", "activate"}), (QList<int>{1, 650, 20, 255, 0}));
    // At start nothing of the tint applies yet.
    const auto& s = c.state();
    EXPECT_EQ((QList<int>{s.outputSize, s.ornamentsOn, s.tintR, s.toneOn}),
              (QList<int>{650, 1, 0, 0}));
    EXPECT_TRUE(c.tape1->isVisible() && visibleAlerts().isEmpty());

    for (auto [stored, expected] : {std::pair{449, 650}, {450, 450}, {1300, 1300}}) {
        defaults().setInteger(stored, "Size");
        EXPECT_EQ(start().state().outputSize, expected) << stored;
        EXPECT_EQ(defaults().integerForKey("Size"), expected);
    }
    defaults().setInteger(0, "Ornaments");
    log.clear();
    EXPECT_EQ(start().state().ornamentsOn, 0);
    EXPECT_FALSE(log.contains("Ornaments set"));
    EXPECT_FALSE(controller->tape1->isVisible() || controller->tape4->isVisible());
}

TEST_F(StartTest, OpenShowsThePickerAndOnlyClosesAnotherPanel) {
    writeGradient(library + "/one.png", {120, 90});
    auto& c = start();
    QTest::mouseClick(c.Open, Qt::LeftButton);
    ASSERT_TRUE(c.popoverController() && c.popoverController()->isPopoverVisible());
    EXPECT_EQ(c.popoverController()->content(), c.imgPicker());
    EXPECT_EQ(c.imgPicker()->size(), QSize(320, 480));
    QListWidget* list = c.imgPicker()->thumbnails();
    ASSERT_EQ(list->count(), 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    EXPECT_FALSE(c.popoverController()->isPopoverVisible());
    ASSERT_TRUE(waitFor([&] { return c.pickerInfo() != nullptr; }));
    EXPECT_EQ(shownImage().size(), QSize(120, 90));
    c.showSettings();
    QTest::mouseClick(c.Open, Qt::LeftButton);
    EXPECT_FALSE(c.popoverController() && c.popoverController()->isPopoverVisible());
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

// However the prompt or the save confirmation is closed, the next alert gets its own answer.
TEST_F(StartTest, TheSixteenthStartAsksForARatingOnceAndEveryWayOfClosingAnAlertCancels) {
    const std::pair<const char*, std::function<void(platform::Alert*)>> answers[] = {
        {"rate",
         [](platform::Alert* a) { QTest::mouseClick(a->buttonAtIndex(1), Qt::LeftButton); }},
        {"Escape", [](platform::Alert* a) { QTest::keyClick(a, Qt::Key_Escape); }},
        {"window closed", [](platform::Alert* a) { a->close(); }},
        {"cancel button",
         [](platform::Alert* a) { QTest::mouseClick(a->buttonAtIndex(0), Qt::LeftButton); }},
    };
    UrlSink urls;
    for (const auto& [way, answer] : answers) {
        SCOPED_TRACE(way);
        closeAllAlerts();
        defaults().setInteger(14, "oco");
        start();
        EXPECT_TRUE(visibleAlerts().isEmpty());
        auto& c = start();
        EXPECT_EQ(defaults().integerForKey("oco"), 16);
        platform::Alert* prompt = alertTitled("Rate Lumaro HD");
        ASSERT_NE(prompt, nullptr);
        EXPECT_EQ(prompt->message(),
                  "You've been using Lumaro HD a lot, so you must like it. Could you please give "
                  "us your rating and remarks? \n\nThank you in advance! \n\n(This message will "
                  "never be shown again)");
        EXPECT_EQ(prompt->buttonTitleAtIndex(0), "Cancel");
        EXPECT_EQ(prompt->buttonTitleAtIndex(1), "Rate Lumaro");
        EXPECT_TRUE(c.ratePromptOpen());
        urls.opened.clear();
        answer(prompt);
        QApplication::processEvents();
        EXPECT_FALSE(c.ratePromptOpen());
        const bool rated = std::string(way) == "rate";
        EXPECT_EQ(urls.opened,
                  rated ? QList<QUrl>{app::ProductLinks::standard().store} : QList<QUrl>{});
        if (rated) continue;

        pick(writeGradient(library + "/gradient.png", {200, 150}));
        c.SaveImage();
        ASSERT_TRUE(c.saveIndicator()->isAnimating() && alertTitled("Confirm"));
        answer(alertTitled("Confirm"));
        QApplication::processEvents();
        EXPECT_FALSE(c.saveIndicator()->isAnimating() || c.saveIndicator()->isVisible());
        EXPECT_EQ(c.saveTimer(), nullptr);
        c.SaveImage();
        ASSERT_NE(alertTitled("Confirm"), nullptr);
        QTest::mouseClick(alertTitled("Confirm")->buttonAtIndex(1), Qt::LeftButton);
        EXPECT_NE(c.saveTimer(), nullptr);
        EXPECT_TRUE(urls.opened.isEmpty());
        controller.reset();
    }
    closeAllAlerts();
    start();
    EXPECT_EQ(defaults().integerForKey("oco"), 17);
    EXPECT_EQ(alertTitled("Rate Lumaro HD"), nullptr);
}

TEST_F(StartTest, LinksOpenTheirAddressOrShowItWhenTheyCannot) {
    const app::ProductLinks& links = app::ProductLinks::standard();
    auto& c = start();
    const std::pair<QWidget*, QUrl> buttons[] = {{c.PhoneAppB, links.phoneStore},
                                                 {c.FacebookB, links.facebook},
                                                 {c.TwitterB, links.twitter},
                                                 {c.HelpB, links.help}};
    for (const bool opens : {false, true}) {
        for (const auto& [button, url] : buttons) {
            SCOPED_TRACE(button->objectName().toStdString() + (opens ? " opens" : " fails"));
            EXPECT_TRUE(url.isValid() && !url.host().isEmpty());
            QList<QUrl> asked;
            c.setUrlOpener([&](const QUrl& u) {
                asked.append(u);
                return opens;
            });
            QTest::mouseClick(button, Qt::LeftButton);
            QApplication::processEvents();
            EXPECT_EQ(asked, QList<QUrl>{url});
            platform::Alert* alert = alertTitled("Cannot Open Link");
            EXPECT_EQ(alert != nullptr, !opens);
            EXPECT_TRUE(!alert || alert->message().contains(url.toString()));
            closeAllAlerts();
        }
    }
}
