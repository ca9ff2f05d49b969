#include "panels/ProcessingView.h"

#include <QLabel>
#include <QVBoxLayout>
#include <cmath>
#include <cstdint>

#include "imaging/PanelSettings.h"
#include "platform/Defaults.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/Switch.h"
#include "ui/Format.h"
#include "ui/LayoutLoader.h"

namespace panels {

namespace keys = imaging::keys;

namespace {

int alpha = 100;
int exposure = 100;
int noise = 0;
int quant = 1;
int inverseOn = 0;

// The exposure factor in hundredths; the product is taken in single precision.
int exposureFromSlider(float factor) { return static_cast<int>(std::lround(factor * 100.0f)); }

// Stores the first count of Alpha, Exposure, Noise, Quant, Inverse, then
// raises activate.
void storeSettings(int count) {
    auto& defaults = platform::Defaults::standard();
    const int values[] = {alpha, exposure, noise, quant, inverseOn};
    const QString* names[] = {&keys::Alpha, &keys::Exposure, &keys::Noise, &keys::Quant,
                              &keys::Inverse};
    for (int i = 0; i < count; ++i) defaults.setInteger(values[i], *names[i]);
    defaults.setInteger(1, keys::activate);
    defaults.synchronize();
}

}  // namespace

ProcessingView::ProcessingView(QWidget* parent) : QWidget(parent) {
    QWidget* root = ui::loadLayout(QStringLiteral("processing"), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(root);
    alphas = ui::field<platform::FloatSlider>(root, "alphas");
    exposures = ui::field<platform::FloatSlider>(root, "exposures");
    noises = ui::field<platform::FloatSlider>(root, "noises");
    quants = ui::field<platform::FloatSlider>(root, "quants");
    alphat = ui::field<QLabel>(root, "alphat");
    exposuret = ui::field<QLabel>(root, "exposuret");
    noiset = ui::field<QLabel>(root, "noiset");
    quantt = ui::field<QLabel>(root, "quantt");
    inverse = ui::field<platform::Switch>(root, "inverse");

    using platform::FloatSlider;
    connect(alphas, &FloatSlider::valueDragging, this, &ProcessingView::editAlpha);
    connect(exposures, &FloatSlider::valueDragging, this, &ProcessingView::editExposure);
    connect(noises, &FloatSlider::valueDragging, this, &ProcessingView::editNoise);
    connect(quants, &FloatSlider::valueDragging, this, &ProcessingView::editQuant);
    connect(alphas, &FloatSlider::valueReleased, this, &ProcessingView::getAlpha);
    connect(exposures, &FloatSlider::valueReleased, this, &ProcessingView::getExposure);
    connect(noises, &FloatSlider::valueReleased, this, &ProcessingView::getNoise);
    connect(quants, &FloatSlider::valueReleased, this, &ProcessingView::getQuant);
    connect(inverse, &platform::Switch::clicked, this, &ProcessingView::getInverse);
    viewDidLoad();
}

void ProcessingView::viewDidLoad() {
    auto& defaults = platform::Defaults::standard();
    alpha = defaults.integerForKey(keys::Alpha);
    exposure = defaults.integerForKey(keys::Exposure);
    noise = defaults.integerForKey(keys::Noise);
    quant = defaults.integerForKey(keys::Quant);
    inverseOn = defaults.integerForKey(keys::Inverse);
    defaults.synchronize();

    alphas->setFloatValue(static_cast<float>(static_cast<double>(alpha)));
    exposures->setFloatValue(static_cast<float>(exposure / 100.0));
    noises->setFloatValue(static_cast<float>(static_cast<double>(noise)));
    quants->setFloatValue(static_cast<float>(static_cast<double>(quant)));
    inverse->setOn(static_cast<std::uint8_t>(inverseOn) != 0);

    showAlpha();
    showExposure();
    showNoise();
    showQuant();
}

void ProcessingView::showAlpha() { alphat->setText(QStringLiteral("%1%").arg(alpha)); }
void ProcessingView::showExposure() {
    exposuret->setText(QStringLiteral("x") + ui::shortestText(exposure / 100.0));
}
void ProcessingView::showNoise() { noiset->setText(QStringLiteral("%1%").arg(noise)); }
void ProcessingView::showQuant() { quantt->setText(QStringLiteral("255/%1").arg(quant)); }

void ProcessingView::editAlpha() {
    alpha = ui::roundHalfAway(alphas->floatValue());
    showAlpha();
}

void ProcessingView::editExposure() {
    exposure = exposureFromSlider(exposures->floatValue());
    showExposure();
}

void ProcessingView::editNoise() {
    noise = ui::roundHalfAway(noises->floatValue());
    showNoise();
}

void ProcessingView::editQuant() {
    quant = ui::roundHalfAway(quants->floatValue());
    showQuant();
}

void ProcessingView::getAlpha() {
    alpha = ui::roundHalfAway(alphas->floatValue());
    storeSettings(2);
    showAlpha();
}

void ProcessingView::getExposure() {
    exposure = exposureFromSlider(exposures->floatValue());
    storeSettings(2);
    showExposure();
}

void ProcessingView::getNoise() {
    noise = ui::roundHalfAway(noises->floatValue());
    storeSettings(3);
    showNoise();
}

void ProcessingView::getQuant() {
    quant = ui::roundHalfAway(quants->floatValue());
    storeSettings(4);
    showQuant();
}

void ProcessingView::getInverse() {
    inverseOn = inverse->isOn() ? 1 : 0;
    storeSettings(5);
}

int ProcessingView::alphaSetting() { return alpha; }
int ProcessingView::exposureSetting() { return exposure; }
int ProcessingView::noiseSetting() { return noise; }
int ProcessingView::quantSetting() { return quant; }
int ProcessingView::inverseSetting() { return inverseOn; }

}  // namespace panels
