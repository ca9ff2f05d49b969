#include "Fetch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <cstdio>
#include <optional>

#include "CookieJarFile.h"
#include "FetchCache.h"
#include "ProgressBar.h"
#include "TerminalLogin.h"
#include "http/FormDataRequest.h"
#include "http/HTTPRequest.h"
#include "platform/CookieStore.h"
#include "platform/NoProxyList.h"
#include "platform/SystemProxySettings.h"

using http::HTTPRequest;
using http::HTTPRequestPtr;

void writeOut(std::FILE* stream, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
}

QByteArray headBlock(const HTTPRequest& request, const QString& prefix) {
    QByteArray text = (prefix + request.responseStatusMessage()).toLatin1() + "\r\n";
    for (const auto& [name, value] : request.responseHeaders().fields()) {
        text += (prefix + name + QStringLiteral(": ") + value).toLatin1() + "\r\n";
    }
    return text;
}

QByteArray requestBlock(const HTTPRequest& request) {
    const QUrl url = request.url();
    QString text = QStringLiteral("> %1 %2 HTTP/%3\r\n")
                       .arg(request.requestMethod(),
                            url.path(QUrl::FullyEncoded).isEmpty() ? QStringLiteral("/")
                                                                   : url.path(QUrl::FullyEncoded),
                            request.useHTTPVersionOne() ? "1.0" : "1.1");
    for (const auto& [name, value] : request.requestHeaders().fields()) {
        text += QStringLiteral("> %1: %2\r\n").arg(name, value);
    }
    return text.toLatin1();
}

namespace {

// connections: how many this transfer opened (its redirects and retries included), as curl
// counts them; a transfer that reused an open connection opened none.
QString expandWriteOut(const QString& format, const HTTPRequest& request, double seconds,
                       quint64 connections) {
    QString text = format;
    text.replace(QLatin1String("%{http_code}"),
                 QStringLiteral("%1").arg(request.responseStatusCode(), 3, 10, QLatin1Char('0')));
    text.replace(QLatin1String("%{size_download}"), QString::number(request.totalBytesRead()));
    text.replace(QLatin1String("%{num_redirects}"), QString::number(request.redirectCount()));
    text.replace(QLatin1String("%{url_effective}"), request.url().toString(QUrl::FullyEncoded));
    text.replace(QLatin1String("%{time_total}"), QString::number(seconds, 'f', 6));
    text.replace(QLatin1String("%{num_connects}"), QString::number(connections));
    text.replace(QLatin1String("\\n"), QLatin1String("\n"));
    text.replace(QLatin1String("\\t"), QLatin1String("\t"));
    return text;
}

bool applyProxy(HTTPRequest& request, const QString& proxy) {
    QString rest = proxy;
    QString type = QStringLiteral("HTTP");
    if (rest.startsWith(QLatin1String("socks5://"))) {
        type = QStringLiteral("SOCKS");
        rest = rest.mid(9);
    } else if (rest.startsWith(QLatin1String("http://"))) {
        rest = rest.mid(7);
    }
    const qsizetype colon = rest.lastIndexOf(':');
    bool ok = false;
    const int port = colon > 0 ? rest.mid(colon + 1).toInt(&ok) : 0;
    if (!ok || port <= 0 || port > 65535) return false;
    request.setProxyHost(rest.left(colon));
    request.setProxyPort(port);
    request.setProxyType(type);
    return true;
}

bool applyClientCertificate(HTTPRequest& request, const QString& certificateArgument) {
    const qsizetype colon = certificateArgument.indexOf(':');
    const QString path = colon < 0 ? certificateArgument : certificateArgument.left(colon);
    const QByteArray password =
        colon < 0 ? QByteArray() : certificateArgument.mid(colon + 1).toUtf8();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    QList<QSslCertificate> chain;
    auto identity = platform::HttpClientIdentity::fromPkcs12(&file, password, &chain);
    if (!identity) return false;
    request.setClientCertificateIdentity(identity);
    request.setClientCertificates(chain);
    return true;
}

QString partialPath(const QString& output) { return output + QStringLiteral(".part"); }

// Moves a partial file left at the destination aside, where the resumed download continues.
void prepareResume(HTTPRequest& request, const QString& output) {
    const QString partial = partialPath(output);
    if (!QFile::exists(partial) && QFile::exists(output)) QFile::rename(output, partial);
    request.setAllowResumeForFileDownloads(true);
    request.setTemporaryFileDownloadPath(partial);
}

// A resumed download that did not finish leaves the partial file where it was found.
void restorePartial(const QString& output) {
    if (!QFile::exists(output) && QFile::exists(partialPath(output))) {
        QFile::rename(partialPath(output), output);
    }
}

int usageFailure(const QString& message) {
    std::fprintf(stderr, "lumaro-fetch: %s\n", qPrintable(message));
    return kUsageExitCode;
}

// -b with text rather than a file name: the cookies to send, "NAME=VALUE; NAME=VALUE".
QList<QNetworkCookie> literalCookies(const QString& text) {
    QList<QNetworkCookie> cookies;
    for (const QString& pair : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        if (equals <= 0) continue;
        cookies.append(QNetworkCookie(pair.left(equals).trimmed().toLatin1(),
                                      pair.mid(equals + 1).trimmed().toLatin1()));
    }
    return cookies;
}

bool literalCookieInput(const FetchOptions& options) {
    return options.cookieInput.contains(QLatin1Char('='));
}

int configureCookiesAndPAC(HTTPRequest& r, const FetchOptions& options) {
    // As curl: no cookies are kept unless a jar is named.
    const bool jar = !options.cookieJar.isEmpty() ||
                     (!options.cookieInput.isEmpty() && !literalCookieInput(options));
    r.setUseCookiePersistence(jar);
    if (literalCookieInput(options)) r.setRequestCookies(literalCookies(options.cookieInput));
    if (!options.proxyPac.isEmpty()) {
        QUrl script(options.proxyPac, QUrl::StrictMode);
        if (script.scheme().isEmpty()) {
            script = QUrl::fromLocalFile(QFileInfo(options.proxyPac).absoluteFilePath());
        }
        if (!script.isValid()) return usageFailure("bad PAC address " + options.proxyPac);
        r.setPACurl(script);
    }
    return 0;
}

}  // namespace

