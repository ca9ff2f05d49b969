// What a request puts on the wire and what it makes of the answer, against a real server.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <mutex>
#include <optional>

#include "RequestTestSupport.h"
#include "http/DataCompressor.h"
#include "servers/InProcessHttpServer.h"
#include "servers/ScriptedServer.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;
using http::StringEncodings::ISOLatin1;
using http::StringEncodings::UTF8;
using namespace testsupport;

class RequestExchange : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        auto& s = server_.server();
        // /text/utf8 announces its charset; /text/untyped-utf8 and /text/latin1 do not.
        s.Get("/text/(.*)", [](const httplib::Request& req, httplib::Response& res) {
            const bool latin1 = req.matches[1] == "latin1";
            res.set_content(latin1 ? "gr\xfc\xdf"
                                     "e"
                                   : "gr\xc3\xbc\xc3\x9f"
                                     "e",
                            req.matches[1] == "utf8" ? "text/plain; charset=utf-8" : "text/plain");
        });
        s.Get("/gzip", [this](const httplib::Request&, httplib::Response& res) {
            res.set_header("Content-Encoding", "gzip");
            res.set_content(gzipped_.toStdString(), "application/octet-stream");
        });
        // Every other path is answered, and what came is remembered.
        auto capture = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            method_ = req.method;
            headers_ = req.headers;
            body_ = req.body;
            res.set_content("ok", "application/octet-stream");
        };
        s.Get(".*", capture);
        s.Post(".*", capture);
        server_.start();
    }

    HTTPRequestPtr run(const HTTPRequestPtr& request) {
        request->startSynchronous();
        EXPECT_FALSE(request->error()) << request->error()->localizedDescription.toStdString();
        return request;
    }
    HTTPRequestPtr get(const QString& path) {
        return HTTPRequest::requestWithURL(server_.url(path));
    }
    std::string seen(const std::string& header) {
        std::lock_guard lock(mutex_);
        auto it = headers_.find(header);
        return it == headers_.end() ? std::string("<none>") : it->second;
    }

    TempHome home_;
    QTemporaryDir dir_;
    InProcessHttpServer server_;
    QByteArray big_ = testfiles::pattern(1000000);
    QByteArray gzipped_ = http::DataCompressor::compressData(big_, nullptr);
    std::mutex mutex_;
    std::string method_, body_;
    httplib::Headers headers_;
};

TEST_F(RequestExchange, BodiesDecideMethodAndContentLength) {
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

    auto request = get("/x");
    // A caller's Content-Length gives way to the real one.
    request->addRequestHeader("Content-Length", "999");
    for (const char* piece : {"abc", "", "de"}) request->appendPostData(piece);
    run(request);
    EXPECT_EQ(method_, "POST");
    EXPECT_EQ(body_, "abcde");
    EXPECT_EQ(seen("Content-Length"), "5");
    EXPECT_EQ(request->requestMethod(), "POST");
    EXPECT_FALSE(request->shouldAttemptPersistentConnection());
}

TEST_F(RequestExchange, HeadersFollowTheRulesForAgentsEncodingsCookiesAndCredentials) {
    auto request = get("/x");
    request->addRequestHeader("User-Agent", "Caller/1.0");
    request->addRequestHeader("Accept-Encoding", "br");
    request->setRequestCookies({QNetworkCookie("a", "1"), QNetworkCookie("b", "2")});
    request->addBasicAuthenticationHeaderWithUsername("user", "pa:ss");
    run(request);
    EXPECT_EQ(seen("User-Agent"), "Caller/1.0");
    // Accept-Encoding is the engine's: it can inflate gzip and nothing else.
    EXPECT_EQ(seen("Accept-Encoding"), "gzip");
    EXPECT_EQ(seen("Cookie"), "a=1; b=2");
    EXPECT_EQ(seen("Authorization"), "Basic dXNlcjpwYTpzcw==");
    EXPECT_EQ(request->authenticationScheme(), "Basic");

    auto plain = get("/x");
    plain->setAllowCompressedResponse(false);
    plain->setUserAgentString("Own agent");
    run(plain);
    EXPECT_EQ(seen("Accept-Encoding"), "<none>");
    EXPECT_EQ(seen("User-Agent"), "Own agent");
    EXPECT_EQ(seen("Cookie"), "<none>");

    run(get("/x"));
    EXPECT_EQ(seen("User-Agent"), HTTPRequest::defaultUserAgentString().toStdString());
    EXPECT_TRUE(HTTPRequest::defaultUserAgentString().startsWith("http_tests "));
}

