#include "http/CompressionFiles.h"

#include <QFile>
#include <QFileInfo>
#include <vector>

#include "http/CompressionBuffer.h"

namespace http::compression {

namespace {

ErrorPtr compressionError(const QString& description, ErrorPtr underlying = nullptr) {
    return Error::http(CompressionError, description, std::move(underlying));
}

}  // namespace

ErrorPtr cannotCreateError(const QString& verb, const QString& sourcePath,
                           const QString& destinationPath, const QFileDevice& destination) {
    return compressionError(QStringLiteral("%1 of %2 failed because we were to create a file at %3")
                                .arg(verb, sourcePath, destinationPath),
                            fileSystemError(destination));
}

bool transformFile(const QString& sourcePath, const QString& destinationPath, ErrorPtr* error,
                   const FileTransform& transform) {
    QFile destination(destinationPath);
    if (!destination.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        report(error, cannotCreateError(transform.verb, sourcePath, destinationPath, destination));
        return false;
    }
    return transformFile(sourcePath, destination, destinationPath, error, transform);
}

bool transformFile(const QString& sourcePath, QFileDevice& destination,
                   const QString& destinationName, ErrorPtr* error,
                   const FileTransform& transform) {
    const QString& verb = transform.verb;
    if (!QFileInfo::exists(sourcePath)) {
        report(
            error,
            compressionError(
                QStringLiteral("%1 of %2 failed the file does not exist").arg(verb, sourcePath)));
        return false;
    }
    QFile source(sourcePath);
    const bool sourceOpen = source.open(QIODevice::ReadOnly);

    bool writeFailed = false;
    const Sink write = [&](const char* bytes, qsizetype length) {
        writeFailed = destination.write(bytes, length) != length;
        return !writeFailed;
    };
    const auto fail = [&](ErrorPtr failure) {
        report(error, std::move(failure));
        transform.close();
        return false;
    };
    const auto writeError = [&] {
        return compressionError(QStringLiteral("%1 of %2 failed because we were unable to write "
                                               "to the destination data file at %3")
                                    .arg(verb, sourcePath, destinationName),
                                fileSystemError(destination));
    };

    std::vector<char> buffer(static_cast<size_t>(kFilePieceSize));
    bool anyRead = false;
    bool finished = false;
    for (;;) {
        const qint64 read = sourceOpen ? source.read(buffer.data(), kFilePieceSize) : -1;
        if (read < 0) {
            return fail(compressionError(QStringLiteral("%1 of %2 failed because we were unable "
                                                        "to read from the source data file")
                                             .arg(verb, sourcePath),
                                         fileSystemError(source)));
        }
        ErrorPtr pieceError;
        bool ok = true;
        if (read == 0) {
            // An empty source stays an empty file; a source that ended on a piece boundary
            // still needs its stream closed off.
            if (anyRead && !finished) ok = transform.finish(write, &pieceError);
        } else {
            anyRead = true;
            finished = read < kFilePieceSize;
            ok = transform.piece(buffer.data(), static_cast<quint32>(read), finished, write,
                                 &pieceError);
        }
        if (writeFailed) return fail(writeError());
        if (!ok) return fail(pieceError);
        if (read == 0) break;
    }
    if (anyRead && !transform.complete()) {
        return fail(compressionError(
            QStringLiteral("%1 of %2 failed because the compressed data ended early")
                .arg(verb, sourcePath)));
    }
    source.close();
    if (!destination.flush()) return fail(writeError());
    destination.close();
    if (ErrorPtr closeError = transform.close()) {
        report(error, closeError);
        return false;
    }
    return true;
}

}  // namespace http::compression
