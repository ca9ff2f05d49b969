#pragma once

#include <QString>

namespace platform {

// Where an error code comes from. The request engine decides what to do with a stream failure
// by domain and code alone (retry on a dead connection, name TLS problems), so the numbers
// below are part of the stream's contract.
enum class HttpStreamErrorDomain {
    None,
    // Operating-system socket errors, in the historical BSD numbering the engine checks.
    Posix,
    // Failures of the HTTP transport itself: connection, name lookup, malformed answers.
    Network,
    // TLS failures, codes -9818 to -9800.
    Security,
    // Credentials refused when applied to a message, codes -1001 and -1002.
    HttpAuthentication,
};

namespace posix_error {
inline constexpr int kBrokenPipe = 32;       // EPIPE
inline constexpr int kConnectionReset = 54;  // ECONNRESET
inline constexpr int kNotConnected = 57;     // ENOTCONN
}  // namespace posix_error

namespace network_error {
inline constexpr int kCannotFindHost = -1003;
inline constexpr int kCannotConnectToHost = -1004;
// A connection taken from the idle cache was found dead before any byte of the answer
// arrived: the request never reached the server, so it is safe to send it again once.
inline constexpr int kNetworkConnectionLost = -1005;
// The server closed the connection or reset it after the request may have been processed
// (a fresh connection, or part of the answer already received). Not safe to repeat blindly.
inline constexpr int kBadServerResponse = -1011;
// The answer broke the protocol: bad status line, header line or total header too long,
// bad Content-Length, bad chunk framing.
inline constexpr int kCannotParseResponse = -1017;
// The request body source failed to deliver its bytes.
inline constexpr int kRequestBodyUnreadable = -1021;
// The HTTP or SOCKS proxy could not be reached or refused to open the tunnel.
inline constexpr int kProxyConnectionFailed = -1200;
// The HTTP proxy answered a tunnel request with 407: it wants credentials of its own.
inline constexpr int kProxyAuthenticationRequired = -1201;
// Any other socket failure (network unreachable, out of resources...).
inline constexpr int kSocketFailure = -1100;
}  // namespace network_error

namespace security_error {
inline constexpr int kProtocol = -9800;
inline constexpr int kNegotiation = -9801;
inline constexpr int kFatalAlert = -9802;
inline constexpr int kClosedAbort = -9806;
inline constexpr int kCertificateChainInvalid = -9807;
inline constexpr int kBadCertificate = -9808;
inline constexpr int kInternal = -9810;
inline constexpr int kUnknownRootCertificate = -9812;
inline constexpr int kNoRootCertificate = -9813;
inline constexpr int kCertificateExpired = -9814;
inline constexpr int kCertificateNotYetValid = -9815;
inline constexpr int kBadCipherSuite = -9818;
inline constexpr int kFirst = -9818;
inline constexpr int kLast = -9800;
}  // namespace security_error

namespace http_authentication_error {
inline constexpr int kBadUserName = -1001;
inline constexpr int kBadPassword = -1002;
}  // namespace http_authentication_error

// A stream failure as a value: empty (domain None, code 0) while nothing went wrong.
struct HttpStreamError {
    HttpStreamErrorDomain domain = HttpStreamErrorDomain::None;
    int code = 0;
    // A short English explanation for logs and underlying-error descriptions.
    QString description;

    bool isNull() const { return domain == HttpStreamErrorDomain::None; }
    // True for the errors that mean "the connection died under a request that never reached
    // the server": POSIX 57 or 32, network -1005.
    bool isDeadConnection() const;
    bool isSecurityFailure() const;
};

QString domainName(HttpStreamErrorDomain domain);

}  // namespace platform
