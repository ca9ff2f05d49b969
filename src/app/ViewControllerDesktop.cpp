#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <functional>

#include "app/CommandLine.h"
#include "app/lumaroViewController.h"
#include "imaging/BitmapImage.h"
#include "imaging/Intake.h"
#include "platform/widgets/ImageView.h"

namespace app {

namespace {

// How long a press on the picture lasts before it counts as holding it.
constexpr int holdMilliseconds = 350;

// Watches for the release of the compare key while it is held, wherever the
// focus is, and ends the comparison then.
class CompareKeyRelease : public QObject {
public:
    CompareKeyRelease(QObject* parent, std::function<void()> released)
        : QObject(parent), released_(std::move(released)) {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const bool release = event->type() == QEvent::KeyRelease &&
                             static_cast<QKeyEvent*>(event)->key() == Qt::Key_Backslash &&
                             !static_cast<QKeyEvent*>(event)->isAutoRepeat();
        if (release || event->type() == QEvent::ApplicationDeactivate) {
            qApp->removeEventFilter(this);
            deleteLater();
            released_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> released_;
};

// The first local file among the dragged items, or empty.
QString droppedPicture(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return localPictureLocation(url.toString());
    return {};
}

}  // namespace

void lumaroViewController::setUpDesktop() {
    renderer_.setDevicePixelRatio(view_->devicePixelRatioF());
    view_->setAcceptDrops(true);
    const auto shortcut = [this](const QKeySequence& keys, auto action) {
        auto* s = new QShortcut(keys, view_);
        s->setAutoRepeat(false);
        connect(s, &QShortcut::activated, this, action);
    };
    shortcut(QKeySequence::Open, [this] { grabImage(); });
    shortcut(QKeySequence::Save, [this] {
        if (Save->isEnabled()) SaveImage();
    });
    shortcut(QKeySequence::HelpContents, [this] { Help(); });
    // Not every desktop names a quit key; Ctrl+Q is what the others use.
    const QKeySequence quit(QKeySequence::Quit);
    shortcut(quit.isEmpty() ? QKeySequence(Qt::CTRL | Qt::Key_Q) : quit,
             [this] { view_->window()->close(); });
    // Return applies the sliders, unless a panel that takes typing is open.
    for (const int key : {Qt::Key_Return, Qt::Key_Enter})
        shortcut(QKeySequence(key), [this] {
            if (pickerInfo() && !isPopoverVisible()) Apply();
        });
    shortcut(QKeySequence(Qt::Key_Backslash), [this] {
        if (comparing_) return;
        beginCompare();
        if (comparing_) new CompareKeyRelease(this, [this] { endCompare(); });
    });

    holdTimer_ = new QTimer(this);
    holdTimer_->setSingleShot(true);
    holdTimer_->setInterval(holdMilliseconds);
    connect(holdTimer_, &QTimer::timeout, this, &lumaroViewController::beginCompare);
}

void lumaroViewController::handleHoldOnPicture(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) holdTimer_->start();
            break;
        case QEvent::MouseButtonRelease:
        case QEvent::Leave:
        case QEvent::Hide:
            holdTimer_->stop();
            endCompare();
            break;
        default:
            break;
    }
}

void lumaroViewController::beginCompare() {
    const auto& picture = pickerInfo();
    if (!picture || comparing_) return;
    comparing_ = true;
    // The picture as picked, fitted as the renders see it, in colour.
    image->setImage(imageForScreen(
        imaging::fitToOutputSize(*picture, state_.outputSize, renderer_.devicePixelRatio())));
}

void lumaroViewController::endCompare() {
    if (!comparing_) return;
    comparing_ = false;
    showWorkingImage();
}

void lumaroViewController::followScreenDensity() {
    const double before = renderer_.devicePixelRatio();
    renderer_.setDevicePixelRatio(view_->devicePixelRatioF());
    if (renderer_.devicePixelRatio() != before && pickerInfo()) MonoCore();
}

QImage lumaroViewController::imageForScreen(const imaging::Bitmap& picture) const {
    QImage shown = imaging::imageFromBitmap(picture);
    shown.setDevicePixelRatio(renderer_.pixelsPerPoint());
    return shown;
}

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
