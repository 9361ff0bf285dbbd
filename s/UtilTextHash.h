// UtilTextHash.h - the hash of a zero-terminated text, for the indexes kept
// beside the name tree and the segment directory.
#pragma once

#include <cstdint>

namespace Util {

// FNV-1a over the bytes (no length needed first), then a full mix, so that
// the low bits, which pick a slot, depend on every byte: names that differ
// only in their last characters would otherwise crowd neighbouring slots.
inline uint64_t hashText(const char* text) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        h = (h ^ *p) * 0x100000001b3ull;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return h;
}

}  // namespace Util
