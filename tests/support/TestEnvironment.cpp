// Sets the variables every test program expects (offscreen Qt, where the
// samples and the built programs are) before main runs, keeping any value
// the caller's environment already gives.

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace {

const bool environmentReady = [] {
    const QList<QByteArray> entries = QByteArray(LUMARO_TEST_ENVIRONMENT).split('|');
    for (const QByteArray& entry : entries) {
        const qsizetype equals = entry.indexOf('=');
        if (equals <= 0) continue;
        const QByteArray name = entry.left(equals);
        if (!qEnvironmentVariableIsSet(name.constData()))
            qputenv(name.constData(), entry.mid(equals + 1));
    }
    return true;
}();

}  // namespace
