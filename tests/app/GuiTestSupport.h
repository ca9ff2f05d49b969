#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QStringList>
#include <QTest>
#include <QUrl>
#include <functional>
#include <memory>

#include "platform/Defaults.h"
#include "platform/widgets/FloatSlider.h"
#include "support/LogCapture.h"

namespace testing_gui {

inline platform::Defaults& defaults() { return platform::Defaults::standard(); }

// The settings store is process-wide, so each test clears the keys it relies on.
inline void clearDefaults() {
    for (const char* key : {"Type", "Rad", "Effect", "Enabled", "Alpha", "Exposure", "R", "G", "B",
                            "Noise", "Quant", "Inverse", "activate", "Size", "PreOrnaments",
                            "Ornaments", "oco", "LibraryFolder", "Share"})
        defaults().removeObject(key);
    defaults().synchronize();
}

// The stored integers of the given keys, to compare in one go.
inline QList<int> stored(std::initializer_list<const char*> keys) {
    QList<int> values;
    for (const char* key : keys) values << defaults().integerForKey(key);
    return values;
}

// Processes events until the condition holds or the time is up.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QTest::qWait(10);
    }
    return true;
}

// What a user's drag does to a slider: press, move the thumb, let go.
inline void dragSlider(platform::FloatSlider* slider, double value, bool release = true) {
    slider->setSliderDown(true);
    slider->setSliderPosition(platform::FloatSlider::positionOf(value));
    if (release) slider->setSliderDown(false);
}

// A cleared settings store and an empty photo library.
class LibraryFixture : public ::testing::Test {
protected:
    void SetUp() override {
        clearDefaults();
        library = qEnvironmentVariable("LUMARO_LIBRARY");
        QDir(library).removeRecursively();
        QDir().mkpath(library);
    }
    // A picture of one colour, named relative to the library or by an absolute path.
    void writePicture(const QString& name, QColor colour, QSize size = {120, 80}) const {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(QDir(library).filePath(name)));
    }
    QString library;
};

// Collects the application's diagnostic lines while it lives.
struct AppLog : LogCapture {
    AppLog() : LogCapture("lumaro.app") {}
};

// Records the addresses the application asks to open.
class UrlSink : public QObject {
    Q_OBJECT
public:
    explicit UrlSink(QStringList schemes = {"http", "https"}) : schemes_(std::move(schemes)) {
        for (const QString& scheme : schemes_)
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlSink() override {
        for (const QString& scheme : schemes_) QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }

private:
    QStringList schemes_;
};

}  // namespace testing_gui
