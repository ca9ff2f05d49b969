#include <gtest/gtest.h>

#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>

#include "GuiTestSupport.h"
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
    control.setSelectedSegmentIndex(SegmentedControl::noSegment);
    EXPECT_EQ(checked(), (QList<bool>{false, false, false}));
    control.setSelectedSegmentIndex(7);
    EXPECT_EQ(control.selectedSegmentIndex(), -1);

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

TEST_F(WidgetsTest, FloatSliderSeparatesDraggingFromReleaseAndClampsToItsRange) {
    FloatSlider slider;
    slider.setMinimumValue(0);
    slider.setMaximumValue(255);
    QSignalSpy dragging(&slider, &FloatSlider::valueDragging);
    QSignalSpy released(&slider, &FloatSlider::valueReleased);

    dragSlider(&slider, 100, false);
    slider.setSliderPosition(FloatSlider::positionOf(127.6));
    EXPECT_EQ(dragging.count(), 2);
    EXPECT_EQ(released.count(), 0);
    slider.setSliderDown(false);
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
    EXPECT_EQ(dragging.count(), 3);
    EXPECT_EQ(released.count(), 2);
    EXPECT_FLOAT_EQ(slider.floatValue(), 0.1f);

    // A narrower range moves the value into it.
    slider.setMinimumValue(1);
    EXPECT_EQ(slider.floatValue(), 1.0f);
}

TEST_F(WidgetsTest, SwitchReportsUserTapsOnly) {
    platform::Switch toggle;
    toggle.show();
    QSignalSpy toggled(&toggle, &platform::Switch::clicked);
    toggle.setOn(true);
    EXPECT_EQ(toggled.count(), 0);
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle.isOn());
    EXPECT_EQ(toggled.count(), 1);
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

TEST_F(PopoverTest, ATapOutsideDismissesAndIsNotPassedOnUnlessOnAPassthroughWidget) {
    auto* popover = new platform::Popover(new QPushButton("inside"), &host);
    popover->setContentSize({320, 480});
    popover->setPassthroughWidgets({toolbarButton});
    QSignalSpy dismissed(popover, &platform::Popover::dismissed);
    popover->presentFromWidget(toolbarButton);
    ASSERT_TRUE(popover->isPopoverVisible());
    EXPECT_TRUE(host.rect().contains(popover->geometry()));
    EXPECT_GE(popover->width(), 320);
    EXPECT_GE(popover->height(), 480);

    QTest::mouseClick(popover->content(), Qt::LeftButton);
    QTest::mouseClick(toolbarButton, Qt::LeftButton);
    EXPECT_EQ(toolbarTaps, 1);
    EXPECT_TRUE(popover->isPopoverVisible());

    QTest::mouseClick(target, Qt::LeftButton);
    EXPECT_FALSE(popover->isPopoverVisible());
    EXPECT_EQ(dismissed.count(), 1);
    EXPECT_EQ(targetTaps, 0);
    QTest::mouseClick(target, Qt::LeftButton);
    EXPECT_EQ(targetTaps, 1);
}

TEST_F(PopoverTest, OnlyOnePopoverIsVisibleAndItStaysInsideTheHost) {
    auto* first = new platform::Popover(new QWidget, &host);
    auto* second = new platform::Popover(new QWidget, &host);
    first->setContentSize({300, 200});
    second->setContentSize({300, 100});
    first->presentFromRect(QRect(600, 900, 100, 40));
    EXPECT_EQ(platform::Popover::current(), first);
    // Shown above an anchor near the bottom.
    EXPECT_LT(first->geometry().bottom(), 900);
    EXPECT_TRUE(host.rect().contains(first->geometry()));
    second->presentFromRect(QRect(10, 10, 50, 30));
    EXPECT_FALSE(first->isPopoverVisible());
    EXPECT_EQ(platform::Popover::current(), second);
    second->dismiss();
    EXPECT_EQ(platform::Popover::current(), nullptr);
}
