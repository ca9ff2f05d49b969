#pragma once

// Certificates made with openssl for a test: a self-signed server certificate for 127.0.0.1,
// a small CA with a client certificate in a PKCS#12 bundle, and a server certificate whose
// time has passed.

#include <QDir>
#include <QFile>
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

struct ExpiredServerCertificate : ServerCertificate {
    QString caFile;  // trust this, and expiry is the only fault left
};

// For 127.0.0.1, signed by a CA of its own and valid only in January 2020. `openssl ca` is the
// one openssl command here that takes dates in the past.
inline ExpiredServerCertificate makeExpiredServerCertificate(const QString& dir) {
    const QDir folder(dir);
    folder.mkpath(QStringLiteral("expired"));
    const QString work = folder.filePath(QStringLiteral("expired"));
    const auto write = [&](const char* name, const QByteArray& text) {
        QFile file(QDir(work).filePath(QString::fromLatin1(name)));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
            throw std::runtime_error("cannot write the openssl CA files");
        }
    };
    write("index.txt", "");
    write("serial", "01\n");
    write("ca.cnf",
          "[ca]\ndefault_ca = test\n"
          "[test]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\n"
          "default_md = sha256\npolicy = anything\ncopy_extensions = copy\n"
          "unique_subject = no\n"
          "[anything]\ncommonName = supplied\n");
    runOpenssl(work, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
                      "ca.pem", "-days", "2", "-subj", "/CN=Lumaro Test Server CA"});
    runOpenssl(work,
               {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out",
                "server.csr", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    runOpenssl(work, {"ca", "-batch", "-config", "ca.cnf", "-cert", "ca.pem", "-keyfile", "ca.key",
                      "-in", "server.csr", "-out", "server.pem", "-notext", "-startdate",
                      "20200101000000Z", "-enddate", "20200131000000Z"});
    return {{QDir(work).filePath("server.pem"), QDir(work).filePath("server.key")},
            QDir(work).filePath("ca.pem")};
}

}  // namespace lumaro::test
