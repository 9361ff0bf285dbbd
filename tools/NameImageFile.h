// NameImageFile.h - a file that must hold one whole name image, for
// utiltool and the Python module alike.
#pragma once

#include <UtilCname.h>
#include <UtilPtrfile.h>

#include <cstdint>
#include <limits>

namespace UtilTool {

// The longest name a listed image may hold: any the format can carry.
inline constexpr unsigned int kLongestListedName = std::numeric_limits<unsigned int>::max() - 1;

// Reads the image at the start of `in` into `cache` (a bad image is the
// cache's fatal report, which passes to the caller); -1 when the file ends
// with it, else the offset of the bytes that follow it.
inline int64_t readWholeImage(UT_PTRFILE& in, UT_NCH_CACHE& cache) {
    cache.read(&in);
    const int64_t end = in.getfoffset();
    in.readint8();
    return in.geterror() ? -1 : end;
}

}  // namespace UtilTool
