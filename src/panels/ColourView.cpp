#include "panels/ColourView.h"

#include <QLabel>
#include <QVBoxLayout>

#include "imaging/PanelSettings.h"
#include "panels/PanelLog.h"
#include "platform/Defaults.h"
#include "platform/widgets/FloatSlider.h"
#include "ui/Format.h"
#include "ui/LayoutLoader.h"

namespace panels {

namespace keys = imaging::keys;

namespace {

// The colour outlives each panel: it is what the panel shows when reopened.
int redSetting = 255;
int greenSetting = 255;
int blueSetting = 255;
// Unrounded slider positions, so the swatch follows the thumb smoothly.
double redLevel = 255.0;
double greenLevel = 255.0;
double blueLevel = 255.0;

struct Channel {
    int& setting;
    double& level;
    platform::FloatSlider* slider;
    QLabel* readout;
};

// The edit step shared by the finished and continuous changes of one slider.
void takeSliderValue(Channel channel) {
    const float value = channel.slider->floatValue();
    channel.setting = ui::roundHalfAway(value);
    channel.level = static_cast<double>(value);
    channel.readout->setText(QString::number(channel.setting));
}

}  // namespace

ColourView::ColourView(QWidget* parent) : QWidget(parent) {
    QWidget* root = ui::loadLayout(QStringLiteral("colouring"), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(root);
    Rs = ui::field<platform::FloatSlider>(root, "Rs");
    Gs = ui::field<platform::FloatSlider>(root, "Gs");
    Bs = ui::field<platform::FloatSlider>(root, "Bs");
    Rsval = ui::field<QLabel>(root, "Rsval");
    Gsval = ui::field<QLabel>(root, "Gsval");
    Bsval = ui::field<QLabel>(root, "Bsval");
    Rsl = ui::field<QLabel>(root, "Rsl");
    Gsl = ui::field<QLabel>(root, "Gsl");
    Bsl = ui::field<QLabel>(root, "Bsl");
    colorsq = ui::field<QLabel>(root, "colorsq");

    connect(Rs, &platform::FloatSlider::valueDragging, this, &ColourView::Redit);
    connect(Gs, &platform::FloatSlider::valueDragging, this, &ColourView::Gedit);
    connect(Bs, &platform::FloatSlider::valueDragging, this, &ColourView::Bedit);
    connect(Rs, &platform::FloatSlider::valueReleased, this, &ColourView::Raction);
    connect(Gs, &platform::FloatSlider::valueReleased, this, &ColourView::Gaction);
    connect(Bs, &platform::FloatSlider::valueReleased, this, &ColourView::Baction);
    viewDidLoad();
}

void ColourView::viewDidLoad() {
    auto& defaults = platform::Defaults::standard();
    redSetting = defaults.integerForKey(keys::R);
    greenSetting = defaults.integerForKey(keys::G);
    blueSetting = defaults.integerForKey(keys::B);
    defaults.synchronize();

    Rs->setFloatValue(redSetting);
    Rsval->setText(QString::number(redSetting));
    Gs->setFloatValue(greenSetting);
    Gsval->setText(QString::number(greenSetting));
    Bs->setFloatValue(blueSetting);
    Bsval->setText(QString::number(blueSetting));

    redLevel = redSetting;
    greenLevel = greenSetting;
    blueLevel = blueSetting;
    updateColor();

    // Opening the panel hands the stored colour over at once, so the picture
    // shows the custom tone even before the user moves a slider.
    storeSettings();
}

void ColourView::storeSettings() {
    auto& defaults = platform::Defaults::standard();
    defaults.setInteger(redSetting, keys::R);
    defaults.setInteger(greenSetting, keys::G);
    defaults.setInteger(blueSetting, keys::B);
    defaults.setInteger(1, keys::activate);
    defaults.synchronize();
}

void ColourView::Raction() {
    takeSliderValue({redSetting, redLevel, Rs, Rsval});
    qCDebug(lcPanel).noquote() << QStringLiteral("Rori=%1").arg(redSetting);
    updateColor();
    storeSettings();
}

void ColourView::Gaction() {
    takeSliderValue({greenSetting, greenLevel, Gs, Gsval});
    updateColor();
    storeSettings();
}

void ColourView::Baction() {
    takeSliderValue({blueSetting, blueLevel, Bs, Bsval});
    updateColor();
    storeSettings();
}

void ColourView::Redit() {
    takeSliderValue({redSetting, redLevel, Rs, Rsval});
    updateColor();
}

void ColourView::Gedit() {
    takeSliderValue({greenSetting, greenLevel, Gs, Gsval});
    updateColor();
}

void ColourView::Bedit() {
    takeSliderValue({blueSetting, blueLevel, Bs, Bsval});
    updateColor();
}

void ColourView::updateColor() {
    QPalette palette = colorsq->palette();
    palette.setColor(QPalette::Window,
                     QColor::fromRgbF(static_cast<float>(redLevel / 255.0),
                                      static_cast<float>(greenLevel / 255.0),
                                      static_cast<float>(blueLevel / 255.0), 1.0f));
    colorsq->setPalette(palette);
}

int ColourView::getR() { return redSetting; }
int ColourView::getG() { return greenSetting; }
int ColourView::getB() { return blueSetting; }

}  // namespace panels
