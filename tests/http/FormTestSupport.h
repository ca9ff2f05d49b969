#pragma once

// Helpers shared by the form request and request queue tests: the GUI thread's event loop,
// a scripted server that keeps what it was sent, and a recording queue delegate.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "http/NetworkQueue.h"
#include "platform/MainThread.h"
#include "servers/ScriptedServer.h"

namespace formtest {

inline QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "http_form_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() != nullptr
                                       ? QCoreApplication::instance()
                                       : new QCoreApplication(argc, argv);
    return *app;
}

// Runs the GUI thread's events until done() holds or the time is up.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
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

// Gives callbacks that should not come their chance to come.
inline void settle(int ms = 200) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A scripted server that answers every request with a small 200 and keeps each request.
class RecordingServer {
public:
    RecordingServer()
        : server_([this](lumaro::test::ScriptedConnection& connection) {
              while (auto request = connection.readRequest()) {
                  {
                      std::lock_guard lock(mutex_);
                      requests_.push_back(*request);
                  }
                  if (!connection.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok")) return;
              }
          }) {}

    QUrl url(const char* path = "/form") const {
        return QUrl(QString::fromStdString(server_.url(path)));
    }
    std::vector<lumaro::test::ReceivedRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int connectionCount() const { return server_.connectionCount(); }

private:
    mutable std::mutex mutex_;
    std::vector<lumaro::test::ReceivedRequest> requests_;
    lumaro::test::ScriptedServer server_;
};

// Records the queue callbacks in order, by name.
class QueueRecorder : public http::NetworkQueueDelegate {
public:
    void requestStarted(const http::HTTPRequestPtr&) override { note("started"); }
    void requestFinished(const http::HTTPRequestPtr&) override { note("finished"); }
    void requestFailed(const http::HTTPRequestPtr&) override { note("failed"); }
    void queueFinished(http::NetworkQueue&) override { note("queue"); }

    // Points every selector of queue at this recorder.
    void attach(http::NetworkQueue& queue) {
        queue.setRequestDidStartSelector(&http::HTTPRequestDelegate::requestStarted);
        queue.setRequestDidFinishSelector(&http::HTTPRequestDelegate::requestFinished);
        queue.setRequestDidFailSelector(&http::HTTPRequestDelegate::requestFailed);
        queue.setQueueDidFinishSelector(&http::NetworkQueueDelegate::queueFinished);
    }

    int count(const std::string& event) const {
        int n = 0;
        for (const auto& e : events) n += e == event ? 1 : 0;
        return n;
    }

    std::vector<std::string> events;
    bool allOnMainThread = true;

private:
    void note(const std::string& event) {
        events.push_back(event);
        allOnMainThread = allOnMainThread && platform::isMainThread();
    }
};

}  // namespace formtest
