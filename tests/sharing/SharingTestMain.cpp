#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "support/TempHome.h"

// One application object for the whole run, offscreen, with a temporary
// home for the settings, the photo library and the sharing service's data.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int result = 0;
    {
        TempHome home;
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    // Qt's test input devices cannot be destroyed after the application is gone.
    std::fflush(nullptr);
    std::_Exit(result);
}
