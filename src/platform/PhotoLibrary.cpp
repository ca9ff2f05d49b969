#include "platform/PhotoLibrary.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThreadPool>
#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Defaults.h"
#include "platform/MainThread.h"
#include "platform/PhotoMetadata.h"

namespace platform {

const QString PhotoLibrary::folderKey = QStringLiteral("LibraryFolder");

namespace {

const QStringList pictureSuffixes = {"jpg", "jpeg", "png", "bmp", "gif", "tif", "tiff", "webp"};

std::mutex& saveMutex() {
    static std::mutex mutex;
    return mutex;
}

QFileInfoList picturesIn(const QString& path) {
    QFileInfoList found;
    for (const QFileInfo& info : QDir(path).entryInfoList(QDir::Files | QDir::Readable))
        if (PhotoLibrary::isPictureFile(info.fileName())) found.append(info);
    return found;
}

}  // namespace

QString PhotoLibrary::folder() {
    const QString chosen = Defaults::standard().stringForKey(folderKey);
    if (!chosen.isEmpty()) return chosen;
    const QString fromEnvironment = qEnvironmentVariable("LUMARO_LIBRARY");
    if (!fromEnvironment.isEmpty()) return fromEnvironment;
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return pictures.isEmpty() ? QDir::homePath() + QStringLiteral("/Pictures") : pictures;
}

void PhotoLibrary::chooseFolder(const QString& path) {
    Defaults::standard().setString(QDir(path).absolutePath(), folderKey);
    Defaults::standard().synchronize();
}

QString PhotoLibrary::albumFolder() { return folder() + QStringLiteral("/Lumaro"); }

bool PhotoLibrary::isPictureFile(const QString& path) {
    return pictureSuffixes.contains(QFileInfo(path).suffix().toLower());
}

QStringList PhotoLibrary::pictures() {
    // Each file's time is read once: a folder of a thousand photos would
    // otherwise convert times some twenty thousand times while sorting.
    std::vector<std::pair<qint64, QString>> all;
    for (const QFileInfoList& found : {picturesIn(folder()), picturesIn(albumFolder())})
        for (const QFileInfo& info : found)
            all.emplace_back(info.lastModified().toMSecsSinceEpoch(), info.absoluteFilePath());
    std::stable_sort(all.begin(), all.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    QStringList paths;
    paths.reserve(static_cast<qsizetype>(all.size()));
    for (auto& [time, path] : all) paths.append(std::move(path));
    return paths;
}

QString PhotoLibrary::saveToAlbum(const QImage& image, QString* error,
                                  const PhotoMetadata* metadata) {
    if (image.isNull()) {
        *error = QStringLiteral("There is no picture to save.");
        return {};
    }
    const QDir album(albumFolder());
    if (!album.mkpath(QStringLiteral("."))) {
        *error = QStringLiteral("Cannot create the folder %1.").arg(album.path());
        return {};
    }
    // Choosing the name and renaming into it happen under one lock, so two
    // saves in the same second never pick the same name.
    std::lock_guard lock(saveMutex());
    const QString stem =
        QStringLiteral("Lumaro_") + QDateTime::currentDateTime().toString("yyyyMMdd_HHmmss");
    QString path = album.filePath(stem + QStringLiteral(".jpg"));
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = album.filePath(QStringLiteral("%1_%2.jpg").arg(stem).arg(n));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return {};
    }
    const QByteArray encoded = encodeWithMetadata(image, "jpeg", 95, metadata, error);
    if (encoded.isEmpty() || file.write(encoded) != encoded.size()) {
        if (error->isEmpty()) *error = file.errorString();
        file.cancelWriting();
        return {};
    }
    if (!file.commit()) {
        *error = file.errorString();
        return {};
    }
    return path;
}

void PhotoLibrary::writeToSavedPhotosAlbum(const QImage& image, SaveCompletion completion,
                                           std::shared_ptr<const PhotoMetadata> metadata) {
    QThreadPool::globalInstance()->start([image, completion = std::move(completion), metadata] {
        QString error;
        const QString path = saveToAlbum(image, &error, metadata.get());
        runOnMainThread([completion, path, error] { completion(path, error); });
    });
}

}  // namespace platform
