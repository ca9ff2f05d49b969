#pragma once

#include <QString>
#include <memory>
#include <mutex>
#include <optional>

#include "http/CacheDelegate.h"
#include "http/Error.h"
#include "platform/OperationQueue.h"

class QObject;
class QThread;

namespace http {

// State shared by every request of the process, made once.
struct RequestClassState {
    static RequestClassState& instance();

    // The class's own monitor: the network thread, the default cache and user agent.
    std::recursive_mutex monitor;
    std::recursive_mutex connectionPoolLock;
    std::recursive_mutex progressUpdateLock;

    // The five errors every request shares.
    ErrorPtr requestTimedOutError;
    ErrorPtr authenticationError;
    ErrorPtr requestCancelledError;
    ErrorPtr unableToCreateRequestError;
    ErrorPtr tooMuchRedirectionError;

    platform::OperationQueue sharedQueue;
    QThread* networkThread = nullptr;

    unsigned activeStreamCount = 0;
    bool shouldUpdateNetworkActivityIndicator = true;
    quint64 connectionCounter = 0;
    quint64 requestCounter = 0;

    double defaultTimeOutSeconds = 10.0;
    quint64 defaultMaxInflatedBodySize = 64ull * 1024 * 1024;
    std::shared_ptr<CacheDelegate> defaultCache;
    std::optional<QString> defaultUserAgent;
    bool defaultUserAgentComputed = false;

private:
    RequestClassState();
};

}  // namespace http
