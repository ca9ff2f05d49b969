#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>

#include "GuiTestSupport.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/Alert.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/Popover.h"
#include "platform/widgets/SegmentedControl.h"

using namespace testing_gui;
using platform::FloatSlider;
using platform::SegmentedControl;

TEST(WidgetsTest, SegmentedControlReportsOnlyTapsThatChangeTheSelection) {
    SegmentedControl control;
    control.setSegments({"A", "B", "C"});
    control.setSelectedSegmentIndex(0);
    control.show();
    QList<int> seen;
    QObject::connect(&control, &SegmentedControl::valueChanged,
                     [&] { seen << control.selectedSegmentIndex(); });
    const auto checked = [&] {
        QList<bool> states;
        for (int i = 0; i < 3; ++i) states << control.segmentButton(i)->isChecked();
        return states;
    };
    QTest::mouseClick(control.segmentButton(2), Qt::LeftButton);
    EXPECT_EQ(checked(), (QList<bool>{false, false, true}));
    // The selected segment again, and changes made in code: no report.
    QTest::mouseClick(control.segmentButton(2), Qt::LeftButton);
    control.setSelectedSegmentIndex(1);
    EXPECT_EQ(seen, QList<int>{2});
    EXPECT_EQ(checked(), (QList<bool>{false, true, false}));
    control.setSelectedSegmentIndex(7);
    EXPECT_EQ(control.selectedSegmentIndex(), -1);
    EXPECT_EQ(checked(), (QList<bool>{false, false, false}));

    // A momentary segment reports every tap with itself selected, then lets go.
    SegmentedControl button;
    button.setSegments({"Reset"});
    button.setMomentary(true);
    button.show();
    QList<int> taps;
    QObject::connect(&button, &SegmentedControl::valueChanged,
                     [&] { taps << button.selectedSegmentIndex(); });
    QTest::mouseClick(button.segmentButton(0), Qt::LeftButton);
    QTest::mouseClick(button.segmentButton(0), Qt::LeftButton);
    EXPECT_EQ(taps, (QList<int>{0, 0}));
    EXPECT_EQ(button.selectedSegmentIndex(), -1);
    EXPECT_FALSE(button.segmentButton(0)->isChecked());
}

TEST(WidgetsTest, FloatSliderSeparatesDraggingFromReleaseAndClampsToItsRange) {
    FloatSlider slider;
    slider.setMinimumValue(0);
    slider.setMaximumValue(255);
    QSignalSpy dragging(&slider, &FloatSlider::valueDragging);
    QSignalSpy released(&slider, &FloatSlider::valueReleased);
    dragSlider(&slider, 100, false);
    slider.setSliderPosition(FloatSlider::positionOf(127.6));
    slider.setSliderDown(false);
    EXPECT_EQ(dragging.count(), 2);
    ASSERT_EQ(released.count(), 1);
    EXPECT_EQ(released.at(0).at(0).toFloat(), 127.6f);

    // Values set in code are exact, clamped to the range and not reported.
    for (const auto& [set, read] : {std::pair{7.125, 7.125f}, {300.0, 255.0f}, {-1.0, 0.0f}}) {
        slider.setFloatValue(set);
        EXPECT_EQ(slider.floatValue(), read) << set;
    }
    EXPECT_EQ(dragging.count() + released.count(), 3);
    // A keyboard step is a finished change at once.
    slider.show();
    slider.setFocus();
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_EQ(released.count(), 2);
    EXPECT_FLOAT_EQ(slider.floatValue(), 0.1f);
    // A narrower range moves the value into it.
    slider.setMinimumValue(1);
    EXPECT_EQ(slider.floatValue(), 1.0f);
}

