// UtilArrayImp.h - fixed values and helpers shared by the array units.
#pragma once

#include "UtilReport.h"

#include <climits>
#include <cstdint>

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

// The growth step after adjustment: elsize * step >= 40 where possible, and at
// least 1.
inline int adjustedStep(int elsize, int step) {
    if (static_cast<int64_t>(elsize) * step < kMinStepBytes)
        step = kMinStepBytes / elsize;
    return step < 1 ? 1 : step;
}

}  // namespace Util::Array
