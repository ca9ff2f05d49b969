#include "http/CacheHeadersFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include "http/StagingFile.h"

namespace http {

namespace {

// Far more than any server's head; a larger file is not one this cache wrote.
constexpr qint64 kMaximumHeadersFileSize = 1024 * 1024;

const QString kExpiresKey = QStringLiteral("X-HTTPRequest-Expires");
const QString kStatusKey = QStringLiteral("X-HTTPRequest-Response-Status-Code");

}  // namespace

std::optional<Headers> readCachedHeaders(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaximumHeadersFileSize) {
        return std::nullopt;
    }
    const QByteArray bytes = file.read(kMaximumHeadersFileSize + 1);
    if (bytes.size() > kMaximumHeadersFileSize) return std::nullopt;
    QJsonParseError problem;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &problem);
    if (problem.error != QJsonParseError::NoError || !document.isArray()) return std::nullopt;
    Headers headers;
    for (const QJsonValue& entry : document.array()) {
        const QJsonArray pair = entry.toArray();
        if (pair.size() != 2 || !pair[0].isString() || pair[0].toString().isEmpty()) {
            return std::nullopt;
        }
        const QString name = pair[0].toString();
        if (pair[1].isString()) {
            headers.set(name, pair[1].toString());
        } else if (pair[1].isDouble() && (name == kExpiresKey || name == kStatusKey)) {
            const double number = pair[1].toDouble();
            headers.set(name, name == kStatusKey ? QString::number(qint64(number))
                                                 : QString::number(number, 'f', 3));
        } else {
            return std::nullopt;
        }
    }
    return headers;
}

bool writeCachedHeaders(const QString& path, const Headers& headers) {
    QJsonArray pairs;
    for (const auto& [name, value] : headers.fields()) {
        QJsonValue stored(value);
        if (name.compare(kExpiresKey, Qt::CaseInsensitive) == 0) {
            stored = value.toDouble();
        } else if (name.compare(kStatusKey, Qt::CaseInsensitive) == 0) {
            stored = value.toInt();
        }
        pairs.append(QJsonArray{name, stored});
    }
    const QByteArray bytes = QJsonDocument(pairs).toJson(QJsonDocument::Compact);
    StagingFile staged(path);
    if (staged.open() || staged.file().write(bytes) != bytes.size()) return false;
    return !staged.commit();
}

}  // namespace http
