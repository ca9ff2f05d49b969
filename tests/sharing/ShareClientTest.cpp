#include <gtest/gtest.h>

#include <QImage>
#include <QSignalSpy>
#include <memory>
#include <tuple>

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
const imaging::SliderValues kSliders{2.5f, -1.0f, 0, 0, 0, 0, 0, 0};

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

// A stand-in for the service that gives every request the same answer.
struct ScriptedService {
    ScriptedService(int status, const std::string& body) {
        auto answer = [=](const httplib::Request&, httplib::Response& r) {
            r.status = status;
            r.set_content(body, "text/plain");
        };
        server.server().Post("/Vesquin/register-api.php", answer);
        server.server().Post("/Vesquin/upload-api.php", answer);
        server.start();
    }
    QString url() const { return server.url(QString()).toString(); }
    InProcessHttpServer server;
};

std::unique_ptr<ShareClient> clientFor(const QString& url, const QString& probe = "localhost") {
    clearShareDefaults();
    return std::make_unique<ShareClient>(ShareEndpoints{QUrl(url), probe});
}

// The panel's request, then the upload, then the wait for its answer.
void uploadAndWait(ShareClient& client, PickedRenderer& picked, const QString& description,
                   bool record, int toneSegment = 0) {
    defaults().setString(description, keys::ShDescription);
    defaults().setBool(record, keys::ShAdjustments);
    defaults().setBool(false, keys::ShOutputReady);
    client.upload(picked.renderer, kSliders, toneSegment);
    ASSERT_TRUE(waitFor([] { return defaults().boolForKey(keys::ShOutputReady); }, 20000));
}

TEST(ShareClientTest, FirstUploadRegistersAlongsideAndTheNextSendsTheKey) {
    ShareServiceRunner service;
    auto client = clientFor(qs(service.url()));
    PickedRenderer picked({1000, 500});
    QSignalSpy registered(client.get(), &ShareClient::registered);

    uploadAndWait(*client, picked, "Launch & landing", true, 1);
    EXPECT_EQ(defaults().stringForKey(keys::ShError), "");
    auto record = service.store().findPicture(idOf(defaults().stringForKey(keys::ShOutput)));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->userKey, "") << "the first upload goes out before the key is known";
    EXPECT_EQ(record->description, "Launch & landing");
    EXPECT_EQ(qs(record->adjustments), adjustmentRecord(kSliders, picked.state, 1));

    ASSERT_TRUE(registered.count() > 0 || registered.wait(20000));
    const QString key = defaults().stringForKey(keys::PrivateKey);
    EXPECT_EQ(defaults().integerForKey(keys::Registered), 1);
    EXPECT_TRUE(service.store().hasUser(key.toStdString()));

    // A second, real answer of the service for the same installation changes nothing.
    auto late = http::FormDataRequest::requestWithURL(client->endpoints().registerURL());
    late->setPostValue(appId, QStringLiteral("api"));
    late->startSynchronous();
    ASSERT_EQ(late->responseStatusCode(), 200);
    ASSERT_NE(late->responseString().value_or(QString()), key);
    client->registerFinished(late);
    EXPECT_EQ(defaults().stringForKey(keys::PrivateKey), key);

    uploadAndWait(*client, picked, QString(), false);
    record = service.store().findPicture(idOf(defaults().stringForKey(keys::ShOutput)));
    ASSERT_TRUE(record);
    EXPECT_EQ(qs(record->userKey), key);
    EXPECT_EQ(record->adjustments, "") << "the switch off sends an empty record";
    EXPECT_EQ(registered.count(), 1);
}

TEST(ShareClientTest, OnlyAProperKeyRegistersTheInstallation) {
    // The answer's status and body, and the key it gives or null.
    const std::tuple<int, std::string, const char*> cases[] = {
        {200, "k3y-42\r\n", "k3y-42"}, {200, "", nullptr},       {500, "k3y-42", nullptr},
        {200, "abc\ndef", nullptr},    {200, "ab\x01", nullptr},
    };
    for (const auto& [status, body, key] : cases) {
        SCOPED_TRACE(testing::Message() << status << " " << body);
        ScriptedService fake(status, body);
        auto client = clientFor(fake.url());
        QSignalSpy registered(client.get(), &ShareClient::registered);
        QSignalSpy failed(client.get(), &ShareClient::registrationFailed);
        client->registerUser();
        ASSERT_TRUE(waitFor([&] { return registered.count() + failed.count() > 0; }, 20000));
        EXPECT_EQ(defaults().integerForKey(keys::Registered), key ? 1 : 0);
        EXPECT_EQ(defaults().stringForKey(keys::PrivateKey), key ? key : "");
        EXPECT_EQ(failed.count(), key ? 0 : 1);
        EXPECT_EQ(failed.value(0).value(0).toInt(), 0) << "a refusal, not an engine failure";
    }
}

TEST(ShareClientTest, UploadsAreReducedTo800OnTheLongerUprightSideAndTruncated) {
    ShareServiceRunner service;
    auto client = clientFor(qs(service.url()));
    using O = imaging::Orientation;
    // The stored grid and orientation, and the size sent.
    for (const auto& [grid, orientation, sent] : {
             std::tuple<QSize, O, QSize>{{1000, 500}, O::Up, {800, 400}},
             {{600, 900}, O::Up, {533, 800}},
             {{700, 700}, O::Up, {700, 700}},
             {{801, 3}, O::Up, {800, 2}},
             {{20000, 10}, O::Up, {800, 1}},
             {{900, 600}, O::Right, {533, 800}},
         }) {
        SCOPED_TRACE(testing::Message()
                     << grid.width() << "x" << grid.height() << " turned " << int(orientation));
        PickedRenderer picked(grid, orientation);
        uploadAndWait(*client, picked, "size", true);
        const auto png = service.store().pictureData(idOf(defaults().stringForKey(keys::ShOutput)));
        ASSERT_TRUE(png) << defaults().stringForKey(keys::ShError).toStdString();
        EXPECT_EQ(QImage::fromData(QByteArray::fromStdString(*png), "PNG").size(), sent);
    }
}

TEST(ShareClientTest, FailedUploadsAreReportedAsFailuresWithTheirReason) {
    ShareServiceRunner service;
    ScriptedService other(200, "<html>Welcome</html>");
    struct Case {
        QString url, probe;
        const char* reason;  // how the reason starts
        bool engineFailure;
    };
    const Case cases[] = {
        {qs(service.url()), "localhost",
         "the sharing service answered 403: unknown user key in the field appid", false},
        {other.url(), "localhost", "the sharing service answered without a link", false},
        {"http://127.0.0.1:1", "localhost", "", true},
        {qs(service.url()), "nonexistent.invalid",
         "the sharing service at nonexistent.invalid cannot be reached", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        auto client = clientFor(c.url, c.probe);
        defaults().setInteger(1, keys::Registered);
        defaults().setString("0123456789abcdef0123456789abcdef", keys::PrivateKey);
        QSignalSpy failed(client.get(), &ShareClient::uploadFailed);
        PickedRenderer picked({300, 200});
        uploadAndWait(*client, picked, "x", true);
        const QString error = defaults().stringForKey(keys::ShError);
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(error.startsWith(c.reason)) << error.toStdString();
        EXPECT_EQ(defaults().stringForKey(keys::ShOutput), "");
        ASSERT_EQ(failed.count(), 1);
        EXPECT_EQ(failed[0][0].toInt() > 0, c.engineFailure);
    }
}

}  // namespace
}  // namespace sharing::test
