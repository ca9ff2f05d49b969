#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace platform {

class PhotoMetadata;

// The user's photo library: a folder of pictures. It is the folder the user
// last chose in the picker, else $LUMARO_LIBRARY, else the XDG Pictures folder.
// Saved pictures go to its album, the subfolder "Lumaro".
class PhotoLibrary {
public:
    // Defaults key under which the chosen folder is remembered.
    static const QString folderKey;

    static QString folder();
    static void chooseFolder(const QString& path);
    static QString albumFolder();

    // Picture files of the library and its album, newest first.
    static QStringList pictures();
    static bool isPictureFile(const QString& path);

    // Writes the image as a JPEG of quality 95 into the album under a fresh
    // name. The bytes go to a temporary file that is renamed when complete, so
    // an interrupted save never leaves half a picture. Returns the new file's
    // path, or an empty string with the reason in *error. The photo's metadata,
    // when given, goes into the file fitted to the new pixels.
    static QString saveToAlbum(const QImage& image, QString* error,
                               const PhotoMetadata* metadata = nullptr);

    // saveToAlbum() on a worker thread; completion runs on the GUI thread.
    using SaveCompletion = std::function<void(const QString& path, const QString& error)>;
    static void writeToSavedPhotosAlbum(const QImage& image, SaveCompletion completion,
                                        std::shared_ptr<const PhotoMetadata> metadata = nullptr);
};

}  // namespace platform
