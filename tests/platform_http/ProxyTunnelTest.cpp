// An https stream through an HTTP proxy that will not open the tunnel: whatever the proxy
// answers instead is never handed on as the site's answer.
#include <gtest/gtest.h>

#include "platform/http/HttpStream.h"
#include "platform_http/StreamDriver.h"
#include "servers/ScriptedServer.h"

namespace {

using lumaro::test::makeMessage;
using lumaro::test::runStream;
using lumaro::test::ScriptedConnection;
using lumaro::test::ScriptedServer;
using platform::HttpProxyType;
namespace network_error = platform::network_error;

TEST(ProxyTunnel, AnyAnswerButSuccessToConnectFailsTheStream) {
    struct Refusal {
        const char* name;
        std::string answer;
        int code;
    };
    const Refusal refusals[] = {
        {"redirect with a cookie and a body",
         "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/lure\r\n"
         "Set-Cookie: session=stolen; Domain=secure.test\r\nContent-Length: 4\r\n\r\nlure",
         network_error::kProxyConnectionFailed},
        {"forbidden without a length", "HTTP/1.1 403 Forbidden\r\nConnection: close\r\n\r\nno",
         network_error::kProxyConnectionFailed},
        {"informational then refused",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n",
         network_error::kProxyConnectionFailed},
        {"credentials wanted",
         "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
         "realm=\"p\"\r\nContent-Length: 3\r\n\r\nwho",
         network_error::kProxyAuthenticationRequired},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        std::string requestLine;
        lumaro::test::StreamOutcome outcome;
        {
            ScriptedServer proxy([&](ScriptedConnection& connection) {
                if (const auto request = connection.readRequest()) {
                    requestLine = request->requestLine;
                }
                connection.send(refusal.answer);
                connection.waitForPeerClose(2000);
            });
            auto stream = platform::HttpStream::create(makeMessage("https://secure.test/account"));
            stream->setProxy({HttpProxyType::Https, "127.0.0.1", proxy.port()});
            outcome = runStream(stream);
        }
        ASSERT_TRUE(outcome.failed);
        EXPECT_EQ(outcome.error.domain, platform::HttpStreamErrorDomain::Network);
        EXPECT_EQ(outcome.error.code, refusal.code);
        EXPECT_FALSE(outcome.header.isHeaderComplete());
        EXPECT_TRUE(outcome.body.empty());
        EXPECT_EQ(outcome.bytesAvailableEvents, 0);
        EXPECT_EQ(requestLine, "CONNECT secure.test:443 HTTP/1.1");
    }
}

}  // namespace
