// Crafted.h - names and identities a hostile file could hold: built to
// collide under the hashes the indexes used before they were keyed, which
// anyone could compute and undo. The tests and the flooding benchmark share
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace UtilTest::Crafted {

constexpr uint64_t kFormerMul = 0xff51afd7ed558ccdull;
constexpr uint64_t kFormerStart = 0x9e3779b97f4a7c15ull;
constexpr uint64_t kFormerPointerMul = 0x9E3779B97F4A7C15ull;

// The former text hash: eight bytes at a time, each step a bijection of the
// state anyone could run backwards.
inline uint64_t formerTextHash(const char* text) {
    std::size_t n = std::strlen(text);
    uint64_t h = kFormerStart ^ n;
    for (; n >= 8; n -= 8, text += 8) {
        uint64_t word;
        std::memcpy(&word, text, 8);
        h = (h ^ word) * kFormerMul;
        h ^= h >> 32;
    }
    uint64_t tail = 0;
    std::memcpy(&tail, text, n);
    h = (h ^ tail) * 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    h *= kFormerMul;
    h ^= h >> 33;
    return h;
}

// n distinct 16-character names with one formerTextHash: the first eight
// characters count, the last eight are solved for by running the second step
// backwards from a fixed state (names whose solution holds a zero byte are
// passed over).
inline std::vector<std::string> formerTextCollisions(std::size_t n) {
    uint64_t inverse = kFormerMul;  // Newton's iteration: each step doubles the correct low bits
    for (int i = 0; i < 6; ++i)
        inverse *= 2 - kFormerMul * inverse;
    const uint64_t target = 0x0123456789abcdefull;
    const uint64_t before = (target ^ (target >> 32)) * inverse;  // the state before the last step's mix
    std::vector<std::string> out;
    for (uint64_t i = 0; out.size() < n; ++i) {
        char text[17] = {};
        for (int c = 0; c < 8; ++c)
            text[c] = static_cast<char>('A' + ((i >> (4 * c)) & 15));
        uint64_t first;
        std::memcpy(&first, text, 8);
        uint64_t h = ((kFormerStart ^ 16) ^ first) * kFormerMul;
        h ^= h >> 32;
        const uint64_t second = before ^ h;
        std::memcpy(text + 8, &second, 8);
        if (std::strlen(text) == 16)
            out.emplace_back(text);
    }
    return out;
}

// n distinct identities (from 1) whose former pointer hash, the top `bits`
// bits of a multiplication by a known constant, is the same.
inline std::vector<uint32_t> formerIdentityCollisions(std::size_t n, unsigned bits) {
    std::vector<uint32_t> out;
    const uint64_t home = kFormerPointerMul >> (64 - bits);  // identity 1's
    for (uint64_t id = 1; out.size() < n && id <= UINT32_MAX; ++id)
        if ((id * kFormerPointerMul) >> (64 - bits) == home)
            out.push_back(static_cast<uint32_t>(id));
    return out;
}

// A 32-bit value as the four little-endian bytes a file holds.
inline std::string le32(uint32_t v) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>(v >> (8 * i));
    return out;
}

// A name image as the caches write it: name i under identity ids[i] with
// refsOf(i) references.
template <class RefsOf>
std::string nameImage(const std::vector<std::string>& names, const std::vector<uint32_t>& ids, RefsOf refsOf) {
    std::string image = le32(static_cast<uint32_t>(names.size()));
    for (std::size_t i = 0; i < names.size(); ++i)
        image += le32(ids[i]) + le32(refsOf(i)) + le32(static_cast<uint32_t>(names[i].size())) + names[i];
    return image;
}

}  // namespace UtilTest::Crafted
