#pragma once

// Debian's tinyproxy (HTTP proxy with CONNECT) and microsocks (SOCKS 5) on 127.0.0.1,
// started for a test and stopped with it; carried() counts the requests each has passed on.

#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <stdexcept>

#include "servers/FreePort.h"

namespace lumaro::test {

class ProxyProcess {
public:
    ProxyProcess(const ProxyProcess&) = delete;
    ProxyProcess& operator=(const ProxyProcess&) = delete;

    unsigned short port() const { return m_port; }

    // Requests passed on so far, read from the proxy's log.
    int carried() const {
        QFile log(m_dir.filePath(m_log));
        return log.open(QIODevice::ReadOnly) ? static_cast<int>(log.readAll().count(m_marker)) : 0;
    }

protected:
    ProxyProcess() : m_port(freeLoopbackPort()) {}

    ~ProxyProcess() {
        if (m_process.state() == QProcess::NotRunning) return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) m_process.kill();
        m_process.waitForFinished(3000);
    }

    void start(const QString& program, const QStringList& arguments) {
        // Their chatter (one line per client) goes to a log beside their files.
        m_process.setStandardOutputFile(m_dir.filePath("output.log"));
        m_process.setStandardErrorFile(m_dir.filePath("output.log"), QIODevice::Append);
        m_process.start(program, arguments);
        if (!m_process.waitForStarted(5000) ||
            !waitForLoopbackPort(m_port, std::chrono::milliseconds(5000))) {
            throw std::runtime_error(program.toStdString() + " did not start");
        }
    }

    QTemporaryDir m_dir;
    unsigned short m_port;
    QProcess m_process;
    QString m_log = QStringLiteral("output.log");
    QByteArray m_marker;
};

class TinyproxyServer : public ProxyProcess {
public:
    // connectPorts: the only ports CONNECT may reach (empty: any port). extraConfig: more
    // configuration lines (BasicAuth, say).
    explicit TinyproxyServer(const QList<unsigned short>& connectPorts = {},
                             const QString& extraConfig = {}) {
        QString config = QStringLiteral(
                             "Port %1\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                             "LogLevel Info\nLogFile \"%2/tinyproxy.log\"\n"
                             "PidFile \"%2/tinyproxy.pid\"\nAllow 127.0.0.1\n"
                             "DisableViaHeader Yes\n")
                             .arg(m_port)
                             .arg(m_dir.path());
        for (unsigned short port : connectPorts)
            config += QStringLiteral("ConnectPort %1\n").arg(port);
        config += extraConfig;
        QFile file(m_dir.filePath("tinyproxy.conf"));
        if (!file.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write tinyproxy.conf");
        file.write(config.toUtf8());
        file.close();
        m_log = QStringLiteral("tinyproxy.log");
        m_marker = "Request (file descriptor";
        start("/usr/bin/tinyproxy", {"-d", "-c", file.fileName()});
    }
};

class MicrosocksServer : public ProxyProcess {
public:
    MicrosocksServer() {
        m_marker = "connected to";
        start("/usr/bin/microsocks", {"-i", "127.0.0.1", "-p", QString::number(m_port)});
    }
};

}  // namespace lumaro::test
