#pragma once

#include <QString>

#include "http/HTTPRequest.h"

namespace http {

// The words of a login form, shared by the dialog and by terminal prompts.
namespace login_texts {

inline QString userPlaceholder() { return QStringLiteral("User"); }
inline QString passwordPlaceholder() { return QStringLiteral("Password"); }
inline QString domainPlaceholder() { return QStringLiteral("Domain"); }
inline QString loginButton() { return QStringLiteral("Login"); }

// A proxy login is one the request's proxy asked for.
inline bool isProxyLogin(const HTTPRequest& request) { return request.authenticationNeeded() == 2; }

inline QString prompt(bool proxy) {
    return proxy ? QStringLiteral("Login to this secure proxy server.")
                 : QStringLiteral("Login to this secure server.");
}

inline QString title(const HTTPRequest& request, bool proxy) {
    return proxy ? request.proxyHost() : request.url().host();
}

inline QString scheme(const HTTPRequest& request, bool proxy) {
    return proxy ? request.proxyAuthenticationScheme() : request.authenticationScheme();
}

inline QString realm(const HTTPRequest& request, bool proxy) {
    return proxy ? request.proxyAuthenticationRealm() : request.authenticationRealm();
}

// Whether the password crosses the network readable: Basic to a server over plain HTTP, or
// Basic to an HTTP proxy, which is always spoken to in the clear.
inline bool sentInTheClear(const HTTPRequest& request, bool proxy) {
    if (scheme(request, proxy) != QLatin1String("Basic")) return false;
    return proxy ||
           request.url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0;
}

inline QString footer(const HTTPRequest& request, bool proxy) {
    return sentInTheClear(request, proxy) ? QStringLiteral("Password will be sent in the clear.")
                                          : QStringLiteral("Password will be sent securely.");
}

}  // namespace login_texts

}  // namespace http
