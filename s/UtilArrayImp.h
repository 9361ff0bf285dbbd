// UtilArrayImp.h - fixed values and helpers shared by the array units.
#pragma once

#include "UtilReport.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace Util::Array {

// One growth step covers at least this many bytes where the element size allows.
inline constexpr int kMinStepBytes = 40;
// count is an int, so the highest index an array can make exist.
inline constexpr int kMaxIndex = INT_MAX - 1;

inline constexpr const char* kMsgBadIndex = "Bad index.\n";
inline constexpr const char* kMsgBadExpandIndex = "Bad expand index.\n";
inline constexpr const char* kMsgOutOfRange = "Element out of range. Use expand.\n";
inline constexpr const char* kMsgUnsorted = "Sort produced an unsorted list.\n";
inline constexpr const char* kMsgBadElementSize = "Bad element size %d.\n";
inline constexpr const char* kMsgNoMemory = "Out Of Memory\n";

// Exchanges the n bytes at a and b (which do not overlap), a word at a time
// where the size allows: elements are mostly a word or a few.
inline void swapBytes(void* a, void* b, std::size_t n) {
    auto* p = static_cast<unsigned char*>(a);
    auto* q = static_cast<unsigned char*>(b);
    for (; n >= sizeof(uint64_t); n -= sizeof(uint64_t), p += sizeof(uint64_t), q += sizeof(uint64_t)) {
        uint64_t x, y;
        std::memcpy(&x, p, sizeof x);
        std::memcpy(&y, q, sizeof y);
        std::memcpy(p, &y, sizeof y);
        std::memcpy(q, &x, sizeof x);
    }
    if (n >= sizeof(uint32_t)) {
        uint32_t x, y;
        std::memcpy(&x, p, sizeof x);
        std::memcpy(&y, q, sizeof y);
        std::memcpy(p, &y, sizeof y);
        std::memcpy(q, &x, sizeof x);
        n -= sizeof(uint32_t);
        p += sizeof(uint32_t);
        q += sizeof(uint32_t);
    }
    for (; n > 0; --n, ++p, ++q) {
        unsigned char c = *p;
        *p = *q;
        *q = c;
    }
}

// The growth step after adjustment: elsize * step >= 40 where possible, and at
// least 1.
inline int adjustedStep(int elsize, int step) {
    if (static_cast<int64_t>(elsize) * step < kMinStepBytes)
        step = kMinStepBytes / elsize;
    return step < 1 ? 1 : step;
}

}  // namespace Util::Array
