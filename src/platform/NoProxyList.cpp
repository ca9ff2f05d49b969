#include "platform/NoProxyList.h"

#include <QHostAddress>
#include <QStringList>

namespace platform {

namespace {

bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

QStringList entries(const QString& list) {
    QStringList result;
    QString current;
    for (QChar c : list) {
        if (isBlank(c) || c == QLatin1Char(',')) {
            if (!current.isEmpty()) result.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.isEmpty()) result.append(current);
    return result;
}

bool nameMatches(QString name, QString entry) {
    if (entry.endsWith(QLatin1Char('.'))) entry.chop(1);
    if (entry.startsWith(QLatin1Char('.'))) entry.remove(0, 1);
    if (entry.isEmpty()) return false;
    if (entry.size() == name.size()) return entry.compare(name, Qt::CaseInsensitive) == 0;
    return entry.size() < name.size() && name[name.size() - entry.size() - 1] == QLatin1Char('.') &&
           name.endsWith(entry, Qt::CaseInsensitive);
}

bool addressMatches(const QHostAddress& address, const QString& entry) {
    const qsizetype slash = entry.indexOf(QLatin1Char('/'));
    const QHostAddress network(slash < 0 ? entry : entry.left(slash));
    if (network.isNull() || network.protocol() != address.protocol()) return false;
    const int width = address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
    int bits = width;
    if (slash >= 0) {
        bool ok = false;
        bits = entry.mid(slash + 1).toInt(&ok);
        if (!ok || bits < 0 || bits > width) return false;
        if (bits == 0) bits = width;  // as curl: "/0" is the address itself
    }
    return address.isInSubnet(network, bits);
}

}  // namespace

bool noProxyListMatches(const QString& host, const QString& list) {
    if (host.isEmpty() || list.isEmpty()) return false;
    if (list == QLatin1String("*")) return true;
    QString name = host;
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']'))) {
        name = name.mid(1, name.size() - 2);
    }
    const QHostAddress address(name);
    if (address.isNull() && name.endsWith(QLatin1Char('.'))) name.chop(1);
    for (const QString& entry : entries(list)) {
        if (address.isNull() ? nameMatches(name, entry) : addressMatches(address, entry)) {
            return true;
        }
    }
    return false;
}

}  // namespace platform
