// Tests of the linked list: cursor rules, ownership and the stable sorts.
#include "TestSupport.h"

#include <UtilList.h>

#include <random>
#include <vector>

namespace {

// Elements are records ordered by `key`; `tag` tells equal keys apart.
struct Rec {
    int key;
    int tag;
};

class RecList : public UT_LIST {
public:
    ~RecList() override = default;
    void freedata(void* e) override { freed.push_back(static_cast<Rec*>(e)); }
    unsigned char finddata(void* e, void* key) override { return static_cast<Rec*>(e)->key == *static_cast<int*>(key); }
    int compdata(void* a, void* b) override { return static_cast<Rec*>(a)->key - static_cast<Rec*>(b)->key; }

    std::vector<Rec*> items() {
        std::vector<Rec*> out;
        reset();
        while (void* p = getnext())
            out.push_back(static_cast<Rec*>(p));
        reset();
        return out;
    }
    std::vector<Rec*> freed;
};

class PlainList : public UT_LIST {};

TEST(ListCursor, AddingNeverMovesItAndDroppingMovesItOn) {
    RecList l;
    Rec a{1, 0}, b{2, 0}, c{3, 0}, d{4, 0};
    EXPECT_EQ(l.push(nullptr), 0);
    EXPECT_EQ(l.append(nullptr), 0);
    EXPECT_EQ(l.pop(), nullptr);
    EXPECT_EQ(l.popend(), nullptr);
    EXPECT_EQ(l.getnext(), nullptr);  // past the end of the empty list
    EXPECT_EQ(l.insert(&a), 0);
    EXPECT_EQ(l.remove(), 0);  // past the end is refused too
    l.reset();
    EXPECT_EQ(l.insert(&b), 1);
    EXPECT_EQ(l.getnext(), &b);
    l.push(&a);
    l.pushend(&d);
    EXPECT_EQ(l.insert(&b, &c), 1);
    EXPECT_EQ(l.insert(&c, nullptr), 0);
    EXPECT_EQ(l.items(), (std::vector<Rec*>{&a, &b, &c, &d}));

    EXPECT_EQ(l.remove(), 0);  // before the first element
    l.getnext();
    l.getnext();
    EXPECT_EQ(l.remove(), 1);  // drops b; the cursor moves on to c
    EXPECT_EQ(l.getnext(), &d);
    EXPECT_EQ(l.freed, (std::vector<Rec*>{&b}));
    EXPECT_EQ(l.popend(), &d);  // the cursor was on it: now past the end
    EXPECT_EQ(l.getnext(), nullptr);
    int three = 3, nine = 9;
    l.getnext();
    EXPECT_EQ(l.find(&nine), nullptr);
    EXPECT_EQ(l.find(&three), &c);
    EXPECT_EQ(l.peeknext(), nullptr);
    EXPECT_EQ(l.count(), 2);
    EXPECT_EQ(l.rmunowned(&c), 1);
    EXPECT_EQ(l.freed.size(), 1u);
}

TEST(ListCursor, ThePointerFoundIsTheFirstOccurrence) {
    RecList l;
    Rec a{1, 0}, b{2, 0};
    l.append(&a);
    l.append(&b);
    l.append(&a);
    EXPECT_EQ(l.remove(&a), 1);
    EXPECT_EQ(l.items(), (std::vector<Rec*>{&b, &a}));
    l.freelist();
    EXPECT_EQ(l.count(), 0);
    EXPECT_EQ(l.freed, (std::vector<Rec*>{&a, &b, &a}));
}

TEST(ListCursor, FindMovesItAndInsertAfterPrefersItsNode) {
    RecList l;
    Rec a{1, 0}, b{2, 0}, c{3, 0}, x{9, 0};
    for (Rec* r : {&a, &b, &c, &a})
        l.append(r);
    int two = 2;
    EXPECT_EQ(l.find(&two), &b);
    EXPECT_EQ(l.getnext(), &c);
    EXPECT_EQ(l.getnext(), &a);
    EXPECT_EQ(l.insert(&a, &x), 1);  // after the cursor's a, not the first one
    EXPECT_EQ(l.items(), (std::vector<Rec*>{&a, &b, &c, &a, &x}));
}

TEST(ListSort, OrderedInsertionAndSortAreStable) {
    RecList l;
    std::vector<Rec> recs = {{3, 0}, {1, 0}, {2, 0}, {1, 1}, {3, 1}, {2, 1}};
    for (auto& r : recs)
        EXPECT_EQ(l.mergesort(&r), 1);
    EXPECT_EQ(l.mergesort(nullptr), 0);
    auto order = l.items();
    std::vector<std::pair<int, int>> got;
    for (Rec* r : order)
        got.push_back({r->key, r->tag});
    const std::vector<std::pair<int, int>> expected = {{1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}, {3, 1}};
    EXPECT_EQ(got, expected);

    // sort() gives what inserting every element in turn by mergesort() gives.
    std::mt19937 rng(5);
    std::vector<Rec> many(3000);
    RecList unsorted, inserted;
    for (int i = 0; i < 3000; ++i) {
        many[i] = {static_cast<int>(rng() % 50), i};
        unsorted.append(&many[i]);
        inserted.mergesort(&many[i]);
    }
    unsorted.getnext();
    unsorted.sort();
    EXPECT_EQ(unsorted.getnext(), inserted.items().front());  // cursor before the first
    EXPECT_EQ(unsorted.items(), inserted.items());
    unsorted.append(&recs[0]);  // tail was found again
    EXPECT_EQ(unsorted.items().back(), &recs[0]);
    EXPECT_TRUE(unsorted.freed.empty());
}

TEST(ListDefaults, ElementsCompareByAddressAndPrintTheirAddress) {
    PlainList l;
    int x[2];
    EXPECT_LT(l.compdata(&x[0], &x[1]), 0);
    EXPECT_EQ(l.finddata(&x[0], &x[0]), 1);
    l.append(&x[0]);
    UtilTest::CapturedReports seen;
    l.printlist(1);
    char line[32];
    std::snprintf(line, sizeof line, "%lx \n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&x[0])));
    EXPECT_EQ(seen.status(), (std::vector<std::string>{"0 \n", line}));
}

}  // namespace
