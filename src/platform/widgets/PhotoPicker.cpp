#include "platform/widgets/PhotoPicker.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/MainThread.h"
#include "platform/PhotoLibrary.h"
#include "platform/PictureDecoder.h"
#include "platform/widgets/ThumbnailCache.h"

namespace platform {

namespace {

constexpr int pathRole = Qt::UserRole;
constexpr int brokenRole = Qt::UserRole + 1;
constexpr int columns = 3;
constexpr int cellSpacing = 4;

// A tile for a file that is not a readable picture: a torn frame and the
// file's name, so the user sees which file it is.
QPixmap brokenTile(const QString& name, int edge) {
    QPixmap tile(edge, edge);
    tile.fill(QColor(0xe4, 0xe4, 0xe1));
    QPainter painter(&tile);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = edge / 12.0;
    const QRectF frame(2.5 * unit, 1.5 * unit, 7 * unit, 5.5 * unit);
    painter.setPen(QPen(QColor(0x8a, 0x8d, 0x92), unit * 0.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(frame);
    // The tear: a zigzag through the frame, in the tile's colour.
    QPolygonF tear;
    for (int i = 0; i <= 4; ++i)
        tear << QPointF(frame.left() + 3.5 * unit + (i % 2 ? 1.0 : -1.0) * unit,
                        frame.top() - unit + i * (frame.height() + 2 * unit) / 4);
    painter.setPen(QPen(QColor(0xe4, 0xe4, 0xe1), unit));
    painter.drawPolyline(tear);
    painter.setPen(QColor(0x45, 0x47, 0x4b));
    QFont font = painter.font();
    font.setPixelSize(std::max(8, edge / 9));
    painter.setFont(font);
    const QRect caption(2, int(8 * unit), edge - 4, edge - int(8 * unit) - 2);
    painter.drawText(caption, Qt::AlignHCenter | Qt::AlignTop,
                     QFontMetrics(font).elidedText(name, Qt::ElideMiddle, caption.width()));
    return tile;
}

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
    // The grid follows the list's width, three tiles to a row; a scroll bar
    // that is always there keeps that width from changing as the list fills.
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list_->viewport()->installEventFilter(this);
    list_->setIconSize(QSize(thumbnailSize, thumbnailSize));
    list_->setGridSize(QSize(thumbnailSize + cellSpacing, thumbnailSize + cellSpacing));
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
    // Thumbnails have their own workers, so opening a picture never waits
    // behind a folder's worth of them.
    thumbnailPool_.setMaxThreadCount(2);
}

PhotoPicker::~PhotoPicker() {
    thumbnailPool_.clear();
    thumbnailPool_.waitForDone();
}

bool PhotoPicker::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_->viewport() && event->type() == QEvent::Resize) {
        const int cell = std::max(32, list_->viewport()->width() / columns);
        const int icon = std::min(thumbnailSize, cell - cellSpacing);
        list_->setGridSize(QSize(cell, icon + cellSpacing));
        list_->setIconSize(QSize(icon, icon));
        for (int row = 0; row < list_->count(); ++row) list_->item(row)->setSizeHint({icon, icon});
    }
    return QWidget::eventFilter(watched, event);
}

void PhotoPicker::showEvent(QShowEvent* event) {
    reload();
    QWidget::showEvent(event);
}

void PhotoPicker::reload() {
    ++generation_;
    thumbnailPool_.clear();
    list_->clear();
    folderLabel_->setText(QDir::toNativeSeparators(PhotoLibrary::folder()));
    const QStringList paths = PhotoLibrary::pictures();
    for (const QString& path : paths) {
        // Filled in before it joins the list, so the list hears of it once.
        auto* item = new QListWidgetItem;
        item->setData(pathRole, path);
        item->setToolTip(QFileInfo(path).fileName());
        // The whole tile answers a tap, before its thumbnail is there too.
        item->setSizeHint(list_->iconSize());
        const auto cached = ThumbnailCache::shared().find(path);
        if (cached) showThumbnail(item, cached->thumbnail);
        list_->addItem(item);
        if (!cached) loadThumbnail(item, path);
    }
    list_->setVisible(!paths.isEmpty());
    emptyNote_->setVisible(paths.isEmpty());
}

void PhotoPicker::loadThumbnail(QListWidgetItem* item, const QString& path) {
    const int generation = generation_;
    const int row = list_->row(item);
    QPointer<PhotoPicker> self(this);
    thumbnailPool_.start([self, generation, row, path] {
        QImage thumbnail = decodeThumbnail(path, thumbnailSize);
        runOnMainThread([self, generation, row, path, thumbnail = std::move(thumbnail)] {
            if (!self) return;
            const QPixmap pixmap = QPixmap::fromImage(thumbnail);
            ThumbnailCache::shared().insert(path, {pixmap});
            // The list may have been reloaded meanwhile; then the row is stale.
            if (self->generation_ != generation) return;
            if (QListWidgetItem* target = self->list_->item(row))
                self->showThumbnail(target, pixmap);
        });
    });
}

void PhotoPicker::showThumbnail(QListWidgetItem* item, const QPixmap& thumbnail) {
    const bool broken = thumbnail.isNull();
    item->setData(brokenRole, broken);
    item->setIcon(QIcon(
        broken ? brokenTile(QFileInfo(item->data(pathRole).toString()).fileName(), thumbnailSize)
               : thumbnail));
}

bool PhotoPicker::isBrokenTile(int row) const {
    const QListWidgetItem* item = list_->item(row);
    return item && item->data(brokenRole).toBool();
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
