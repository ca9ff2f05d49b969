#pragma once

#include <chrono>
#include <mutex>

class QJSEngine;

namespace platform {

// Interrupts a JavaScript engine whose current evaluation has run past its time limit.
// One thread watches every engine; it sleeps until the earliest deadline and does not
// wake at all while nothing runs, so arming it costs an evaluation a few atomic steps.
class PacWatchdog {
public:
    PacWatchdog(QJSEngine* engine, std::chrono::milliseconds limit);
    ~PacWatchdog();
    PacWatchdog(const PacWatchdog&) = delete;
    PacWatchdog& operator=(const PacWatchdog&) = delete;

    // Brackets one evaluation; end() answers whether it was interrupted.
    void begin();
    bool end();
    // When the running evaluation will be interrupted.
    std::chrono::steady_clock::time_point deadline() const;

private:
    friend class PacWatchdogThread;
    QJSEngine* engine_;
    const std::chrono::milliseconds limit_;
    mutable std::mutex mutex_;
    bool running_ = false;
    bool interrupted_ = false;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace platform
