#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>

#include "GuiTestSupport.h"
#include "platform/widgets/Alert.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/Popover.h"
#include "platform/widgets/SegmentedControl.h"
#include "platform/widgets/Switch.h"

using namespace testing_gui;
using platform::FloatSlider;
using platform::SegmentedControl;

class WidgetsTest : public ::testing::Test {
protected:
    void SetUp() override { application(); }
};

TEST_F(WidgetsTest, SegmentedControlReportsOnlyTapsThatChangeTheSelection) {
    SegmentedControl control;
    control.setSegments({"A", "B", "C"});
    control.setSelectedSegmentIndex(0);
    control.show();
    QSignalSpy changed(&control, &SegmentedControl::valueChanged);
    int indexSeen = -2;
    QObject::connect(&control, &SegmentedControl::valueChanged,
                     [&] { indexSeen = control.selectedSegmentIndex(); });

    QTest::mouseClick(control.segmentButton(2), Qt::LeftButton);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(indexSeen, 2);
    EXPECT_TRUE(control.segmentButton(2)->isChecked());
    EXPECT_FALSE(control.segmentButton(0)->isChecked());

    // The selected segment again, and a change made in code: no report.
    QTest::mouseClick(control.segmentButton(2), Qt::LeftButton);
    control.setSelectedSegmentIndex(1);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(control.selectedSegmentIndex(), 1);
    EXPECT_TRUE(control.segmentButton(1)->isChecked());
    EXPECT_FALSE(control.segmentButton(2)->isChecked());

    control.setSelectedSegmentIndex(SegmentedControl::noSegment);
    EXPECT_EQ(control.selectedSegmentIndex(), -1);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(control.segmentButton(i)->isChecked());
    control.setSelectedSegmentIndex(7);
    EXPECT_EQ(control.selectedSegmentIndex(), -1);
}

TEST_F(WidgetsTest, MomentarySegmentActsAsAButton) {
    SegmentedControl button;
    button.setSegments({"Reset"});
    button.setMomentary(true);
    button.show();
    int taps = 0;
    QObject::connect(&button, &SegmentedControl::valueChanged, [&] {
        EXPECT_EQ(button.selectedSegmentIndex(), 0);
        ++taps;
    });
    QTest::mouseClick(button.segmentButton(0), Qt::LeftButton);
    QTest::mouseClick(button.segmentButton(0), Qt::LeftButton);
    EXPECT_EQ(taps, 2);
    EXPECT_EQ(button.selectedSegmentIndex(), -1);
    EXPECT_FALSE(button.segmentButton(0)->isChecked());
}

TEST_F(WidgetsTest, FloatSliderSeparatesDraggingFromRelease) {
    FloatSlider slider;
    slider.setMinimumValue(0);
    slider.setMaximumValue(255);
    QSignalSpy dragging(&slider, &FloatSlider::valueDragging);
    QSignalSpy released(&slider, &FloatSlider::valueReleased);

    slider.setSliderDown(true);
    slider.setSliderPosition(FloatSlider::positionOf(100));
    slider.setSliderPosition(FloatSlider::positionOf(127.6));
    EXPECT_EQ(dragging.count(), 2);
    EXPECT_EQ(released.count(), 0);
    EXPECT_EQ(slider.floatValue(), 127.6f);
    slider.setSliderDown(false);
    ASSERT_EQ(released.count(), 1);
    EXPECT_EQ(released.at(0).at(0).toFloat(), 127.6f);

    // Values set in code are exact, clamped to the range and not reported.
    slider.setFloatValue(7.125);
    EXPECT_EQ(slider.floatValue(), 7.125f);
    slider.setFloatValue(300);
    EXPECT_EQ(slider.floatValue(), 255.0f);
    slider.setFloatValue(-1);
    EXPECT_EQ(slider.floatValue(), 0.0f);
    EXPECT_EQ(dragging.count(), 2);
    EXPECT_EQ(released.count(), 1);

    // A keyboard step is a finished change at once.
    slider.show();
    slider.setFocus();
    QTest::keyClick(&slider, Qt::Key_Right);
    EXPECT_EQ(dragging.count(), 3);
    EXPECT_EQ(released.count(), 2);
    EXPECT_FLOAT_EQ(slider.floatValue(), 0.1f);
}

TEST_F(WidgetsTest, FloatSliderRangeMovesTheValueIntoIt) {
    FloatSlider slider;
    slider.setMinimumValue(-5);
    slider.setMaximumValue(10);
    slider.setFloatValue(-5);
    EXPECT_EQ(slider.floatValue(), -5.0f);
    slider.setMinimumValue(1);
    EXPECT_EQ(slider.floatValue(), 1.0f);
    EXPECT_EQ(slider.minimumValue(), 1.0);
    EXPECT_EQ(slider.maximumValue(), 10.0);
}

