#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace platform {

// Named queue priorities; any integer may be used, higher runs first.
namespace QueuePriority {
inline constexpr int VeryLow = -8;
inline constexpr int Low = -4;
inline constexpr int Normal = 0;
inline constexpr int High = 4;
inline constexpr int VeryHigh = 8;
}  // namespace QueuePriority

// A unit of work that an OperationQueue runs once its dependencies have finished.
//
// A plain operation overrides main(); start() runs it on the calling thread. A concurrent
// operation overrides start(), isConcurrent() and the state queries, and announces its own
// state changes ("isExecuting", "isFinished", "isCancelled", "isReady") to observers.
class Operation : public std::enable_shared_from_this<Operation> {
public:
    enum class Change { Will, Did };
    using Observer = std::function<void(Operation& operation, std::string_view key, Change)>;

    Operation() = default;
    virtual ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    virtual void start();
    virtual void main() {}
    virtual void cancel();

    virtual bool isConcurrent() const { return false; }
    virtual bool isExecuting() const;
    virtual bool isFinished() const;
    virtual bool isCancelled() const;
    // True when every dependency has finished, or when the operation was cancelled.
    bool isReady() const;

    void addDependency(const std::shared_ptr<Operation>& operation);
    void removeDependency(const std::shared_ptr<Operation>& operation);
    std::vector<std::shared_ptr<Operation>> dependencies() const;

    int queuePriority() const;
    void setQueuePriority(int priority);

    // Observers are called on the thread that changes the state, without any lock held.
    int addObserver(Observer observer);
    void removeObserver(int id);

protected:
    void willChangeValueForKey(std::string_view key);
    void didChangeValueForKey(std::string_view key);

private:
    void announce(std::string_view key, Change change);
    void dependencyChanged(std::string_view key, Change change);

    mutable std::mutex mutex_;
    bool executing_ = false;
    bool finished_ = false;
    bool cancelled_ = false;
    int priority_ = QueuePriority::Normal;
    struct Dependency {
        std::shared_ptr<Operation> operation;
        int observerId;
    };
    std::vector<Dependency> dependencies_;
    std::vector<std::pair<int, std::shared_ptr<Observer>>> observers_;
    int nextObserverId_ = 1;
};

}  // namespace platform
