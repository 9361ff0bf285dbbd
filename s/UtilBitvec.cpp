// UtilBitvec.cpp - bit vectors.
#include "UtilBytes.h"
#include "UtilReport.h"

#include <UtilBitvec.h>

#include <PortStream.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilBitvec.cpp", "1.0"};
// The bits could not be allocated; the other reports carry the common code.
constexpr int kFatalNoMemory = 1;

constexpr const char* kMsgNoMemory = "Out of memory.\n";
constexpr const char* kMsgTooLarge = "Bit index %u is beyond the largest bit vector.\n";
constexpr const char* kMsgTooLong = "Bit vector size %u is beyond the largest bit vector.\n";
// Counts and indices are answered as int: a vector of INT32_MAX bits has
// every count (up to INT32_MAX) and every index (up to INT32_MAX - 1) exact.
constexpr uint32_t kMaxBits = UT_BITVEC::kMaxBits;
constexpr uint32_t kMaxBit = kMaxBits - 1;
static_assert(kMaxBits <= static_cast<uint32_t>(INT32_MAX), "every count must fit an int");

// A size no vector may have is refused before anything is allocated.
uint32_t checkedSize(uint32_t n) {
    if (n > kMaxBits)
        UTIL_REPORT().fatal(Util::Frame::kFatal, kMsgTooLong, n);
    return n;
}

// lowbits[k]: the byte with its k lowest bits set.
constexpr unsigned char lowbits[9] = {0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F, 0xFF};

// The bits lo..hi (0..7, lo <= hi) of a byte.
unsigned char byteMask(unsigned lo, unsigned hi) { return static_cast<unsigned char>(lowbits[hi + 1] & ~lowbits[lo]); }

unsigned char* allocate(uint32_t bytes) {
    auto* p = new (std::nothrow) unsigned char[bytes]();
    if (!p)
        UTIL_REPORT().fatal(kFatalNoMemory, "%s", kMsgNoMemory);
    return p;
}

// Set bits of bytes [from, to), a word at a time.
int popcount(const unsigned char* p, uint32_t from, uint32_t to) {
    int total = 0;
    uint32_t i = from;
    for (; i + 8 <= to; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        total += __builtin_popcountll(w);
    }
    for (; i < to; ++i)
        total += __builtin_popcount(p[i]);
    return total;
}

// The lowest set bit of the bits in [from, limit), or -1.
int64_t scan(const unsigned char* p, uint32_t from, uint32_t limit) {
    uint32_t byte = from / 8;
    unsigned first = p[byte] & static_cast<unsigned char>(~lowbits[from % 8]);
    uint32_t last = (limit - 1) / 8;
    if (first)
        goto found_in_byte;
    for (++byte; byte <= last; ++byte) {
        if (byte + 8 <= last + 1) {
            const uint64_t w = Util::Bytes::loadLittle(p + byte);  // the lowest bit is the first in memory
            if (w == 0) {
                byte += 7;
                continue;
            }
            int64_t bit = int64_t{byte} * 8 + __builtin_ctzll(w);
            return bit < limit ? bit : -1;
        }
        first = p[byte];
        if (first)
            goto found_in_byte;
    }
    return -1;
found_in_byte:
    int64_t bit = int64_t{byte} * 8 + __builtin_ctz(first);
    return bit < limit ? bit : -1;
}

}  // namespace

UT_BITVEC::UT_BITVEC(unsigned int size) : n(checkedSize(size)), bits(allocate(size / 8 + 1)) {}

UT_BITVEC::UT_BITVEC(const UT_BITVEC& other) : n(other.n), bits(allocate(other.bytes())) {
    std::memcpy(bits, other.bits, bytes());
}

UT_BITVEC& UT_BITVEC::operator=(const UT_BITVEC& other) {
    if (this == &other)
        return *this;
    unsigned char* copy = allocate(other.bytes());
    std::memcpy(copy, other.bits, other.bytes());
    delete[] bits;
    bits = copy;
    n = other.n;
    return *this;
}

UT_BITVEC::~UT_BITVEC() { delete[] bits; }

unsigned char UT_BITVEC::grow_and_set(unsigned int i) {
    if (i > kMaxBit)
        UTIL_REPORT().fatal(Util::Frame::kFatal, kMsgTooLarge, i);
    if (i >= n) {
        uint32_t grown = (i + 1) / 8 + 1;
        unsigned char* bigger = allocate(grown);
        std::memcpy(bigger, bits, bytes());
        delete[] bits;
        bits = bigger;
        n = i + 1;
    }
    bits[i / 8] |= static_cast<unsigned char>(1u << (i % 8));
    return 1;
}

void UT_BITVEC::set_range_bits(unsigned int a, unsigned int b) {
    if (a > b)
        return;
    if (b >= n)
        set(b);
    uint32_t first = a / 8, last = b / 8;
    if (first == last) {
        bits[first] |= byteMask(a % 8, b % 8);
        return;
    }
    bits[first] |= byteMask(a % 8, 7);
    bits[last] |= byteMask(0, b % 8);
    std::memset(bits + first + 1, 0xFF, last - first - 1);
}

void UT_BITVEC::set_range_bytes(unsigned int a, unsigned int b) {
    if (a > b)
        return;
    if (b >= n)
        set(b);
    std::memset(bits + a / 8, 0xFF, b / 8 - a / 8 + 1);
}

