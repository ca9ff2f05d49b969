#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "imaging/AdjustmentState.h"
#include "imaging/PanelSettings.h"
#include "imaging/ResetDefaults.h"

namespace {

using S = imaging::AdjustmentState;

// The next panel poll reads back exactly what reset left on screen; the output size stays.
TEST(PanelSettings, ResetGivesTheStoreAndTheAdjustmentsTheSameValues) {
    QTemporaryDir dir;
    platform::Defaults defaults(dir.filePath("config.ini"));
    defaults.setInteger(777, imaging::keys::Size);
    imaging::resetDefaults(defaults);
    S state;
    state.tintG = 9;
    state.vigRadius = 99;
    state.outputSize = 777;
    imaging::resetState(state);
    for (const imaging::PanelSetting& setting : imaging::kPanelSettings) {
        SCOPED_TRACE(setting.key->toStdString());
        EXPECT_EQ(defaults.integerForKey(*setting.key), state.*setting.field);
    }
    EXPECT_EQ(defaults.integerForKey(imaging::keys::Size), 777);
    EXPECT_EQ(state.outputSize, 777);
    EXPECT_EQ(state.vigRadius, 20);
}

TEST(PanelSettings, StepSwitchesFollowTheirPanelsValues) {
    const std::tuple<int, void (*)(S&), std::uint8_t S::*> cases[] = {
        {1, [](S&) {}, nullptr},
        {1, [](S& s) { s.tintB = 254; }, &S::toneOn},
        {3, [](S&) {}, nullptr},
        {3, [](S& s) { s.exposureValue = 101; }, &S::exposureOn},
        {3, [](S& s) { s.quantValue = 4; }, &S::quantOn},
        {3, [](S& s) { s.inverseValue = 1; }, &S::inverseOn},
    };
    std::uint8_t S::*const switches[] = {&S::toneOn,  &S::alphaOn, &S::exposureOn,
                                         &S::noiseOn, &S::quantOn, &S::inverseOn};
    for (const auto& [panel, change, expectedOn] : cases) {
        S state;
        imaging::resetState(state);
        // Every switch starts on, so a switch left alone shows up as well as one set wrongly.
        for (auto field : switches) state.*field = 1;
        change(state);
        imaging::settleStepSwitches(state, panel);
        for (int i = 0; i < 6; ++i) {
            const bool ofThisPanel = (panel == 1) == (switches[i] == &S::toneOn);
            EXPECT_EQ(state.*switches[i], !ofThisPanel || switches[i] == expectedOn)
                << "panel " << panel << ", switch " << i << ", case for "
                << (expectedOn != nullptr);
        }
    }
}

}  // namespace
