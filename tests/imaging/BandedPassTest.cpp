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
using testpictures::pixelRow;

namespace {

using Rgb = std::array<int, 3>;

AdjustmentState resetState() {
    AdjustmentState s;
    imaging::resetState(s);
    return s;
}

Rgb renderOne(Rgb pixel, const AdjustmentState& state, const SliderValues& sliders = {}) {
    Bitmap bitmap = pixelRow({pixel});
    imaging::bandedPass(bitmap, 0, state, sliders, 1);
    return channels(bitmap, 0);
}

SliderValues sliders(float light, float dark) {
    SliderValues s;
    s.slider1 = light;
    s.slider2 = dark;
    return s;
}

// The fine points of the band arithmetic; the full table is compared with the reference below.
TEST(BandedPass, FinePointsOfTheBands) {
    const AdjustmentState s = resetState();
    const struct {
        Rgb pixel;
        SliderValues sliders;
        Rgb expected;
    } cases[] = {
        {{1, 1, 0}, {}, {1, 1, 0}},  // a channel sum up to 2 keeps its colour
        {{3, 0, 0}, {}, {1, 1, 1}},
        {{10, 200, 90}, {}, {100, 100, 100}},
        {{120, 120, 120}, sliders(0, -5), {133, 133, 133}},  // 132.5 rounds away from zero
        // The offset is a single-precision product: 0.2f * 0.5f is a little more than 0.1,
        // so 120 - 5 * o lies just below 119.5.
        {{120, 120, 120}, sliders(0, 0.2f), {119, 119, 119}},
        {{128, 128, 128}, sliders(3, 100), {130, 130, 130}},  // the sum 384 is the first light band
        {{128, 128, 127}, sliders(100, 3), {126, 126, 126}},
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
    const AdjustmentState s = resetState();
    for (const auto& sl : {sliders(0, 0), sliders(10, 10), sliders(-5, -5), sliders(5.3f, -5.0f),
                           sliders(0.7f, 9.9f), sliders(-3.3f, 1.1f)}) {
        Bitmap fast = bitmap.clone();
        Bitmap slow = bitmap.clone();
        imaging::bandedPass(fast, 0, s, sl, 1);
        reference::bandedPass(slow, 0, s, sl);
        ASSERT_TRUE(testpictures::sameBytes(fast, slow)) << sl.slider1 << " " << sl.slider2;
    }
}

TEST(BandedPass, SparseNoiseReplacesAboutThreePixelsInEveryModulus) {
    AdjustmentState s = resetState();
    s.noiseOn = 1;
    s.noiseValue = 100;  // modulus 2: every pixel
    const Bitmap grey = testpictures::greyPicture(100, 100, 120);
    Bitmap all = grey.clone();
    imaging::bandedPass(all, 0, s, {}, 3);
    int replaced = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            const auto c = channels(all, x, y);
            ASSERT_EQ(c[0], c[1]);
            ASSERT_EQ(c[1], c[2]);
            ASSERT_GE(c[0], 60);
            ASSERT_LE(c[0], 119);
            replaced += c[0] != 120;
        }
    }
    EXPECT_EQ(replaced, 100 * 100);

    s.noiseValue = 52;  // modulus 50: 3 in 50 on average
    Bitmap some = grey.clone();
    imaging::bandedPass(some, 0, s, {}, 3);
    replaced = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) replaced += channels(some, x, y)[0] != 120;
    }
    EXPECT_GT(replaced, 400);
    EXPECT_LT(replaced, 800);

    s.noiseValue = 250;  // beyond the panel's range: no division by zero, no wrap
    Bitmap beyond = grey.clone();
    imaging::bandedPass(beyond, 0, s, {}, 3);
}

