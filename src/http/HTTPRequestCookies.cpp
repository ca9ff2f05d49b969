// The session cookie list: every cookie the engine accepted in this process, so that
// clearSession can take them all out of the shared cookie store again.
#include <mutex>

#include "http/HTTPRequest.h"
#include "platform/CookieStore.h"

namespace http {

namespace {

struct SessionCookies {
    std::recursive_mutex sessionCookieLock;
    QList<QNetworkCookie> list;
};

SessionCookies& session() {
    // Never destroyed: requests on the network thread may outlive static destruction.
    static auto* state = new SessionCookies();
    return *state;
}

}  // namespace

QList<QNetworkCookie> HTTPRequest::sessionCookies() {
    auto& state = session();
    std::lock_guard lock(state.sessionCookieLock);
    return state.list;
}

void HTTPRequest::setSessionCookies(const QList<QNetworkCookie>& cookies) {
    auto& state = session();
    std::lock_guard lock(state.sessionCookieLock);
    for (const QNetworkCookie& cookie : state.list) {
        platform::CookieStore::shared().deleteCookie(cookie);
    }
    state.list = cookies;
}

void HTTPRequest::addSessionCookie(const QNetworkCookie& cookie) {
    auto& state = session();
    std::lock_guard lock(state.sessionCookieLock);
    for (qsizetype i = 0; i < state.list.size(); ++i) {
        const QNetworkCookie& listed = state.list[i];
        if (listed.domain() == cookie.domain() && listed.path() == cookie.path() &&
            listed.name() == cookie.name()) {
            state.list.removeAt(i);
            break;
        }
    }
    state.list.append(cookie);
}

}  // namespace http
