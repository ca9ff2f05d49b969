#include "http/StagingFile.h"

#include <unistd.h>

#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace http {

namespace {

ErrorPtr systemError(QFileDevice::FileError kind, int number) {
    return Error::make(FileSystemErrorDomain, kind, QString::fromLocal8Bit(std::strerror(number)));
}

}  // namespace

StagingFile::StagingFile(QString destinationPath) : destinationPath_(std::move(destinationPath)) {}

StagingFile::~StagingFile() {
    file_.close();
    if (!committed_ && !path_.isEmpty()) ::unlink(QFile::encodeName(path_).constData());
}

ErrorPtr StagingFile::open() {
    const QFileInfo destination(destinationPath_);
    // Hidden, and named after the destination so that a leftover says whose it was.
    QByteArray name = QFile::encodeName(destination.absolutePath() + QStringLiteral("/.") +
                                        destination.fileName() + QStringLiteral(".XXXXXX"));
    // mkstemp creates the file exclusively with mode 0600.
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return systemError(QFileDevice::OpenError, errno);
    path_ = QFile::decodeName(name);
    if (!file_.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Error::make(FileSystemErrorDomain, file_.error(), file_.errorString());
    }
    return nullptr;
}

ErrorPtr StagingFile::commit() {
    file_.close();
    const QFileInfo destination(destinationPath_);
    int number = 0;
    // Only a file (or a link) is replaced: a folder, device or pipe at the destination stays.
    if (destination.exists() && !destination.isFile() && !destination.isSymLink()) {
        number = EEXIST;
    } else if (std::rename(QFile::encodeName(path_).constData(),
                           QFile::encodeName(destinationPath_).constData()) != 0) {
        number = errno;
    }
    if (number == 0) {
        committed_ = true;
        return nullptr;
    }
    return Error::http(
        FileManagementError,
        QStringLiteral("Failed to move file from '%1' to '%2'").arg(path_, destinationPath_),
        systemError(QFileDevice::RenameError, number));
}

}  // namespace http
