#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <memory>

#include "GuiTestSupport.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/ImageView.h"
#include "platform/widgets/SegmentedControl.h"
#include "platform/widgets/Switch.h"
#include "ui/LayoutLoader.h"

using namespace testing_gui;
using platform::FloatSlider;
using platform::SegmentedControl;

namespace {

template <typename T>
void expectFields(const QWidget* root, std::initializer_list<const char*> names) {
    for (const char* name : names)
        EXPECT_NE(root->findChild<T*>(name), nullptr)
            << root->objectName().toStdString() << " lacks " << name;
}

}  // namespace

class LayoutTest : public ::testing::Test {
protected:
    void SetUp() override { application(); }
};

TEST_F(LayoutTest, MainScreenHasEveryControlByItsFieldName) {
    std::unique_ptr<QWidget> view(ui::loadLayout("main"));
    EXPECT_EQ(view->size(), QSize(768, 1024));
    expectFields<QToolButton>(view.get(), {"Open", "Save", "Settings", "Share", "Help"});
    expectFields<platform::ImageView>(view.get(), {"image"});
    expectFields<FloatSlider>(view.get(), {"slider1", "slider2", "sliderR", "sliderG", "sliderB",
                                           "sliderR2", "sliderG2", "sliderB2"});
    expectFields<QLabel>(
        view.get(),
        {"slider1t",  "slider2t",  "slid1",     "slid2",       "dfilterL",    "colorst",
         "sliderRl",  "sliderGl",  "sliderBl",  "sliderRval",  "sliderGval",  "sliderBval",
         "sliderRl2", "sliderGl2", "sliderBl2", "sliderRval2", "sliderGval2", "sliderBval2",
         "darkArea",  "tape1",     "tape2",     "tape3",       "tape4",       "extape1",
         "extape2",   "extape3",   "extape4",   "sbanner",     "disp"});
    expectFields<SegmentedControl>(view.get(), {"dfilter", "color", "controls", "type", "tone",
                                                "resetBut", "vignetBut", "moreBut"});
    expectFields<QPushButton>(view.get(), {"PhoneAppB", "FacebookB", "TwitterB", "applyButton",
                                           "defaultButton", "nulButton", "minButton", "maxButton"});

    EXPECT_EQ(view->findChild<SegmentedControl*>("dfilter")->numberOfSegments(), 7);
    EXPECT_EQ(view->findChild<SegmentedControl*>("color")->numberOfSegments(), 4);
    EXPECT_EQ(view->findChild<SegmentedControl*>("type")->numberOfSegments(), 3);
    EXPECT_EQ(view->findChild<SegmentedControl*>("controls")->numberOfSegments(), 2);
    EXPECT_EQ(view->findChild<SegmentedControl*>("tone")->numberOfSegments(), 2);
    EXPECT_TRUE(view->findChild<SegmentedControl*>("resetBut")->isMomentary());
    // The presets need the global sliders to reach -5 and 10.
    for (const char* name : {"slider1", "slider2"}) {
        auto* slider = view->findChild<FloatSlider*>(name);
        EXPECT_LE(slider->minimumValue(), -5.0);
        EXPECT_GE(slider->maximumValue(), 10.0);
        EXPECT_EQ(slider->floatValue(), 0.0f);
    }
}

TEST_F(LayoutTest, MainScreenStartsInItsStartState) {
    std::unique_ptr<QWidget> view(ui::loadLayout("main"));
    view->show();
    for (const char* name : {"sbanner", "extape1", "extape2", "extape3", "extape4", "PhoneAppB",
                             "FacebookB", "TwitterB", "disp"})
        EXPECT_TRUE(view->findChild<QWidget*>(name)->isVisible()) << name;
    for (const char* name :
         {"darkArea", "color", "colorst", "resetBut", "vignetBut", "moreBut", "controls", "slider1",
          "slid1", "dfilter", "tone", "sliderR", "sliderR2", "tape1"})
        EXPECT_FALSE(view->findChild<QWidget*>(name)->isVisible()) << name;
    EXPECT_FALSE(view->findChild<QWidget*>("Save")->isEnabled());
    EXPECT_FALSE(view->findChild<QWidget*>("Share")->isEnabled());
    EXPECT_TRUE(view->findChild<QWidget*>("Open")->isEnabled());
}

TEST_F(LayoutTest, PanelLayoutsHaveTheirFields) {
    std::unique_ptr<QWidget> colouring(ui::loadLayout("colouring"));
    expectFields<FloatSlider>(colouring.get(), {"Rs", "Gs", "Bs"});
    expectFields<QLabel>(colouring.get(),
                         {"Rsval", "Gsval", "Bsval", "Rsl", "Gsl", "Bsl", "colorsq"});
    EXPECT_EQ(colouring->findChild<FloatSlider*>("Rs")->maximumValue(), 255.0);

    std::unique_ptr<QWidget> vignetting(ui::loadLayout("vignetting"));
    expectFields<SegmentedControl>(vignetting.get(), {"vtype", "veffect"});
    expectFields<FloatSlider>(vignetting.get(), {"radius"});
    expectFields<platform::Switch>(vignetting.get(), {"enabled"});
    EXPECT_EQ(vignetting->findChild<FloatSlider*>("radius")->floatValue(), 20.0f);

    std::unique_ptr<QWidget> processing(ui::loadLayout("processing"));
    expectFields<FloatSlider>(processing.get(), {"alphas", "exposures", "noises", "quants"});
    expectFields<QLabel>(processing.get(), {"alphat", "exposuret", "noiset", "quantt"});
    expectFields<platform::Switch>(processing.get(), {"inverse"});
    // The start values lie within the ranges.
    auto within = [&](const char* name, double value) {
        auto* slider = processing->findChild<FloatSlider*>(name);
        return slider->minimumValue() <= value && value <= slider->maximumValue();
    };
    EXPECT_TRUE(within("alphas", 100) && within("exposures", 1.0) && within("noises", 0) &&
                within("quants", 1));

    std::unique_ptr<QWidget> settings(ui::loadLayout("settings"));
    expectFields<SegmentedControl>(settings.get(), {"SizeSelection"});
    expectFields<platform::Switch>(settings.get(), {"OrnamentSwitch"});

    EXPECT_THROW(ui::loadLayout("no-such-layout"), std::logic_error);
}