HTTPRequestPtr makeRequest(const FetchOptions& options, const QString& url) {
    const QUrl target(url, QUrl::StrictMode);
    if (!options.formParts.isEmpty() || !options.urlEncoded.isEmpty()) {
        auto form = http::FormDataRequest::requestWithURL(target);
        // Any -F makes a multipart body, values alone included, as curl does.
        if (!options.formParts.isEmpty()) form->setPostFormat(http::PostFormatMultipart);
        for (const FormPart& part : options.formParts) {
            if (part.isFile) {
                form->addFile(part.path, part.fileName, part.type, part.name);
            } else {
                form->addPostValue(part.value, part.name);
            }
        }
        for (const auto& [name, value] : options.urlEncoded) form->addPostValue(value, name);
        return form;
    }
    HTTPRequestPtr request = HTTPRequest::requestWithURL(target);
    if (options.data) request->appendPostData(*options.data);
    if (!options.dataBinaryFile.isEmpty()) {
        request->setShouldStreamPostDataFromDisk(true);
        request->setPostBodyFilePath(options.dataBinaryFile);
    }
    if (options.data || !options.dataBinaryFile.isEmpty()) {
        request->addRequestHeader(QStringLiteral("Content-Type"),
                                  QStringLiteral("application/x-www-form-urlencoded"));
    }
    return request;
}

