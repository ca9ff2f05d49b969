#include "http/ContentRange.h"

namespace http {
namespace {

std::optional<quint64> number(QStringView text) {
    if (text.isEmpty()) return std::nullopt;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    }
    bool ok = false;
    const quint64 value = text.toULongLong(&ok);
    return ok ? std::optional<quint64>(value) : std::nullopt;
}

}  // namespace

std::optional<ContentRange> parseContentRange(const QString& value) {
    const QString text = value.trimmed();
    if (!text.startsWith(QLatin1String("bytes "), Qt::CaseInsensitive)) return std::nullopt;
    const QStringView rest = QStringView(text).mid(6).trimmed();
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    if (slash < 0) return std::nullopt;
    const QStringView range = rest.left(slash);
    const QStringView length = rest.mid(slash + 1);
    ContentRange parsed;
    if (length != QLatin1String("*")) {
        parsed.total = number(length);
        if (!parsed.total) return std::nullopt;
    }
    if (range == QLatin1String("*")) {
        return parsed.total ? std::optional<ContentRange>(parsed) : std::nullopt;
    }
    const qsizetype dash = range.indexOf(QLatin1Char('-'));
    if (dash < 0) return std::nullopt;
    parsed.first = number(range.left(dash));
    parsed.last = number(range.mid(dash + 1));
    if (!parsed.first || !parsed.last || *parsed.first > *parsed.last) return std::nullopt;
    if (parsed.total && *parsed.last >= *parsed.total) return std::nullopt;
    return parsed;
}

std::optional<quint64> parseResumeOffset(const QString& range) {
    const QString text = range.trimmed();
    if (!text.startsWith(QLatin1String("bytes="), Qt::CaseInsensitive) ||
        !text.endsWith(QLatin1Char('-'))) {
        return std::nullopt;
    }
    return number(QStringView(text).mid(6).chopped(1).trimmed());
}

}  // namespace http
