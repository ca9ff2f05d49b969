#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/OperationQueue.h"

namespace {

using platform::Operation;
using platform::OperationQueue;
using Order = std::vector<std::string>;
using namespace std::chrono_literals;

// Records the order in which operations ran.
struct Journal {
    std::mutex mutex;
    Order order;

    std::shared_ptr<Operation> operation(std::string name, int priority = 0) {
        struct Recording : Operation {
            Recording(Journal* j, std::string n, int p) : journal(j), name(std::move(n)) {
                setQueuePriority(p);
            }
            Journal* journal;
            std::string name;
            void main() override {
                std::this_thread::sleep_for(10ms);
                std::lock_guard lock(journal->mutex);
                journal->order.push_back(name);
            }
        };
        return std::make_shared<Recording>(this, std::move(name), priority);
    }
};

TEST(OperationQueue, SuspendedQueuesHoldOperationsThenRunThemByPriorityAfterDependencies) {
    Journal journal;
    OperationQueue queue;
    OperationQueue other;
    queue.setMaxConcurrentOperationCount(1);
    queue.setSuspended(true);
    other.setSuspended(true);
    auto first = journal.operation("first");
    auto second = journal.operation("second", 10);
    second->addDependency(first);
    EXPECT_FALSE(second->isReady());
    for (auto operation :
         {journal.operation("low", platform::QueuePriority::Low), journal.operation("normal-1"),
          second, journal.operation("normal-2"), journal.operation("head", 10)}) {
        queue.addOperation(operation);
    }
    other.addOperation(first);
    queue.setSuspended(false);
    for (int i = 0; i < 500 && queue.operationCount() > 1; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(journal.order, (Order{"head", "normal-1", "normal-2", "low"}));
    EXPECT_EQ(queue.operationCount(), 1) << "one waits for an operation of a suspended queue";
    other.setSuspended(false);
    other.waitUntilAllOperationsAreFinished();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(journal.order, (Order{"head", "normal-1", "normal-2", "low", "first", "second"}));
}

TEST(OperationQueue, CancelledOperationsAreReadyAndFinishWithoutRunningTheirWork) {
    Journal journal;
    OperationQueue queue;
    queue.setSuspended(true);
    auto waiting = journal.operation("waiting");
    auto blocked = journal.operation("blocked");
    blocked->addDependency(journal.operation("never queued"));
    // Heard before the queue hears it (observers are called in the order they came).
    Order heard;
    waiting->addObserver([&](Operation&, std::string_view key, Operation::Change change) {
        heard.push_back(std::string(change == Operation::Change::Will ? "will " : "did ") +
                        std::string(key));
    });
    queue.addOperation(waiting);
    queue.addOperation(blocked);
    queue.cancelAllOperations();
    EXPECT_TRUE(waiting->isCancelled());
    EXPECT_TRUE(blocked->isReady());
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(journal.order.empty());
    EXPECT_TRUE(waiting->isFinished());
    EXPECT_TRUE(blocked->isFinished());
    EXPECT_EQ(heard,
              (Order{"will isCancelled", "will isReady", "did isCancelled", "did isReady",
                     "will isExecuting", "will isFinished", "did isExecuting", "did isFinished"}));
}

}  // namespace
