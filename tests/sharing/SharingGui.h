#pragma once

#include <QElapsedTimer>
#include <QTest>
#include <QToolButton>
#include <functional>

#include "platform/Defaults.h"
#include "platform/widgets/SegmentedControl.h"
#include "sharing/ShareKeys.h"

namespace sharing::test {

inline platform::Defaults& defaults() { return platform::Defaults::standard(); }

// Removes every key the share panel, the poll and the client use.
inline void clearShareDefaults() {
    for (const QString& key : {keys::Share, keys::ShDescription, keys::ShAdjustments,
                               keys::ShOutputReady, keys::ShOutput, keys::ShError, keys::Registered,
                               keys::PrivateKey, QStringLiteral("activate")}) {
        defaults().removeObject(key);
    }
    defaults().synchronize();
}

// Processes events until the condition holds or the time is up.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QTest::qWait(10);
    }
    return true;
}

// A user's tap on a button-like segmented control.
inline void tap(platform::SegmentedControl* control) { control->segmentButton(0)->click(); }

}  // namespace sharing::test