int configureRequest(HTTPRequest& r, const FetchOptions& options) {
    if (options.head) r.setRequestMethod(QStringLiteral("HEAD"));
    if (!options.method.isEmpty()) r.setRequestMethod(options.method);
    for (const auto& [name, value] : options.headers) r.addRequestHeader(name, value);
    if (!options.userAgent.isEmpty()) r.setUserAgentString(options.userAgent);

    r.setUseHTTPVersionOne(options.http10);
    r.setShouldCompressRequestBody(options.compressBody);
    r.setAllowCompressedResponse(!options.noCompressed);
    if (options.noKeepAlive) r.setShouldAttemptPersistentConnection(false);
    r.setShouldRedirect(!options.noFollow);
    r.setShouldUseRFC2616RedirectBehaviour(options.rfc2616Redirects);
    if (options.timeout) r.setTimeOutSeconds(*options.timeout);
    r.setNumberOfTimesToRetryOnTimeout(options.retries);
    r.setValidatesSecureCertificate(!options.insecure);
    if (!options.caCert.isEmpty()) {
        const auto certificates = QSslCertificate::fromPath(options.caCert);
        if (certificates.isEmpty()) return usageFailure("cannot read CA file " + options.caCert);
        r.setExtraTrustedCertificates(certificates);
    }
    if (!options.cert.isEmpty() && !applyClientCertificate(r, options.cert)) {
        return usageFailure("cannot read client certificate " + options.cert);
    }
    const bool exempt =
        options.noProxy && platform::noProxyListMatches(r.url().host(), *options.noProxy);
    if (!options.proxy.isEmpty() && !exempt && !applyProxy(r, options.proxy)) {
        return usageFailure("bad proxy " + options.proxy);
    }
    if (options.user) {
        r.setUsername(*options.user);
        r.setPassword(options.password.value_or(QStringLiteral("")));
    }
    if (options.proxyUser) {
        r.setProxyUsername(*options.proxyUser);
        r.setProxyPassword(*options.proxyPassword);
    }
    r.setUseKeychainPersistence(options.keychain);
    if (const int code = configureCache(r, options); code != 0) return code;
    return configureCookiesAndPAC(r, options);
}

int directOutput(HTTPRequest& r, const FetchOptions& options, bool toFile,
                 std::optional<QFile>& stream, bool bodyToStandardOutput) {
    // A device or a pipe (-o /dev/null) takes the body as it arrives: the engine's downloads
    // end by renaming a finished file onto the destination.
    if (toFile && QFileInfo::exists(options.output) && !QFileInfo(options.output).isFile()) {
        if (options.resume) return usageFailure("-C needs a file, not " + options.output);
        stream.emplace(options.output);
        if (!stream->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            return usageFailure("cannot write to " + options.output);
        }
        r.setShouldWaitToInflateCompressedResponses(false);
        r.setDataReceivedBlock([&stream](const QByteArray& data) { stream->write(data); });
    } else if (toFile) {
        r.setDownloadDestinationPath(options.output);
        r.setShouldWaitToInflateCompressedResponses(!options.inflateOnTheFly);
        if (options.resume) prepareResume(r, options.output);
    } else if (bodyToStandardOutput) {
        // Standard output gets the body as it arrives, inflated on the way.
        r.setShouldWaitToInflateCompressedResponses(false);
        r.setDataReceivedBlock([](const QByteArray& data) { writeOut(stdout, data); });
    }
    return 0;
}

int reportTransfer(const HTTPRequest& r, const FetchOptions& options, double seconds,
                   quint64 connections, bool quietFailure) {
    if (!options.writeOut.isEmpty()) {
        writeOut(stdout, expandWriteOut(options.writeOut, r, seconds, connections).toUtf8());
        std::fflush(stdout);
    }
    if (http::ErrorPtr error = r.error()) {
        if (!quietFailure) {
            std::fprintf(stderr, "lumaro-fetch: %s\n", qPrintable(error->localizedDescription));
        }
        return error->code;
    }
    if (options.fail && r.responseStatusCode() >= 400) {
        std::fprintf(stderr, "lumaro-fetch: The requested URL returned error: %d\n",
                     r.responseStatusCode());
        return kHttpErrorExitCode;
    }
    return 0;
}

