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

bool transformFile(const QString& sourcePath, const QString& destinationPath, ErrorPtr* error,
                   const FileTransform& transform) {
    const QString& verb = transform.verb;
    QFile destination(destinationPath);
    if (!destination.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        report(error, compressionError(
                          QStringLiteral("%1 of %2 failed because we were to create a file at %3")
                              .arg(verb, sourcePath, destinationPath)));
        return false;
    }
    if (!QFileInfo::exists(sourcePath)) {
        report(
            error,
            compressionError(
                QStringLiteral("%1 of %2 failed the file does not exist").arg(verb, sourcePath)));
        return false;
    }
    QFile source(sourcePath);
    const bool sourceOpen = source.open(QIODevice::ReadOnly);

    std::vector<char> buffer(static_cast<size_t>(kFilePieceSize));
    bool anyRead = false;
    bool finished = false;
    for (;;) {
        const qint64 read = sourceOpen ? source.read(buffer.data(), kFilePieceSize) : -1;
        if (read < 0) {
            report(error,
                   compressionError(QStringLiteral("%1 of %2 failed because we were unable to "
                                                   "read from the source data file")
                                        .arg(verb, sourcePath),
                                    fileSystemError(source)));
            transform.close();
            return false;
        }
        QByteArray output;
        if (read == 0) {
            // An empty source stays an empty file; a source that ended on a piece boundary
            // still needs its stream closed off.
            if (anyRead && !finished) {
                ErrorPtr finishError;
                output = transform.finish(&finishError);
                if (finishError) {
                    report(error, finishError);
                    transform.close();
                    return false;
                }
            }
        } else {
            ErrorPtr pieceError;
            anyRead = true;
            finished = read < kFilePieceSize;
            output =
                transform.piece(buffer.data(), static_cast<quint32>(read), finished, &pieceError);
            if (pieceError) {
                report(error, pieceError);
                transform.close();
                return false;
            }
        }
        if (!output.isEmpty() && destination.write(output) != output.size()) {
            report(error, compressionError(
                              QStringLiteral("%1 of %2 failed because we were unable to write "
                                             "to the destination data file at %3")
                                  .arg(verb, sourcePath, destinationPath),
                              fileSystemError(destination)));
            transform.close();
            return false;
        }
        if (read == 0) break;
    }
    source.close();
    destination.close();
    if (ErrorPtr closeError = transform.close()) {
        report(error, closeError);
        return false;
    }
    return true;
}

}  // namespace http::compression
