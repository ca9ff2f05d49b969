#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "imaging/AdjustmentState.h"
#include "imaging/PanelSettings.h"
#include "imaging/ResetDefaults.h"

namespace {

// Reset writes the same values into the defaults store and into the adjustments, so that the
// next panel poll reads back exactly what reset left on screen.
TEST(PanelSettings, ResetGivesTheStoreAndTheAdjustmentsTheSameValues) {
    QTemporaryDir dir;
    platform::Defaults defaults(dir.filePath("config.ini"));
    defaults.setInteger(1, imaging::keys::activate);
    defaults.setInteger(777, imaging::keys::Size);
    imaging::resetDefaults(defaults);

    imaging::AdjustmentState state;
    state.alphaValue = 3;
    state.tintG = 9;
    state.vigRadius = 99;
    state.outputSize = 777;
    imaging::resetState(state);

    EXPECT_EQ(defaults.integerForKey(imaging::keys::activate), 0);
    for (const imaging::PanelSetting& setting : imaging::kPanelSettings) {
        SCOPED_TRACE(setting.key->toStdString());
        EXPECT_EQ(defaults.integerForKey(*setting.key), state.*setting.field);
    }
    // Reset leaves the output size alone in both.
    EXPECT_EQ(defaults.integerForKey(imaging::keys::Size), 777);
    EXPECT_EQ(state.outputSize, 777);
    EXPECT_EQ(state.tintR, 255);
    EXPECT_EQ(state.vigRadius, 20);
    EXPECT_EQ(state.quantValue, 1);
}

TEST(PanelSettings, StepSwitchesFollowTheirPanelsValues) {
    struct Case {
        const char* name;
        int panel;
        void (*change)(imaging::AdjustmentState&);
        std::uint8_t imaging::AdjustmentState::*expectedOn;
    };
    const Case cases[] = {
        {"white tint", 1, [](imaging::AdjustmentState&) {}, nullptr},
        {"blue below white", 1, [](imaging::AdjustmentState& s) { s.tintB = 254; },
         &imaging::AdjustmentState::toneOn},
        {"neutral processing", 3, [](imaging::AdjustmentState&) {}, nullptr},
        {"alpha", 3, [](imaging::AdjustmentState& s) { s.alphaValue = 50; },
         &imaging::AdjustmentState::alphaOn},
        {"exposure", 3, [](imaging::AdjustmentState& s) { s.exposureValue = 101; },
         &imaging::AdjustmentState::exposureOn},
        {"noise", 3, [](imaging::AdjustmentState& s) { s.noiseValue = 1; },
         &imaging::AdjustmentState::noiseOn},
        {"quant", 3, [](imaging::AdjustmentState& s) { s.quantValue = 4; },
         &imaging::AdjustmentState::quantOn},
        {"inverse", 3, [](imaging::AdjustmentState& s) { s.inverseValue = 1; },
         &imaging::AdjustmentState::inverseOn},
    };
    using S = imaging::AdjustmentState;
    std::uint8_t S::*const switches[] = {&S::toneOn,  &S::alphaOn, &S::exposureOn,
                                         &S::noiseOn, &S::quantOn, &S::inverseOn};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        S state;
        imaging::resetState(state);
        // Every switch starts on, so a switch left alone shows up as well as one set wrongly.
        for (auto field : switches) state.*field = 1;
        c.change(state);
        imaging::settleStepSwitches(state, c.panel);
        for (auto field : switches) {
            const bool ofThisPanel = c.panel == 1 ? field == &S::toneOn : field != &S::toneOn;
            const int expected = !ofThisPanel ? 1 : (field == c.expectedOn ? 1 : 0);
            EXPECT_EQ(state.*field, expected);
        }
    }
}

}  // namespace
