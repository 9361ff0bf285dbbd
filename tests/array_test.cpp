// Tests of the growable arrays and the two quicksorts.
#include "TestSupport.h"

#include <UtilArray.h>

#include <PortHeap.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

namespace {

int cmpInt(const void* a, const void* b) {
    int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
    return (x > y) - (x < y);
}

// Orders by the key only, so that the order of equal keys can be seen.
struct Keyed {
    int key;
    int tag;
};
int cmpKey(const void* a, const void* b) {
    return cmpInt(&static_cast<const Keyed*>(a)->key, &static_cast<const Keyed*>(b)->key);
}

int cmpInconsistent(const void*, const void*) { return 1; }

// The inputs both quicksorts are tried on, n long: random with many repeats,
// sorted, reversed, all equal, random.
std::vector<std::vector<int>> sortShapes(int n, std::mt19937& rng) {
    std::vector<std::vector<int>> shapes(5, std::vector<int>(static_cast<std::size_t>(n)));
    for (int i = 0; i < n; ++i) {
        shapes[0][i] = static_cast<int>(rng() % 3);
        shapes[1][i] = i;
        shapes[2][i] = n - i;
        shapes[3][i] = 7;
        shapes[4][i] = static_cast<int>(rng());
    }
    return shapes;
}

// A typed wrapper of the kind callers derive, over either storage.
// The caller's variable is made before the array, which writes into it.
template <class Ref>
struct RefHolder {
    Ref ref = nullptr;
};

template <class Storage, class Ref>
class IntArray : public RefHolder<Ref>, public Storage {
public:
    explicit IntArray(int step, unsigned char clear = 1) : Storage(&this->ref, sizeof(int), step, clear) {}
    int& at(int i) { return *static_cast<int*>(this->getaddr(i)); }
    std::vector<int> values() {
        std::vector<int> v;
        for (int i = 0; i < this->getcount(); ++i)
            v.push_back(at(i));
        return v;
    }
    void push(int x) { at(this->getcount()) = x; }
    using Storage::a_bsearch;
    using Storage::a_makearray;
    using Storage::a_resetnum;
    using Storage::a_shift;
    using Storage::a_sort;
    using Storage::a_sortadd;
    using Storage::intgetindex;
    using Storage::testaddr;
};
using DInts = IntArray<UT_DARRAY, void*>;
using BInts = IntArray<UT_BARRAY, void**>;

template <class T>
class BothArrays : public testing::Test {};
using ArrayTypes = testing::Types<DInts, BInts>;
TYPED_TEST_SUITE(BothArrays, ArrayTypes);

TEST(Darray, GrowsInWholeStepsOfAtLeastFortyBytes) {
    DInts a(1);
    EXPECT_EQ(a.getcapacity(), 10u);
    a.at(10) = 5;
    EXPECT_EQ(a.getcapacity(), 20u);
    EXPECT_EQ(a.getcount(), 11);
    EXPECT_EQ(a.at(3), 0) << "added storage is cleared";
    a.at(25) = 1;
    EXPECT_EQ(a.getcapacity(), 30u);
    EXPECT_EQ(static_cast<int*>(a.ref)[10], 5) << "the caller's variable follows the block";
    a.reserve(31);
    EXPECT_EQ(a.getcapacity(), 40u);
    EXPECT_EQ(a.getcount(), 26);
}

TEST(Darray, StepAdjustment) {
    struct Case {
        int elsize, step, expected;
    };
    for (Case c : {Case{4, 1, 10}, Case{8, 2, 5}, Case{16, 2, 2}, Case{12, 3, 3}, Case{64, 0, 1}, Case{48, -5, 1}}) {
        void* ref = nullptr;
        UT_DARRAY a(&ref, c.elsize, c.step, 0);
        EXPECT_EQ(a.getcapacity(), static_cast<unsigned>(c.expected)) << c.elsize << "x" << c.step;
        a.getaddr(3 * c.expected);  // growth ends: the step is never 0
    }
}

TEST(Darray, ResetnumShrinksOnlyByWholeUnusedSteps) {
    DInts a(10);
    a.at(24) = 1;
    EXPECT_EQ(a.getcapacity(), 30u);
    a.a_resetnum(3);
    EXPECT_EQ(a.getcapacity(), 10u);
    EXPECT_EQ(a.getcount(), 3);
    a.at(5) = 9;
    a.a_resetnum(0);
    EXPECT_EQ(a.getcapacity(), 10u);
    a.a_resetnum(6);
    EXPECT_EQ(a.getcount(), 6);
    EXPECT_EQ(a.at(5), 0) << "elements dropped by resetnum are cleared";
}

TEST(Darray, DestructionNullsTheCallersVariable) {
    void* ref = nullptr;
    {
        UT_DARRAY a(&ref, 4, 1, 0);
        EXPECT_NE(ref, nullptr);
    }
    EXPECT_EQ(ref, nullptr);
    void** table = nullptr;
    {
        UT_BARRAY b(&table, 4, 1, 0);
        EXPECT_NE(table, nullptr);
    }
    EXPECT_EQ(table, nullptr);
}

TEST(Barray, ElementsNeverMoveAndIndexesMapBack) {
    BInts a(1);
    EXPECT_EQ(a.getcapacity(), 10u);
    int* early = &a.at(3);
    a.at(1000) = 7;
    EXPECT_EQ(early, &a.at(3));
    EXPECT_EQ(a.getcapacity(), 1010u);
    EXPECT_EQ(a.intgetindex(&a.at(517)), 517);
    int outside;
    EXPECT_EQ(a.intgetindex(&outside), -1);
    a.reserve(2000);
    EXPECT_EQ(a.getcapacity(), 2000u);
    EXPECT_EQ(a.getcount(), 1001);
}

TYPED_TEST(BothArrays, ShiftOpensAndClosesSlots) {
    TypeParam a(1);
    for (int x : {1, 2, 3})
        a.push(x);
    a.a_shift(1, 1);
    a.at(1) = 9;
    EXPECT_EQ(a.values(), (std::vector<int>{1, 9, 2, 3}));
    a.a_shift(a.getcount(), 1);
    EXPECT_EQ(a.getcount(), 5);
    a.a_shift(2, 0);  // closes the slot before index 2
    EXPECT_EQ(a.values(), (std::vector<int>{1, 2, 3, 0}));
    a.a_shift(0, 0);
    a.a_shift(7, 1);
    a.a_shift(-1, 1);
    EXPECT_EQ(a.values(), (std::vector<int>{1, 2, 3, 0}));
}

TYPED_TEST(BothArrays, SortedInsertionAndBinarySearch) {
    TypeParam a(2);
    EXPECT_EQ(a.a_sortadd(std::array<int, 1>{3}.data(), cmpInt), -1);
    EXPECT_EQ(a.values(), std::vector<int>{3});
    for (int x : {5, 1, 3})
        a.a_sortadd(&x, cmpInt);
    EXPECT_EQ(a.values(), (std::vector<int>{1, 3, 3, 5}));
    int three = 3, four = 4, zero = 0, nine = 9;
    EXPECT_EQ(a.a_bsearch(&three, cmpInt), 1);
    EXPECT_EQ(a.a_bsearch(&four, cmpInt), -1);
    EXPECT_EQ(a.a_bsearch(&zero, cmpInt), -1);
    EXPECT_EQ(a.a_bsearch(&nine, cmpInt), -1);
    EXPECT_EQ(a.a_sortadd(&a.at(3), cmpInt), 3) << "a key inside the array itself";
    EXPECT_EQ(a.values(), (std::vector<int>{1, 3, 3, 5, 5}));
    a.a_sortadd(&three, cmpInt);
    EXPECT_EQ(a.a_bsearch(&three, cmpInt), 1) << "the first of equal keys, wherever the search meets them";
}

TEST(Darray, EqualKeysEndInReverseOrderOfInsertion) {
    void* ref = nullptr;
    UT_DARRAY raw(&ref, sizeof(Keyed), 1, 0);
    struct Access : UT_DARRAY {
        using UT_DARRAY::a_sortadd;
    };
    auto& a = static_cast<Access&>(raw);
    for (Keyed k : {Keyed{2, 0}, Keyed{1, 1}, Keyed{2, 2}, Keyed{2, 3}})
        a.a_sortadd(&k, cmpKey);
    auto* e = static_cast<Keyed*>(ref);
    EXPECT_EQ(e[0].tag, 1);
    EXPECT_EQ(e[1].tag, 3);
    EXPECT_EQ(e[2].tag, 2);
    EXPECT_EQ(e[3].tag, 0);
}

TYPED_TEST(BothArrays, SortsRandomSortedReversedAndEqualInputs) {
    std::mt19937 rng(7);
    for (int n : {0, 1, 2, 3, 10, 1000}) {
        for (auto& shape : sortShapes(n, rng)) {
            TypeParam a(3);
            for (int v : shape)
                a.push(v);
            std::sort(shape.begin(), shape.end());
            a.a_sort(cmpInt);
            EXPECT_EQ(a.values(), shape) << n;
        }
    }
    TypeParam part(1);
    for (int x : {9, 8, 7, 6, 5})
        part.push(x);
    part.a_sort(cmpInt, 1, 3);
    EXPECT_EQ(part.values(), (std::vector<int>{9, 6, 7, 8, 5}));
}

// Every comparison a_sort makes, as the pair of keys and tags compared.
std::vector<std::array<int, 4>> comparisons;
int cmpKeyRecorded(const void* a, const void* b) {
    const auto* x = static_cast<const Keyed*>(a);
    const auto* y = static_cast<const Keyed*>(b);
    comparisons.push_back({x->key, x->tag, y->key, y->tag});
    return cmpKey(a, b);
}

int cmpIntRecorded(const void* a, const void* b) {
    const int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
    comparisons.push_back({x, 0, y, 0});
    return cmpInt(a, b);
}

// A UT_DARRAY whose getaddr (or qsort) is overridden: a_sort must go through
// it, as it always did.
struct CountedDarray : UT_DARRAY {
    explicit CountedDarray(void** ref) : UT_DARRAY(ref, sizeof(Keyed), 16, 0) {}
    void* getaddr(int i) override {
        ++calls;
        return UT_DARRAY::getaddr(i);
    }
    using UT_DARRAY::a_sort;
    int calls = 0;
};
struct OwnQsortDarray : UT_DARRAY {
    explicit OwnQsortDarray(void** ref) : UT_DARRAY(ref, sizeof(Keyed), 16, 0) {}
    void qsort(int lo, int hi, CompareFn cmp) override {
        ++calls;
        UT_DARRAY::qsort(lo, hi, cmp);
    }
    using UT_DARRAY::a_sort;
    int calls = 0;
};
struct PlainDarray : UT_DARRAY {
    explicit PlainDarray(void** ref, int size = sizeof(Keyed)) : UT_DARRAY(ref, size, 16, 0) {}
    using UT_DARRAY::a_sort;
};
// Elements of a size that is neither an int's nor a pointer's.
constexpr int kOddSize = sizeof(Keyed) + 4;

template <class Array>
std::pair<std::vector<std::array<int, 4>>, std::vector<int>> sortRecorded(Array& a, int n, int distinct) {
    std::mt19937 rng(11);
    for (int i = 0; i < n; ++i)
        *static_cast<Keyed*>(a.UT_DARRAY::getaddr(i)) = Keyed{static_cast<int>(rng() % distinct), i};
    comparisons.clear();
    a.a_sort(cmpKeyRecorded);
    std::vector<int> tags;
    for (int i = 0; i < n; ++i)
        tags.push_back(static_cast<Keyed*>(a.UT_DARRAY::getaddr(i))->tag);
    return {comparisons, tags};
}

// Where equal keys end is what the partitions make of them; every sort path
// below must keep it.
TEST(Darray, EqualKeysEndWhereThePartitionsLeaveThem) {
    void* ref = nullptr;
    PlainDarray a(&ref);
    EXPECT_EQ(sortRecorded(a, 20, 3).second,
              (std::vector<int>{17, 1, 2, 5, 7, 11, 14, 15, 0, 18, 10, 19, 8, 13, 3, 4, 6, 12, 16, 9}));
}

TEST(Darray, EverySortPathMakesTheSameComparisons) {
    for (int distinct : {3, 1000}) {
        void *r1 = nullptr, *r2 = nullptr, *r3 = nullptr, *r4 = nullptr;
        PlainDarray plain(&r1);
        CountedDarray counted(&r2);
        OwnQsortDarray own(&r3);
        PlainDarray odd(&r4, kOddSize);
        const auto fast = sortRecorded(plain, 2000, distinct);
        counted.calls = 0;
        const auto slow = sortRecorded(counted, 2000, distinct);
        EXPECT_GT(counted.calls, 2000) << "an overridden getaddr still sees every access";
        const auto viaQsort = sortRecorded(own, 2000, distinct);
        EXPECT_GT(own.calls, 0) << "an overridden qsort is still called";
        EXPECT_EQ(fast.first, slow.first) << "the same comparisons, in the same order";
        EXPECT_EQ(fast.second, slow.second) << "equal keys end in the same order";
        EXPECT_EQ(fast.first, viaQsort.first);
        const auto oddSize = sortRecorded(odd, 2000, distinct);
        EXPECT_EQ(fast.first, oddSize.first);
        EXPECT_EQ(fast.second, oddSize.second);
        // Elements of an int's size have a path of their own: the same keys compared.
        DInts ints(16);
        std::mt19937 keys(11);
        for (int i = 0; i < 2000; ++i)
            ints.push(static_cast<int>(keys() % distinct));
        comparisons.clear();
        ints.a_sort(cmpIntRecorded);
        auto keysOnly = fast.first;
        for (auto& c : keysOnly)
            c[1] = c[3] = 0;
        EXPECT_EQ(comparisons, keysOnly);

        // The typed quicksort makes the same comparisons (a_sort then checks
        // its result with n - 1 more) and leaves equal keys in the same order.
        std::vector<Keyed> typed;
        std::mt19937 rng(11);
        for (int i = 0; i < 2000; ++i)
            typed.push_back(Keyed{static_cast<int>(rng() % distinct), i});
        comparisons.clear();
        Util::quicksort(typed.begin(), typed.end(),
                        [](const Keyed& x, const Keyed& y) { return cmpKeyRecorded(&x, &y); });
        EXPECT_EQ(comparisons, decltype(comparisons)(fast.first.begin(), fast.first.end() - 1999));
        std::vector<int> tags;
        for (const Keyed& k : typed)
            tags.push_back(k.tag);
        EXPECT_EQ(tags, fast.second);
    }
}

TYPED_TEST(BothArrays, MisuseIsFatalAndChangesNothing) {
    TypeParam a(1);
    a.push(1);
    a.push(2);
    const char* bad = std::is_same_v<TypeParam, DInts> ? "Bad index.\n" : "Bad expand index.\n";
    EXPECT_FATAL(a.getaddr(-1), 19, bad);
    EXPECT_FATAL(a.getaddr(INT_MAX), 19, bad);
    EXPECT_FATAL(a.reserve(uint64_t{1} << 40), 19, bad);
    EXPECT_FATAL(a.testaddr(2), 19, "Element out of range. Use expand.\n");
    EXPECT_FATAL(a.testaddr(-1), 19, "Element out of range. Use expand.\n");
    a.testaddr(1);
    EXPECT_FATAL(a.a_sort(cmpInt, 0, 5), 19, "Element out of range. Use expand.\n");
    EXPECT_FATAL(a.a_sort(cmpInt, -2, 1), 19, "Element out of range. Use expand.\n");
    EXPECT_FATAL(a.a_sort(cmpInconsistent), 19, "Sort produced an unsorted list.\n");
    EXPECT_FATAL(a.a_resetnum(-1), 19, "Bad index.\n");
    EXPECT_EQ(a.getcount(), 2);
    EXPECT_EQ(a.getcapacity(), 10u);
    void* ref = nullptr;
    EXPECT_FATAL(UT_DARRAY(&ref, 0, 1, 0), 19, "Bad element size 0.\n");
}

TYPED_TEST(BothArrays, MakearrayCopiesTheElements) {
    TypeParam a(1);
    EXPECT_EQ(a.a_makearray(), nullptr);
    for (int i = 0; i < 25; ++i)
        a.push(i * i);
    auto* copy = static_cast<int*>(a.a_makearray());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::vector<int>(copy, copy + 25), a.values());
    qrn_free(copy);
}

