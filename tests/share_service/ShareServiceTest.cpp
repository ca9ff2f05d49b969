#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "ShareServiceRunner.h"

namespace share::test {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;
constexpr auto npos = std::string::npos;
const std::string kRegister = "/Vesquin/register-api.php";
const std::string kUpload = "/Vesquin/upload-api.php";
const std::string kUrlEncoded = "application/x-www-form-urlencoded";
const std::string kBoundary = "lumaro-form-boundary";
const std::string kMultipart = "multipart/form-data; boundary=" + kBoundary;

// The form the application sends.
Fields form(const std::string& png, const std::string& appid = "",
            const std::string& description = "A walk",
            const std::string& filterData = "<COL>B&W</COL>",
            const std::string& api = "LMRHD00001") {
    return {{"description", description},
            {"api", api},
            {"appid", appid},
            {"filter_data", filterData},
            {"data", png}};
}
std::string multipart(const Fields& fields) {
    std::string body;
    for (const auto& [name, value] : fields) {
        body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"" +
                (name == "data" ? "; filename=\"file\"\r\nContent-Type: application/octet-stream"
                                : "") +
                "\r\n\r\n" + value + "\r\n";
    }
    return body + "--" + kBoundary + "--\r\n";
}

std::string idOf(const std::string& link) {
    std::smatch m;
    static const std::regex kLink("http://links\\.test/p/([A-Za-z0-9]{8})");
    return std::regex_match(link, m, kLink) ? m[1].str() : std::string();
}
std::size_t filesIn(const std::filesystem::path& dir) {
    const auto entries = std::filesystem::directory_iterator(dir);
    return std::size_t(std::distance(begin(entries), end(entries)));
}

class ShareServiceTest : public ::testing::Test {
protected:
    httplib::Client client() {
        httplib::Client c("127.0.0.1", service.port());
        c.set_read_timeout(20);
        return c;
    }
    httplib::Result upload(const Fields& fields) {
        return client().Post(kUpload, multipart(fields), kMultipart);
    }
    std::filesystem::path pictures() {
        return std::filesystem::path(service.dataDir()) / "pictures";
    }

    ShareServiceRunner service{ServiceLimits{256 * 1024, 4096, 8192}, "http://links.test"};
};

TEST_F(ShareServiceTest, UploadAnswersALinkToAnEscapedPageAndToThePictureAsSent) {
    auto registration = client().Post(kRegister, "api=LMRHD00001", kUrlEncoded);
    ASSERT_TRUE(registration);
    const std::string key = registration->body;
    EXPECT_TRUE(std::regex_match(key, std::regex("[0-9a-f]{32}"))) << key;
    const std::string png = pngBytes(640, 480);
    auto answer = upload(form(png, key, "<script>alert(\"x\")</script> & 'q'",
                              "<COL><img src=x onerror=alert(1)></COL><FIL>\"Red\"</FIL><EXP>9"));
    ASSERT_TRUE(answer);
    const std::string id = idOf(answer->body);
    ASSERT_FALSE(id.empty()) << answer->body;
    EXPECT_EQ(service.store().findPicture(id)->userKey, key);

    auto page = client().Get("/p/" + id);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'none'"), npos);
    const std::string& html = page->body;
    EXPECT_EQ(html.find("<script"), npos);
    EXPECT_EQ(html.find("<img src=x"), npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &#39;q&#39;"),
              npos);
    EXPECT_NE(html.find("<dt>Tone</dt><dd>&lt;img src=x onerror=alert(1)&gt;</dd>"), npos);
    EXPECT_NE(html.find("<dt>Colour filter</dt><dd>&quot;Red&quot;</dd>"), npos);
    EXPECT_NE(html.find("src=\"/p/" + id + ".png\""), npos);
    auto picture = client().Get("/p/" + id + ".png");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->get_header_value("Content-Type"), "image/png");
    EXPECT_EQ(picture->body, png);
}

