// Form bodies as they reach a raw server, byte for byte; files streamed from disk; the
// failures of a form request.

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <set>

#include "RecordingServer.h"
#include "RequestTestSupport.h"
#include "http/DataDecompressor.h"
#include "http/FormDataRequest.h"
#include "support/Files.h"

using http::FormDataRequest;
using Received = lumaro::test::ReceivedRequest;
using testfiles::writeFile;

namespace {

std::string boundaryOf(const Received& request) {
    const std::string type = request.header("Content-Type");
    const auto at = type.find("boundary=");
    return at == std::string::npos ? std::string() : type.substr(at + 9);
}

class FormBodyTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::application();
        photo_ = dir_.filePath("photo.png");
        writeFile(photo_, "PNGDATA");
    }
    std::shared_ptr<FormDataRequest> request() {
        return FormDataRequest::requestWithURL(server_.url());
    }
    // Sends the request and answers what the server received.
    Received send(const std::shared_ptr<FormDataRequest>& r) {
        r->startSynchronous();
        EXPECT_EQ(r->error(), nullptr) << r->error()->localizedDescription.toStdString();
        const auto received = server_.requests();
        return received.empty() ? Received{} : received.back();
    }
    void expectFailure(const std::shared_ptr<FormDataRequest>& r, int code) {
        r->startSynchronous();
        ASSERT_NE(r->error(), nullptr);
        EXPECT_EQ(r->error()->code, code);
    }

    QTemporaryDir dir_;
    QString photo_;
    testsupport::RecordingServer server_;
};

