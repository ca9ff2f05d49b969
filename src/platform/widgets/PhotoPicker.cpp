#include "platform/widgets/PhotoPicker.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>

#include "platform/MainThread.h"
#include "platform/PhotoLibrary.h"
#include "platform/PictureDecoder.h"

namespace platform {

namespace {

constexpr int pathRole = Qt::UserRole;

}  // namespace

PhotoPicker::PhotoPicker(QWidget* parent)
    : QWidget(parent),
      folderLabel_(new QLabel(this)),
      list_(new QListWidget(this)),
      emptyNote_(new QLabel(tr("There are no pictures in this folder."), this)),
      otherFolder_(new QPushButton(tr("Other Folder…"), this)) {
    auto* title = new QLabel(tr("Photos"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setAlignment(Qt::AlignCenter);
    folderLabel_->setAlignment(Qt::AlignCenter);
    folderLabel_->setStyleSheet(QStringLiteral("color: #666;"));
    emptyNote_->setAlignment(Qt::AlignCenter);
    emptyNote_->setWordWrap(true);

    list_->setViewMode(QListView::IconMode);
    list_->setIconSize(QSize(thumbnailSize, thumbnailSize));
    list_->setGridSize(QSize(thumbnailSize + 4, thumbnailSize + 4));
    list_->setResizeMode(QListView::Adjust);
    list_->setMovement(QListView::Static);
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::NoSelection);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(title);
    layout->addWidget(folderLabel_);
    layout->addWidget(list_, 1);
    layout->addWidget(emptyNote_, 1);
    layout->addWidget(otherFolder_);

    connect(list_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { emit picked(item->data(pathRole).toString()); });
    connect(otherFolder_, &QPushButton::clicked, this, &PhotoPicker::chooseFolder);
}

void PhotoPicker::showEvent(QShowEvent* event) {
    reload();
    QWidget::showEvent(event);
}

void PhotoPicker::reload() {
    ++generation_;
    list_->clear();
    folderLabel_->setText(QDir::toNativeSeparators(PhotoLibrary::folder()));
    const QStringList paths = PhotoLibrary::pictures();
    for (const QString& path : paths) {
        auto* item = new QListWidgetItem(list_);
        item->setData(pathRole, path);
        item->setToolTip(QFileInfo(path).fileName());
        item->setSizeHint(QSize(thumbnailSize, thumbnailSize));
        loadThumbnail(item, path);
    }
    list_->setVisible(!paths.isEmpty());
    emptyNote_->setVisible(paths.isEmpty());
}

void PhotoPicker::loadThumbnail(QListWidgetItem* item, const QString& path) {
    const int generation = generation_;
    const int row = list_->row(item);
    QPointer<PhotoPicker> self(this);
    QThreadPool::globalInstance()->start([self, generation, row, path] {
        QImage thumbnail = decodeThumbnail(path, thumbnailSize);
        runOnMainThread([self, generation, row, thumbnail = std::move(thumbnail)] {
            // The list may have been reloaded meanwhile; then the row is stale.
            if (!self || self->generation_ != generation || thumbnail.isNull()) return;
            if (QListWidgetItem* target = self->list_->item(row))
                target->setIcon(QIcon(QPixmap::fromImage(thumbnail)));
        });
    });
}

void PhotoPicker::useFolder(const QString& path) {
    PhotoLibrary::chooseFolder(path);
    reload();
}

void PhotoPicker::chooseFolder() {
    const QString path = QFileDialog::getExistingDirectory(this, tr("Choose a Folder of Pictures"),
                                                           PhotoLibrary::folder());
    if (!path.isEmpty()) useFolder(path);
}

}  // namespace platform