TEST(WidgetsTest, AlertEscapeIsTheCancelButtonAndReturnTheLastButton) {
    // The cancel button, the others, the key, and the index reported (-1: none).
    const std::tuple<QString, QStringList, Qt::Key, int> cases[] = {
        {"Don't Save", {"Save"}, Qt::Key_Escape, 0},
        {"Don't Save", {"Save"}, Qt::Key_Return, 1},
        {"OK", {}, Qt::Key_Enter, 0},
        {"Cancel", {"One", "Two"}, Qt::Key_Return, 2},
        {"", {"Go"}, Qt::Key_Escape, -1},
    };
    QWidget parent;
    parent.show();
    for (const auto& [cancel, others, key, expected] : cases) {
        SCOPED_TRACE(testing::Message() << others.size() << " " << key);
        auto* alert = new platform::Alert("Title", "Message", cancel, others, &parent);
        QList<int> clicked;
        QObject::connect(alert, &platform::Alert::clickedButtonAtIndex,
                         [&](int index) { clicked << index; });
        alert->showAlert();
        QTest::keyClick(alert, key);
        EXPECT_FALSE(alert->isVisible());
        EXPECT_EQ(clicked, expected < 0 ? QList<int>{} : QList<int>{expected});
        QApplication::processEvents();
    }
}

TEST(WidgetsTest, TheWhiteActivityWheelShowsOnAWhitePicture) {
    QWidget page;
    page.setStyleSheet("background: white");
    page.resize(120, 120);
    auto* indicator =
        new platform::ActivityIndicator(platform::ActivityIndicator::Style::white, &page);
    indicator->move(20, 20);
    page.show();
    indicator->startAnimating();
    const QImage shot = page.grab(indicator->geometry()).toImage();
    int dark = 0;
    int light = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            dark += qGray(shot.pixel(x, y)) < 110;
            light += qGray(shot.pixel(x, y)) > 200;
        }
    const int area = shot.width() * shot.height();
    EXPECT_GT(dark, area / 3) << "a dark backdrop behind the spokes";
    EXPECT_GT(light, area / 50) << "the spokes themselves";
}

TEST(WidgetsTest, PopoversDismissOnATapOutsideAndOnlyOneIsVisible) {
    QWidget host;
    host.resize(768, 1024);
    auto* layout = new QVBoxLayout(&host);
    auto* toolbarButton = new QPushButton("Open");
    auto* target = new QPushButton("Elsewhere");
    layout->addWidget(toolbarButton);
    layout->addStretch();
    layout->addWidget(target);
    host.show();
    QSignalSpy toolbarTaps(toolbarButton, &QPushButton::clicked);
    QSignalSpy targetTaps(target, &QPushButton::clicked);

    auto* popover = new platform::Popover(new QPushButton("inside"), &host);
    popover->setContentSize({320, 480});
    popover->setPassthroughWidgets({toolbarButton});
    QSignalSpy dismissed(popover, &platform::Popover::dismissed);
    popover->presentFromWidget(toolbarButton);
    ASSERT_TRUE(popover->isPopoverVisible());
    EXPECT_GE(popover->width(), 320);
    EXPECT_GE(popover->height(), 480);
    // Taps inside and on a passthrough widget keep it; a tap elsewhere only dismisses.
    QTest::mouseClick(popover->content(), Qt::LeftButton);
    QTest::mouseClick(toolbarButton, Qt::LeftButton);
    EXPECT_EQ(toolbarTaps.count(), 1);
    EXPECT_TRUE(popover->isPopoverVisible());
    QTest::mouseClick(target, Qt::LeftButton);
    EXPECT_FALSE(popover->isPopoverVisible());
    EXPECT_EQ(dismissed.count(), 1);
    EXPECT_EQ(targetTaps.count(), 0);
    QTest::mouseClick(target, Qt::LeftButton);
    EXPECT_EQ(targetTaps.count(), 1);

    // Shown above an anchor near the bottom, inside the host; a second one replaces it.
    auto* second = new platform::Popover(new QWidget, &host);
    second->setContentSize({300, 200});
    popover->presentFromRect(QRect(600, 900, 100, 40));
    EXPECT_LT(popover->geometry().bottom(), 900);
    EXPECT_TRUE(host.rect().contains(popover->geometry()));
    second->presentFromRect(QRect(10, 10, 50, 30));
    EXPECT_FALSE(popover->isPopoverVisible());
    EXPECT_EQ(platform::Popover::current(), second);
    second->dismiss();
    EXPECT_EQ(platform::Popover::current(), nullptr);
}
