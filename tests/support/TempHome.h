#pragma once

#include <QTemporaryDir>
#include <QtGlobal>

// Points LUMARO_HOME (and the photo library) at a fresh temporary directory for
// the lifetime of the object, so no test touches the user's real settings.
class TempHome {
public:
    TempHome() {
        qputenv("LUMARO_HOME", dir_.path().toUtf8());
        qputenv("LUMARO_LIBRARY", (dir_.path() + "/library").toUtf8());
    }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};
