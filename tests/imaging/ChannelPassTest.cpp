#include <gtest/gtest.h>

#include <array>

#include "ReferenceRenderers.h"
#include "TestPictures.h"
#include "imaging/ChannelPass.h"

using imaging::AdjustmentState;
using imaging::Bitmap;
using imaging::SliderValues;
using testpictures::channels;
using testpictures::resetAdjustments;

namespace {

using Rgb = std::array<int, 3>;

Rgb renderOne(Rgb pixel, const AdjustmentState& state, const SliderValues& sliders = {},
              std::uint64_t seed = 7) {
    Bitmap bitmap = testpictures::onePixel(pixel);
    imaging::channelPass(bitmap, state, sliders, seed);
    return channels(bitmap, 0);
}

// The fine points where a plausible renderer and a plausible reference would go wrong together;
// everything else is compared with the reference below.
TEST(ChannelPass, FinePointsOfTheArithmetic) {
    AdjustmentState sepia = resetAdjustments();
    sepia.toneOn = 1, sepia.toneType = 1;
    AdjustmentState typeOnly = resetAdjustments();
    typeOnly.toneType = 3, typeOnly.tintR = 128, typeOnly.tintG = 255, typeOnly.tintB = 0;
    AdjustmentState noStep = resetAdjustments();
    noStep.filterType = 1, noStep.quantOn = 1, noStep.quantValue = 0;
    AdjustmentState perLane = resetAdjustments();
    perLane.colourControls = 1, perLane.filterType = 1;
    SliderValues dark, both, laneG;
    dark.slider2 = 0.3f;
    both.slider1 = both.slider2 = 10;
    laneG.sliderG = 10;
    const struct {
        const char* name;
        Rgb pixel;
        AdjustmentState state;
        SliderValues sliders;
        Rgb expected;
    } cases[] = {
        // 0.3f is a little more than 0.3: 28 - 3.0000001 truncates to 24, not 25.
        {"the float slider is widened", {28, 28, 28}, resetAdjustments(), dark, {24, 24, 24}},
        {"128 belongs to the dark side",
         {128, 128, 128},
         resetAdjustments(),
         both,
         {128, 128, 128}},
        {"4.5 rounds away from zero", {6, 6, 6}, sepia, {}, {6, 5, 5}},
        {"the tone type alone does nothing", {100, 100, 100}, typeOnly, {}, {100, 100, 100}},
        {"a zero quantisation step is skipped", {77, 0, 0}, noStep, {}, {77, 77, 77}},
        {"a lane clamp drags the earlier lanes", {200, 0, 0}, perLane, laneG, {255, 255, 255}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(renderOne(c.pixel, c.state, c.sliders), c.expected) << c.name;
}

TEST(ChannelPass, MatchesThePixelByPixelRendererForEverySettingCombination) {
    Bitmap source = testpictures::randomBitmap(61, 23, 4 * 64, 3);
    source.data()[0] = 17;  // alpha is never touched, even when not opaque
    const SliderValues sliderSets[] = {
        {},
        {10, -5, 0, 0, 0, 0, 0, 0},
        {5.3f, 0, -4.1f, 9.7f, 2.2f, 10, -5, 0.3f},
        {-5, 10, 10, -5, 7, 7, 3.3f, -2.6f},
    };
    // Every filter, with and without lanes, every tone, every slider set, and the effects
    // off, brightening with quantisation, and darkening with inversion and a zero alpha.
    for (int combo = 0; combo < 8 * 2 * 4 * 3 * 4; ++combo) {
        const int filter = combo % 8, lanes = combo / 8 % 2, tone = combo / 16 % 4;
        const int effect = combo / 64 % 3;
        const SliderValues& sl = sliderSets[combo / 192];
        AdjustmentState s = resetAdjustments();
        s.filterType = filter;
        s.colourControls = lanes;
        s.toneOn = tone != 0;
        s.toneType = tone;
        s.tintR = 200, s.tintG = 131, s.tintB = 77;
        s.exposureOn = s.alphaOn = effect != 0;
        s.exposureValue = effect == 1 ? 137 : 61;
        s.quantOn = effect == 1, s.quantValue = 7;
        s.inverseOn = effect == 2;
        s.alphaValue = effect == 1 ? 37 : 0;
        Bitmap fast = source.clone();
        Bitmap slow = source.clone();
        imaging::channelPass(fast, s, sl, 1);
        reference::channelPass(slow, s, sl);
        ASSERT_TRUE(testpictures::sameBytes(fast, slow))
            << "filter " << filter << " lanes " << lanes << " tone " << tone << " effect " << effect
            << " slider1 " << sl.slider1;
    }
}

TEST(ChannelPass, NoiseIsOneGreyPerPixelRepeatableBySeedAndZeroBelowASumOfThree) {
    AdjustmentState s = resetAdjustments();
    s.noiseOn = 1;
    s.noiseValue = 100;  // a = 1: the pixel becomes the noise grey
    const Bitmap source = testpictures::randomBitmap(64, 48, 0, 5);
    Bitmap first = source.clone(), again = source.clone(), other = source.clone();
    imaging::channelPass(first, s, {}, 42);
    imaging::channelPass(again, s, {}, 42);
    imaging::channelPass(other, s, {}, 43);
    EXPECT_TRUE(testpictures::sameBytes(first, again));
    EXPECT_FALSE(testpictures::sameBytes(first, other));
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const auto in = channels(source, x, y);
            const auto out = channels(first, x, y);
            const int m = (in[0] + in[1] + in[2]) / 3;  // grey, S = 3m
            ASSERT_EQ(out, (Rgb{out[0], out[0], out[0]}));
            // (m + u mod m) / 2, and 0 for m = 0.
            ASSERT_GE(out[0], m / 2);
            ASSERT_LE(out[0], std::max(0, (2 * m - 1) / 2));
        }
    }
    // A sum below 3 gets the grey 0 and is only scaled by 1 - a: the custom tint turns the
    // grey 1 into (1, 1, 0), S = 2, and 0.7 truncates to 0; the grey 2 (m = 1) to 1.98.
    s.toneOn = 1, s.toneType = 3;
    s.tintR = s.tintG = 255, s.tintB = 0;
    const struct {
        int noise, grey;
        Rgb expected;
    } small[] = {{30, 1, {0, 0, 0}}, {1, 2, {1, 1, 0}}};
    for (const auto& c : small) {
        s.noiseValue = c.noise;
        for (std::uint64_t seed = 0; seed < 5; ++seed)
            EXPECT_EQ(renderOne({c.grey, c.grey, c.grey}, s, {}, seed), c.expected) << c.grey;
    }
}

}  // namespace
