#include "panels/VignetView.h"

#include <QLabel>
#include <QVBoxLayout>
#include <cstdint>

#include "imaging/PanelSettings.h"
#include "panels/PanelLog.h"
#include "platform/Defaults.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/SegmentedControl.h"
#include "platform/widgets/Switch.h"
#include "ui/Format.h"
#include "ui/LayoutLoader.h"

namespace panels {

namespace keys = imaging::keys;

namespace {

int radiusValue = 20;
int type = 1;
int effect = 1;
int enabledOn = 0;

}  // namespace

VignetView::VignetView(QWidget* parent) : QWidget(parent) {
    QWidget* root = ui::loadLayout(QStringLiteral("vignetting"), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(root);
    vtype = ui::field<platform::SegmentedControl>(root, "vtype");
    veffect = ui::field<platform::SegmentedControl>(root, "veffect");
    radius = ui::field<platform::FloatSlider>(root, "radius");
    enabled = ui::field<platform::Switch>(root, "enabled");
    classicNote = ui::field<QLabel>(root, "classicNote");

    connect(radius, &platform::FloatSlider::valueReleased, this, &VignetView::getRadius);
    connect(vtype, &platform::SegmentedControl::valueChanged, this, &VignetView::getType);
    connect(veffect, &platform::SegmentedControl::valueChanged, this, &VignetView::getEffect);
    connect(enabled, &platform::Switch::clicked, this, &VignetView::getEnabled);
    viewDidLoad();
}

void VignetView::viewDidLoad() {
    auto& defaults = platform::Defaults::standard();
    // The type is not read back: the control shows the layout's choice while
    // the remembered type is stored again with the next change.
    radiusValue = defaults.integerForKey(keys::Rad);
    effect = defaults.integerForKey(keys::Effect);
    enabledOn = defaults.integerForKey(keys::Enabled);
    defaults.synchronize();

    radius->setFloatValue(radiusValue);
    veffect->setSelectedSegmentIndex(effect - 1);
    enabled->setOn(static_cast<std::uint8_t>(enabledOn) != 0);
}

void VignetView::setChoicesApply(bool apply) {
    vtype->setEnabled(apply);
    veffect->setEnabled(apply);
    classicNote->setVisible(!apply);
}

void VignetView::storeSettings() {
    auto& defaults = platform::Defaults::standard();
    defaults.setInteger(type, keys::Type);
    defaults.setInteger(radiusValue, keys::Rad);
    defaults.setInteger(effect, keys::Effect);
    defaults.setInteger(enabledOn, keys::Enabled);
    defaults.setInteger(1, keys::activate);
    defaults.synchronize();
}

void VignetView::getRadius() {
    radiusValue = ui::roundHalfAway(radius->floatValue());
    storeSettings();
}

void VignetView::getType() {
    type = vtype->selectedSegmentIndex() == 1 ? 2 : 1;
    storeSettings();
}

void VignetView::getEffect() {
    effect = veffect->selectedSegmentIndex() == 1 ? 2 : 1;
    storeSettings();
}

void VignetView::getEnabled() {
    enabledOn = enabled->isOn() ? 1 : 0;
    qCDebug(lcPanel).noquote() << (enabledOn ? "OK=1" : "OK=0");
    storeSettings();
}

int VignetView::radiusSetting() { return radiusValue; }
int VignetView::typeSetting() { return type; }
int VignetView::effectSetting() { return effect; }
int VignetView::enabledSetting() { return enabledOn; }

}  // namespace panels
