#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "http/HTTPRequest.h"
#include "platform/MainThread.h"

namespace testsupport {

// The application object of the test program (the one a test made first, such as a
// QApplication for widgets): the test's own thread is the GUI thread, on which every callback
// of the engine arrives.
inline QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "http_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() != nullptr
                                       ? QCoreApplication::instance()
                                       : new QCoreApplication(argc, argv);
    return *app;
}

// Runs the GUI thread's events until done() holds or the time is up.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    application();
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

// Lets queued callbacks that should not come have their chance to come.
inline void settle(int ms = 150) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Records every event it receives, with whether it came on the GUI thread.
class RecordingDelegate : public http::HTTPRequestDelegate {
public:
    void requestStarted(const http::HTTPRequestPtr&) override { note("started"); }
    void requestReceivedResponseHeaders(const http::HTTPRequestPtr&,
                                        const http::Headers&) override {
        note("headers");
    }
    void requestFinished(const http::HTTPRequestPtr&) override { note("finished"); }
    void requestFailed(const http::HTTPRequestPtr&) override { note("failed"); }
    void requestDidReceiveData(const http::HTTPRequestPtr&, const QByteArray& data) override {
        received += data;
        note("data");
    }

    int count(const std::string& event) const {
        std::lock_guard lock(mutex);
        int n = 0;
        for (const auto& e : events) n += e == event ? 1 : 0;
        return n;
    }
    bool ended() const { return count("finished") + count("failed") > 0; }

    mutable std::mutex mutex;
    std::vector<std::string> events;
    bool allOnMainThread = true;
    QByteArray received;

private:
    void note(const std::string& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
        allOnMainThread = allOnMainThread && platform::isMainThread();
    }
};

}  // namespace testsupport
