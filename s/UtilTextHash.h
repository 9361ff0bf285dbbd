// UtilTextHash.h - the hash of a zero-terminated text, for the indexes kept
// beside the name tree and the segment directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Util {

// Eight bytes at a time (the hash never leaves the process, so the host's
// byte order does not matter), then a full mix, so that every bit, whichever
// an index picks its slot by, depends on every byte: names that differ only
// in their last characters would otherwise crowd neighbouring slots.
inline uint64_t hashText(const char* text) {
    constexpr uint64_t kMul = 0xff51afd7ed558ccdull;
    std::size_t n = std::strlen(text);
    uint64_t h = 0x9e3779b97f4a7c15ull ^ n;
    for (; n >= 8; n -= 8, text += 8) {
        uint64_t word;
        std::memcpy(&word, text, 8);
        h = (h ^ word) * kMul;
        h ^= h >> 32;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, text, n);
    h = (h ^ tail) * 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    h *= kMul;
    h ^= h >> 33;
    return h;
}

}  // namespace Util
