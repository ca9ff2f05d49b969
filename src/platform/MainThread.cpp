#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace platform {

bool isMainThread() {
    const auto* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

// Without an application object there is no GUI thread to queue to: the call runs where it is.
void runOnMainThread(std::function<void()> fn) {
    if (QCoreApplication::instance() == nullptr || isMainThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

void runOnMainThreadAndWait(std::function<void()> fn) {
    if (QCoreApplication::instance() == nullptr || isMainThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn),
                              Qt::BlockingQueuedConnection);
}

}  // namespace platform
