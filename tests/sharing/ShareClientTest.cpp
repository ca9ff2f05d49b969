#include <gtest/gtest.h>

#include <QImage>
#include <QSignalSpy>
#include <memory>

#include "SharingGui.h"
#include "http/FormDataRequest.h"
#include "imaging/Renderer.h"
#include "servers/InProcessHttpServer.h"
#include "share_service/ShareServiceRunner.h"
#include "sharing/AdjustmentRecord.h"
#include "sharing/ShareClient.h"

namespace sharing::test {
namespace {

using share::test::ShareServiceRunner;

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string idOf(const QString& link) { return link.section(QLatin1Char('/'), -1).toStdString(); }

// A renderer holding a picked picture of the given stored grid and orientation.
struct PickedRenderer {
    PickedRenderer(QSize grid, imaging::Orientation orientation = imaging::Orientation::Up) {
        imaging::resetState(state);
        QImage image(grid, QImage::Format_RGB32);
        image.fill(QColor(200, 120, 40));
        renderer.setPickedPicture(std::make_shared<const imaging::Picture>(
            imaging::Picture::fromImage(image, orientation)));
    }
    imaging::AdjustmentState state;
    imaging::Renderer renderer{state};
};

class ShareClientTest : public ::testing::Test {
protected:
    void SetUp() override { clearShareDefaults(); }

    std::unique_ptr<ShareClient> clientFor(const QString& url,
                                           const QString& probe = QStringLiteral("localhost")) {
        return std::make_unique<ShareClient>(ShareEndpoints{QUrl(url), probe});
    }

    // The panel's request, then the upload, then the wait for its answer.
    void uploadAndWait(ShareClient& client, PickedRenderer& picked, const QString& description,
                       bool record, int toneSegment = 0) {
        defaults().setString(description, keys::ShDescription);
        defaults().setBool(record, keys::ShAdjustments);
        defaults().setBool(false, keys::ShOutputReady);
        client.upload(picked.renderer, sliders, toneSegment);
        ASSERT_TRUE(waitFor([] { return defaults().boolForKey(keys::ShOutputReady); }, 10000));
    }

    imaging::SliderValues sliders{2.5f, -1.0f, 0, 0, 0, 0, 0, 0};
};

TEST_F(ShareClientTest, FirstUploadRegistersAlongsideAndTheNextSendsTheKey) {
    ShareServiceRunner service;
    auto client = clientFor(qs(service.url()));
    PickedRenderer picked({1000, 500});
    QSignalSpy registered(client.get(), &ShareClient::registered);

    uploadAndWait(*client, picked, QStringLiteral("Launch & landing"), true, 1);
    const QString first = defaults().stringForKey(keys::ShOutput);
    EXPECT_EQ(defaults().stringForKey(keys::ShError), "");
    ASSERT_TRUE(first.startsWith(qs(service.url()) + "/p/")) << first.toStdString();
    auto record = service.store().findPicture(idOf(first));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->userKey, "") << "the first upload goes out before the key is known";
    EXPECT_EQ(record->description, "Launch & landing");
    EXPECT_EQ(qs(record->adjustments), adjustmentRecord(sliders, picked.state, 1));
    EXPECT_EQ(record->width, 800);
    EXPECT_EQ(record->height, 400);

    ASSERT_TRUE(registered.count() > 0 || registered.wait(10000));
    const QString key = defaults().stringForKey(keys::PrivateKey);
    EXPECT_EQ(defaults().integerForKey(keys::Registered), 1);
    EXPECT_TRUE(service.store().hasUser(key.toStdString()));

