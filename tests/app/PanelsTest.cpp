#include <gtest/gtest.h>

#include <QLabel>
#include <QToolButton>

#include "GuiTestSupport.h"
#include "imaging/ResetDefaults.h"
#include "panels/ColourView.h"
#include "panels/ProcessingView.h"
#include "panels/SettingsView.h"
#include "panels/VignetView.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/SegmentedControl.h"
#include "platform/widgets/Switch.h"

using namespace testing_gui;

class PanelsTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearDefaults();
        imaging::resetDefaults(defaults());
    }
};

TEST_F(PanelsTest, ColourPanelStoresOnReleaseAndShowsTheStoredColourOnReopening) {
    AppLog log;
    defaults().setInteger(40, "G");
    {
        panels::ColourView panel;
        // Opening hands the stored colour over.
        EXPECT_EQ(defaults().integerForKey("activate"), 1);
        defaults().setInteger(0, "activate");
        dragSlider(panel.Rs, 127.6, false);
        EXPECT_EQ(panel.Rsval->text(), "128");
        EXPECT_EQ(panels::ColourView::getR(), 128);
        // The swatch follows the unrounded position (a colour holds 16 bits a channel).
        EXPECT_NEAR(panel.colorsq->palette().color(QPalette::Window).redF(), 127.6 / 255.0,
                    1.0 / 65535);
        EXPECT_EQ(stored({"R", "activate"}), (QList<int>{255, 0}));
        EXPECT_FALSE(log.contains("Rori=128"));
        panel.Rs->setSliderDown(false);
        EXPECT_EQ(stored({"R", "G", "B", "activate"}), (QList<int>{128, 40, 255, 1}));
        EXPECT_TRUE(log.contains("Rori=128"));
        // Green and blue store alike but write no log line.
        log.clear();
        dragSlider(panel.Gs, 10.4);
        dragSlider(panel.Bs, 0.5);
        EXPECT_EQ(stored({"G", "B"}), (QList<int>{10, 1}));
        EXPECT_TRUE(log.collected().filter("ori=").isEmpty());
    }
    imaging::resetDefaults(defaults());
    panels::ColourView reopened;
    for (auto* slider : {reopened.Rs, reopened.Gs, reopened.Bs})
        EXPECT_EQ(slider->floatValue(), 255.0f);
    for (auto* readout : {reopened.Rsval, reopened.Gsval, reopened.Bsval})
        EXPECT_EQ(readout->text(), "255");
    EXPECT_EQ(reopened.colorsq->palette().color(QPalette::Window), QColor(Qt::white));
}

TEST_F(PanelsTest, VignettePanelStoresAllValuesWithEveryChangeButShowsNoTypeOnReopening) {
    AppLog log;
    {
        panels::VignetView panel;
        panel.show();
        // Opening alone hands nothing over.
        EXPECT_EQ(defaults().integerForKey("activate"), 0);
        EXPECT_EQ(panel.radius->floatValue(), 20.0f);
        EXPECT_FALSE(panel.enabled->isOn());
        defaults().setInteger(7, "Rad");
        QTest::mouseClick(panel.enabled, Qt::LeftButton);
        EXPECT_TRUE(log.contains("OK=1"));
        EXPECT_EQ(stored({"Enabled", "Rad", "Effect", "activate"}), (QList<int>{1, 20, 1, 1}));
        EXPECT_EQ(defaults().integerForKey("Type"), panels::VignetView::typeSetting());
        dragSlider(panel.radius, 35.5);
        EXPECT_EQ(defaults().integerForKey("Rad"), 36);
        QTest::mouseClick(panel.veffect->segmentButton(1), Qt::LeftButton);
        QTest::mouseClick(panel.vtype->segmentButton(1), Qt::LeftButton);
        QTest::mouseClick(panel.enabled, Qt::LeftButton);
        EXPECT_TRUE(log.contains("OK=0"));
        EXPECT_EQ(stored({"Enabled", "Effect", "Type"}), (QList<int>{0, 2, 2}));
    }
    // The type is remembered by the panel, whatever the store says, but not shown.
    defaults().setInteger(1, "Type");
    panels::VignetView reopened;
    reopened.show();
    EXPECT_EQ(reopened.vtype->selectedSegmentIndex(), 0);
    dragSlider(reopened.radius, 30);
    EXPECT_EQ(defaults().integerForKey("Type"), 2);
    // The next opening after a reset shows the reset values again.
    QTest::mouseClick(reopened.vtype->segmentButton(0), Qt::LeftButton);
    imaging::resetDefaults(defaults());
    panels::VignetView afterReset;
    EXPECT_EQ(afterReset.radius->floatValue(), 20.0f);
    EXPECT_FALSE(afterReset.enabled->isOn());
}

TEST_F(PanelsTest, ProcessingPanelReadsOutAndStoresItsKeyGroupsOnRelease) {
    defaults().setInteger(125, "Exposure");
    defaults().setInteger(4, "Quant");
    defaults().setInteger(1, "Inverse");
    panels::ProcessingView panel;
    panel.show();
    EXPECT_EQ((QStringList{panel.alphat->text(), panel.exposuret->text(), panel.noiset->text(),
                           panel.quantt->text()}),
              (QStringList{"100%", "x1.25", "0%", "255/4"}));
    EXPECT_EQ(panel.exposures->floatValue(), 1.25f);
    EXPECT_TRUE(panel.inverse->isOn());
    EXPECT_EQ(defaults().integerForKey("activate"), 0);

    dragSlider(panel.exposures, 1.234, false);
    EXPECT_EQ(panel.exposuret->text(), "x1.23");
    dragSlider(panel.alphas, 42, false);
    EXPECT_EQ(panel.alphat->text(), "42%");
    EXPECT_EQ(stored({"activate", "Exposure"}), (QList<int>{0, 125}));

    defaults().setInteger(77, "Noise");
    panel.alphas->setSliderDown(false);
    EXPECT_EQ(stored({"Alpha", "Exposure", "Noise", "activate"}), (QList<int>{42, 123, 77, 1}));

    defaults().setInteger(9, "Quant");
    dragSlider(panel.noises, 12.5);
    EXPECT_EQ(stored({"Noise", "Quant"}), (QList<int>{13, 9}));
    dragSlider(panel.quants, 2);
    EXPECT_EQ(panel.quantt->text(), "255/2");

    QTest::mouseClick(panel.inverse, Qt::LeftButton);
    EXPECT_EQ(stored({"Inverse", "Alpha", "Exposure", "Noise", "Quant"}),
              (QList<int>{0, 42, 123, 13, 2}));
}

// Sizes between the two choices show as the one that gives the same pixels on the screen.
TEST_F(PanelsTest, SettingsPanelShowsAnOddSizeByTheScreenScale) {
    defaults().setInteger(500, "Size");
    defaults().setBool(true, "Ornaments");
    panels::SettingsView dense(2.0);
    EXPECT_EQ(dense.SizeSelection->selectedSegmentIndex(), 1);
    EXPECT_TRUE(dense.OrnamentSwitch->isOn());
    panels::SettingsView plain(1.0);
    EXPECT_EQ(plain.SizeSelection->selectedSegmentIndex(), 0);
    EXPECT_EQ(stored({"activate", "Size"}), (QList<int>{0, 500}));
}
