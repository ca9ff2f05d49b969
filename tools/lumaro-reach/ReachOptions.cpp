#include "ReachOptions.h"

#include <arpa/inet.h>

#include <QRegularExpression>

namespace {

constexpr int kHostNameLimit = 253;

bool looksNumeric(const QString& text) {
    static const QRegularExpression digitsAndDots(QStringLiteral("^[0-9.]+$"));
    return digitsAndDots.match(text).hasMatch();
}

bool isDottedAddress(const QString& text) {
    in_addr address{};
    return ::inet_pton(AF_INET, text.toLatin1().constData(), &address) == 1;
}

// Whether a target could be a host name at all; the resolver judges the rest.
QString hostNameProblem(const QString& text) {
    if (text.isEmpty()) return QStringLiteral("empty host name");
    if (text.toUtf8().size() > kHostNameLimit) return QStringLiteral("host name too long");
    for (const QChar c : text)
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return QStringLiteral("host name with a space or a control character");
    // Digits and dots only: a mistyped address, which the resolver would read in its own
    // old-fashioned way ("1.2.3" as 1.2.0.3).
    if (looksNumeric(text)) return QStringLiteral("not a dotted IPv4 address: %1").arg(text);
    return {};
}

}  // namespace

std::optional<ReachOptions> parseReachOptions(const QStringList& arguments, QString* problem) {
    ReachOptions options;
    bool haveTarget = false;
    bool haveCount = false;
    auto setTarget = [&](ReachOptions::Target target, const QString& text) {
        if (haveTarget) {
            *problem = QStringLiteral("more than one target");
            return false;
        }
        haveTarget = true;
        options.target = target;
        options.text = text;
        return true;
    };
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            options.help = true;
            return options;
        }
        if (argument == QLatin1String("--watch")) {
            options.watch = true;
        } else if (argument == QLatin1String("--count") ||
                   argument.startsWith(QLatin1String("--count="))) {
            QString value;
            if (argument == QLatin1String("--count")) {
                if (++i >= arguments.size()) {
                    *problem = QStringLiteral("--count needs a number");
                    return std::nullopt;
                }
                value = arguments[i];
            } else {
                value = argument.mid(8);
            }
            bool ok = false;
            options.count = value.toInt(&ok);
            if (!ok || options.count < 1) {
                *problem = QStringLiteral("--count needs a whole number from 1 up: %1").arg(value);
                return std::nullopt;
            }
            haveCount = true;
        } else if (argument == QLatin1String("--internet")) {
            if (!setTarget(ReachOptions::Target::Internet, {})) return std::nullopt;
        } else if (argument == QLatin1String("--wifi")) {
            if (!setTarget(ReachOptions::Target::LocalWiFi, {})) return std::nullopt;
        } else if (argument.startsWith(QLatin1Char('-'))) {
            *problem = QStringLiteral("unknown option: %1").arg(argument);
            return std::nullopt;
        } else if (isDottedAddress(argument)) {
            if (!setTarget(ReachOptions::Target::Address, argument)) return std::nullopt;
        } else {
            const QString hostProblem = hostNameProblem(argument);
            if (!hostProblem.isEmpty()) {
                *problem = hostProblem;
                return std::nullopt;
            }
            if (!setTarget(ReachOptions::Target::HostName, argument)) return std::nullopt;
        }
    }
    if (!haveTarget) {
        *problem = QStringLiteral("no target");
        return std::nullopt;
    }
    if (haveCount && !options.watch) {
        *problem = QStringLiteral("--count goes with --watch");
        return std::nullopt;
    }
    return options;
}
