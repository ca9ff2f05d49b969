#include "FetchOptions.h"

#include <QFile>

#include "RateLimit.h"

namespace {

bool readFile(const QString& path, QByteArray* contents, QString* problem) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    *contents = file.readAll();
    return true;
}

// NAME=VALUE; a value starting with @ names a file to send, one starting with < a file whose
// contents are the value, unless the value is taken literally (--form-string).
bool parseFormPart(const QString& argument, bool literal, FormPart* part, QString* problem) {
    const qsizetype equals = argument.indexOf('=');
    if (equals <= 0) {
        *problem = QStringLiteral("form part '%1' is not NAME=VALUE").arg(argument);
        return false;
    }
    part->name = argument.left(equals);
    const QString value = argument.mid(equals + 1);
    if (literal || !(value.startsWith('@') || value.startsWith('<'))) {
        part->value = value;
        return true;
    }
    if (value.startsWith('<')) {
        QByteArray contents;
        if (!readFile(value.mid(1), &contents, problem)) return false;
        part->value = QString::fromUtf8(contents);
        return true;
    }
    const QStringList pieces = value.mid(1).split(';');
    part->isFile = true;
    part->path = pieces.first();
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QString& piece = pieces[i];
        QString setting = piece.section('=', 1);
        if (setting.size() >= 2 && setting.startsWith('"') && setting.endsWith('"')) {
            setting = setting.mid(1, setting.size() - 2);
        }
        if (piece.startsWith(QLatin1String("filename="))) {
            part->fileName = setting;
        } else if (piece.startsWith(QLatin1String("type="))) {
            part->type = setting;
        } else {
            *problem = QStringLiteral("unknown form part setting '%1'").arg(piece);
            return false;
        }
    }
    return true;
}

bool checkCombinations(const FetchOptions& options, QString* problem) {
    const bool rawBody = options.data || !options.dataBinaryFile.isEmpty();
    if (!options.formParts.isEmpty() && (rawBody || !options.urlEncoded.isEmpty())) {
        *problem =
            QStringLiteral("-F cannot be combined with -d, --data-binary or --data-urlencode");
        return false;
    }
    if (!options.urlEncoded.isEmpty() && rawBody) {
        *problem = QStringLiteral("--data-urlencode cannot be combined with -d or --data-binary");
        return false;
    }
    return true;
}

}  // namespace

