#pragma once

// A raw TCP server on 127.0.0.1 that answers with whatever bytes a test scripts: slow
// answers, malformed answers, connections that close or reset at chosen moments. Each
// accepted connection runs the test's handler on its own thread; the server owns no Qt
// objects, so the client under test can run its event loop on any thread meanwhile.

#include <netinet/tcp.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "servers/FreePort.h"

namespace lumaro::test {

struct ReceivedRequest {
    std::string requestLine;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // de-chunked when sent chunked

    std::string header(std::string_view name) const {
        const auto* found = find(name);
        return found ? found->second : std::string();
    }
    bool hasHeader(std::string_view name) const { return find(name) != nullptr; }

private:
    const std::pair<std::string, std::string>* find(std::string_view name) const {
        for (const auto& field : headers) {
            if (field.first.size() == name.size() &&
                strncasecmp(field.first.data(), name.data(), name.size()) == 0) {
                return &field;
            }
        }
        return nullptr;
    }
};

class ScriptedConnection {
public:
    ScriptedConnection(int fd, int index) : m_fd(fd), m_index(index) {}
    ~ScriptedConnection() { close(); }
    ScriptedConnection(const ScriptedConnection&) = delete;
    ScriptedConnection& operator=(const ScriptedConnection&) = delete;

    // 0 for the first connection the server accepted, 1 for the next...
    int index() const { return m_index; }

    // Reads one request (head and body); none when the peer closed or nothing came in time.
    std::optional<ReceivedRequest> readRequest(int timeoutMs = 5000) {
        std::string head;
        if (!readUntil("\r\n\r\n", head, timeoutMs)) return std::nullopt;
        ReceivedRequest request;
        std::size_t pos = head.find("\r\n");
        request.requestLine = head.substr(0, pos);
        for (pos += 2; head.compare(pos, 2, "\r\n") != 0; pos += 2) {
            const std::size_t end = head.find("\r\n", pos);
            const std::string line = head.substr(pos, end - pos);
            const std::size_t colon = line.find(':');
            const std::size_t value = line.find_first_not_of(' ', colon + 1);
            request.headers.emplace_back(line.substr(0, colon),
                                         value == std::string::npos ? "" : line.substr(value));
            pos = end;
        }
        if (request.header("Transfer-Encoding") == "chunked") {
            while (true) {
                std::string sizeLine;
                if (!readUntil("\r\n", sizeLine, timeoutMs)) return std::nullopt;
                const std::size_t size = std::stoul(sizeLine, nullptr, 16);
                std::string data;
                if (!readExactly(size + 2, data, timeoutMs)) return std::nullopt;
                if (size == 0) break;
                request.body.append(data, 0, size);
            }
        } else if (request.hasHeader("Content-Length")) {
            const std::size_t length = std::stoull(request.header("Content-Length"));
            if (!readExactly(length, request.body, timeoutMs)) return std::nullopt;
        }
        return request;
    }

    // Reads a request head, then throws away up to length body bytes as they come; answers
    // the body bytes counted. For uploads too large to keep.
    std::size_t drainHeadAndBody(std::size_t length, int timeoutMs = 10000) {
        std::string head;
        if (!readUntil("\r\n\r\n", head, timeoutMs)) return 0;
        std::size_t total = std::min(length, m_buffer.size());
        m_buffer.erase(0, total);
        std::vector<char> chunk(1 << 16);
        while (total < length && waitReadable(timeoutMs)) {
            const ssize_t got = ::recv(m_fd, chunk.data(), chunk.size(), 0);
            if (got <= 0) break;
            total += static_cast<std::size_t>(got);
        }
        return total;
    }

    bool send(std::string_view bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Sends bytes in pieces of pieceSize with a pause between them (a slow server).
    bool sendSlowly(std::string_view bytes, std::size_t pieceSize,
                    std::chrono::milliseconds pause) {
        for (std::size_t pos = 0; pos < bytes.size(); pos += pieceSize) {
            if (pos > 0) std::this_thread::sleep_for(pause);
            if (!send(bytes.substr(pos, pieceSize))) return false;
        }
        return true;
    }

    // Waits until the client closes its side (or the time runs out).
    bool waitForPeerClose(int timeoutMs = 5000) {
        char byte;
        while (waitReadable(timeoutMs)) {
            if (::recv(m_fd, &byte, 1, 0) <= 0) return true;
        }
        return false;
    }

    // An orderly close (FIN).
    void close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

    // An abortive close (RST), as a crashed or overloaded server does.
    void reset() {
        if (m_fd < 0) return;
        linger option{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
        close();
    }

private:
    bool waitReadable(int timeoutMs) {
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) > 0;
    }

    bool fill(int timeoutMs) {
        char chunk[16384];
        const ssize_t got = waitReadable(timeoutMs) ? ::recv(m_fd, chunk, sizeof chunk, 0) : -1;
        if (got > 0) m_buffer.append(chunk, static_cast<std::size_t>(got));
        return got > 0;
    }

    bool readUntil(std::string_view delimiter, std::string& out, int timeoutMs) {
        std::size_t at;
        while ((at = m_buffer.find(delimiter)) == std::string::npos) {
            if (!fill(timeoutMs)) return false;
        }
        return readExactly(at + delimiter.size(), out, timeoutMs);
    }

    bool readExactly(std::size_t length, std::string& out, int timeoutMs) {
        while (m_buffer.size() < length) {
            if (!fill(timeoutMs)) return false;
        }
        out.append(m_buffer, 0, length);
        m_buffer.erase(0, length);
        return true;
    }

    int m_fd;
    int m_index;
    std::string m_buffer;
};

class ScriptedServer {
public:
    using Handler = std::function<void(ScriptedConnection&)>;

    explicit ScriptedServer(Handler handler) : m_handler(std::move(handler)) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        int yes = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address = loopbackAddress(0);
        socklen_t size = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 64) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            throw std::runtime_error("scripted server cannot listen");
        }
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }

    ~ScriptedServer() {
        m_stopping = true;
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        m_acceptor.join();
        for (auto& worker : m_workers) worker.join();
    }

    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    unsigned short port() const { return m_port; }
    std::string url(std::string_view path = "/") const {
        return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
    }
    int connectionCount() const { return m_accepted; }

private:
    void acceptLoop() {
        while (!m_stopping) {
            pollfd p{m_listener, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0) continue;
            int yes = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            const int index = m_accepted++;
            m_workers.emplace_back([this, fd, index] {
                ScriptedConnection connection(fd, index);
                m_handler(connection);
            });
        }
    }

    Handler m_handler;
    int m_listener = -1;
    unsigned short m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_accepted{0};
    std::thread m_acceptor;
    std::vector<std::thread> m_workers;
};

}  // namespace lumaro::test
