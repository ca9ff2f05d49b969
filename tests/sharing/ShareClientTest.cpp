#include <gtest/gtest.h>

#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <array>
#include <memory>
#include <optional>
#include <tuple>

#include "SharingGui.h"
#include "http/FormDataRequest.h"
#include "imaging/Renderer.h"
#include "servers/InProcessHttpServer.h"
#include "share_service/ShareServiceRunner.h"
#include "sharing/AdjustmentRecord.h"
#include "sharing/ShareClient.h"
#include "support/Tool.h"

namespace sharing::test {
namespace {

using share::test::ShareServiceRunner;
const imaging::SliderValues kSliders{2.5f, -1.0f, 0, 0, 0, 0, 0, 0};

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
    auto client = clientFor(QString::fromStdString(service.url()));
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

// Sent reduced to 800 on the longer upright side, truncated; or, when the service cannot be
// reached, reported as an engine failure (already registered, so that only the upload goes out).
TEST(ShareClientTest, UploadsAreReducedOrReportedAsEngineFailures) {
    ShareServiceRunner service;
    const QString ours = QString::fromStdString(service.url());
    using O = imaging::Orientation;
    struct Case {
        QString url, probe;
        QSize grid;
        O orientation;
        QSize sent;
        const char* reason = nullptr;  // how the reason starts
    };
    const QSize grid(300, 200);
    // clang-format off
    const Case cases[] = {
        {ours, "localhost", {1000, 500}, O::Up, {800, 400}},
        {ours, "localhost", {600, 900}, O::Up, {533, 800}},
        {ours, "localhost", {801, 3}, O::Up, {800, 2}},
        {ours, "localhost", {20000, 10}, O::Up, {800, 1}},
        {ours, "localhost", {900, 600}, O::Right, {533, 800}},
        {"http://127.0.0.1:1", "localhost", grid, O::Up, {}, ""},
        {ours, "nonexistent.invalid", grid, O::Up, {}, "the sharing service at nonexistent.invalid cannot be reached"},
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
        const auto png = service.store().pictureData(
            defaults().stringForKey(keys::ShOutput).section('/', -1).toStdString());
        ASSERT_EQ(failed.count(), c.reason ? 1 : 0) << error.toStdString();
        if (!c.reason) {
            ASSERT_TRUE(png);
            EXPECT_EQ(QImage::fromData(QByteArray::fromStdString(*png), "PNG").size(), c.sent);
            continue;
        }
        EXPECT_FALSE(error.isEmpty());
        EXPECT_TRUE(error.startsWith(c.reason)) << error.toStdString();
        EXPECT_EQ(defaults().stringForKey(keys::ShOutput), "");
        EXPECT_GT(failed[0][0].toInt(), 0) << "an engine failure, not a refusal";
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

// Only a proper key registers: anything else the service answers is a failed registration.
TEST(ShareRenderToolTest, FailuresPrintOneLineAndExitWithTheirCode) {
    QTemporaryDir home;
    const QString rocket = sample("rocket.jpg");
    ScriptedService refusing(500, "k3y-42"), empty(200, ""), control(200, "ab\x01"),
        key(200, "k3y-42\r\n");
    const QString noLink = "the sharing service answered without a link";
    struct Case {
        QStringList arguments;
        int exitCode;
        QString message;
    };
    const Case cases[] = {
        {{rocket, "--share", "http://127.0.0.1:1"}, 1, "registration failed: "},
        {{rocket, "--share", "ftp://x"}, 2, "--share takes an http:// address"},
        {{rocket, "--share", "http://127.0.0.1:1", "-o", "x.png"}, 2, "exclude each other"},
        {{rocket, "--share", refusing.url()},
         1,
         "registration failed: the sharing service answered 500: k3y-42"},
        {{rocket, "--share", empty.url()}, 1, "registration failed: " + noLink},
        {{rocket, "--share", control.url()}, 1, "registration failed: " + noLink},
        {{rocket, "--share", key.url()},
         1,
         "upload failed: " + noLink},  // registered, then refused
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        const ToolRun run = render(home.path(), c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("lumaro-render: ")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
    }
}

// The state after start, with the filter and, when given, the nine integer settings.
imaging::AdjustmentState stateWith(int filter, std::optional<std::array<int, 9>> v = {}) {
    imaging::AdjustmentState s;
    imaging::resetState(s);
    s.filterType = filter;
    if (v) {
        std::tie(s.exposureValue, s.alphaValue, s.noiseValue, s.quantValue, s.inverseValue,
                 s.vigRadius, s.tintR, s.tintG, s.tintB) = std::tuple_cat(*v);
    }
    return s;
}

TEST(AdjustmentRecordTest, WritesAllNineteenElementsInOrderByteForByte) {
    struct Case {
        imaging::SliderValues sliders;
        imaging::AdjustmentState state;
        int tone;
        const char* record;
    };
    const Case cases[] = {
        {{12.5f, 0, 0, 0, 0, 0, 0, 0},
         stateWith(0),
         0,
         "<LSI>12.5</LSI><DSI>0</DSI><FIL></FIL><TRL>0</TRL><TGL>0</TGL><TBL>0</TBL>"
         "<TRS>0</TRS><TGS>0</TGS><TBS>0</TBS><EXP>100</EXP><MAL>100</MAL><NOI>0</NOI>"
         "<QUA>1</QUA><INV>0</INV><VIG>20</VIG><COL>B&W</COL><COR>255</COR><COG>255</COG>"
         "<COB>255</COB>"},
        {{-7.25f, 12345678.0f, 1.0f / 3.0f, 2.0f, -0.5f, 9.999999f, 0.1f, 1234567.0f},
         stateWith(5, {{-3, 40, 7, 12, 1, 150, 10, 0, -1}}),
         3,
         "<LSI>-7.25</LSI><DSI>1.234568e+07</DSI><FIL>Magenta</FIL><TRL>0.3333333</TRL>"
         "<TGL>2</TGL><TBL>-0.5</TBL><TRS>9.999999</TRS><TGS>0.1</TGS><TBS>1234567</TBS>"
         "<EXP>-3</EXP><MAL>40</MAL><NOI>7</NOI><QUA>12</QUA><INV>1</INV><VIG>150</VIG>"
         "<COL>Custom</COL><COR>10</COR><COG>0</COG><COB>-1</COB>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        EXPECT_EQ(adjustmentRecord(c.sliders, c.state, c.tone), c.record);
    }

    const char* filters[] = {"", "Red", "Green", "Blue", "Cyan", "Magenta", "Yellow", ""};
    const char* tones[] = {"B&W", "Sepia", "Antique", "Custom", "", "", "", ""};
    for (int code = -1; code < 8; ++code) {
        SCOPED_TRACE(code);
        const QString record = adjustmentRecord({}, stateWith(code), code);
        EXPECT_TRUE(record.contains(QString("<FIL>%1</FIL>").arg(code < 0 ? "" : filters[code])));
        EXPECT_TRUE(record.contains(QString("<COL>%1</COL>").arg(code < 0 ? "" : tones[code])));
    }
}

}  // namespace

}  // namespace sharing::test
