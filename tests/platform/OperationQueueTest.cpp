#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/OperationQueue.h"

namespace {

using platform::Operation;
using platform::OperationQueue;
using namespace std::chrono_literals;

// Records the order in which operations ran, and how many ran at once.
struct Journal {
    std::mutex mutex;
    std::vector<std::string> order;
    int running = 0;
    int mostAtOnce = 0;
};

class RecordingOperation : public Operation {
public:
    RecordingOperation(Journal& journal, std::string name, std::chrono::milliseconds duration = 0ms)
        : journal_(journal), name_(std::move(name)), duration_(duration) {}

    void main() override {
        {
            std::lock_guard lock(journal_.mutex);
            journal_.order.push_back(name_);
            journal_.mostAtOnce = std::max(journal_.mostAtOnce, ++journal_.running);
        }
        std::this_thread::sleep_for(duration_);
        std::lock_guard lock(journal_.mutex);
        --journal_.running;
    }

private:
    Journal& journal_;
    std::string name_;
    std::chrono::milliseconds duration_;
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
    for (int i = 0; i < 8; ++i) {
        operations.push_back(
            std::make_shared<RecordingOperation>(journal, std::to_string(i), 20ms));
        queue.addOperation(operations.back());
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(journal.order.size(), 8u);
    EXPECT_EQ(journal.mostAtOnce, 2);
    for (const auto& operation : operations) EXPECT_TRUE(operation->isFinished());
    EXPECT_EQ(queue.operationCount(), 0);
}

TEST(OperationQueue, SuspendedQueueHoldsOperationsAndRunsThemByPriorityWhenResumed) {
    Journal journal;
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(1);
    queue.setSuspended(true);
    auto low = std::make_shared<RecordingOperation>(journal, "low");
    auto normalFirst = std::make_shared<RecordingOperation>(journal, "normal-1");
    auto normalSecond = std::make_shared<RecordingOperation>(journal, "normal-2");
    auto head = std::make_shared<RecordingOperation>(journal, "head");
    low->setQueuePriority(platform::QueuePriority::Low);
    head->setQueuePriority(10);
    for (const auto& operation : {low, normalFirst, normalSecond, head}) {
        queue.addOperation(operation);
    }
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(journal.order.empty());
    EXPECT_EQ(queue.operationCount(), 4);

    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(journal.order, (std::vector<std::string>{"head", "normal-1", "normal-2", "low"}));
}

TEST(OperationQueue, DependentsWaitForTheirDependenciesEvenAcrossQueues) {
    Journal journal;
    OperationQueue queue;
    OperationQueue other;
    other.setSuspended(true);
    auto first = std::make_shared<RecordingOperation>(journal, "first");
    auto second = std::make_shared<RecordingOperation>(journal, "second");
    second->addDependency(first);
    EXPECT_FALSE(second->isReady());
    queue.addOperation(second);
    other.addOperation(first);
    std::this_thread::sleep_for(30ms);
    EXPECT_TRUE(journal.order.empty());
    other.setSuspended(false);
    other.waitUntilAllOperationsAreFinished();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(journal.order, (std::vector<std::string>{"first", "second"}));
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

    std::thread finisher([&] { first->finish(); });
    finisher.join();
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
    auto waiting = std::make_shared<RecordingOperation>(journal, "waiting");
    auto blocked = std::make_shared<RecordingOperation>(journal, "blocked");
    auto neverRuns = std::make_shared<ManualOperation>();
    blocked->addDependency(neverRuns);
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
    std::vector<std::string> heard;
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
    EXPECT_EQ(heard, (std::vector<std::string>{
                         "will isExecuting", "did isExecuting", "will isCancelled", "will isReady",
                         "did isCancelled", "did isReady", "will isFinished", "did isFinished"}));
}

}  // namespace
