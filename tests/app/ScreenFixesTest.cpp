#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <functional>

#include "AppTestSupport.h"
#include "app/ProductLinks.h"
#include "app/lumaroAppDelegate.h"
#include "panels/ColourView.h"
#include "panels/VignetView.h"
#include "platform/Defaults.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/Popover.h"
#include "platform/widgets/SegmentedControl.h"
#include "platform/widgets/Switch.h"
#include "ui/Format.h"

namespace {

using namespace testing_gui;
using Controller = app::lumaroViewController;

class ScreenFixesTest : public ControllerFixture {
protected:
    Controller& startEditing() {
        auto& c = start();
        pick(writeGradient(library + "/gradient.png", {320, 240}));
        return c;
    }
};

// Ways of closing an alert without pressing any of its buttons.
struct Dismissal {
    const char* name;
    std::function<void(platform::Alert*)> dismiss;
};

const Dismissal dismissals[] = {
    {"Escape", [](platform::Alert* a) { QTest::keyClick(a, Qt::Key_Escape); }},
    {"window closed", [](platform::Alert* a) { a->close(); }},
};

TEST_F(ScreenFixesTest, ASaveConfirmationClosedWithoutAButtonStopsTheIndicator) {
    for (const Dismissal& way : dismissals) {
        SCOPED_TRACE(way.name);
        auto& c = startEditing();
        c.SaveImage();
        platform::Alert* confirm = alertTitled("Confirm");
        ASSERT_NE(confirm, nullptr);
        ASSERT_TRUE(c.saveIndicator()->isAnimating());
        way.dismiss(confirm);
        QApplication::processEvents();
        EXPECT_EQ(alertTitled("Confirm"), nullptr);
        EXPECT_FALSE(c.saveIndicator()->isAnimating());
        EXPECT_FALSE(c.saveIndicator()->isVisible());
        EXPECT_EQ(c.saveTimer(), nullptr);
        controller.reset();
    }
}

TEST_F(ScreenFixesTest, ARatingPromptClosedWithoutAButtonIsCancelled) {
    for (const Dismissal& way : dismissals) {
        SCOPED_TRACE(way.name);
        clearDefaults();
        platform::Defaults::standard().setInteger(15, "oco");
        auto& c = start();
        QList<QUrl> opened;
        c.setUrlOpener([&](const QUrl& url) {
            opened.append(url);
            return true;
        });
        platform::Alert* prompt = nullptr;
        ASSERT_TRUE(waitFor([&] { return (prompt = alertTitled("Rate Lumaro HD")) != nullptr; }));
        way.dismiss(prompt);
        QApplication::processEvents();
        EXPECT_FALSE(c.ratePromptOpen());
        EXPECT_TRUE(opened.isEmpty());

        // The next alert is answered as the save confirmation it is.
        pick(writeGradient(library + "/gradient.png", {200, 150}));
        c.SaveImage();
        platform::Alert* confirm = alertTitled("Confirm");
        ASSERT_NE(confirm, nullptr);
        QTest::mouseClick(confirm->buttonAtIndex(1), Qt::LeftButton);
        EXPECT_NE(c.saveTimer(), nullptr);
        EXPECT_TRUE(opened.isEmpty());
        controller.reset();
        closeAllAlerts();
    }
}

TEST_F(ScreenFixesTest, ResetSetsEveryReadoutFromItsSlider) {
    const std::pair<const char*, void (Controller::*)()> presets[] = {
        {"High", &Controller::Max},
        {"Low", &Controller::Min},
        {"Soft", &Controller::Default},
        {"dragged", nullptr},
    };
    auto& c = startEditing();
    for (const auto& [name, preset] : presets) {
        SCOPED_TRACE(name);
        if (preset) {
            (c.*preset)();
        } else {
            dragSlider(c.slider1, 8.26);
            dragSlider(c.slider2, -4.99);
            dragSlider(c.sliderG2, 3.5);
        }
        ASSERT_NE(c.slid1->text(), "0");
        c.resetImage();
        const std::pair<QLabel*, platform::FloatSlider*> readouts[] = {
            {c.slid1, c.slider1},        {c.slid2, c.slider2},       {c.sliderRval, c.sliderR},
            {c.sliderGval, c.sliderG},   {c.sliderBval, c.sliderB},  {c.sliderRval2, c.sliderR2},
            {c.sliderGval2, c.sliderG2}, {c.sliderBval2, c.sliderB2}};
        for (const auto& [label, slider] : readouts) {
            EXPECT_EQ(slider->floatValue(), 0.0f) << slider->objectName().toStdString();
            EXPECT_EQ(label->text(), "0") << label->objectName().toStdString();
        }
    }
}

// Stacking order among the children of the main screen's view: later is higher.
int stackIndex(const QWidget* view, const QWidget* widget) {
    return static_cast<int>(view->children().indexOf(const_cast<QWidget*>(widget)));
}

TEST_F(ScreenFixesTest, AnOpenPopoverStaysAboveTheOrnaments) {
    struct Change {
        const char* name;
        bool ornamentsAtStart;
        std::function<void(Controller&)> apply;
    };
    const Change changes[] = {
        {"ornaments switched on", false,
         [](Controller& c) {
             platform::Defaults::standard().setInteger(1, "Ornaments");
             platform::Defaults::standard().setInteger(1, "activate");
             c.countDown2();
         }},
        {"size 1300 and a render", true,
         [](Controller& c) {
             platform::Defaults::standard().setInteger(1300, "Size");
             platform::Defaults::standard().setInteger(1, "activate");
             c.countDown2();
             c.MonoCore();
         }},
        {"a save indicator", true, [](Controller& c) { c.SaveImage(); }},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        clearDefaults();
        platform::Defaults::standard().setBool(true, "PreOrnaments");
        platform::Defaults::standard().setInteger(change.ornamentsAtStart ? 1 : 0, "Ornaments");
        auto& c = startEditing();
        c.showSettings();
        platform::Popover* popover = c.popoverController();
        ASSERT_TRUE(popover && popover->isVisible());
        change.apply(c);
        QApplication::processEvents();
        ASSERT_TRUE(popover->isVisible());
        ASSERT_TRUE(c.tape1->isVisible());
        const QWidget* view = c.view();
        for (QWidget* w : view->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w == popover || w->isWindow() || !w->isVisible()) continue;
            EXPECT_LT(stackIndex(view, w), stackIndex(view, popover))
                << w->objectName().toStdString();
        }
        controller.reset();
        closeAllAlerts();
    }
}

