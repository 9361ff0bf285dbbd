// UtilTextHash.h - the keyed hash behind the indexes that texts and pointer
// identities from files and callers fill: the name cache's, the segment
// directory's and the pointer stream's.
//
// Those values are chosen by whoever wrote the file, so every step of the
// hash multiplies by words of a key drawn at random once per process: the
// folded 64 x 64 -> 128-bit multiply of wyhash, with all of its multipliers
// secret. Without the key no one can compute a name's hash, and no step can
// be undone or made to vanish, so no one can make names or identities that
// crowd one part of an index. The hash never leaves the process; files do
// not depend on it. docs/segfile.md says why this function and not another.
#pragma once

#include "UtilBytes.h"
#include "UtilWide.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace Util::KeyedHash {

struct Key {
    uint64_t k0;  // with the length, the starting state
    uint64_t k1;  // taken into each 16-byte block, and into the length at the end
    uint64_t k2;  // taken into the last block
    uint64_t k3;  // taken into the final mix
};

// The process's key, drawn from the system's random source on first use.
const Key& processKey() noexcept;

namespace Details {

// The two halves of a * b folded into one: every bit of either factor moves
// bits of the result, and nothing undoes it.
inline uint64_t fold(uint64_t a, uint64_t b) {
    const Wide::Product p = Wide::multiply(a, b);
    return p.high ^ p.low;
}

}  // namespace Details

// The hash of n bytes under `key`.
inline uint64_t hashBytes(const void* data, std::size_t n, const Key& key) {
    using Bytes::loadLittle;
    using Details::fold;
    const auto* p = static_cast<const unsigned char*>(data);
    uint64_t h = key.k0 ^ n;
    std::size_t rest = n;
    for (; rest > 16; rest -= 16, p += 16)
        h = fold(loadLittle(p) ^ key.k1, loadLittle(p + 8) ^ h);
    // The last 1 to 16 bytes as two words that together hold each of them
    // (overlapping where there are fewer than 16): for a given length, two
    // different tails never give the same pair.
    uint64_t a = 0, b = 0;
    if (rest >= 8) {
        a = loadLittle(p);
        b = loadLittle(p + rest - 8);
    } else if (rest >= 4) {
        a = loadLittle(p, 4);
        b = loadLittle(p + rest - 4, 4);
    } else if (rest > 0) {
        a = uint64_t{p[0]} << 16 | uint64_t{p[rest / 2]} << 8 | p[rest - 1];
    }
    h = fold(a ^ key.k2, b ^ h);
    return fold(h ^ key.k3, n ^ key.k1);
}

// A 64-bit value (a pointer or an identity): the hash of its eight bytes in
// little-endian order.
inline uint64_t hashWord(uint64_t word, const Key& key) {
    const uint64_t h = Details::fold(word ^ key.k2, word ^ key.k0 ^ 8);
    return Details::fold(h ^ key.k3, 8 ^ key.k1);
}

}  // namespace Util::KeyedHash

namespace Util {

// The hash of a zero-terminated text under the process's key.
inline uint64_t hashText(const char* text) {
    return KeyedHash::hashBytes(text, std::strlen(text), KeyedHash::processKey());
}
// The same for a text whose length is known.
inline uint64_t hashText(const char* text, std::size_t len) {
    return KeyedHash::hashBytes(text, len, KeyedHash::processKey());
}

// For the standard unordered containers that hold a file's texts: theirs
// would hash them without a key.
struct KeyedTextHash {
    std::size_t operator()(std::string_view text) const noexcept {
        return static_cast<std::size_t>(KeyedHash::hashBytes(text.data(), text.size(), KeyedHash::processKey()));
    }
};

}  // namespace Util
