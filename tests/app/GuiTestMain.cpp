#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "GuiTestSupport.h"
#include "support/TempHome.h"

// Present only in builds that record line coverage (their preset links it in with -u);
// the exit handler that would write the counters is skipped below.
extern "C" void __gcov_dump() __attribute__((weak));

// The GUI suites need one application object that lives exactly as long as
// the tests, and a temporary home for the settings and the photo library.
int main(int argc, char** argv) {
    // Also when listing the tests at build time, where no display is set.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef LUMARO_OFFSCREEN_CONFIG
    // Screens of 1536 x 2160 pixels give the window its full 768 x 1024 points at
    // scale factors 1 and 2 alike, so what either scale shows can be compared.
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen")
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" LUMARO_OFFSCREEN_CONFIG);
#endif
#ifdef LUMARO_SECOND_SCREEN_DENSE
    // Per-screen factors are separated by semicolons, which a build definition
    // cannot carry; the screen named Dense has two pixels per point.
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
    // Qt's test input devices are static objects that cannot be destroyed after
    // the application is gone: skip the static destructors, but write the
    // coverage counters first.
    if (__gcov_dump) __gcov_dump();
    std::fflush(nullptr);
    std::_Exit(result);
}

// The test helpers' own Qt objects, for every GUI suite.
#include "moc_GuiTestSupport.cpp"
