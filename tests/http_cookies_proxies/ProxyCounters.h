#pragma once

// tinyproxy and microsocks that tell how many requests they carried, read from their logs.

#include <QFile>
#include <QThread>

#include "servers/ProxyServers.h"

namespace lumaro::test {

class CountingTinyproxy : public ProxyProcess {
public:
    CountingTinyproxy() {
        QFile file(m_dir.filePath("tinyproxy.conf"));
        if (!file.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write config");
        file.write(QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                                  "LogLevel Info\nLogFile \"%2/tinyproxy.log\"\n"
                                  "PidFile \"%2/tinyproxy.pid\"\nAllow 127.0.0.1\n")
                       .arg(m_port)
                       .arg(m_dir.path())
                       .toUtf8());
        file.close();
        start("/usr/bin/tinyproxy", {"-d", "-c", file.fileName()});
    }
    // Requests it has forwarded or tunnelled.
    int carried() const {
        return count(m_dir.filePath("tinyproxy.log"), "Request (file descriptor");
    }
    QString address() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

protected:
    static int count(const QString& path, const QByteArray& marker) {
        QFile log(path);
        if (!log.open(QIODevice::ReadOnly)) return 0;
        return static_cast<int>(log.readAll().count(marker));
    }
};

class CountingMicrosocks : public ProxyProcess {
public:
    CountingMicrosocks() {
        start("/usr/bin/microsocks", {"-i", "127.0.0.1", "-p", QString::number(m_port)});
    }
    int carried() const {
        QFile log(m_dir.filePath("output.log"));
        if (!log.open(QIODevice::ReadOnly)) return 0;
        return static_cast<int>(log.readAll().count("connected to"));
    }
    QString address() const { return QStringLiteral("socks5://127.0.0.1:%1").arg(m_port); }
};

}  // namespace lumaro::test
