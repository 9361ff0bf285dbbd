// Tests of the typed face: each typed container against a standard model
// where its keys, order or lifetimes can go wrong, the standard algorithms
// over every range, the pools behind standard containers, the
// std::string_view overloads.
#include "TestSupport.h"

#include <UtilCname.h>
#include <UtilFName.h>
#include <UtilIfile.h>
#include <UtilNameCache.h>
#include <UtilPmr.h>
#include <UtilRange.h>
#include <UtilTyped.h>

#include <PortStream.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <memory_resource>
#include <random>
#include <ranges>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Net {
    std::string name;
    int fanout = 0;
};
std::string_view nameOf(const Net& n) { return n.name; }

using Tree = Util::TextTree<Net, nameOf>;
using Hash = Util::TextHash<Net, nameOf>;

static_assert(std::forward_iterator<Tree::iterator>);
static_assert(std::forward_iterator<Hash::iterator>);
static_assert(std::forward_iterator<Util::TypedList<Net>::iterator>);
static_assert(std::forward_iterator<Util::TypedBlist<Net>::iterator>);
static_assert(std::contiguous_iterator<Util::TypedArray<int>::iterator>);
static_assert(std::ranges::forward_range<Tree> && std::ranges::common_range<Tree>);
static_assert(std::ranges::forward_range<Util::TypedBlist<Net>>);
static_assert(std::ranges::forward_range<UT_BTR_TREE> && std::ranges::forward_range<UT_BLIST>);
static_assert(std::ranges::forward_range<const UT_BLIST> && std::ranges::forward_range<const UT_DARRAY>);
static_assert(std::ranges::forward_range<const Util::TypedBlist<Net>>);

// 400 nets with names that share prefixes, as design names do.
std::vector<Net> makeNets() {
    std::vector<Net> nets(400);
    for (int i = 0; i < 400; ++i)
        nets[i] = {"top/u" + std::to_string(i % 7) + "/n" + std::to_string(i), i % 13};
    return nets;
}

template <class Range>
std::vector<void*> walk(Range&& r) {
    std::vector<void*> out;
    for (auto* p : r)
        out.push_back(p);
    return out;
}

// ---- the tree ----------------------------------------------------------------

int compareNet(void* data, const char* key) {
    return data ? std::strcmp(key, static_cast<Net*>(data)->name.c_str()) : 0;
}

// Keys compared as views, order and removal: what the typed compare can get wrong.
TEST(TypedTree, RemovalLowerBoundAndTheReverseWalkAgreeWithAMap) {
    std::vector<Net> nets = makeNets();
    Tree t;
    std::map<std::string, Net*> model;
    for (Net& n : nets) {
        t.insert(&n);
        model.emplace(n.name, &n);
    }
    for (std::size_t i = 0; i < nets.size(); i += 3) {
        EXPECT_EQ(t.remove(nets[i].name), &nets[i]);
        model.erase(nets[i].name);
    }
    EXPECT_EQ(t.remove(nets[0].name), nullptr);
    EXPECT_EQ(t.size(), model.size());
    for (const char* key : {"", "top/u3/n1", "top/u3/n100", "top/u3/n1000", "top/u6/n99", "top/u6/n990", "u"}) {
        auto expected = model.lower_bound(key);
        auto found = t.lower_bound(key);
        if (expected == model.end())
            EXPECT_EQ(found, t.end()) << key;
        else
            EXPECT_EQ(found->name, expected->first) << key;
    }
    std::vector<Net*> descending;
    for (auto i = model.rbegin(); i != model.rend(); ++i)
        descending.push_back(i->second);
    EXPECT_EQ(std::vector<Net*>(t.rbegin(), t.rend()), descending);
}

