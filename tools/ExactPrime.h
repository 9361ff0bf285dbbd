// ExactPrime.h - primality exact for every 64-bit number, for utiltool and
// the Python module alike (the library's own tests are exact within its
// sieve's range).
#pragma once

#include "UtilWide.h"

#include <UtilPrime.h>

#include <cstdint>
#include <vector>

namespace UtilTool {

// Bases that make the strong-probable-prime test exact below 3.3e24, so for
// every 64-bit number.
inline constexpr uint64_t kExactBases[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37};
// Ranges below this go to the library's sieve, which is exact; a range is
// handed out in pieces of kPrimePiece numbers, so that output starts at once.
inline constexpr uint64_t kSieveTop = uint64_t{1} << 40;
inline constexpr uint64_t kPrimePiece = uint64_t{1} << 20;

inline uint64_t powmod(uint64_t a, uint64_t e, uint64_t n) {
    uint64_t r = 1;
    for (a %= n; e; e >>= 1, a = Util::Wide::mulmod(a, a, n))
        if (e & 1)
            r = Util::Wide::mulmod(r, a, n);
    return r;
}

// Miller-Rabin with the bases above: exact for every 64-bit n.
inline bool isPrimeExact(uint64_t n) {
    if (n < 2)
        return false;
    for (uint64_t p : kExactBases)
        if (n % p == 0)
            return n == p;
    uint64_t d = n - 1;
    int s = 0;
    for (; d % 2 == 0; d /= 2)
        ++s;
    for (uint64_t a : kExactBases) {
        uint64_t x = powmod(a, d, n);
        if (x == 1 || x == n - 1)
            continue;
        bool composite = true;
        for (int i = 1; i < s && composite; ++i)
            composite = (x = Util::Wide::mulmod(x, x, n)) != n - 1;
        if (composite)
            return false;
    }
    return true;
}

// The least prime >= v, or 0 above the largest 64-bit prime (as the library
// answers past its ends).
inline uint64_t nextPrimeExact(uint64_t v) {
    while (!isPrimeExact(v) && v != UINT64_MAX)
        ++v;
    return isPrimeExact(v) ? v : 0;
}

// The greatest prime <= v, or 0 below 2.
inline uint64_t prevPrimeExact(uint64_t v) {
    while (v > 1 && !isPrimeExact(v))
        --v;
    return isPrimeExact(v) ? v : 0;
}

// The primes from `from` to `to` (inclusive, from <= to), ascending: the
// sieve's below kSieveTop, tested one by one above.
inline std::vector<uint64_t> primesBetween(Util::Prime& sieve, uint64_t from, uint64_t to) {
    if (to < kSieveTop)
        return sieve.primeNumbersInRange(from, to);
    std::vector<uint64_t> out;
    for (uint64_t v = from;; ++v) {
        if (isPrimeExact(v))
            out.push_back(v);
        if (v == to)
            break;
    }
    return out;
}

// The last number of the piece of a range [from, hi] that starts at from.
inline uint64_t pieceEnd(uint64_t from, uint64_t hi) { return hi - from < kPrimePiece ? hi : from + kPrimePiece - 1; }

}  // namespace UtilTool
