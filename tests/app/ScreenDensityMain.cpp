#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "support/TempHome.h"

// The screen-density suites run on offscreen screens of 1536 x 2160 pixels
// (LUMARO_OFFSCREEN_CONFIG), so the window gets its full 768 x 1024 points at
// scale factor 1 and at 2 alike, and what either scale shows can be compared.
int main(int argc, char** argv) {
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("offscreen"));
    if (platform == QLatin1String("offscreen"))
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" LUMARO_OFFSCREEN_CONFIG);
#ifdef LUMARO_SECOND_SCREEN_DENSE
    // Scale factors per screen are separated by semicolons, which a build
    // definition cannot carry; the screen named Dense has two pixels per point.
    if (!qEnvironmentVariableIsSet("QT_SCREEN_SCALE_FACTORS"))
        qputenv("QT_SCREEN_SCALE_FACTORS", "Plain=1;Dense=2");
#endif
    int result = 0;
    {
        TempHome home;
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    // As in the other GUI suites: Qt's static test devices outlive the application.
    std::fflush(nullptr);
    std::_Exit(result);
}
