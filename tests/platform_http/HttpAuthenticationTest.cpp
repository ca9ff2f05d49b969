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

HttpRequestMessage message(const char* method = "GET",
                           const char* url = "http://example.org/dir/index.html") {
    return *HttpRequestMessage::create(method, QUrl(url), platform::HttpVersion::Http11);
}

// The parameters of a Digest Authorization value.
QMap<QString, QString> digestFields(const QString& value) {
    QMap<QString, QString> fields;
    static const QRegularExpression pair(QStringLiteral(R"re((\w+\*?)=("([^"]*)"|[^,\s]+))re"));
    for (auto it = pair.globalMatch(value.mid(7)); it.hasNext();) {
        const auto m = it.next();
        fields[m.captured(1)] = m.captured(3).isNull() ? m.captured(2) : m.captured(3);
    }
    return fields;
}

// The response a server expecting u:p under realm "r" computes from what the client sent.
QString serverResponse(const QMap<QString, QString>& sent, const QString& method,
                       const QByteArray& bodyHash = {}) {
    DigestInput in;
    in.username = "u";
    in.realm = "r";
    in.password = "p";
    in.method = method;
    in.uri = sent["uri"];
    in.nonce = sent["nonce"];
    in.cnonce = sent["cnonce"];
    in.nonceCount = sent["nc"].toInt(nullptr, 16);
    in.qop = sent["qop"];
    in.bodyHash = bodyHash;
    return QString::fromLatin1(platform::digestResponse(in));
}

TEST(AuthenticationChallenges, ParseSeveralPerFieldAndAcrossFieldsAndSkipMalformedPieces) {
    const struct {
        QStringList fields;
        QString expected;  // scheme{param=value;...}[token] per challenge, "|" between
    } cases[] = {
        {{R"(Basic realm="a b")"}, "Basic{realm=a b}"},
        {{R"(Basic realm="x", Digest realm="y", nonce="n", qop="auth, auth-int")"},
         "Basic{realm=x}|Digest{nonce=n;qop=auth, auth-int;realm=y}"},
        {{"Negotiate", "NTLM", R"(Basic realm="z")"}, "Negotiate{}|NTLM{}|Basic{realm=z}"},
        {{"Negotiate YIIBhwYGKwYBBQUCoIIBezCCAXeg==, Basic realm=w"},
         "Negotiate{}[YIIBhwYGKwYBBQUCoIIBezCCAXeg==]|Basic{realm=w}"},
        {{R"(Digest realm="q\"uo\\te", nonce=abc)"}, R"(Digest{nonce=abc;realm=q"uo\te})"},
        {{R"(Basic realm="first", realm="second")"}, "Basic{realm=first}"},
        {{"Basic realm=\"never closed"}, "Basic{}"},
        {{",,, , Basic   realm = spaced ,"}, "Basic{realm=spaced}"},
        {{"=broken, Basic realm=ok"}, "Basic{realm=ok}"},
        {{"Ba/sic realm=x, Digest nonce=1"}, "Digest{nonce=1}"},
        {{"Basic realm=a b, NTLM"}, "Basic{}|NTLM{}"},
        {{""}, ""},
        {{QString(20000, QLatin1Char('x'))}, ""},
    };
    for (const auto& c : cases) {
        QStringList rendered;
        for (const auto& challenge : platform::parseAuthenticationChallenges(c.fields)) {
            QStringList params;
            for (auto it = challenge.parameters.cbegin(); it != challenge.parameters.cend(); ++it)
                params << it.key() + "=" + it.value();
            QString text = challenge.scheme + "{" + params.join(";") + "}";
            if (!challenge.token68.isEmpty()) text += "[" + challenge.token68 + "]";
            rendered << text;
        }
        EXPECT_EQ(rendered.join("|"), c.expected) << c.fields.join(" / ").left(80).toStdString();
    }
}

TEST(AuthenticationChallenges, TheStrongestAnswerableSchemeIsChosen) {
    const struct {
        int status;
        QStringList fields;
        QString method;      // null: no handle
        QString recognised;  // the strongest recognised scheme
    } cases[] = {
        {401, {R"(Basic realm="r")"}, "Basic", "Basic"},
        {401, {R"(Basic realm="r", Digest realm="r", nonce="n")"}, "Digest", "Digest"},
        {401, {"NTLM", "Negotiate"}, QString(), "Negotiate"},
        {401, {"NTLM", "basic realm=x"}, "Basic", "Basic"},
        {401, {R"(Digest realm="r", nonce="n", algorithm=SHA-512-256)"}, QString(), "Digest"},
        {401, {R"(Digest realm="r", nonce="n", qop="auth-conf")"}, QString(), "Digest"},
        {401, {R"(Digest realm="r")"}, QString(), "Digest"},
        {401, {"Bearer realm=api"}, QString(), QString()},
        {401, {}, QString(), QString()},
        // The proxy's field is read for a 407, the server's for a 401.
        {407, {R"(Basic realm="proxy")"}, "Basic", "Basic"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields.join(" / ").toStdString());
        const auto header = challengeAnswer(c.status, c.fields);
        const auto handle = HttpAuthentication::createFromResponse(header);
        EXPECT_EQ(handle ? handle->method() : QString(), c.method);
        EXPECT_EQ(HttpAuthentication::recognisedMethod(header), c.recognised);
    }
    // A SHA-256 challenge beats an MD5 one whatever the order.
    const auto both = HttpAuthentication::createFromResponse(challengeAnswer(
        401,
        {R"(Digest realm="r", nonce="n")", R"(Digest realm="r", nonce="n", algorithm=SHA-256)"}));
    auto m = message();
    ASSERT_TRUE(both->applyCredentials(m, {"u", "p", {}}));
    EXPECT_EQ(digestFields(m.headerFieldValue("Authorization"))["algorithm"], "SHA-256");
}

// Published examples (RFC 7616 section 3.9.1, RFC 2617 section 3.5) and values worked out
// independently for the session variants, integrity protection and the old form.
TEST(DigestResponse, MatchesPublishedAndIndependentVectors) {
    const QString nonce = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
    const QString cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
    auto base = [&](DigestAlgorithm algorithm) {
        DigestInput in;
        in.algorithm = algorithm;
        in.username = "Mufasa";
        in.realm = "http-auth@example.org";
        in.password = "Circle of Life";
        in.method = "GET";
        in.uri = "/dir/index.html";
        in.nonce = nonce;
        in.cnonce = cnonce;
        in.nonceCount = 1;
        in.qop = "auth";
        return in;
    };
    DigestInput rfc2617 = base(DigestAlgorithm::Md5);
    rfc2617.realm = "testrealm@host.com";
    rfc2617.password = "Circle Of Life";
    rfc2617.nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
    rfc2617.cnonce = "0a4f113b";
    DigestInput authInt = base(DigestAlgorithm::Md5);
    authInt.method = "POST";
    authInt.qop = "auth-int";
    authInt.nonceCount = 2;
    authInt.bodyHash = QCryptographicHash::hash("hello", QCryptographicHash::Md5).toHex();
    DigestInput old = base(DigestAlgorithm::Md5);
    old.qop.clear();
    const struct {
        const char* name;
        DigestInput input;
        QByteArray expected;
    } cases[] = {
        {"RFC 7616 MD5", base(DigestAlgorithm::Md5), "8ca523f5e9506fed4657c9700eebdbec"},
        {"RFC 7616 SHA-256", base(DigestAlgorithm::Sha256),
         "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
        {"RFC 2617", rfc2617, "6629fae49393a05397450978507c4ef1"},
        {"MD5-sess", base(DigestAlgorithm::Md5Session), "e783283f46242139c486a698fec7211d"},
        {"SHA-256-sess", base(DigestAlgorithm::Sha256Session),
         "2fd51b3a77ad75bad6afad6003e818d767133c46d9e2749e7f5232ae1ea3efd7"},
        {"auth-int", authInt, "2ead7d34ddf3b4f0a376c493fd5e7ba8"},
        {"no qop", old, "7b2cc3b30e75b4777ea31027084363fd"},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::digestResponse(c.input), c.expected) << c.name;
}

TEST(HttpAuthentication, BasicSendsUtf8AndRefusesWhatCannotBeSent) {
    const auto handle =
        HttpAuthentication::createFromResponse(challengeAnswer(401, {"Basic realm=r"}));
    auto m = message();
    ASSERT_TRUE(handle->applyCredentials(m, {QString::fromUtf8("jürgen"), "pässwort", {}}));
    EXPECT_EQ(
        m.headerFieldValue("Authorization"),
        "Basic " + QString::fromLatin1(QString::fromUtf8("jürgen:pässwort").toUtf8().toBase64()));
    for (const HttpCredentials& bad :
         {HttpCredentials{"a:b", "p", {}}, HttpCredentials{"a", "p\r\nX-Evil: 1", {}},
          HttpCredentials{"a\n", "p", {}}}) {
        auto untouched = message();
        EXPECT_FALSE(handle->applyCredentials(untouched, bad)) << bad.username.toStdString();
        EXPECT_TRUE(untouched.headerFieldValue("Authorization").isNull());
    }
}

TEST(HttpAuthentication, DigestCountsNoncesEchoesOpaqueAndAnswersAStaleNonceItself) {
    const auto handle = HttpAuthentication::createFromResponse(challengeAnswer(
        401, {R"(Digest realm="r", nonce="one", qop="auth,auth-int", opaque="op\"aque")"}));
    auto first = message();
    auto second = message("GET", "http://example.org/a%20b?q=1");
    ASSERT_TRUE(handle->applyCredentials(first, {"u", "p", {}}));
    ASSERT_TRUE(handle->applyCredentials(second, {"u", "p", {}}));
    const auto f1 = digestFields(first.headerFieldValue("Authorization"));
    const auto f2 = digestFields(second.headerFieldValue("Authorization"));
    EXPECT_EQ(f1["nc"], "00000001");
    EXPECT_EQ(f2["nc"], "00000002");
    EXPECT_EQ(f1["qop"], "auth");
    EXPECT_EQ(f2["uri"], "/a%20b?q=1");
    EXPECT_TRUE(first.headerFieldValue("Authorization").contains(R"(opaque="op\"aque")"));
    // Client nonces are fresh every time and long enough not to be guessed.
    EXPECT_NE(f1["cnonce"], f2["cnonce"]);
    EXPECT_GE(f1["cnonce"].size(), 32);
    EXPECT_EQ(f2["response"], serverResponse(f2, "GET"));

    // A stale nonce is not a refusal: same credentials, new nonce, counting from 1.
    handle->updateFromResponse(
        challengeAnswer(401, {R"(Digest realm="r", nonce="two", qop="auth", stale=true)"}));
    EXPECT_TRUE(handle->isValid());
    auto third = message();
    ASSERT_TRUE(handle->applyCredentials(third, {"u", "p", {}}));
    const auto f3 = digestFields(third.headerFieldValue("Authorization"));
    EXPECT_EQ(f3["nonce"], "two");
    EXPECT_EQ(f3["nc"], "00000001");
    EXPECT_FALSE(f3.contains("opaque"));

    // The same challenge again after credentials went out is a refusal, and stays one.
    handle->updateFromResponse(challengeAnswer(401, {R"(Digest realm="r", nonce="three")"}));
    platform::HttpStreamError error;
    EXPECT_FALSE(handle->isValid(&error));
    EXPECT_EQ(error.domain, platform::HttpStreamErrorDomain::HttpAuthentication);
    EXPECT_EQ(error.code, platform::http_authentication_error::kBadPassword);
    auto refused = message();
    EXPECT_FALSE(handle->applyCredentials(refused, {"u", "p", {}}));
    handle->updateFromResponse(
        challengeAnswer(401, {R"(Digest realm="r", nonce="four", stale=true)"}));
    EXPECT_FALSE(handle->isValid());
}

TEST(HttpAuthentication, AServerThatCallsEveryNonceStaleIsRefusedAfterAFewRenewals) {
    const auto handle = HttpAuthentication::createFromResponse(
        challengeAnswer(401, {R"(Digest realm="r", nonce="0")"}));
    int renewals = 0;
    for (; renewals < 10; ++renewals) {
        auto m = message();
        if (!handle->applyCredentials(m, {"u", "p", {}})) break;
        handle->updateFromResponse(challengeAnswer(
            401,
            {QStringLiteral(R"(Digest realm="r", nonce="%1", stale=true)").arg(renewals + 1)}));
    }
    EXPECT_EQ(renewals, 4);
    EXPECT_FALSE(handle->isValid());
}

TEST(HttpAuthentication, IntegrityProtectionOnlyWhenOfferedAloneAndHashesTheBody) {
    const auto handle = HttpAuthentication::createFromResponse(
        challengeAnswer(401, {R"(Digest realm="r", nonce="n", qop="auth-int")"}));
    auto post = message("POST");
    ASSERT_TRUE(handle->applyCredentials(post, {"u", "p", {}}, {"hello", {}}));
    const auto f = digestFields(post.headerFieldValue("Authorization"));
    EXPECT_EQ(f["qop"], "auth-int");
    EXPECT_EQ(f["response"],
              serverResponse(f, "POST",
                             QCryptographicHash::hash("hello", QCryptographicHash::Md5).toHex()));
    // A non-ASCII user name goes in its extended form.
    auto named = message();
    ASSERT_TRUE(handle->applyCredentials(named, {QString::fromUtf8("Jäsøn"), "p", {}}));
    EXPECT_TRUE(
        named.headerFieldValue("Authorization").contains("username*=UTF-8''J%C3%A4s%C3%B8n"));
}

}  // namespace
