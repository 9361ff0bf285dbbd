// UtilBytes.h - bytes of memory read as a number the same way on every host.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Util::Bytes {

// n bytes (at most 8) from p as a little-endian number: the first byte is the
// lowest, on big-endian hosts too, so that a scan counting trailing zeros
// finds the first set bit in memory order.
inline uint64_t loadLittle(const unsigned char* p, std::size_t n = 8) {
    uint64_t word = 0;
    std::memcpy(&word, p, n);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    return word;
}

}  // namespace Util::Bytes
