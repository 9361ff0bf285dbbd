// Tests of the bit vector, against a naive reference where results are exact.
#include "TestSupport.h"

#include <UtilBitvec.h>

#include <random>

namespace {

UT_BITVEC withBits(unsigned n, std::initializer_list<unsigned> set) {
    UT_BITVEC v(n);
    for (unsigned i : set)
        v.set(i);
    return v;
}

TEST(Bitvec, GrowthKeepsTheOldBits) {
    UT_BITVEC v(32);
    v.set(31);
    v.set(40);
    EXPECT_EQ(v.size(), 41u);
    EXPECT_TRUE(v.test(31));
    EXPECT_TRUE(v.test(40));
    EXPECT_EQ(v.count_set_bits(), 2);
    EXPECT_FATAL(v.set(UINT32_MAX), 19, "Bit index 4294967295 is beyond the largest bit vector.\n");
}

TEST(BitvecLimits, TheLargestVectorAnswersEveryCountAndIndexExactly) {
    UT_BITVEC v(UT_BITVEC::kMaxBits);
    v.set(UT_BITVEC::kMaxBits - 1);
    EXPECT_EQ(v.find_next_set_bit(0), 2147483646);
    EXPECT_EQ(v.find_nth_set_bit(0), 2147483646);
    v.set_range_bits(0, UT_BITVEC::kMaxBits - 1);
    EXPECT_EQ(v.count_set_bits(), 2147483647);
    EXPECT_EQ(v.size(), UT_BITVEC::kMaxBits);
}

TEST(BitvecLimits, LargerSizesAndGrowthAreRefusedAndChangeNothing) {
    EXPECT_FATAL(UT_BITVEC v(3000000001u), 19, "Bit vector size 3000000001 is beyond the largest bit vector.\n");
    UT_BITVEC v(16);
    v.set(3);
    EXPECT_FATAL(v.set(UT_BITVEC::kMaxBits), 19, "Bit index 2147483647 is beyond the largest bit vector.\n");
    EXPECT_FATAL(v.set_range_bits(0, 3000000000u), 19, "Bit index 3000000000 is beyond the largest bit vector.\n");
    EXPECT_EQ(v.size(), 16u);
    EXPECT_EQ(v.count_set_bits(), 1);
}

TEST(Bitvec, BitAndByteRanges) {
    UT_BITVEC bitsOnly(32), whole(32);
    bitsOnly.set_range_bits(3, 12);
    whole.set_range_bytes(3, 12);
    for (unsigned i = 0; i < 32; ++i) {
        EXPECT_EQ(bitsOnly.test(i), i >= 3 && i <= 12) << i;
        EXPECT_EQ(whole.test(i), i <= 15) << i;
    }
    whole.reset_range_bits(1, 14);
    EXPECT_EQ(whole.count_set_bits(), 2);
    whole.reset_range_bytes(9, 9);  // one bit's range clears its whole byte
    EXPECT_EQ(whole.find_next_set_bit(0), 0);
    EXPECT_EQ(whole.find_next_set_bit(1), -1);
    EXPECT_EQ(UT_BITVEC(4).set(9), 1) << "growing, too";
    UT_BITVEC grows(4);
    grows.set_range_bits(2, 20);
    EXPECT_EQ(grows.size(), 21u);
    EXPECT_EQ(grows.count_set_bits(), 19);
    grows.reset_range_bytes(16, 100);
    EXPECT_EQ(grows.count_set_bits(), 14);
}

TEST(Bitvec, ByteCountsIncludeTheLastBytesBitsBelowN) {
    UT_BITVEC v = withBits(20, {13, 15});
    EXPECT_EQ(v.count_set_range_bytes(0, 12), 2);
    EXPECT_EQ(v.count_set_range_bits(0, 12), 0);
    v.set_range_bytes(16, 19);  // also sets bits 20..23, which are not counted
    EXPECT_EQ(v.count_set_bits(), 6);
    EXPECT_EQ(v.count_set_range_bytes(17, 500), 4);
}

TEST(Bitvec, EmptyVectorsAndBackwardRangesTouchNothing) {
    UT_BITVEC v(0);
    v.reset_range_bits(0, 100);
    v.reset_range_bytes(0, 100);
    EXPECT_EQ(v.count_set_range_bits(0, 100), 0);
    EXPECT_EQ(v.count_set_range_bytes(0, 100), 0);
    EXPECT_EQ(v.find_next_set_bit(0), -1);
    EXPECT_EQ(v.find_nth_set_bit(0), -1);
    UT_BITVEC w = withBits(16, {3});
    w.set_range_bits(9, 4);
    w.reset_range_bits(9, 2);
    EXPECT_EQ(w.count_set_range_bits(9, 2), 0);
    EXPECT_EQ(w.count_set_range_bytes(9, 2), 0);
    EXPECT_EQ(w.count_set_bits(), 1);
}

TEST(Bitvec, CombiningLimitsToTheShorterVector) {
    UT_BITVEC longer(20), shorter = withBits(10, {1});
    longer.set_range_bits(0, 19);
    shorter.set_range_bytes(8, 9);  // bits 8 and 9, and 10 to 15 above its size, which never count
    UT_BITVEC a = longer, o(20), x = longer;
    a &= shorter;
    EXPECT_EQ(a.count_set_bits(), 3);
    EXPECT_EQ(a.size(), 20u);
    x ^= shorter;
    EXPECT_EQ(x.count_set_bits(), 17);
    o |= shorter;
    EXPECT_EQ(o.count_set_bits(), 3);
    UT_BITVEC grow = shorter;
    grow |= longer;
    EXPECT_EQ(grow.size(), 10u);
    EXPECT_EQ(grow.count_set_bits(), 10);
    UT_BITVEC& self = a;  // through a reference: the assignment to itself is the point
    a = self;
    EXPECT_EQ(a.count_set_bits(), 3);
}

TEST(Bitvec, Printing) {
    UT_BITVEC v = withBits(3, {1});
    {
        UtilTest::CapturedReports captured;
        v.print();
        EXPECT_EQ(captured.status(), (std::vector<std::string>{"0", "1", "0"}));
        UT_BITVEC(0).print();
        EXPECT_EQ(captured.status().size(), 3u);
    }
}

// Sizes around byte and word boundaries, random contents, every operation
// against a plain loop over the bits.
TEST(Bitvec, SearchesAndCountsMatchANaiveReference) {
    std::mt19937 rng(5);
    for (unsigned n : {1u, 7u, 8u, 9u, 15u, 16u, 63u, 64u, 65u, 71u, 72u, 127u, 128u, 129u, 200u}) {
        for (int density : {2, 10, 60}) {
            UT_BITVEC v(n);
            // Junk above n in the last byte, which counts and searches ignore.
            v.set_range_bytes(n - 1, n - 1);
            v.reset_range_bits((n - 1) / 8 * 8, n - 1);
            std::vector<bool> ref(n);
            for (unsigned i = 0; i < n; ++i)
                if (static_cast<int>(rng() % 64) < density) {
                    v.set(i);
                    ref[i] = true;
                }
            const unsigned size = v.size();
            std::vector<unsigned> ones;
            for (unsigned i = 0; i < size; ++i)
                if (ref[i])
                    ones.push_back(i);
            EXPECT_EQ(v.count_set_bits(), static_cast<int>(ones.size())) << n;
            for (unsigned i = 0; i <= size; ++i) {
                auto next = std::lower_bound(ones.begin(), ones.end(), i);
                EXPECT_EQ(v.find_next_set_bit(i), next == ones.end() ? -1 : static_cast<int>(*next))
                    << n << " from " << i;
            }
            for (unsigned k = 0; k <= ones.size(); ++k) {
                EXPECT_EQ(v.find_nth_set_bit(k), k < ones.size() ? static_cast<int>(ones[k]) : -1);
                unsigned start = static_cast<unsigned>(rng() % (size + 1));
                auto from = std::lower_bound(ones.begin(), ones.end(), start);
                auto want = from + k < ones.end() ? static_cast<int>(*(from + k)) : -1;
                EXPECT_EQ(v.find_nth_set_bit_from(k, start), want) << n << " " << k << " " << start;
            }
            for (int trial = 0; trial < 20; ++trial) {
                unsigned a = static_cast<unsigned>(rng() % size), b = a + static_cast<unsigned>(rng() % 80);
                int expected = 0;
                for (unsigned i = a; i <= std::min(b, size - 1); ++i)
                    expected += ref[i];
                EXPECT_EQ(v.count_set_range_bits(a, b), expected) << n << " " << a << ".." << b;
            }
        }
    }
}

}  // namespace
