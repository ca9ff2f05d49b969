// Form bodies as they reach a raw server, byte for byte; files streamed from disk; the
// failures of a form request; httpbin's reading of what is sent.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <set>

#include "FormTestSupport.h"
#include "http/DataDecompressor.h"
#include "http/FormDataRequest.h"
#include "servers/HttpbinServer.h"

using http::FormDataRequest;

namespace {

std::string boundaryOf(const lumaro::test::ReceivedRequest& request) {
    const std::string type = request.header("Content-Type");
    const auto at = type.find("boundary=");
    return at == std::string::npos ? std::string() : type.substr(at + 9);
}

// Sends the request to the server and answers what the server received.
lumaro::test::ReceivedRequest send(formtest::RecordingServer& server,
                                   const std::shared_ptr<FormDataRequest>& request) {
    formtest::application();
    request->startSynchronous();
    EXPECT_EQ(request->error(), nullptr) << request->error()->localizedDescription.toStdString();
    const auto received = server.requests();
    return received.empty() ? lumaro::test::ReceivedRequest{} : received.back();
}

class FormBodyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        photo_ = dir_.filePath("photo.png");
        writeFile(photo_, "PNGDATA");
    }
    static void writeFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    std::shared_ptr<FormDataRequest> request() {
        return FormDataRequest::requestWithURL(server_.url());
    }

    QTemporaryDir dir_;
    QString photo_;
    formtest::RecordingServer server_;
};

struct BodyCase {
    const char* name;
    std::function<void(FormDataRequest&, const QString& photo)> fill;
    const char* contentTypeStart;
    // "{B}" in the expected body stands for the boundary.
    std::string body;
};

std::string withBoundary(std::string text, const std::string& boundary) {
    for (auto at = text.find("{B}"); at != std::string::npos; at = text.find("{B}", at)) {
        text.replace(at, 3, boundary);
        at += boundary.size();
    }
    return text;
}

