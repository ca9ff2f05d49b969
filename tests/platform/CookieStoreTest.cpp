#include <gtest/gtest.h>

#include <QFile>

#include "platform/CookieStore.h"
#include "support/TempHome.h"

namespace {

using platform::CookieStore;

QStringList sortedNames(const QList<QNetworkCookie>& cookies) {
    QStringList result;
    for (const auto& cookie : cookies) result << QString::fromUtf8(cookie.name());
    result.sort();
    return result;
}

TEST(CookieStore, AnswersByDomainPathAndSchemeAndKeepsOnlyCookiesWithAnExpiryAcrossProcesses) {
    TempHome home;
    const QString file = home.path() + "/cookies";
    const QUrl origin("http://shop.example.test/cart/view");
    {
        CookieStore store(file);
        const auto cookies = CookieStore::cookiesWithResponseHeaderFields(
            {{"set-cookie", "a=1"},
             {"Set-Cookie", "b=2; Path=/cart"},
             {"Set-Cookie", "secure=3; Secure"},
             {"Set-Cookie", "elsewhere=4; Domain=other.test"},
             {"Set-Cookie", "kept=5; Max-Age=3600"},
             {"Set-Cookie", "gone=6; Max-Age=3600"}},
            origin);
        // The domain and path default to the answering URL's.
        EXPECT_EQ(cookies[0].path(), "/cart/");
        store.setCookies(cookies, origin);
        for (const auto& cookie : store.allCookies()) {
            if (cookie.name() == "gone") store.deleteCookie(cookie);
        }
        // Another site's cookie is refused, and so is a Secure one from plain HTTP.
        for (const char* url :
             {"http://shop.example.test/cart/x", "https://shop.example.test/cart/"})
            EXPECT_EQ(sortedNames(store.cookiesForUrl(QUrl(url))), (QStringList{"a", "b", "kept"}));
        EXPECT_TRUE(store.cookiesForUrl(QUrl("http://shop.example.test/")).isEmpty());
        EXPECT_TRUE(store.cookiesForUrl(QUrl("http://other.test/cart/")).isEmpty());
    }
    EXPECT_EQ(sortedNames(CookieStore(file).cookiesForUrl(origin)), QStringList{"kept"});
    EXPECT_EQ(QFile(file).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);

    // A damaged file loses what cannot be read, nothing more.
    QFile damaged(file);
    ASSERT_TRUE(damaged.open(QIODevice::Append));
    damaged.write("\x01\x02 garbage ;;; =\n");
    damaged.close();
    EXPECT_EQ(sortedNames(CookieStore(file).cookiesForUrl(origin)), QStringList{"kept"});
}

}  // namespace
