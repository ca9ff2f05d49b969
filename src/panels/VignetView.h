#pragma once

#include <QWidget>

class QLabel;

namespace platform {
class FloatSlider;
class SegmentedControl;
class Switch;
}  // namespace platform

namespace panels {

// Edits the vignette: type, effect, strength and on/off. Hands the values
// over through the defaults keys Type, Rad, Effect, Enabled and raises activate.
class VignetView : public QWidget {
    Q_OBJECT

public:
    explicit VignetView(QWidget* parent = nullptr);

    void getRadius();
    void getType();
    void getEffect();
    void getEnabled();

    // The Classic renderer draws the strength only: then the type and effect
    // choices are shown disabled, with a note that says why.
    void setChoicesApply(bool apply);

    // The values as the panel last stored them; they outlive each panel.
    static int radiusSetting();
    static int typeSetting();
    static int effectSetting();
    static int enabledSetting();

    platform::SegmentedControl* vtype;
    platform::SegmentedControl* veffect;
    platform::FloatSlider* radius;
    platform::Switch* enabled;
    QLabel* classicNote;

private:
    void viewDidLoad();
    void storeSettings();
};

}  // namespace panels
