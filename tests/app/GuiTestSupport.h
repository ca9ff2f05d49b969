#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QStringList>
#include <QTest>
#include <functional>
#include <memory>

#include "platform/Defaults.h"
#include "platform/widgets/FloatSlider.h"

namespace testing_gui {

// The application of the test program (GuiTestMain.cpp makes it, with a
// temporary home). The settings store is process-wide, so each test clears
// the keys it relies on.
inline QApplication& application() { return *qApp; }

inline void clearDefaults() {
    auto& defaults = platform::Defaults::standard();
    for (const char* key : {"Type", "Rad", "Effect", "Enabled", "Alpha", "Exposure", "R", "G", "B",
                            "Noise", "Quant", "Inverse", "activate", "Size", "PreOrnaments",
                            "Ornaments", "oco", "LibraryFolder", "Share"})
        defaults.removeObject(key);
    defaults.synchronize();
}

// The stored integers of the given keys, to compare in one go.
inline QList<int> stored(std::initializer_list<const char*> keys) {
    QList<int> values;
    for (const char* key : keys) values << platform::Defaults::standard().integerForKey(key);
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

// Collects the application's diagnostic lines while it lives.
class LogCapture {
public:
    LogCapture() {
        QLoggingCategory::setFilterRules(QStringLiteral("lumaro.*=true"));
        lines().clear();
        previous_ = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() {
        qInstallMessageHandler(previous_);
        QLoggingCategory::setFilterRules(QString());
    }
    const QStringList& collected() const { return lines(); }
    bool contains(const QString& line) const { return lines().contains(line); }
    int count(const QString& line) const { return static_cast<int>(lines().count(line)); }
    void clear() { lines().clear(); }

private:
    static QStringList& lines() {
        static QStringList collected;
        return collected;
    }
    static void handle(QtMsgType, const QMessageLogContext& context, const QString& message) {
        if (context.category && QByteArray(context.category) == "lumaro.app")
            lines().append(message);
    }
    QtMessageHandler previous_;
};

}  // namespace testing_gui
