#include <gtest/gtest.h>

#include <QFile>

#include "platform/CookieStore.h"
#include "support/TempHome.h"

namespace {

using platform::CookieStore;

QStringList names(const QList<QNetworkCookie>& cookies) {
    QStringList result;
    for (const auto& cookie : cookies) result << QString::fromUtf8(cookie.name());
    return result;
}

TEST(CookieStore, ParsesSetCookieFieldsAndAnswersByDomainPathAndScheme) {
    TempHome home;
    CookieStore store(home.path() + "/cookies");
    const QUrl origin("http://shop.example.test/cart/view");
    const auto cookies = CookieStore::cookiesWithResponseHeaderFields(
        {{"Content-Type", "text/html"},
         {"set-cookie", "a=1"},
         {"Set-Cookie", "b=2; Path=/cart"},
         {"Set-Cookie", "secure=3; Secure"},
         {"Set-Cookie", "elsewhere=4; Domain=other.test"}},
        origin);
    ASSERT_EQ(names(cookies), (QStringList{"a", "b", "secure", "elsewhere"}));
    // The domain and path default to the answering URL's.
    EXPECT_EQ(cookies[0].domain(), "shop.example.test");
    EXPECT_EQ(cookies[0].path(), "/cart/");

    store.setCookies(cookies, origin);
    // Another site's cookie is refused, and so is a Secure one from plain HTTP.
    EXPECT_EQ(store.allCookies().size(), 2);
    EXPECT_EQ(names(store.cookiesForUrl(QUrl("http://shop.example.test/cart/x"))),
              (QStringList{"a", "b"}));
    EXPECT_EQ(names(store.cookiesForUrl(QUrl("https://shop.example.test/cart/x"))).size(), 2);
    EXPECT_TRUE(store.cookiesForUrl(QUrl("http://shop.example.test/")).isEmpty());
    EXPECT_TRUE(store.cookiesForUrl(QUrl("http://other.test/cart/")).isEmpty());
}

TEST(CookieStore, KeepsCookiesWithAnExpiryAcrossProcessesButNotSessionCookies) {
    TempHome home;
    const QString file = home.path() + "/cookies";
    const QUrl url("http://example.test/");
    {
        CookieStore store(file);
        store.setCookies(
            CookieStore::cookiesWithResponseHeaderFields({{"Set-Cookie", "session=1"},
                                                          {"Set-Cookie", "kept=2; Max-Age=3600"},
                                                          {"Set-Cookie", "gone=3; Max-Age=3600"}},
                                                         url),
            url);
        for (const auto& cookie : store.allCookies()) {
            if (cookie.name() == "gone") store.deleteCookie(cookie);
        }
        EXPECT_EQ(names(store.cookiesForUrl(url)).size(), 2);
    }
    CookieStore reopened(file);
    EXPECT_EQ(names(reopened.cookiesForUrl(url)), QStringList{"kept"});
    EXPECT_EQ(QFile(file).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);

    // A damaged file loses what cannot be read, nothing more.
    QFile damaged(file);
    ASSERT_TRUE(damaged.open(QIODevice::Append));
    damaged.write("\x01\x02 garbage ;;; =\n");
    damaged.close();
    CookieStore again(file);
    EXPECT_EQ(names(again.cookiesForUrl(url)), QStringList{"kept"});
}

}  // namespace