// Hostile and broken requests: each answers its status and one line, and nothing is stored.
TEST_F(ShareServiceTest, RefusalsAnswerTheirStatusAndReasonInOneLineAndStoreNothing) {
    const std::string png = pngBytes(100, 100);
    std::string damaged = png;
    damaged[20] ^= 1;
    Fields noData = form(png);
    noData.pop_back();
    struct Case {
        std::string path, type, body;  // no type: a GET
        int status;
        std::string reason;
    };
    auto up = [&](const Fields& fields, int status, std::string reason) {
        return Case{kUpload, kMultipart, multipart(fields), status, std::move(reason)};
    };
    auto get = [](std::string path, std::string reason) {
        return Case{std::move(path), "", "", 404, std::move(reason)};
    };
    const std::string badApi = "unknown application id in the field api";
    const std::string noPng = "the picture in the field data is not a PNG";
    const std::string tooBig = "the picture is larger than 4096 pixels on a side";
    const std::string badText = "the description or the adjustments are not UTF-8 text";
    const std::string noPicture = "no picture has this address", nothing = "there is nothing here";
    const Case cases[] = {
        {kRegister, kUrlEncoded, "api=LMRHD00002", 403, badApi},
        {kRegister, "text/plain", "api=LMRHD00001", 415, "registration takes a url-encoded form"},
        {kUpload, kUrlEncoded, "api=LMRHD00001", 415, "the upload takes a multipart form"},
        up(form(png, "", "d", "", "LMRHD00009"), 403, badApi),
        up(form(png, "0123456789abcdef0123456789abcdef"), 403,
           "unknown user key in the field appid"),
        up(noData, 400, "no picture in the field data"),
        up(form("\xff\xd8\xff\xe0 not a png"), 415, noPng),
        up(form(png.substr(0, png.size() - 5)), 415, noPng),
        up(form(damaged), 415, noPng),
        up(form(pngBytes(0x80000000u, 10)), 415, noPng),
        up(form(pngBytes(10, 10, 8, 5)), 415, noPng),
        up(form(pngBytes(4097, 10)), 413, tooBig),
        up(form(pngBytes(10, 5000)), 413, tooBig),
        up(form(png, "", std::string(8193, 'a')), 413,
           "the description or the adjustments are longer than 8192 bytes"),
        up(form(png, "", "caf\xe9"), 400, badText),
        up(form(png, "", "d", "\xed\xa0\x80"), 400, badText),
        up(form(pngBytes(10, 10, 8, 6, std::string(300000, 'z'))), 413, "the request is too large"),
        get("/p/AAAAAAAA", noPicture),
        get("/p/AAAAAAAA.png", noPicture),
        get("/p/../shares.db", nothing),
        get("/p/AAAAAAA%2F", nothing),
        get("/", nothing),
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason + " / " + std::to_string(&c - cases));
        auto answer = c.type.empty() ? client().Get(c.path) : client().Post(c.path, c.body, c.type);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, c.status);
        EXPECT_EQ(answer->body, c.reason + "\n");
    }
    EXPECT_EQ(filesIn(pictures()), 0u);

    // The largest side still passes.
    auto edge = upload(form(pngBytes(4096, 4096)));
    ASSERT_TRUE(edge);
    EXPECT_EQ(edge->status, 200) << edge->body;
}

TEST_F(ShareServiceTest, ConcurrentUploadsAllGetTheirOwnLinkRowAndFile) {
    const std::string key = client().Post(kRegister, "api=LMRHD00001", kUrlEncoded)->body;
    constexpr int kThreads = 8, kEach = 4;
    auto png = [](int t, int i) {
        return pngBytes(100 + t, 100 + i, 8, 6, std::string(20000, 'a'));
    };
    std::vector<std::string> ids(kThreads * kEach);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                auto answer = upload(form(png(t, i), t % 2 ? key : "", std::to_string(t)));
                if (answer) ids[t * kEach + i] = idOf(answer->body);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (std::size_t n = 0; n < ids.size(); ++n) {
        const auto record = service.store().findPicture(ids[n]);
        ASSERT_TRUE(record) << "upload " << n << " has no row";
        EXPECT_EQ(record->description, std::to_string(n / kEach));
        EXPECT_EQ(service.store().pictureData(ids[n]), png(int(n / kEach), int(n % kEach)));
    }
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size());
    EXPECT_EQ(filesIn(pictures()), ids.size());
}

TEST_F(ShareServiceTest, AConnectionCutMidUploadLeavesNothingBehind) {
    const std::string body = multipart(form(pngBytes(50, 50, 8, 6, std::string(100000, 'p'))));
    auto cut = client().Post(
        kUpload, body.size(),
        [&](std::size_t, std::size_t, httplib::DataSink& sink) {
            sink.write(body.data(), body.size() - 2000);
            return false;  // the connection drops here
        },
        kMultipart);
    EXPECT_FALSE(cut);

    // The same body sent whole is stored, so the cut one was read as far as it went.
    auto whole = client().Post(kUpload, body, kMultipart);
    ASSERT_TRUE(whole);
    ASSERT_EQ(whole->status, 200) << whole->body;
    EXPECT_EQ(filesIn(pictures()), 1u);
    EXPECT_TRUE(std::filesystem::exists(pictures() / (idOf(whole->body) + ".png")));
}

TEST(SqliteShareStoreTest, OpeningDropsPicturesThatACrashLeftHalfWritten) {
    QTemporaryDir dir;
    const std::filesystem::path root = dir.path().toStdString();
    {
        SqliteShareStore store(root);
        ASSERT_TRUE(store.addPicture({"Abcdefgh", "d", "", "", 1, 10, 10}, pngBytes(10, 10)));
    }
    const std::filesystem::path leftover = root / "pictures" / ".incoming-crashed";
    std::ofstream(leftover) << "half";
    SqliteShareStore reopened(root);
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_EQ(reopened.pictureData("Abcdefgh"), pngBytes(10, 10));
}

}  // namespace
}  // namespace share::test
