// The engine against servers and proxies that lie: a refused tunnel dressed up as the site's
// answer, compressed bodies cut short, corrupt or far larger than they look, and redirects
// that would carry credentials to another server.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <mutex>

#include "RequestTestSupport.h"
#include "ScriptedAnswers.h"
#include "http/DataCompressor.h"
#include "http/HTTPRequest.h"
#include "platform/CookieStore.h"
#include "servers/ScriptedServer.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;
using lumaro::test::ReceivedRequest;
using lumaro::test::ScriptedConnection;
using lumaro::test::ScriptedServer;

// The cookie store lives under LUMARO_HOME: a fresh one before the store is first used.
const TempHome home;

std::string bytes(const QByteArray& data) { return data.toStdString(); }

QByteArray gzip(const QByteArray& data) {
    return http::DataCompressor::compressData(data, nullptr);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// One answer per connection, made from the request; every request is kept.
class AnsweringServer {
public:
    using Answer = std::function<std::string(const ReceivedRequest&)>;
    explicit AnsweringServer(Answer answer)
        : server_([this, answer](ScriptedConnection& connection) {
              const auto request = connection.readRequest();
              if (!request) return;
              {
                  std::lock_guard lock(mutex_);
                  requests_.push_back(*request);
              }
              connection.send(answer(*request));
          }) {}

    QUrl url(std::string_view path) const {
        return QUrl(QString::fromStdString(server_.url(path)));
    }
    int connectionCount() const { return server_.connectionCount(); }
    std::vector<ReceivedRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<ReceivedRequest> requests_;
    ScriptedServer server_;
};

std::string closing(std::string_view body, std::string_view headers = {},
                    std::string_view status = "200 OK") {
    return scripted::answer(body, "Connection: close\r\n" + std::string(headers), status);
}

void run(const HTTPRequestPtr& request) {
    testsupport::application();
    request->setTimeOutSeconds(5);
    request->startSynchronous();
}

// ---- A proxy that refuses the tunnel ----

TEST(HostileProxy, ARefusedTunnelEndsTheRequestWithNothingStoredOrFollowed) {
    AnsweringServer lure([](const ReceivedRequest&) { return closing("lure"); });
    const std::string lureUrl = lure.url("/lure").toString().toStdString();
    struct Refusal {
        const char* name;
        std::string answer;
        int errorCode;
        int underlyingCode;  // of the stream, 0 when there is none
    };
    const Refusal refusals[] = {
        {"redirect with a cookie",
         closing("from the proxy",
                 "Location: " + lureUrl +
                     "\r\nSet-Cookie: session=stolen; Domain=secure.test; Path=/\r\n",
                 "302 Found"),
         http::ConnectionFailureErrorType, -1200},
        {"forbidden", closing("no", {}, "403 Forbidden"), http::ConnectionFailureErrorType, -1200},
        {"interim answer, then refused",
         "HTTP/1.1 100 Continue\r\n\r\n" + closing("", {}, "403 Forbidden"),
         http::ConnectionFailureErrorType, -1200},
        {"bad gateway with a cookie",
         closing("down", "Set-Cookie: other=1; Domain=secure.test\r\n", "502 Bad Gateway"),
         http::ConnectionFailureErrorType, -1200},
        {"proxy credentials wanted",
         closing("who", "Proxy-Authenticate: Basic realm=\"proxy\"\r\n",
                 "407 Proxy Authentication Required"),
         http::AuthenticationErrorType, 0},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        AnsweringServer proxy([&](const ReceivedRequest&) { return refusal.answer; });
        auto request = HTTPRequest::requestWithURL(QUrl("https://secure.test/account"));
        request->setProxyHost("127.0.0.1");
        request->setProxyPort(proxy.url("/").port());
        run(request);

        ASSERT_TRUE(request->error());
        EXPECT_EQ(request->error()->code, refusal.errorCode);
        if (refusal.underlyingCode != 0) {
            ASSERT_TRUE(request->error()->underlyingError);
            EXPECT_EQ(request->error()->underlyingError->code, refusal.underlyingCode);
        }
        ASSERT_EQ(proxy.requests().size(), 1u);
        EXPECT_EQ(proxy.requests()[0].requestLine.rfind("CONNECT secure.test:443 ", 0), 0u);
        EXPECT_EQ(request->redirectCount(), 0);
        EXPECT_NE(request->responseStatusCode(), 302);
        EXPECT_TRUE(request->responseData().isEmpty());
        EXPECT_TRUE(request->responseCookies().isEmpty());
        EXPECT_TRUE(
            platform::CookieStore::shared().cookiesForUrl(QUrl("https://secure.test/")).isEmpty());
    }
    EXPECT_EQ(lure.connectionCount(), 0);
}

// ---- Credentials and redirects ----

TEST(HostileRedirects, CredentialsGoOnlyToTheServerTheyWereMeantFor) {
    AnsweringServer elsewhere([](const ReceivedRequest&) { return closing("elsewhere"); });
    struct Case {
        const char* name;
        const char* status;
        bool toOtherServer;
    };
    const Case cases[] = {{"302 elsewhere", "302 Found", true},
                          {"307 elsewhere", "307 Temporary Redirect", true},
                          {"302 home", "302 Found", false},
                          {"307 home", "307 Temporary Redirect", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target =
            c.toOtherServer ? elsewhere.url("/landing").toString().toStdString() : "/landing";
        AnsweringServer origin([&](const ReceivedRequest& request) {
            if (request.requestLine.find(" /start ") == std::string::npos) return closing("home");
            return closing("moved", "Location: " + target + "\r\n", c.status);
        });
        const std::size_t seenElsewhere = elsewhere.requests().size();
        auto request = HTTPRequest::requestWithURL(origin.url("/start"));
        request->setUsername("user");
        request->setPassword("secret");
        request->addBasicAuthenticationHeaderWithUsername("user", "secret");
        run(request);
        ASSERT_FALSE(request->error()) << request->error()->localizedDescription.toStdString();
        EXPECT_EQ(request->redirectCount(), 1);

        const auto atOrigin = origin.requests();
        ASSERT_FALSE(atOrigin.empty());
        EXPECT_EQ(atOrigin[0].header("Authorization"), "Basic dXNlcjpzZWNyZXQ=");
        if (c.toOtherServer) {
            const auto there = elsewhere.requests();
            ASSERT_EQ(there.size(), seenElsewhere + 1);
            EXPECT_FALSE(there.back().hasHeader("Authorization"));
        } else {
            ASSERT_EQ(atOrigin.size(), 2u);
            EXPECT_EQ(atOrigin[1].header("Authorization"), "Basic dXNlcjpzZWNyZXQ=");
        }
    }
}

// ---- Compressed bodies ----

enum class Destination { Memory, File, Receiver };

struct Delivery {
    const char* name;
    Destination destination;
    bool inflateOnTheFly;
};

const Delivery kDeliveries[] = {
    {"memory, inflated when read", Destination::Memory, false},
    {"memory, inflated as it comes", Destination::Memory, true},
    {"file, inflated at the end", Destination::File, false},
    {"file, inflated as it comes", Destination::File, true},
    {"data receiver, inflated as it comes", Destination::Receiver, true},
};

struct Fetched {
    HTTPRequestPtr request;
    QByteArray body;  // what the caller got: the data, the file or the received bytes
};

Fetched fetchCompressed(const QByteArray& wireBody, const Delivery& delivery, const QString& file,
                        quint64 limit = 0) {
    const std::string answer = closing(bytes(wireBody), "Content-Encoding: gzip\r\n");
    AnsweringServer server([&](const ReceivedRequest&) { return answer; });
    Fetched fetched;
    fetched.request = HTTPRequest::requestWithURL(server.url("/body"));
    HTTPRequest& request = *fetched.request;
    request.setShouldWaitToInflateCompressedResponses(!delivery.inflateOnTheFly);
    if (limit != 0) request.setMaxInflatedBodySize(limit);
    if (delivery.destination == Destination::File) request.setDownloadDestinationPath(file);
    QByteArray received;
    if (delivery.destination == Destination::Receiver) {
        request.setDataReceivedBlock([&received](const QByteArray& data) { received += data; });
    }
    run(fetched.request);
    switch (delivery.destination) {
        case Destination::Memory:
            fetched.body = request.responseData();
            break;
        case Destination::File:
            fetched.body = readFile(file);
            break;
        case Destination::Receiver:
            fetched.body = received;
            break;
    }
    return fetched;
}

QByteArray text(qsizetype size) { return QByteArray::fromStdString(scripted::pattern(size)); }

TEST(HostileCompression, BodiesCutShortOrCorruptFailWithCode11AndLeaveTheOldFileAlone) {
    const QByteArray plain = text(300000) + QByteArray(200000, 'z');
    const QByteArray whole = gzip(plain);
    QByteArray corrupt = whole;
    for (qsizetype i = whole.size() / 2; i < whole.size() / 2 + 64; ++i) corrupt[i] = '\xAA';
    struct Body {
        const char* name;
        QByteArray wire;
        bool good;
    };
    const Body bodies[] = {{"whole", whole, true},
                           {"cut in half", whole.left(whole.size() / 2), false},
                           {"trailer missing", whole.chopped(4), false},
                           {"garbage in the middle", corrupt, false}};
    for (const Body& body : bodies) {
        for (const Delivery& delivery : kDeliveries) {
            SCOPED_TRACE(std::string(body.name) + " / " + delivery.name);
            QTemporaryDir dir;
            const QString file = dir.filePath("photo.tif");
            QFile old(file);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("the old file");
            old.close();

            const Fetched fetched = fetchCompressed(body.wire, delivery, file);
            const auto error = fetched.request->error();
            if (body.good) {
                ASSERT_FALSE(error) << error->localizedDescription.toStdString();
                EXPECT_EQ(fetched.body, plain);
            } else {
                ASSERT_TRUE(error);
                EXPECT_EQ(error->code, http::CompressionError);
                if (delivery.destination == Destination::File) {
                    EXPECT_EQ(fetched.body, "the old file");
                }
            }
            // Nothing staged beside the destination is left behind.
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        }
    }
}

TEST(HostileCompression, ABodyInflatedIntoMemoryStopsAtItsLimit) {
    const QByteArray plain(4 * 1024 * 1024, '\0');
    const QByteArray wire = gzip(plain);
    for (const Delivery& delivery : kDeliveries) {
        if (delivery.destination != Destination::Memory) continue;
        for (const quint64 limit : {quint64(1024 * 1024), quint64(plain.size())}) {
            SCOPED_TRACE(std::string(delivery.name) + " / limit " + std::to_string(limit));
            const Fetched fetched = fetchCompressed(wire, delivery, {}, limit);
            const auto error = fetched.request->error();
            if (limit >= static_cast<quint64>(plain.size())) {
                ASSERT_FALSE(error) << error->localizedDescription.toStdString();
                EXPECT_EQ(fetched.body.size(), plain.size());
            } else {
                ASSERT_TRUE(error);
                EXPECT_EQ(error->code, http::CompressionError);
                EXPECT_TRUE(error->localizedDescription.contains("limit of 1048576 bytes"))
                    << error->localizedDescription.toStdString();
                EXPECT_TRUE(fetched.body.isEmpty());
            }
        }
    }
    // Files and data receivers take their bytes a piece at a time: no limit applies.
    QTemporaryDir dir;
    for (const Delivery& delivery : kDeliveries) {
        if (delivery.destination == Destination::Memory) continue;
        SCOPED_TRACE(delivery.name);
        const Fetched fetched = fetchCompressed(wire, delivery, dir.filePath("zeros"), 1024);
        EXPECT_FALSE(fetched.request->error());
        EXPECT_EQ(fetched.body.size(), plain.size());
    }
}

// A gzip stream of as many MiB of zeros, built from one deflated MiB repeated: each block
// starts afresh after a full flush, so the copies decode one after the other.
QByteArray gzipOfZeros(int mebibytes) {
    std::vector<Bytef> zeros(1 << 20, 0);
    std::vector<Bytef> out(1 << 20);
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
    const QByteArray last = deflated(nullptr, 0, Z_FINISH);
    deflateEnd(&stream);
    QByteArray gz("\x1f\x8b\x08\0\0\0\0\0\0\xff", 10);
    uLong crc = crc32(0, nullptr, 0);
    for (int i = 0; i < mebibytes; ++i) {
        gz += block;
        crc = crc32(crc, zeros.data(), static_cast<uInt>(zeros.size()));
    }
    gz += last;
    const quint32 trailer[] = {static_cast<quint32>(crc), static_cast<quint32>(mebibytes) << 20};
    for (quint32 word : trailer) {
        for (int shift = 0; shift < 32; shift += 8) gz += static_cast<char>((word >> shift) & 0xFF);
    }
    return gz;
}

TEST(HostileCompression, FetchToolKeepsTheOldFileAndItsMemoryAgainstHostileGzip) {
    constexpr int kMebibytes = 128;
    const QByteArray bomb = gzipOfZeros(kMebibytes);
    ASSERT_LT(bomb.size(), 200 * 1024);
    const QByteArray whole = gzip(text(100000));
    const std::string bombAnswer = closing(bytes(bomb), "Content-Encoding: gzip\r\n");
    const std::string cutAnswer =
        closing(bytes(whole.left(whole.size() / 2)), "Content-Encoding: gzip\r\n");
    AnsweringServer server([&](const ReceivedRequest& request) {
        return request.requestLine.find("/bomb") != std::string::npos ? bombAnswer : cutAnswer;
    });
    QTemporaryDir dir;
    const QString output = dir.filePath("kept.txt");
    QFile old(output);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the old file");
    old.close();

    QProcess tool;
    tool.start(qEnvironmentVariable("LUMARO_BIN") + "/lumaro-fetch",
               {"-o", output, server.url("/cut").toString()});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 11);
    EXPECT_EQ(readFile(output), "the old file");

    const QString zeros = dir.filePath("zeros");
    tool.start(qEnvironmentVariable("LUMARO_BIN") + "/lumaro-fetch",
               {"-o", zeros, server.url("/bomb").toString()});
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    EXPECT_EQ(QFileInfo(zeros).size(), qint64(kMebibytes) << 20);
    // The largest resident size of the children so far: the inflated 128 MiB went through
    // a fixed buffer, never into memory.
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 80 * 1024) << "KiB";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

}  // namespace
