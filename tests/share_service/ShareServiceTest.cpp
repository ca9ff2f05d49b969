#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "PngBytes.h"
#include "ShareServiceFixture.h"

namespace share::test {
namespace {

const std::regex kLink("http://links\\.test/p/([A-Za-z0-9]{8})");

std::string idOf(const std::string& link) {
    std::smatch m;
    return std::regex_match(link, m, kLink) ? m[1].str() : std::string();
}

std::size_t filesIn(const std::filesystem::path& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}

class ShareServiceTest : public ShareServiceFixture {
protected:
    ShareServiceTest() : ShareServiceFixture(ServiceLimits{256 * 1024, 4096, 8192}) {}
    std::filesystem::path pictures() const { return std::filesystem::path(dataDir()) / "pictures"; }
};

TEST_F(ShareServiceTest, RegistrationAnswersANewHexKeyEachTimeAndOnlyForTheApplication) {
    const std::string first = registerKey();
    const std::string second = registerKey();
    EXPECT_TRUE(std::regex_match(first, std::regex("[0-9a-f]{32}"))) << first;
    EXPECT_NE(first, second);
    EXPECT_TRUE(store_->hasUser(first));

    struct Case {
        const char* name;
        std::string body;
        const char* contentType;
        int status;
    };
    for (const Case& c :
         {Case{"other application", "api=LMRHD00002", "application/x-www-form-urlencoded", 403},
          Case{"no api field", "apx=LMRHD00001", "application/x-www-form-urlencoded", 403},
          Case{"not url-encoded", "api=LMRHD00001", "text/plain", 415}}) {
        SCOPED_TRACE(c.name);
        auto answer = client().Post("/Vesquin/register-api.php", c.body, c.contentType);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, c.status);
        EXPECT_EQ(std::count(answer->body.begin(), answer->body.end(), '\n'), 1) << answer->body;
    }
}

TEST_F(ShareServiceTest, UploadAnswersALinkWhosePageAndPictureServeWhatWasSent) {
    const std::string key = registerKey();
    const std::string png = pngBytes(640, 480);
    auto answer = upload(uploadForm(png, key, "Launch day"));
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200) << answer->body;
    const std::string id = idOf(answer->body);
    ASSERT_FALSE(id.empty()) << answer->body;

    auto page = client().Get(("/p/" + id).c_str());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page->body.find("Launch day"), std::string::npos);
    EXPECT_NE(page->body.find("<dt>Tone</dt><dd>B&amp;W</dd>"), std::string::npos);
    EXPECT_NE(page->body.find("src=\"/p/" + id + ".png\""), std::string::npos);

    auto picture = client().Get(("/p/" + id + ".png").c_str());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->status, 200);
    EXPECT_EQ(picture->get_header_value("Content-Type"), "image/png");
    EXPECT_EQ(picture->body, png);
    EXPECT_EQ(store_->findPicture(id)->userKey, key);

    // An unregistered installation uploads with an empty key.
    auto anonymous = upload(uploadForm(png, ""));
    ASSERT_TRUE(anonymous);
    EXPECT_EQ(anonymous->status, 200);
    EXPECT_NE(idOf(anonymous->body), id);
}

TEST_F(ShareServiceTest, UnknownAndMalformedAddressesAnswer404) {
    for (const char* path : {"/p/AAAAAAAA", "/p/AAAAAAAA.png", "/p/short", "/p/../shares.db",
                             "/p/AAAAAAA%2F", "/pictures/x.png", "/"}) {
        SCOPED_TRACE(path);
        auto answer = client().Get(path);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 404);
        EXPECT_FALSE(answer->body.empty());
    }
}

TEST_F(ShareServiceTest, RefusedUploadsAnswerTheirStatusWithOneLineAndStoreNothing) {
    const std::string png = pngBytes(100, 100);
    auto with = [&](const char* name, std::string value) {
        auto form = uploadForm(png);
        for (auto& item : form) {
            if (item.name == name) item.content = std::move(value);
        }
        return form;
    };
    auto without = [&](const char* name) {
        auto form = uploadForm(png);
        std::erase_if(form, [&](const auto& item) { return item.name == name; });
        return form;
    };
    std::string truncated = png.substr(0, png.size() - 5);
    std::string badChecksum = png;
    badChecksum[20] ^= 1;
    struct Case {
        const char* name;
        httplib::MultipartFormDataItems form;
        int status;
    };
    const std::vector<Case> cases = {
        {"other application", with("api", "LMRHD00009"), 403},
        {"no application", without("api"), 403},
        {"unregistered key", with("appid", "0123456789abcdef0123456789abcdef"), 403},
        {"no picture", without("data"), 400},
        {"a JPEG", with("data", "\xff\xd8\xff\xe0 not a png"), 415},
        {"cut-off PNG", with("data", truncated), 415},
        {"damaged header", with("data", badChecksum), 415},
        {"too wide", with("data", pngBytes(4097, 10)), 413},
        {"too tall", with("data", pngBytes(10, 5000)), 413},
        {"description too long", with("description", std::string(8193, 'a')), 413},
        {"description not UTF-8", with("description", "caf\xe9"), 400},
        {"record not UTF-8", with("filter_data", "\xed\xa0\x80"), 400},
        {"body over the limit", with("data", pngBytes(10, 10, 8, 6, std::string(300000, 'z'))),
         413},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto answer = upload(c.form);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, c.status);
        EXPECT_EQ(std::count(answer->body.begin(), answer->body.end(), '\n'), 1) << answer->body;
    }
    auto notMultipart = client().Post("/Vesquin/upload-api.php", "api=LMRHD00001",
                                      "application/x-www-form-urlencoded");
    ASSERT_TRUE(notMultipart);
    EXPECT_EQ(notMultipart->status, 415);
    EXPECT_EQ(filesIn(pictures()), 0u);

    // The largest accepted sizes still pass.
    auto edge = upload(with("data", pngBytes(4096, 4096)));
    ASSERT_TRUE(edge);
    EXPECT_EQ(edge->status, 200) << edge->body;
}

