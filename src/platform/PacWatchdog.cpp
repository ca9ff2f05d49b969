#include "platform/PacWatchdog.h"

#include <QJSEngine>
#include <condition_variable>
#include <set>
#include <thread>

namespace platform {

class PacWatchdogThread {
public:
    static PacWatchdogThread& instance() {
        // Never destroyed: the thread runs for the rest of the process.
        static auto* watchdog = new PacWatchdogThread();
        return *watchdog;
    }

    void add(PacWatchdog* watched) {
        std::lock_guard lock(mutex_);
        watched_.insert(watched);
    }
    void remove(PacWatchdog* watched) {
        std::lock_guard lock(mutex_);
        watched_.erase(watched);
    }
    // An evaluation has started: wake the thread if it sleeps with nothing to watch.
    void started() {
        std::lock_guard lock(mutex_);
        if (idle_) {
            idle_ = false;
            wake_.notify_one();
        }
    }

private:
    PacWatchdogThread() {
        std::thread([this] { run(); }).detach();
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            const auto now = std::chrono::steady_clock::now();
            auto next = std::chrono::steady_clock::time_point::max();
            for (PacWatchdog* watched : watched_) {
                std::lock_guard guard(watched->mutex_);
                if (!watched->running_ || watched->interrupted_) continue;
                const auto deadline = watched->started_ + watched->limit_;
                if (now >= deadline) {
                    watched->interrupted_ = true;
                    watched->engine_->setInterrupted(true);
                } else {
                    next = std::min(next, deadline);
                }
            }
            if (next == std::chrono::steady_clock::time_point::max()) {
                idle_ = true;
                wake_.wait(lock, [this] { return !idle_; });
            } else {
                wake_.wait_until(lock, next);
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::set<PacWatchdog*> watched_;
    bool idle_ = false;
};

PacWatchdog::PacWatchdog(QJSEngine* engine, std::chrono::milliseconds limit)
    : engine_(engine), limit_(limit) {
    PacWatchdogThread::instance().add(this);
}

PacWatchdog::~PacWatchdog() { PacWatchdogThread::instance().remove(this); }

void PacWatchdog::begin() {
    {
        std::lock_guard lock(mutex_);
        running_ = true;
        interrupted_ = false;
        started_ = std::chrono::steady_clock::now();
    }
    PacWatchdogThread::instance().started();
}

bool PacWatchdog::end() {
    std::lock_guard lock(mutex_);
    running_ = false;
    if (interrupted_) engine_->setInterrupted(false);
    return interrupted_;
}

std::chrono::steady_clock::time_point PacWatchdog::deadline() const {
    std::lock_guard lock(mutex_);
    return started_ + limit_;
}

}  // namespace platform
