// The disk cache against real servers: nginx with "expires" and ETags, whose access log
// tells which requests reached it, and an in-process server for heads nginx does not send;
// and lumaro-fetch --cache, whose runs share only the permanent store.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "FetchRun.h"
#include "RequestTestSupport.h"
#include "http/DownloadCache.h"
#include "servers/FreePort.h"
#include "servers/InProcessHttpServer.h"
#include "servers/NginxServer.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using http::DownloadCache;
using http::HTTPRequest;
using http::HTTPRequestPtr;
using testfiles::readFile;
using testfiles::writeFile;
using namespace http::CachePolicy;
using namespace testsupport;

// nginx serving root with an access log of "METHOD URI STATUS" lines: everything fresh for
// an hour, and gzip under /gz/.
class LoggingNginx {
public:
    explicit LoggingNginx(const QString& root)
        : log_(root + "/../access.log"),
          port_(lumaro::test::freeLoopbackPort()),
          nginx_({.root = root,
                  .certificateFile = {},
                  .keyFile = {},
                  .clientCaFile = {},
                  .extraHttpConfig = QStringLiteral(R"(
    log_format brief '$request_method $uri $status';
    server {
        listen 127.0.0.1:%1;
        root %2;
        access_log %3 brief;
        expires 1h;
        location /gz/ { gzip on; gzip_types *; gzip_min_length 0; }
    }
)")
                                         .arg(port_)
                                         .arg(root, log_),
                  .extraTlsServerConfig = {}}) {
        lumaro::test::waitForLoopbackPort(port_, std::chrono::milliseconds(5000));
    }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
    }
    // The statuses nginx answered for path, in order. nginx logs a request after its answer
    // has gone out, so a client that has read the answer can look before the line is there:
    // a marker request, logged by the one worker after every earlier request, is awaited first.
    QStringList statuses(const QString& path) {
        const QString marker = QStringLiteral("/log-marker-%1").arg(++markers_);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port_);
        if (socket.waitForConnected(5000)) {
            socket.write("GET " + marker.toUtf8() + " HTTP/1.0\r\n\r\n");
            while (socket.waitForReadyRead(5000)) socket.readAll();
        }
        const auto logged = [this](const QString& uri) {
            QStringList found;
            for (const QString& line : QString::fromUtf8(readFile(log_)).split('\n')) {
                const QStringList parts = line.split(' ');
                if (parts.size() == 3 && parts[1] == uri) found.append(parts[2]);
            }
            return found;
        };
        const QDeadlineTimer deadline(5000);
        while (logged(marker).isEmpty() && !deadline.hasExpired()) QThread::msleep(5);
        return logged(path);
    }

private:
    QString log_;
    int markers_ = 0;
    unsigned short port_;
    lumaro::test::NginxServer nginx_;
};

class DownloadCacheTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        application();
        dir_ = new QTemporaryDir();
        QDir(dir_->path()).mkpath("root/gz");
        nginx_ = new LoggingNginx(dir_->filePath("root"));
    }
    static void TearDownTestSuite() {
        delete nginx_;
        delete dir_;
    }
    void SetUp() override {
        cache_->setStoragePath(cacheDir_.path() + "/cache");
        server_.server().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            ++hits_;
            if (req.has_param("cc")) res.set_header("Cache-Control", req.get_param_value("cc"));
            if (req.has_param("exp")) res.set_header("Expires", req.get_param_value("exp"));
            req.path == "/moved" ? res.set_redirect("/final?cc=max-age%3D60", 301)
                                 : res.set_content("x", "text/plain");
        });
        server_.start();
    }

    // A file of its own for each test, so the log lines of one test are its own.
    QString newFile(const QByteArray& contents) {
        static int count = 0;
        const QString path = QStringLiteral("/f%1.txt").arg(++count);
        writeFile(dir_->filePath("root" + path), contents);
        return path;
    }
    HTTPRequestPtr get(const QUrl& url, int policy, double seconds = 0) {
        auto request = HTTPRequest::requestWithURL(url, cache_, policy);
        request->setSecondsToCache(seconds);
        request->startSynchronous();
        return request;
    }
    std::optional<http::Headers> stored(const QUrl& url) {
        return cache_->cachedResponseHeadersForURL(url);
    }

    static inline QTemporaryDir* dir_ = nullptr;
    static inline LoggingNginx* nginx_ = nullptr;
    TempHome home_;
    InProcessHttpServer server_;
    std::atomic<int> hits_{0};
    QTemporaryDir cacheDir_;
    std::shared_ptr<DownloadCache> cache_ = std::make_shared<DownloadCache>();
};

