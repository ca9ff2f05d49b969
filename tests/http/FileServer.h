#pragma once

#include <QString>

#include "servers/NginxServer.h"
#include "servers/TestCertificates.h"

namespace testsupport {

// nginx over HTTP and TLS serving the files under root, gzipping plain text on the way.
inline lumaro::test::NginxServer* startFileServer(
    const QString& root, const lumaro::test::ServerCertificate& certificate) {
    lumaro::test::NginxServer::Options options;
    options.root = root;
    options.certificateFile = certificate.certificateFile;
    options.keyFile = certificate.keyFile;
    options.extraHttpConfig =
        "types { text/plain txt; } gzip on; gzip_types text/plain; gzip_min_length 0;";
    return new lumaro::test::NginxServer(options);
}

}  // namespace testsupport
