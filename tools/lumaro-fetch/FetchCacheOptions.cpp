#include "FetchCacheOptions.h"

#include <cmath>

namespace {

// Every policy bit the cache knows.
constexpr int kAllPolicyBits = 1 | 2 | 4 | 8 | 16 | 32 | 64;

}  // namespace

bool isCacheOption(const QString& argument) {
    return argument == QLatin1String("--cache") || argument == QLatin1String("--cache-policy") ||
           argument == QLatin1String("--cache-permanent") ||
           argument == QLatin1String("--cache-seconds");
}

bool parseCacheOption(const QStringList& arguments, qsizetype* index, FetchCacheOptions* cache,
                      QString* problem) {
    const QString& option = arguments[*index];
    if (option == QLatin1String("--cache-permanent")) {
        cache->permanent = true;
        return true;
    }
    if (*index + 1 >= arguments.size()) {
        *problem = QStringLiteral("option %1 needs a value").arg(option);
        return false;
    }
    const QString value = arguments[++*index];
    bool ok = false;
    if (option == QLatin1String("--cache")) {
        if (value.isEmpty()) {
            *problem = QStringLiteral("--cache needs a directory");
            return false;
        }
        cache->directory = value;
    } else if (option == QLatin1String("--cache-policy")) {
        cache->policy = value.toInt(&ok);
        if (!ok || cache->policy < 0 || (cache->policy & ~kAllPolicyBits) != 0) {
            *problem = QStringLiteral(
                           "--cache-policy needs a sum of 1, 2, 4, 8, 16, 32 and 64, "
                           "not '%1'")
                           .arg(value);
            return false;
        }
    } else if (option == QLatin1String("--cache-seconds")) {
        cache->seconds = value.toDouble(&ok);
        if (!ok || !std::isfinite(cache->seconds)) {
            *problem =
                QStringLiteral("--cache-seconds needs a number of seconds, not '%1'").arg(value);
            return false;
        }
    } else {
        *problem = QStringLiteral("unknown option %1").arg(option);
        return false;
    }
    return true;
}
