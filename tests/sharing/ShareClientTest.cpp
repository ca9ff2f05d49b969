#include <gtest/gtest.h>

#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <memory>
#include <tuple>

#include "SharingGui.h"
#include "http/FormDataRequest.h"
#include "imaging/Renderer.h"
#include "servers/InProcessHttpServer.h"
#include "share_service/ShareServiceRunner.h"
#include "sharing/ShareClient.h"
#include "support/Tool.h"

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

// The upload as the panel asks for it, and the wait for its answer.
void uploadAndWait(ShareClient& client, PickedRenderer& picked) {
    defaults().setBool(false, keys::ShOutputReady);
    client.upload(picked.renderer, kSliders, 0);
    ASSERT_TRUE(waitFor([] { return defaults().boolForKey(keys::ShOutputReady); }, 20000));
}

TEST(ShareClientTest, ALaterRegistrationAnswerKeepsTheKey) {
    ShareServiceRunner service;
    auto client = clientFor(qs(service.url()));
    QSignalSpy registered(client.get(), &ShareClient::registered);
    client->registerUser();
    ASSERT_TRUE(registered.wait(20000));
    const QString key = defaults().stringForKey(keys::PrivateKey);
    // A second, real answer of the service for the same installation changes nothing.
    auto late = http::FormDataRequest::requestWithURL(client->endpoints().registerURL());
    late->setPostValue(appId, QStringLiteral("api"));
    late->startSynchronous();
    ASSERT_NE(late->responseString().value_or(QString()), key);
    client->registerFinished(late);
    EXPECT_EQ(defaults().stringForKey(keys::PrivateKey), key);
    EXPECT_EQ(registered.count(), 1);
}

TEST(ShareClientTest, OnlyAProperKeyRegistersTheInstallation) {
    // The answer's status and body, and the key it gives or null.
    const std::tuple<int, std::string, const char*> cases[] = {
        {200, "k3y-42\r\n", "k3y-42"},
        {200, "", nullptr},
        {500, "k3y-42", nullptr},
        {200, "ab\x01", nullptr},
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

// Sent reduced to 800 on the longer upright side, truncated; or reported as failed with the
// reason (registered with a key the service does not know, so that it refuses).
TEST(ShareClientTest, UploadsAreReducedOrReportedAsFailuresWithTheirReason) {
    ShareServiceRunner service;
    ScriptedService other(200, "<html>Welcome</html>");
    const QString ours = qs(service.url());
    using O = imaging::Orientation;
    struct Case {
        QString url, probe;
        QSize grid;
        O orientation;
        QSize sent;
        const char* reason = nullptr;  // how the reason starts
        bool engineFailure = false;
    };
    const QSize grid(300, 200);
    // clang-format off
    const Case cases[] = {
        {ours, "localhost", {1000, 500}, O::Up, {800, 400}},
        {ours, "localhost", {600, 900}, O::Up, {533, 800}},
        {ours, "localhost", {801, 3}, O::Up, {800, 2}},
        {ours, "localhost", {20000, 10}, O::Up, {800, 1}},
        {ours, "localhost", {900, 600}, O::Right, {533, 800}},
        {ours, "localhost", grid, O::Up, {}, "the sharing service answered 403: unknown user key in the field appid"},
        {other.url(), "localhost", grid, O::Up, {}, "the sharing service answered without a link"},
        {"http://127.0.0.1:1", "localhost", grid, O::Up, {}, "", true},
        {ours, "nonexistent.invalid", grid, O::Up, {}, "the sharing service at nonexistent.invalid cannot be reached", true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        auto client = clientFor(c.url, c.probe);
        if (c.reason) {
            defaults().setInteger(1, keys::Registered);
            defaults().setString("0123456789abcdef0123456789abcdef", keys::PrivateKey);
        }
        QSignalSpy failed(client.get(), &ShareClient::uploadFailed);
        PickedRenderer picked(c.grid, c.orientation);
        uploadAndWait(*client, picked);
        const QString error = defaults().stringForKey(keys::ShError);
        const auto png = service.store().pictureData(idOf(defaults().stringForKey(keys::ShOutput)));
        ASSERT_EQ(failed.count(), c.reason ? 1 : 0) << error.toStdString();
        if (!c.reason) {
            ASSERT_TRUE(png);
            EXPECT_EQ(QImage::fromData(QByteArray::fromStdString(*png), "PNG").size(), c.sent);
            continue;
        }
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(error.startsWith(c.reason)) << error.toStdString();
        EXPECT_EQ(defaults().stringForKey(keys::ShOutput), "");
        EXPECT_EQ(failed[0][0].toInt() > 0, c.engineFailure);
    }
}

// Runs lumaro-render with its own settings folder.
ToolRun render(const QString& home, const QStringList& arguments) {
    return runTool("lumaro-render", arguments, {"LUMARO_HOME=" + home});
}

QString sample(const char* name) { return qEnvironmentVariable("LUMARO_SAMPLES") + "/" + name; }

TEST(ShareRenderToolTest, RegistersOnceUploadsAndPrintsTheLink) {
    ShareServiceRunner service;
    QTemporaryDir home;
    const QString url = QString::fromStdString(service.url());
    const QRegularExpression link("^" + QRegularExpression::escape(url) + "/p/([A-Za-z0-9]{8})\n$");

    ToolRun first = render(home.path(), {sample("hubble_deep_field.jpg"), "--share", url, "--tone",
                                         "sepia", "--description", "Deep field"});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    const auto record =
        service.store().findPicture(link.match(first.out).captured(1).toStdString());
    ASSERT_TRUE(record) << first.out.toStdString();
    EXPECT_EQ(record->description, "Deep field");
    EXPECT_NE(record->adjustments.find("<COL>Sepia</COL>"), std::string::npos);
    EXPECT_FALSE(record->userKey.empty()) << "the tool registers before its first upload";

    ToolRun second = render(home.path(), {sample("rocket.jpg"), "--share", url, "--no-record"});
    ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();
    const auto next = service.store().findPicture(link.match(second.out).captured(1).toStdString());
    ASSERT_TRUE(next) << second.out.toStdString();
    EXPECT_EQ(next->userKey, record->userKey) << "the key is kept under LUMARO_HOME";
    EXPECT_EQ(next->adjustments, "");
}

TEST(ShareRenderToolTest, FailuresPrintOneLineAndExitWithTheirCode) {
    QTemporaryDir home;
    const QString rocket = sample("rocket.jpg");
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {{rocket, "--share", "http://127.0.0.1:1"}, 1, "registration failed: "},
        {{rocket, "--share", "ftp://x"}, 2, "--share takes an http:// address"},
        {{rocket, "--share", "http://127.0.0.1:1", "-o", "x.png"}, 2, "exclude each other"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const ToolRun run = render(home.path(), c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("lumaro-render: ")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
    }
}

}  // namespace

}  // namespace sharing::test