std::optional<FetchOptions> parseFetchOptions(const QStringList& arguments, QString* problem) {
    FetchOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        // Options that take a value accept it as the next argument.
        auto value = [&](QString* out) {
            if (i + 1 >= arguments.size()) {
                *problem = QStringLiteral("option %1 needs a value").arg(arg);
                return false;
            }
            *out = arguments[++i];
            return true;
        };
        QString v;
        if (arg == "-X" || arg == "--request") {
            if (!value(&options.method)) return std::nullopt;
        } else if (arg == "-H" || arg == "--header") {
            if (!value(&v)) return std::nullopt;
            const qsizetype colon = v.indexOf(':');
            if (colon <= 0) {
                *problem = QStringLiteral("header '%1' is not 'Name: value'").arg(v);
                return std::nullopt;
            }
            options.headers.append({v.left(colon).trimmed(), v.mid(colon + 1).trimmed()});
        } else if (arg == "-A" || arg == "--user-agent") {
            if (!value(&options.userAgent)) return std::nullopt;
        } else if (arg == "-d" || arg == "--data") {
            if (!value(&v)) return std::nullopt;
            QByteArray piece = v.toUtf8();
            if (v.startsWith('@') && !readFile(v.mid(1), &piece, problem)) return std::nullopt;
            options.data = options.data ? *options.data + '&' + piece : piece;
        } else if (arg == "--data-binary") {
            if (!value(&v)) return std::nullopt;
            if (!v.startsWith('@')) {
                options.data = options.data ? *options.data + '&' + v.toUtf8() : v.toUtf8();
            } else {
                options.dataBinaryFile = v.mid(1);
                if (!QFile::exists(options.dataBinaryFile)) {
                    *problem = QStringLiteral("cannot read %1").arg(options.dataBinaryFile);
                    return std::nullopt;
                }
            }
        } else if (arg == "-F" || arg == "--form" || arg == "--form-string") {
            if (!value(&v)) return std::nullopt;
            FormPart part;
            if (!parseFormPart(v, arg == "--form-string", &part, problem)) return std::nullopt;
            options.formParts.append(part);
        } else if (arg == "--data-urlencode") {
            if (!value(&v)) return std::nullopt;
            const qsizetype equals = v.indexOf('=');
            if (equals <= 0) {
                *problem = QStringLiteral("--data-urlencode needs NAME=VALUE, not '%1'").arg(v);
                return std::nullopt;
            }
            options.urlEncoded.append({v.left(equals), v.mid(equals + 1)});
        } else if (arg == "-Z" || arg == "--parallel") {
            options.parallel = true;
        } else if (arg == "--parallel-max") {
            if (!value(&v)) return std::nullopt;
            bool ok = false;
            options.parallelMax = v.toInt(&ok);
            if (!ok || options.parallelMax < 1 || options.parallelMax > 50) {
                *problem =
                    QStringLiteral("--parallel-max needs a count from 1 to 50, not '%1'").arg(v);
                return std::nullopt;
            }
        } else if (arg == "-o" || arg == "--output") {
            if (!value(&options.output)) return std::nullopt;
        } else if (arg == "-C" || arg == "--continue") {
            options.resume = true;
        } else if (arg == "-i" || arg == "--include") {
            options.include = true;
        } else if (arg == "-I" || arg == "--head") {
            options.head = true;
        } else if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "-w" || arg == "--write-out") {
            if (!value(&options.writeOut)) return std::nullopt;
        } else if (arg == "--http1.0") {
            options.http10 = true;
        } else if (arg == "--compress-body") {
            options.compressBody = true;
        } else if (arg == "--no-compressed") {
            options.noCompressed = true;
        } else if (arg == "--inflate-on-the-fly") {
            options.inflateOnTheFly = true;
        } else if (arg == "--no-keepalive") {
            options.noKeepAlive = true;
        } else if (arg == "-k" || arg == "--insecure") {
            options.insecure = true;
        } else if (arg == "--cacert") {
            if (!value(&options.caCert)) return std::nullopt;
        } else if (arg == "--cert") {
            if (!value(&options.cert)) return std::nullopt;
        } else if (arg == "-x" || arg == "--proxy") {
            if (!value(&options.proxy)) return std::nullopt;
        } else if (arg == "--async") {
            options.async = true;
        } else if (arg == "--fail") {
            options.fail = true;
        } else if (arg == "--no-follow") {
            options.noFollow = true;
        } else if (arg == "--rfc2616-redirects") {
            options.rfc2616Redirects = true;
        } else if (arg == "--timeout") {
            if (!value(&v)) return std::nullopt;
            bool ok = false;
            const double seconds = v.toDouble(&ok);
            if (!ok || seconds < 0) {
                *problem = QStringLiteral("--timeout needs a number of seconds, not '%1'").arg(v);
                return std::nullopt;
            }
            options.timeout = seconds;
        } else if (arg == "--retry") {
            if (!value(&v)) return std::nullopt;
            bool ok = false;
            options.retries = v.toInt(&ok);
            if (!ok || options.retries < 0) {
                *problem = QStringLiteral("--retry needs a count, not '%1'").arg(v);
                return std::nullopt;
            }
        } else if (arg == "--progress") {
            options.progress = true;
        } else if (isCacheOption(arg)) {
            if (!parseCacheOption(arguments, &i, &options.cache, problem)) return std::nullopt;
        } else if (arg == "--limit-rate") {
            if (!value(&v)) return std::nullopt;
            options.limitRate = parseRateLimit(v, problem);
            if (!options.limitRate) return std::nullopt;
        } else if (arg == "-b" || arg == "--cookie") {
            if (!value(&options.cookieInput)) return std::nullopt;
        } else if (arg == "-c" || arg == "--cookie-jar") {
            if (!value(&options.cookieJar)) return std::nullopt;
        } else if (arg == "--proxy-pac") {
            if (!value(&options.proxyPac)) return std::nullopt;
        } else if (arg == "--noproxy") {
            if (!value(&v)) return std::nullopt;
            options.noProxy = v;
        } else if (arg == "-u" || arg == "--user" || arg == "--proxy-user") {
            if (!value(&v)) return std::nullopt;
            const qsizetype colon = v.indexOf(':');
            const QString user = colon < 0 ? v : v.left(colon);
            // An empty password after the colon is a password, the empty one.
            std::optional<QString> password;
            if (colon >= 0) {
                password = v.mid(colon + 1);
                if (password->isNull()) password = QStringLiteral("");
            }
            if (arg == "--proxy-user") {
                if (!password) {
                    *problem = QStringLiteral("--proxy-user needs USER:PASSWORD");
                    return std::nullopt;
                }
                options.proxyUser = user;
                options.proxyPassword = password;
            } else {
                options.user = user;
                options.password = password;
            }
        } else if (arg == "--keychain") {
            options.keychain = true;
        } else if (arg.startsWith('-') && arg.size() > 1) {
            *problem = QStringLiteral("unknown option %1").arg(arg);
            return std::nullopt;
        } else {
            options.urls.append(arg);
        }
    }
    if (options.urls.isEmpty()) {
        *problem = QStringLiteral("no URL given");
        return std::nullopt;
    }
    if (!checkCombinations(options, problem)) return std::nullopt;
    if (options.resume && !options.cache.directory.isEmpty()) {
        *problem = QStringLiteral("-C cannot be combined with --cache");
        return std::nullopt;
    }
    if (options.resume && options.output.isEmpty()) {
        *problem = QStringLiteral("-C needs -o FILE");
        return std::nullopt;
    }
    return options;
}
