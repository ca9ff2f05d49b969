// Requests answered through the cache interface, with a small in-memory cache of the
// test's own standing in for the on-disk one.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <map>

#include "RequestTestSupport.h"
#include "servers/InProcessHttpServer.h"
#include "support/TempHome.h"

namespace {

using http::CacheDelegate;
using http::HTTPRequest;
using namespace testsupport;

class MemoryCache : public CacheDelegate {
public:
    explicit MemoryCache(QString dir) : dir_(std::move(dir)) {}

    int defaultCachePolicy() const override { return policy; }
    bool canUseCachedDataForRequest(HTTPRequest& request) override {
        if (refusals > 0) {
            --refusals;
            return false;
        }
        return usable && entries_.count(request.url().toString()) > 0;
    }
    void storeResponseForRequest(HTTPRequest& request, double) override {
        ++stored;
        put(request.url(), request.responseHeaders(), request.rawResponseData());
    }
    void updateExpiryForRequest(HTTPRequest&, double) override {}
    void removeCachedDataForRequest(HTTPRequest& request) override {
        entries_.erase(request.url().toString());
    }
    std::optional<http::Headers> cachedResponseHeadersForURL(const QUrl& url) override {
        auto it = entries_.find(url.toString());
        if (it == entries_.end()) return std::nullopt;
        return it->second.headers;
    }
    QByteArray cachedResponseDataForURL(const QUrl& url) override {
        auto it = entries_.find(url.toString());
        return it == entries_.end() ? QByteArray() : it->second.data;
    }
    QString pathToCachedResponseDataForURL(const QUrl& url) override {
        auto it = entries_.find(url.toString());
        return it == entries_.end() ? QString() : it->second.path;
    }
    void clearCachedResponsesForStoragePolicy(int) override { entries_.clear(); }

    void put(const QUrl& url, http::Headers headers, const QByteArray& data) {
        const QString path = dir_ + "/" + QString::number(entries_.size());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(data);
        headers.set("X-HTTPRequest-Response-Status-Code", "200");
        entries_[url.toString()] = {headers, data, path};
    }

    int policy = http::CachePolicy::UseDefault;
    bool usable = true;
    // How many questions are answered "no" before the cache answers truthfully.
    int refusals = 0;
    int stored = 0;

private:
    struct Entry {
        http::Headers headers;
        QByteArray data;
        QString path;
    };
    QString dir_;
    std::map<QString, Entry> entries_;
};

class RequestCache : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        server_.server().Get("/page", [this](const httplib::Request&, httplib::Response& res) {
            ++hits_;
            res.set_content("fresh", "text/plain; charset=utf-8");
        });
        server_.start();
    }

    TempHome home_;
    QTemporaryDir dir_;
    InProcessHttpServer server_;
    std::atomic<int> hits_{0};
    std::shared_ptr<MemoryCache> cache_ = std::make_shared<MemoryCache>(dir_.path());
};

TEST_F(RequestCache, LoadedAnswersAreStoredAndLaterOnesComeFromTheCache) {
    cache_->usable = false;
    auto first = HTTPRequest::requestWithURL(server_.url("/page"), cache_);
    first->startSynchronous();
    ASSERT_FALSE(first->error());
    EXPECT_EQ(cache_->stored, 1);
    EXPECT_FALSE(first->didUseCachedResponse());

    cache_->usable = true;
    auto delegate = std::make_shared<RecordingDelegate>();
    auto second = HTTPRequest::requestWithURL(server_.url("/page"), cache_);
    second->setDelegate(delegate);
    second->startSynchronous();
    settle(50);
    EXPECT_EQ(hits_, 1);
    EXPECT_TRUE(second->didUseCachedResponse());
    EXPECT_EQ(second->responseStatusCode(), 200);
    EXPECT_EQ(second->responseData(), "fresh");
    EXPECT_EQ(second->responseEncoding(), http::StringEncodings::UTF8);
    EXPECT_EQ(delegate->count("finished"), 1);
    EXPECT_TRUE(second->isFinished());
    EXPECT_EQ(cache_->stored, 1);

    // Only GET requests use the cache.
    auto post = HTTPRequest::requestWithURL(server_.url("/page"), cache_);
    post->setRequestMethod("DELETE");
    post->startSynchronous();
    EXPECT_FALSE(post->didUseCachedResponse());
    EXPECT_EQ(post->responseStatusCode(), 404);
}

TEST_F(RequestCache, FailedLoadFallsBackToTheCacheOnlyWhenAskedTo) {
    const QUrl unreachable("http://127.0.0.1:1/page");
    cache_->put(unreachable, http::Headers{{"Content-Type", "text/plain"}}, "from cache");

    for (const bool fallBack : {false, true}) {
        // The cache declines before the load, so the request goes to the network and fails.
        cache_->refusals = 1;
        auto delegate = std::make_shared<RecordingDelegate>();
        auto request = HTTPRequest::requestWithURL(
            unreachable, cache_, fallBack ? http::CachePolicy::FallbackToCacheIfLoadFails : 0);
        request->setDelegate(delegate);
        request->startAsynchronous();
        ASSERT_TRUE(waitUntil([&] { return delegate->ended(); }));
        settle(50);
        EXPECT_TRUE(request->isFinished());
        if (fallBack) {
            EXPECT_FALSE(request->error());
            EXPECT_EQ(delegate->count("finished"), 1);
            EXPECT_EQ(delegate->count("failed"), 0);
            EXPECT_TRUE(request->didUseCachedResponse());
            EXPECT_EQ(request->responseData(), "from cache");
        } else {
            ASSERT_TRUE(request->error());
            EXPECT_EQ(request->error()->code, 1);
            EXPECT_EQ(delegate->count("failed"), 1);
            EXPECT_EQ(delegate->count("finished"), 0);
        }
    }
}

}  // namespace
