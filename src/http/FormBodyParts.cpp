#include "http/FormBodyParts.h"

#include <QFileInfo>
#include <algorithm>

namespace http {

namespace {

// The most read from a file at once; the stream asks for less and gets it straight into its
// own buffer.
constexpr qint64 kFilePieceSize = 262144;

ErrorPtr missingFileError(const QString& path) {
    return Error::http(InternalErrorWhileBuildingRequestType,
                       QStringLiteral("No file exists at %1").arg(path));
}

ErrorPtr unreadableFileError(const QString& path, const QFile& file) {
    return Error::http(FileManagementError,
                       QStringLiteral("Failed to read file at path '%1'").arg(path),
                       fileSystemError(file));
}

}  // namespace

ErrorPtr fileChangedSizeError(const QString& path, quint64 expected, quint64 found) {
    return Error::http(
        FileManagementError,
        QStringLiteral("The file at path '%1' changed size after the request body was built "
                       "(%2 bytes then, %3 bytes now)")
            .arg(path)
            .arg(expected)
            .arg(found));
}

void FormBodyParts::appendBytes(const QByteArray& bytes) {
    if (bytes.isEmpty()) return;
    if (parts_.isEmpty() || !parts_.last().path.isNull()) parts_.append(Part{});
    parts_.last().bytes.append(bytes);
    parts_.last().size += static_cast<quint64>(bytes.size());
    length_ += static_cast<quint64>(bytes.size());
}

ErrorPtr FormBodyParts::appendFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) return missingFileError(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return unreadableFileError(path, file);
    const auto size = static_cast<quint64>(file.size());
    parts_.append(Part{QByteArray(), path, size});
    length_ += size;
    return nullptr;
}

bool FormBodyParts::hasFiles() const {
    return std::any_of(parts_.begin(), parts_.end(),
                       [](const Part& part) { return !part.path.isNull(); });
}

ErrorPtr FormBodyParts::checkFileSizes() const {
    for (const Part& part : parts_) {
        if (part.path.isNull()) continue;
        const QFileInfo info(part.path);
        if (!info.exists() || info.isDir()) return missingFileError(part.path);
        const auto size = static_cast<quint64>(info.size());
        if (size != part.size) return fileChangedSizeError(part.path, part.size, size);
    }
    return nullptr;
}

FormBodyReader::FormBodyReader(std::shared_ptr<const FormBodyParts> parts)
    : parts_(std::move(parts)) {}

qint64 FormBodyReader::read(char* buffer, qint64 maxLength) {
    const auto& list = parts_->parts_;
    while (index_ < list.size() && offset_ == list[index_].size) {
        const FormBodyParts::Part& done = list[index_];
        if (file_) {
            // A file that grew would send less than it now holds: the announced length is
            // still right, the contents are not.
            const auto size = static_cast<quint64>(file_->size());
            file_.reset();
            if (size != done.size) return fail(fileChangedSizeError(done.path, done.size, size));
        }
        ++index_;
        offset_ = 0;
    }
    if (index_ == list.size() || maxLength <= 0) return 0;

    const FormBodyParts::Part& part = list[index_];
    const qint64 want =
        static_cast<qint64>(std::min<quint64>({static_cast<quint64>(maxLength), part.size - offset_,
                                               static_cast<quint64>(kFilePieceSize)}));
    if (part.path.isNull()) {
        std::copy_n(part.bytes.constData() + offset_, want, buffer);
        offset_ += static_cast<quint64>(want);
        return want;
    }
    if (!file_) {
        file_ = std::make_unique<QFile>(part.path);
        if (!file_->open(QIODevice::ReadOnly)) {
            return fail(unreadableFileError(part.path, *file_));
        }
        const auto size = static_cast<quint64>(file_->size());
        if (size != part.size) return fail(fileChangedSizeError(part.path, part.size, size));
    }
    const qint64 got = file_->read(buffer, want);
    if (got <= 0) {
        // The file ended (or failed) before the length taken when the body was built.
        const auto size = static_cast<quint64>(file_->size());
        return fail(got < 0 ? unreadableFileError(part.path, *file_)
                            : fileChangedSizeError(part.path, part.size, size));
    }
    offset_ += static_cast<quint64>(got);
    return got;
}

ErrorPtr FormBodyReader::error() const {
    std::lock_guard lock(errorMutex_);
    return error_;
}

qint64 FormBodyReader::fail(ErrorPtr error) {
    file_.reset();
    std::lock_guard lock(errorMutex_);
    error_ = std::move(error);
    return -1;
}

}  // namespace http
