#pragma once

#include <QThreadPool>
#include <QWidget>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace platform {

// A grid of thumbnails of the photo library's pictures. A tap on a thumbnail
// emits picked() with the picture's file. When the library has no pictures the
// picker says so; it always offers to look in another folder, which the
// library then remembers. A file that cannot be read shows as a broken tile
// with its name. Thumbnails are kept between openings (ThumbnailCache).
class PhotoPicker : public QWidget {
    Q_OBJECT

public:
    static constexpr int thumbnailSize = 96;

    explicit PhotoPicker(QWidget* parent = nullptr);
    ~PhotoPicker() override;

    // Lists the library again (also done every time the picker is shown).
    void reload();
    // Makes path the library folder, as the folder chooser does.
    void useFolder(const QString& path);

    QListWidget* thumbnails() const { return list_; }
    QLabel* emptyNote() const { return emptyNote_; }
    QPushButton* otherFolderButton() const { return otherFolder_; }
    // Whether the tile in row stands for a file that could not be read.
    bool isBrokenTile(int row) const;

signals:
    void picked(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void chooseFolder();
    void loadThumbnail(QListWidgetItem* item, const QString& path);
    void showThumbnail(QListWidgetItem* item, const QPixmap& thumbnail);

    QLabel* folderLabel_;
    QListWidget* list_;
    QLabel* emptyNote_;
    QPushButton* otherFolder_;
    int generation_ = 0;
    QThreadPool thumbnailPool_;
};

}  // namespace platform