TEST_F(WidgetsTest, SwitchReportsUserTapsOnly) {
    platform::Switch toggle;
    toggle.show();
    QSignalSpy clicked(&toggle, &platform::Switch::clicked);
    toggle.setOn(true);
    EXPECT_TRUE(toggle.isOn());
    EXPECT_EQ(clicked.count(), 0);
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle.isOn());
    EXPECT_EQ(clicked.count(), 1);
}

class PopoverTest : public WidgetsTest {
protected:
    void SetUp() override {
        WidgetsTest::SetUp();
        host.resize(768, 1024);
        auto* layout = new QVBoxLayout(&host);
        toolbarButton = new QPushButton("Open", &host);
        target = new QPushButton("Elsewhere", &host);
        layout->addWidget(toolbarButton);
        layout->addStretch();
        layout->addWidget(target);
        host.show();
        QObject::connect(target, &QPushButton::clicked, [this] { ++targetTaps; });
        QObject::connect(toolbarButton, &QPushButton::clicked, [this] { ++toolbarTaps; });
    }

    QWidget host;
    QPushButton* toolbarButton = nullptr;
    QPushButton* target = nullptr;
    int targetTaps = 0;
    int toolbarTaps = 0;
};

TEST_F(PopoverTest, TapOutsideDismissesAndIsNotPassedOn) {
    auto* popover = new platform::Popover(new QPushButton("inside"), &host);
    popover->setContentSize({320, 480});
    QSignalSpy dismissed(popover, &platform::Popover::dismissed);
    popover->presentFromWidget(toolbarButton);
    ASSERT_TRUE(popover->isPopoverVisible());
    EXPECT_TRUE(host.rect().contains(popover->geometry()));
    EXPECT_GE(popover->width(), 320);
    EXPECT_GE(popover->height(), 480);

    QTest::mouseClick(popover->content(), Qt::LeftButton);
    EXPECT_TRUE(popover->isPopoverVisible());

    QTest::mouseClick(target, Qt::LeftButton);
    EXPECT_FALSE(popover->isPopoverVisible());
    EXPECT_EQ(dismissed.count(), 1);
    EXPECT_EQ(targetTaps, 0);
    QTest::mouseClick(target, Qt::LeftButton);
    EXPECT_EQ(targetTaps, 1);
}

TEST_F(PopoverTest, PassthroughTapReachesItsTargetWithThePopoverUp) {
    auto* popover = new platform::Popover(new QWidget, &host);
    popover->setContentSize({300, 100});
    popover->setPassthroughWidgets({toolbarButton});
    popover->presentFromWidget(toolbarButton);
    QTest::mouseClick(toolbarButton, Qt::LeftButton);
    EXPECT_EQ(toolbarTaps, 1);
    EXPECT_TRUE(popover->isPopoverVisible());
}

TEST_F(PopoverTest, OnlyOnePopoverIsVisible) {
    auto* first = new platform::Popover(new QWidget, &host);
    auto* second = new platform::Popover(new QWidget, &host);
    first->setContentSize({300, 200});
    second->setContentSize({300, 100});
    first->presentFromRect(QRect(600, 900, 100, 40));
    EXPECT_EQ(platform::Popover::current(), first);
    // Shown above an anchor near the bottom, and kept inside the host.
    EXPECT_LT(first->geometry().bottom(), 900);
    EXPECT_TRUE(host.rect().contains(first->geometry()));
    second->presentFromRect(QRect(10, 10, 50, 30));
    EXPECT_FALSE(first->isPopoverVisible());
    EXPECT_TRUE(second->isPopoverVisible());
    EXPECT_EQ(platform::Popover::current(), second);
    second->dismiss();
    EXPECT_EQ(platform::Popover::current(), nullptr);
}

TEST_F(WidgetsTest, AlertNumbersItsButtonsFromTheCancelButton) {
    QWidget parent;
    parent.show();
    auto* alert = new platform::Alert("Confirm", "Sure?", "Don't Save", {"Save"}, &parent);
    QSignalSpy clicked(alert, &platform::Alert::clickedButtonAtIndex);
    alert->showAlert();
    ASSERT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->title(), "Confirm");
    EXPECT_EQ(alert->message(), "Sure?");
    ASSERT_EQ(alert->numberOfButtons(), 2);
    EXPECT_EQ(alert->buttonTitleAtIndex(0), "Don't Save");
    EXPECT_EQ(alert->buttonTitleAtIndex(1), "Save");
    QTest::mouseClick(alert->buttonAtIndex(1), Qt::LeftButton);
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_EQ(clicked.at(0).at(0).toInt(), 1);
}
