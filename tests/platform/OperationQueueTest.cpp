#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
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

// Records the order in which operations ran, and how many ran at once.
struct Journal {
    std::mutex mutex;
    Order order;
    int running = 0;
    int mostAtOnce = 0;

    std::shared_ptr<Operation> operation(std::string name, int priority = 0) {
        struct Recording : Operation {
            Journal* journal;
            std::string name;
            void main() override {
                {
                    std::lock_guard lock(journal->mutex);
                    journal->order.push_back(name);
                    journal->mostAtOnce = std::max(journal->mostAtOnce, ++journal->running);
                }
                std::this_thread::sleep_for(20ms);
                std::lock_guard lock(journal->mutex);
                --journal->running;
            }
        };
        auto recording = std::make_shared<Recording>();
        recording->journal = this;
        recording->name = std::move(name);
        recording->setQueuePriority(priority);
        return recording;
    }
};

// A concurrent operation that finishes only when told to, from any thread.
class ManualOperation : public Operation {
public:
    bool isConcurrent() const override { return true; }
    bool isExecuting() const override { return executing_; }
    bool isFinished() const override { return finished_; }

    void start() override {
        startedOn_ = QThread::currentThread();
        willChangeValueForKey("isExecuting");
        executing_ = true;
        didChangeValueForKey("isExecuting");
        if (isCancelled()) finish();
    }
    void finish() {
        if (finished_.exchange(true)) return;
        willChangeValueForKey("isFinished");
        executing_ = false;
        didChangeValueForKey("isFinished");
    }
    QThread* startedOn() const { return startedOn_; }

private:
    std::atomic<bool> executing_{false};
    std::atomic<bool> finished_{false};
    std::atomic<QThread*> startedOn_{nullptr};
};

TEST(OperationQueue, RunsAtMostTheMaximumAtOnceAndEveryOperationOnce) {
    Journal journal;
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(2);
    std::vector<std::shared_ptr<Operation>> operations;
    for (int i = 0; i < 8; ++i) queue.addOperation(operations.emplace_back(journal.operation("")));
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(journal.order.size(), 8u);
    EXPECT_EQ(journal.mostAtOnce, 2);
    for (const auto& operation : operations) EXPECT_TRUE(operation->isFinished());
    EXPECT_EQ(queue.operationCount(), 0);
}

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

TEST(OperationQueue, ConcurrentOperationsHoldTheirSlotUntilTheyAnnounceTheirEnd) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    auto first = std::make_shared<ManualOperation>();
    auto second = std::make_shared<ManualOperation>();
    queue.addOperation(first);
    queue.addOperation(second);
    // Concurrent operations start on the thread that made room for them.
    EXPECT_EQ(first->startedOn(), QThread::currentThread());
    EXPECT_TRUE(first->isExecuting());
    EXPECT_EQ(second->startedOn(), nullptr);
    std::thread([&] { first->finish(); }).join();
    EXPECT_NE(second->startedOn(), nullptr);
    EXPECT_NE(second->startedOn(), QThread::currentThread());
    second->finish();
    EXPECT_EQ(queue.operationCount(), 0);
}

TEST(OperationQueue, CancelAllCancelsQueuedAndRunningOperationsWhichStillFinish) {
    Journal journal;
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    auto running = std::make_shared<ManualOperation>();
    auto waiting = journal.operation("waiting");
    auto blocked = journal.operation("blocked");
    blocked->addDependency(std::make_shared<ManualOperation>());
    queue.addOperation(running);
    queue.addOperation(waiting);
    queue.addOperation(blocked);
    queue.cancelAllOperations();
    EXPECT_TRUE(running->isCancelled());
    EXPECT_TRUE(waiting->isCancelled());
    // Cancelled operations are ready whatever their dependencies.
    EXPECT_TRUE(blocked->isReady());
    running->finish();
    queue.waitUntilAllOperationsAreFinished();
    // A cancelled plain operation is started but does not run its work.
    EXPECT_TRUE(journal.order.empty());
    EXPECT_TRUE(waiting->isFinished());
    EXPECT_TRUE(blocked->isFinished());
}

TEST(OperationQueue, ObserversHearStateChangesBeforeAndAfterInOrder) {
    auto operation = std::make_shared<ManualOperation>();
    Order heard;
    const int id =
        operation->addObserver([&](Operation&, std::string_view key, Operation::Change change) {
            heard.push_back(std::string(change == Operation::Change::Will ? "will " : "did ") +
                            std::string(key));
        });
    operation->start();
    operation->cancel();
    operation->finish();
    operation->removeObserver(id);
    operation->cancel();
    EXPECT_EQ(heard,
              (Order{"will isExecuting", "did isExecuting", "will isCancelled", "will isReady",
                     "did isCancelled", "did isReady", "will isFinished", "did isFinished"}));
}

}  // namespace
