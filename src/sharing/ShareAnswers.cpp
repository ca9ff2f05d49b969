#include "sharing/ShareAnswers.h"

#include <QUrl>

namespace sharing {

namespace {

constexpr int kMaxKeyLength = 256;
constexpr int kMaxReasonLength = 200;

bool isSuccess(int status) { return status >= 200 && status <= 299; }

}  // namespace

std::optional<QString> userKeyFromAnswer(int status, const QString& body) {
    if (!isSuccess(status)) return std::nullopt;
    QString key = body;
    if (key.endsWith(QLatin1Char('\n'))) key.chop(1);
    if (key.endsWith(QLatin1Char('\r'))) key.chop(1);
    if (key.isEmpty() || key.size() > kMaxKeyLength) return std::nullopt;
    for (QChar c : key) {
        if (!c.isPrint()) return std::nullopt;
    }
    return key;
}

std::optional<QString> linkFromAnswer(int status, const QString& body) {
    if (!isSuccess(status)) return std::nullopt;
    const QString text = body.trimmed();
    if (text.isEmpty() || text.contains(QLatin1Char('\n'))) return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        return std::nullopt;
    }
    return text;
}

QString refusalReason(int status, const QString& body) {
    QString line = body.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
    for (QChar& c : line) {
        if (!c.isPrint()) c = QLatin1Char(' ');
    }
    if (line.size() > kMaxReasonLength) line = line.left(kMaxReasonLength) + QStringLiteral("...");
    if (isSuccess(status)) {
        return QStringLiteral("the sharing service answered without a link");
    }
    if (line.isEmpty()) return QStringLiteral("the sharing service answered %1").arg(status);
    return QStringLiteral("the sharing service answered %1: %2").arg(status).arg(line);
}

}  // namespace sharing
