#include "platform/InterfaceClassifier.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace platform {
namespace {

// sysfs attributes are a few bytes; anything longer is not one.
constexpr qint64 kAttributeLimit = 4096;

QByteArray readAttribute(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.read(kAttributeLimit);
}

QByteArray deviceType(const QByteArray& uevent) {
    for (const QByteArray& line : uevent.split('\n'))
        if (line.startsWith("DEVTYPE=")) return line.mid(8).trimmed();
    return {};
}

}  // namespace

InterfaceClassifier::InterfaceClassifier(QString sysfsRoot) : root_(std::move(sysfsRoot)) {}

InterfaceKind InterfaceClassifier::classify(const QString& name, int index) const {
    // A name that could leave the class/net folder is not an interface name.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") ||
        name == QLatin1String(".."))
        return InterfaceKind::Other;
    const QString entry = root_ + QStringLiteral("/class/net/") + name;
    bool numeric = false;
    const int recordedIndex =
        readAttribute(entry + QStringLiteral("/ifindex")).trimmed().toInt(&numeric);
    if (!numeric || recordedIndex != index) return InterfaceKind::Other;
    const QByteArray type = deviceType(readAttribute(entry + QStringLiteral("/uevent")));
    if (type == "wwan") return InterfaceKind::WWAN;
    if (type == "wlan" || QFileInfo::exists(entry + QStringLiteral("/wireless")) ||
        QFileInfo::exists(entry + QStringLiteral("/phy80211")))
        return InterfaceKind::WiFi;
    return InterfaceKind::Other;
}

}  // namespace platform
