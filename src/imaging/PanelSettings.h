#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

#include "imaging/AdjustmentState.h"

namespace imaging {

// Defaults keys through which the panels hand their values to the main screen.
namespace keys {
inline const QString activate = QStringLiteral("activate");
inline const QString R = QStringLiteral("R");
inline const QString G = QStringLiteral("G");
inline const QString B = QStringLiteral("B");
inline const QString Rad = QStringLiteral("Rad");
inline const QString Type = QStringLiteral("Type");
inline const QString Effect = QStringLiteral("Effect");
inline const QString Enabled = QStringLiteral("Enabled");
inline const QString Alpha = QStringLiteral("Alpha");
inline const QString Exposure = QStringLiteral("Exposure");
inline const QString Noise = QStringLiteral("Noise");
inline const QString Quant = QStringLiteral("Quant");
inline const QString Inverse = QStringLiteral("Inverse");
inline const QString Size = QStringLiteral("Size");
inline const QString Ornaments = QStringLiteral("Ornaments");
}  // namespace keys

// One integer a panel hands over: the adjustment the main screen reads it into while that
// panel is open, the value reset gives both (none: reset leaves it alone), and the switch of
// the step it drives, which is on while any of its values is away from its reset value.
struct PanelSetting {
    const QString* key;
    int panel;  // the openPanel value of the panel that writes it
    int AdjustmentState::*field;
    std::optional<int> resetValue;
    std::uint8_t AdjustmentState::*stepSwitch = nullptr;
};

// In the order reset writes them.
inline const std::array<PanelSetting, 13> kPanelSettings = {{
    {&keys::Type, 2, &AdjustmentState::vigType, 1},
    {&keys::Rad, 2, &AdjustmentState::vigRadius, 20},
    {&keys::Effect, 2, &AdjustmentState::vigEffect, 1},
    {&keys::Enabled, 2, &AdjustmentState::vigEnabled, 0},
    {&keys::Alpha, 3, &AdjustmentState::alphaValue, 100, &AdjustmentState::alphaOn},
    {&keys::Exposure, 3, &AdjustmentState::exposureValue, 100, &AdjustmentState::exposureOn},
    {&keys::R, 1, &AdjustmentState::tintR, 255, &AdjustmentState::toneOn},
    {&keys::G, 1, &AdjustmentState::tintG, 255, &AdjustmentState::toneOn},
    {&keys::B, 1, &AdjustmentState::tintB, 255, &AdjustmentState::toneOn},
    {&keys::Noise, 3, &AdjustmentState::noiseValue, 0, &AdjustmentState::noiseOn},
    {&keys::Quant, 3, &AdjustmentState::quantValue, 1, &AdjustmentState::quantOn},
    {&keys::Inverse, 3, &AdjustmentState::inverseValue, 0, &AdjustmentState::inverseOn},
    {&keys::Size, 4, &AdjustmentState::outputSize, std::nullopt},
}};

// Sets the step switches of one panel's settings from their values (tint: toneOn; processing:
// alphaOn, exposureOn, noiseOn, quantOn, inverseOn).
inline void settleStepSwitches(AdjustmentState& state, int panel) {
    for (const PanelSetting& setting : kPanelSettings) {
        if (setting.panel == panel && setting.stepSwitch) state.*setting.stepSwitch = 0;
    }
    for (const PanelSetting& setting : kPanelSettings) {
        if (setting.panel == panel && setting.stepSwitch &&
            state.*setting.field != *setting.resetValue) {
            state.*setting.stepSwitch = 1;
        }
    }
}

}  // namespace imaging
