#pragma once

#include <memory>
#include <vector>

#include "platform/Operation.h"

namespace platform {

// Runs operations once they are ready, highest priority first (first come first within a
// priority), at most maxConcurrentOperationCount at a time, and not while suspended.
// Concurrent operations are started on the thread that makes room for them; plain ones
// run on the queue's own worker threads.
class OperationQueue {
public:
    static constexpr int DefaultMaxConcurrentOperationCount = -1;  // no limit

    OperationQueue();
    virtual ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    virtual void addOperation(const std::shared_ptr<Operation>& operation);
    // Queued and running operations, in the order they were added.
    std::vector<std::shared_ptr<Operation>> operations() const;
    int operationCount() const;
    virtual void cancelAllOperations();

    virtual void setSuspended(bool suspended);
    bool isSuspended() const;

    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const;

    // Blocks until no operation is left. Not for the thread that operations need to finish.
    void waitUntilAllOperationsAreFinished();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
