#include "http/TemporaryPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace http {
namespace {

QString uniqueName() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

bool createPrivately(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

// The process's file creation mask, read without changing it (setting it to
// read it would race with files other threads create meanwhile).
QFileDevice::Permissions newFilePermissions() {
    unsigned mask = 022;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly | QIODevice::Text)) {
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
            if (!line.startsWith("Umask:")) continue;
            bool ok = false;
            const unsigned read = line.mid(6).trimmed().toUInt(&ok, 8);
            if (ok) mask = read;
            break;
        }
    }
    const unsigned mode = 0666u & ~mask;
    QFileDevice::Permissions permissions;
    if (mode & 0400) permissions |= QFileDevice::ReadOwner | QFileDevice::ReadUser;
    if (mode & 0200) permissions |= QFileDevice::WriteOwner | QFileDevice::WriteUser;
    if (mode & 0040) permissions |= QFileDevice::ReadGroup;
    if (mode & 0020) permissions |= QFileDevice::WriteGroup;
    if (mode & 0004) permissions |= QFileDevice::ReadOther;
    if (mode & 0002) permissions |= QFileDevice::WriteOther;
    return permissions;
}

}  // namespace

QString newTemporaryPath(const QString& nextTo) {
    if (!nextTo.isEmpty()) {
        const QFileInfo destination(nextTo);
        const QString path = destination.absolutePath() + QStringLiteral("/.") +
                             destination.fileName() + QLatin1Char('.') + uniqueName();
        if (createPrivately(path)) return path;
    }
    const QString path = QDir::tempPath() + QLatin1Char('/') + uniqueName();
    createPrivately(path);
    return path;
}

void giveFinishedDownloadPermissions(const QString& staged, const QString& destination) {
    const QFileInfo replaced(destination);
    QFile::setPermissions(staged,
                          replaced.isFile() ? replaced.permissions() : newFilePermissions());
}

}  // namespace http
