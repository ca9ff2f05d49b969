#pragma once

// Debian's tinyproxy (HTTP proxy with CONNECT) and microsocks (SOCKS 5) on 127.0.0.1,
// started for a test and stopped with it.

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

protected:
    ProxyProcess() : m_port(freeLoopbackPort()) {}

    ~ProxyProcess() {
        if (m_process.state() == QProcess::NotRunning) return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    void start(const QString& program, const QStringList& arguments) {
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        // Their chatter (one line per client) goes to a log beside their files.
        m_process.setStandardOutputFile(m_dir.filePath("output.log"));
        m_process.setStandardErrorFile(m_dir.filePath("output.log"), QIODevice::Append);
        m_process.start();
        if (!m_process.waitForStarted(5000) ||
            !waitForLoopbackPort(m_port, std::chrono::milliseconds(5000))) {
            throw std::runtime_error(program.toStdString() + " did not start");
        }
    }

    QTemporaryDir m_dir;
    unsigned short m_port;
    QProcess m_process;
};

class TinyproxyServer : public ProxyProcess {
public:
    // connectPorts: the only ports CONNECT may reach (empty: any port). extraConfig: more
    // configuration lines (BasicAuth, say).
    explicit TinyproxyServer(const QList<unsigned short>& connectPorts = {},
                             const QString& extraConfig = {}) {
        QString config = QStringLiteral(
                             "Port %1\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                             "LogLevel Error\nLogFile \"%2/tinyproxy.log\"\n"
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
        start("/usr/bin/tinyproxy", {"-d", "-c", file.fileName()});
    }
};

class MicrosocksServer : public ProxyProcess {
public:
    MicrosocksServer() {
        start("/usr/bin/microsocks", {"-i", "127.0.0.1", "-p", QString::number(m_port)});
    }
};

}  // namespace lumaro::test