// strcmp's order: bytes compare unsigned, and a word compared at once gives
// the order of its first differing byte, whatever the bytes after it hold.
TEST(TypedTree, OrdersAsStrcmpDoes) {
    std::vector<Net> nets{{"top/n_a1"}, {"top/n_c0"}, {"n\xe9"}, {"nz"}, {"top/n_\xe9x"}, {"top/n_zx"}};
    Tree t;
    std::set<std::string> model;  // std::string compares as strcmp does
    for (Net& n : nets) {
        t.insert(&n);
        model.insert(n.name);
    }
    std::vector<std::string> walked;
    for (const Net* n : t)
        walked.push_back(n->name);
    EXPECT_EQ(walked, std::vector<std::string>(model.begin(), model.end()));
}

TEST(TypedTree, FindsByAViewWithoutATerminatingZero) {
    std::vector<Net> nets = makeNets();
    Tree t;
    for (Net& n : nets)
        t.insert(&n);
    std::string text = nets[17].name + "/and_more";
    EXPECT_EQ(t.find(std::string_view(text).substr(0, nets[17].name.size())), &nets[17]);
    EXPECT_EQ(t.find(std::string_view(text)), nullptr);
    Net twin{nets[3].name, 99};
    EXPECT_EQ(t.insert(&twin), &nets[3]) << "a taken key keeps its element";
}

// ---- the hash table ------------------------------------------------------------

class NetTable : public UT_HASH {
public:
    NetTable() : UT_HASH(64, 0) {}
    unsigned int hash_func(void* key) override { return Util::Details::hashText(static_cast<const char*>(key)); }
    int comp_func(void* key, void* value) override {
        return std::strcmp(static_cast<const char*>(key), static_cast<Net*>(value)->name.c_str());
    }
};

// ---- the list --------------------------------------------------------------------

class NetList : public UT_LIST {};

// ---- the block list ----------------------------------------------------------------

struct Wire {
    int width;
    auto operator<=>(const Wire&) const = default;
};

struct ByWidth {
    int operator()(const Wire& a, const Wire& b) const { return a.width - b.width; }
};

template <class List>
std::vector<int> widthsOf(const List& l) {
    std::vector<int> out;
    for (const Wire* w : l)
        out.push_back(w->width);
    return out;
}

template <class Order>
std::vector<int> sortedWidths(std::vector<Wire>& wires) {
    Util::TypedList<Wire, Order> l;
    for (Wire& w : wires)
        l.push_back(&w);
    l.sort();
    std::vector<int> out = widthsOf(l);
    l.clear();
    return out;
}

TEST(TypedList, SortsByTheStandardComparators) {
    std::vector<Wire> wires{{5}, {1}, {4}, {1}, {3}};
    EXPECT_EQ(sortedWidths<ByWidth>(wires), (std::vector<int>{1, 1, 3, 4, 5}));
    EXPECT_EQ(sortedWidths<std::less<Wire>>(wires), (std::vector<int>{1, 1, 3, 4, 5}));
    EXPECT_EQ(sortedWidths<std::greater<Wire>>(wires), (std::vector<int>{5, 4, 3, 1, 1}));
    EXPECT_EQ(sortedWidths<std::compare_three_way>(wires), (std::vector<int>{1, 1, 3, 4, 5}));
}

