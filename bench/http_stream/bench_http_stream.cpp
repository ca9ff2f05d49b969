// Times the HTTP stream against curl on loopback nginx, side by side and alternating:
// one large download (1 GiB unless LUMARO_BENCH_BYTES says otherwise) and 2000 small GETs
// on one kept-alive connection. Prints each time and the ratio of Lumaro's rate to curl's.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/http/HttpStream.h"
#include "servers/NginxServer.h"
#include "servers/ScriptedServer.h"

using platform::HttpStream;
using platform::HttpStreamEvent;

namespace {

constexpr int kSmallRequests = 2000;
constexpr int kRounds = 3;

// Reads one answer with the engine's largest buffer; answers the body size, -1 on failure.
qint64 fetch(const QString& url, bool persistent) {
    auto message =
        platform::HttpRequestMessage::create("GET", QUrl(url), platform::HttpVersion::Http11);
    auto stream = HttpStream::create(*message);
    stream->setAttemptPersistentConnection(persistent);
    stream->setStreamId(1);
    static std::vector<char> buffer(262144);
    qint64 total = 0;
    bool ok = false;
    QEventLoop loop;
    stream->setClient([&](HttpStreamEvent event) {
        if (event == HttpStreamEvent::BytesAvailable) {
            qint64 got;
            while ((got = stream->read(buffer.data(), static_cast<qint64>(buffer.size()))) > 0) {
                total += got;
            }
            return;
        }
        ok = event == HttpStreamEvent::EndEncountered;
        loop.quit();
    });
    stream->schedule();
    stream->open();
    loop.exec();
    return ok ? total : -1;
}

double secondsOf(const std::function<bool()>& run) {
    QElapsedTimer timer;
    timer.start();
    if (!run()) {
        std::fprintf(stderr, "run failed\n");
        std::exit(1);
    }
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

bool curl(const QStringList& arguments) {
    return QProcess::execute("curl", QStringList{"-s", "-f"} + arguments) == 0;
}

// Streams the file at path as a request body to a server that throws it away; answers the
// bytes the server counted.
qint64 upload(const QString& path) {
    std::atomic<qint64> received{0};
    lumaro::test::ScriptedServer sink([&](lumaro::test::ScriptedConnection& c) {
        received = static_cast<qint64>(c.drainHeadAndBody(QFileInfo(path).size()));
        c.send("HTTP/1.1 204 No Content\r\n\r\n");
    });
    auto device = std::make_shared<QFile>(path);
    device->open(QIODevice::ReadOnly);
    auto message = platform::HttpRequestMessage::create(
        "PUT", QUrl(QString::fromStdString(sink.url("/upload"))), platform::HttpVersion::Http11);
    auto stream = HttpStream::create(*message, platform::HttpRequestBody::fromDevice(device));
    QEventLoop loop;
    bool ok = false;
    stream->setClient([&](HttpStreamEvent event) {
        if (event != HttpStreamEvent::BytesAvailable) {
            ok = event == HttpStreamEvent::EndEncountered;
            loop.quit();
        }
    });
    stream->schedule();
    stream->open();
    loop.exec();
    return ok ? received.load() : -1;
}

long peakResidentMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 bytes = qEnvironmentVariableIsSet("LUMARO_BENCH_BYTES")
                             ? qEnvironmentVariable("LUMARO_BENCH_BYTES").toLongLong()
                             : qint64{1} << 30;
    QTemporaryDir root;
    {
        QFile big(root.filePath("big.bin"));
        big.open(QIODevice::WriteOnly);
        big.resize(bytes);  // sparse: nginx serves it from the page cache
        QFile small(root.filePath("small.txt"));
        small.open(QIODevice::WriteOnly);
        small.write(QByteArray(512, 's'));
    }
    lumaro::test::NginxServer::Options options;
    options.root = root.path();
    lumaro::test::NginxServer nginx(options);
    const QString bigUrl = nginx.url("/big.bin");
    const QString smallUrl = nginx.url("/small.txt");

    QTemporaryDir scratch;
    QFile config(scratch.filePath("urls.curl"));
    config.open(QIODevice::WriteOnly);
    for (int i = 0; i < kSmallRequests; ++i) {
        config.write(
            QStringLiteral("url = \"%1\"\noutput = \"/dev/null\"\n").arg(smallUrl).toUtf8());
    }
    config.close();

    const long residentBefore = peakResidentMiB();
    qint64 uploaded = 0;
    const double uploadSeconds = secondsOf([&] {
        uploaded = upload(root.filePath("big.bin"));
        return uploaded == bytes;
    });
    std::printf(
        "upload of %.0f MiB from a file: %.3f s, peak resident %ld MiB before, %ld MiB "
        "after (target < 64)\n",
        static_cast<double>(bytes) / (1 << 20), uploadSeconds, residentBefore, peakResidentMiB());

    std::vector<double> curlBig, oursBig, curlSmall, oursSmall;
    for (int round = 0; round < kRounds; ++round) {
        curlBig.push_back(secondsOf([&] { return curl({"-o", "/dev/null", bigUrl}); }));
        oursBig.push_back(secondsOf([&] { return fetch(bigUrl, false) == bytes; }));
        curlSmall.push_back(secondsOf([&] { return curl({"-K", config.fileName()}); }));
        oursSmall.push_back(secondsOf([&] {
            for (int i = 0; i < kSmallRequests; ++i) {
                if (fetch(smallUrl, true) != 512) return false;
            }
            return true;
        }));
        HttpStream::closeIdleConnections();
    }
    const auto best = [](const std::vector<double>& times) {
        return *std::min_element(times.begin(), times.end());
    };
    const double mib = static_cast<double>(bytes) / (1 << 20);
    std::printf("large download, %.0f MiB (best of %d)\n", mib, kRounds);
    std::printf("  curl    %.3f s  %.0f MiB/s\n", best(curlBig), mib / best(curlBig));
    std::printf("  lumaro  %.3f s  %.0f MiB/s\n", best(oursBig), mib / best(oursBig));
    std::printf("  ratio   %.2f (target >= 0.80)\n", best(curlBig) / best(oursBig));
    std::printf("%d small keep-alive GETs (best of %d)\n", kSmallRequests, kRounds);
    std::printf("  curl    %.3f s  %.0f req/s\n", best(curlSmall),
                kSmallRequests / best(curlSmall));
    std::printf("  lumaro  %.3f s  %.0f req/s\n", best(oursSmall),
                kSmallRequests / best(oursSmall));
    std::printf("  ratio   %.2f (target >= 0.80)\n", best(curlSmall) / best(oursSmall));
    return 0;
}
