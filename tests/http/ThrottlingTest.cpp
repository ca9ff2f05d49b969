// Real transfers on 127.0.0.1 under the shared bandwidth limit. The limit is low and the
// bodies small: a body of one and a half budgets cannot end before the period that the
// test starts is over, so each throttled transfer takes about a second.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <atomic>
#include <chrono>

#include "RequestTestSupport.h"
#include "http/FormDataRequest.h"
#include "servers/InProcessHttpServer.h"
#include "servers/ScriptedServer.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;
using namespace testsupport;

constexpr quint32 kLimit = 32768;
constexpr int kBody = kLimit * 3 / 2;

class Throttling : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        server_.server().Get(R"(/bytes/(\d+))",
                             [](const httplib::Request& req, httplib::Response& res) {
                                 res.set_content(std::string(std::stoul(req.matches[1]), 'b'),
                                                 "application/octet-stream");
                             });
        server_.server().Post(
            "/length", [this](const httplib::Request& req, httplib::Response& res) {
                bodyArrived_ = std::chrono::steady_clock::now();
                const std::size_t size = req.is_multipart_form_data()
                                             ? req.get_file_value("data").content.size()
                                             : req.body.size();
                res.set_content(std::to_string(size), "text/plain");
            });
        server_.start();
    }
    void TearDown() override { HTTPRequest::setMaxBandwidthPerSecond(0); }

    // Starts a limit with a fresh period, so that only the test's own bytes count in it.
    static void limitTo(quint32 limit) {
        HTTPRequest::setMaxBandwidthPerSecond(limit);
        HTTPRequest::recordBandwidthUsage();
    }

    TempHome home_;
    InProcessHttpServer server_;
    // When the server had the whole of the last request body.
    std::atomic<std::chrono::steady_clock::time_point> bodyArrived_;
};

enum class Transfer { Download, UploadFromMemory, UploadFromFile, UploadForm };
const char* const kTransferNames[] = {"Download", "UploadFromMemory", "UploadFromFile",
                                      "UploadForm"};

class ThrottledTransfer : public Throttling,
                          public ::testing::WithParamInterface<std::tuple<Transfer, quint32>> {
protected:
    HTTPRequestPtr makeRequest(Transfer transfer) {
        if (transfer == Transfer::Download) {
            return HTTPRequest::requestWithURL(server_.url(QStringLiteral("/bytes/%1").arg(kBody)));
        }
        const QByteArray body(kBody, 'u');
        if (transfer == Transfer::UploadForm) {
            auto form = http::FormDataRequest::requestWithURL(server_.url("/length"));
            form->addData(body, "photo.bin", "application/octet-stream", "data");
            return form;
        }
        auto request = HTTPRequest::requestWithURL(server_.url("/length"));
        request->setShouldStreamPostDataFromDisk(transfer == Transfer::UploadFromFile);
        request->appendPostData(body);
        return request;
    }
};

TEST_P(ThrottledTransfer, KeepsToTheLimitAndArrivesWhole) {
    const auto [transfer, limit] = GetParam();
    HTTPRequestPtr request = makeRequest(transfer);
    limitTo(limit);
    const auto start = std::chrono::steady_clock::now();
    // Both ways of running a request drive the same stream; half the cases take each.
    if (transfer == Transfer::UploadFromMemory || transfer == Transfer::UploadForm) {
        request->startSynchronous();
    } else {
        request->startAsynchronous();
        ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }, 10000));
    }
    const auto since = [&](auto t) { return std::chrono::duration<double>(t - start).count(); };
    const double seconds = since(std::chrono::steady_clock::now());

    ASSERT_EQ(request->error(), nullptr) << request->error()->localizedDescription.toStdString();
    if (transfer == Transfer::Download) {
        EXPECT_EQ(request->responseData(), QByteArray(kBody, 'b'));
    } else {
        EXPECT_EQ(request->responseString().value_or(QString()), QString::number(kBody));
    }
    // An upload is held on the wire, not only in what the caller is told: the server has
    // the whole body only once the period is over.
    const double arrival = transfer == Transfer::Download ? seconds : since(bodyArrived_.load());
    if (limit == 0) {
        EXPECT_LT(seconds, 0.5);
    } else {
        // One budget goes at once, the rest only once the period is over.
        EXPECT_GT(arrival, 0.9);
        EXPECT_LT(seconds, 3.0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ThrottledTransfer,
    ::testing::Combine(::testing::Values(Transfer::Download, Transfer::UploadFromMemory,
                                         Transfer::UploadFromFile, Transfer::UploadForm),
                       ::testing::Values(kLimit, 0u)),
    [](const auto& info) {
        return std::string(kTransferNames[int(std::get<0>(info.param))]) +
               (std::get<1>(info.param) == 0 ? "WithoutLimit" : "");
    });

TEST_F(Throttling, TwoTransfersShareOneLimit) {
    // Each body fits in one period's budget on its own; the two together do not.
    constexpr int kEach = kLimit * 3 / 4;
    const QUrl url = server_.url(QStringLiteral("/bytes/%1").arg(kEach));
    HTTPRequestPtr first = HTTPRequest::requestWithURL(url);
    HTTPRequestPtr second = HTTPRequest::requestWithURL(url);
    limitTo(kLimit);
    QElapsedTimer clock;
    clock.start();
    first->startAsynchronous();
    second->startAsynchronous();
    ASSERT_TRUE(waitUntil([&] { return first->isFinished() && second->isFinished(); }, 10000));
    const double seconds = clock.elapsed() / 1000.0;
    for (const HTTPRequestPtr& request : {first, second}) {
        EXPECT_EQ(request->error(), nullptr);
        EXPECT_EQ(request->responseData().size(), kEach);
    }
    EXPECT_GT(seconds, 0.9);
    EXPECT_LT(seconds, 3.0);
}

TEST_F(Throttling, TheFirstReadAfterAQuietSpellCountsInTheNewPeriod) {
    // The period that the limit starts with passes unmeasured. The answer comes in one
    // piece, so its first read comes before anything else measures; that read falls in
    // the next period and must count there, or the transfer has more than one budget
    // before that period ends.
    constexpr int kSize = kLimit * 6 / 5;
    lumaro::test::ScriptedServer server([](lumaro::test::ScriptedConnection& c) {
        if (!c.readRequest()) return;
        c.send("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + std::to_string(kSize) +
               "\r\n\r\n" + std::string(kSize, 'q'));
    });
    HTTPRequestPtr request =
        HTTPRequest::requestWithURL(QUrl(QString::fromStdString(server.url())));
    limitTo(kLimit);
    QThread::msleep(1100);
    QElapsedTimer clock;
    clock.start();
    request->startSynchronous();
    EXPECT_EQ(request->responseData().size(), kSize);
    EXPECT_GT(clock.elapsed(), 900);
}

}  // namespace
