#include "RandomTokens.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace share {
namespace {

void fillRandom(unsigned char* out, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::getrandom(out, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("no random source");
        }
        out += n;
        size -= std::size_t(n);
    }
}

}  // namespace

std::string randomToken(std::size_t length, std::string_view alphabet) {
    const std::size_t symbols = alphabet.size();
    if (symbols == 0 || symbols > 256) throw std::invalid_argument("alphabet size");
    // Bytes at or above the largest multiple of the alphabet's size are
    // drawn again, so every symbol is equally likely.
    const unsigned limit = unsigned(256 - 256 % symbols);
    std::string token;
    token.reserve(length);
    unsigned char pool[64];
    while (token.size() < length) {
        fillRandom(pool, sizeof pool);
        for (unsigned char byte : pool) {
            if (byte >= limit) continue;
            token.push_back(alphabet[byte % symbols]);
            if (token.size() == length) break;
        }
    }
    return token;
}

}  // namespace share
