#include "app/lumaroAppDelegate.h"

#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>
#include <cmath>

#include "app/lumaroViewController.h"
#include "http/dialog/AuthenticationDialog.h"

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

QSize lumaroAppDelegate::roomForWindow(const QSize& available, qreal devicePixelRatio) {
    // The window manager draws the frame in device pixels, whatever the
    // application's scale factor.
    constexpr int frameHeight = 40;
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    return available - QSize(0, static_cast<int>(std::ceil(frameHeight / ratio)));
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
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize available =
        screen ? roomForWindow(screen->availableGeometry().size(), screen->devicePixelRatio())
               : QSize(pointsWide, pointsHigh);
    // Portrait only: the window keeps its shape.
    window_->setFixedSize(windowSizeFor(available));
    window_->show();
    window_->activateWindow();
    // Servers and proxies that ask for a login get it from a form over this window.
    http::AuthenticationDialog::setPresentingWindow(window_.get());
    http::AuthenticationDialog::install();
}

}  // namespace app
