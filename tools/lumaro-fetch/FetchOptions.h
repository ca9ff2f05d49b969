#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

#include "FetchCacheOptions.h"

// One -F or --form-string part: a value, or a file streamed from disk.
struct FormPart {
    QString name;
    QString value;
    bool isFile = false;
    QString path;
    // Null when not given: the file's own name and the type of its extension.
    QString fileName;
    QString type;
};

// What the command line asks for.
struct FetchOptions {
    QStringList urls;
    QString method;
    QList<std::pair<QString, QString>> headers;
    QString userAgent;
    // Body in memory (-d, joined with '&' when given more than once).
    std::optional<QByteArray> data;
    // Body streamed from this file (--data-binary @FILE).
    QString dataBinaryFile;
    // A multipart form (-F, --form-string), in order.
    QList<FormPart> formParts;
    // A url-encoded form (--data-urlencode NAME=VALUE), in order.
    QList<std::pair<QString, QString>> urlEncoded;
    // -Z: every URL on one request queue, at most parallelMax at once.
    bool parallel = false;
    int parallelMax = 4;
    QString output;
    bool resume = false;
    bool include = false;
    bool head = false;
    bool verbose = false;
    QString writeOut;
    bool http10 = false;
    bool compressBody = false;
    bool noCompressed = false;
    bool inflateOnTheFly = false;
    bool noKeepAlive = false;
    bool insecure = false;
    QString caCert;
    QString cert;
    QString proxy;
    bool async = false;
    bool fail = false;
    bool noFollow = false;
    bool rfc2616Redirects = false;
    // Seconds without activity before an attempt gives up; none keeps the engine's default.
    std::optional<double> timeout;
    int retries = 0;
    bool progress = false;
    FetchCacheOptions cache;
    // Bytes per second shared by every transfer of the run (--limit-rate); none is no limit.
    std::optional<quint32> limitRate;
    // Cookies: -b reads a jar file, or sends its text when it holds "=" (NAME=VALUE; ...);
    // -c writes every cookie to a jar file at the end. Either turns the cookie engine on.
    QString cookieInput;
    QString cookieJar;
    // --proxy-pac: the proxy auto-configuration script of every request.
    QString proxyPac;
    // --noproxy: hosts reached directly, in no_proxy's place.
    std::optional<QString> noProxy;
    // -u USER[:PASSWORD]; without a password it is asked for on the terminal.
    std::optional<QString> user;
    std::optional<QString> password;
    // --proxy-user USER:PASSWORD.
    std::optional<QString> proxyUser;
    std::optional<QString> proxyPassword;
    // --keychain: logins are looked up in and saved to the desktop's password store.
    bool keychain = false;
};

// Parses argv; on a usage error answers none and sets *problem.
std::optional<FetchOptions> parseFetchOptions(const QStringList& arguments, QString* problem);