void UT_BITVEC::reset_range_bits(unsigned int a, unsigned int b) {
    if (n == 0 || a > std::min(b, n - 1))
        return;
    b = std::min(b, n - 1);
    uint32_t first = a / 8, last = b / 8;
    if (first == last) {
        bits[first] &= static_cast<unsigned char>(~byteMask(a % 8, b % 8));
        return;
    }
    bits[first] &= lowbits[a % 8];
    bits[last] &= static_cast<unsigned char>(~lowbits[b % 8 + 1]);
    std::memset(bits + first + 1, 0, last - first - 1);
}

void UT_BITVEC::reset_range_bytes(unsigned int a, unsigned int b) {
    if (n == 0 || a > std::min(b, n - 1))
        return;
    b = std::min(b, n - 1);
    std::memset(bits + a / 8, 0, b / 8 - a / 8 + 1);
}

int UT_BITVEC::count_set_bits() const {
    return popcount(bits, 0, n / 8) + __builtin_popcount(bits[n / 8] & lowbits[n % 8]);
}

int UT_BITVEC::count_set_range_bits(unsigned int a, unsigned int b) const {
    if (n == 0 || a > std::min(b, n - 1))
        return 0;
    b = std::min(b, n - 1);
    uint32_t first = a / 8, last = b / 8;
    if (first == last)
        return __builtin_popcount(bits[first] & byteMask(a % 8, b % 8));
    return __builtin_popcount(bits[first] & byteMask(a % 8, 7)) + popcount(bits, first + 1, last) +
           __builtin_popcount(bits[last] & byteMask(0, b % 8));
}

int UT_BITVEC::count_set_range_bytes(unsigned int a, unsigned int b) const {
    if (n == 0 || a > std::min(b, n - 1))
        return 0;
    b = std::min(b, n - 1);
    uint32_t last = b / 8;
    unsigned char tail = bits[last];
    if (last == n / 8)
        tail &= lowbits[n % 8];
    return popcount(bits, a / 8, last) + __builtin_popcount(tail);
}

int UT_BITVEC::find_next_set_bit(unsigned int i) const {
    if (i >= n)
        return -1;
    return static_cast<int>(scan(bits, i, n));
}

int UT_BITVEC::find_nth_set_bit(unsigned int k) const { return find_nth_set_bit_from(k, 0); }

int UT_BITVEC::find_nth_set_bit_from(unsigned int k, unsigned int start) const {
    if (start >= n)
        return -1;
    // Skip whole words while they hold no more than the bits still to pass.
    uint32_t byte = start / 8;
    unsigned char head = bits[byte] & static_cast<unsigned char>(~lowbits[start % 8]);
    if (byte == n / 8)
        head &= lowbits[n % 8];
    uint64_t remaining = k;
    unsigned c = static_cast<unsigned>(__builtin_popcount(head));
    if (remaining >= c) {
        remaining -= c;
        ++byte;
        const uint32_t whole = n / 8;  // bytes that lie wholly inside the vector
        for (; byte + 8 <= whole; byte += 8) {
            uint64_t w;
            std::memcpy(&w, bits + byte, 8);
            unsigned wc = static_cast<unsigned>(__builtin_popcountll(w));
            if (remaining < wc)
                break;
            remaining -= wc;
        }
        for (;; ++byte) {
            if (byte > whole)
                return -1;
            head = bits[byte];
            if (byte == whole)
                head &= lowbits[n % 8];
            c = static_cast<unsigned>(__builtin_popcount(head));
            if (remaining < c)
                break;
            remaining -= c;
        }
    }
    for (unsigned bit = 0;; ++bit)
        if ((head >> bit) & 1 && remaining-- == 0)
            return static_cast<int>(byte * 8 + bit);
}

namespace {

template <class Op>
void combine(unsigned char* bits, uint32_t n, uint32_t bytes, const unsigned char* other, uint32_t otherN,
             uint32_t otherBytes, Op op) {
    uint32_t m = std::min(n, otherN);
    uint32_t c = std::min(bytes, otherBytes);
    for (uint32_t i = 0; i + 1 < c; ++i)
        bits[i] = op(bits[i], other[i], 0xFF);
    bits[c - 1] = op(bits[c - 1], other[c - 1], lowbits[m % 8]);
}

}  // namespace

UT_BITVEC& UT_BITVEC::operator|=(const UT_BITVEC& w) {
    combine(bits, n, bytes(), w.bits, w.n, w.bytes(), [](unsigned char x, unsigned char y, unsigned char mask) {
        return static_cast<unsigned char>(x | (y & mask));
    });
    return *this;
}

UT_BITVEC& UT_BITVEC::operator&=(const UT_BITVEC& w) {
    combine(bits, n, bytes(), w.bits, w.n, w.bytes(), [](unsigned char x, unsigned char y, unsigned char mask) {
        return static_cast<unsigned char>(x & y & mask);
    });
    uint32_t c = std::min(bytes(), w.bytes());
    std::memset(bits + c, 0, bytes() - c);
    return *this;
}

UT_BITVEC& UT_BITVEC::operator^=(const UT_BITVEC& w) {
    combine(bits, n, bytes(), w.bits, w.n, w.bytes(), [](unsigned char x, unsigned char y, unsigned char mask) {
        return static_cast<unsigned char>(x ^ (y & mask));
    });
    return *this;
}

void UT_BITVEC::print() const {
    for (uint32_t i = 0; i < n; ++i)
        UTIL_REPORT().status("%s", test(i) ? "1" : "0");
}

void UT_BITVEC::print(Port::Stream& stream) const {
    for (uint32_t i = 0; i < n; ++i)
        stream << (test(i) ? "1" : "0");
    stream.flush();
}
