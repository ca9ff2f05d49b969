#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QList>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <functional>
#include <memory>

#include "GuiTestSupport.h"
#include "app/lumaroViewController.h"
#include "imaging/ExifJpeg.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/Alert.h"
#include "platform/widgets/ImageView.h"
#include "platform/widgets/PhotoPicker.h"
#include "platform/widgets/Popover.h"
#include "platform/widgets/SegmentedControl.h"
#include "platform/widgets/Switch.h"

namespace testing_gui {

// The alerts on screen, newest last.
inline QList<platform::Alert*> visibleAlerts() {
    QList<platform::Alert*> alerts;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* alert = qobject_cast<platform::Alert*>(w); alert && alert->isVisible())
            alerts.append(alert);
    return alerts;
}

inline platform::Alert* alertTitled(const QString& title) {
    for (platform::Alert* alert : visibleAlerts())
        if (alert->title() == title) return alert;
    return nullptr;
}

inline void closeAllAlerts() {
    for (platform::Alert* alert : visibleAlerts()) alert->close();
    QApplication::processEvents();
}

// A colour gradient, so every tone step shows.
inline QImage gradient(QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y,
                             qRgb(x * 255 / size.width(), y * 255 / size.height(),
                                  (x + y) * 255 / (size.width() + size.height())));
    return picture;
}

inline QString writeGradient(const QString& path, QSize size) {
    gradient(size).save(path);
    return path;
}

// A JPEG of a gradient whose EXIF orientation tag says the stored grid is turned
// (6: to be turned 90 degrees clockwise to be upright).
inline QString writeJpegWithOrientation(const QString& path, QSize storedSize, int tag) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(testpictures::jpegWithOrientation(gradient(storedSize), tag));
    return path;
}

// A fresh main screen on a cleared settings store and an empty library.
class ControllerFixture : public LibraryFixture {
protected:
    void SetUp() override {
        closeAllAlerts();
        LibraryFixture::SetUp();
    }
    void TearDown() override {
        controller.reset();
        closeAllAlerts();
    }

    app::lumaroViewController& start() {
        controller = std::make_unique<app::lumaroViewController>();
        controller->view()->resize(768, 1024);
        controller->view()->show();
        QApplication::processEvents();
        return *controller;
    }

    // A main screen editing a gradient of the given size.
    app::lumaroViewController& startEditing(QSize size = {320, 240}) {
        start();
        pick(writeGradient(library + "/gradient.png", size));
        return *controller;
    }

    // Picks a file as the picker does, and waits for the editing state.
    void pick(const QString& path) {
        controller->pickFile(path);
        ASSERT_TRUE(waitFor([&] { return !controller->isOpeningPicture(); }));
        QApplication::processEvents();
    }

    QImage shownImage() const { return controller->image->image(); }

    std::unique_ptr<app::lumaroViewController> controller;
};

}  // namespace testing_gui
