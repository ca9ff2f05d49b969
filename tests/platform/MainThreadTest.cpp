#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <memory>

#include "platform/MainThread.h"

namespace {

TEST(MainThread, RunsInPlaceWithoutAnApplicationAndOnTheGuiThreadAndQueuesFromOthers) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    int calls = 0;
    platform::runOnMainThread([&] { ++calls; });
    platform::runOnMainThreadAndWait([&] { ++calls; });
    EXPECT_EQ(calls, 2);

    int argc = 0;
    QCoreApplication app(argc, nullptr);
    platform::runOnMainThread([&] { ++calls; });
    EXPECT_EQ(calls, 3);
    std::atomic<bool> ranOnMain{false};
    std::unique_ptr<QThread> worker(QThread::create([&] {
        EXPECT_FALSE(platform::isMainThread());
        platform::runOnMainThread([&] { ranOnMain = platform::isMainThread(); });
    }));
    worker->start();
    // The GUI thread is not running its loop here: a waiting call would never return.
    ASSERT_TRUE(worker->wait(5000));
    EXPECT_FALSE(ranOnMain);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ranOnMain);
}

}  // namespace
