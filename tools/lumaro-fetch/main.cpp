// lumaro-fetch: the request engine from the shell, in the manner of curl.
#include <malloc.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <cstdio>

#include "Fetch.h"
#include "FetchOptions.h"
#include "TerminalLogin.h"
#include "http/HTTPRequest.h"

int main(int argc, char** argv) {
    // The socket layer takes a fresh buffer for every read and frees it straight after.
    // Left to its defaults, the allocator gives that memory back to the system each time and
    // the next read faults in new zeroed pages, which costs a fast download a third of its
    // speed. Freed memory is kept for reuse instead; the buffers are small, so this keeps
    // a few hundred KiB, not more.
    mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumaro-fetch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMARO_VERSION));

    QString problem;
    auto options = parseFetchOptions(QCoreApplication::arguments(), &problem);
    if (!options) {
        std::fprintf(stderr, "lumaro-fetch: %s\n", qPrintable(problem));
        std::fprintf(stderr, "usage: lumaro-fetch [options] URL...\n");
        return kUsageExitCode;
    }
    // The engine's diagnostic lines are for -v only; failures are reported by this tool.
    if (!options->verbose) QLoggingCategory::setFilterRules(QStringLiteral("lumaro.http*=false"));
    if (options->limitRate) http::HTTPRequest::setMaxBandwidthPerSecond(*options->limitRate);
    if (options->user && !options->password) {
        // As curl does: the password of -u USER is typed unseen.
        options->password =
            readHiddenLine(QStringLiteral("Enter host password for user '%1':").arg(*options->user))
                .value_or(QStringLiteral(""));
    }
    if (const int code = prepareSession(*options); code != 0) return code;
    int exitCode = 0;
    if (options->parallel) {
        exitCode = fetchInParallel(*options);
    } else {
        for (qsizetype i = 0; i < options->urls.size(); ++i) {
            // Only the first URL goes to the -o file; the others go to standard output.
            const int code =
                fetch(*options, options->urls[i], i == 0 && !options->output.isEmpty());
            if (code != 0) exitCode = code;
        }
    }
    const int jarCode = finishSession(*options);
    return exitCode != 0 ? exitCode : jarCode;
}