    uploadAndWait(*client, picked, QString(), false);
    record = service.store().findPicture(idOf(defaults().stringForKey(keys::ShOutput)));
    ASSERT_TRUE(record);
    EXPECT_EQ(qs(record->userKey), key);
    EXPECT_EQ(record->description, "");
    EXPECT_EQ(record->adjustments, "") << "the switch off sends an empty record";
    EXPECT_EQ(registered.count(), 1);
}

TEST_F(ShareClientTest, ALaterRegistrationAnswerDoesNotReplaceTheKey) {
    ShareServiceRunner service;
    auto client = clientFor(qs(service.url()));
    QSignalSpy registered(client.get(), &ShareClient::registered);
    client->registerUser();
    ASSERT_TRUE(registered.wait(10000));
    const QString key = defaults().stringForKey(keys::PrivateKey);

    // A second, real answer of the service arrives for the same installation.
    auto late = http::FormDataRequest::requestWithURL(client->endpoints().registerURL());
    late->setPostValue(appId, QStringLiteral("api"));
    late->startSynchronous();
    ASSERT_EQ(late->responseStatusCode(), 200);
    ASSERT_NE(late->responseString().value_or(QString()), key);
    client->registerFinished(late);
    EXPECT_EQ(defaults().stringForKey(keys::PrivateKey), key);
    EXPECT_EQ(registered.count(), 1);
}

TEST_F(ShareClientTest, OnlyAProperKeyRegistersTheInstallation) {
    struct Case {
        const char* name;
        int status;
        std::string body;
        const char* key;  // null: stays unregistered
    };
    const Case cases[] = {
        {"a key", 200, "0123456789abcdef0123456789abcdef", "0123456789abcdef0123456789abcdef"},
        {"a key and a line break", 200, "k3y-42\r\n", "k3y-42"},
        {"empty answer", 200, "", nullptr},
        {"error status", 500, "<html><body>Internal error</body></html>", nullptr},
        {"not found", 404, "abc", nullptr},
        {"two lines", 200, "abc\ndef", nullptr},
        {"too long", 200, std::string(257, 'a'), nullptr},
        {"control character", 200, "ab\x01", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearShareDefaults();
        InProcessHttpServer server;
        int hits = 0;
        server.server().Post("/Vesquin/register-api.php",
                             [&](const httplib::Request& q, httplib::Response& r) {
                                 ++hits;
                                 EXPECT_EQ(q.body, "api=LMRHD00001");
                                 r.status = c.status;
                                 r.set_content(c.body, "text/plain");
                             });
        server.start();
        auto client = clientFor(server.url(QString()).toString());
        QSignalSpy registered(client.get(), &ShareClient::registered);
        QSignalSpy failed(client.get(), &ShareClient::registrationFailed);
        client->registerUser();
        ASSERT_TRUE(waitFor([&] { return registered.count() + failed.count() > 0; }, 10000));
        EXPECT_EQ(hits, 1);
        if (c.key) {
            EXPECT_EQ(defaults().integerForKey(keys::Registered), 1);
            EXPECT_EQ(defaults().stringForKey(keys::PrivateKey), c.key);
        } else {
            EXPECT_EQ(defaults().integerForKey(keys::Registered), 0);
            EXPECT_FALSE(defaults().hasKey(keys::PrivateKey));
            ASSERT_EQ(failed.count(), 1);
            EXPECT_EQ(failed[0][0].toInt(), 0) << "a refusal, not an engine failure";
        }
    }
}

TEST_F(ShareClientTest, UploadSizesFollowTheReductionAndTheOrientation) {
    ShareServiceRunner service;
    auto client = clientFor(qs(service.url()));
    struct Case {
        QSize grid;
        imaging::Orientation orientation;
        QSize sent;
    };
    for (const Case& c : {Case{{1000, 500}, imaging::Orientation::Up, {800, 400}},
                          Case{{600, 900}, imaging::Orientation::Up, {533, 800}},
                          Case{{700, 700}, imaging::Orientation::Up, {700, 700}},
                          Case{{1000, 1000}, imaging::Orientation::Down, {800, 800}},
                          Case{{900, 600}, imaging::Orientation::Right, {533, 800}},
                          Case{{500, 1000}, imaging::Orientation::Left, {800, 400}}}) {
        SCOPED_TRACE(testing::Message()
                     << c.grid.width() << "x" << c.grid.height() << " o" << int(c.orientation));
        PickedRenderer picked(c.grid, c.orientation);
        uploadAndWait(*client, picked, QStringLiteral("size"), true);
        const std::string id = idOf(defaults().stringForKey(keys::ShOutput));
        const auto png = service.store().pictureData(id);
        ASSERT_TRUE(png);
        const QImage sent = QImage::fromData(QByteArray::fromStdString(*png), "PNG");
        EXPECT_EQ(sent.size(), c.sent);
    }
}

TEST_F(ShareClientTest, FailedUploadsAreReportedAsFailuresWithTheirReason) {
    ShareServiceRunner service;
    InProcessHttpServer other;
    other.server().Post("/Vesquin/upload-api.php",
                        [](const httplib::Request&, httplib::Response& r) {
                            r.set_content("<html>Welcome</html>", "text/html");
                        });
    other.start();
    struct Case {
        const char* name;
        QString url;
        QString probe;
        const char* reason;  // how the reason starts
        int code;
    };
    const Case cases[] = {
        {"unknown key", qs(service.url()), "localhost",
         "the sharing service answered 403: unknown user key in the field appid", 0},
        {"not a link", other.url(QString()).toString(), "localhost",
         "the sharing service answered without a link", 0},
        {"nobody listens", QStringLiteral("http://127.0.0.1:1"), "localhost", "", 1},
        {"probe host unreachable", qs(service.url()), "nonexistent.invalid",
         "the sharing service at nonexistent.invalid cannot be reached", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearShareDefaults();
        defaults().setInteger(1, keys::Registered);
        defaults().setString("0123456789abcdef0123456789abcdef", keys::PrivateKey);
        auto client = clientFor(c.url, c.probe);
        QSignalSpy failed(client.get(), &ShareClient::uploadFailed);
        PickedRenderer picked({300, 200});
        uploadAndWait(*client, picked, QStringLiteral("x"), true);
        const QString error = defaults().stringForKey(keys::ShError);
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(error.startsWith(c.reason)) << error.toStdString();
        EXPECT_EQ(defaults().stringForKey(keys::ShOutput), "");
        ASSERT_EQ(failed.count(), 1);
        EXPECT_EQ(failed[0][0].toInt() > 0, c.code > 0);
    }
    EXPECT_EQ(service.store().findPicture("AAAAAAAA"), std::nullopt);
}

}  // namespace
}  // namespace sharing::test
