#include "app/lumaroAppDelegate.h"

#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include "app/lumaroViewController.h"

namespace app {

lumaroAppDelegate::lumaroAppDelegate() = default;

// The window goes before the controller, which owns the view inside it.
lumaroAppDelegate::~lumaroAppDelegate() {
    if (window_ && viewController_) viewController_->view()->setParent(nullptr);
    window_.reset();
}

QSize lumaroAppDelegate::windowSizeFor(const QSize& available) {
    if (available.width() >= pointsWide && available.height() >= pointsHigh)
        return {pointsWide, pointsHigh};
    int height = std::min(available.height(), pointsHigh);
    int width = height * 3 / 4;
    if (width > available.width()) {
        width = available.width();
        height = width * 4 / 3;
    }
    return {width, height};
}

void lumaroAppDelegate::applicationDidFinishLaunching() {
    viewController_ = std::make_unique<lumaroViewController>();
    // The start screen stays a moment, as the decoration is meant to be seen.
    QThread::sleep(1);
    window_ = std::make_unique<QWidget>();
    window_->setWindowTitle(QStringLiteral("Lumaro HD"));
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(viewController_->view());
    // Leave room for the window frame on a small screen.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize available =
        screen ? screen->availableGeometry().size() - QSize(0, 40) : QSize(pointsWide, pointsHigh);
    // Portrait only: the window keeps its shape.
    window_->setFixedSize(windowSizeFor(available));
    window_->show();
    window_->activateWindow();
}

}  // namespace app
