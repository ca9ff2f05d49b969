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

TEST_F(FormBodyTest, FormsThatCannotBeSentFailAndSendNothing) {
    const QString missing = dir_.filePath("missing.png"), gone = dir_.filePath("gone.png");
    auto resizeAfterBuilding = [this](const QByteArray& contents) {
        return [this, contents](FormDataRequest& r) {
            writeFile(photo_, "PNGDATA");
            r.addFile(photo_, "data");
            r.buildPostBody();
            writeFile(photo_, contents);
        };
    };
    const struct {
        const char* name;
        std::function<void(FormDataRequest&)> fill;
        int code;
        QString description;  // a part of it
    } cases[] = {
        // clang-format off
        {"missing file", [&](auto& r) { r.addFile(missing, "data"); }, 6, "No file exists at " + missing},
        {"a folder", [&](auto& r) { r.addFile(dir_.path(), "data"); }, 6, "No file exists at " + dir_.path()},
        {"removed before the body is built", [&](auto& r) { writeFile(gone, "x"); r.addFile(gone, "data"); QFile::remove(gone); }, 6, ""},
        {"line break in a value's name", [](auto& r) { r.setPostFormat(http::PostFormatMultipart); r.addPostValue("v", "a\rb"); }, 5, ""},
        {"line break in a file's name", [](auto& r) { r.addData("v", "file", QString(), "a\nb"); }, 5, ""},
        {"quote in a file name", [](auto& r) { r.addData("v", "a\".png", QString(), "k"); }, 5, ""},
        {"header in a content type", [](auto& r) { r.addData("v", "a.png", "image/png\r\nX-Evil: 1", "k"); }, 5, ""},
        {"file grew after building", resizeAfterBuilding("PNGDATA and more"), 8, "changed size"},
        {"file shrank after building", resizeAfterBuilding("PNG"), 8, "changed size"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = request();
        c.fill(*r);
        r->startSynchronous();
        ASSERT_NE(r->error(), nullptr);
        EXPECT_EQ(r->error()->code, c.code);
        EXPECT_TRUE(r->error()->localizedDescription.contains(c.description));
        testsupport::settle(20);
        // A body that changes under way is found out only once the connection is open.
        EXPECT_TRUE(c.code == 8 || server_.connectionCount() == 0);
    }
    EXPECT_TRUE(server_.requests().empty());
}

}  // namespace
