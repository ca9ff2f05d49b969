#pragma once

// tinyproxy and microsocks that tell how many requests they carried, read from their logs,
// and the variables that choose a proxy, which tests clear so the machine's own stay out.

#include <QFile>
#include <QThread>

#include "servers/ProxyServers.h"

namespace lumaro::test {

inline const char* const kProxyVariables[] = {"http_proxy",  "HTTP_PROXY", "https_proxy",
                                              "HTTPS_PROXY", "all_proxy",  "ALL_PROXY",
                                              "no_proxy",    "NO_PROXY",   "LUMARO_PAC_URL"};

inline int linesMarked(const QString& path, const QByteArray& marker) {
    QFile log(path);
    return log.open(QIODevice::ReadOnly) ? static_cast<int>(log.readAll().count(marker)) : 0;
}

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
        return linesMarked(m_dir.filePath("tinyproxy.log"), "Request (file descriptor");
    }
    QString address() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
};

class CountingMicrosocks : public ProxyProcess {
public:
    CountingMicrosocks() {
        start("/usr/bin/microsocks", {"-i", "127.0.0.1", "-p", QString::number(m_port)});
    }
    int carried() const { return linesMarked(m_dir.filePath("output.log"), "connected to"); }
    QString address() const { return QStringLiteral("socks5://127.0.0.1:%1").arg(m_port); }
};

}  // namespace lumaro::test
