#pragma once

#include <QWidget>

namespace platform {
class SegmentedControl;
class Switch;
}  // namespace platform

namespace panels {

// Output settings: the working size (650 or 1300 points on the long side)
// and the corner ornaments. Hands them over through the defaults keys Size
// and Ornaments and raises activate; both keys survive restarts.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    // screenScale: the main screen's pixel density, which decides a size
    // that is neither 650 nor 1300.
    explicit SettingsView(qreal screenScale, QWidget* parent = nullptr);

    void getSize();
    void getOrnaments();

    static int sizeSetting();
    static int ornamentsSetting();

    platform::SegmentedControl* SizeSelection;
    platform::Switch* OrnamentSwitch;

private:
    void viewDidLoad();

    qreal screenScale_;
};

}  // namespace panels