TEST_F(ShareServiceTest, ThePageEscapesEverythingTheClientSent) {
    auto form = uploadForm(pngBytes(10, 10), "", "<script>alert(\"x\")</script> & 'q'");
    form[5].content = "<COL><img src=x onerror=alert(1)></COL><FIL>\"Red\"</FIL>";
    auto answer = upload(form);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200);
    auto page = client().Get(("/p/" + idOf(answer->body)).c_str());
    ASSERT_TRUE(page);
    const std::string& html = page->body;
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("<img src=x"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &#39;q&#39;"),
              std::string::npos);
    EXPECT_NE(html.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
    EXPECT_NE(html.find("&quot;Red&quot;"), std::string::npos);
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'none'"),
              std::string::npos);
}

TEST_F(ShareServiceTest, ConcurrentUploadsAllGetTheirOwnLinkRowAndFile) {
    const std::string key = registerKey();
    constexpr int kThreads = 8;
    constexpr int kEach = 4;
    std::vector<std::vector<std::string>> links(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string png =
                    pngBytes(100 + t, 100 + i, 8, 6, std::string(20000, char('a' + t)));
                auto answer =
                    upload(uploadForm(png, t % 2 ? key : "", "thread " + std::to_string(t)));
                if (answer && answer->status == 200) links[t].push_back(answer->body);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    std::set<std::string> ids;
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(links[t].size(), std::size_t(kEach)) << "thread " << t;
        for (int i = 0; i < kEach; ++i) {
            const std::string id = idOf(links[t][i]);
            ids.insert(id);
            const auto record = store_->findPicture(id);
            ASSERT_TRUE(record);
            EXPECT_EQ(record->width, 100 + t);
            EXPECT_EQ(record->height, 100 + i);
            EXPECT_EQ(record->description, "thread " + std::to_string(t));
            EXPECT_EQ(store_->pictureData(id)->size(),
                      pngBytes(1, 1, 8, 6, std::string(20000, 'a')).size());
        }
    }
    EXPECT_EQ(ids.size(), std::size_t(kThreads * kEach));
    EXPECT_EQ(filesIn(pictures()), std::size_t(kThreads * kEach));
}

TEST_F(ShareServiceTest, AConnectionCutMidUploadLeavesNothingBehind) {
    const std::string png = pngBytes(50, 50, 8, 6, std::string(100000, 'p'));
    const std::string boundary = "cut";
    std::string body;
    for (const auto& [name, value] :
         {std::pair<std::string, std::string>{"api", "LMRHD00001"}, {"appid", ""}}) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
                "\"\r\n\r\n" + value + "\r\n";
    }
    body += "--" + boundary +
            "\r\nContent-Disposition: form-data; name=\"data\"; filename=\"file\"\r\n"
            "Content-Type: application/octet-stream\r\n\r\n" +
            png + "\r\n--" + boundary + "--\r\n";
    const std::string head =
        "POST /Vesquin/upload-api.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        "Content-Type: multipart/form-data; boundary=" +
        boundary + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    const std::string sent = head + body.substr(0, body.size() - 2000);

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::send(fd, sent.data(), sent.size(), MSG_NOSIGNAL), ssize_t(sent.size()));
    ::close(fd);

    // The same body sent whole is stored, so the cut one was read as far as it went.
    auto whole =
        client().Post("/Vesquin/upload-api.php", body, "multipart/form-data; boundary=" + boundary);
    ASSERT_TRUE(whole);
    ASSERT_EQ(whole->status, 200) << whole->body;
    EXPECT_EQ(filesIn(pictures()), 1u);
    EXPECT_TRUE(std::filesystem::exists(pictures() / (idOf(whole->body) + ".png")));
}

TEST(SqliteShareStoreTest, OpeningRemovesPicturesThatACrashLeftHalfWritten) {
    QTemporaryDir dir;
    const std::filesystem::path root = dir.path().toStdString();
    {
        SqliteShareStore store(root);
        PictureRecord record{"Abcdefgh", "d", "", "", 1, 10, 10};
        ASSERT_TRUE(store.addPicture(record, pngBytes(10, 10)));
        EXPECT_FALSE(store.addPicture(record, pngBytes(20, 20))) << "ids are unique";
        EXPECT_EQ(store.pictureData("Abcdefgh"), pngBytes(10, 10));
        ASSERT_TRUE(store.addUser("k1"));
        EXPECT_FALSE(store.addUser("k1"));
    }
    std::filesystem::path leftover = root / "pictures" / ".incoming-crashed";
    std::FILE* f = std::fopen(leftover.c_str(), "w");
    std::fputs("half", f);
    std::fclose(f);

    SqliteShareStore reopened(root);
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_TRUE(reopened.hasUser("k1"));
    ASSERT_TRUE(reopened.findPicture("Abcdefgh"));
    EXPECT_EQ(reopened.findPicture("Abcdefgh")->description, "d");
    EXPECT_EQ(filesIn(root / "pictures"), 1u);
    EXPECT_FALSE(reopened.findPicture("Zzzzzzzz"));
    EXPECT_FALSE(reopened.pictureData("Zzzzzzzz"));
}

}  // namespace
}  // namespace share::test