TEST_F(FormBodyTest, BodiesAreWrittenByteForByte) {
    const std::string multipart =
        "multipart/form-data; charset=utf-8; boundary=LumaroFormBoundary-";
    const std::string urlEncoded = "application/x-www-form-urlencoded; charset=utf-8";
    const std::vector<BodyCase> cases = {
        {"registration",
         [](FormDataRequest& r, const QString&) { r.addPostValue("LMRHD00001", "api"); },
         urlEncoded.c_str(), "api=LMRHD00001"},
        {"escaping",
         [](FormDataRequest& r, const QString&) {
             r.addPostValue("a b&c~", "k y");
             r.addPostValue(QString::fromUtf8("\xc3\xa9+=/"), "n");
             r.addPostValue("-._", "safe");
         },
         urlEncoded.c_str(), "k%20y=a%20b%26c%7E&n=%C3%A9%2B%3D%2F&safe=-._"},
        {"repeated keys stay in order",
         [](FormDataRequest& r, const QString&) {
             r.addPostValue("1", "k");
             r.addPostValue("x", "other");
             r.addPostValue("2", "k");
         },
         urlEncoded.c_str(), "k=1&other=x&k=2"},
        {"set after add leaves one, the rest in order",
         [](FormDataRequest& r, const QString&) {
             r.addPostValue("1", "k");
             r.addPostValue("x", "other");
             r.addPostValue("2", "k");
             r.setPostValue("3", "k");
         },
         urlEncoded.c_str(), "other=x&k=3"},
        {"value of no object and a number",
         [](FormDataRequest& r, const QString&) {
             r.addPostValue(QVariant(), "empty");
             r.addPostValue(42, "n");
         },
         urlEncoded.c_str(), "empty=&n=42"},
        {"empty url-encoded list",
         [](FormDataRequest& r, const QString&) { r.setPostData(http::FormValueList()); },
         urlEncoded.c_str(), ""},
        {"multipart values only",
         [](FormDataRequest& r, const QString&) {
             r.setPostFormat(http::PostFormatMultipart);
             r.addPostValue("x", "description");
             r.addPostValue("a b&", "keywords");
         },
         multipart.c_str(),
         "--{B}\r\nContent-Disposition: form-data; name=\"description\"\r\n\r\nx"
         "\r\n--{B}\r\nContent-Disposition: form-data; name=\"keywords\"\r\n\r\na "
         "b&\r\n--{B}--\r\n"},
        {"one file and no values",
         [](FormDataRequest& r, const QString& photo) { r.addFile(photo, "data"); },
         multipart.c_str(),
         "--{B}\r\nContent-Disposition: form-data; name=\"data\"; filename=\"photo.png\"\r\n"
         "Content-Type: image/png\r\n\r\nPNGDATA\r\n--{B}--\r\n"},
        {"a value and a byte block",
         [](FormDataRequest& r, const QString&) {
             r.addPostValue("x", "description");
             r.addData("ABC", "data");
         },
         multipart.c_str(),
         "--{B}\r\nContent-Disposition: form-data; name=\"description\"\r\n\r\nx\r\n--{B}\r\n"
         "Content-Disposition: form-data; name=\"data\"; filename=\"file\"\r\n"
         "Content-Type: application/octet-stream\r\n\r\nABC\r\n--{B}--\r\n"},
        {"file name and type given, set replaces a block of the same key",
         [](FormDataRequest& r, const QString& photo) {
             r.addData("old", "data");
             r.addData("kept", "other");
             r.setFile(photo, "shot.bin", "image/x-test", "data");
         },
         multipart.c_str(),
         "--{B}\r\nContent-Disposition: form-data; name=\"other\"; filename=\"file\"\r\n"
         "Content-Type: application/octet-stream\r\n\r\nkept\r\n--{B}\r\n"
         "Content-Disposition: form-data; name=\"data\"; filename=\"shot.bin\"\r\n"
         "Content-Type: image/x-test\r\n\r\nPNGDATA\r\n--{B}--\r\n"},
        {"empty multipart lists",
         [](FormDataRequest& r, const QString&) {
             r.setPostFormat(http::PostFormatMultipart);
             r.setPostData(http::FormValueList());
             r.setFileData(http::FormFileList());
         },
         multipart.c_str(), "--{B}\r\n\r\n--{B}--\r\n"},
    };
    for (const BodyCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = request();
        c.fill(*r, photo_);
        const auto received = send(server_, r);
        EXPECT_EQ(received.requestLine.rfind("POST /form ", 0), 0u) << received.requestLine;
        EXPECT_EQ(received.header("Content-Type").rfind(c.contentTypeStart, 0), 0u)
            << received.header("Content-Type");
        const std::string expected = withBoundary(c.body, boundaryOf(received));
        EXPECT_EQ(received.body, expected);
        if (expected.empty()) {
            EXPECT_FALSE(received.hasHeader("Content-Length"));
        } else {
            EXPECT_EQ(received.header("Content-Length"), std::to_string(expected.size()));
        }
    }
}

