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

// What the server saw of the request that ended a chain, one field per line.
struct Echo {
    QString method;
    QString body;
    QString contentLength;
    QString contentType;
    QString userAgent;
    QString accept;
    QString custom;
};

Echo parseEcho(const QByteArray& data) {
    const QStringList lines = QString::fromUtf8(data).split('\n');
    auto field = [&](int i) { return i < lines.size() ? lines[i] : QString("<missing>"); };
    return {field(0), field(1), field(2), field(3), field(4), field(5), field(6)};
}

void echo(const httplib::Request& req, httplib::Response& res) {
    auto header = [&](const char* name) {
        return req.has_header(name) ? req.get_header_value(name) : std::string("-");
    };
    res.set_content(req.method + "\n" + req.body + "\n" + header("Content-Length") + "\n" +
                        header("Content-Type") + "\n" + header("User-Agent") + "\n" +
                        header("Accept") + "\n" + header("X-Custom"),
                    "text/plain");
}

class Redirects : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        // /chain/STATUS/N answers STATUS with a relative Location N times (the last with a
        // query), then echoes.
        auto chain = [this](const httplib::Request& req, httplib::Response& res) {
            ++hits_;
            const int status = std::stoi(req.matches[1]);
            const int left = std::stoi(req.matches[2]);
            if (left == 0) {
                echo(req, res);
                return;
            }
            res.status = status;
            res.set_header("Location", std::to_string(left - 1) + (left == 1 ? "?x=1" : ""));
            res.set_content("redirect body", "text/plain");
        };
        server_.server().Get(R"(/chain/(\d+)/(\d+))", chain);
        server_.server().Post(R"(/chain/(\d+)/(\d+))", chain);
        server_.server().Get("/echo", echo);
        server_.server().Post("/echo", echo);
        server_.server().Get("/not-modified", [](const httplib::Request&, httplib::Response& res) {
            res.status = 304;
            res.set_header("Location", "/echo");
        });
        server_.server().Get("/no-location", [](const httplib::Request&, httplib::Response& res) {
            res.status = 302;
            res.set_content("stay", "text/plain");
        });
        server_.start();
    }

    HTTPRequestPtr run(const QString& path) {
        auto request = HTTPRequest::requestWithURL(server_.url(path));
        request->startSynchronous();
        return request;
    }

    TempHome home_;
    InProcessHttpServer server_;
    std::atomic<int> hits_{0};
};

TEST_F(Redirects, FiveRedirectsOfEveryStatusAreFollowedAndASixthFails) {
    for (const int status : {301, 302, 303, 307}) {
        SCOPED_TRACE(status);
        auto request = run(QString("/chain/%1/5").arg(status));
        EXPECT_FALSE(request->error());
        EXPECT_EQ(request->responseStatusCode(), 200);
        EXPECT_EQ(request->redirectCount(), 5);
        EXPECT_EQ(request->url(), server_.url(QString("/chain/%1/0?x=1").arg(status)));
        EXPECT_EQ(request->originalURL(), server_.url(QString("/chain/%1/5").arg(status)));
        EXPECT_EQ(parseEcho(request->responseData()).method, "GET");

        hits_ = 0;
        auto tooMany = run(QString("/chain/%1/6").arg(status));
        ASSERT_TRUE(tooMany->error());
        EXPECT_EQ(tooMany->error()->code, 9);
        EXPECT_EQ(tooMany->error()->localizedDescription,
                  "The request failed because it redirected too many times");
        EXPECT_EQ(tooMany->redirectCount(), 6);
        // The sixth Location is not visited.
        EXPECT_EQ(hits_, 6);
    }
}

TEST_F(Redirects, MethodBodyAndHeadersFollowTheStatusAndTheRfc2616Choice) {
    struct Case {
        int status;
        bool rfc2616;
        bool keepsPost;
    };
    const std::vector<Case> cases = {
        {301, false, false}, {302, false, false}, {303, false, false}, {307, false, true},
        {301, true, true},   {302, true, true},   {303, true, false},  {307, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString("%1 rfc2616=%2").arg(c.status).arg(c.rfc2616).toStdString());
        auto request =
            HTTPRequest::requestWithURL(server_.url(QString("/chain/%1/1").arg(c.status)));
        request->setShouldUseRFC2616RedirectBehaviour(c.rfc2616);
        request->appendPostData("payload");
        request->addRequestHeader("User-Agent", "lumaro-test");
        request->addRequestHeader("Accept", "text/x-test");
        request->addRequestHeader("X-Custom", "kept?");
        request->addRequestHeader("Content-Type", "application/x-test");
        request->startSynchronous();
        ASSERT_FALSE(request->error());
        const Echo seen = parseEcho(request->responseData());
        EXPECT_EQ(seen.userAgent, "lumaro-test");
        EXPECT_EQ(seen.accept, "text/x-test");
        if (c.keepsPost) {
            EXPECT_EQ(seen.method, "POST");
            EXPECT_EQ(seen.body, "payload");
            EXPECT_EQ(seen.contentLength, "7");
            EXPECT_EQ(seen.custom, "kept?");
        } else {
            EXPECT_EQ(seen.method, "GET");
            EXPECT_EQ(seen.body, "");
            EXPECT_EQ(seen.contentLength, "-");
            EXPECT_EQ(seen.contentType, "-");
            EXPECT_EQ(seen.custom, "-");
        }
    }
}

