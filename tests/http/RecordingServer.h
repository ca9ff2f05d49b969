#pragma once
// A raw server that keeps every request it reads and answers each with the bytes the test
// makes from it; an answer that says "Connection: close" ends its connection.

#include <QUrl>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "servers/ScriptedServer.h"

namespace testsupport {

class RecordingServer {
public:
    using Request = lumaro::test::ReceivedRequest;
    using Answer = std::function<std::string(const Request&)>;

    explicit RecordingServer(Answer answer =
                                 [](const Request&) {
                                     return std::string(
                                         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
                                 })
        : server_([this, answer](lumaro::test::ScriptedConnection& connection) {
              while (auto request = connection.readRequest()) {
                  {
                      std::lock_guard lock(mutex_);
                      requests_.push_back(*request);
                  }
                  const std::string reply = answer(*request);
                  if (!connection.send(reply) ||
                      reply.find("Connection: close") != std::string::npos)
                      return;
              }
          }) {}

    QUrl url(std::string_view path = "/form") const {
        return QUrl(QString::fromStdString(server_.url(path)));
    }
    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int connectionCount() const { return server_.connectionCount(); }

private:
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    lumaro::test::ScriptedServer server_;
};

}  // namespace testsupport
