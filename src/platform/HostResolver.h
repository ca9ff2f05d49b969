#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

// The addresses of one host name from the system resolver (getaddrinfo), looked
// up on a thread of its own so that no caller waits on the network for long.
// An answer is kept for kAnswerLifetime; an older one is looked up again when
// asked for, and again whenever refresh() is called (after a network change).
// Thread-safe; a lookup still running when the resolver goes away finishes
// quietly on its own thread.
class HostResolver {
public:
    static constexpr std::chrono::seconds kAnswerLifetime{60};

    explicit HostResolver(QByteArray hostName);
    ~HostResolver();
    HostResolver(const HostResolver&) = delete;
    HostResolver& operator=(const HostResolver&) = delete;

    // The addresses, waiting at most `wait` for a first answer or for one that replaces an
    // expired answer (the expired one is given when the new one is late). None when no
    // answer has come yet; an empty list when the name has no address.
    std::optional<std::vector<QHostAddress>> addresses(std::chrono::milliseconds wait);

    // Starts a new lookup unless one is running.
    void refresh();

    // Called on the lookup's thread after each answer; keep it short. Setting another
    // (or none) waits for a call in progress, so the old one is not called afterwards.
    void setAnswerHandler(std::function<void()> handler);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
