// UtilBitvec.h - a vector of bits that grows when a bit beyond its end is set.
//
// Bit i lives in byte i / 8 at position i mod 8 from the least significant
// bit; a vector of n bits holds n / 8 + 1 bytes. Bits at n and above inside
// the last byte are not part of the vector: counts and searches ignore them,
// but the byte-wide operations may set them.
//
// Ranges a..b are inclusive; operations that do not grow the vector limit b
// to n - 1. A range with a > b, and any limited range of a 0-bit vector, does
// nothing and counts or finds nothing. Only set, set_range_bits and
// set_range_bytes grow the vector. Counts and searches run a word at a time.
//
// Counts and indices are answered as int, so a vector holds at most kMaxBits
// (2147483647) bits: every answer is then exact.
//
// Fatal reports: "Out of memory.\n" (code 1) when storage cannot be had; a
// size above kMaxBits ("Bit vector size %u is beyond the largest bit
// vector.\n") or a bit index of kMaxBits or more ("Bit index %u is beyond the
// largest bit vector.\n"), code 19. A refused call changes nothing.
//
// Lives in: s/UtilBitvec.cpp; tests: tests/bitvec_test.cpp; docs: docs/bitvec.md.
#pragma once

#include "UtilExport.h"

#include <cstdint>

namespace Port {
class Stream;
}

class UTIL_EXPORT UT_BITVEC {
public:
    // The most bits a vector holds: the largest count an int answers.
    static constexpr unsigned int kMaxBits = 2147483647u;

    explicit UT_BITVEC(unsigned int n = 32);
    UT_BITVEC(const UT_BITVEC& other);
    UT_BITVEC& operator=(const UT_BITVEC& other);
    ~UT_BITVEC();

    unsigned int size() const { return n; }
    bool test(unsigned int i) const { return i < n && (bits[i / 8] >> (i % 8)) & 1; }

    // Sets bit i, growing the vector to i + 1 bits when i >= n; returns 1.
    // Inside the vector it is inline: setting bits is the common loop.
    unsigned char set(unsigned int i) {
        if (i < n) {
            bits[i / 8] |= static_cast<unsigned char>(1u << (i % 8));
            return 1;
        }
        return grow_and_set(i);
    }
    void set_range_bits(unsigned int a, unsigned int b);
    // Sets every bit of the bytes holding a..b.
    void set_range_bytes(unsigned int a, unsigned int b);
    void reset_range_bits(unsigned int a, unsigned int b);
    void reset_range_bytes(unsigned int a, unsigned int b);

    int count_set_bits() const;
    int count_set_range_bits(unsigned int a, unsigned int b) const;
    // The set bits of the whole bytes from a / 8 up to b / 8, and of byte b / 8
    // every set bit below n (also those above b).
    int count_set_range_bytes(unsigned int a, unsigned int b) const;

    // Index of the first set bit at i or above, or -1.
    int find_next_set_bit(unsigned int i) const;
    // Index of the (k + 1)-th set bit, or -1.
    int find_nth_set_bit(unsigned int k) const;
    // The same, counting only the set bits at `start` or above.
    int find_nth_set_bit_from(unsigned int k, unsigned int start) const;

    // Combine the bits below the shorter length; n never changes. &= also
    // clears every bit of this at or above the other's length.
    UT_BITVEC& operator|=(const UT_BITVEC& other);
    UT_BITVEC& operator&=(const UT_BITVEC& other);
    UT_BITVEC& operator^=(const UT_BITVEC& other);

    // One status line "1" or "0" per bit.
    void print() const;
    // "1" or "0" per bit, then a flush.
    void print(Port::Stream& stream) const;

private:
    unsigned char grow_and_set(unsigned int i);

    uint32_t bytes() const { return n / 8 + 1; }

    uint32_t n;           // the size in bits; setting a bit at n or above grows it
    unsigned char* bits;  // bytes() bytes, bit i in byte i / 8 at bit i % 8
};
