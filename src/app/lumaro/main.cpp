#include <QApplication>

#include "app/lumaroAppDelegate.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumaro"));
    QApplication::setOrganizationName(QStringLiteral("Lumaro"));
    app::lumaroAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    return application.exec();
}
