#include "RateLimit.h"

#include <limits>

std::optional<quint32> parseRateLimit(const QString& text, QString* problem) {
    QString digits = text;
    quint64 unit = 1;
    if (!digits.isEmpty()) {
        switch (digits.back().toLower().unicode()) {
            case 'k':
                unit = 1024;
                break;
            case 'm':
                unit = 1024 * 1024;
                break;
            case 'g':
                unit = 1024 * 1024 * 1024;
                break;
            case 'b':
                unit = 1;
                break;
            default:
                unit = 0;
                break;
        }
        if (unit != 0) digits.chop(1);
    }
    if (unit == 0) unit = 1;
    bool digitsOnly = !digits.isEmpty();
    for (const QChar c : digits) digitsOnly = digitsOnly && c >= '0' && c <= '9';
    if (!digitsOnly) {
        *problem = QStringLiteral(
                       "--limit-rate needs bytes per second, optionally with k, M or G, not '%1'")
                       .arg(text);
        return std::nullopt;
    }
    constexpr quint64 kMost = std::numeric_limits<quint32>::max();
    bool fits = false;
    const quint64 count = digits.toULongLong(&fits);
    if (!fits || count > kMost / unit) {
        *problem =
            QStringLiteral("--limit-rate %1 is more than %2 bytes per second").arg(text).arg(kMost);
        return std::nullopt;
    }
    return static_cast<quint32>(count * unit);
}
