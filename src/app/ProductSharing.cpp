#include "app/ProductSharing.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

static void initProductResources() { Q_INIT_RESOURCE(app); }

namespace app {

sharing::ShareEndpoints shareEndpointsFromJson(const QByteArray& json) {
    const QJsonObject entry = QJsonDocument::fromJson(json).object().value("sharing").toObject();
    return {QUrl(entry.value("serviceUrl").toString()), entry.value("probeHost").toString()};
}

sharing::ShareEndpoints productShareEndpoints() {
    initProductResources();
    QFile file(QStringLiteral(":/app/product.json"));
    sharing::ShareEndpoints endpoints = file.open(QIODevice::ReadOnly)
                                            ? shareEndpointsFromJson(file.readAll())
                                            : sharing::ShareEndpoints{};
    if (const QString url = qEnvironmentVariable("LUMARO_SHARE_URL"); !url.isEmpty()) {
        endpoints.serviceUrl = QUrl(url);
    }
    if (const QString host = qEnvironmentVariable("LUMARO_SHARE_PROBE_HOST"); !host.isEmpty()) {
        endpoints.probeHost = host;
    }
    return endpoints;
}

}  // namespace app