namespace {

// One transfer. The request is left in *last; a failure for want of credentials is kept
// quiet when quietAuthentication holds, as the caller will ask for them.
int fetchOnce(const FetchOptions& options, const QString& url, bool toFile, HTTPRequestPtr* last,
              bool quietAuthentication) {
    HTTPRequestPtr request = makeRequest(options, url);
    *last = request;
    HTTPRequest& r = *request;
    if (const int code = configureRequest(r, options); code != 0) return code;
    std::optional<ProgressBar> progressBar;
    if (options.progress) {
        progressBar.emplace();
        r.setUploadProgressDelegate(progressBar->uploadReceiver());
        r.setDownloadProgressDelegate(progressBar->downloadReceiver());
    }

    const bool printHead = options.include || options.head;
    bool ended = false;
    r.setHeadersReceivedBlock([&options, &r, printHead](const http::Headers&) {
        if (options.verbose) {
            writeOut(stderr, requestBlock(r));
            writeOut(stderr, headBlock(r, QStringLiteral("< ")));
        }
        if (printHead) writeOut(stdout, headBlock(r, QString()) + "\r\n");
    });
    std::optional<QFile> stream;
    const bool cached = !options.cache.directory.isEmpty();
    QString spool;
    if (const int code = cached ? directCachedOutput(r, options, toFile, &spool)
                                : directOutput(r, options, toFile, stream, true);
        code != 0) {
        return code;
    }
    r.setCompletionBlock([&ended] { ended = true; });
    r.setFailedBlock([&ended] { ended = true; });

    QElapsedTimer clock;
    clock.start();
    const quint64 connectionsBefore = HTTPRequest::newConnectionCount();
    if (options.async) {
        r.startAsynchronous();
        while (!ended) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } else {
        r.startSynchronous();
        // Callbacks of a request run on another thread would still be queued here.
        QCoreApplication::processEvents();
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (progressBar) progressBar->finish();
    if (cached) {
        if (const int code = finishCachedOutput(r, options, toFile, spool); code != 0) return code;
    }
    std::fflush(stdout);
    const bool resumed = toFile && options.resume && !stream;
    if (resumed) restorePartial(options.output);
    const bool quiet =
        quietAuthentication && r.error() && r.error()->code == http::AuthenticationErrorType;
    const int code = reportTransfer(r, options, seconds,
                                    HTTPRequest::newConnectionCount() - connectionsBefore, quiet);
    if (code != 0 || !resumed || !r.requestHeaders().contains(QStringLiteral("Range"))) {
        return code;
    }
    const int status = r.responseStatusCode();
    if (status == 416) {
        std::fprintf(stderr, "lumaro-fetch: %s is already complete\n", qPrintable(options.output));
        return 0;
    }
    if (status < 200 || status >= 300) {
        std::fprintf(stderr,
                     "lumaro-fetch: The requested URL returned error: %d; %s is left as it was\n",
                     status, qPrintable(options.output));
        return kHttpErrorExitCode;
    }
    return 0;
}

}  // namespace

int fetch(const FetchOptions& options, const QString& url, bool toFile) {
    FetchOptions current = options;
    const bool terminal = standardInputIsTerminal();
    // A login is asked for once per kind, and only when none was given for that kind.
    bool serverKnown = current.user.has_value() || !QUrl(url).userName().isEmpty();
    bool proxyKnown = current.proxyUser.has_value();
    for (;;) {
        HTTPRequestPtr request;
        const bool mayAsk = terminal && (!serverKnown || !proxyKnown);
        const int code = fetchOnce(current, url, toFile, &request, mayAsk);
        if (code != http::AuthenticationErrorType || !mayAsk) return code;
        const bool proxy = request->authenticationNeeded() == 2;
        const std::optional<TerminalLogin> login =
            (proxy ? proxyKnown : serverKnown) ? std::nullopt : askOnTerminal(*request, proxy);
        if (!login) {
            std::fprintf(stderr, "lumaro-fetch: %s\n",
                         qPrintable(request->error()->localizedDescription));
            return code;
        }
        if (proxy) {
            current.proxyUser = login->user;
            current.proxyPassword = login->password;
            proxyKnown = true;
        } else {
            current.user = login->user;
            current.password = login->password;
            serverKnown = true;
        }
    }
}

int prepareSession(const FetchOptions& options) {
    if (options.noProxy) platform::SystemProxySettings::setNoProxyOverride(options.noProxy);
    if (options.cookieJar.isEmpty() &&
        (options.cookieInput.isEmpty() || literalCookieInput(options))) {
        return 0;
    }
    // The run's cookies are its jar's alone, never the engine's own file.
    platform::CookieStore& store = platform::CookieStore::shared();
    store.keepInMemoryOnly();
    if (options.cookieInput.isEmpty() || literalCookieInput(options)) return 0;
    QList<QNetworkCookie> cookies;
    QString problem;
    if (!readCookieJar(options.cookieInput, &cookies, &problem)) return usageFailure(problem);
    store.replaceAllCookies(cookies);
    return 0;
}

int finishSession(const FetchOptions& options) {
    if (options.cookieJar.isEmpty()) return 0;
    QString problem;
    if (!writeCookieJar(options.cookieJar, platform::CookieStore::shared().allCookies(),
                        &problem)) {
        return usageFailure(problem);
    }
    return 0;
}