TEST_F(ScreenFixesTest, ALinkThatCannotBeOpenedShowsItsAddress) {
    const app::ProductLinks& links = app::ProductLinks::standard();
    const std::tuple<const char*, void (Controller::*)(), QUrl> actions[] = {
        {"phone product", &Controller::LumaroPhone, links.phoneStore},
        {"Facebook", &Controller::Facebook, links.facebook},
        {"Twitter", &Controller::Twitter, links.twitter},
        {"Help", &Controller::Help, links.help},
    };
    auto& c = start();
    for (const bool opens : {false, true}) {
        for (const auto& [name, action, url] : actions) {
            SCOPED_TRACE(std::string(name) + (opens ? " opens" : " fails"));
            ASSERT_FALSE(url.isEmpty());
            QList<QUrl> asked;
            c.setUrlOpener([&](const QUrl& u) {
                asked.append(u);
                return opens;
            });
            (c.*action)();
            QApplication::processEvents();
            EXPECT_EQ(asked, QList<QUrl>{url});
            platform::Alert* alert = alertTitled("Cannot Open Link");
            if (opens) {
                EXPECT_EQ(alert, nullptr);
            } else {
                ASSERT_NE(alert, nullptr);
                EXPECT_TRUE(alert->message().contains(url.toString()));
                EXPECT_EQ(alert->numberOfButtons(), 1);
            }
            closeAllAlerts();
        }
    }
}

TEST_F(ScreenFixesTest, ReadoutsKeepTheirWidthAndTheTracksTheirLength) {
    auto& c = startEditing();
    c.view()->resize(600, 800);
    QApplication::processEvents();
    struct Page {
        const char* name;
        std::function<void()> show;
        QList<std::pair<QLabel*, platform::FloatSlider*>> readouts;
    };
    const Page pages[] = {
        {"all colours", [] {}, {{c.slid1, c.slider1}, {c.slid2, c.slider2}}},
        {"per colour, light",
         [&] {
             c.controls->setSelectedSegmentIndex(1);
             c.SwitchControls();
         },
         {{c.sliderRval, c.sliderR}, {c.sliderGval, c.sliderG}, {c.sliderBval, c.sliderB}}},
        {"per colour, dark",
         [&] {
             c.tone->setSelectedSegmentIndex(1);
             c.SwitchTone();
         },
         {{c.sliderRval2, c.sliderR2}, {c.sliderGval2, c.sliderG2}, {c.sliderBval2, c.sliderB2}}},
    };
    const double values[] = {0, 8.26, -4.99, -9.99, 10, 0.01, -5, 7.125};
    for (const Page& page : pages) {
        SCOPED_TRACE(page.name);
        page.show();
        QApplication::processEvents();
        for (const auto& [label, slider] : page.readouts) {
            SCOPED_TRACE(label->objectName().toStdString());
            ASSERT_TRUE(label->isVisible());
            const int labelWidth = label->width();
            const QRect track = slider->geometry();
            for (double value : values) {
                if (value < slider->minimumValue() || value > slider->maximumValue()) continue;
                SCOPED_TRACE(value);
                dragSlider(slider, value);
                QApplication::processEvents();
                EXPECT_EQ(label->text(), ui::sliderReadout(slider->floatValue()));
                EXPECT_EQ(label->width(), labelWidth);
                EXPECT_EQ(slider->geometry(), track);
                EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()),
                          label->contentsRect().width());
            }
        }
    }
    // The presets' own texts fit as well.
    for (void (Controller::*preset)() : {&Controller::Max, &Controller::Min}) {
        (c.*preset)();
        EXPECT_LE(c.slid1->fontMetrics().horizontalAdvance(c.slid1->text()),
                  c.slid1->contentsRect().width());
    }
}

