#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "ReferenceRenderers.h"
#include "TestPictures.h"
#include "imaging/BandedPass.h"
#include "imaging/RowPadding.h"

using imaging::AdjustmentState;
using imaging::Bitmap;
using imaging::SliderValues;
using testpictures::channels;
using testpictures::resetAdjustments;

namespace {

using Rgb = std::array<int, 3>;

Rgb renderOne(Rgb pixel, const AdjustmentState& state, const SliderValues& sliders = {}) {
    Bitmap bitmap = testpictures::onePixel(pixel);
    imaging::bandedPass(bitmap, 0, state, sliders, 1);
    return channels(bitmap, 0);
}

// The fine points of the band arithmetic; the full table is compared with the reference below.
TEST(BandedPass, FinePointsOfTheBands) {
    const AdjustmentState s = resetAdjustments();
    const struct {
        Rgb pixel;
        SliderValues sliders;
        Rgb expected;
    } cases[] = {
        {{1, 1, 0}, {}, {1, 1, 0}},  // a channel sum up to 2 keeps its colour
        {{3, 0, 0}, {}, {1, 1, 1}},
        {{10, 200, 90}, {}, {100, 100, 100}},
        {{120, 120, 120}, {0, -5}, {133, 133, 133}},  // 132.5 rounds away from zero
        // The offset is a single-precision product: 0.2f * 0.5f is a little more than 0.1,
        // so 120 - 5 * o lies just below 119.5.
        {{120, 120, 120}, {0, 0.2f}, {119, 119, 119}},
        {{128, 128, 128}, {3, 100}, {130, 130, 130}},  // the sum 384 is the first light band
        {{128, 128, 127}, {100, 3}, {126, 126, 126}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(renderOne(c.pixel, s, c.sliders), c.expected)
            << c.pixel[0] << "," << c.pixel[1] << "," << c.pixel[2];
    }
}

TEST(BandedPass, BandTableMatchesForEveryChannelSum) {
    // One pixel for every sum 0..765, spread over the three channels.
    Bitmap bitmap = Bitmap::zeroed(766, 1);
    for (int l = 0; l <= 765; ++l) {
        std::uint8_t* px = bitmap.pixel(l, 0);
        px[0] = 255;
        px[1] = std::uint8_t(std::min(255, l));
        px[2] = std::uint8_t(std::clamp(l - 255, 0, 255));
        px[3] = std::uint8_t(std::clamp(l - 510, 0, 255));
    }
    const AdjustmentState s = resetAdjustments();
    const SliderValues sliderSets[] = {{0, 0},        {10, 10},     {-5, -5},
                                       {5.3f, -5.0f}, {0.7f, 9.9f}, {-3.3f, 1.1f}};
    for (const SliderValues& sl : sliderSets) {
        Bitmap fast = bitmap.clone();
        Bitmap slow = bitmap.clone();
        imaging::bandedPass(fast, 0, s, sl, 1);
        reference::bandedPass(slow, 0, s, sl);
        ASSERT_TRUE(testpictures::sameBytes(fast, slow)) << sl.slider1 << " " << sl.slider2;
    }
}

// Each noise grey lies between half the pixel's grey and just below it.
TEST(BandedPass, SparseNoiseReplacesAboutThreePixelsInEveryModulus) {
    AdjustmentState s = resetAdjustments();
    s.noiseOn = 1;
    const Bitmap grey = testpictures::greyPicture(100, 100, 120);
    // Modulus 2 replaces every pixel, modulus 50 about 3 in 50; 250 is beyond the panel's
    // range and must neither divide by zero nor wrap.
    const struct {
        int noise, fewest, most;
    } cases[] = {{100, 10000, 10000}, {52, 400, 800}, {250, 0, 10000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.noise);
        s.noiseValue = c.noise;
        Bitmap noisy = grey.clone();
        imaging::bandedPass(noisy, 0, s, {}, 3);
        int replaced = 0;
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 100; ++x) {
                const auto v = channels(noisy, x, y);
                ASSERT_EQ(v, (Rgb{v[0], v[0], v[0]}));
                ASSERT_TRUE(v[0] == 120 || (v[0] >= 60 && v[0] <= 119)) << v[0];
                replaced += v[0] != 120;
            }
        }
        EXPECT_GE(replaced, c.fewest);
        EXPECT_LE(replaced, c.most);
    }
}

// On a 201 x 101 picture hw = 100, hh = 50 and D = 111: the pixel (99, 49) is the centre,
// (199, 99) lies at the distance D, (49, 49) at 50.
TEST(BandedPass, VignetteDarkensToBlackAndLightensToWhiteAtTheCornerDistance) {
    const int darkenedAt50 = int(std::round(150 * (1 - 1.5 * 0.68 * (50.0 / 111))));
    const struct {
        int effect, radius, grey, x, y, expected;
    } cases[] = {
        {1, 20, 150, 99, 49, 150}, {1, 20, 150, 199, 99, 0},  // f = 1 - 1.5 * 0.68 < 0
        {1, 20, 150, 0, 0, 0},     {1, 20, 150, 49, 49, darkenedAt50},
        {2, 20, 82, 99, 49, 82},   {2, 20, 82, 199, 99, 255},  // 82 / 0.32 > 255
        {2, 20, 81, 199, 99, 253},                             // 81 / 0.32 = 253.1
        {2, 400, 40, 0, 0, 255},  // 1 - t below 0 still gives white, not garbage
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "effect " << c.effect << " radius " << c.radius
                                        << " grey " << c.grey << " at " << c.x << "," << c.y);
        AdjustmentState s = resetAdjustments();
        s.vigEnabled = 1, s.vigEffect = c.effect, s.vigRadius = c.radius;
        Bitmap b = testpictures::greyPicture(201, 101, c.grey);
        imaging::bandedPass(b, 0, s, {}, 1);
        EXPECT_EQ(channels(b, c.x, c.y), (Rgb{c.expected, c.expected, c.expected}));
    }
}

