#pragma once

#include <string>
#include <string_view>

namespace share {

inline constexpr std::string_view kHexDigits = "0123456789abcdef";
inline constexpr std::string_view kAlphanumerics =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// length characters drawn uniformly from alphabet (at most 256 symbols) with
// the operating system's cryptographic source; throws std::runtime_error
// when that source fails.
std::string randomToken(std::size_t length, std::string_view alphabet = kAlphanumerics);

// A new user key: 32 hexadecimal digits.
inline std::string newUserKey() { return randomToken(32, kHexDigits); }
// A new picture id: 8 characters of [A-Za-z0-9].
inline std::string newPictureId() { return randomToken(8, kAlphanumerics); }

}  // namespace share
