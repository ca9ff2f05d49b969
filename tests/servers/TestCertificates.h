#pragma once

// Certificates made with openssl for a test: a self-signed server certificate for 127.0.0.1
// and, on request, a small CA with a client certificate in a PKCS#12 bundle.

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <stdexcept>

namespace lumaro::test {

inline void runOpenssl(const QString& workDir, const QStringList& arguments) {
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        throw std::runtime_error("openssl failed: " + process.readAll().toStdString());
    }
}

struct ServerCertificate {
    QString certificateFile;
    QString keyFile;
};

// Valid for 127.0.0.1 only (not for "localhost"), signed by itself.
inline ServerCertificate makeServerCertificate(const QString& dir) {
    runOpenssl(dir, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key",
                     "-out", "server.pem", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                     "subjectAltName=IP:127.0.0.1"});
    return {QDir(dir).filePath("server.pem"), QDir(dir).filePath("server.key")};
}

struct ClientCertificate {
    QString caFile;      // the CA the server trusts for clients
    QString pkcs12File;  // client certificate and key
    QByteArray passphrase;
};

inline ClientCertificate makeClientCertificate(const QString& dir) {
    runOpenssl(dir, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                     "ca.pem", "-days", "2", "-subj", "/CN=Lumaro Test Client CA"});
    runOpenssl(dir, {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "client.key", "-out",
                     "client.csr", "-subj", "/CN=lumaro-client"});
    runOpenssl(dir, {"x509", "-req", "-in", "client.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                     "-CAcreateserial", "-out", "client.pem", "-days", "2"});
    runOpenssl(dir, {"pkcs12", "-export", "-in", "client.pem", "-inkey", "client.key", "-out",
                     "client.p12", "-passout", "pass:secret", "-certpbe", "AES-256-CBC", "-keypbe",
                     "AES-256-CBC", "-macalg", "sha256"});
    return {QDir(dir).filePath("ca.pem"), QDir(dir).filePath("client.p12"), "secret"};
}

}  // namespace lumaro::test
