#pragma once

#include <string>
#include <string_view>

// Answers written by hand for the scripted server.
namespace scripted {

// Bytes that show where they were cut: "abc...zab...".
inline std::string pattern(std::size_t length, std::size_t offset = 0) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>('a' + (offset + i) % 26);
    return bytes;
}

// A complete answer with a Content-Length; extraHeaders are whole lines ending in \r\n.
inline std::string answer(std::string_view body, std::string_view extraHeaders = {},
                          std::string_view status = "200 OK") {
    return "HTTP/1.1 " + std::string(status) +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           std::string(extraHeaders) + "\r\n" + std::string(body);
}

}  // namespace scripted
