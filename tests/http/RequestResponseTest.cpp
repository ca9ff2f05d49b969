#include <gtest/gtest.h>

#include "RequestTestSupport.h"
#include "http/DataCompressor.h"
#include "servers/InProcessHttpServer.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::StringEncodings::ISOLatin1;
using http::StringEncodings::UTF8;
using namespace testsupport;
using namespace testfiles;

class RequestResponse : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        auto& s = server_.server();
        // /text/utf8 announces its charset; /text/untyped-utf8 and /text/latin1 do not.
        s.Get("/text/(.*)", [](const httplib::Request& req, httplib::Response& res) {
            const std::string kind = req.matches[1];
            res.set_content(kind == "latin1" ? "gr\xfc\xdf"
                                               "e"
                                             : "gr\xc3\xbc\xc3\x9f"
                                               "e",
                            kind == "utf8" ? "text/plain; charset=utf-8" : "text/plain");
        });
        s.Get("/gzip", [this](const httplib::Request&, httplib::Response& res) {
            res.set_header("Content-Encoding", "gzip");
            res.set_content(gzipped_.toStdString(), "application/octet-stream");
        });
        s.Get("/chunked", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "application/octet-stream", [this](size_t offset, httplib::DataSink& sink) {
                    const size_t piece = std::min<size_t>(7000, big_.size() - offset);
                    return piece == 0 ? (sink.done(), true)
                                      : sink.write(big_.constData() + offset, piece);
                });
        });
        server_.start();
    }

    http::HTTPRequestPtr get(const QString& path) {
        return HTTPRequest::requestWithURL(server_.url(path));
    }
    static void run(const http::HTTPRequestPtr& request) {
        request->startSynchronous();
        EXPECT_FALSE(request->error()) << request->error()->localizedDescription.toStdString();
    }

    TempHome home_;
    InProcessHttpServer server_;
    QByteArray big_ = pattern(1000000);
    QByteArray gzipped_ = http::DataCompressor::compressData(big_, nullptr);
};

TEST(ResponseCharset, ContentTypeGivesTheMimeTypeAndAKnownCharacterSet) {
    struct Case {
        QString contentType;
        QString mimeType;
        http::StringEncoding encoding;
    };
    const http::StringEncoding unchanged = 0;
    const std::vector<Case> cases = {
        {"text/html; charset=utf-8", "text/html", UTF8},
        {"text/html;charset=UTF-8", "text/html", UTF8},
        {"text/plain", "text/plain", unchanged},
        {"  text/plain  ", "text/plain", unchanged},
        {"text/plain; charset=no-such-set", "text/plain", unchanged},
        {"text/plain; format=flowed; charset=iso-8859-1; x=y", "text/plain", ISOLatin1},
        {"text/plain; charset=windows-1252", "text/plain", http::StringEncodings::WindowsCP1252},
        {"; charset=utf-8", "; charset=utf-8", unchanged},
    };
    for (const Case& c : cases) {
        QString mimeType;
        http::StringEncoding encoding = unchanged;
        HTTPRequest::parseMimeType(&mimeType, &encoding, c.contentType);
        EXPECT_EQ(mimeType, c.mimeType) << c.contentType.toStdString();
        EXPECT_EQ(encoding, c.encoding) << c.contentType.toStdString();
    }
    // A missing value changes nothing.
    QString mimeType = "kept";
    HTTPRequest::parseMimeType(&mimeType, nullptr, QString());
    EXPECT_EQ(mimeType, "kept");
}

TEST_F(RequestResponse, ResponseStringDecodesInTheAnnouncedOrDefaultCharacterSet) {
    auto utf8 = get("/text/utf8");
    run(utf8);
    EXPECT_EQ(utf8->responseStatusMessage(), "HTTP/1.1 200 OK");
    EXPECT_EQ(utf8->responseEncoding(), UTF8);
    EXPECT_EQ(utf8->responseString().value_or(""), QString::fromUtf8("grüße"));

    // Without a charset the default, ISO Latin 1, reads each byte as one character.
    auto latin = get("/text/latin1");
    run(latin);
    EXPECT_EQ(latin->responseEncoding(), ISOLatin1);
    EXPECT_EQ(latin->responseString().value_or(""), QString::fromUtf8("grüße"));

    auto chosen = get("/text/untyped-utf8");
    chosen->setDefaultResponseEncoding(UTF8);
    run(chosen);
    EXPECT_EQ(chosen->responseString().value_or(""), QString::fromUtf8("grüße"));

    // Bytes that are not UTF-8 give no text rather than a wrong one.
    auto broken = get("/text/latin1");
    broken->setDefaultResponseEncoding(UTF8);
    run(broken);
    EXPECT_FALSE(broken->responseString().has_value());
}

TEST_F(RequestResponse, GzipAnswersAreKeptCompressedOrInflatedOnTheWay) {
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
}

TEST_F(RequestResponse, DataReceiverGetsTheBodyAndNothingIsStored) {
    auto request = get("/chunked");
    QByteArray received;
    int calls = 0;
    request->setDataReceivedBlock([&](const QByteArray& data) {
        EXPECT_TRUE(platform::isMainThread());
        received += data;
        ++calls;
    });
    request->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }));
    settle(50);
    EXPECT_EQ(received, big_);
    EXPECT_GT(calls, 1);
    EXPECT_TRUE(request->rawResponseData().isEmpty());

    auto delegate = std::make_shared<RecordingDelegate>();
    auto viaDelegate = get("/gzip");
    viaDelegate->setDelegate(delegate);
    viaDelegate->setShouldWaitToInflateCompressedResponses(false);
    viaDelegate->setDidReceiveDataSelector(
        [](http::HTTPRequestDelegate& d, const http::HTTPRequestPtr& r, const QByteArray& data) {
            d.requestDidReceiveData(r, data);
        });
    run(viaDelegate);
    settle(50);
    EXPECT_EQ(delegate->received, big_);
    EXPECT_TRUE(viaDelegate->rawResponseData().isEmpty());
}

}  // namespace
