// The disk cache against real servers: nginx with "expires" and ETags, whose access log
// tells which requests reached it, and an in-process server for heads nginx does not send.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "LoggingNginx.h"
#include "RequestTestSupport.h"
#include "http/DownloadCache.h"
#include "servers/InProcessHttpServer.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using http::DownloadCache;
using http::HTTPRequest;
using http::HTTPRequestPtr;
using http::CachePolicy::AskServerIfModified;
using http::CachePolicy::AskServerIfModifiedWhenStale;
using http::CachePolicy::DoNotRead;
using http::CachePolicy::DoNotWrite;
using http::CachePolicy::DontLoad;
using http::CachePolicy::FallbackToCacheIfLoadFails;
using http::CachePolicy::OnlyLoadIfNotCached;
using testfiles::readFile;
using testfiles::writeFile;
using namespace testsupport;

class DownloadCacheTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        application();
        dir_ = new QTemporaryDir();
        QDir(dir_->path()).mkpath("root/gz");
        QDir(dir_->path()).mkpath("root/nostore");
        nginx_ = new LoggingNginx(dir_->filePath("root"));
    }
    static void TearDownTestSuite() {
        delete nginx_;
        delete dir_;
    }
    void SetUp() override { cache_->setStoragePath(cacheDir_.path() + "/cache"); }

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
    QTemporaryDir cacheDir_;
    std::shared_ptr<DownloadCache> cache_ = std::make_shared<DownloadCache>();
};

enum class Stored { Nothing, Fresh, Stale };
enum class Source { Cache, Network, Revalidated, Empty };

struct PolicyCase {
    int policy;
    Stored before;
    Source source;
    bool storedAfter;
};