enum class Stored { Nothing, Fresh, Stale };
enum class Source { Cache, Network, Revalidated, Empty };

TEST_F(DownloadCacheTest, EveryPolicyTakesItsAnswerFromWhereItSays) {
    const struct {
        int policy;
        Stored before;
        Source source;
        bool storedAfter;
    } cases[] = {
        {0, Stored::Fresh, Source::Cache, true},
        {AskServerIfModifiedWhenStale, Stored::Nothing, Source::Network, true},
        {AskServerIfModifiedWhenStale, Stored::Fresh, Source::Cache, true},
        {AskServerIfModifiedWhenStale, Stored::Stale, Source::Revalidated, true},
        {AskServerIfModified, Stored::Fresh, Source::Revalidated, true},
        {OnlyLoadIfNotCached, Stored::Stale, Source::Cache, true},
        {OnlyLoadIfNotCached, Stored::Nothing, Source::Network, true},
        {DontLoad, Stored::Stale, Source::Cache, true},
        {DontLoad, Stored::Nothing, Source::Empty, false},
        {DoNotRead, Stored::Fresh, Source::Network, true},
        {DoNotWrite, Stored::Nothing, Source::Network, false},
        {DoNotRead | DoNotWrite, Stored::Nothing, Source::Network, false},
        {FallbackToCacheIfLoadFails, Stored::Fresh, Source::Network, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "policy " << c.policy << ", stored " << int(c.before)
                                        << ", source " << int(c.source));
        const QByteArray body = "body of a policy case " + QByteArray::number(c.policy);
        const QString path = newFile(body);
        const QUrl url = nginx_->url(path);
        if (c.before != Stored::Nothing) {
            // A negative lifetime stores an answer that is stale from the start.
            get(url, AskServerIfModifiedWhenStale, c.before == Stored::Stale ? -60 : 0);
            ASSERT_TRUE(stored(url));
        }
        const qsizetype before = nginx_->statuses(path).size();

        auto request = get(url, c.policy);
        ASSERT_FALSE(request->error());
        const QStringList expected = c.source == Source::Network       ? QStringList{"200"}
                                     : c.source == Source::Revalidated ? QStringList{"304"}
                                                                       : QStringList{};
        EXPECT_EQ(nginx_->statuses(path).mid(before), expected);
        EXPECT_EQ(request->didUseCachedResponse(),
                  c.source == Source::Cache || c.source == Source::Revalidated);
        EXPECT_EQ(request->responseStatusCode(), c.source == Source::Empty ? 0 : 200);
        EXPECT_EQ(request->responseData(), c.source == Source::Empty ? QByteArray() : body);
        EXPECT_EQ(stored(url).has_value(), c.storedAfter);
        // A 304 renews the stored answer's lifetime.
        if (c.source == Source::Revalidated) {
            EXPECT_NEAR(stored(url)->value("X-HTTPRequest-Expires").toDouble(),
                        QDateTime::currentSecsSinceEpoch() + 3600, 5);
        }
    }
}

TEST_F(DownloadCacheTest, ExpiryComesFromSecondsToCacheThenMaxAgeThenExpires) {
    const double now = QDateTime::currentSecsSinceEpoch();
    const QString exp = "exp=Sun,%2006%20Nov%202044%2008:49:37%20GMT";
    const struct {
        QString query;
        double seconds;
        std::optional<double> expiry;
    } cases[] = {
        {"cc=public,%20max-age%20%3D%2090.5&" + exp, 0, now + 90.5},
        {"cc=max-age%3D60&" + exp, 500, now + 500},
        {exp, 0, 2362034977},
        {"exp=06%20Nov%202044%2008:49%20GMT", 0, 2362034940},
        {"exp=Sun,%2006%20Nov%202044%2009:49:37%20%2B0100", 0, 2362034977},
        {"exp=0", 0, std::nullopt},
        {"cc=no-cache,%20max-age%3D30", 0, now + 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query.toStdString());
        const QUrl url = server_.url("/h?" + c.query);
        get(url, DoNotRead, c.seconds);
        const auto headers = stored(url);
        ASSERT_TRUE(headers);
        EXPECT_EQ(headers->contains("X-HTTPRequest-Expires"), c.expiry.has_value());
        EXPECT_NEAR(headers->value("X-HTTPRequest-Expires").toDouble(), c.expiry.value_or(0), 3);
    }
    // One directive alone forbids keeping the answer, unless the cache is told to ignore it.
    for (const bool respect : {true, false}) {
        cache_->setShouldRespectCacheControlHeaders(respect);
        const QUrl url = server_.url("/h?cc=no-store&respect=" + QString::number(respect));
        get(url, DoNotRead);
        EXPECT_EQ(stored(url).has_value(), !respect);
    }
}

