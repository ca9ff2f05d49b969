// Shows Lumaro's window as a user sees it after opening a photo, toning it
// sepia and opening the vignette panel, and writes what the window shows, in
// the screen's device pixels, as a PNG. Run it on the offscreen platform with
// the scale factor to show (scripts/screenshots.sh).
//
// Usage: lumaro-screenshots PHOTO OUTPUT.png [X Y WIDTH HEIGHT]
// With a rectangle (in points) only that part of the window is written.

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QThread>
#include <cstdio>
#include <functional>

#include "app/lumaroAppDelegate.h"
#include "app/lumaroViewController.h"
#include "platform/widgets/SegmentedControl.h"

namespace {

// Lets the window work (decoding, rendering, painting) until done() or for at most ms.
void runEvents(
    int ms, const std::function<bool()>& done = [] { return false; }) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

int fail(const char* message) {
    std::fprintf(stderr, "lumaro-screenshots: %s\n", message);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 3 && arguments.size() != 7)
        return fail("usage: lumaro-screenshots PHOTO OUTPUT.png [X Y WIDTH HEIGHT]");
    app::lumaroAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    app::lumaroViewController& screen = *delegate.viewController();
    screen.pickFile(arguments[1]);
    runEvents(10000, [&] { return !screen.isOpeningPicture(); });
    if (!screen.pickerInfo()) return fail("the photo did not open");
    screen.color->setSelectedSegmentIndex(1);
    screen.SepiaImage();
    screen.showVignet();
    runEvents(200);

    QPixmap shot = delegate.window()->grab();
    if (arguments.size() == 7) {
        const qreal ratio = shot.devicePixelRatio();
        const QRect part(arguments[3].toInt(), arguments[4].toInt(), arguments[5].toInt(),
                         arguments[6].toInt());
        shot = shot.copy(
            QRectF(QPointF(part.topLeft()) * ratio, QSizeF(part.size()) * ratio).toRect());
    }
    // A palette keeps the file small: the picture is toned grey, the window has few colours.
    const QImage small = shot.toImage().convertToFormat(QImage::Format_Indexed8);
    if (!small.save(arguments[2], "PNG", 9)) return fail("cannot write the picture");
    return 0;
}