TEST_F(DownloadCacheTest, EveryPolicyTakesItsAnswerFromWhereItSays) {
    const PolicyCase cases[] = {
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
    for (const PolicyCase& c : cases) {
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
        const QStringList reached = nginx_->statuses(path).mid(before);
        const QStringList expected = c.source == Source::Network       ? QStringList{"200"}
                                     : c.source == Source::Revalidated ? QStringList{"304"}
                                                                       : QStringList{};
        EXPECT_EQ(reached, expected);
        EXPECT_EQ(request->didUseCachedResponse(),
                  c.source == Source::Cache || c.source == Source::Revalidated);
        EXPECT_EQ(request->responseStatusCode(), c.source == Source::Empty ? 0 : 200);
        EXPECT_EQ(request->responseData(), c.source == Source::Empty ? QByteArray() : body);
        EXPECT_EQ(stored(url).has_value(), c.storedAfter);
    }
}

TEST_F(DownloadCacheTest, RevalidationRenewsExpiryAndAChangedFileIsLoadedAgain) {
    const QString path = newFile("first version");
    const QUrl url = nginx_->url(path);
    get(url, AskServerIfModifiedWhenStale, -60);
    const double stale = stored(url)->value("X-HTTPRequest-Expires").toDouble();
    EXPECT_LT(stale, QDateTime::currentSecsSinceEpoch());

    auto revalidated = get(url, AskServerIfModifiedWhenStale);
    EXPECT_TRUE(revalidated->didUseCachedResponse());
    const double renewed = stored(url)->value("X-HTTPRequest-Expires").toDouble();
    EXPECT_NEAR(renewed, QDateTime::currentSecsSinceEpoch() + 3600, 5);

    // A new file (new ETag, new length) answers 200 to the conditional request: the new body
    // is the answer and replaces the stored one, although the stored one has not expired.
    QThread::sleep(1);
    writeFile(dir_->filePath("root" + path), "second, longer version");
    auto changed = get(url, AskServerIfModified);
    EXPECT_FALSE(changed->didUseCachedResponse());
    EXPECT_EQ(changed->responseData(), "second, longer version");
    EXPECT_EQ(cache_->cachedResponseDataForURL(url), "second, longer version");
    EXPECT_EQ(nginx_->statuses(path), (QStringList{"200", "304", "200"}));
}

TEST_F(DownloadCacheTest, ExpiryComesFromSecondsToCacheThenMaxAgeThenExpires) {
    InProcessHttpServer server;
    server.server().Get("/h", [](const httplib::Request& req, httplib::Response& res) {
        if (req.has_param("cc")) res.set_header("Cache-Control", req.get_param_value("cc"));
        if (req.has_param("exp")) res.set_header("Expires", req.get_param_value("exp"));
        res.set_content("x", "text/plain");
    });
    server.start();
    const double now = QDateTime::currentSecsSinceEpoch();
    struct Case {
        QString query;
        double seconds;
        std::optional<double> expiry;
    };
    const Case cases[] = {
        {"cc=max-age%3D60", 0, now + 60},
        {"cc=public,%20max-age%20%3D%2090.5&exp=Sun,%2006%20Nov%202044%2008:49:37%20GMT", 0,
         now + 90.5},
        {"cc=max-age%3D60&exp=Sun,%2006%20Nov%202044%2008:49:37%20GMT", 500, now + 500},
        {"exp=Sun,%2006%20Nov%202044%2008:49:37%20GMT", 0, 2362034977},
        {"exp=06%20Nov%202044%2008:49%20GMT", 0, 2362034940},
        {"exp=Sun,%2006%20Nov%202044%2009:49:37%20%2B0100", 0, 2362034977},
        {"exp=0", 0, std::nullopt},
        {"cc=no-cache,%20max-age%3D30", 0, now + 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query.toStdString());
        const QUrl url = server.url("/h?" + c.query);
        get(url, DoNotRead, c.seconds);
        const auto headers = stored(url);
        ASSERT_TRUE(headers);
        EXPECT_EQ(headers->value("X-HTTPRequest-Response-Status-Code"), "200");
        if (c.expiry) {
            EXPECT_NEAR(headers->value("X-HTTPRequest-Expires").toDouble(), *c.expiry, 3);
        } else {
            EXPECT_FALSE(headers->contains("X-HTTPRequest-Expires"));
        }
    }
    // One directive alone forbids keeping the answer, unless the cache is told to ignore it.
    for (const bool respect : {true, false}) {
        cache_->setShouldRespectCacheControlHeaders(respect);
        const QUrl url = server.url("/h?cc=no-store&respect=" + QString::number(respect));
        get(url, DoNotRead);
        EXPECT_EQ(stored(url).has_value(), !respect);
    }
}

TEST_F(DownloadCacheTest, GzipAnswersAreStoredInflated) {
    QByteArray text;
    for (int i = 0; i < 2000; ++i) text += "compressible line " + QByteArray::number(i) + "\n";
    writeFile(dir_->filePath("root/gz/page.txt"), text);
    const QUrl url = nginx_->url("/gz/page.txt");
    auto first = get(url, AskServerIfModifiedWhenStale);
    ASSERT_TRUE(first->isResponseCompressed());
    const auto headers = stored(url);
    ASSERT_TRUE(headers);
    EXPECT_FALSE(headers->contains("Content-Encoding"));
    EXPECT_EQ(cache_->cachedResponseDataForURL(url), text);

    auto second = get(url, AskServerIfModifiedWhenStale);
    EXPECT_TRUE(second->didUseCachedResponse());
    EXPECT_EQ(second->responseData(), text);
    EXPECT_EQ(nginx_->statuses("/gz/page.txt").size(), 1);

    get(nginx_->url("/nostore/"), AskServerIfModifiedWhenStale);
    EXPECT_FALSE(stored(nginx_->url("/nostore/")));
}

TEST_F(DownloadCacheTest, FallsBackToTheStoredAnswerWhenTheServerIsGone) {
    auto server = std::make_unique<InProcessHttpServer>();
    server->server().Get("/gone", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("kept", "text/plain");
    });
    server->start();
    const QUrl url = server->url("/gone");
    get(url, AskServerIfModified);
    server.reset();

    for (const int policy :
         {AskServerIfModified, AskServerIfModified | FallbackToCacheIfLoadFails}) {
        SCOPED_TRACE(policy);
        auto delegate = std::make_shared<RecordingDelegate>();
        auto request = HTTPRequest::requestWithURL(url, cache_, policy);
        request->setDelegate(delegate);
        request->startSynchronous();
        settle(50);
        const bool fallBack = policy & FallbackToCacheIfLoadFails;
        EXPECT_EQ(request->error() == nullptr, fallBack);
        EXPECT_EQ(delegate->count(fallBack ? "finished" : "failed"), 1);
        EXPECT_EQ(request->responseData(), fallBack ? "kept" : "");
    }
}

