#include <gtest/gtest.h>

#include <QRegularExpression>

#include "platform/http/HttpAuthentication.h"
#include "platform/http/HttpDigest.h"

using platform::DigestAlgorithm;
using platform::DigestInput;
using platform::HttpAuthentication;
using platform::HttpCredentials;
using platform::HttpRequestMessage;
using platform::HttpResponseHeader;

namespace {

HttpResponseHeader challengeAnswer(int status, const QStringList& fields) {
    HttpResponseHeader header;
    header.setStatus(status, QStringLiteral("HTTP/1.1 %1 X").arg(status),
                     QStringLiteral("HTTP/1.1"));
    const QString name = status == 407 ? "Proxy-Authenticate" : "WWW-Authenticate";
    for (const QString& value : fields) header.addField(name, value);
    header.setComplete(true);
    return header;
}

platform::HttpAuthenticationPtr handleFor(const QStringList& fields) {
    return HttpAuthentication::createFromResponse(challengeAnswer(401, fields));
}

// The parameters of the Authorization value a handle puts on a request to url.
QMap<QString, QString> applied(HttpAuthentication& handle, const HttpCredentials& credentials,
                               const char* method = "GET",
                               const char* url = "http://example.org/dir/index.html",
                               const QByteArray& body = {}) {
    auto m = *HttpRequestMessage::create(method, QUrl(url), platform::HttpVersion::Http11);
    const bool ok = handle.applyCredentials(m, credentials, {body, {}});
    const QString value = m.headerFieldValue("Authorization");
    QMap<QString, QString> fields;
    if (!value.isNull()) fields["*"] = value;
    // Empty for a refusal, unless the refused credentials were written all the same.
    if (!ok) return fields;
    static const QRegularExpression pair(QStringLiteral(R"re((\w+\*?)=("([^"]*)"|[^,\s]+))re"));
    for (auto it = pair.globalMatch(value.mid(7)); it.hasNext();) {
        const auto match = it.next();
        fields[match.captured(1)] =
            match.captured(3).isNull() ? match.captured(2) : match.captured(3);
    }
    return fields;
}

// The response a server expecting u:p under realm "r" computes from what the client sent.
QString serverResponse(const QMap<QString, QString>& sent, const QString& method,
                       const QByteArray& bodyHash = {}) {
    return QString::fromLatin1(platform::digestResponse(
        {DigestAlgorithm::Md5, "u", "r", "p", method, sent["uri"], sent["nonce"], sent["cnonce"],
         sent["nc"].toUInt(nullptr, 16), sent["qop"], bodyHash}));
}

// Each case: the challenge fields; how they parse (scheme{param=value;...}[token] per
// challenge, "|" between); then the scheme of the handle made from them ("-": none) and the
// strongest scheme recognised ("-": none).
TEST(AuthenticationChallenges, ParseAndChooseTheStrongestAnswerableScheme) {
    const struct {
        QStringList fields;
        QString expected;
    } cases[] = {
        {{R"(Basic realm="a b")"}, "Basic{realm=a b} Basic Basic"},
        {{R"(Basic realm="x", Digest realm="y", nonce="n", qop="auth, auth-int")"},
         "Basic{realm=x}|Digest{nonce=n;qop=auth, auth-int;realm=y} Digest Digest"},
        {{"Negotiate", "NTLM", R"(Basic realm="z")"},
         "Negotiate{}|NTLM{}|Basic{realm=z} Basic Basic"},
        {{"Negotiate YIIBhwYGKwYBBQUCoIIBezCCAXeg==, Basic realm=w"},
         "Negotiate{}[YIIBhwYGKwYBBQUCoIIBezCCAXeg==]|Basic{realm=w} Basic Basic"},
        {{R"(Digest realm="q\"uo\\te", nonce=abc)"},
         R"(Digest{nonce=abc;realm=q"uo\te} Digest Digest)"},
        {{R"(Basic realm="first", realm="second")"}, "Basic{realm=first} Basic Basic"},
        {{"Basic realm=\"never closed"}, "Basic{} Basic Basic"},
        {{",,, , Basic   realm = spaced ,"}, "Basic{realm=spaced} Basic Basic"},
        {{"=broken, Basic realm=ok"}, "Basic{realm=ok} Basic Basic"},
        {{"Ba/sic realm=x, Digest nonce=1"}, "Digest{nonce=1} Digest Digest"},
        {{"Basic realm=a b, NTLM"}, "Basic{}|NTLM{} Basic Basic"},
        {{"NTLM", "basic realm=x"}, "NTLM{}|basic{realm=x} Basic Basic"},
        {{"NTLM", "Negotiate"}, "NTLM{}|Negotiate{} - Negotiate"},
        {{R"(Digest realm="r", nonce="n", algorithm=SHA-512-256)"},
         "Digest{algorithm=SHA-512-256;nonce=n;realm=r} - Digest"},
        {{R"(Digest realm="r", nonce="n", qop="auth-conf")"},
         "Digest{nonce=n;qop=auth-conf;realm=r} - Digest"},
        {{R"(Digest realm="r")"}, "Digest{realm=r} - Digest"},
        {{"Bearer realm=api"}, "Bearer{realm=api} - -"},
        {{""}, " - -"},
        {{QString(20000, QLatin1Char('x'))}, " - -"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields.join(" / ").left(80).toStdString());
        QStringList rendered;
        for (const auto& challenge : platform::parseAuthenticationChallenges(c.fields)) {
            QStringList params;
            for (auto it = challenge.parameters.cbegin(); it != challenge.parameters.cend(); ++it)
                params << it.key() + "=" + it.value();
            QString text = challenge.scheme + "{" + params.join(";") + "}";
            if (!challenge.token68.isEmpty()) text += "[" + challenge.token68 + "]";
            rendered << text;
        }
        // The proxy's field is read for a 407, the server's for a 401.
        for (int status : {401, 407}) {
            const auto header = challengeAnswer(status, c.fields);
            const auto handle = HttpAuthentication::createFromResponse(header);
            const QString recognised = HttpAuthentication::recognisedMethod(header);
            const QString outcome = rendered.join("|") + " " + (handle ? handle->method() : "-") +
                                    " " + (recognised.isEmpty() ? "-" : recognised);
            EXPECT_EQ(outcome.toStdString(), c.expected.toStdString()) << status;
        }
    }
    // A SHA-256 challenge beats an MD5 one whatever the order.
    const auto both = handleFor(
        {R"(Digest realm="r", nonce="n")", R"(Digest realm="r", nonce="n", algorithm=SHA-256)"});
    EXPECT_EQ(applied(*both, {"u", "p", {}})["algorithm"], "SHA-256");
}

// Published examples (RFC 7616 section 3.9.1, RFC 2617 section 3.5) and values worked out
// independently for the session variants, integrity protection and the old form.
TEST(DigestResponse, MatchesPublishedAndIndependentVectors) {
    using enum DigestAlgorithm;
    const QString user = "Mufasa", realm = "http-auth@example.org", password = "Circle of Life";
    const QString uri = "/dir/index.html";
    const QString nonce = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
    const QString cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
    const auto input = [&](DigestAlgorithm algorithm, const QString& qop = "auth",
                           const QByteArray& bodyHash = {}) {
        DigestInput in{algorithm, user,   realm, password, "GET",       uri,
                       nonce,     cnonce, 1,     qop,      QByteArray()};
        if (!bodyHash.isEmpty())
            in = {algorithm, user, realm, password, "POST", uri, nonce, cnonce, 2, qop, bodyHash};
        return in;
    };
    const struct {
        const char* name;
        DigestInput input;
        QByteArray expected;
    } cases[] = {
        {"RFC 7616 MD5", input(Md5), "8ca523f5e9506fed4657c9700eebdbec"},
        {"RFC 7616 SHA-256", input(Sha256),
         "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
        {"RFC 2617",
         {Md5, user, "testrealm@host.com", "Circle Of Life", "GET", uri,
          "dcd98b7102dd2f0e8b11d0f600bfb0c093", "0a4f113b", 1, "auth", QByteArray()},
         "6629fae49393a05397450978507c4ef1"},
        {"MD5-sess", input(Md5Session), "e783283f46242139c486a698fec7211d"},
        {"SHA-256-sess", input(Sha256Session),
         "2fd51b3a77ad75bad6afad6003e818d767133c46d9e2749e7f5232ae1ea3efd7"},
        {"auth-int",
         input(Md5, "auth-int", QCryptographicHash::hash("hello", QCryptographicHash::Md5).toHex()),
         "2ead7d34ddf3b4f0a376c493fd5e7ba8"},
        {"no qop", input(Md5, QString()), "7b2cc3b30e75b4777ea31027084363fd"},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::digestResponse(c.input), c.expected) << c.name;
}

TEST(HttpAuthentication, BasicSendsUtf8AndRefusesWhatCannotBeSent) {
    const auto handle = handleFor({"Basic realm=r"});
    EXPECT_EQ(applied(*handle, {QString::fromUtf8("jürgen"), "pässwort", {}})["*"],
              "Basic " + QString::fromUtf8("jürgen:pässwort").toUtf8().toBase64());
    for (const HttpCredentials& bad :
         {HttpCredentials{"a:b", "p", {}}, HttpCredentials{"a", "p\r\nX-Evil: 1", {}},
          HttpCredentials{"a\n", "p", {}}}) {
        EXPECT_TRUE(applied(*handle, bad).isEmpty()) << bad.username.toStdString();
    }
}

TEST(HttpAuthentication, DigestCountsNoncesEchoesOpaqueAndAnswersAStaleNonceItself) {
    const auto handle =
        handleFor({R"(Digest realm="r", nonce="one", qop="auth,auth-int", opaque="op\"aque")"});
    const auto f1 = applied(*handle, {"u", "p", {}});
    const auto f2 = applied(*handle, {"u", "p", {}}, "GET", "http://example.org/a%20b?q=1");
    EXPECT_EQ(f1["nc"], "00000001");
    EXPECT_EQ(f2["nc"], "00000002");
    EXPECT_EQ(f1["qop"], "auth");
    EXPECT_EQ(f2["uri"], "/a%20b?q=1");
    EXPECT_TRUE(f1["*"].contains(R"(opaque="op\"aque")"));
    // Client nonces are fresh every time and long enough not to be guessed.
    EXPECT_NE(f1["cnonce"], f2["cnonce"]);
    EXPECT_GE(f1["cnonce"].size(), 32);
    EXPECT_EQ(f2["response"], serverResponse(f2, "GET"));

    // A stale nonce is not a refusal: same credentials, new nonce, counting from 1.
    handle->updateFromResponse(
        challengeAnswer(401, {R"(Digest realm="r", nonce="two", qop="auth", stale=true)"}));
    EXPECT_TRUE(handle->isValid());
    const auto f3 = applied(*handle, {"u", "p", {}});
    EXPECT_EQ(f3["nonce"], "two");
    EXPECT_EQ(f3["nc"], "00000001");
    EXPECT_FALSE(f3.contains("opaque"));

    // The same challenge again after credentials went out is a refusal, and stays one.
    handle->updateFromResponse(challengeAnswer(401, {R"(Digest realm="r", nonce="three")"}));
    platform::HttpStreamError error;
    EXPECT_FALSE(handle->isValid(&error));
    EXPECT_EQ(error.domain, platform::HttpStreamErrorDomain::HttpAuthentication);
    EXPECT_EQ(error.code, platform::http_authentication_error::kBadPassword);
    EXPECT_TRUE(applied(*handle, {"u", "p", {}}).isEmpty());
    handle->updateFromResponse(
        challengeAnswer(401, {R"(Digest realm="r", nonce="four", stale=true)"}));
    EXPECT_FALSE(handle->isValid());

    // A server that calls every nonce stale is refused after a few renewals.
    const auto renewed = handleFor({R"(Digest realm="r", nonce="0")"});
    int renewals = 0;
    for (; renewals < 10 && !applied(*renewed, {"u", "p", {}}).isEmpty(); ++renewals) {
        renewed->updateFromResponse(challengeAnswer(
            401,
            {QStringLiteral(R"(Digest realm="r", nonce="%1", stale=true)").arg(renewals + 1)}));
    }
    EXPECT_EQ(renewals, 4);
    EXPECT_FALSE(renewed->isValid());
}

TEST(HttpAuthentication, IntegrityProtectionOnlyWhenOfferedAloneAndHashesTheBody) {
    const auto handle = handleFor({R"(Digest realm="r", nonce="n", qop="auth-int")"});
    const auto f =
        applied(*handle, {"u", "p", {}}, "POST", "http://example.org/dir/index.html", "hello");
    EXPECT_EQ(f["qop"], "auth-int");
    EXPECT_EQ(f["response"],
              serverResponse(f, "POST",
                             QCryptographicHash::hash("hello", QCryptographicHash::Md5).toHex()));
    // A non-ASCII user name goes in its extended form.
    EXPECT_EQ(applied(*handle, {QString::fromUtf8("Jäsøn"), "p", {}})["username*"],
              "UTF-8''J%C3%A4s%C3%B8n");
}

}  // namespace
