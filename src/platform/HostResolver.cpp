#include "platform/HostResolver.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {

struct HostResolver::State {
    std::mutex mutex;
    std::condition_variable answered;
    const QByteArray hostName;
    bool lookupRunning = false;
    std::optional<std::vector<QHostAddress>> answer;
    std::chrono::steady_clock::time_point answeredAt;
    quint64 answerCount = 0;
    // A refresh asked for while a lookup ran: its answer may predate the change.
    bool lookupAgain = false;
    std::function<void()> handler;

    explicit State(QByteArray name) : hostName(std::move(name)) {}

    // Starts a lookup on a thread of its own; the caller holds the lock.
    static void startLookup(const std::shared_ptr<State>& state);
};

namespace {

std::vector<QHostAddress> resolve(const QByteArray& hostName) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::vector<QHostAddress> addresses;
    if (::getaddrinfo(hostName.constData(), nullptr, &hints, &found) != 0) return addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        QHostAddress address(entry->ai_addr);
        if (!address.isNull() &&
            std::find(addresses.begin(), addresses.end(), address) == addresses.end())
            addresses.push_back(address);
    }
    ::freeaddrinfo(found);
    return addresses;
}

}  // namespace

void HostResolver::State::startLookup(const std::shared_ptr<State>& state) {
    if (state->lookupRunning) {
        state->lookupAgain = true;
        return;
    }
    state->lookupRunning = true;
    state->lookupAgain = false;
    try {
        std::thread([state] {
            std::vector<QHostAddress> addresses = resolve(state->hostName);
            std::lock_guard lock(state->mutex);
            state->answer = std::move(addresses);
            state->answeredAt = std::chrono::steady_clock::now();
            ++state->answerCount;
            state->lookupRunning = false;
            state->answered.notify_all();
            if (state->handler) state->handler();
            if (state->lookupAgain) startLookup(state);
        }).detach();
    } catch (const std::system_error&) {
        // Out of threads: the next question tries again.
        state->lookupRunning = false;
    }
}

HostResolver::HostResolver(QByteArray hostName)
    : state_(std::make_shared<State>(std::move(hostName))) {
    std::lock_guard lock(state_->mutex);
    State::startLookup(state_);
}

HostResolver::~HostResolver() { setAnswerHandler(nullptr); }

std::optional<std::vector<QHostAddress>> HostResolver::addresses(std::chrono::milliseconds wait) {
    std::unique_lock lock(state_->mutex);
    const bool expired =
        state_->answer && std::chrono::steady_clock::now() - state_->answeredAt >= kAnswerLifetime;
    if (state_->answer && !expired) return state_->answer;
    if (!state_->lookupRunning) State::startLookup(state_);
    const quint64 seen = state_->answerCount;
    state_->answered.wait_for(lock, wait, [&] { return state_->answerCount != seen; });
    return state_->answer;
}

void HostResolver::refresh() {
    std::lock_guard lock(state_->mutex);
    State::startLookup(state_);
}

void HostResolver::setAnswerHandler(std::function<void()> handler) {
    std::lock_guard lock(state_->mutex);
    state_->handler = std::move(handler);
}

}  // namespace platform