TEST_F(DownloadCacheTest, StoredAnswersReachDataReceivers) {
    const QString path = newFile(testfiles::pattern(300000));
    const QUrl url = nginx_->url(path);
    get(url, AskServerIfModifiedWhenStale);

    QByteArray received;
    auto streamed = HTTPRequest::requestWithURL(url, cache_);
    streamed->setDataReceivedBlock([&](const QByteArray& data) { received += data; });
    streamed->startSynchronous();
    ASSERT_TRUE(waitUntil([&] { return received.size() >= 300000; }));
    EXPECT_EQ(received, testfiles::pattern(300000));

    EXPECT_EQ(nginx_->statuses(path).size(), 1);
}

TEST_F(DownloadCacheTest, StoredRedirectsAreFollowedWithoutTouchingTheStoredFiles) {
    InProcessHttpServer server;
    std::atomic<int> hits{0};
    server.server().Get("/moved", [&](const httplib::Request&, httplib::Response& res) {
        ++hits;
        res.set_header("Cache-Control", "max-age=60");
        res.set_redirect("/final", 301);
    });
    server.server().Get("/final", [&](const httplib::Request&, httplib::Response& res) {
        ++hits;
        res.set_header("Cache-Control", "max-age=60");
        res.set_content("final page", "text/plain");
    });
    server.start();
    for (int round = 0; round < 2; ++round) {
        auto request = HTTPRequest::requestWithURL(server.url("/moved"), cache_);
        request->setDownloadDestinationPath(cacheDir_.filePath("page.txt"));
        request->startSynchronous();
        ASSERT_FALSE(request->error());
        EXPECT_EQ(request->url(), server.url("/final"));
        EXPECT_EQ(readFile(request->downloadDestinationPath()), "final page");
        EXPECT_EQ(request->didUseCachedResponse(), round == 1);
    }
    EXPECT_EQ(hits, 2);
    EXPECT_EQ(cache_->cachedResponseDataForURL(server.url("/moved")), "");
    ASSERT_TRUE(stored(server.url("/moved")));
    EXPECT_EQ(stored(server.url("/moved"))->value("X-HTTPRequest-Response-Status-Code"), "301");
}

TEST_F(DownloadCacheTest, HostileURLsNeverLeaveTheStore) {
    InProcessHttpServer server;
    server.server().Get(".*", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("hostile", "text/plain");
    });
    server.start();
    const QString paths[] = {"/a.%2F..%2F..%2Fescape", "/x." + QString(300, 'a'),
                             "/..%2F..%2Fout.txt",     "/a.b%00c",
                             "/d/..%2f..%2fz.png/",    "/page.PHP",
                             "/picture.png",           "/plain"};
    const QString bodyNames[] = {"html", "html", "txt", "html", "html", "html", "png", "html"};
    const QString root = cache_->storagePath();
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(paths[i].toStdString());
        const QUrl url(server.url("/").toString(QUrl::RemovePath) + paths[i], QUrl::StrictMode);
        ASSERT_FALSE(get(url, DoNotRead)->error());
        const QString data = cache_->pathToCachedResponseDataForURL(url);
        EXPECT_EQ(data,
                  root + "/SessionStore/" + DownloadCache::keyForURL(url) + "." + bodyNames[i]);
        EXPECT_EQ(readFile(data), "hostile");
        EXPECT_EQ(QFile(data).permissions() & 0x0077, 0) << "readable by others";
    }
    const QRegularExpression name("^(Session|Permanent)Store/[0-9A-F]{32}\\.[A-Za-z0-9]{1,16}$");
    QDirIterator files(QFileInfo(root).absolutePath(), QDir::Files | QDir::Hidden,
                       QDirIterator::Subdirectories);
    int count = 0;
    while (files.hasNext()) {
        const QString file = QDir(root).relativeFilePath(files.next());
        EXPECT_TRUE(name.match(file).hasMatch()) << file.toStdString();
        ++count;
    }
    EXPECT_EQ(count, 16);
}

