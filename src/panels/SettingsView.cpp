#include "panels/SettingsView.h"

#include <QVBoxLayout>
#include <cstdint>

#include "imaging/PanelSettings.h"
#include "platform/Defaults.h"
#include "platform/widgets/SegmentedControl.h"
#include "platform/widgets/Switch.h"
#include "ui/LayoutLoader.h"

namespace panels {

namespace keys = imaging::keys;

namespace {

int sizeValue = 650;
int ornamentsValue = 1;

}  // namespace

SettingsView::SettingsView(qreal screenScale, QWidget* parent)
    : QWidget(parent), screenScale_(screenScale) {
    QWidget* root = ui::loadLayout(QStringLiteral("settings"), this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(root);
    SizeSelection = ui::field<platform::SegmentedControl>(root, "SizeSelection");
    OrnamentSwitch = ui::field<platform::Switch>(root, "OrnamentSwitch");

    connect(SizeSelection, &platform::SegmentedControl::valueChanged, this, &SettingsView::getSize);
    connect(OrnamentSwitch, &platform::Switch::clicked, this, &SettingsView::getOrnaments);
    viewDidLoad();
}

void SettingsView::viewDidLoad() {
    auto& defaults = platform::Defaults::standard();
    sizeValue = defaults.integerForKey(keys::Size);
    ornamentsValue = defaults.boolForKey(keys::Ornaments) ? 1 : 0;
    defaults.synchronize();

    OrnamentSwitch->setOn(static_cast<std::uint8_t>(ornamentsValue) != 0);
    int segment = 0;
    if (sizeValue == 1300)
        segment = 1;
    else if (sizeValue != 650)
        segment = screenScale_ == 2.0 ? 1 : 0;
    SizeSelection->setSelectedSegmentIndex(segment);
}

void SettingsView::getSize() {
    const int segment = SizeSelection->selectedSegmentIndex();
    if (segment == 0)
        sizeValue = 650;
    else if (segment == 1)
        sizeValue = 1300;
    else
        sizeValue = screenScale_ == 2.0 ? 1300 : 650;
    auto& defaults = platform::Defaults::standard();
    defaults.setInteger(sizeValue, keys::Size);
    defaults.setInteger(1, keys::activate);
    defaults.synchronize();
}

void SettingsView::getOrnaments() {
    ornamentsValue = OrnamentSwitch->isOn() ? 1 : 0;
    auto& defaults = platform::Defaults::standard();
    defaults.setInteger(ornamentsValue, keys::Ornaments);
    defaults.setInteger(1, keys::activate);
    defaults.synchronize();
}

int SettingsView::sizeSetting() { return sizeValue; }
int SettingsView::ornamentsSetting() { return ornamentsValue; }

}  // namespace panels