TEST(TypedList, BothEndsSortedMergesAndRemoval) {
    std::vector<Wire> wires{{1}, {2}, {3}, {4}, {5}};
    Util::TypedList<Wire, ByWidth> l;
    l.push_back(&wires[2]);
    l.push_front(&wires[0]);
    l.merge(&wires[1]);  // into its place by width
    l.push_back(&wires[4]);
    l.merge(&wires[3]);
    EXPECT_EQ(widthsOf(l), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(l.pop_back(), &wires[4]);
    EXPECT_EQ(l.pop_front(), &wires[0]);
    EXPECT_TRUE(l.remove(&wires[2]));
    EXPECT_FALSE(l.contains(&wires[2]));
    EXPECT_EQ(l.size(), 2u);
    l.clear();
}

TEST(TypedBlist, IteratorsHoldNothingOfTheListAndSurviveAppendsAndRemoves) {
    std::vector<Net> nets = makeNets();
    Util::TypedBlist<Net> list(4);
    for (int i = 0; i < 10; ++i)
        list.append(&nets[i]);
    // What a std::views::filter keeps once walked: a copy of an iterator.
    auto busy = [](const Net* n) { return n->fanout > 3; };
    auto it = std::ranges::find_if(list, busy);
    list.remove(&nets[5]);  // behind and ahead of it: holes are skipped
    list.append(&nets[20]);
    std::vector<std::string> seen;
    for (; it != list.end(); ++it)
        if (busy(*it))
            seen.push_back(it->name);
    EXPECT_EQ(seen, (std::vector<std::string>{"top/u4/n4", "top/u6/n6", "top/u0/n7", "top/u1/n8", "top/u2/n9",
                                              "top/u6/n20"}));
    list.clear();  // the iterator is still alive: nothing is registered, so clearing is allowed
    EXPECT_TRUE(list.empty());
}

// ---- the array --------------------------------------------------------------------

TEST(TypedArray, GrowsContiguouslyAndSortsAsAVectorDoes) {
    Util::TypedArray<int> typed(8);
    std::vector<int> model;
    std::mt19937 rng(9);
    for (int i = 0; i < 500; ++i) {
        model.push_back(static_cast<int>(rng() % 1000));
        typed.push_back(model.back());
    }
    EXPECT_TRUE(std::equal(typed.data(), typed.data() + 500, model.begin(), model.end()));
    std::ranges::sort(typed);
    std::ranges::sort(model);
    EXPECT_TRUE(std::ranges::equal(typed, model));
}

// ---- the standard algorithms over the untyped ranges ----------------------------

TEST(Ranges, StandardAlgorithmsWalkEveryUntypedContainer) {
    std::vector<Net> nets = makeNets();
    UT_BTR_TREE tree(&compareNet);
    NetTable table;
    NetList list;
    UT_BLISTS small(3);
    EXPECT_TRUE(std::ranges::empty(tree));
    EXPECT_EQ(begin(table), end(table));
    EXPECT_EQ(begin(list), end(list));
    EXPECT_TRUE(begin(small) == std::default_sentinel);
    for (Net& n : nets) {
        *tree.add(n.name.c_str()) = &n;
        table.add(const_cast<char*>(n.name.c_str()), &n);
        list.append(&n);
        small.l_append(&n);
    }
    auto isNet42 = [](void* p) { return static_cast<Net*>(p)->name == "top/u0/n42"; };
    EXPECT_EQ(*std::ranges::find_if(tree, isNet42), &nets[42]);
    EXPECT_EQ(*std::ranges::find_if(table, isNet42), &nets[42]);
    EXPECT_EQ(*std::ranges::find_if(list, isNet42), &nets[42]);
    EXPECT_EQ(*std::ranges::find_if(small, isNet42), &nets[42]);
    auto fanoutZero = [](void* p) { return static_cast<Net*>(p)->fanout == 0; };
    const auto zeros = std::ranges::count_if(nets, [](const Net& n) { return n.fanout == 0; });
    EXPECT_EQ(std::ranges::count_if(tree, fanoutZero), zeros);
    EXPECT_EQ(std::ranges::count_if(table, fanoutZero), zeros);
    EXPECT_EQ(std::ranges::count_if(list, fanoutZero), zeros);
    EXPECT_EQ(std::ranges::count_if(small, fanoutZero), zeros);
    EXPECT_EQ(std::ranges::distance(tree), 400);
    EXPECT_TRUE(std::ranges::is_sorted(tree, {}, [](void* p) { return static_cast<Net*>(p)->name; }));
    std::vector<void*> copied(begin(list), end(list));  // a common range
    EXPECT_EQ(copied.front(), &nets[0]);
    list.freelist();
    void* block = nullptr;
    UT_DARRAY array(&block, sizeof(int), 8, 1);
    array.getaddr(399);  // the element addresses, wherever growth moved them
    EXPECT_EQ(walk(array).back(), static_cast<int*>(block) + 399);
    EXPECT_EQ(std::ranges::distance(array), 400);
}

// ---- the pools behind standard containers ----------------------------------------

// The elements handed out by one shared size class, read from its statistics
// line (the pools print it on standard error; "(EMPTY)" before any chunk).
int activeIn(int size) {
    UT_SM_SMALLMEM handle(size, 0, "probe", -1);
    testing::internal::CaptureStderr();
    handle.printstats();
    const std::string line = testing::internal::GetCapturedStderr();
    const std::size_t at = line.find("ACT:");
    return at == std::string::npos ? 0 : std::atoi(line.c_str() + at + 4);
}

class Pooled : public testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("QRN_SM_MEMPOOL_ON") && !std::getenv("QRN_MEMPOOL_ON"))
            GTEST_SKIP() << "the small pools are off";
    }
};

