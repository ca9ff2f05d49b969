#pragma once

// Runs one HttpStream to its end on the calling thread's event loop and records what the
// client saw, the way the request engine drives a stream.

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "platform/http/HttpStream.h"

namespace lumaro::test {

inline void ensureCoreApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "platform_http_tests";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

struct StreamOutcome {
    bool ended = false;
    bool failed = false;
    platform::HttpStreamError error;
    platform::HttpResponseHeader header;
    std::string body;
    std::vector<platform::HttpStreamEvent> events;
    // Set when a body byte was readable while the head was still incomplete.
    bool bodyBeforeHead = false;
    // Set when an event reached the client from inside its handling of another one.
    bool nestedEvents = false;
    qint64 bodyBytesWritten = 0;
    bool reused = false;
};

inline platform::HttpRequestMessage makeMessage(
    const std::string& url, const QString& method = QStringLiteral("GET"),
    platform::HttpVersion version = platform::HttpVersion::Http11) {
    auto message =
        platform::HttpRequestMessage::create(method, QUrl(QString::fromStdString(url)), version);
    if (!message) throw std::runtime_error("bad test URL " + url);
    return *message;
}

// readSize is the most the client reads per event (the engine reads up to 256 KiB).
inline StreamOutcome runStream(const std::shared_ptr<platform::HttpStream>& stream,
                               int timeoutMs = 5000, qint64 readSize = 65536) {
    ensureCoreApplication();
    StreamOutcome outcome;
    QEventLoop loop;
    std::vector<char> buffer(static_cast<std::size_t>(readSize));
    bool inEvent = false;
    stream->setClient([&](platform::HttpStreamEvent event) {
        outcome.nestedEvents |= inEvent;
        inEvent = true;
        outcome.events.push_back(event);
        while (stream->hasBytesAvailable()) {
            outcome.bodyBeforeHead |= !stream->responseHeader().isHeaderComplete();
            const qint64 got = stream->read(buffer.data(), readSize);
            if (got <= 0) break;
            outcome.body.append(buffer.data(), static_cast<std::size_t>(got));
        }
        outcome.ended |= event == platform::HttpStreamEvent::EndEncountered;
        outcome.failed |= event == platform::HttpStreamEvent::ErrorOccurred;
        if (event != platform::HttpStreamEvent::BytesAvailable) loop.quit();
        inEvent = false;
    });
    stream->schedule();
    if (stream->open()) {
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    outcome.error = stream->error();
    outcome.header = stream->responseHeader();
    outcome.bodyBytesWritten = stream->requestBodyBytesWritten();
    outcome.reused = stream->isReusedConnection();
    stream->setClient({});
    return outcome;
}

inline std::shared_ptr<platform::HttpStream> persistentStream(
    const platform::HttpRequestMessage& message, qint64 id) {
    auto stream = platform::HttpStream::create(message);
    stream->setAttemptPersistentConnection(true);
    stream->setStreamId(id);
    return stream;
}

}  // namespace lumaro::test