TEST_F(DownloadCacheTest, GzipAnswersAreStoredInflatedAndReachDataReceivers) {
    QByteArray text;
    for (int i = 0; i < 20000; ++i) text += "compressible line " + QByteArray::number(i) + "\n";
    writeFile(dir_->filePath("root/gz/page.txt"), text);
    const QUrl url = nginx_->url("/gz/page.txt");
    ASSERT_TRUE(get(url, AskServerIfModifiedWhenStale)->isResponseCompressed());
    EXPECT_FALSE(stored(url)->contains("Content-Encoding"));

    QByteArray received;
    auto second = HTTPRequest::requestWithURL(url, cache_);
    second->setDataReceivedBlock([&](const QByteArray& data) { received += data; });
    second->startSynchronous();
    EXPECT_TRUE(second->didUseCachedResponse());
    ASSERT_TRUE(waitUntil([&] { return received.size() >= text.size(); }));
    EXPECT_EQ(received, text);
    EXPECT_EQ(nginx_->statuses("/gz/page.txt").size(), 1);
}

TEST_F(DownloadCacheTest, OnlyGETsFallBackToTheStoredAnswerWhenTheServerIsGone) {
    auto server = std::make_unique<InProcessHttpServer>();
    server->server().Get("/gone", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("kept", "text/plain");
    });
    server->start();
    const QUrl url = server->url("/gone");
    get(url, AskServerIfModified);
    server.reset();
    const std::tuple<int, QString, bool> cases[] = {
        {AskServerIfModified, "GET", false},
        {AskServerIfModified | FallbackToCacheIfLoadFails, "GET", true},
        {FallbackToCacheIfLoadFails, "POST", false}};
    for (const auto& [policy, method, fallBack] : cases) {
        SCOPED_TRACE(testing::Message() << method.toStdString() << " " << policy);
        auto delegate = std::make_shared<RecordingDelegate>();
        auto request = HTTPRequest::requestWithURL(url, cache_, policy);
        request->setRequestMethod(method);
        request->setDelegate(delegate);
        request->startSynchronous();
        settle(50);
        EXPECT_EQ(delegate->count(fallBack ? "finished" : "failed"), 1);
        EXPECT_EQ(request->didUseCachedResponse(), fallBack);
        EXPECT_EQ(request->responseData(), fallBack ? "kept" : "");
    }
}

TEST_F(DownloadCacheTest, StoredRedirectsAreFollowedWithoutTouchingTheStoredFiles) {
    for (int round = 0; round < 2; ++round) {
        auto request = HTTPRequest::requestWithURL(server_.url("/moved?cc=max-age%3D60"), cache_);
        request->setDownloadDestinationPath(cacheDir_.filePath("page.txt"));
        request->startSynchronous();
        EXPECT_EQ(request->url(), server_.url("/final?cc=max-age%3D60"));
        EXPECT_EQ(readFile(request->downloadDestinationPath()), "x");
        EXPECT_EQ(request->didUseCachedResponse(), round == 1);
    }
    EXPECT_EQ(hits_, 2);
    EXPECT_EQ(
        stored(server_.url("/moved?cc=max-age%3D60"))->value("X-HTTPRequest-Response-Status-Code"),
        "301");
}

TEST_F(DownloadCacheTest, HostileURLsNeverLeaveTheStore) {
    const std::pair<QString, QString> cases[] = {{"/a.%2F..%2F..%2Fescape", "html"},
                                                 {"/x." + QString(300, 'a'), "html"},
                                                 {"/..%2F..%2Fout.txt", "txt"},
                                                 {"/a.b%00c", "html"},
                                                 {"/d/..%2f..%2fz.png/", "html"},
                                                 {"/page.PHP", "html"},
                                                 {"/picture.png", "png"},
                                                 {"/plain", "html"}};
    const QString root = cache_->storagePath();
    for (const auto& [path, extension] : cases) {
        SCOPED_TRACE(path.toStdString());
        const QUrl url(server_.url("/").toString(QUrl::RemovePath) + path, QUrl::StrictMode);
        ASSERT_FALSE(get(url, DoNotRead)->error());
        const QString data = cache_->pathToCachedResponseDataForURL(url);
        EXPECT_EQ(data, root + "/SessionStore/" + DownloadCache::keyForURL(url) + "." + extension);
        EXPECT_EQ(readFile(data), "x");
        EXPECT_EQ(QFile(data).permissions() & 0x0077, 0) << "readable by others";
    }
    const QRegularExpression name("^(Session|Permanent)Store/[0-9A-F]{32}\\.[A-Za-z0-9]{1,16}$");
    QDirIterator files(QFileInfo(root).absolutePath(), QDir::Files | QDir::Hidden,
                       QDirIterator::Subdirectories);
    int count = 0;
    for (; files.hasNext(); ++count) {
        const QString file = QDir(root).relativeFilePath(files.next());
        EXPECT_TRUE(name.match(file).hasMatch()) << file.toStdString();
    }
    EXPECT_EQ(count, 16);
}

