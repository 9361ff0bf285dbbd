// UtilWide.h - the full product of two 64-bit numbers, through the compiler's
// 128-bit integer where it has one and from 32-bit halves where it has not.
#pragma once

#include <cstdint>

namespace Util::Wide {

struct Product {
    uint64_t high;
    uint64_t low;
};

// From four 32 x 32-bit products: what the 128-bit integer gives, without it.
inline Product multiplyPortable(uint64_t a, uint64_t b) {
    constexpr uint64_t kLow = 0xffffffffull;
    const uint64_t ll = (a & kLow) * (b & kLow), lh = (a & kLow) * (b >> 32);
    const uint64_t hl = (a >> 32) * (b & kLow), hh = (a >> 32) * (b >> 32);
    const uint64_t middle = (ll >> 32) + (lh & kLow) + (hl & kLow);
    return {hh + (lh >> 32) + (hl >> 32) + (middle >> 32), (ll & kLow) | middle << 32};
}

inline Product multiply(uint64_t a, uint64_t b) {
#ifdef __SIZEOF_INT128__
    const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
    return {static_cast<uint64_t>(p >> 64), static_cast<uint64_t>(p)};
#else
    return multiplyPortable(a, b);
#endif
}

// a * b mod n (n > 0) by doubling and adding, each step below n: what the
// 128-bit remainder gives, without it.
inline uint64_t mulmodPortable(uint64_t a, uint64_t b, uint64_t n) {
    uint64_t r = 0;
    for (a %= n; b; b >>= 1) {
        if (b & 1)
            r = r >= n - a ? r - (n - a) : r + a;
        a = a >= n - a ? a - (n - a) : a + a;
    }
    return r;
}

inline uint64_t mulmod(uint64_t a, uint64_t b, uint64_t n) {
#ifdef __SIZEOF_INT128__
    return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % n);
#else
    return mulmodPortable(a, b, n);
#endif
}

}  // namespace Util::Wide
