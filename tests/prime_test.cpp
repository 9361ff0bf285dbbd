// Tests of the prime tests, searches and the table.
#include "TestSupport.h"

#include <UtilPrime.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

using Util::Prime;
using V = std::vector<uint64_t>;

class BothMethods : public testing::TestWithParam<Prime::PrimeCheckMethod> {
protected:
    Prime p;
    void SetUp() override { p.checkPrimeBy(GetParam()); }
};

TEST_P(BothMethods, SmallNumbersSearchesAndRanges) {
    for (uint64_t n : {0, 1, 4, 9, 25, 49})
        EXPECT_FALSE(p.isPrime(n)) << n;
    for (uint64_t n : {2, 3, 5, 7, 1031, 2147483647})
        EXPECT_TRUE(p.isPrime(n)) << n;
    EXPECT_EQ((V{p.primeGreaterThanEqual(0), p.primeGreaterThanEqual(1), p.primeGreaterThanEqual(2),
                 p.primeGreaterThanEqual(3), p.primeGreaterThanEqual(8), p.primeGreaterThanEqual(14)}),
              (V{2, 2, 2, 3, 11, 17}));
    EXPECT_EQ((V{p.primeLessThanEqual(0), p.primeLessThanEqual(1), p.primeLessThanEqual(2), p.primeLessThanEqual(3),
                 p.primeLessThanEqual(4), p.primeLessThanEqual(10)}),
              (V{0, 0, 2, 3, 3, 7}));
    EXPECT_EQ(p.primeNumbersInRange(10, 1), (V{2, 3, 5, 7}));
    EXPECT_EQ(p.primeNumbersInRange(1, 10), (V{2, 3, 5, 7}));
    EXPECT_TRUE(p.primeNumbersInRange(0, 1).empty());
    EXPECT_EQ(p.primeNumbersInRange(3, 3), (V{3}));
}

INSTANTIATE_TEST_SUITE_P(Methods, BothMethods, testing::Values(Prime::TrialDivision, Prime::Witness));

TEST(Prime, TheTopOfTheRangeEnds) {
    Prime w;
    w.checkPrimeBy(Prime::Witness);
    const uint64_t largest = 18446744073709551557ull;
    EXPECT_TRUE(w.isPrime(largest));
    EXPECT_FALSE(w.isPrime(18446744073709551555ull));
    EXPECT_EQ(w.primeGreaterThanEqual(largest - 10), largest);
    EXPECT_EQ(w.primeGreaterThanEqual(largest + 1), 0u);
    EXPECT_EQ(w.primeLessThanEqual(UINT64_MAX), largest);
    EXPECT_EQ(w.primeNumbersInRange(UINT64_MAX, largest - 1), (V{largest}));
    // Trial division of a prime near 2^32 squared stops at the root.
    Prime t;
    EXPECT_TRUE(t.isPrime(4294967291ull));
    EXPECT_FALSE(t.isPrime(4294967291ull * 4294967279ull));

    Prime one;
    one.checkPrimeBy(Prime::Witness);
    one.setMaxTrialsForWitnessCheck(1);
    EXPECT_TRUE(one.isPrime(9));
    EXPECT_FALSE(one.isPrime(8));

    Prime unknown;
    unknown.checkPrimeBy(static_cast<Prime::PrimeCheckMethod>(7));
    EXPECT_FALSE(unknown.isPrime(7));
    EXPECT_EQ(unknown.primeGreaterThanEqual(100), 0u);
    EXPECT_TRUE(unknown.primeNumbersInRange(1, 100).empty());

    auto* original = new Prime(w);
    Prime copy(*original);
    delete original;
    EXPECT_TRUE(copy.isPrime(largest));
}

// Exact ranges are sieved up to 2^40 and tested one by one above; both must
// give what testing each candidate gives.
TEST(Prime, SievedRangesMatchTestingEachNumber) {
    Prime p;
    auto oneByOne = [&](uint64_t a, uint64_t b) {
        V out;
        for (uint64_t n = a; n <= b; ++n)
            if (p.isPrime(n))
                out.push_back(n);
        return out;
    };
    const uint64_t top = uint64_t(1) << 40;
    for (auto [a, b] : {std::pair<uint64_t, uint64_t>{0, 300000},
                        {131070, 131075},
                        {24, 28},
                        {top - 3000, top},
                        {top - 1500, top + 1500}})
        EXPECT_EQ(p.primeNumbersInRange(a, b), oneByOne(a, b)) << a << ".." << b;
}

TEST(PrimeTable, EntriesAndLookUps) {
    EXPECT_EQ(
        (V{Prime::anyPrimeGreaterThanEqual(0), Prime::anyPrimeGreaterThanEqual(1), Prime::anyPrimeGreaterThanEqual(3),
           Prime::anyPrimeGreaterThanEqual(4), Prime::anyPrimeGreaterThanEqual(60), Prime::anyPrimeGreaterThanEqual(62),
           Prime::anyPrimeGreaterThanEqual(1000), Prime::anyPrimeGreaterThanEqual(2056468787),
           Prime::anyPrimeGreaterThanEqual(2056468788)}),
        (V{0, 1, 3, 5, 67, 67, 1031, 2056468787, 2056468788}));
    // Every listed value is an entry: it finds itself, and one less finds it too.
    for (uint64_t v : {3,        5,        7,        11,         13,         17,         19,         23,        29,
                       31,       37,       41,       43,         47,         53,         59,         67,        71,
                       73,       79,       83,       89,         97,         101,        240421,     251033,    262147,
                       18295967, 19105997, 19951889, 1655961547, 1729277237, 1805838857, 1885790189, 1969281271})
        EXPECT_EQ(Prime::anyPrimeGreaterThanEqual(v), v) << v;
    // Walk the table: 410 ascending primes.
    Prime t;
    uint64_t n = 4, count = 1;  // 3 is the first entry
    while (n <= 2056468787) {
        uint64_t e = Prime::anyPrimeGreaterThanEqual(n);
        ASSERT_TRUE(t.isPrime(e)) << e;
        ++count;
        n = e + 1;
    }
    EXPECT_EQ(count, 410u);
}

}  // namespace