TEST_F(DownloadCacheTest, KeysAndTheSharedCache) {
    EXPECT_EQ(DownloadCache::keyForURL(QUrl("http://example.com/a/")),
              "3E27A17E84F5F8486FBC14488E12E6FF");
    EXPECT_EQ(DownloadCache::keyForURL(QUrl()), "");
    // The shared cache lives under LUMARO_HOME and, once set as the default, serves requests
    // made without one.
    const auto shared = DownloadCache::sharedCache();
    EXPECT_TRUE(QFileInfo(home_.path() + "/cache/HTTPRequestCache/PermanentStore").isDir());
    HTTPRequest::setDefaultCache(shared);
    EXPECT_EQ(HTTPRequest::requestWithURL(QUrl("http://example.com/"))->downloadCache(), shared);
    HTTPRequest::setDefaultCache(nullptr);
}

TEST_F(DownloadCacheTest, DamagedEntriesAreMisses) {
    const QString path = newFile("intact");
    const QUrl url = nginx_->url(path);
    get(url, AskServerIfModifiedWhenStale);
    const QString headersFile = cache_->pathToCachedResponseHeadersForURL(url);
    for (const QByteArray& damage :
         {QByteArray("not json"), QByteArray("{\"Date\": 1}"), QByteArray("[[\"Date\", [1]]]"),
          QByteArray(2 * 1024 * 1024, '[')}) {
        writeFile(headersFile, damage);
        auto request = get(url, AskServerIfModifiedWhenStale);
        EXPECT_FALSE(request->didUseCachedResponse());
        EXPECT_EQ(request->responseData(), "intact");
    }
    EXPECT_EQ(nginx_->statuses(path).size(), 5);
}

// Each run of the tool is a process of its own: only the permanent store outlives it.
TEST_F(DownloadCacheTest, FetchToolRunsShareThePermanentStore) {
    const QByteArray body = testfiles::pattern(100000);
    const QString path = newFile(body);
    const QString out = cacheDir_.filePath("out.bin"), file = cacheDir_.filePath("file");
    writeFile(file, "x");
    const auto cache = [&](const char* policy) {
        return QStringList{"--cache", cacheDir_.filePath("tool"), "--cache-policy", policy};
    };
    const struct {
        QStringList options;
        QStringList reached;
        int exitCode = 0;
        QByteArray message = {};
    } runs[] = {
        {cache("4") + QStringList{"--cache-permanent"}, {"200"}},
        {cache("4") + QStringList{"-o", out}, {}},
        {cache("8"), {"304"}},
        // Stored again, stale from the start: the next run asks.
        {cache("1") + QStringList{"--cache-permanent", "--cache-seconds", "-5"}, {"200"}},
        {cache("4") + QStringList{"-o", out}, {"304"}},
        {{"--cache", file}, {}, 73, "cache at '" + file.toUtf8() + "', because a file already"},
        {{"--cache", file + "/below"}, {}, 73, "Failed to create a directory for the cache"},
        {cache("128"), {}, 64, "--cache-policy"},
    };
    QStringList reached;
    for (const auto& run : runs) {
        SCOPED_TRACE(run.options.join(' ').toStdString());
        QFile::remove(out);
        const ProgramRun result = runFetch(run.options + QStringList{nginx_->url(path).toString()});
        ASSERT_EQ(result.exitCode, run.exitCode) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(run.message)) << result.err.toStdString();
        if (run.exitCode == 0) {
            EXPECT_EQ(run.options.contains("-o") ? readFile(out) : result.out, body);
        }
        reached += run.reached;
        EXPECT_EQ(nginx_->statuses(path), reached);
    }
}

}  // namespace
