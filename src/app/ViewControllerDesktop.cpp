#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "app/CommandLine.h"
#include "app/lumaroViewController.h"

namespace app {

namespace {

// The first local file among the dragged items, or empty.
QString droppedPicture(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return localPictureLocation(url.toString());
    return {};
}

}  // namespace

void lumaroViewController::setUpDesktop() { view_->setAcceptDrops(true); }

void lumaroViewController::openPicture(const QString& pathOrUrl) {
    const QString path = localPictureLocation(pathOrUrl);
    // Going through the pick keeps one road for every picture: the same
    // decoding off the GUI thread and the same alert when it fails.
    pickFile(path.isEmpty() ? pathOrUrl : path);
}

bool lumaroViewController::handleDropEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (droppedPicture(drag->mimeData()).isEmpty()) return false;
            drag->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QString path = droppedPicture(drop->mimeData());
            if (path.isEmpty()) return false;
            drop->acceptProposedAction();
            openPicture(path);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace app
