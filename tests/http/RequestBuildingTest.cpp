#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <mutex>
#include <optional>

#include "RequestTestSupport.h"
#include "servers/InProcessHttpServer.h"
#include "servers/ScriptedServer.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using namespace testsupport;

// What the server saw of the last request.
struct Seen {
    std::mutex mutex;
    std::string method;
    httplib::Headers headers;
    std::string body;

    std::string header(const std::string& name) {
        std::lock_guard lock(mutex);
        auto it = headers.find(name);
        return it == headers.end() ? std::string("<none>") : it->second;
    }
};

class RequestBuilding : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        auto capture = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(seen_.mutex);
            seen_.method = req.method;
            seen_.headers = req.headers;
            seen_.body = req.body;
            res.set_content("ok", "application/octet-stream");
        };
        // Every path is answered, and what came is remembered.
        server_.server().Get(".*", capture);
        server_.server().Post(".*", capture);
        server_.server().Put(".*", capture);
        server_.server().Delete(".*", capture);
        server_.start();
    }

    http::HTTPRequestPtr run(const http::HTTPRequestPtr& request) {
        request->startSynchronous();
        EXPECT_FALSE(request->error()) << request->error()->localizedDescription.toStdString();
        return request;
    }

    TempHome home_;
    QTemporaryDir dir_;
    InProcessHttpServer server_;
    Seen seen_;
};

TEST_F(RequestBuilding, BodiesDecideMethodAndContentLength) {
    // An empty POST goes without Content-Length (a test server that waits for a body
    // there would not answer, so this one reads the head only).
    std::optional<lumaro::test::ReceivedRequest> bare;
    lumaro::test::ScriptedServer headOnly([&](lumaro::test::ScriptedConnection& connection) {
        bare = connection.readRequest(2000);
        connection.send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    });
    auto emptyPost = HTTPRequest::requestWithURL(QUrl(QString::fromStdString(headOnly.url("/x"))));
    emptyPost->setRequestMethod("POST");
    run(emptyPost);
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->requestLine, "POST /x HTTP/1.1");
    EXPECT_FALSE(bare->hasHeader("Content-Length"));

    auto getWithBody = HTTPRequest::requestWithURL(server_.url("/x"));
    getWithBody->appendPostData("abc");
    getWithBody->appendPostData("");
    getWithBody->appendPostData("de");
    run(getWithBody);
    EXPECT_EQ(seen_.method, "POST");
    EXPECT_EQ(seen_.header("Content-Length"), "5");
    EXPECT_EQ(seen_.body, "abcde");
    EXPECT_EQ(getWithBody->requestMethod(), "POST");
    EXPECT_FALSE(getWithBody->shouldAttemptPersistentConnection());

    auto put = HTTPRequest::requestWithURL(server_.url("/x"));
    put->setRequestMethod("PUT");
    put->appendPostData("xyz");
    run(put);
    EXPECT_EQ(seen_.method, "PUT");
    EXPECT_EQ(seen_.body, "xyz");

    // A caller's Content-Length gives way to the real one.
    auto lying = HTTPRequest::requestWithURL(server_.url("/x"));
    lying->addRequestHeader("Content-Length", "999");
    lying->appendPostData("12");
    run(lying);
    EXPECT_EQ(seen_.header("Content-Length"), "2");
}

TEST_F(RequestBuilding, HeadersFollowTheRulesForAgentsEncodingsCookiesAndCredentials) {
    auto request = HTTPRequest::requestWithURL(server_.url("/x"));
    request->addRequestHeader("User-Agent", "Caller/1.0");
    request->addRequestHeader("Accept-Encoding", "br");
    request->setRequestCookies({QNetworkCookie("a", "1"), QNetworkCookie("b", "2")});
    request->addBasicAuthenticationHeaderWithUsername("user", "pa:ss");
    run(request);
    EXPECT_EQ(seen_.header("User-Agent"), "Caller/1.0");
    // Accept-Encoding is the engine's: it can inflate gzip and nothing else.
    EXPECT_EQ(seen_.header("Accept-Encoding"), "gzip");
    EXPECT_EQ(seen_.header("Cookie"), "a=1; b=2");
    EXPECT_EQ(seen_.header("Authorization"), "Basic dXNlcjpwYTpzcw==");
    EXPECT_EQ(request->authenticationScheme(), "Basic");

    auto plain = HTTPRequest::requestWithURL(server_.url("/x"));
    plain->setAllowCompressedResponse(false);
    plain->setUserAgentString("Own agent");
    run(plain);
    EXPECT_EQ(seen_.header("Accept-Encoding"), "<none>");
    EXPECT_EQ(seen_.header("User-Agent"), "Own agent");
    EXPECT_EQ(seen_.header("Cookie"), "<none>");

    auto byDefault = HTTPRequest::requestWithURL(server_.url("/x"));
    run(byDefault);
    EXPECT_EQ(seen_.header("User-Agent"), HTTPRequest::defaultUserAgentString().toStdString());
    EXPECT_TRUE(HTTPRequest::defaultUserAgentString().startsWith("http_tests "));
}

