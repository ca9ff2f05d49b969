#pragma once

// Debian's nginx on 127.0.0.1, started for a test and stopped with it: static files from a
// given root, plain HTTP and optionally TLS, keep-alive on. Everything it writes stays in its
// own temporary directory.

#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <stdexcept>

#include "servers/FreePort.h"

namespace lumaro::test {

class NginxServer {
public:
    struct Options {
        QString root;
        // PEM files; TLS is served on a second port when both are given.
        QString certificateFile;
        QString keyFile;
        // When set, TLS clients may present a certificate signed by this CA (PEM); the
        // outcome is in $ssl_client_verify for extraTlsServerConfig to act on.
        QString clientCaFile;
        // Extra directives inside the http block, and inside the TLS server block.
        QString extraHttpConfig;
        QString extraTlsServerConfig;
    };

    explicit NginxServer(Options options) : m_options(std::move(options)) {
        if (!m_dir.isValid()) throw std::runtime_error("no temporary dir for nginx");
        m_httpPort = freeLoopbackPort();
        const bool tls = !m_options.certificateFile.isEmpty();
        if (tls) m_httpsPort = freeLoopbackPort();
        writeConfig(tls);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/sbin/nginx"),
                        {"-e", m_dir.filePath("error.log"), "-p", m_dir.path(), "-c",
                         m_dir.filePath("nginx.conf"), "-g", "daemon off;"});
        const auto limit = std::chrono::milliseconds(5000);
        if (!m_process.waitForStarted(5000) || !waitForLoopbackPort(m_httpPort, limit) ||
            (tls && !waitForLoopbackPort(m_httpsPort, limit))) {
            throw std::runtime_error("nginx did not start: " + errorLog().toStdString());
        }
    }

    ~NginxServer() {
        if (m_process.state() == QProcess::NotRunning) return;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGQUIT);
        if (!m_process.waitForFinished(3000)) m_process.kill();
        m_process.waitForFinished(3000);
    }

    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    QString url(const QString& path = "/") const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_httpPort).arg(path);
    }
    QString httpsUrl(const QString& path = "/", const QString& host = "127.0.0.1") const {
        return QStringLiteral("https://%1:%2%3").arg(host).arg(m_httpsPort).arg(path);
    }
    QString errorLog() const {
        QFile log(m_dir.filePath("error.log"));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }

private:
    void writeConfig(bool tls) {
        const QString dir = m_dir.path();
        // Run as root (in containers), nginx would hand its worker to "nobody", who cannot
        // read the test's private directories.
        QString config = ::geteuid() == 0 ? QStringLiteral("user root;\n") : QString();
        config += QStringLiteral(R"(
worker_processes 1; pid %1/nginx.pid; error_log %1/error.log warn;
events { worker_connections 512; }
http {
    access_log off; default_type application/octet-stream; sendfile on; tcp_nopush on;
    keepalive_requests 100000; keepalive_timeout 75s;
    client_body_temp_path %1/client_body; proxy_temp_path %1/proxy;
    fastcgi_temp_path %1/fastcgi; uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;
    %4
    server { listen 127.0.0.1:%2; root %3; }
)")
                      .arg(dir)
                      .arg(m_httpPort)
                      .arg(m_options.root, m_options.extraHttpConfig);
        if (tls) {
            const QString clientAuth = m_options.clientCaFile.isEmpty()
                                           ? QString()
                                           : "ssl_client_certificate " + m_options.clientCaFile +
                                                 "; ssl_verify_client optional;";
            config += QStringLiteral(R"(
    server { listen 127.0.0.1:%1 ssl; ssl_certificate %2; ssl_certificate_key %3; root %5;
        %4
        %6 }
)")
                          .arg(m_httpsPort)
                          .arg(m_options.certificateFile, m_options.keyFile, clientAuth,
                               m_options.root, m_options.extraTlsServerConfig);
        }
        config += "}\n";
        QFile file(m_dir.filePath("nginx.conf"));
        if (!file.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write nginx.conf");
        file.write(config.toUtf8());
    }

    Options m_options;
    QTemporaryDir m_dir;
    unsigned short m_httpPort = 0;
    unsigned short m_httpsPort = 0;
    QProcess m_process;
};

}  // namespace lumaro::test
