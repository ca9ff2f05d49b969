#pragma once

#include <QTest>
#include <QToolButton>

#include "app/GuiTestSupport.h"
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

using testing_gui::waitFor;

// A user's tap on a button-like segmented control.
inline void tap(platform::SegmentedControl* control) { control->segmentButton(0)->click(); }

}  // namespace sharing::test