// The buffer rows really carry `padding` extra pixels, as the fit lays them out. The large
// picture uses the per-distance word table; its black corner holds channel sums up to 2,
// which keep their own channels.
TEST(BandedPass, VignetteMatchesTheReferenceOverRowsOfWidthPlusPadding) {
    AdjustmentState s = resetAdjustments();
    s.vigEnabled = 1;
    s.quantOn = 1;
    s.tintR = 250, s.tintG = 180, s.tintB = 90;
    const struct {
        int width, height, radius, alpha, exposure, quant;
        std::initializer_list<int> tones, paddings;
        SliderValues sliders;
    } sizes[] = {{47, 31, 37, 80, 120, 5, {2}, {0, 3, 6}, {4.4f, -2.2f}},
                 {900, 640, 63, 100, 100, 1, {0, 1, 3}, {0, 4}, {-3.1f, 6.7f}}};
    for (const auto& size : sizes) {
        s.vigRadius = size.radius;
        s.alphaValue = size.alpha;
        s.exposureValue = size.exposure;
        s.quantValue = size.quant;
        for (int tone : size.tones) {
            s.toneType = tone;
            for (int effect : {1, 2}) {
                s.vigEffect = effect;
                for (int padding : size.paddings) {
                    SCOPED_TRACE(testing::Message() << size.width << " tone " << tone << " effect "
                                                    << effect << " padding " << padding);
                    Bitmap source = testpictures::randomBitmap(size.width, size.height,
                                                               4 * (size.width + padding), 11);
                    for (int y = 0; y < std::min(40, size.height); ++y) {
                        for (int x = 0; x < 40; ++x) {
                            std::uint8_t* px = source.row(y) + 4 * x;
                            px[1] = std::uint8_t(x % 2), px[2] = std::uint8_t(y % 2), px[3] = 0;
                        }
                    }
                    Bitmap fast = source.clone();
                    Bitmap slow = source.clone();
                    imaging::bandedPass(fast, padding, s, size.sliders, 1);
                    reference::bandedPass(slow, padding, s, size.sliders);
                    ASSERT_TRUE(testpictures::sameBytes(fast, slow));
                }
            }
        }
    }
    // When the assumed padding matches the rows, the vignette is symmetric.
    s = resetAdjustments();
    s.vigEnabled = 1;
    s.vigRadius = 20;
    Bitmap padded = testpictures::greyPicture(40, 40, 200, 4 * 46);
    imaging::bandedPass(padded, 6, s, {}, 1);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(channels(padded, i, 5), channels(padded, 5, i)) << i;
    }
}

TEST(RowPadding, FollowsTheTableForLandscapePortraitAndSquarePictures) {
    // Landscape pictures by output size only, portrait ones by output size and the truncated
    // width.
    const struct {
        int size;
        float width, height;
        int padding;
    } cases[] = {
        {450, 450, 300, 6},    {500, 500, 375, 4},    {550, 550, 412, 2},   {600, 600, 450, 0},
        {650, 650, 487, 0},    {450, 332, 450, 5},    {450, 333, 450, 7},   {450, 337, 450, 7},
        {450, 337.4f, 450, 7}, {450, 337.6f, 450, 6}, {450, 338, 450, 6},   {450, 339, 450, 5},
        {500, 370, 500, 7},    {500, 371, 500, 2},    {500, 374, 500, 2},   {500, 375, 500, 1},
        {500, 379, 500, 1},    {500, 380, 500, 7},    {550, 410, 550, 1},   {550, 411, 550, 5},
        {550, 412, 550, 3},    {550, 414, 550, 3},    {550, 415, 550, 1},   {600, 445, 600, 4},
        {600, 446, 600, 7},    {600, 449, 600, 7},    {600, 450, 600, 6},   {600, 454, 600, 6},
        {600, 455, 600, 4},    {650, 487, 650, 0},    {1300, 975, 1300, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(imaging::rowPadding(c.size, c.width, c.height), c.padding)
            << c.size << " " << c.width << "x" << c.height;
    }
    // Square pictures by their side, whatever the output size.
    const std::pair<float, int> squares[] = {{480, 6}, {499.5f, 6}, {500, 4}, {501, 3},
                                             {525, 3}, {526, 2},    {550, 2}, {551, 0}};
    for (int size : {450, 500, 650, 1300}) {
        for (const auto& [side, padding] : squares) {
            EXPECT_EQ(imaging::rowPadding(size, side, side), padding) << size << " " << side;
        }
    }
}

}  // namespace
