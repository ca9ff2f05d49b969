// The engine against servers and proxies that lie: a refused tunnel dressed up as the site's
// answer, compressed bodies cut short, corrupt or far larger than they look, and redirects
// that would carry credentials to another server.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include "FetchRun.h"
#include "RecordingServer.h"
#include "RequestTestSupport.h"
#include "ScriptedAnswers.h"
#include "http/DataCompressor.h"
#include "http/HTTPRequest.h"
#include "platform/CookieStore.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;
using testsupport::RecordingServer;
using Request = RecordingServer::Request;
using testfiles::readFile;
using testfiles::writeFile;

// The cookie store lives under LUMARO_HOME: a fresh one before the store is first used.
const TempHome home;

QByteArray gzip(const QByteArray& data) {
    return http::DataCompressor::compressData(data, nullptr);
}

std::string closing(std::string_view body, std::string_view headers = {},
                    std::string_view status = "200 OK") {
    return scripted::answer(body, "Connection: close\r\n" + std::string(headers), status);
}

std::string gzipped(const QByteArray& wire) {
    return closing(wire.toStdString(), "Content-Encoding: gzip\r\n");
}

void run(const HTTPRequestPtr& request) {
    testsupport::application();
    request->setTimeOutSeconds(5);
    request->startSynchronous();
}

TEST(HostileProxy, ARefusedTunnelEndsTheRequestWithNothingStoredOrFollowed) {
    RecordingServer lure([](const Request&) { return closing("lure"); });
    const std::string lureUrl = lure.url("/lure").toString().toStdString();
    const struct {
        const char* name;
        std::string answer;
        int errorCode;
    } refusals[] = {
        {"redirect with a cookie",
         closing("from the proxy",
                 "Location: " + lureUrl +
                     "\r\nSet-Cookie: session=stolen; Domain=secure.test; Path=/\r\n",
                 "302 Found"),
         http::ConnectionFailureErrorType},
        {"interim answer, then refused",
         "HTTP/1.1 100 Continue\r\n\r\n" + closing("", {}, "403 Forbidden"),
         http::ConnectionFailureErrorType},
        {"proxy credentials wanted",
         closing("who", "Proxy-Authenticate: Basic realm=\"proxy\"\r\n",
                 "407 Proxy Authentication Required"),
         http::AuthenticationErrorType},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        RecordingServer proxy([&](const Request&) { return refusal.answer; });
        auto request = HTTPRequest::requestWithURL(QUrl("https://secure.test/account"));
        request->setProxyHost("127.0.0.1");
        request->setProxyPort(proxy.url("/").port());
        run(request);

        ASSERT_TRUE(request->error());
        EXPECT_EQ(request->error()->code, refusal.errorCode);
        if (refusal.errorCode == http::ConnectionFailureErrorType) {
            ASSERT_TRUE(request->error()->underlyingError);
            EXPECT_EQ(request->error()->underlyingError->code, -1200);
        }
        ASSERT_EQ(proxy.requests().size(), 1u);
        EXPECT_EQ(proxy.requests()[0].requestLine.rfind("CONNECT secure.test:443 ", 0), 0u);
        EXPECT_TRUE(request->responseData().isEmpty());
        EXPECT_TRUE(request->responseCookies().isEmpty());
        EXPECT_TRUE(
            platform::CookieStore::shared().cookiesForUrl(QUrl("https://secure.test/")).isEmpty());
    }
    EXPECT_EQ(lure.connectionCount(), 0);
}

TEST(HostileRedirects, CredentialsGoOnlyToTheServerTheyWereMeantFor) {
    const std::string credentials = "Basic dXNlcjpzZWNyZXQ=";
    for (const char* status : {"302 Found", "307 Temporary Redirect"}) {
        for (const bool toOtherServer : {true, false}) {
            SCOPED_TRACE(std::string(status) + (toOtherServer ? " elsewhere" : " home"));
            RecordingServer elsewhere([](const Request&) { return closing("elsewhere"); });
            const std::string target =
                toOtherServer ? elsewhere.url("/landing").toString().toStdString() : "/landing";
            RecordingServer origin([&](const Request& request) {
                if (request.requestLine.find(" /start ") == std::string::npos)
                    return closing("home");
                return closing("moved", "Location: " + target + "\r\n", status);
            });
            auto request = HTTPRequest::requestWithURL(origin.url("/start"));
            request->setUsername("user");
            request->setPassword("secret");
            request->addBasicAuthenticationHeaderWithUsername("user", "secret");
            run(request);
            ASSERT_FALSE(request->error()) << request->error()->localizedDescription.toStdString();
            const auto atOrigin = origin.requests();
            const auto landed = (toOtherServer ? elsewhere : origin).requests();
            ASSERT_EQ(atOrigin.size(), toOtherServer ? 1u : 2u);
            ASSERT_EQ(landed.size(), toOtherServer ? 1u : 2u);
            EXPECT_EQ(atOrigin[0].header("Authorization"), credentials);
            EXPECT_EQ(landed.back().header("Authorization"), toOtherServer ? "" : credentials);
        }
    }
}

enum class Destination { Memory, File, Receiver };

const struct Delivery {
    const char* name;
    Destination destination;
    bool inflateOnTheFly;
} kDeliveries[] = {
    {"memory, inflated when read", Destination::Memory, false},
    {"memory, inflated as it comes", Destination::Memory, true},
    {"file, inflated at the end", Destination::File, false},
    {"file, inflated as it comes", Destination::File, true},
    {"data receiver, inflated as it comes", Destination::Receiver, true},
};

