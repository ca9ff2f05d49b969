#pragma once

#include <cstdint>

namespace imaging {

// Fast seedable source of 32-bit unsigned random numbers (xoshiro128**,
// seeded through splitmix64). Not for secrets; for picture noise.
class RandomSource {
public:
    // Seeded from the operating system.
    RandomSource();
    explicit RandomSource(std::uint64_t seed);

    std::uint32_t next() {
        const std::uint32_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint32_t t = s_[1] << 9;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 11);
        return result;
    }
    std::uint64_t next64() { return (std::uint64_t(next()) << 32) | next(); }

private:
    static std::uint32_t rotl(std::uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

    std::uint32_t s_[4];
};

}  // namespace imaging
