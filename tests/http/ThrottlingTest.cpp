// Real transfers on 127.0.0.1 under the shared bandwidth limit. The limit is low and the
// bodies small: a body of one and a half budgets cannot end before the period that the
// test starts is over, so each throttled transfer takes about a second.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <atomic>
#include <chrono>

#include "RequestTestSupport.h"
#include "http/FormDataRequest.h"
#include "http/ThrottledInputStream.h"
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

struct TransferCase {
    const char* name;
    Transfer transfer;
    bool synchronous;
    quint32 limit;
};

void PrintTo(const TransferCase& c, std::ostream* os) { *os << c.name; }

class ThrottledTransfer : public Throttling, public ::testing::WithParamInterface<TransferCase> {
protected:
    HTTPRequestPtr makeRequest(Transfer transfer) {
        if (transfer == Transfer::Download) {
            return HTTPRequest::requestWithURL(server_.url(QStringLiteral("/bytes/%1").arg(kBody)));
        }
        const QUrl url = server_.url("/length");
        const QByteArray body(kBody, 'u');
        if (transfer == Transfer::UploadForm) {
            auto form = http::FormDataRequest::requestWithURL(url);
            form->addData(body, "photo.bin", "application/octet-stream", "data");
            return form;
        }
        auto request = HTTPRequest::requestWithURL(url);
        if (transfer == Transfer::UploadFromFile) {
            const QString path = home_.path() + "/body.bin";
            QFile file(path);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(body);
            file.close();
            request->setShouldStreamPostDataFromDisk(true);
            request->appendPostDataFromFile(path);
        } else {
            request->appendPostData(body);
        }
        return request;
    }
};

TEST_P(ThrottledTransfer, KeepsToTheLimitAndArrivesWhole) {
    const TransferCase& c = GetParam();
    HTTPRequestPtr request = makeRequest(c.transfer);
    limitTo(c.limit);
    const auto start = std::chrono::steady_clock::now();
    QElapsedTimer clock;
    clock.start();
    if (c.synchronous) {
        request->startSynchronous();
    } else {
        request->startAsynchronous();
        ASSERT_TRUE(waitUntil([&] { return request->isFinished(); }, 10000));
    }
    const double seconds = clock.elapsed() / 1000.0;

    ASSERT_EQ(request->error(), nullptr) << request->error()->localizedDescription.toStdString();
    EXPECT_EQ(request->responseStatusCode(), 200);
    if (c.transfer == Transfer::Download) {
        EXPECT_EQ(request->responseData(), QByteArray(kBody, 'b'));
    } else {
        EXPECT_EQ(request->responseString().value_or(QString()), QString::number(kBody));
    }
    // An upload is held on the wire, not only in what the caller is told: the server has
    // the whole body only once the period is over.
    const double arrival = c.transfer == Transfer::Download
                               ? seconds
                               : std::chrono::duration<double>(bodyArrived_.load() - start).count();
    if (c.limit == 0) {
        EXPECT_LT(seconds, 0.5);
    } else {
        // One budget goes at once, the rest only once the period is over.
        EXPECT_GT(arrival, 0.9);
        EXPECT_LT(seconds, 3.0);
    }
    // The body's bytes were counted: the period they ended in is not idle.
    HTTPRequest::recordBandwidthUsage();
    EXPECT_GT(HTTPRequest::averageBandwidthUsedPerSecond(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ThrottledTransfer,
    ::testing::Values(
        TransferCase{"Download", Transfer::Download, false, kLimit},
        TransferCase{"DownloadWithoutLimit", Transfer::Download, false, 0},
        TransferCase{"UploadFromMemory", Transfer::UploadFromMemory, true, kLimit},
        TransferCase{"UploadFromMemoryWithoutLimit", Transfer::UploadFromMemory, true, 0},
        TransferCase{"UploadFromFile", Transfer::UploadFromFile, false, kLimit},
        TransferCase{"UploadFromFileWithoutLimit", Transfer::UploadFromFile, false, 0},
        TransferCase{"UploadForm", Transfer::UploadForm, true, kLimit},
        TransferCase{"UploadFormWithoutLimit", Transfer::UploadForm, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

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

TEST_F(Throttling, UploadReadsAreCappedByTheBudgetAndCounted) {
    limitTo(14800);
    // An idle period: the history starts afresh from the single count 0.
    HTTPRequest::recordBandwidthUsage();
    auto request = HTTPRequest::requestWithURL(server_.url("/length"));
    auto stream = http::ThrottledInputStream::inputStreamWithData(QByteArray(20000, 'x'), request);
    std::vector<char> buffer(65536);
    // A quarter of the limit at a time while the period has budget left.
    for (qint64 expected : {3700, 3700, 3700, 3700}) {
        EXPECT_EQ(stream->read(buffer.data(), 65536), expected);
    }
    // Spent: one byte at a time, each counted.
    EXPECT_EQ(stream->read(buffer.data(), 65536), 1);
    EXPECT_EQ(stream->read(buffer.data(), 65536), 1);
    HTTPRequest::recordBandwidthUsage();
    EXPECT_EQ(HTTPRequest::averageBandwidthUsedPerSecond(), (0u + 14802u) / 2);
    // A smaller read than the cap stays as it is.
    EXPECT_EQ(stream->read(buffer.data(), 100), 100);
    HTTPRequest::recordBandwidthUsage();
    EXPECT_EQ(HTTPRequest::averageBandwidthUsedPerSecond(), (0u + 14802u + 100u) / 3);

    // Without a limit the wrapped body answers as it would alone, and is still counted.
    HTTPRequest::setMaxBandwidthPerSecond(0);
    HTTPRequest::recordBandwidthUsage();
    constexpr qint64 kRest = 20000 - 14802 - 100;
    EXPECT_EQ(stream->read(buffer.data(), 65536), kRest);
    EXPECT_EQ(stream->read(buffer.data(), 65536), 0);
    HTTPRequest::recordBandwidthUsage();
    EXPECT_EQ(HTTPRequest::averageBandwidthUsedPerSecond(), quint32(kRest) / 2);
}

TEST_F(Throttling, AFileThatCannotBeReadGivesNoStream) {
    auto request = HTTPRequest::requestWithURL(server_.url("/length"));
    EXPECT_EQ(
        http::ThrottledInputStream::inputStreamWithFileAtPath(home_.path() + "/missing", request),
        nullptr);
}

}  // namespace
