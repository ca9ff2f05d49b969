#include "http/FileCopy.h"

#include <sys/sendfile.h>
#include <unistd.h>

#include <cerrno>

#include "http/StagingFile.h"
#include "http/TemporaryPath.h"

namespace http {

namespace {

// Large enough that a 100 MiB file takes a handful of system calls.
constexpr size_t kChunk = 16 * 1024 * 1024;

bool copyByReading(int in, int out) {
    QByteArray buffer(1024 * 1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), static_cast<size_t>(buffer.size()));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.constData() + done, size_t(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            done += put;
        }
    }
}

}  // namespace

bool copyFileContents(QFile& source, QFile& destination) {
    if (!source.flush() || !destination.flush()) return false;
    const int in = source.handle();
    const int out = destination.handle();
    if (in < 0 || out < 0) return false;
    // copy_file_range shares or moves the bytes inside the kernel; sendfile does so between
    // file systems and to pipes. Either may be refused (old kernels, special files), and
    // then the bytes are copied through a buffer from where the fast way stopped.
    for (;;) {
        const ssize_t moved = ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
        if (moved > 0) continue;
        if (moved == 0) return true;
        if (errno == EINTR) continue;
        break;
    }
    for (;;) {
        const ssize_t moved = ::sendfile(out, in, nullptr, kChunk);
        if (moved > 0) continue;
        if (moved == 0) return true;
        if (errno == EINTR) continue;
        break;
    }
    return copyByReading(in, out);
}

ErrorPtr copyFileStaged(const QString& from, const QString& to, bool asDownload) {
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        return Error::http(FileManagementError,
                           QStringLiteral("Failed to read file at path '%1'").arg(from),
                           fileSystemError(source));
    }
    StagingFile staged(to);
    if (ErrorPtr error = staged.open()) return error;
    if (!copyFileContents(source, staged.file())) {
        return Error::http(FileManagementError,
                           QStringLiteral("Failed to copy file from '%1' to '%2'").arg(from, to));
    }
    if (asDownload) giveFinishedDownloadPermissions(staged.path(), to);
    return staged.commit();
}

}  // namespace http
