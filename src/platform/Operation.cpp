#include "platform/Operation.h"

#include <algorithm>

namespace platform {

Operation::~Operation() {
    for (const Dependency& dependency : dependencies_) {
        dependency.operation->removeObserver(dependency.observerId);
    }
}

void Operation::start() {
    if (!isCancelled()) {
        willChangeValueForKey("isExecuting");
        {
            std::lock_guard lock(mutex_);
            executing_ = true;
        }
        didChangeValueForKey("isExecuting");
        main();
    }
    willChangeValueForKey("isExecuting");
    willChangeValueForKey("isFinished");
    {
        std::lock_guard lock(mutex_);
        executing_ = false;
        finished_ = true;
    }
    didChangeValueForKey("isExecuting");
    didChangeValueForKey("isFinished");
}

void Operation::cancel() {
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) return;
    }
    willChangeValueForKey("isCancelled");
    willChangeValueForKey("isReady");
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    didChangeValueForKey("isCancelled");
    didChangeValueForKey("isReady");
}

bool Operation::isExecuting() const {
    std::lock_guard lock(mutex_);
    return executing_;
}

bool Operation::isFinished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

bool Operation::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool Operation::isReady() const {
    if (isCancelled()) return true;
    const auto all = dependencies();
    return std::all_of(all.begin(), all.end(),
                       [](const std::shared_ptr<Operation>& other) { return other->isFinished(); });
}

void Operation::addDependency(const std::shared_ptr<Operation>& operation) {
    if (!operation || operation.get() == this) return;
    {
        std::lock_guard lock(mutex_);
        for (const Dependency& dependency : dependencies_) {
            if (dependency.operation == operation) return;
        }
    }
    willChangeValueForKey("isReady");
    std::weak_ptr<Operation> weakSelf = weak_from_this();
    const int id =
        operation->addObserver([weakSelf](Operation&, std::string_view key, Change change) {
            if (auto self = weakSelf.lock()) self->dependencyChanged(key, change);
        });
    {
        std::lock_guard lock(mutex_);
        dependencies_.push_back({operation, id});
    }
    didChangeValueForKey("isReady");
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation) {
    Dependency removed;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(dependencies_.begin(), dependencies_.end(),
                               [&](const Dependency& d) { return d.operation == operation; });
        if (it == dependencies_.end()) return;
        removed = *it;
        dependencies_.erase(it);
    }
    removed.operation->removeObserver(removed.observerId);
    willChangeValueForKey("isReady");
    didChangeValueForKey("isReady");
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Operation>> result;
    result.reserve(dependencies_.size());
    for (const Dependency& dependency : dependencies_) result.push_back(dependency.operation);
    return result;
}

int Operation::queuePriority() const {
    std::lock_guard lock(mutex_);
    return priority_;
}

void Operation::setQueuePriority(int priority) {
    std::lock_guard lock(mutex_);
    priority_ = priority;
}

int Operation::addObserver(Observer observer) {
    std::lock_guard lock(mutex_);
    const int id = nextObserverId_++;
    observers_.emplace_back(id, std::make_shared<Observer>(std::move(observer)));
    return id;
}

void Operation::removeObserver(int id) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

void Operation::willChangeValueForKey(std::string_view key) { announce(key, Change::Will); }

void Operation::didChangeValueForKey(std::string_view key) { announce(key, Change::Did); }

void Operation::announce(std::string_view key, Change change) {
    std::vector<std::shared_ptr<Observer>> observers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : observers_) observers.push_back(entry.second);
    }
    for (const auto& observer : observers) (*observer)(*this, key, change);
}

void Operation::dependencyChanged(std::string_view key, Change change) {
    if (key == "isFinished") announce("isReady", change);
}

}  // namespace platform