TEST(UtSort, SortsEveryShapeOfInput) {
    std::mt19937 rng(11);
    for (int n : {0, 1, 2, 3, 4, 5, 6, 7, 50, 5000}) {
        for (auto& v : sortShapes(n, rng)) {
            auto expected = v;
            std::sort(expected.begin(), expected.end());
            unsigned char r = UT_SORT::qsort(reinterpret_cast<char*>(v.data()), n, sizeof(int), cmpInt);
            EXPECT_EQ(r, n < 2 ? 0 : 1);
            EXPECT_EQ(v, expected) << n;
        }
    }
}

// Where equal keys end is what the partitions make of them: the order any
// faster sort must keep (thirty digits that take every branch of a partition).
TEST(UtSort, EqualKeysEndWhereThePartitionsLeaveThem) {
    std::vector<Keyed> v;
    for (int k : {2, 9, 1, 4, 1, 7, 7, 7, 6, 3, 1, 7, 0, 6, 6, 9, 0, 7, 4, 3, 9, 1, 5, 0, 0, 0, 8, 0, 6, 3})
        v.push_back({k, static_cast<int>(v.size())});
    ASSERT_EQ(UT_SORT::qsort(reinterpret_cast<char*>(v.data()), 30, sizeof(Keyed), cmpKey), 1);
    std::vector<int> tags;
    for (const Keyed& e : v)
        tags.push_back(e.tag);
    EXPECT_EQ(tags, (std::vector<int>{23, 27, 24, 25, 16, 12, 4,  21, 2, 10, 0, 9,  29, 19, 18,
                                      3,  22, 14, 8,  13, 28, 17, 11, 6, 5,  7, 26, 1,  20, 15}));
}

TEST(UtSort, WideElementsAndHostileComparisonsStayInTheRange) {
    struct Wide {
        int key;
        char pad[60];
    };
    std::vector<Wide> v(300);
    for (size_t i = 0; i < v.size(); ++i) {
        v[i].key = static_cast<int>((i * 7919) % 301);
        std::memset(v[i].pad, static_cast<char>(v[i].key), sizeof v[i].pad);
    }
    UT_SORT::qsort(reinterpret_cast<char*>(v.data()), 300, sizeof(Wide), cmpInt);
    for (size_t i = 0; i < v.size(); ++i) {
        EXPECT_EQ(v[i].pad[59], static_cast<char>(v[i].key)) << "elements move whole";
        if (i) {
            EXPECT_LE(v[i - 1].key, v[i].key);
        }
    }
    std::vector<int> w(100, 1);
    EXPECT_EQ(UT_SORT::qsort(reinterpret_cast<char*>(w.data()), 100, sizeof(int), cmpInconsistent), 1);
    EXPECT_EQ(UT_SORT::qsort(reinterpret_cast<char*>(w.data()), 5, 0, cmpInt), 0);
}

}  // namespace
