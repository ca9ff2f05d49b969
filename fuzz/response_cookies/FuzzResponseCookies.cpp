// Reads arbitrary Set-Cookie values as an answer from one site gives them, stores what is
// acceptable, and checks that no cookie reaches a site it does not belong to.

#include <QByteArray>
#include <QList>
#include <QNetworkCookie>
#include <QUrl>
#include <QtGlobal>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "platform/CookieStore.h"

using platform::CookieStore;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

const QUrl kSources[] = {QUrl("https://shop.example.co.uk/basket/list"),
                         QUrl("http://example.com/"), QUrl("https://127.0.0.1:8443/a/b")};
// Sites that share nothing with any source: no cookie of theirs may reach these.
const QUrl kStrangers[] = {QUrl("https://other.co.uk/"), QUrl("https://co.uk/"),
                           QUrl("https://other.com/"), QUrl("https://example.com.evil/"),
                           QUrl("http://127.0.0.2/a/b")};

// A store without a file still says so each time it saves: a million times is noise.
[[maybe_unused]] const bool quiet = [] {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const QUrl& source = kSources[data[0] % std::size(kSources)];
    const QByteArray input(reinterpret_cast<const char*>(data + 1),
                           static_cast<qsizetype>(size - 1));
    QList<std::pair<QByteArray, QByteArray>> fields;
    for (const QByteArray& line : input.split('\n')) fields.append({"Set-Cookie", line});
    fields.append({"Set-Cookiex", input});

    const QList<QNetworkCookie> cookies =
        CookieStore::cookiesWithResponseHeaderFields(fields, source);
    for (const QNetworkCookie& cookie : cookies) {
        // Filled in from the source where the value left them out.
        check(!cookie.domain().isEmpty());
        check(!cookie.path().isEmpty());
    }

    // A store without a file: nothing is written anywhere.
    CookieStore store{QString()};
    store.setCookies(cookies, source);
    for (const QUrl& stranger : kStrangers) check(store.cookiesForUrl(stranger).isEmpty());
    return 0;
}