TEST_F(FormBodyTest, BodiesAreWrittenByteForByte) {
    using Fill = std::function<void(FormDataRequest&, const QString& photo)>;
    const std::string urlEncoded = "application/x-www-form-urlencoded; charset=utf-8";
    const std::string multipart = "multipart/form-data; charset=utf-8; boundary=";
    const QRegularExpression uuid(QStringLiteral(
        "^LumaroFormBoundary-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    // "{B}" in an expected body stands for the boundary.
    const struct {
        const char* name;
        Fill fill;
        const std::string& contentType;
        std::string body;
    } cases[] = {
        // clang-format off
        {"escaping", [](auto& r, auto&) { r.addPostValue("a b&c~", "k y"); r.addPostValue(QString::fromUtf8("\xc3\xa9+=/"), "n"); r.addPostValue("-._", "safe"); },
         urlEncoded, "k%20y=a%20b%26c%7E&n=%C3%A9%2B%3D%2F&safe=-._"},
        {"repeated keys stay in order", [](auto& r, auto&) { r.addPostValue("1", "k"); r.addPostValue("x", "other"); r.addPostValue("2", "k"); },
         urlEncoded, "k=1&other=x&k=2"},
        {"set after add leaves one", [](auto& r, auto&) { r.addPostValue("1", "k"); r.addPostValue("x", "other"); r.addPostValue("2", "k"); r.setPostValue("3", "k"); },
         urlEncoded, "other=x&k=3"},
        {"no object, a number, a null key, line breaks in a key",
         [](auto& r, auto&) { r.addPostValue(QVariant(), "empty"); r.addPostValue(42, "n"); r.addPostValue("v", QString()); r.addPostValue("v", "a\"\r\nb"); },
         urlEncoded, "empty=&n=42&a%22%0D%0Ab=v"},
        {"empty url-encoded list", [](auto& r, auto&) { r.setPostData(http::FormValueList()); }, urlEncoded, ""},
        {"multipart values only", [](auto& r, auto&) { r.setPostFormat(http::PostFormatMultipart); r.addPostValue("x", "description"); r.addPostValue("a b&", "keywords"); },
         multipart, "--{B}\r\nContent-Disposition: form-data; name=\"description\"\r\n\r\nx\r\n--{B}\r\n"
                    "Content-Disposition: form-data; name=\"keywords\"\r\n\r\na b&\r\n--{B}--\r\n"},
        {"one file and no values", [](auto& r, auto& photo) { r.addFile(photo, "data"); },
         multipart, "--{B}\r\nContent-Disposition: form-data; name=\"data\"; filename=\"photo.png\"\r\n"
                    "Content-Type: image/png\r\n\r\nPNGDATA\r\n--{B}--\r\n"},
        {"one file, compressed", [](auto& r, auto& photo) { r.addFile(photo, "data"); r.setShouldCompressRequestBody(true); },
         multipart, "--{B}\r\nContent-Disposition: form-data; name=\"data\"; filename=\"photo.png\"\r\n"
                    "Content-Type: image/png\r\n\r\nPNGDATA\r\n--{B}--\r\n"},
        {"a byte block turns a url-encoded form into multipart", [](auto& r, auto&) { r.addPostValue("x", "description"); r.addData("ABC", "data"); },
         multipart, "--{B}\r\nContent-Disposition: form-data; name=\"description\"\r\n\r\nx\r\n--{B}\r\n"
                    "Content-Disposition: form-data; name=\"data\"; filename=\"file\"\r\n"
                    "Content-Type: application/octet-stream\r\n\r\nABC\r\n--{B}--\r\n"},
        {"name and type given, set replaces a block of the same key",
         [](auto& r, auto& photo) { r.addData("old", "data"); r.addData("kept", "other"); r.setFile(photo, "shot.bin", "image/x-test", "data"); },
         multipart, "--{B}\r\nContent-Disposition: form-data; name=\"other\"; filename=\"file\"\r\n"
                    "Content-Type: application/octet-stream\r\n\r\nkept\r\n--{B}\r\n"
                    "Content-Disposition: form-data; name=\"data\"; filename=\"shot.bin\"\r\n"
                    "Content-Type: image/x-test\r\n\r\nPNGDATA\r\n--{B}--\r\n"},
        {"empty multipart lists", [](auto& r, auto&) { r.setPostFormat(http::PostFormatMultipart); r.setPostData(http::FormValueList()); r.setFileData(http::FormFileList()); },
         multipart, "--{B}\r\n\r\n--{B}--\r\n"},
        // clang-format on
    };
    std::set<std::string> boundaries;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = request();
        c.fill(*r, photo_);
        const auto received = send(r);
        EXPECT_EQ(received.requestLine, "POST /form HTTP/1.1");
        const std::string boundary = boundaryOf(received);
        EXPECT_EQ(received.header("Content-Type"), c.contentType + boundary);
        if (!boundary.empty()) {
            EXPECT_TRUE(uuid.match(QString::fromStdString(boundary)).hasMatch()) << boundary;
            EXPECT_TRUE(boundaries.insert(boundary).second) << "boundary used twice";
        }
        std::string expected = c.body;
        for (auto at = expected.find("{B}"); at != std::string::npos; at = expected.find("{B}"))
            expected.replace(at, 3, boundary);
        const bool gzipped = received.header("Content-Encoding") == "gzip";
        EXPECT_EQ(gzipped, r->shouldCompressRequestBody());
        const QByteArray body = QByteArray::fromStdString(received.body);
        EXPECT_EQ(
            (gzipped ? http::DataDecompressor::uncompressData(body, nullptr) : body).toStdString(),
            expected);
        EXPECT_EQ(received.hasHeader("Content-Length"), !expected.empty());
    }
}

TEST_F(FormBodyTest, CopiesHaveTheirOwnListsAndSendTheSameForm) {
    auto original = request();
    original->addPostValue("1", "a");
    original->setStringEncoding(http::StringEncodings::ISOLatin1);
    auto copy = std::dynamic_pointer_cast<FormDataRequest>(original->copyWithZone());
    ASSERT_NE(copy, nullptr);
    copy->addData("x", "f");
    EXPECT_EQ(send(original).body, "a=1");
    EXPECT_EQ(send(copy).header("Content-Type").rfind("multipart/form-data; charset=iso-8859-1", 0),
              0u);
    // A copy of a request whose body is built sends that body.
    auto built = request();
    built->addFile(photo_, "data");
    built->buildPostBody();
    auto builtCopy = std::dynamic_pointer_cast<FormDataRequest>(built->copyWithZone());
    const std::string first = send(built).body;
    EXPECT_EQ(send(builtCopy).body, first);
    EXPECT_NE(first.find("PNGDATA"), std::string::npos);
}

TEST_F(FormBodyTest, LargeFileIsStreamedWhole) {
    const QString big = dir_.filePath("big.bin");
    QByteArray contents;
    for (int i = 0; i < 9; ++i) contents += QByteArray(1 << 20, static_cast<char>('a' + i));
    writeFile(big, contents + "END");
    auto r = request();
    r->addFile(big, "data");
    const std::string body = send(r).body;
    const auto start = body.find("\r\n\r\n") + 4;
    EXPECT_EQ(body.size(), static_cast<size_t>(r->postLength()));
    EXPECT_EQ(body.compare(start, contents.size(), contents.toStdString()), 0);
    EXPECT_EQ(body.compare(start + contents.size(), 5, "END\r\n"), 0);
}

TEST_F(FormBodyTest, MissingFileFailsWithCodeSixAndSendsNothing) {
    const QString gone = dir_.filePath("gone.png");
    writeFile(gone, "x");
    for (const QString& path : {dir_.filePath("missing.png"), dir_.path(), gone}) {
        SCOPED_TRACE(path.toStdString());
        auto r = request();
        r->addFile(path, "data");
        if (path == gone) {
            EXPECT_EQ(r->error(), nullptr);
            QFile::remove(gone);  // removed before the body is built
        } else {
            ASSERT_NE(r->error(), nullptr);
            EXPECT_EQ(r->error()->localizedDescription, "No file exists at " + path);
        }
        expectFailure(r, 6);
    }
    testsupport::settle(50);
    EXPECT_EQ(server_.connectionCount(), 0);
}

TEST_F(FormBodyTest, LineBreaksAndQuotesInMultipartNamesAreRefused) {
    const std::vector<std::function<void(FormDataRequest&)>> fills = {
        // clang-format off
        [](auto& r) { r.setPostFormat(http::PostFormatMultipart); r.addPostValue("v", "a\rb"); },
        [](auto& r) { r.addData("v", "file", QString(), "a\nb"); },
        [](auto& r) { r.addData("v", "a\".png", QString(), "k"); },
        [](auto& r) { r.addData("v", "a.png", "image/png\r\nX-Evil: 1", "k"); },
        // clang-format on
    };
    for (size_t i = 0; i < fills.size(); ++i) {
        SCOPED_TRACE(i);
        auto r = request();
        fills[i](*r);
        expectFailure(r, 5);
    }
    EXPECT_EQ(server_.connectionCount(), 0);
}

TEST_F(FormBodyTest, FileThatChangesSizeAfterBuildingFails) {
    for (const QByteArray& contents : {QByteArray("PNGDATA and more"), QByteArray("PNG")}) {
        SCOPED_TRACE(contents.toStdString());
        writeFile(photo_, "PNGDATA");
        auto r = request();
        r->addFile(photo_, "data");
        r->buildPostBody();
        writeFile(photo_, contents);
        ASSERT_NO_FATAL_FAILURE(expectFailure(r, 8));
        EXPECT_TRUE(r->error()->localizedDescription.contains("changed size"));
    }
    EXPECT_TRUE(server_.requests().empty());
}

}  // namespace
