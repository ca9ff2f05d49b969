#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <functional>

#include "AppTestSupport.h"
#include "app/ProductLinks.h"
#include "panels/ColourView.h"
#include "panels/VignetView.h"
#include "platform/Defaults.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/Popover.h"
#include "platform/widgets/SegmentedControl.h"
#include "ui/Format.h"

namespace {

using namespace testing_gui;
using Controller = app::lumaroViewController;

class ScreenFixesTest : public ControllerFixture {
protected:
    void restart() {
        controller.reset();
        closeAllAlerts();
        clearDefaults();
    }
};

const std::pair<const char*, std::function<void(platform::Alert*)>> dismissals[] = {
    {"Escape", [](platform::Alert* a) { QTest::keyClick(a, Qt::Key_Escape); }},
    {"window closed", [](platform::Alert* a) { a->close(); }},
    {"cancel button",
     [](platform::Alert* a) { QTest::mouseClick(a->buttonAtIndex(0), Qt::LeftButton); }},
};

TEST_F(ScreenFixesTest, AnAlertClosedWithoutAButtonIsCancelledAsItsCancelButtonIs) {
    for (const auto& [way, dismiss] : dismissals) {
        SCOPED_TRACE(way);
        platform::Defaults::standard().setInteger(15, "oco");
        auto& c = start();
        QList<QUrl> opened;
        c.setUrlOpener([&](const QUrl& url) {
            opened.append(url);
            return true;
        });
        platform::Alert* prompt = nullptr;
        ASSERT_TRUE(waitFor([&] { return (prompt = alertTitled("Rate Lumaro HD")) != nullptr; }));
        dismiss(prompt);
        QApplication::processEvents();
        EXPECT_FALSE(c.ratePromptOpen());

        pick(writeGradient(library + "/gradient.png", {200, 150}));
        c.SaveImage();
        ASSERT_TRUE(c.saveIndicator()->isAnimating() && alertTitled("Confirm"));
        dismiss(alertTitled("Confirm"));
        QApplication::processEvents();
        EXPECT_FALSE(c.saveIndicator()->isAnimating() || c.saveIndicator()->isVisible());
        EXPECT_EQ(c.saveTimer(), nullptr);
        // The next alert is answered as the save confirmation it is.
        c.SaveImage();
        ASSERT_NE(alertTitled("Confirm"), nullptr);
        QTest::mouseClick(alertTitled("Confirm")->buttonAtIndex(1), Qt::LeftButton);
        EXPECT_NE(c.saveTimer(), nullptr);
        EXPECT_TRUE(opened.isEmpty());
        restart();
    }
}

TEST_F(ScreenFixesTest, AnOpenPopoverStaysAboveTheOrnaments) {
    const std::pair<const char*, std::function<void(Controller&)>> changes[] = {
        {"size 1300 and a render",
         [](Controller& c) {
             platform::Defaults::standard().setInteger(1300, "Size");
             platform::Defaults::standard().setInteger(1, "activate");
             c.countDown2();
             c.MonoCore();
         }},
        {"a save indicator", [](Controller& c) { c.SaveImage(); }},
    };
    for (const auto& [name, apply] : changes) {
        SCOPED_TRACE(name);
        platform::Defaults::standard().setBool(true, "PreOrnaments");
        platform::Defaults::standard().setInteger(1, "Ornaments");
        auto& c = startEditing();
        c.showSettings();
        platform::Popover* popover = c.popoverController();
        ASSERT_TRUE(popover && popover->isVisible());
        apply(c);
        QApplication::processEvents();
        ASSERT_TRUE(popover->isVisible() && c.tape1->isVisible());
        // Among the view's children, later is higher.
        const QObjectList& stack = c.view()->children();
        for (QWidget* w : c.view()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w == popover || w->isWindow() || !w->isVisible()) continue;
            EXPECT_LT(stack.indexOf(w), stack.indexOf(popover)) << w->objectName().toStdString();
        }
        restart();
    }
}

TEST_F(ScreenFixesTest, LinksOpenTheirAddressOrShowItWhenTheyCannot) {
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

TEST_F(ScreenFixesTest, ReadoutsKeepTheirWidthAndTheTracksTheirLength) {
    auto& c = startEditing();
    c.view()->resize(600, 800);
    const std::pair<QLabel*, platform::FloatSlider*> readouts[] = {{c.slid1, c.slider1},
                                                                   {c.sliderRval, c.sliderR}};
    for (const auto& [label, slider] : readouts) {
        SCOPED_TRACE(label->objectName().toStdString());
        if (label == c.sliderRval) {
            c.controls->setSelectedSegmentIndex(1);
            c.SwitchControls();
        }
        QApplication::processEvents();
        ASSERT_TRUE(label->isVisible());
        const int labelWidth = label->width();
        const QRect track = slider->geometry();
        for (double value : {8.26, -9.99, 10.0, 0.01}) {
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
    c.popoverController()->dismiss();
    c.countDown2();
    ASSERT_FALSE(tintPanelOpen());
    tap(3);
    EXPECT_TRUE(tintPanelOpen());
    EXPECT_EQ(c.state().openPanel, 1);
    EXPECT_NE(c.panelPollTimer(), nullptr);
    // While it is open, the same tap closes it, as every panel control does.
    tap(3);
    EXPECT_FALSE(tintPanelOpen());
}

TEST_F(ScreenFixesTest, EscapeClosesTheOpenPopover) {
    const std::pair<const char*, std::function<void(Controller&)>> openers[] = {
        {"vignette", [](Controller& c) { c.showVignet(); }},
        {"settings", [](Controller& c) { c.showSettings(); }},
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
}

TEST_F(ScreenFixesTest, TheVignettePanelSaysWhenTheRendererIgnoresItsChoices) {
    auto& c = startEditing();
    const std::pair<int, bool> renderers[] = {{0, false}, {1, true}, {2, true}};
    for (const auto& [segment, applies] : renderers) {
        SCOPED_TRACE(segment);
        c.type->setSelectedSegmentIndex(segment);
        c.SwitchType();
        c.showVignet();
        auto* panel = qobject_cast<panels::VignetView*>(c.popoverController()->content());
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->vtype->isEnabled(), applies);
        EXPECT_EQ(panel->veffect->isEnabled(), applies);
        EXPECT_EQ(panel->classicNote->isVisible(), !applies);
        EXPECT_TRUE(panel->radius->isEnabled());
        c.showVignet();
    }
}

}  // namespace
