#pragma once

#include <QWidget>

class QLabel;

namespace platform {
class FloatSlider;
class Switch;
}  // namespace platform

namespace panels {

// Edits the processing effects: blend strength, exposure, noise,
// quantisation and inversion. Hands them over through the defaults keys
// Alpha, Exposure, Noise, Quant, Inverse and raises activate.
class ProcessingView : public QWidget {
    Q_OBJECT

public:
    explicit ProcessingView(QWidget* parent = nullptr);

    // While dragging: read-out only.
    void editAlpha();
    void editExposure();
    void editNoise();
    void editQuant();
    // Finished changes: store and raise activate.
    void getAlpha();
    void getExposure();
    void getNoise();
    void getQuant();
    void getInverse();

    static int alphaSetting();
    static int exposureSetting();
    static int noiseSetting();
    static int quantSetting();
    static int inverseSetting();

    platform::FloatSlider* alphas;
    platform::FloatSlider* exposures;
    platform::FloatSlider* noises;
    platform::FloatSlider* quants;
    QLabel* alphat;
    QLabel* exposuret;
    QLabel* noiset;
    QLabel* quantt;
    platform::Switch* inverse;

private:
    void viewDidLoad();
    void showAlpha();
    void showExposure();
    void showNoise();
    void showQuant();
};

}  // namespace panels
