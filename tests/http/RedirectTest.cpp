#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RequestTestSupport.h"
#include "servers/InProcessHttpServer.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;
using namespace testsupport;

// What the server saw of the request that ended a chain, one field per line:
// method, body, Content-Length, Content-Type, User-Agent, Accept, X-Custom.
QStringList seenFields(const QByteArray& data) { return QString::fromUtf8(data).split('\n'); }

void echo(const httplib::Request& req, httplib::Response& res) {
    std::string text = req.method + "\n" + req.body;
    for (const char* name : {"Content-Length", "Content-Type", "User-Agent", "Accept", "X-Custom"})
        text += "\n" + (req.has_header(name) ? req.get_header_value(name) : std::string("-"));
    res.set_content(text, "text/plain");
}

class Redirects : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        // /chain/STATUS/N answers STATUS with a relative Location (none with ?bare) N times,
        // the last with a query, then echoes.
        auto chain = [this](const httplib::Request& req, httplib::Response& res) {
            ++hits_;
            const int left = std::stoi(req.matches[2]);
            if (left == 0) return echo(req, res);
            res.status = std::stoi(req.matches[1]);
            if (!req.has_param("bare"))
                res.set_header("Location", std::to_string(left - 1) + (left == 1 ? "?x=1" : ""));
            if (res.status != 304) res.set_content("redirect body", "text/plain");
        };
        server_.server().Get(R"(/chain/(\d+)/(\d+))", chain);
        server_.server().Post(R"(/chain/(\d+)/(\d+))", chain);
        server_.server().Get("/echo", echo);
        server_.start();
    }
    static void confirmRedirects(const HTTPRequestPtr& request,
                                 const std::shared_ptr<RecordingDelegate>& delegate) {
        request->setDelegate(delegate);
        request->setWillRedirectSelector(
            [](http::HTTPRequestDelegate& d, const HTTPRequestPtr& r, const QUrl& url) {
                d.requestWillRedirectToURL(r, url);
            });
    }

    TempHome home_;
    InProcessHttpServer server_;
    std::atomic<int> hits_{0};
};

TEST_F(Redirects, StatusMethodLimitAndChoiceDecideWhatIsFollowedAndWhatGoesAlong) {
    struct Redirected : RecordingDelegate {
        void requestRedirected(const HTTPRequestPtr&) override { ++redirected; }
        int redirected = 0;
    };
    const struct {
        const char* path;
        bool rfc2616, follow;
        int status, redirects, error;
        const char* method;  // of the request that reached the end of the chain
        QByteArray body;     // of the answer when the chain was not followed
    } cases[] = {
        {"/chain/301/1", false, true, 200, 1, 0, "GET", {}},
        {"/chain/302/5", false, true, 200, 5, 0, "GET", {}},
        {"/chain/303/5", false, true, 200, 5, 0, "GET", {}},
        {"/chain/307/5", false, true, 200, 5, 0, "POST", {}},
        {"/chain/301/1", true, true, 200, 1, 0, "POST", {}},
        {"/chain/302/1", true, true, 200, 1, 0, "POST", {}},
        {"/chain/303/1", true, true, 200, 1, 0, "GET", {}},
        {"/chain/307/1", true, true, 200, 1, 0, "POST", {}},
        {"/chain/302/6", false, true, 302, 6, 9, nullptr, {}},
        {"/chain/307/6", true, true, 307, 6, 9, nullptr, {}},
        {"/chain/304/1", false, true, 304, 0, 0, nullptr, {}},
        {"/chain/302/1?bare", false, true, 302, 0, 0, nullptr, "redirect body"},
        {"/chain/302/1", false, false, 302, 0, 0, nullptr, "redirect body"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.rfc2616 ? " rfc2616" : "") +
                     (c.follow ? "" : " kept"));
        hits_ = 0;
        auto request = HTTPRequest::requestWithURL(server_.url(c.path));
        auto delegate = std::make_shared<Redirected>();
        request->setDelegate(delegate);
        request->setShouldUseRFC2616RedirectBehaviour(c.rfc2616);
        request->setShouldRedirect(c.follow);
        request->appendPostData("payload");
        for (const auto& [name, value] : {std::pair{"User-Agent", "lumaro-test"},
                                          {"Accept", "text/x-test"},
                                          {"X-Custom", "kept?"},
                                          {"Content-Type", "application/x-test"}})
            request->addRequestHeader(name, value);
        int blocks = 0;
        QByteArray received;
        // Bodies as sent, so that a redirect's own body would show.
        request->setAllowCompressedResponse(false);
        request->setRequestRedirectedBlock([&] { ++blocks; });
        request->setDataReceivedBlock([&](const QByteArray& data) { received += data; });
        request->startAsynchronous();
        // Every redirect followed by a request that then succeeds is told, on the GUI thread.
        EXPECT_TRUE(waitUntil(
            [&] { return delegate->ended() && (c.error || delegate->redirected == c.redirects); }));
        settle(30);
        EXPECT_EQ(request->redirectCount(), c.redirects);
        if (!c.error) {
            EXPECT_EQ(delegate->redirected, c.redirects);
            EXPECT_EQ(blocks, c.redirects);
        }
        EXPECT_EQ(delegate->count("finished") + delegate->count("failed"), 1);
        EXPECT_TRUE(delegate->allOnMainThread);
        EXPECT_EQ(request->originalURL(), server_.url(c.path));
        // A redirect beyond the fifth is not visited.
        EXPECT_EQ(hits_, c.redirects + (c.error ? 0 : 1));
        if (c.error) {
            ASSERT_TRUE(request->error());
            EXPECT_EQ(request->error()->code, c.error);
            EXPECT_EQ(request->error()->localizedDescription,
                      "The request failed because it redirected too many times");
            continue;
        }
        ASSERT_FALSE(request->error());
        EXPECT_EQ(request->responseStatusCode(), c.status);
        if (!c.method) {
            EXPECT_EQ(received, c.body);
            EXPECT_EQ(request->url(), server_.url(c.path));
            continue;
        }
        EXPECT_EQ(request->url(), server_.url(QString(c.path).section('/', 0, -2) + "/0?x=1"));
        // The caller's own headers go along; a body and what describes it only with a POST.
        const QStringList post = {"POST",        "payload",     "7",    "application/x-test",
                                  "lumaro-test", "text/x-test", "kept?"};
        const QStringList get = {"GET", "", "-", "-", "lumaro-test", "text/x-test", "-"};
        EXPECT_EQ(seenFields(received), QString(c.method) == "POST" ? post : get);
    }
}