TEST_F(ScreenFixesTest, TappingCustomAgainReopensTheTintPanel) {
    auto& c = startEditing();
    auto tap = [&](int segment) {
        QTest::mouseClick(c.color->segmentButton(segment), Qt::LeftButton);
        QApplication::processEvents();
    };
    auto tintPanelOpen = [&] {
        return c.popoverController() && c.popoverController()->isVisible() &&
               qobject_cast<panels::ColourView*>(c.popoverController()->content());
    };
    tap(3);
    ASSERT_TRUE(tintPanelOpen());
    c.popoverController()->dismiss();
    c.countDown2();
    ASSERT_FALSE(tintPanelOpen());
    ASSERT_EQ(c.color->selectedSegmentIndex(), 3);

    tap(3);
    EXPECT_TRUE(tintPanelOpen());
    EXPECT_EQ(c.state().openPanel, 1);
    EXPECT_EQ(c.state().toneType, 3);
    EXPECT_NE(c.panelPollTimer(), nullptr);
    // While it is open, the same tap closes it, as every panel control does.
    tap(3);
    EXPECT_FALSE(tintPanelOpen());

    // Another selected tone tapped again opens nothing and renders nothing.
    tap(1);
    const int toneType = c.state().toneType;
    tap(1);
    EXPECT_FALSE(c.popoverController() && c.popoverController()->isVisible());
    EXPECT_EQ(c.state().toneType, toneType);
}

TEST_F(ScreenFixesTest, EscapeClosesTheOpenPopover) {
    const std::pair<const char*, std::function<void(Controller&)>> openers[] = {
        {"vignette", [](Controller& c) { c.showVignet(); }},
        {"processing", [](Controller& c) { c.showProcessing(); }},
        {"settings", [](Controller& c) { c.showSettings(); }},
        {"tint",
         [](Controller& c) {
             c.color->setSelectedSegmentIndex(3);
             c.showColors();
         }},
        {"picker", [](Controller& c) { c.grabImage(); }},
    };
    auto& c = startEditing();
    for (const auto& [name, open] : openers) {
        SCOPED_TRACE(name);
        open(c);
        platform::Popover* popover = c.popoverController();
        ASSERT_TRUE(popover && popover->isVisible());
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : c.view();
        QTest::keyClick(target, Qt::Key_Escape);
        EXPECT_FALSE(popover->isVisible());
        c.countDown2();
        EXPECT_EQ(c.panelPollTimer(), nullptr);
        EXPECT_EQ(c.state().openPanel, 0);
    }
    // Other keys leave it open.
    c.showVignet();
    QTest::keyClick(c.view(), Qt::Key_A);
    EXPECT_TRUE(c.popoverController()->isVisible());
}

TEST_F(ScreenFixesTest, TheVignettePanelSaysWhenTheRendererIgnoresItsChoices) {
    const std::tuple<const char*, int, bool> renderers[] = {
        {"Classic", 0, false},
        {"Film", 1, true},
        {"Studio", 2, true},
    };
    auto& c = startEditing();
    for (const auto& [name, segment, applies] : renderers) {
        SCOPED_TRACE(name);
        c.type->setSelectedSegmentIndex(segment);
        c.SwitchType();
        c.showVignet();
        auto* panel = qobject_cast<panels::VignetView*>(c.popoverController()->content());
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->vtype->isEnabled(), applies);
        EXPECT_EQ(panel->veffect->isEnabled(), applies);
        EXPECT_EQ(panel->classicNote->isVisible(), !applies);
        EXPECT_TRUE(panel->radius->isEnabled());
        EXPECT_TRUE(panel->enabled->isEnabled());
        if (!applies) {
            // The note fits the panel.
            EXPECT_TRUE(panel->rect().contains(
                QRect(panel->classicNote->mapTo(panel, QPoint(0, 0)), panel->classicNote->size())));
        }
        c.showVignet();
    }
}

TEST(WindowRoomTest, TheWindowFrameIsCountedInDevicePixels) {
    const std::tuple<QSize, qreal, QSize> screens[] = {
        {{800, 1050}, 2.0, {768, 1024}},   // 1600 x 2100 device pixels at scale 2
        {{800, 1050}, 1.0, {757, 1010}},   // too short at scale 1
        {{1920, 1080}, 1.0, {768, 1024}},  // a desktop screen
        {{1366, 768}, 1.0, {546, 728}},    // a small laptop
        {{960, 1080}, 2.0, {768, 1024}},   // 1920 x 2160 device pixels at scale 2
    };
    for (const auto& [available, ratio, expected] : screens) {
        SCOPED_TRACE(testing::Message()
                     << available.width() << "x" << available.height() << "@" << ratio);
        EXPECT_EQ(app::lumaroAppDelegate::windowSizeFor(
                      app::lumaroAppDelegate::roomForWindow(available, ratio)),
                  expected);
    }
}

}  // namespace
