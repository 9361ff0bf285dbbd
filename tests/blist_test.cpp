// Tests of the block lists and their iterators. Runs with pooling off and on.
#include "TestSupport.h"

#include <UtilBlist.h>

#include <thread>
#include <vector>

namespace {

void* ptr(uintptr_t n) { return reinterpret_cast<void*>(n * 16); }

template <class List, class Iter>
std::vector<void*> walk(Iter& it) {
    std::vector<void*> out;
    while (void* p = it.l_next())
        out.push_back(p);
    return out;
}

template <class L, class I>
struct Variant {
    using List = L;
    using Iter = I;
};
template <class T>
class BothLists : public testing::Test {};
using ListTypes = testing::Types<Variant<UT_BLIST, UT_BLIST_ITER>, Variant<UT_BLISTS, UT_BLISTS_ITER>>;
TYPED_TEST_SUITE(BothLists, ListTypes);

// A model of the list as its blocks of slots, appending after the last
// occupied slot of the last block by scanning it, as the layout defines.
struct BlockModel {
    explicit BlockModel(unsigned n) : nslots(n) {}
    void append(void* p) {
        std::size_t slot = 0;
        if (!blocks.empty()) {
            auto& last = blocks.back();
            slot = nslots;
            while (slot > 0 && !last[slot - 1])
                --slot;
        }
        if (blocks.empty() || slot == nslots) {
            blocks.emplace_back(nslots, nullptr);
            slot = 0;
        }
        blocks.back()[slot] = p;
    }
    bool remove(void* p) {
        for (auto& b : blocks)
            for (auto& e : b)
                if (e == p) {
                    e = nullptr;
                    return true;
                }
        return false;
    }
    std::vector<void*> elements() const {
        std::vector<void*> out;
        for (const auto& b : blocks)
            for (void* e : b)
                if (e)
                    out.push_back(e);
        return out;
    }
    unsigned nslots;
    std::vector<std::vector<void*>> blocks;
};

TYPED_TEST(BothLists, RandomAppendsAndRemovesKeepTheOrderOfTheModel) {
    using List = typename TypeParam::List;
    using Iter = typename TypeParam::Iter;
    for (unsigned nslots : {1u, 3u, 16u, 255u}) {
        List list(static_cast<decltype(list.get_nslots())>(nslots));
        BlockModel model(nslots);
        std::vector<void*> live;
        uint64_t seed = 12345 + nslots;
        auto next = [&seed] {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            return static_cast<uint32_t>(seed >> 33);
        };
        for (uintptr_t i = 1; i <= 3000; ++i) {
            uint32_t r = next() % 10;
            if (r < 4 && !live.empty()) {
                // Remove the newest half of the time: holes at the tail.
                std::size_t at = r < 2 ? live.size() - 1 : next() % live.size();
                void* p = live[at];
                live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
                EXPECT_EQ(list.l_remove(p), 1);
                model.remove(p);
            } else if (live.size() < 60000) {
                list.l_append(ptr(i));
                model.append(ptr(i));
                live.push_back(ptr(i));
            }
        }
        Iter it(&list);
        EXPECT_EQ(walk<List>(it), model.elements()) << nslots << " slots";
        EXPECT_EQ(list.get_count(), live.size());
    }
}

TYPED_TEST(BothLists, RemoveTakesOnlyTheFirstOccurrenceAndNullIsNeverAnElement) {
    typename TypeParam::List list(3);
    list.l_append(ptr(1));
    list.l_append(nullptr);
    list.l_append(ptr(1));
    EXPECT_EQ(list.get_count(), 2u);
    EXPECT_EQ(list.l_find(nullptr), 0);
    EXPECT_EQ(list.l_remove(nullptr), 0);
    EXPECT_EQ(list.l_remove(ptr(1)), 1);
    EXPECT_EQ(list.get_count(), 1u);
    EXPECT_EQ(list.l_find(ptr(1)), 1);
    EXPECT_EQ(list.l_remove(ptr(9)), 0);
}

TYPED_TEST(BothLists, EveryTrailingHoleIsRefilledBeforeANewBlock) {
    using List = typename TypeParam::List;
    List list(3);
    for (uintptr_t i = 1; i <= 3; ++i)
        list.l_append(ptr(i));
    const auto mem = List::get_total_mem();
    list.l_remove(ptr(2));
    list.l_remove(ptr(3));
    list.l_append(ptr(4));
    list.l_append(ptr(5));
    EXPECT_EQ(List::get_total_mem(), mem) << "4 and 5 take both holes";
}

TYPED_TEST(BothLists, IteratorsSeeAppendsOnlyWhereTheyStopped) {
    using List = typename TypeParam::List;
    using Iter = typename TypeParam::Iter;
    List list(4);
    Iter early(&list);  // made while the list had no block
    list.l_append(ptr(1));
    EXPECT_EQ(early.l_next(), nullptr);
    early.reset();
    EXPECT_EQ(early.l_next(), ptr(1));
    EXPECT_EQ(early.l_next(), nullptr);
    list.l_append(ptr(2));  // into the same block, after where the iterator stopped
    EXPECT_EQ(early.l_next(), ptr(2));
    list.l_append(ptr(3));
    list.l_append(ptr(4));
    list.l_append(ptr(5));  // a second block
    EXPECT_EQ(walk<List>(early), (std::vector<void*>{ptr(3), ptr(4), ptr(5)}));
    list.l_append(ptr(6));
    EXPECT_EQ(early.l_next(), ptr(6));
}

TYPED_TEST(BothLists, MisuseWithIteratorsOpenIsFatal) {
    using List = typename TypeParam::List;
    using Iter = typename TypeParam::Iter;
    const char* compress = std::is_same_v<List, UT_BLIST> ? "Cannot compress list with iterators.\n"
                                                          : "Cannot compress lists with iterators.\n";
    List list(2);
    list.l_append(ptr(1));
    {
        Iter it(&list);
        EXPECT_FATAL(list.compress(), 19, compress);
        EXPECT_FATAL(list.clear(), 19, "Cannot destroy list with iterators.\n");
    }
    EXPECT_EQ(list.get_count(), 1u) << "a refused clear changes nothing";
    {
        // The destructor's report passes out of it. The list is then gone, so
        // it is made in storage of the test's own and holds no block.
        alignas(List) unsigned char storage[sizeof(List)];
        auto* doomed = ::new (storage) List(2);
        Iter it(doomed);
        EXPECT_FATAL(doomed->~List(), 19, "Cannot destroy list with iterators.\n");
    }
    UtilTest::CapturedReports captured;
    list.compress();
    ASSERT_EQ(captured.messages().size(), 1u);
    EXPECT_EQ(captured.messages()[0].kind, Port::MsgKind::Internal);
    EXPECT_EQ(captured.messages()[0].text, "List compression not yet implemented.\n");
    EXPECT_FATAL(List{0}, 19, "A block list needs at least one slot per block.\n");
}

TEST(Blists, TheIteratorAndElementLimitsAreKept) {
    UT_BLISTS list(255);
    std::vector<std::unique_ptr<UT_BLISTS_ITER>> iters;
    for (int i = 0; i < 255; ++i)
        iters.emplace_back(new UT_BLISTS_ITER(&list));
    EXPECT_FATAL(UT_BLISTS_ITER{&list}, 19, "Maximum iterator count exceeded.\n");
    iters.clear();  // all 255 unregister: the refused one was not counted
    for (uintptr_t i = 1; i <= 65535; ++i)
        list.l_append(ptr(i));
    EXPECT_FATAL(list.l_append(ptr(1)), 19, "Maximum element count exceeded.\n");
    EXPECT_EQ(list.get_count(), 65535u);
    EXPECT_EQ(list.l_find(ptr(65535)), 1);
}

// What the memory statistic counts: the list object, each block (its slots
// and the link to the next block) and each iterator.
constexpr unsigned kListBytes = 16;
constexpr unsigned kIterBytes = 24;
constexpr unsigned blockBytes(unsigned slots) { return slots * 8 + 8; }

TEST(Blist, StatisticsFollowObjectsBlocksAndIterators) {
    unsigned count0 = UT_BLIST::get_total_count(), mem0 = UT_BLIST::get_total_mem();
    auto* list = new UT_BLIST(4);
    list->l_append(ptr(1));
    EXPECT_EQ(UT_BLIST::get_total_count(), count0 + 1);
    EXPECT_EQ(UT_BLIST::get_total_mem(), mem0 + kListBytes + blockBytes(4));
    auto* it = new UT_BLIST_ITER(list);
    EXPECT_EQ(UT_BLIST::get_total_mem(), mem0 + kListBytes + blockBytes(4) + kIterBytes);
    delete it;
    for (uintptr_t i = 2; i <= 5; ++i)
        list->l_append(ptr(i));
    EXPECT_EQ(UT_BLIST::get_total_mem(), mem0 + kListBytes + 2 * blockBytes(4));
    list->clear();
    EXPECT_EQ(list->get_count(), 0u);
    EXPECT_EQ(UT_BLIST::get_total_mem(), mem0 + kListBytes);
    delete list;
    EXPECT_EQ(UT_BLIST::get_total_count(), count0);
    EXPECT_EQ(UT_BLIST::get_total_mem(), mem0);
}

TEST(Blist, ALockFailureChangesNothing) {
    UtilTest::ThreadFailureReset reset;
    unsigned mem0 = UT_BLIST::get_total_mem(), count0 = UT_BLIST::get_total_count();
    Port::Thread::Testing::failNextLocks(1, 11);
    EXPECT_THROW(new UT_BLIST(4), Port_ThrException::Exception);
    EXPECT_EQ(UT_BLIST::get_total_mem(), mem0);
    UT_BLIST list(4);
    Port::Thread::Testing::failNextLocks(1, 11);
    EXPECT_THROW(list.l_append(ptr(1)), Port_ThrException::Exception);
    Port::Thread::Testing::failNextLocks(1, 11, 1);  // total_mem passes, the pool lock fails
    EXPECT_THROW(new UT_BLIST_ITER(&list), Port_ThrException::Exception);
    EXPECT_EQ(UT_BLIST::get_total_mem(), mem0);
    EXPECT_EQ(UT_BLIST::get_total_count(), count0 + 1);
}

TEST(BlistThreads, ConcurrentListsLeaveTheStatisticsAsTheyWere) {
    unsigned count0 = UT_BLIST::get_total_count(), mem0 = UT_BLIST::get_total_mem();
    unsigned scount0 = UT_BLISTS::get_total_count(), smem0 = UT_BLISTS::get_total_mem();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int round = 0; round < 200; ++round) {
                auto* list = new UT_BLIST(static_cast<unsigned short>(1 + (round + t) % 7));
                auto* small = new UT_BLISTS(3);
                for (uintptr_t i = 1; i < 50; ++i) {
                    list->l_append(ptr(i));
                    small->l_append(ptr(i));
                }
                auto* it = new UT_BLIST_ITER(list);
                auto* sit = new UT_BLISTS_ITER(small);
                while (it->l_next() && sit->l_next()) {
                }
                delete it;
                delete sit;
                delete list;
                delete small;
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(UT_BLIST::get_total_count(), count0);
    EXPECT_EQ(UT_BLIST::get_total_mem(), mem0);
    EXPECT_EQ(UT_BLISTS::get_total_count(), scount0);
    EXPECT_EQ(UT_BLISTS::get_total_mem(), smem0);
}

}  // namespace
