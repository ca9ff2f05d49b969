#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <memory>

#include "platform/MainThread.h"

namespace {

TEST(MainThread, RunsInPlaceWhenThereIsNoApplication) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    int calls = 0;
    platform::runOnMainThread([&] { ++calls; });
    platform::runOnMainThreadAndWait([&] { ++calls; });
    EXPECT_EQ(calls, 2);
}

TEST(MainThread, CallsDirectlyOnTheGuiThreadAndQueuesFromOthersWithoutWaiting) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);

    bool ranInline = false;
    platform::runOnMainThread([&] { ranInline = true; });
    EXPECT_TRUE(ranInline);

    std::atomic<bool> ran{false};
    std::atomic<bool> ranOnMain{false};
    std::unique_ptr<QThread> worker(QThread::create([&] {
        EXPECT_FALSE(platform::isMainThread());
        platform::runOnMainThread([&] {
            ranOnMain = platform::isMainThread();
            ran = true;
        });
    }));
    worker->start();
    // The GUI thread is not running its loop here: a waiting call would never return.
    ASSERT_TRUE(worker->wait(5000));
    EXPECT_FALSE(ran);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(ranOnMain);
}

}  // namespace
