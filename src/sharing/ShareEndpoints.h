#pragma once

#include <QString>
#include <QUrl>

namespace sharing {

// Where the sharing service is: its base address, from which the two
// request addresses are made, and the host whose reachability decides
// whether a request is sent at all.
struct ShareEndpoints {
    QUrl serviceUrl;
    QString probeHost;

    QUrl registerURL() const { return withPath(QStringLiteral("/Vesquin/register-api.php")); }
    QUrl uploadURL() const { return withPath(QStringLiteral("/Vesquin/upload-api.php")); }

private:
    QUrl withPath(const QString& path) const {
        QUrl url = serviceUrl;
        QString base = url.path();
        while (base.endsWith(QLatin1Char('/'))) base.chop(1);
        url.setPath(base + path);
        return url;
    }
};

// The application id sent with both requests.
inline const QString appId = QStringLiteral("LMRHD00001");

}  // namespace sharing