TEST_F(Pooled, WhatAPmrContainerTakesCountsInThePoolsStatistics) {
    Util::SmallPoolResource pools;
    const int before = activeIn(24);
    {
        std::pmr::list<int64_t> l(&pools);  // nodes of two links and a value: the 24-byte class
        for (int i = 0; i < 10; ++i)
            l.push_back(i);
        EXPECT_EQ(activeIn(24), before + 10);
    }
    EXPECT_EQ(activeIn(24), before) << "every node went back";
}

TEST_F(Pooled, ThePoolAllocatorReusesTheBlocksItsNodesGaveBack) {
    std::vector<const void*> first;
    {
        std::list<int64_t, Util::PoolAllocator<int64_t>> l;
        for (int i = 0; i < 10; ++i)
            first.push_back(&l.emplace_back(i));
    }
    std::list<int64_t, Util::PoolAllocator<int64_t>> again;
    for (int i = 0; i < 10; ++i)
        again.emplace_back(i);
    for (const int64_t& v : again)
        EXPECT_NE(std::ranges::find(first, &v), first.end()) << "a new block where one was free";
    std::vector<int, Util::PoolAllocator<int>> v(100, 1);  // arrays come from operator new
    EXPECT_EQ(std::ranges::count(v, 1), 100);
}

// Counts what reaches it, and serves it from the heap.
class CountingResource : public std::pmr::memory_resource {
public:
    int taken = 0;

private:
    void* do_allocate(std::size_t bytes, std::size_t align) override {
        ++taken;
        return std::pmr::new_delete_resource()->allocate(bytes, align);
    }
    void do_deallocate(void* p, std::size_t bytes, std::size_t align) override {
        std::pmr::new_delete_resource()->deallocate(p, bytes, align);
    }
    bool do_is_equal(const std::pmr::memory_resource& o) const noexcept override { return this == &o; }
};

TEST(PoolResources, LargeOrStrictlyAlignedRequestsGoUpstream) {
    CountingResource upstream;
    Util::SmallPoolResource r(&upstream);
    void* small = r.allocate(128, 8);
    EXPECT_EQ(upstream.taken, 0);
    void* large = r.allocate(129, 8);
    void* aligned = r.allocate(16, 16);
    EXPECT_EQ(upstream.taken, 2);
    r.deallocate(small, 128, 8);
    r.deallocate(large, 129, 8);
    r.deallocate(aligned, 16, 16);
}