// A delegate that confirms redirects itself.
struct ConfirmingDelegate : RecordingDelegate {
    void requestWillRedirectToURL(const HTTPRequestPtr&, const QUrl& url) override {
        asked.push_back(url);
    }
    std::vector<QUrl> asked;
};

TEST_F(Redirects, ADelegateThatConfirmsRedirectsHoldsTheRequestUntilItContinuesOrIsCancelled) {
    auto delegate = std::make_shared<ConfirmingDelegate>();
    auto request = HTTPRequest::requestWithURL(server_.url("/chain/302/1"));
    confirmRedirects(request, delegate);
    request->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return !delegate->asked.empty(); }));
    settle(300);
    EXPECT_EQ(delegate->asked.front(), server_.url("/chain/302/0?x=1"));
    EXPECT_FALSE(delegate->ended());
    EXPECT_FALSE(request->isFinished());
    // The delegate may send the request somewhere else than the server said.
    request->redirectToURL(server_.url("/echo"));
    ASSERT_TRUE(waitUntil([&] { return delegate->ended(); }));
    EXPECT_EQ(delegate->count("finished"), 1);
    EXPECT_EQ(request->url(), server_.url("/echo"));
    EXPECT_EQ(request->redirectCount(), 1);

    // Synchronous requests wait on their own thread.
    auto confirmed = HTTPRequest::requestWithURL(server_.url("/chain/302/1"));
    auto cancelled = HTTPRequest::requestWithURL(server_.url("/chain/302/1"));
    confirmRedirects(confirmed, delegate);
    confirmRedirects(cancelled, delegate);
    std::thread worker([&] {
        confirmed->startSynchronous();
        cancelled->startSynchronous();
    });
    ASSERT_TRUE(waitUntil([&] { return delegate->asked.size() == 2; }));
    settle(100);
    EXPECT_FALSE(confirmed->complete() && !confirmed->needsRedirect());
    confirmed->redirectToURL(delegate->asked.back());
    ASSERT_TRUE(waitUntil([&] { return delegate->asked.size() == 3; }));
    cancelled->cancel();
    worker.join();
    EXPECT_FALSE(confirmed->error());
    EXPECT_EQ(confirmed->responseStatusCode(), 200);
    ASSERT_TRUE(cancelled->error());
    EXPECT_EQ(cancelled->error()->code, 4);
    EXPECT_TRUE(cancelled->isFinished());
}

}  // namespace
