// Speed of the per-pixel passes on a 24-megapixel bitmap against a plain
// memcpy of the same bytes, and of one on-screen render at output size 1300.
// The passes run on random pixels, the worst case for their lookup tables, and
// (the _Photo runs) on a photograph enlarged to the same size.

#include <benchmark/benchmark.h>

#include <QImage>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>

#include "imaging/BandedPass.h"
#include "imaging/ChannelPass.h"
#include "imaging/Picture.h"
#include "imaging/Renderer.h"

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

const imaging::Bitmap& cameraBitmap() {
    static const imaging::Bitmap bitmap = [] {
        imaging::Bitmap b = imaging::Bitmap::uninitialised(kWidth, kHeight);
        std::mt19937 random(1);
        auto* words = reinterpret_cast<std::uint32_t*>(b.data());
        for (std::size_t i = 0; i < b.byteCount() / 4; ++i) words[i] = random() | 0xFFu;
        return b;
    }();
    return bitmap;
}

// A sample photograph enlarged to 24 MP: neighbouring pixels alike, as in a camera's picture.
const imaging::Bitmap& photoBitmap() {
    static const imaging::Bitmap bitmap = [] {
        const QImage photo =
            QImage(QStringLiteral(LUMARO_SAMPLES_DIR "/coffee.png"))
                .scaled(kWidth, kHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_RGB32);
        if (photo.isNull()) throw std::runtime_error("cannot read the sample photograph");
        imaging::Bitmap b = imaging::Bitmap::uninitialised(kWidth, kHeight);
        for (int y = 0; y < kHeight; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(photo.constScanLine(y));
            std::uint8_t* px = b.row(y);
            for (int x = 0; x < kWidth; ++x, px += 4) {
                px[0] = 255;
                px[1] = std::uint8_t(qRed(line[x]));
                px[2] = std::uint8_t(qGreen(line[x]));
                px[3] = std::uint8_t(qBlue(line[x]));
            }
        }
        return b;
    }();
    return bitmap;
}

void setBytes(benchmark::State& state, const imaging::Bitmap& b) {
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(b.byteCount()));
}

void BM_Memcpy24MP(benchmark::State& state) {
    const imaging::Bitmap& source = cameraBitmap();
    imaging::Bitmap target = source.clone();
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.byteCount());
        benchmark::ClobberMemory();
    }
    setBytes(state, source);
}

imaging::AdjustmentState resetState() {
    imaging::AdjustmentState s;
    imaging::resetState(s);
    return s;
}

// Each iteration converts a fresh copy; the copy itself is not timed.
template <typename Pass>
void runPass(benchmark::State& state, Pass pass, const imaging::Bitmap& source = cameraBitmap()) {
    imaging::Bitmap work = source.clone();
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), source.data(), source.byteCount());
        state.ResumeTiming();
        pass(work);
        benchmark::ClobberMemory();
    }
    setBytes(state, source);
}

void BM_ChannelPass24MP(benchmark::State& state) {
    const auto s = resetState();
    runPass(state, [&](imaging::Bitmap& b) { imaging::channelPass(b, s, {}, 1); });
}

// The heaviest channel setting: per-lane sliders, cyan filter, sepia, exposure and blend.
void sepiaLanesBlend(benchmark::State& state, const imaging::Bitmap& source) {
    auto s = resetState();
    s.toneOn = 1, s.toneType = 1;
    s.colourControls = 1, s.filterType = 4;
    s.alphaOn = 1, s.alphaValue = 70;
    s.exposureOn = 1, s.exposureValue = 120;
    const imaging::SliderValues sl{0, 0, 3, -2, 5, 1, 1, 1};
    runPass(
        state, [&](imaging::Bitmap& b) { imaging::channelPass(b, s, sl, 1); }, source);
}

void bandedVignette(benchmark::State& state, const imaging::Bitmap& source) {
    auto s = resetState();
    s.vigEnabled = 1, s.vigOn = 1;
    const imaging::SliderValues sl{4, 2, 0, 0, 0, 0, 0, 0};
    runPass(
        state, [&](imaging::Bitmap& b) { imaging::bandedPass(b, 0, s, sl, 1); }, source);
}

void BM_ChannelPass24MP_SepiaLanesBlend(benchmark::State& state) {
    sepiaLanesBlend(state, cameraBitmap());
}

void BM_BandedPass24MP(benchmark::State& state) {
    const auto s = resetState();
    const imaging::SliderValues sl{4, 2, 0, 0, 0, 0, 0, 0};
    runPass(state, [&](imaging::Bitmap& b) { imaging::bandedPass(b, 0, s, sl, 1); });
}

void BM_BandedPass24MP_Vignette(benchmark::State& state) { bandedVignette(state, cameraBitmap()); }

void BM_ChannelPass24MP_SepiaLanesBlend_Photo(benchmark::State& state) {
    sepiaLanesBlend(state, photoBitmap());
}

void BM_BandedPass24MP_Vignette_Photo(benchmark::State& state) {
    bandedVignette(state, photoBitmap());
}

// What Apply costs on screen: the picture is fitted already (the fit is kept
// between renders), so a render copies the fit, converts it and shows it.
void onScreenRender(benchmark::State& state, int renderMode, bool vignette) {
    QImage grid(kWidth, kHeight, QImage::Format_RGB32);
    std::memcpy(grid.bits(), cameraBitmap().data(), cameraBitmap().byteCount());
    auto picture = std::make_shared<const imaging::Picture>(imaging::Picture::fromImage(grid));
    imaging::AdjustmentState s = resetState();
    s.outputSize = 1300;
    s.renderMode = renderMode;
    s.toneOn = 1, s.toneType = 1;
    if (vignette) s.vigEnabled = 1, s.vigOn = 1;
    imaging::Renderer renderer(s);
    renderer.setPickedPicture(picture);
    renderer.MonoCore();
    for (auto _ : state) {
        renderer.MonoCore();
        benchmark::DoNotOptimize(renderer.workingImage().data());
    }
    state.counters["width"] = renderer.workingImage().width();
    state.counters["height"] = renderer.workingImage().height();
}

void BM_OnScreenRender1300_Channel(benchmark::State& state) { onScreenRender(state, 0, false); }
void BM_OnScreenRender1300_ChannelVignette(benchmark::State& state) {
    onScreenRender(state, 0, true);
}
void BM_OnScreenRender1300_BandedVignette(benchmark::State& state) {
    onScreenRender(state, 1, true);
}

BENCHMARK(BM_Memcpy24MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ChannelPass24MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ChannelPass24MP_SepiaLanesBlend)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BandedPass24MP)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BandedPass24MP_Vignette)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ChannelPass24MP_SepiaLanesBlend_Photo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BandedPass24MP_Vignette_Photo)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OnScreenRender1300_Channel)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OnScreenRender1300_ChannelVignette)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OnScreenRender1300_BandedVignette)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