TEST(PoolResources, OwnPoolsReuseBlocksAndSendTheRestUpstream) {
    CountingResource upstream;
    Util::UnsynchronizedPoolResource mine(&upstream);
    Util::SynchronizedPoolResource shared(&upstream);
    for (std::pmr::memory_resource* r :
         {static_cast<std::pmr::memory_resource*>(&mine), static_cast<std::pmr::memory_resource*>(&shared)}) {
        const int before = upstream.taken;
        void* a = r->allocate(24, 8);
        void* b = r->allocate(24, 8);
        EXPECT_EQ(upstream.taken, before + 1) << "one chunk serves many blocks";
        r->deallocate(a, 24, 8);
        EXPECT_EQ(r->allocate(17, 8), a) << "the same class, the block given back";
        void* large = r->allocate(129, 8);
        EXPECT_EQ(upstream.taken, before + 2);
        r->deallocate(large, 129, 8);
        r->deallocate(a, 17, 8);
        r->deallocate(b, 24, 8);
    }
    mine.release();
    void* c = mine.allocate(8, 8);  // a new chunk after the release
    mine.deallocate(c, 8, 8);
}

#ifndef NDEBUG
TEST(PoolResources, ABlockGivenBackAsAnotherSizeIsReported) {
    Util::UnsynchronizedPoolResource mine;
    void* p = mine.allocate(24, 8);
    UtilTest::CapturedReports quiet;
    EXPECT_THROW(mine.deallocate(p, 100, 8), Port::FatalError);
    EXPECT_EQ(quiet.messages().at(0).text, "A block of 24 bytes was given back as one of 104 bytes.\n");
    mine.deallocate(p, 24, 8);
}
#endif

TEST(PoolResources, AFixedPoolServesRequestsThatFitItsElement) {
    UT_FASTMEM pool(32, 64, "pmr");
    Util::FixedPoolResource r(pool);
    std::pmr::map<int, int> m(&r);  // a map node of 48 bytes does not fit: upstream
    std::pmr::list<int> l(&r);      // a list node of 24 bytes does
    for (int i = 0; i < 200; ++i) {
        m[i] = i;
        l.push_back(i);
    }
    EXPECT_EQ(m.size(), 200u);
    EXPECT_EQ(std::ranges::count_if(l, [](int i) { return i % 2 == 0; }), 100);
    void* big = r.allocate(64, 8);
    r.deallocate(big, 64, 8);
}

// ---- std::string_view where texts are looked up ----------------------------------

TEST(StringViews, NameCachesFindAndAddByView) {
    UT_NCH_CACHE c;
    Util::NameCache::Cache f;
    std::string line = "u_core/clk rest of the line";
    std::string_view clk = std::string_view(line).substr(0, 10);
    UT_NCH_NAME* n = c.add(clk, 2);
    EXPECT_STREQ(n->get_name(), "u_core/clk");
    EXPECT_EQ(c.find(std::string("u_core/clk")), n);
    Util::NameCache::Name* m = f.add(clk, 1);
    EXPECT_EQ(f.find("u_core/clk"), m);
    EXPECT_EQ(c.find(std::string(300, 'x')), nullptr) << "long views take the heap copy";
}

TEST(StringViews, SegmentNamesAndFileNamesTakeViews) {
    std::string path = UtilTest::tempPath("views.seg");
    std::string names = "alpha,beta";
    {
        UT_IFILE f;
        ASSERT_EQ(f.create(path.c_str()), 1);
        Port::Stream* s = f.putdataseg(std::string_view(names).substr(6), 0, 0);
        ASSERT_NE(s, nullptr);
        s->writeint32(7);
        EXPECT_EQ(f.enddataseg(), 1);
        ASSERT_EQ(f.unload(), 1);
    }
    UT_IFILE r;
    ASSERT_EQ(r.load(path.c_str()), 1);
    UT_IFILESEGINFO info;
    EXPECT_EQ(r.getseginfo(std::string_view("beta"), info), 1);
    EXPECT_EQ(info.getsize(), 4);
    ASSERT_NE(r.getdataseg(std::string_view(names).substr(6, 4), -1, nullptr), nullptr);
    r.unload();

    Util_FNameGroup g(1, 0, 1);
    g.define("v", Util_FNameGroup::ENFORCE_EXT, Util_FNameGroup::kNoMaster);
    std::string arg = "design.v trailing";
    EXPECT_EQ(g.add(std::string_view(arg).substr(0, 8)), -1);
    g.check();
    EXPECT_STREQ(g.get_fname(0), "design.v");
}

