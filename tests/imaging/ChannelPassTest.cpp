#include <gtest/gtest.h>

#include <array>

#include "ReferenceRenderers.h"
#include "TestPictures.h"
#include "imaging/ChannelPass.h"

using imaging::AdjustmentState;
using imaging::Bitmap;
using imaging::SliderValues;
using testpictures::channels;
using testpictures::pixelRow;

namespace {

using Rgb = std::array<int, 3>;

Rgb renderOne(Rgb pixel, const AdjustmentState& state, const SliderValues& sliders = {},
              std::uint64_t seed = 7) {
    Bitmap bitmap = pixelRow({pixel});
    imaging::channelPass(bitmap, state, sliders, seed);
    return channels(bitmap, 0);
}

AdjustmentState resetState() {
    AdjustmentState s;
    imaging::resetState(s);
    return s;
}

TEST(ChannelPass, DefaultStateTurnsEveryPixelIntoItsTruncatedAverageAndKeepsAlpha) {
    Bitmap bitmap = testpictures::randomBitmap(33, 9);
    bitmap.data()[0] = 17;  // alpha is never touched, even when not opaque
    const Bitmap original = bitmap.clone();
    imaging::channelPass(bitmap, resetState(), {}, 1);
    for (std::size_t i = 0; i < bitmap.byteCount(); i += 4) {
        const int grey =
            (original.data()[i + 1] + original.data()[i + 2] + original.data()[i + 3]) / 3;
        ASSERT_EQ(bitmap.data()[i], original.data()[i]);
        ASSERT_EQ(bitmap.data()[i + 1], grey);
        ASSERT_EQ(bitmap.data()[i + 2], grey);
        ASSERT_EQ(bitmap.data()[i + 3], grey);
    }
}

TEST(ChannelPass, LightAndDarkSlidersPivotOn128AndWidenTheFloatSliderValue) {
    const AdjustmentState s = resetState();
    SliderValues light;
    light.slider1 = 10;
    EXPECT_EQ(renderOne({200, 200, 200}, s, light), (Rgb{255, 255, 255}));  // 200 + 73 clamps
    EXPECT_EQ(renderOne({140, 140, 140}, s, light), (Rgb{153, 153, 153}));  // 140 + 10 * 1.3

    // 128 belongs to the dark side, where its distance from 128 is 0.
    for (float v : {-5.0f, 10.0f, 3.7f}) {
        SliderValues both;
        both.slider1 = v;
        both.slider2 = v;
        EXPECT_EQ(renderOne({128, 128, 128}, s, both), (Rgb{128, 128, 128}));
    }

    SliderValues dark;
    dark.slider2 = 10;
    EXPECT_EQ(renderOne({20, 20, 20}, s, dark), (Rgb{0, 0, 0}));  // 20 - 108 clamps at 0
    dark.slider2 = -5;
    EXPECT_EQ(renderOne({100, 100, 100}, s, dark), (Rgb{114, 114, 114}));

    // 0.3f is a little more than 0.3: 28 - 3.0000001 truncates to 24, where
    // the decimal 0.3 would give exactly 25.
    dark.slider2 = 0.3f;
    EXPECT_EQ(renderOne({28, 28, 28}, s, dark), (Rgb{24, 24, 24}));
}

TEST(ChannelPass, ExposureQuantisationAndInversionActOnEachChannelBeforeTheLanes) {
    AdjustmentState s = resetState();
    s.filterType = 1;  // red lane only, so each step is visible on its own
    s.exposureOn = 1;
    s.exposureValue = 200;
    EXPECT_EQ(renderOne({150, 0, 0}, s)[0], 255);
    EXPECT_EQ(renderOne({100, 0, 0}, s)[0], 200);
    s.exposureValue = 33;
    EXPECT_EQ(renderOne({100, 0, 0}, s)[0], 33);
    s.exposureValue = 150;
    EXPECT_EQ(renderOne({101, 0, 0}, s)[0], 151);  // trunc(151.5)

    s = resetState();
    s.filterType = 1;
    s.quantOn = 1;
    s.quantValue = 64;
    for (int c : {0, 63, 64, 127, 128, 191, 192, 255}) {
        EXPECT_EQ(renderOne({c, 0, 0}, s)[0], c / 64 * 64) << c;
    }
    s.quantValue = 0;  // a zero step is skipped rather than dividing by zero
    EXPECT_EQ(renderOne({77, 0, 0}, s)[0], 77);

    s = resetState();
    s.filterType = 1;
    s.inverseOn = 1;
    EXPECT_EQ(renderOne({30, 0, 0}, s)[0], 225);
}

TEST(ChannelPass, TonesRoundHalfAwayFromZeroAndTintsTruncate) {
    AdjustmentState s = resetState();
    s.toneOn = 1;
    s.toneType = 1;
    EXPECT_EQ(renderOne({100, 100, 100}, s), (Rgb{100, 88, 75}));
    EXPECT_EQ(renderOne({6, 6, 6}, s), (Rgb{6, 5, 5}));  // 4.5 rounds up, not to even
    s.toneType = 2;
    EXPECT_EQ(renderOne({100, 100, 100}, s), (Rgb{100, 93, 65}));
    s.toneType = 3;
    s.tintR = 128;
    s.tintG = 255;
    s.tintB = 0;
    EXPECT_EQ(renderOne({100, 100, 100}, s), (Rgb{50, 100, 0}));  // 50.196 truncates
    s.toneOn = 0;  // the type alone does nothing in this renderer
    EXPECT_EQ(renderOne({100, 100, 100}, s), (Rgb{100, 100, 100}));
}

TEST(ChannelPass, PerLaneClampsDragTheEarlierLanesToTheClampValue) {
    AdjustmentState s = resetState();
    s.colourControls = 1;
    s.filterType = 1;  // all three lanes carry red
    SliderValues sl;
    sl.sliderG = 10;  // lane b: 200 + 73 leaves the range
    EXPECT_EQ(renderOne({200, 0, 0}, s, sl), (Rgb{255, 255, 255}));

    // Lane c clamped low overrides lane b clamped high, for P and Q both.
    s.filterType = 7;  // unknown filter: lanes are red, green, blue
    sl = {};
    sl.sliderG = 10;
    sl.sliderB2 = 10;
    // P = Q = 0 (lane c's clamp), Rr = 0: everything becomes 0.
    EXPECT_EQ(renderOne({90, 250, 20}, s, sl), (Rgb{0, 0, 0}));

    // Without a clamp the lanes are mixed a second time: s, t, (s + Rr + t) / 3.
    sl = {};
    const Rgb r = renderOne({90, 150, 30}, s, sl);
    const int sm = (90 + 150 + 30) / 3, t = (150 + 30 + sm) / 3, z = (sm + 30 + t) / 3;
    const int I = (sm + t + z) / 3, J = (z + t + I) / 3, K = (I + z + J) / 3;
    EXPECT_EQ(r, (Rgb{I, J, K}));

    // With one slider pair for all lanes, a clamp in one lane stays in that lane.
    s.colourControls = 0;
    sl.slider1 = 10;
    const Rgb single = renderOne({90, 250, 20}, s, sl);
    const int x = 90, y = 255, zz = 20;
    const int I2 = (x + y + zz) / 3, J2 = (zz + y + I2) / 3, K2 = (I2 + zz + J2) / 3;
    EXPECT_EQ(single, (Rgb{I2, J2, K2}));
}

TEST(ChannelPass, MatchesThePixelByPixelRendererForEverySettingCombination) {
    const Bitmap source = testpictures::randomBitmap(61, 23, 4 * 64, 3);
    const SliderValues sliderSets[] = {
        {},
        {10, -5, 0, 0, 0, 0, 0, 0},
        {5.3f, 0, -4.1f, 9.7f, 2.2f, 10, -5, 0.3f},
        {-5, 10, 10, -5, 7, 7, 3.3f, -2.6f},
    };
    int combinations = 0;
    for (int filter = 0; filter <= 7; ++filter) {
        for (int lanes = 0; lanes <= 1; ++lanes) {
            for (int tone = 0; tone <= 3; ++tone) {
                for (int effects = 0; effects < 3; ++effects) {
                    for (const SliderValues& sl : sliderSets) {
                        AdjustmentState s = resetState();
                        s.filterType = filter;
                        s.colourControls = lanes;
                        s.toneOn = tone != 0;
                        s.toneType = tone;
                        s.tintR = 200, s.tintG = 131, s.tintB = 77;
                        if (effects == 1) {
                            s.exposureOn = 1, s.exposureValue = 137;
                            s.quantOn = 1, s.quantValue = 7;
                            s.alphaOn = 1, s.alphaValue = 37;
                        } else if (effects == 2) {
                            s.exposureOn = 1, s.exposureValue = 61;
                            s.inverseOn = 1;
                            s.alphaOn = 1, s.alphaValue = 0;
                        }
                        Bitmap fast = source.clone();
                        Bitmap slow = source.clone();
                        imaging::channelPass(fast, s, sl, 1);
                        reference::channelPass(slow, s, sl);
                        ASSERT_TRUE(testpictures::sameBytes(fast, slow))
                            << "filter " << filter << " lanes " << lanes << " tone " << tone
                            << " effects " << effects << " slider1 " << sl.slider1;
                        ++combinations;
                    }
                }
            }
        }
    }
    EXPECT_EQ(combinations, 8 * 2 * 4 * 3 * 4);
}

TEST(ChannelPass, NoiseIsOneGreyPerPixelRepeatableBySeedAndZeroBelowASumOfThree) {
    AdjustmentState s = resetState();
    s.noiseOn = 1;
    s.noiseValue = 100;  // a = 1: the pixel becomes the noise grey
    const Bitmap source = testpictures::randomBitmap(64, 48, 0, 5);
    Bitmap first = source.clone();
    Bitmap again = source.clone();
    Bitmap other = source.clone();
    imaging::channelPass(first, s, {}, 42);
    imaging::channelPass(again, s, {}, 42);
    imaging::channelPass(other, s, {}, 43);
    EXPECT_TRUE(testpictures::sameBytes(first, again));
    EXPECT_FALSE(testpictures::sameBytes(first, other));
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const auto in = channels(source, x, y);
            const auto out = channels(first, x, y);
            const unsigned m = unsigned((in[0] + in[1] + in[2]) / 3);  // grey, S = 3m
            ASSERT_EQ(out[0], out[1]);
            ASSERT_EQ(out[1], out[2]);
            if (m == 0) {
                ASSERT_EQ(out[0], 0);
            } else {
                ASSERT_GE(unsigned(out[0]), m / 2);  // (m + u mod m) / 2
                ASSERT_LE(unsigned(out[0]), (2 * m - 1) / 2);
            }
        }
    }

    // A sum below 3 gets the grey 0 and is only scaled by 1 - a.
    s.noiseValue = 30;
    s.toneOn = 1;
    s.toneType = 3;
    s.tintR = s.tintG = 255;
    s.tintB = 0;  // grey 1 becomes (1, 1, 0): S = 2
    for (std::uint64_t seed = 0; seed < 5; ++seed) {
        EXPECT_EQ(renderOne({1, 1, 1}, s, {}, seed), (Rgb{0, 0, 0}));  // trunc(0.7)
    }
    s.noiseValue = 1;
    EXPECT_EQ(renderOne({2, 2, 2}, s, {}, 9),
              (Rgb{1, 1, 0}));  // m = 1 gives grey 0: trunc(2 * 0.99)
}

}  // namespace