TEST_F(RequestExchange, RequestsThatCannotBeSentFailWithoutReachingTheServer) {
    auto splitting = get("/x");
    splitting->addRequestHeader("X-Evil", "a\r\nX-Injected: 1");
    splitting->startSynchronous();
    ASSERT_TRUE(splitting->error());
    EXPECT_EQ(splitting->error()->code, 5);

    auto noBody = get("/upload");
    noBody->setShouldStreamPostDataFromDisk(true);
    noBody->setPostBodyFilePath(dir_.filePath("gone.bin"));
    noBody->startSynchronous();
    ASSERT_TRUE(noBody->error());
    EXPECT_EQ(noBody->error()->code, 8);
    EXPECT_EQ(noBody->error()->localizedDescription,
              "Failed to get attributes for file at path '" + dir_.filePath("gone.bin") + "'");
    EXPECT_TRUE(noBody->error()->underlyingError);
    EXPECT_EQ(method_, "");
}

TEST(ResponseCharset, ContentTypeGivesTheMimeTypeAndAKnownCharacterSet) {
    const http::StringEncoding unchanged = 0;
    const struct {
        QString contentType, mimeType;
        http::StringEncoding encoding;
    } cases[] = {
        {"text/html; charset=utf-8", "text/html", UTF8},
        {"text/html;charset=UTF-8", "text/html", UTF8},
        {"  text/plain  ", "text/plain", unchanged},
        {"text/plain; charset=no-such-set", "text/plain", unchanged},
        {"text/plain; format=flowed; charset=iso-8859-1; x=y", "text/plain", ISOLatin1},
        {"text/plain; charset=windows-1252", "text/plain", http::StringEncodings::WindowsCP1252},
        {"; charset=utf-8", "; charset=utf-8", unchanged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contentType.toStdString());
        QString mimeType;
        http::StringEncoding encoding = unchanged;
        HTTPRequest::parseMimeType(&mimeType, &encoding, c.contentType);
        EXPECT_EQ(mimeType, c.mimeType);
        EXPECT_EQ(encoding, c.encoding);
    }
}

TEST_F(RequestExchange, ResponseStringDecodesInTheAnnouncedOrDefaultCharacterSet) {
    const struct {
        const char* path;
        http::StringEncoding defaultEncoding;  // 0 to leave the default, ISO Latin 1
        http::StringEncoding encoding;
        std::optional<QString> text;  // none: bytes that do not decode give no text
    } cases[] = {
        {"/text/utf8", 0, UTF8, QString::fromUtf8("grüße")},
        {"/text/latin1", 0, ISOLatin1, QString::fromUtf8("grüße")},
        {"/text/untyped-utf8", UTF8, UTF8, QString::fromUtf8("grüße")},
        {"/text/latin1", UTF8, UTF8, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto request = get(c.path);
        if (c.defaultEncoding) request->setDefaultResponseEncoding(c.defaultEncoding);
        run(request);
        EXPECT_EQ(request->responseStatusMessage(), "HTTP/1.1 200 OK");
        EXPECT_EQ(request->responseEncoding(), c.encoding);
        EXPECT_EQ(request->responseString(), c.text);
    }
}

TEST_F(RequestExchange, GzipAnswersAreKeptCompressedInflatedOnTheWayOrHandedOver) {
    auto kept = get("/gzip");
    run(kept);
    EXPECT_TRUE(kept->isResponseCompressed());
    EXPECT_EQ(kept->rawResponseData(), gzipped_);
    EXPECT_EQ(kept->responseData(), big_);
    EXPECT_EQ(kept->totalBytesRead(), static_cast<quint64>(gzipped_.size()));

    auto inflated = get("/gzip");
    inflated->setShouldWaitToInflateCompressedResponses(false);
    run(inflated);
    EXPECT_EQ(inflated->rawResponseData(), big_);
    EXPECT_EQ(inflated->responseData(), big_);

    // A delegate that takes the data gets it inflated, and nothing is stored.
    auto delegate = std::make_shared<RecordingDelegate>();
    auto handedOver = get("/gzip");
    handedOver->setDelegate(delegate);
    handedOver->setShouldWaitToInflateCompressedResponses(false);
    handedOver->setDidReceiveDataSelector(
        [](http::HTTPRequestDelegate& d, const HTTPRequestPtr& r, const QByteArray& data) {
            d.requestDidReceiveData(r, data);
        });
    run(handedOver);
    settle(50);
    EXPECT_EQ(delegate->received, big_);
    EXPECT_GT(delegate->count("data"), 1);
    EXPECT_TRUE(delegate->allOnMainThread);
    EXPECT_TRUE(handedOver->rawResponseData().isEmpty());
}

}  // namespace
