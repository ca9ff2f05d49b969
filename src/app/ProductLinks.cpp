#include "app/ProductLinks.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

static void initAppResources() { Q_INIT_RESOURCE(app); }

namespace app {

ProductLinks ProductLinks::fromJson(const QByteArray& json) {
    const QJsonObject links = QJsonDocument::fromJson(json).object().value("links").toObject();
    auto url = [&](const char* key) { return QUrl(links.value(key).toString()); };
    return {url("store"), url("phoneStore"), url("facebook"), url("twitter"), url("help")};
}

const ProductLinks& ProductLinks::standard() {
    static const ProductLinks links = [] {
        initAppResources();
        QFile file(QStringLiteral(":/app/product.json"));
        return file.open(QIODevice::ReadOnly) ? fromJson(file.readAll()) : ProductLinks{};
    }();
    return links;
}

}  // namespace app
