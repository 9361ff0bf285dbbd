// Hash flooding: the names and identities a file holds cannot be chosen to
// crowd the indexes, because the hash behind them is keyed per process.
#include "Crafted.h"
#include "TestSupport.h"
#include "UtilTextHash.h"
#include "UtilWide.h"

#include <UtilCname.h>
#include <UtilIfile.h>
#include <UtilNameCache.h>
#include <UtilPtrfile.h>

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

TEST(Flooding, ASegmentedFileOfCraftedNamesKeepsEverySegment) {
    const auto names = UtilTest::Crafted::formerTextCollisions(2000);
    const std::string path = UtilTest::tempPath("crafted.seg");
    {
        UT_IFILE out;
        ASSERT_EQ(out.create(path.c_str()), 1);
        for (std::size_t i = 0; i < names.size(); ++i) {
            Port::Stream* s = out.putdataseg(names[i], 0, 0);
            ASSERT_NE(s, nullptr);
            s->writeint32(static_cast<int32_t>(i));
            ASSERT_EQ(out.enddataseg(), 1);
        }
        ASSERT_EQ(out.unload(), 1);
    }
    UT_IFILE in;
    ASSERT_EQ(in.load(path.c_str()), 1);
    ASSERT_EQ(in.getnumsegs(), static_cast<short>(names.size()));
    // Backwards, so that no look-up is served by trying the next entry.
    for (std::size_t i = names.size(); i-- > 0;) {
        Port::Stream* s = in.getdataseg(names[i], -1, nullptr);
        ASSERT_NE(s, nullptr) << i;
        EXPECT_EQ(s->readint32(), static_cast<int32_t>(i));
    }
    EXPECT_EQ(in.unload(), 1);
}

// An image whose identities and names were both chosen against the former
// hashes, read into each cache: every name is there with its count.
template <class CacheT>
void readsACraftedImage() {
    const auto names = UtilTest::Crafted::formerTextCollisions(1000);
    const auto ids = UtilTest::Crafted::formerIdentityCollisions(names.size(), kSlotBits);
    const std::string path = UtilTest::tempPath("crafted.names");
    UtilTest::spit(
        path, UtilTest::Crafted::nameImage(names, ids, [](std::size_t i) { return static_cast<uint32_t>(i % 5 + 1); }));
    UT_PTRFILE in(Port::Stream::READ);
    ASSERT_TRUE(in.open(path.c_str()));
    CacheT cache;
    cache.read(&in);
    in.close();
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto* name = cache.find(names[i].c_str());
        ASSERT_NE(name, nullptr) << i;
        EXPECT_EQ(name->getRefCount(), static_cast<int>(i % 5 + 1));
    }
}

TEST(Flooding, ACraftedNameImageReadsIntoTheTreeCache) { readsACraftedImage<UT_NCH_CACHE>(); }
TEST(Flooding, ACraftedNameImageReadsIntoTheMapCache) { readsACraftedImage<Util::NameCache::Cache>(); }

}  // namespace