TEST(StringViews, BothKeyedStoresTakeViewKeys) {
    UT_BTR_TREE tree(&compareNet);
    NetTable table;
    Net n{"top/n2"};
    std::string line = "top/n2 trailing";
    const std::string_view key = std::string_view(line).substr(0, 6);
    for (UT_STORE* store : {static_cast<UT_STORE*>(&tree), static_cast<UT_STORE*>(&table)}) {
        EXPECT_EQ(store->s_add(key, &n), 1);
        EXPECT_EQ(store->s_find(key), &n);
        EXPECT_EQ(store->s_remove(key), &n);
        EXPECT_EQ(store->s_find(key), nullptr);
    }
    EXPECT_EQ(tree.s_find(std::string("top/n2")), nullptr) << "the derived stores see the overloads too";
    *tree.add(key) = &n;
    EXPECT_EQ(*tree.find(key), &n);
    EXPECT_EQ(tree.remove(key), &n);
}

// ---- texts that outlive the call ------------------------------------------

std::string nameByValue(const Net& n) { return n.name; }  // a new string on every call
int notAText(const Net& n) { return n.fanout; }

static_assert(Util::KeyFunction<&Net::name, Net> && Util::KeyFunction<nameByValue, Net>);
static_assert(!Util::KeyFunction<notAText, Net>);

TEST(Lifetimes, KeysReturnedByValueOrReadFromAMemberKeepEveryElement) {
    std::vector<Net> nets(50);
    for (int i = 0; i < 50; ++i)
        nets[i].name = std::string(40, static_cast<char>('a' + i % 26)) + std::to_string(i);  // past any inline buffer
    Util::TextTree<Net, nameByValue> tree;
    Util::TextHash<Net, nameByValue> hash(16);
    Util::TextTree<Net, &Net::name> byMember;
    for (auto& n : nets) {
        tree.insert(&n);
        hash.insert(&n);
        byMember.insert(&n);
    }
    EXPECT_EQ(tree.size(), 50u);
    EXPECT_EQ(byMember.size(), 50u);
    for (auto& n : nets) {
        EXPECT_EQ(tree.find(n.name), &n);
        EXPECT_EQ(hash.find(n.name), &n);
        EXPECT_EQ(byMember.find(n.name), &n);
    }
    for (auto& n : nets)
        EXPECT_EQ(hash.remove(n.name), &n);
    EXPECT_TRUE(hash.empty());
}

TEST(Lifetimes, PointerOnlyCachesKeepACopyOfAViewAndThePointerOfAText) {
    const std::string kName = "top/u_core/a_long_net_name";
    UT_NCH_CACHE tree(1);
    Util::NameCache::Cache map(true);
    UT_NCH_NAME* n;
    Util::NameCache::Name* m;
    {
        std::string line = kName + " and the rest of the line";
        n = tree.add(std::string_view(line).substr(0, kName.size()), 1);
        m = map.add(std::string_view(line).substr(0, kName.size()), 1);
        line.assign(line.size(), '#');
    }
    EXPECT_EQ(n->get_name(), kName);
    EXPECT_EQ(tree.find(kName.c_str()), n);
    EXPECT_EQ(m->getName(), kName);
    EXPECT_EQ(map.find(kName.c_str()), m);
    Util::NameCache::Cache copy(map);  // a pointer-only copy copies what the other cache keeps
    map.flush();
    ASSERT_NE(copy.find(kName.c_str()), nullptr);
    EXPECT_EQ(copy.find(kName.c_str())->getName(), kName);
    static const char kCallers[] = "top/u_core/the_callers_own_text";
    EXPECT_EQ(tree.add(kCallers, 1)->get_name(), kCallers) << "a C string is kept by its pointer, as before";
    tree.clean();
}

