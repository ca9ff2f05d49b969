#include "FetchCache.h"

#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <memory>

#include "Fetch.h"
#include "http/DownloadCache.h"
#include "http/FileCopy.h"
#include "http/TemporaryPath.h"

namespace {

// Standard output or a device such as /dev/null: written as a stream, never renamed onto.
bool outputIsStream(const FetchOptions& options, bool toFile) {
    return !toFile || (QFileInfo::exists(options.output) && !QFileInfo(options.output).isFile());
}

int writeFailure(const QString& message) {
    std::fprintf(stderr, "lumaro-fetch: %s\n", qPrintable(message));
    return http::FileManagementError;
}

}  // namespace

int configureCache(http::HTTPRequest& request, const FetchOptions& options) {
    const FetchCacheOptions& settings = options.cache;
    if (settings.directory.isEmpty()) return 0;
    // One cache for the whole run: opening it empties its session store.
    static std::shared_ptr<http::DownloadCache> cache;
    if (!cache) {
        auto opened = std::make_shared<http::DownloadCache>();
        try {
            opened->setStoragePath(settings.directory);
        } catch (const http::CacheException& problem) {
            std::fprintf(stderr, "lumaro-fetch: %s\n", qPrintable(problem.reason()));
            return kCacheExitCode;
        }
        cache = opened;
    }
    request.setDownloadCache(cache);
    request.setCachePolicy(settings.policy);
    request.setCacheStoragePolicy(settings.permanent
                                      ? http::CacheStoragePolicy::Permanently
                                      : http::CacheStoragePolicy::ForSessionDuration);
    request.setSecondsToCache(settings.seconds);
    return 0;
}

int directCachedOutput(http::HTTPRequest& request, const FetchOptions& options, bool toFile,
                       QString* spool) {
    if (outputIsStream(options, toFile)) {
        *spool = http::newTemporaryPath();
        request.setDownloadDestinationPath(*spool);
    } else {
        request.setDownloadDestinationPath(options.output);
    }
    return 0;
}

int finishCachedOutput(http::HTTPRequest& request, const FetchOptions& options, bool toFile,
                       const QString& spool) {
    // The body is wherever the request says it is now: the cache's own file for a cached
    // answer, else the file it was downloaded to.
    const QString body = request.downloadDestinationPath();
    int code = 0;
    if (!request.error() && request.didUseCachedResponse() && (options.include || options.head)) {
        writeOut(stdout, headBlock(request, QString()) + "\r\n");
    }
    if (request.error() || !QFileInfo(body).isFile()) {
        // Nothing arrived (a failure, or a cache-only request with nothing stored).
    } else if (outputIsStream(options, toFile)) {
        std::fflush(stdout);
        QFile source(body);
        QFile target;
        const bool opened =
            source.open(QIODevice::ReadOnly | QIODevice::Unbuffered) &&
            (toFile ? (target.setFileName(options.output),
                       target.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
                    : target.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered));
        if (!opened || !http::copyFileContents(source, target)) {
            code = writeFailure(QStringLiteral("cannot write the body to %1")
                                    .arg(toFile ? options.output : QStringLiteral("stdout")));
        }
    } else {
        code = placeCachedDownload(request, options);
    }
    if (!spool.isEmpty()) QFile::remove(spool);
    return code;
}

int placeCachedDownload(const http::HTTPRequest& request, const FetchOptions& options) {
    const QString body = request.downloadDestinationPath();
    if (!request.didUseCachedResponse() || options.output.isEmpty() || body.isEmpty() ||
        body == options.output || !QFileInfo(body).isFile()) {
        return 0;
    }
    if (http::ErrorPtr error = http::copyFileStaged(body, options.output, true)) {
        return writeFailure(error->localizedDescription);
    }
    return 0;
}
