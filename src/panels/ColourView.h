#pragma once

#include <QWidget>

class QLabel;

namespace platform {
class FloatSlider;
}

namespace panels {

// Picks the custom tint colour: three sliders, their read-outs and a swatch.
// Hands the colour over through the defaults keys R, G, B and raises activate.
class ColourView : public QWidget {
    Q_OBJECT

public:
    explicit ColourView(QWidget* parent = nullptr);

    // Finished changes (the user lets go): store and raise activate.
    void Raction();
    void Gaction();
    void Baction();
    // Continuous changes while dragging: read-out and swatch only.
    void Redit();
    void Gedit();
    void Bedit();
    void updateColor();

    static int getR();
    static int getG();
    static int getB();

    platform::FloatSlider* Rs;
    platform::FloatSlider* Gs;
    platform::FloatSlider* Bs;
    QLabel* Rsval;
    QLabel* Gsval;
    QLabel* Bsval;
    QLabel* Rsl;
    QLabel* Gsl;
    QLabel* Bsl;
    QLabel* colorsq;

private:
    void viewDidLoad();
    void storeSettings();
};

}  // namespace panels