TEST(Lifetimes, AStoreRefusesAViewKeyAsItsOwnData) {
    UT_BTR_TREE tree(&compareNet);
    NetTable table;
    for (UT_STORE* store : {static_cast<UT_STORE*>(&tree), static_cast<UT_STORE*>(&table)}) {
        UtilTest::CapturedReports seen;
        EXPECT_EQ(store->s_add(std::string_view("top/n3"), nullptr), 0);
        ASSERT_EQ(seen.messages().size(), 1u);
        EXPECT_EQ(seen.messages()[0].text,
                  "Key \"top/n3\" given as a view cannot be stored as its own data: it does not outlive the call.\n");
        EXPECT_EQ(store->s_find(std::string_view("top/n3")), nullptr);
    }
}

// ---- containers as values ----------------------------------------------------

Tree treeOf(std::vector<Net>& nets) {
    Tree t;
    for (auto& n : nets)
        t.insert(&n);
    return t;  // moved out
}

TEST(TypedMoves, EveryContainerMovesItsElementsAndIsEmptyAfterwards) {
    std::vector<Net> nets = makeNets();
    std::vector<Tree> trees;
    for (int i = 0; i < 3; ++i)
        trees.push_back(treeOf(nets));  // the vector moves them as it grows
    EXPECT_EQ(trees[2].size(), nets.size());
    EXPECT_EQ(trees[0].find(nets[7].name), &nets[7]);
    Tree taken = std::move(trees[0]);
    EXPECT_TRUE(trees[0].empty());
    EXPECT_TRUE(taken.contains(nets[7].name));
    trees[0].insert(&nets[1]);  // a container moved from is usable
    EXPECT_EQ(trees[0].size(), 1u);
    taken.clear();
    EXPECT_TRUE(taken.empty());

    Hash h(16);
    EXPECT_EQ(h.insert(&nets[3]), &nets[3]);
    Hash h2 = std::move(h);
    EXPECT_TRUE(h2.contains(nets[3].name));
    EXPECT_TRUE(h.empty());
    h.insert(&nets[4]);
    EXPECT_EQ(h.find(nets[4].name), &nets[4]);
    h2.clear();
    EXPECT_TRUE(h2.empty());

    Util::TypedList<Net> l;
    l.push_back(&nets[0]);
    Util::TypedList<Net> l2(std::move(l));
    EXPECT_TRUE(l2.contains(&nets[0]));
    EXPECT_TRUE(l.empty());

    Util::TypedBlist<Net> b(4);
    b.append(&nets[0]);
    Util::TypedBlist<Net> b2 = std::move(b);
    EXPECT_TRUE(b2.contains(&nets[0]));
    EXPECT_TRUE(b.empty());

    Util::TypedArray<int> a;
    a.push_back(5);
    Util::TypedArray<int> a2 = std::move(a);
    EXPECT_EQ(a2.size(), 1);
    EXPECT_EQ(a.size(), 0);
    a = std::move(a2);  // assigned: the elements come back
    EXPECT_EQ(a[0], 5);
}

TEST(TypedArray, AtIsCheckedAndAConstArrayNeverGrows) {
    Util::TypedArray<int> a;
    for (int i = 0; i < 5; ++i)
        a.push_back(i * 10);
    const auto& view = a;
    EXPECT_EQ(view[4], 40);
    EXPECT_EQ(std::ranges::count(view, 20), 1);
    EXPECT_EQ(a.at(3), 30);
    EXPECT_THROW(a.at(5), std::out_of_range);
    EXPECT_THROW(view.at(-1), std::out_of_range);
    EXPECT_EQ(a.size(), 5) << "a checked look-up grows nothing";
    a.pop_back();
    EXPECT_EQ(a.size(), 4);
    a.resize(6);
    EXPECT_EQ(a[5], 0) << "new elements are zeroed";
    a.clear();
    EXPECT_TRUE(a.empty());
}

}  // namespace