TEST_F(Redirects, AnswersThatAreNotFollowedAreOrdinaryAnswers) {
    auto notModified = run("/not-modified");
    EXPECT_FALSE(notModified->error());
    EXPECT_EQ(notModified->responseStatusCode(), 304);
    EXPECT_EQ(notModified->redirectCount(), 0);

    auto withoutLocation = run("/no-location");
    EXPECT_EQ(withoutLocation->responseStatusCode(), 302);
    EXPECT_EQ(withoutLocation->responseData(), "stay");

    auto request = HTTPRequest::requestWithURL(server_.url("/chain/302/1"));
    request->setShouldRedirect(false);
    request->startSynchronous();
    EXPECT_FALSE(request->error());
    EXPECT_EQ(request->responseStatusCode(), 302);
    EXPECT_EQ(request->responseData(), "redirect body");
    EXPECT_EQ(request->redirectCount(), 0);
}

TEST_F(Redirects, RedirectEventsReachTheGuiThreadAndBodiesOfRedirectsReachNoDataReceiver) {
    struct Redirected : RecordingDelegate {
        void requestRedirected(const HTTPRequestPtr&) override { ++redirected; }
        int redirected = 0;
    };
    auto counting = std::make_shared<Redirected>();
    auto request = HTTPRequest::requestWithURL(server_.url("/chain/302/3"));
    request->setDelegate(counting);
    int blocks = 0;
    QByteArray received;
    // Bodies as sent, so that a redirect's own body would show.
    request->setAllowCompressedResponse(false);
    request->setRequestRedirectedBlock([&] { ++blocks; });
    request->setDataReceivedBlock([&](const QByteArray& data) { received += data; });
    request->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }));
    settle();
    EXPECT_EQ(counting->redirected, 3);
    EXPECT_EQ(blocks, 3);
    EXPECT_EQ(counting->count("finished"), 1);
    EXPECT_TRUE(counting->allOnMainThread);
    EXPECT_EQ(parseEcho(received).method, "GET");
    EXPECT_FALSE(received.contains("redirect body"));
}

// A delegate that confirms redirects itself.
class ConfirmingDelegate : public RecordingDelegate {
public:
    void requestWillRedirectToURL(const HTTPRequestPtr&, const QUrl& url) override {
        asked.push_back(url);
    }
    std::vector<QUrl> asked;
};

TEST_F(Redirects, ADelegateThatConfirmsRedirectsHoldsTheRequestUntilItContinues) {
    auto delegate = std::make_shared<ConfirmingDelegate>();
    auto request = HTTPRequest::requestWithURL(server_.url("/chain/302/1"));
    request->setDelegate(delegate);
    request->setWillRedirectSelector([](http::HTTPRequestDelegate& d, const HTTPRequestPtr& r,
                                        const QUrl& url) { d.requestWillRedirectToURL(r, url); });
    request->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return !delegate->asked.empty(); }));
    settle(300);
    EXPECT_EQ(delegate->asked.front(), server_.url("/chain/302/0?x=1"));
    EXPECT_EQ(delegate->count("finished") + delegate->count("failed"), 0);
    EXPECT_FALSE(request->isFinished());

    // The delegate may send the request somewhere else than the server said.
    request->redirectToURL(server_.url("/echo"));
    ASSERT_TRUE(waitUntil([&] { return delegate->ended(); }));
    EXPECT_EQ(delegate->count("finished"), 1);
    EXPECT_EQ(request->url(), server_.url("/echo"));
    EXPECT_EQ(request->redirectCount(), 1);
    EXPECT_EQ(delegate->asked.size(), 1u);
}

TEST_F(Redirects, ASynchronousRequestWaitsForItsConfirmationAndCanBeCancelledMeanwhile) {
    auto delegate = std::make_shared<ConfirmingDelegate>();
    auto confirmed = HTTPRequest::requestWithURL(server_.url("/chain/302/1"));
    auto cancelled = HTTPRequest::requestWithURL(server_.url("/chain/302/1"));
    for (const auto& request : {confirmed, cancelled}) {
        request->setDelegate(delegate);
        request->setWillRedirectSelector(
            [](http::HTTPRequestDelegate& d, const HTTPRequestPtr& r, const QUrl& url) {
                d.requestWillRedirectToURL(r, url);
            });
    }
    std::thread worker([&] {
        confirmed->startSynchronous();
        cancelled->startSynchronous();
    });
    ASSERT_TRUE(waitUntil([&] { return delegate->asked.size() == 1; }));
    settle(100);
    EXPECT_FALSE(confirmed->complete() && !confirmed->needsRedirect());
    confirmed->redirectToURL(delegate->asked.front());
    ASSERT_TRUE(waitUntil([&] { return delegate->asked.size() == 2; }));
    cancelled->cancel();
    worker.join();
    EXPECT_FALSE(confirmed->error());
    EXPECT_EQ(confirmed->responseStatusCode(), 200);
    ASSERT_TRUE(cancelled->error());
    EXPECT_EQ(cancelled->error()->code, 4);
    EXPECT_TRUE(cancelled->isFinished());
}

}  // namespace