enum class Fails { Never, Always, InMemory };

TEST(HostileCompression, BadOrOversizedBodiesFailWithCode11AndLeaveTheOldFileAlone) {
    const QByteArray plain =
        QByteArray::fromStdString(scripted::pattern(300000)) + QByteArray(200000, 'z');
    const QByteArray whole = gzip(plain);
    QByteArray corrupt = whole;
    corrupt.replace(whole.size() / 2, 64, QByteArray(64, '\xAA'));
    const QByteArray zeros(4 * 1024 * 1024, '\0');
    const QByteArray zerosGzip = gzip(zeros);
    // Files and data receivers take their bytes a piece at a time: no inflation limit applies.
    const struct {
        const char* name;
        QByteArray wire, plain;
        quint64 limit;
        Fails fails;
    } bodies[] = {
        {"whole", whole, plain, 0, Fails::Never},
        {"cut in half", whole.left(whole.size() / 2), plain, 0, Fails::Always},
        {"trailer missing", whole.chopped(4), plain, 0, Fails::Always},
        {"garbage in the middle", corrupt, plain, 0, Fails::Always},
        {"inflating past the limit", zerosGzip, zeros, 1024 * 1024, Fails::InMemory},
        {"inflating up to the limit", zerosGzip, zeros, quint64(zeros.size()), Fails::Never},
    };
    for (const auto& c : bodies) {
        for (const Delivery& delivery : kDeliveries) {
            SCOPED_TRACE(std::string(c.name) + " / " + delivery.name);
            QTemporaryDir dir;
            const QString file = dir.filePath("photo.tif");
            writeFile(file, "the old file");
            const std::string answer = gzipped(c.wire);
            RecordingServer server([&](const Request&) { return answer; });
            auto request = HTTPRequest::requestWithURL(server.url("/body"));
            request->setShouldWaitToInflateCompressedResponses(!delivery.inflateOnTheFly);
            if (c.limit != 0) request->setMaxInflatedBodySize(c.limit);
            if (delivery.destination == Destination::File)
                request->setDownloadDestinationPath(file);
            QByteArray body;
            if (delivery.destination == Destination::Receiver)
                request->setDataReceivedBlock([&body](const QByteArray& data) { body += data; });
            run(request);
            if (delivery.destination == Destination::Memory) body = request->responseData();
            if (delivery.destination == Destination::File) body = readFile(file);
            if (c.fails == Fails::Never ||
                (c.fails == Fails::InMemory && delivery.destination != Destination::Memory)) {
                ASSERT_FALSE(request->error())
                    << request->error()->localizedDescription.toStdString();
                EXPECT_TRUE(body == c.plain);
            } else {
                ASSERT_TRUE(request->error());
                EXPECT_EQ(request->error()->code, http::CompressionError);
                if (c.limit != 0) {
                    EXPECT_TRUE(
                        request->error()->localizedDescription.contains("limit of 1048576 bytes"));
                    EXPECT_TRUE(body.isEmpty());
                }
                if (delivery.destination == Destination::File) {
                    EXPECT_EQ(body, "the old file");
                }
            }
            // Nothing staged beside the destination is left behind.
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        }
    }
}

// A gzip stream of as many MiB of zeros, built from one deflated MiB repeated (each block
// starts afresh after a full flush): the test itself never holds the inflated bytes, which
// the tool it starts would otherwise count as its own resident size.
QByteArray gzipOfZeros(int mebibytes) {
    std::vector<Bytef> zeros(1 << 20, 0), out(1 << 20);
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    const auto deflated = [&](Bytef* in, uInt length, int flush) {
        stream.next_in = in;
        stream.avail_in = length;
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        deflate(&stream, flush);
        return QByteArray(reinterpret_cast<const char*>(out.data()),
                          static_cast<qsizetype>(out.size() - stream.avail_out));
    };
    const QByteArray block = deflated(zeros.data(), static_cast<uInt>(zeros.size()), Z_FULL_FLUSH);
    QByteArray gz = QByteArray("\x1f\x8b\x08\0\0\0\0\0\0\xff", 10) + block.repeated(mebibytes) +
                    deflated(nullptr, 0, Z_FINISH);
    deflateEnd(&stream);
    uLong crc = crc32(0, nullptr, 0);
    for (int i = 0; i < mebibytes; ++i) crc = crc32(crc, zeros.data(), uInt(zeros.size()));
    const quint32 trailer[] = {qToLittleEndian(quint32(crc)),
                               qToLittleEndian(quint32(mebibytes) << 20)};
    return gz + QByteArray(reinterpret_cast<const char*>(trailer), sizeof trailer);
}

TEST(HostileCompression, FetchToolKeepsItsMemoryAgainstAGzipBomb) {
    constexpr int kMebibytes = 128;
    const QByteArray bomb = gzipOfZeros(kMebibytes);
    ASSERT_LT(bomb.size(), 200 * 1024);
    const std::string answer = gzipped(bomb);
    RecordingServer server([&](const Request&) { return answer; });
    QTemporaryDir dir;
    const QString zeros = dir.filePath("zeros");
    const auto bombRun = testsupport::runFetch({"-o", zeros, server.url("/bomb").toString()});
    EXPECT_EQ(bombRun.exitCode, 0) << bombRun.err.toStdString();
    EXPECT_EQ(QFileInfo(zeros).size(), qint64(kMebibytes) << 20);
    // The largest resident size of the children so far: the inflated 128 MiB went through
    // a fixed buffer, never into memory.
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 80 * 1024) << "KiB";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

}  // namespace