TEST_F(DownloadCacheTest, KeysAndDefaults) {
    EXPECT_EQ(DownloadCache::keyForURL(QUrl("http://example.com/a")),
              "3E27A17E84F5F8486FBC14488E12E6FF");
    EXPECT_EQ(DownloadCache::keyForURL(QUrl("http://example.com/a/")),
              "3E27A17E84F5F8486FBC14488E12E6FF");
    EXPECT_EQ(DownloadCache::keyForURL(QUrl()), "");
    cache_->setDefaultCachePolicy(0);
    EXPECT_EQ(cache_->defaultCachePolicy(), AskServerIfModifiedWhenStale);
    // The shared cache lives under LUMARO_HOME and, once set as the default, serves requests
    // made without one.
    const auto shared = DownloadCache::sharedCache();
    EXPECT_EQ(shared, DownloadCache::sharedCache());
    EXPECT_EQ(shared->storagePath(), home_.path() + "/cache/HTTPRequestCache");
    EXPECT_TRUE(QFileInfo(shared->storagePath() + "/PermanentStore").isDir());
    HTTPRequest::setDefaultCache(shared);
    EXPECT_EQ(HTTPRequest::requestWithURL(QUrl("http://example.com/"))->downloadCache(), shared);
    HTTPRequest::setDefaultCache(nullptr);
}

TEST_F(DownloadCacheTest, DamagedEntriesAreMissesAndFolderProblemsAreNamed) {
    const QString path = newFile("intact");
    const QUrl url = nginx_->url(path);
    get(url, AskServerIfModifiedWhenStale);
    const QString headersFile = cache_->pathToCachedResponseHeadersForURL(url);
    const QByteArray damages[] = {"not json", "{\"Date\": 1}", "[[\"Date\", [1]]]",
                                  QByteArray(2 * 1024 * 1024, '[')};
    for (const QByteArray& damage : damages) {
        writeFile(headersFile, damage);
        auto request = get(url, AskServerIfModifiedWhenStale);
        EXPECT_FALSE(request->didUseCachedResponse());
        EXPECT_EQ(request->responseData(), "intact");
    }
    EXPECT_EQ(nginx_->statuses(path).size(), 5);

    // Opening a cache empties its session store and keeps its permanent one.
    auto permanent = HTTPRequest::requestWithURL(nginx_->url(newFile("kept")), cache_);
    permanent->setCacheStoragePolicy(http::CacheStoragePolicy::Permanently);
    permanent->startSynchronous();
    cache_->setStoragePath(cache_->storagePath());
    EXPECT_FALSE(stored(url));
    EXPECT_TRUE(stored(permanent->url()));

    writeFile(cacheDir_.filePath("plain"), "a file");
    QDir(cacheDir_.path()).mkpath("c2");
    writeFile(cacheDir_.filePath("c2/SessionStore"), "a file");
    const std::pair<QString, QString> problems[] = {
        {cacheDir_.filePath("plain"), "FileExistsAtCachePath"},
        {cacheDir_.filePath("c2"), "FileExistsAtCachePath"},
        {cacheDir_.filePath("plain/below"), "FailedToCreateCacheDirectory"},
    };
    for (const auto& [where, problem] : problems) {
        try {
            DownloadCache().setStoragePath(where);
            ADD_FAILURE() << "no exception for " << where.toStdString();
        } catch (const http::CacheException& e) {
            EXPECT_EQ(e.name(), problem);
            EXPECT_TRUE(e.reason().contains(where)) << e.reason().toStdString();
        }
    }
}

}  // namespace