TEST_F(RequestBuilding, HeaderThatWouldSplitTheRequestHeadIsRefused) {
    auto request = HTTPRequest::requestWithURL(server_.url("/x"));
    request->addRequestHeader("X-Evil", "a\r\nX-Injected: 1");
    request->startSynchronous();
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code, 5);
    EXPECT_EQ(seen_.header("X-Injected"), "<none>");
}

TEST_F(RequestBuilding, MissingBodyFileFailsWithCode8NamingThePath) {
    auto request = HTTPRequest::requestWithURL(server_.url("/upload"));
    request->setShouldStreamPostDataFromDisk(true);
    request->setPostBodyFilePath(dir_.filePath("gone.bin"));
    request->startSynchronous();
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code, 8);
    EXPECT_EQ(
        request->error()->localizedDescription,
        QString("Failed to get attributes for file at path '%1'").arg(dir_.filePath("gone.bin")));
    EXPECT_TRUE(request->error()->underlyingError);
    EXPECT_EQ(seen_.method, "");
}

TEST_F(RequestBuilding, CopiesKeepSettingsAndHeadRequestsCarryTheMainRequestsHeaders) {
    auto original = HTTPRequest::requestWithURL(server_.url("/x"));
    auto delegate = std::make_shared<RecordingDelegate>();
    original->setDelegate(delegate);
    original->addRequestHeader("X-Trace", "42");
    original->setRequestMethod("DELETE");
    original->setTimeOutSeconds(3);
    original->setTag(7);
    original->setUserInfo({{"k", "v"}});
    original->setUseHTTPVersionOne(true);
    original->setValidatesSecureCertificate(false);
    original->setCompletionBlock([] {});
    auto copy = original->copyWithZone();
    EXPECT_NE(copy, original);
    EXPECT_EQ(copy->url(), original->url());
    EXPECT_EQ(copy->requestMethod(), "DELETE");
    EXPECT_EQ(copy->requestHeaders(), original->requestHeaders());
    EXPECT_EQ(copy->timeOutSeconds(), 3);
    EXPECT_EQ(copy->tag(), 7);
    EXPECT_EQ(copy->userInfo().value("k"), "v");
    EXPECT_TRUE(copy->useHTTPVersionOne());
    EXPECT_FALSE(copy->validatesSecureCertificate());
    EXPECT_EQ(copy->delegate(), delegate);
    EXPECT_FALSE(copy->queue());
    copy->addRequestHeader("X-Only-Copy", "1");
    EXPECT_FALSE(original->requestHeaders().contains("X-Only-Copy"));

    auto main = HTTPRequest::requestWithURL(server_.url("/x"));
    main->addRequestHeader("X-Trace", "43");
    main->setUserAgentString("Main agent");
    auto head = main->HEADRequest();
    EXPECT_EQ(head->requestMethod(), "HEAD");
    EXPECT_EQ(head->mainRequest(), main);
    head->setDelegate(delegate);
    run(head);
    EXPECT_EQ(seen_.method, "HEAD");
    EXPECT_EQ(seen_.header("X-Trace"), "43");
    EXPECT_EQ(seen_.header("User-Agent"), "Main agent");
    EXPECT_EQ(head->requestHeaders(), main->requestHeaders());
    settle(50);
    // The HEAD request measures for its main request and reports nothing itself.
    EXPECT_EQ(delegate->count("finished"), 0);
    EXPECT_EQ(delegate->count("started"), 0);
    EXPECT_EQ(main->contentLength(), 2u);
}

}  // namespace