TEST_F(FormBodyTest, BoundaryIsAnUpperCaseUuidNewForEveryBuild) {
    const QRegularExpression shape(QStringLiteral(
        "^LumaroFormBoundary-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    std::set<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        auto r = request();
        r->addData("x", "data");
        const std::string boundary = boundaryOf(send(server_, r));
        EXPECT_TRUE(shape.match(QString::fromStdString(boundary)).hasMatch()) << boundary;
        seen.insert(boundary);
    }
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(FormBodyTest, ByteBlockTurnsUrlEncodedIntoMultipart) {
    auto r = request();
    r->addPostValue("1", "a");
    r->addData("x", "data");
    EXPECT_EQ(r->postFormat(), http::PostFormatUrlEncoded);
    const auto received = send(server_, r);
    EXPECT_EQ(r->postFormat(), http::PostFormatMultipart);
    EXPECT_EQ(received.header("Content-Type").rfind("multipart/form-data;", 0), 0u);
}

TEST_F(FormBodyTest, NullKeyAddsNothing) {
    auto r = request();
    r->addPostValue("v", QString());
    EXPECT_FALSE(r->postData().has_value());
    r->addPostValue("v", QString(""));
    ASSERT_TRUE(r->postData().has_value());
    EXPECT_EQ(r->postData()->size(), 1);
}

TEST_F(FormBodyTest, CopyHasItsOwnListsAndSendsTheSameForm) {
    auto original = request();
    original->addPostValue("1", "a");
    original->setStringEncoding(http::StringEncodings::ISOLatin1);
    auto copy = std::dynamic_pointer_cast<FormDataRequest>(original->copyWithZone());
    ASSERT_NE(copy, nullptr);
    copy->addPostValue("2", "b");
    copy->addData("x", "f");
    EXPECT_EQ(original->postData()->size(), 1);
    EXPECT_FALSE(original->fileData().has_value());
    EXPECT_EQ(copy->stringEncoding(), http::StringEncodings::ISOLatin1);
    EXPECT_EQ(copy->requestMethod(), QStringLiteral("POST"));
    EXPECT_EQ(send(server_, original).body, "a=1");
    EXPECT_EQ(send(server_, copy)
                  .header("Content-Type")
                  .rfind("multipart/form-data; charset=iso-8859-1", 0),
              0u);
}

TEST_F(FormBodyTest, CopyOfABuiltRequestSendsItsBody) {
    auto original = request();
    original->addFile(photo_, "data");
    original->buildPostBody();
    auto copy = std::dynamic_pointer_cast<FormDataRequest>(original->copyWithZone());
    const auto first = send(server_, original);
    const auto second = send(server_, copy);
    EXPECT_EQ(first.body, second.body);
    EXPECT_NE(first.body.find("PNGDATA"), std::string::npos);
}

TEST_F(FormBodyTest, CompressedFormIsWrittenOutAndInflatesToTheForm) {
    auto r = request();
    r->addFile(photo_, "data");
    r->setShouldCompressRequestBody(true);
    const auto received = send(server_, r);
    EXPECT_EQ(received.header("Content-Encoding"), "gzip");
    http::ErrorPtr error;
    const QByteArray inflated =
        http::DataDecompressor::uncompressData(QByteArray::fromStdString(received.body), &error);
    ASSERT_EQ(error, nullptr);
    const std::string b = boundaryOf(received);
    EXPECT_TRUE(inflated.endsWith(QByteArray::fromStdString("PNGDATA\r\n--" + b + "--\r\n")));
}

TEST_F(FormBodyTest, LargeFileIsStreamedWhole) {
    const QString big = dir_.filePath("big.bin");
    {
        QFile file(big);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray piece(1 << 20, '\0');
        for (int i = 0; i < 9; ++i) {
            piece.fill(static_cast<char>('a' + i));
            file.write(piece);
        }
        file.write("END");
    }
    auto r = request();
    r->addFile(big, "data");
    const auto received = send(server_, r);
    const std::string b = boundaryOf(received);
    const std::string tail = "END\r\n--" + b + "--\r\n";
    ASSERT_GE(received.body.size(), tail.size());
    EXPECT_EQ(received.body.substr(received.body.size() - tail.size()), tail);
    EXPECT_EQ(received.body.size(), static_cast<size_t>(r->postLength()));
    const auto start = received.body.find("\r\n\r\n") + 4;
    EXPECT_EQ(received.body.substr(start, 3), "aaa");
    EXPECT_EQ(received.body[start + 5 * (1 << 20)], 'f');
}

// ---- Failures ----

TEST_F(FormBodyTest, MissingFileOrDirectoryFailsWithCodeSix) {
    for (const QString& path : {dir_.filePath("missing.png"), dir_.path()}) {
        SCOPED_TRACE(path.toStdString());
        auto r = request();
        r->addFile(path, "data");
        ASSERT_NE(r->error(), nullptr);
        EXPECT_EQ(r->error()->code, 6);
        EXPECT_EQ(r->error()->localizedDescription, QStringLiteral("No file exists at ") + path);
        // The entry is added all the same, with the default content type.
        ASSERT_EQ(r->fileData()->size(), 1);
        EXPECT_EQ(r->fileData()->at(0).contentType, QStringLiteral("application/octet-stream"));
        r->startSynchronous();
        EXPECT_EQ(r->error()->code, 6);
    }
    formtest::settle(50);
    EXPECT_EQ(server_.connectionCount(), 0);
}

TEST_F(FormBodyTest, FileRemovedBeforeTheBodyIsBuiltFails) {
    const QString path = dir_.filePath("gone.png");
    writeFile(path, "x");
    auto r = request();
    r->addFile(path, "data");
    QFile::remove(path);
    r->startSynchronous();
    ASSERT_NE(r->error(), nullptr);
    EXPECT_EQ(r->error()->code, 6);
    EXPECT_EQ(server_.connectionCount(), 0);
}

TEST_F(FormBodyTest, LineBreaksAndQuotesInNamesAreRefused) {
    const std::vector<std::pair<const char*, std::function<void(FormDataRequest&)>>> cases = {
        {"CR in a value key",
         [](FormDataRequest& r) {
             r.setPostFormat(http::PostFormatMultipart);
             r.addPostValue("v", "a\rb");
         }},
        {"LF in a file key", [](FormDataRequest& r) { r.addData("v", "file", QString(), "a\nb"); }},
        {"quote in a file name",
         [](FormDataRequest& r) { r.addData("v", "a\".png", QString(), "k"); }},
        {"LF in a content type",
         [](FormDataRequest& r) { r.addData("v", "a.png", "image/png\r\nX-Evil: 1", "k"); }},
    };
    for (const auto& [name, fill] : cases) {
        SCOPED_TRACE(name);
        auto r = request();
        fill(*r);
        r->startSynchronous();
        ASSERT_NE(r->error(), nullptr);
        EXPECT_EQ(r->error()->code, 5);
    }
    EXPECT_EQ(server_.connectionCount(), 0);
    // In a url-encoded body such names are escaped and sent.
    auto r = request();
    r->addPostValue("v", "a\"\r\nb");
    EXPECT_EQ(send(server_, r).body, "a%22%0D%0Ab=v");
}

TEST_F(FormBodyTest, FileThatChangesSizeAfterBuildingFails) {
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"grown", "PNGDATA and more"},
        {"shrunk", "PNG"},
    };
    for (const auto& [name, contents] : cases) {
        SCOPED_TRACE(name);
        writeFile(photo_, "PNGDATA");
        auto r = request();
        r->addFile(photo_, "data");
        r->buildPostBody();
        const quint64 length = r->postLength();
        writeFile(photo_, contents);
        r->startSynchronous();
        ASSERT_NE(r->error(), nullptr);
        EXPECT_EQ(r->error()->code, 8);
        EXPECT_TRUE(r->error()->localizedDescription.contains(QStringLiteral("changed size")))
            << r->error()->localizedDescription.toStdString();
        EXPECT_EQ(r->postLength(), length);
    }
    EXPECT_TRUE(server_.requests().empty());
}

