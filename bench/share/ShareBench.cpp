// Sharing as the user feels it and as the service carries it: from the
// upload's start to the short link for a camera picture (reduced to 800
// pixels on its long side, rendered, encoded and sent to a service on the
// same machine), and the service's uploads per second with 8 clients
// sending 800-pixel pictures at once.

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QTemporaryDir>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "ShareService.h"
#include "SqliteShareStore.h"
#include "imaging/Renderer.h"
#include "platform/Defaults.h"
#include "sharing/ShareClient.h"
#include "sharing/ShareKeys.h"

namespace {

// A camera-like picture with texture, so the PNG has a realistic size.
QImage cameraPicture(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB32);
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 27);
            row[x] = qRgb((x * 255 / width + grain) & 0xff, (y * 255 / height + grain) & 0xff,
                          ((x + y) * 127 / (width + height) + 64 + grain) & 0xff);
        }
    }
    return picture;
}

// The service on 127.0.0.1 with a fresh data folder.
class Service {
public:
    Service() : store_(dir_.path().toStdString()), service_(store_, "") {
        port_ = service_.bind("127.0.0.1", 0);
        service_.setPublicUrl(url());
        thread_ = std::thread([this] { service_.listen(); });
    }
    ~Service() {
        service_.stop();
        thread_.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    int port() const { return port_; }

private:
    QTemporaryDir dir_;
    share::SqliteShareStore store_;
    share::ShareService service_;
    int port_ = 0;
    std::thread thread_;
};

void BM_UploadOf800PixelPicture(benchmark::State& state) {
    Service service;
    imaging::AdjustmentState adjustments;
    imaging::resetState(adjustments);
    adjustments.toneType = 1;
    adjustments.toneOn = 1;
    imaging::Renderer renderer(adjustments);
    renderer.setPickedPicture(std::make_shared<const imaging::Picture>(
        imaging::Picture::fromImage(cameraPicture(4032, 3024))));
    sharing::ShareClient client({QUrl(QString::fromStdString(service.url())), "localhost"});
    QEventLoop loop;
    bool failed = false;
    QObject::connect(&client, &sharing::ShareClient::uploaded, &loop, [&] { loop.exit(); });
    QObject::connect(&client, &sharing::ShareClient::uploadFailed, &loop, [&] {
        failed = true;
        loop.exit();
    });
    // Registered, as every upload after the first is.
    platform::Defaults::standard().setInteger(1, sharing::keys::Registered);
    platform::Defaults::standard().setString(QString(), sharing::keys::PrivateKey);
    for (auto _ : state) {
        client.uploadPicture(renderer, {}, 1, QStringLiteral("bench"), true);
        loop.exec();
        if (failed) {
            state.SkipWithError("upload failed");
            break;
        }
    }
}
BENCHMARK(BM_UploadOf800PixelPicture)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ServiceThroughput8Clients(benchmark::State& state) {
    Service service;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    cameraPicture(800, 600).save(&buffer, "PNG");
    const std::string data = png.toStdString();
    constexpr int kClients = 8;
    constexpr int kEach = 8;
    std::int64_t uploads = 0;
    for (auto _ : state) {
        std::atomic<int> ok{0};
        std::vector<std::thread> clients;
        for (int c = 0; c < kClients; ++c) {
            clients.emplace_back([&] {
                httplib::Client http("127.0.0.1", service.port());
                for (int i = 0; i < kEach; ++i) {
                    auto answer =
                        http.Post("/Vesquin/upload-api.php",
                                  httplib::MultipartFormDataItems{
                                      {"description", "bench", "", ""},
                                      {"api", "LMRHD00001", "", ""},
                                      {"appid", "", "", ""},
                                      {"filter_data", "", "", ""},
                                      {"data", data, "file", "application/octet-stream"}});
                    if (answer && answer->status == 200) ++ok;
                }
            });
        }
        for (auto& client : clients) client.join();
        if (ok != kClients * kEach) {
            state.SkipWithError("an upload failed");
            break;
        }
        uploads += kClients * kEach;
    }
    state.SetItemsProcessed(uploads);
    state.SetBytesProcessed(uploads * std::int64_t(data.size()));
    state.counters["png_bytes"] = double(data.size());
}
BENCHMARK(BM_ServiceThroughput8Clients)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("LUMARO_HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
