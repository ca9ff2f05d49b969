#pragma once

#include <QObject>
#include <QSize>
#include <memory>

class QScreen;
class QWidget;

namespace app {

class lumaroViewController;

// Starts the window: after a second, puts the main screen into it and shows it.
class lumaroAppDelegate : public QObject {
    Q_OBJECT

public:
    static constexpr int pointsWide = 768;
    static constexpr int pointsHigh = 1024;

    lumaroAppDelegate();
    ~lumaroAppDelegate() override;

    void applicationDidFinishLaunching();

    QWidget* window() const { return window_.get(); }
    lumaroViewController* viewController() const { return viewController_.get(); }

    // The window's size: 768 x 1024, or the largest portrait 3:4 size that
    // fits the available screen area.
    static QSize windowSizeFor(const QSize& available);
    // The screen area left for the window's contents once the window frame
    // has its room; available is in the application's (scaled) pixels.
    static QSize roomForWindow(const QSize& available, qreal devicePixelRatio);

private:
    std::unique_ptr<lumaroViewController> viewController_;
    std::unique_ptr<QWidget> window_;
};

}  // namespace app