// ---- httpbin reads the form ----

TEST(FormInteropTest, HttpbinReadsFieldsAndFiles) {
    HttpbinServer httpbin;
    if (!httpbin.available()) GTEST_SKIP() << httpbin.failure().toStdString();
    QTemporaryDir dir;
    const QString photo = dir.filePath("photo.png");
    {
        QFile file(photo);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("PNGDATA");
    }
    struct Case {
        const char* name;
        std::function<void(FormDataRequest&)> fill;
        const char* section;
        const char* key;
        const char* value;
    };
    const std::vector<Case> cases = {
        {"url-encoded", [](FormDataRequest& r) { r.addPostValue("a b&c", "k"); }, "form", "k",
         "a b&c"},
        {"multipart value",
         [&](FormDataRequest& r) {
             r.addPostValue("1", "a");
             r.addFile(photo, "f");
         },
         "form", "a", "1"},
        {"multipart file",
         [&](FormDataRequest& r) {
             r.addPostValue("1", "a");
             r.addFile(photo, "f");
         },
         "files", "f", "PNGDATA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = FormDataRequest::requestWithURL(httpbin.url("/post"));
        c.fill(*r);
        formtest::application();
        r->startSynchronous();
        ASSERT_EQ(r->error(), nullptr);
        ASSERT_EQ(r->responseStatusCode(), 200);
        const QJsonObject answer = QJsonDocument::fromJson(r->responseData()).object();
        EXPECT_EQ(answer.value(c.section).toObject().value(c.key).toString(),
                  QString::fromUtf8(c.value));
    }
}

}  // namespace