TEST(BandedPass, VignetteDarkensToBlackAndLightensToWhiteAtTheCornerDistance) {
    AdjustmentState s = resetState();
    s.vigEnabled = 1;
    s.vigRadius = 20;
    // 201 x 101: hw = 100, hh = 50, D = 111. The centre pixel has x = hw,
    // y = hh; pixel (199, 99) has x = 200, y = 100 and d = D.
    Bitmap dark = testpictures::greyPicture(201, 101, 150);
    imaging::bandedPass(dark, 0, s, {}, 1);
    EXPECT_EQ(channels(dark, 99, 49), (Rgb{150, 150, 150}));
    EXPECT_EQ(channels(dark, 199, 99), (Rgb{0, 0, 0}));  // f = 1 - 1.5 * 0.68 < 0
    EXPECT_EQ(channels(dark, 0, 0), (Rgb{0, 0, 0}));
    const double f = 1 - 1.5 * 0.68 * (50.0 / 111);
    EXPECT_EQ(channels(dark, 49, 49)[0], int(std::round(150 * f)));  // dx = 50, dy = 0

    s.vigEffect = 2;
    Bitmap light = testpictures::greyPicture(201, 101, 82);
    imaging::bandedPass(light, 0, s, {}, 1);
    EXPECT_EQ(channels(light, 99, 49), (Rgb{82, 82, 82}));
    EXPECT_EQ(channels(light, 199, 99), (Rgb{255, 255, 255}));  // 82 / 0.32 > 255
    Bitmap lighter = testpictures::greyPicture(201, 101, 81);
    imaging::bandedPass(lighter, 0, s, {}, 1);
    EXPECT_EQ(channels(lighter, 199, 99), (Rgb{253, 253, 253}));  // 81 / 0.32 = 253.1

    // A radius so large that 1 - t falls below 0 still gives white, not garbage.
    s.vigRadius = 400;
    Bitmap beyond = testpictures::greyPicture(201, 101, 40);
    imaging::bandedPass(beyond, 0, s, {}, 1);
    EXPECT_EQ(channels(beyond, 0, 0), (Rgb{255, 255, 255}));
}

// The buffer rows really carry `padding` extra pixels, as the fit lays them out. The large
// picture uses the per-distance word table; its black corner holds channel sums up to 2,
// which keep their own channels.
TEST(BandedPass, VignetteMatchesTheReferenceOverRowsOfWidthPlusPadding) {
    AdjustmentState s = resetState();
    s.vigEnabled = 1;
    s.quantOn = 1;
    s.tintR = 250, s.tintG = 180, s.tintB = 90;
    const struct {
        int width, height, radius, alpha, exposure, quant;
        std::initializer_list<int> tones, paddings;
        SliderValues sliders;
    } sizes[] = {{47, 31, 37, 80, 120, 5, {2}, {0, 3, 6}, sliders(4.4f, -2.2f)},
                 {900, 640, 63, 100, 100, 1, {0, 1, 3}, {0, 4}, sliders(-3.1f, 6.7f)}};
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
    s = resetState();
    s.vigEnabled = 1;
    s.vigRadius = 20;
    Bitmap padded = testpictures::greyPicture(40, 40, 200, 4 * 46);
    imaging::bandedPass(padded, 6, s, {}, 1);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(channels(padded, i, 5), channels(padded, 5, i)) << i;
    }
}

TEST(RowPadding, FollowsTheTableForLandscapePortraitAndSquarePictures) {
    // Landscape: by output size only.
    EXPECT_EQ(imaging::rowPadding(450, 450, 300), 6);
    EXPECT_EQ(imaging::rowPadding(500, 500, 375), 4);
    EXPECT_EQ(imaging::rowPadding(550, 550, 412), 2);
    EXPECT_EQ(imaging::rowPadding(600, 600, 450), 0);
    EXPECT_EQ(imaging::rowPadding(650, 650, 487), 0);
    // Portrait, by output size and the truncated width.
    const struct {
        int size;
        float ws;
        int p;
    } portrait[] = {
        {450, 332, 5},  {450, 333, 7}, {450, 337, 7}, {450, 337.4f, 7}, {450, 337.6f, 6},
        {450, 338, 6},  {450, 339, 5}, {500, 370, 7}, {500, 371, 2},    {500, 374, 2},
        {500, 375, 1},  {500, 379, 1}, {500, 380, 7}, {550, 410, 1},    {550, 411, 5},
        {550, 412, 3},  {550, 414, 3}, {550, 415, 1}, {600, 445, 4},    {600, 446, 7},
        {600, 449, 7},  {600, 450, 6}, {600, 454, 6}, {600, 455, 4},    {650, 487, 0},
        {1300, 975, 0},
    };
    for (const auto& c : portrait) {
        EXPECT_EQ(imaging::rowPadding(c.size, c.ws, float(c.size)), c.p) << c.size << " " << c.ws;
    }
    // Square pictures by their side, whatever the output size.
    for (int size : {450, 500, 650, 1300}) {
        EXPECT_EQ(imaging::rowPadding(size, 480, 480), 6);
        EXPECT_EQ(imaging::rowPadding(size, 499.5f, 499.5f), 6);
        EXPECT_EQ(imaging::rowPadding(size, 500, 500), 4);
        EXPECT_EQ(imaging::rowPadding(size, 501, 501), 3);
        EXPECT_EQ(imaging::rowPadding(size, 525, 525), 3);
        EXPECT_EQ(imaging::rowPadding(size, 526, 526), 2);
        EXPECT_EQ(imaging::rowPadding(size, 550, 550), 2);
        EXPECT_EQ(imaging::rowPadding(size, 551, 551), 0);
    }
}

}  // namespace
