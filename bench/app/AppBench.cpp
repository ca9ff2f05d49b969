// The main screen's costs as the user feels them: from a tap on Apply to the
// new picture on screen at output size 1300 (target: at most 16 ms of render
// work), and from picking a 24-megapixel JPEG to its first rendered picture.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>

#include "app/lumaroViewController.h"
#include "platform/Defaults.h"
#include "platform/widgets/ImageView.h"

namespace {

QString temporaryRoot;

// A camera-like picture: smooth gradients with a little texture, so the JPEG
// has a realistic size and the renderers see every value.
QString writeCameraJpeg(int width, int height) {
    const QString path = temporaryRoot + "/library/camera.jpg";
    if (QFile::exists(path)) return path;
    QDir().mkpath(temporaryRoot + "/library");
    QImage picture(width, height, QImage::Format_RGB32);
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 28);
            row[x] = qRgb((x * 255 / width + grain) & 0xff, (y * 255 / height + grain) & 0xff,
                          ((x + y) * 127 / (width + height) + 64 + grain) & 0xff);
        }
    }
    picture.save(path, "jpeg", 92);
    return path;
}

std::unique_ptr<app::lumaroViewController> startScreen(int outputSize) {
    platform::Defaults::standard().setInteger(outputSize, "Size");
    auto controller = std::make_unique<app::lumaroViewController>();
    controller->view()->resize(768, 1024);
    controller->view()->show();
    QApplication::processEvents();
    return controller;
}

void pickAndWait(app::lumaroViewController& controller, const QString& path) {
    controller.pickFile(path);
    while (controller.isOpeningPicture())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    controller.image->repaint();
}

void BM_ApplyToScreenAt1300(benchmark::State& state) {
    auto controller = startScreen(1300);
    pickAndWait(*controller, writeCameraJpeg(6000, 4000));
    if (controller->state().imageWidth != 1300) state.SkipWithError("picture not fitted to 1300");
    for (auto _ : state) {
        controller->Apply();
        controller->image->repaint();
    }
    state.counters["width"] = controller->state().imageWidth;
    state.counters["height"] = controller->state().imageHeight;
}
BENCHMARK(BM_ApplyToScreenAt1300)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_OpenCameraJpegToFirstPicture(benchmark::State& state) {
    const QString path = writeCameraJpeg(6000, 4000);
    auto controller = startScreen(1300);
    for (auto _ : state) pickAndWait(*controller, path);
    state.counters["megapixels"] = 24;
}
BENCHMARK(BM_OpenCameraJpegToFirstPicture)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The benchmark keeps its settings and pictures to itself.
    QTemporaryDir root;
    temporaryRoot = root.path();
    qputenv("LUMARO_HOME", root.path().toUtf8());
    qputenv("LUMARO_LIBRARY", (root.path() + "/library").toUtf8());
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
