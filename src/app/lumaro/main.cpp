#include <QApplication>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/lumaroAppDelegate.h"
#include "app/lumaroViewController.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumaro"));
    QApplication::setOrganizationName(QStringLiteral("Lumaro"));
    QApplication::setApplicationVersion(QStringLiteral(LUMARO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("example.lumaro.Lumaro"));
    const app::CommandLine commandLine = app::parseCommandLine(QApplication::arguments());
    if (!commandLine.error.isEmpty()) {
        std::fprintf(stderr, "lumaro: %s\n", qPrintable(commandLine.error));
        return 2;
    }
    app::lumaroAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    if (!commandLine.picture.isEmpty()) delegate.viewController()->openPicture(commandLine.picture);
    return application.exec();
}
