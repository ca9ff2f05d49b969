#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <memory>
#include <mutex>

#include "http/Error.h"

namespace http {

class FormBodyReader;

// The pieces of a form body in order: text and byte blocks held in memory, and files named by
// path whose bytes are read from disk only while the body is sent, so a large file never sits
// in memory or in a second copy on disk. Each file's size is taken when it is appended: that
// is the length the request announces, and a file whose size differs when it is read fails
// the body rather than sending bytes that disagree with the announced length.
class FormBodyParts {
public:
    void appendBytes(const QByteArray& bytes);
    // Answers the error when path is not a file that can be read.
    ErrorPtr appendFile(const QString& path);

    quint64 length() const { return length_; }
    bool hasFiles() const;
    // The error for the first file whose size is no longer the one taken; none when all match.
    ErrorPtr checkFileSizes() const;

    // Hands every piece in order to the two receivers: bytes as they are, files by path.
    template <class BytesReceiver, class FileReceiver>
    void writeTo(BytesReceiver&& bytes, FileReceiver&& file) const {
        for (const Part& part : parts_) {
            if (part.path.isNull()) {
                bytes(part.bytes);
            } else {
                file(part.path);
            }
        }
    }

private:
    friend class FormBodyReader;
    struct Part {
        QByteArray bytes;
        QString path;  // null for bytes
        quint64 size = 0;
    };
    QList<Part> parts_;
    quint64 length_ = 0;
};

// Reads a FormBodyParts from its first byte to its last, one piece at a time; every attempt
// to send the body takes a new reader.
class FormBodyReader {
public:
    explicit FormBodyReader(std::shared_ptr<const FormBodyParts> parts);

    // Fills buffer with up to maxLength bytes: answers the count, 0 at the end, or -1 when a
    // file could not be read as it was when the body was built (see error()).
    qint64 read(char* buffer, qint64 maxLength);
    ErrorPtr error() const;

private:
    qint64 fail(ErrorPtr error);

    std::shared_ptr<const FormBodyParts> parts_;
    qsizetype index_ = 0;
    quint64 offset_ = 0;  // within the part at index_
    std::unique_ptr<QFile> file_;
    mutable std::mutex errorMutex_;
    ErrorPtr error_;
};

// The error for a file that no longer has the size it had when the body was built.
ErrorPtr fileChangedSizeError(const QString& path, quint64 expected, quint64 found);

}  // namespace http
