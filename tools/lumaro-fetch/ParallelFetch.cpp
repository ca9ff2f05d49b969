// -Z: every URL on one request queue, bodies printed as the transfers finish.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <map>

#include "Fetch.h"
#include "FetchCache.h"
#include "ProgressBar.h"
#include "http/NetworkQueue.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;

// Prints each transfer as it ends and keeps the exit code of the first failure.
class ParallelRun : public http::NetworkQueueDelegate {
public:
    explicit ParallelRun(const FetchOptions& options) : options_(options) { clock_.start(); }

    void requestStarted(const HTTPRequestPtr& request) override {
        started_[request.get()] = clock_.nsecsElapsed();
    }
    void requestFinished(const HTTPRequestPtr& request) override { report(*request); }
    void requestFailed(const HTTPRequestPtr& request) override { report(*request); }
    void queueFinished(http::NetworkQueue&) override { done = true; }

    bool done = false;
    int exitCode = 0;

private:
    void report(const HTTPRequest& request) {
        if (options_.verbose && request.responseStatusCode() != 0) {
            writeOut(stderr, requestBlock(request));
            writeOut(stderr, headBlock(request, QStringLiteral("< ")));
        }
        if (request.responseStatusCode() != 0 && (options_.include || options_.head)) {
            writeOut(stdout, headBlock(request, QString()) + "\r\n");
        }
        if (request.downloadDestinationPath().isEmpty()) writeOut(stdout, request.responseData());
        if (const int code = placeCachedDownload(request, options_); code != 0) exitCode = code;
        std::fflush(stdout);
        const auto start = started_.find(&request);
        const qint64 startedAt = start == started_.end() ? clock_.nsecsElapsed() : start->second;
        const double seconds = static_cast<double>(clock_.nsecsElapsed() - startedAt) / 1e9;
        // Transfers cancelled because another failed say nothing of their own.
        const bool cancelledByOther = exitCode != 0 && request.error() &&
                                      request.error()->code == http::RequestCancelledErrorType;
        // Connections are shared between transfers running at once; a transfer counts the
        // one it opened, if it did.
        const quint64 connections = request.connectionWasReused() ? 0 : 1;
        const int code = reportTransfer(request, options_, seconds, connections, cancelledByOther);
        if (exitCode == 0) exitCode = code;
    }

    const FetchOptions& options_;
    QElapsedTimer clock_;
    std::map<const HTTPRequest*, qint64> started_;
};

}  // namespace

int fetchInParallel(const FetchOptions& options) {
    auto run = std::make_shared<ParallelRun>(options);
    http::NetworkQueue queue;
    queue.setMaxConcurrentOperationCount(options.parallelMax);
    queue.setShowAccurateProgress(true);
    queue.setDelegate(run);
    queue.setRequestDidStartSelector(&http::HTTPRequestDelegate::requestStarted);
    queue.setRequestDidFinishSelector(&http::HTTPRequestDelegate::requestFinished);
    queue.setRequestDidFailSelector(&http::HTTPRequestDelegate::requestFailed);
    queue.setQueueDidFinishSelector(&http::NetworkQueueDelegate::queueFinished);
    std::optional<ProgressBar> progressBar;
    if (options.progress) {
        progressBar.emplace();
        progressBar->takeFiguresFrom(
            [&queue] { return std::pair(queue.bytesUploadedSoFar(), queue.totalBytesToUpload()); },
            [&queue] {
                return std::pair(queue.bytesDownloadedSoFar(), queue.totalBytesToDownload());
            });
        queue.setUploadProgressDelegate(progressBar->uploadReceiver());
        queue.setDownloadProgressDelegate(progressBar->downloadReceiver());
    }

    // The queue runs before the requests are added, so none of them waits for a HEAD request
    // of its own: against a slow server that would double the time, and every transfer
    // announces its size as its answer begins anyway.
    queue.go();
    std::optional<QFile> stream;
    for (qsizetype i = 0; i < options.urls.size(); ++i) {
        HTTPRequestPtr request = makeRequest(options, options.urls[i]);
        if (const int code = configureRequest(*request, options); code != 0) return code;
        // Only the first URL goes to the -o file; the others are printed when they end.
        const bool toFile = i == 0 && !options.output.isEmpty();
        if (const int code = directOutput(*request, options, toFile, stream, false); code != 0) {
            return code;
        }
        queue.addOperation(request);
    }
    while (!run->done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (progressBar) progressBar->finish();
    return run->exitCode;
}
