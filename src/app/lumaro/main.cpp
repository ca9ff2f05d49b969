#include <QApplication>
#include <cstdio>
#include <string_view>

#include "app/CommandLine.h"
#include "app/lumaroAppDelegate.h"
#include "app/lumaroViewController.h"

namespace {

void describeApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Lumaro"));
    QCoreApplication::setOrganizationName(QStringLiteral("Lumaro"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMARO_VERSION));
}

// Help and version are printed without a window, so they are answered before
// the application connects to a display: they work where there is none.
bool asksOnlyForText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--") return false;
        for (const std::string_view text : {"-h", "-?", "--help", "--help-all", "-v", "--version"})
            if (argument == text) return true;
    }
    return false;
}

int commandLineError(const QString& error) {
    std::fprintf(stderr, "lumaro: %s\n", qPrintable(error));
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (asksOnlyForText(argc, argv)) {
        QCoreApplication textOnly(argc, argv);
        describeApplication();
        // Prints the help or the version and ends the process, unless the line is wrong.
        return commandLineError(app::parseCommandLine(QCoreApplication::arguments()).error);
    }
    QApplication application(argc, argv);
    describeApplication();
    QApplication::setDesktopFileName(QStringLiteral("example.lumaro.Lumaro"));
    const app::CommandLine commandLine = app::parseCommandLine(QApplication::arguments());
    if (!commandLine.error.isEmpty()) return commandLineError(commandLine.error);
    app::lumaroAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    if (!commandLine.picture.isEmpty()) delegate.viewController()->openPicture(commandLine.picture);
    return application.exec();
}
