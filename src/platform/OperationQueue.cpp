#include "platform/OperationQueue.h"

#include <QThreadPool>
#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace platform {

struct OperationQueue::State : std::enable_shared_from_this<OperationQueue::State> {
    struct Entry {
        std::shared_ptr<Operation> operation;
        int observerId = 0;
        bool started = false;
    };

    mutable std::mutex mutex;
    std::condition_variable drained;
    std::vector<Entry> entries;
    int running = 0;
    int maxConcurrent = DefaultMaxConcurrentOperationCount;
    bool suspended = false;
    QThreadPool workers;

    void operationChanged(Operation& operation, std::string_view key, Operation::Change change);
    void dispatch();
    std::vector<std::shared_ptr<Operation>> takeStartable();
};

void OperationQueue::State::operationChanged(Operation& operation, std::string_view key,
                                             Operation::Change change) {
    if (change != Operation::Change::Did) return;
    if (key == "isFinished" && operation.isFinished()) {
        std::shared_ptr<Operation> removed;
        {
            std::lock_guard lock(mutex);
            auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& entry) {
                return entry.operation.get() == &operation;
            });
            if (it == entries.end()) return;
            if (it->started) --running;
            removed = it->operation;
            removed->removeObserver(it->observerId);
            entries.erase(it);
            if (entries.empty()) drained.notify_all();
        }
        dispatch();
    } else if (key == "isReady" || key == "isCancelled") {
        dispatch();
    }
}

std::vector<std::shared_ptr<Operation>> OperationQueue::State::takeStartable() {
    std::vector<std::shared_ptr<Operation>> startable;
    std::lock_guard lock(mutex);
    while (!suspended && (maxConcurrent < 0 || running < maxConcurrent)) {
        Entry* best = nullptr;
        for (Entry& entry : entries) {
            if (entry.started || !entry.operation->isReady()) continue;
            if (best == nullptr ||
                entry.operation->queuePriority() > best->operation->queuePriority()) {
                best = &entry;
            }
        }
        if (best == nullptr) break;
        best->started = true;
        ++running;
        startable.push_back(best->operation);
    }
    return startable;
}

void OperationQueue::State::dispatch() {
    for (const auto& operation : takeStartable()) {
        if (operation->isConcurrent()) {
            operation->start();
        } else {
            workers.start([operation] { operation->start(); });
        }
    }
}

OperationQueue::OperationQueue() : state_(std::make_shared<State>()) {
    state_->workers.setMaxThreadCount(64);
}

OperationQueue::~OperationQueue() {
    std::vector<State::Entry> entries;
    {
        std::lock_guard lock(state_->mutex);
        entries.swap(state_->entries);
    }
    for (const auto& entry : entries) entry.operation->removeObserver(entry.observerId);
    state_->workers.waitForDone();
}

void OperationQueue::addOperation(const std::shared_ptr<Operation>& operation) {
    if (!operation) return;
    std::weak_ptr<State> weakState = state_;
    const int id = operation->addObserver(
        [weakState](Operation& changed, std::string_view key, Operation::Change change) {
            if (auto state = weakState.lock()) state->operationChanged(changed, key, change);
        });
    {
        std::lock_guard lock(state_->mutex);
        state_->entries.push_back({operation, id, false});
    }
    state_->dispatch();
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
    std::lock_guard lock(state_->mutex);
    std::vector<std::shared_ptr<Operation>> result;
    for (const auto& entry : state_->entries) result.push_back(entry.operation);
    return result;
}

int OperationQueue::operationCount() const {
    std::lock_guard lock(state_->mutex);
    return static_cast<int>(state_->entries.size());
}

void OperationQueue::cancelAllOperations() {
    for (const auto& operation : operations()) operation->cancel();
}

void OperationQueue::setSuspended(bool suspended) {
    {
        std::lock_guard lock(state_->mutex);
        state_->suspended = suspended;
    }
    state_->dispatch();
}

bool OperationQueue::isSuspended() const {
    std::lock_guard lock(state_->mutex);
    return state_->suspended;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
    {
        std::lock_guard lock(state_->mutex);
        state_->maxConcurrent = count;
    }
    state_->dispatch();
}

int OperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->maxConcurrent;
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock lock(state_->mutex);
    state_->drained.wait(lock, [&] { return state_->entries.empty(); });
}

}  // namespace platform
