// Hash flooding: the names and identities a file holds cannot be chosen to
// crowd the indexes, because the hash behind them is keyed per process.
#include "Crafted.h"
#include "TestSupport.h"
#include "UtilTextHash.h"
#include "UtilWide.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

using Util::KeyedHash::Key;

constexpr unsigned kSlotBits = 16;  // an index of 65,536 slots
constexpr uint64_t kSlotMask = (uint64_t{1} << kSlotBits) - 1;
// Of a few thousand values spread at random over the slots, no slot gets
// this many: the chance is below one in a million.
constexpr std::size_t kMostInOneSlot = 8;

const Key kOneKey{0x0123456789abcdefull, 0xfedcba9876543210ull, 0x0f1e2d3c4b5a6978ull, 0x8796a5b4c3d2e1f0ull};
const Key kOtherKey{0x1111111111111111ull, 0x2222222222222222ull, 0x3333333333333333ull, 0x4444444444444444ull};

template <class Values, class Hash>
std::size_t mostInOneSlot(const Values& values, Hash hash) {
    std::map<uint64_t, std::size_t> slots;
    std::size_t most = 0;
    for (const auto& v : values)
        most = std::max(most, ++slots[hash(v) & kSlotMask]);
    return most;
}

uint64_t textHash(const std::string& text, const Key& key) {
    return Util::KeyedHash::hashBytes(text.data(), text.size(), key);
}

TEST(KeyedHash, AWordHashesAsItsEightLittleEndianBytes) {
    for (uint64_t w : std::vector<uint64_t>{0, 1, 0x8000000000000000ull, 0x0102030405060708ull}) {
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i)
            bytes[i] = static_cast<unsigned char>(w >> (8 * i));
        EXPECT_EQ(Util::KeyedHash::hashWord(w, kOneKey), Util::KeyedHash::hashBytes(bytes, 8, kOneKey));
    }
}

TEST(Wide, ThePortableProductsAreTheWideOnes) {
    uint64_t a = 0x9e3779b97f4a7c15ull, b = ~uint64_t{0};
    for (int i = 0; i < 1000; ++i, a = a * 6364136223846793005ull + 1, b = b * 2862933555777941757ull + 3) {
        const auto wide = Util::Wide::multiply(a, b), portable = Util::Wide::multiplyPortable(a, b);
        ASSERT_EQ(portable.high, wide.high) << a << " * " << b;
        ASSERT_EQ(portable.low, wide.low) << a << " * " << b;
        const uint64_t n = (b >> (i % 64)) | 1;
        ASSERT_EQ(Util::Wide::mulmodPortable(a, b, n), Util::Wide::mulmod(a, b, n)) << a << " * " << b << " % " << n;
    }
    EXPECT_EQ(Util::Wide::mulmodPortable(~uint64_t{0}, ~uint64_t{0}, ~uint64_t{0} - 1), 1u);
}

TEST(KeyedHash, EveryByteAndTheLengthCount) {
    // Each length from 0 to 40 over the tail and block paths: changing any one
    // byte, or only the length, changes the hash.
    std::string text(40, 'a');
    for (std::size_t n = 0; n <= text.size(); ++n) {
        const uint64_t whole = Util::KeyedHash::hashBytes(text.data(), n, kOneKey);
        EXPECT_NE(whole, Util::KeyedHash::hashBytes(text.data(), n + 1, kOneKey)) << n;
        for (std::size_t i = 0; i < n; ++i) {
            std::string other = text;
            other[i] = 'b';
            EXPECT_NE(whole, Util::KeyedHash::hashBytes(other.data(), n, kOneKey)) << n << " " << i;
        }
    }
}

TEST(Flooding, NamesCollidingUnderOneKeySpreadUnderAnother) {
    // Names that share their slot under one key, found by trying names until
    // enough do: what an attacker who knew the key could make.
    std::vector<std::string> crowd;
    const uint64_t slot = textHash("n0", kOneKey) & kSlotMask;
    for (long long i = 0; crowd.size() < 40; ++i) {
        std::string name = UtilTest::numbered("n", i);
        if ((textHash(name, kOneKey) & kSlotMask) == slot)
            crowd.push_back(name);
    }
    EXPECT_EQ(mostInOneSlot(crowd, [](const std::string& t) { return textHash(t, kOneKey); }), crowd.size());
    EXPECT_LT(mostInOneSlot(crowd, [](const std::string& t) { return textHash(t, kOtherKey); }), kMostInOneSlot);
    EXPECT_LT(mostInOneSlot(crowd, [](const std::string& t) { return Util::hashText(t.c_str()); }), kMostInOneSlot);
}

TEST(Flooding, NamesCollidingUnderTheFormerHashSpread) {
    const auto crowd = UtilTest::Crafted::formerTextCollisions(3000);
    const uint64_t former = UtilTest::Crafted::formerTextHash(crowd[0].c_str());
    for (const auto& name : crowd)
        ASSERT_EQ(UtilTest::Crafted::formerTextHash(name.c_str()), former);
    EXPECT_LT(mostInOneSlot(crowd, [](const std::string& t) { return Util::hashText(t.c_str()); }), kMostInOneSlot);
}

TEST(Flooding, IdentitiesCollidingUnderTheFormerHashSpread) {
    const auto crowd = UtilTest::Crafted::formerIdentityCollisions(500, kSlotBits);
    ASSERT_EQ(crowd.size(), 500u);
    auto keyed = [](uint32_t id) { return Util::KeyedHash::hashWord(id, Util::KeyedHash::processKey()) >> 32; };
    EXPECT_LT(mostInOneSlot(crowd, keyed), kMostInOneSlot);
}

}  // namespace
