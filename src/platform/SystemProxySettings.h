#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

namespace platform {

// One proxy that the system settings name for an address.
struct SystemProxy {
    enum class Type { None, Http, Https, Socks, AutoConfigurationURL };
    Type type = Type::None;
    QString host;
    quint16 port = 0;
    QUrl autoConfigurationURL;
    bool operator==(const SystemProxy&) const = default;
};

// The proxies the system asks for, in this order of precedence:
// 1. LUMARO_PAC_URL: a proxy auto-configuration script for every address.
// 2. no_proxy (else NO_PROXY), or the list a tool put in its place: a host it names is
//    reached directly.
// 3. The environment, exactly as curl reads it: <scheme>_proxy, or its upper-case form
//    except for http (HTTP_PROXY can be set by a request's "Proxy:" header in CGI
//    programs, so curl never reads it); then all_proxy, else ALL_PROXY. Empty variables
//    count as unset. Once any proxy variable is set the environment alone decides.
// 4. The desktop's settings through Qt (libproxy on Debian).
namespace SystemProxySettings {

// The proxies to use for url, first choice first (an empty list: connect directly). None
// when a setting cannot be used, with the reason in *problem: an unsupported proxy scheme
// (curl's https, socks4 and socks4a proxies) or an address without a usable host or port.
std::optional<QList<SystemProxy>> proxiesForURL(const QUrl& url, QString* problem);

// A proxy given as curl takes it: [scheme://][user:password@]host[:port], where the
// scheme is http (the default), socks5 or socks5h, and the port defaults to 1080.
std::optional<SystemProxy> parseProxyAddress(const QString& text, QString* problem);

// Replaces no_proxy for the rest of the process (a tool's --noproxy); none restores it.
void setNoProxyOverride(const std::optional<QString>& list);
std::optional<QString> noProxyOverride();

}  // namespace SystemProxySettings

}  // namespace platform
