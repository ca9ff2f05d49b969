// Showing and hiding the network activity sign as read streams come and go.
#include "http/NetworkActivityIndicator.h"

#include <QCoreApplication>
#include <QTimer>

#include "http/HTTPRequest.h"
#include "http/RequestClassState.h"
#include "platform/MainThread.h"

namespace http {

namespace {

// Touched on the GUI thread only.
bool visible = false;
NetworkActivityIndicator::VisibilityHandler& handler() {
    static auto* h = new NetworkActivityIndicator::VisibilityHandler();
    return *h;
}

// Without an application there is no GUI thread and nothing to show.
void onGuiThread(std::function<void()> fn) {
    if (QCoreApplication::instance() == nullptr) return;
    platform::runOnMainThread(std::move(fn));
}

// A stream that ends just before the next one starts should not make the sign blink.
constexpr int kHideDelayMs = 500;

}  // namespace

void NetworkActivityIndicator::setVisibilityHandler(VisibilityHandler h) {
    handler() = std::move(h);
}

bool NetworkActivityIndicator::isVisible() { return visible; }

void NetworkActivityIndicator::setVisible(bool on) {
    if (visible == on) return;
    visible = on;
    if (handler()) handler()(on);
}

void HTTPRequest::showNetworkActivityIndicator() {
    onGuiThread([] { NetworkActivityIndicator::setVisible(true); });
}

void HTTPRequest::hideNetworkActivityIndicator() {
    onGuiThread([] { NetworkActivityIndicator::setVisible(false); });
}

void HTTPRequest::hideNetworkActivityIndicatorAfterDelay() {
    onGuiThread([] {
        // One pending check at a time: it hides the sign only if no stream runs by then, and
        // a stream that starts and ends meanwhile asks again once the check has run.
        static QTimer* timer = nullptr;
        if (timer == nullptr) {
            timer = new QTimer(QCoreApplication::instance());
            timer->setSingleShot(true);
            timer->setInterval(kHideDelayMs);
            QObject::connect(timer, &QTimer::timeout,
                             [] { hideNetworkActivityIndicatorIfNeeded(); });
        }
        if (!timer->isActive()) timer->start();
    });
}

void HTTPRequest::hideNetworkActivityIndicatorIfNeeded() {
    auto& state = RequestClassState::instance();
    std::lock_guard lock(state.connectionPoolLock);
    if (state.activeStreamCount == 0) hideNetworkActivityIndicator();
}

}  // namespace http
