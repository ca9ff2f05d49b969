#include "imaging/RandomSource.h"

#include <random>

namespace imaging {
namespace {

std::uint64_t splitmix64(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t operatingSystemSeed() {
    std::random_device device;
    return (std::uint64_t(device()) << 32) | device();
}

}  // namespace

RandomSource::RandomSource() : RandomSource(operatingSystemSeed()) {}

RandomSource::RandomSource(std::uint64_t seed) {
    const std::uint64_t a = splitmix64(seed);
    const std::uint64_t b = splitmix64(seed);
    s_[0] = std::uint32_t(a);
    s_[1] = std::uint32_t(a >> 32);
    s_[2] = std::uint32_t(b);
    s_[3] = std::uint32_t(b >> 32);
}

}  // namespace imaging
