// FNV-1a 64, the record's hash of transfers and configuration bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tapsim {

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;

inline uint64_t fnv1a(uint64_t hash, const uint8_t *data, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        hash ^= data[i];
        hash *= kFnvPrime;
    }
    return hash;
}

} // namespace tapsim
