// The pools behind standard containers used as C++ users use them: four
// threads at once, each with containers of its own or on one shared
// resource, and nodes made on one thread and freed on another. Run under
// ThreadSanitizer in CI.
#include "TestSupport.h"

#include <UtilPmr.h>

#include <cstdint>
#include <functional>
#include <list>
#include <memory_resource>
#include <numeric>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 200;
constexpr int kNodes = 100;
constexpr int kHandedOn = 12000;  // more nodes than a thread keeps free: the rest go on to other threads

// Runs `work(t)` on kThreads threads at once.
void onThreads(const std::function<void(int)>& work) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(work, t);
    for (auto& th : threads)
        th.join();
}

// Fills and empties a list of nodes of three words (the 24-byte class) many
// times; the sum tells that no node was handed out twice.
template <class List>
void churn(List& l) {
    for (int round = 0; round < kRounds; ++round) {
        for (int64_t i = 0; i < kNodes; ++i)
            l.push_back(i);
        EXPECT_EQ(std::accumulate(l.begin(), l.end(), int64_t{0}), int64_t{kNodes} * (kNodes - 1) / 2);
        l.clear();
    }
}

TEST(PoolThreads, EachThreadsPoolAllocatorContainers) {
    onThreads([](int) {
        std::list<int64_t, Util::PoolAllocator<int64_t>> l;
        churn(l);
    });
}

TEST(PoolThreads, PoolAllocatorNodesFreedOnAnotherThread) {
    std::vector<std::list<int64_t, Util::PoolAllocator<int64_t>>> made(kThreads);
    onThreads([&](int t) {
        for (int64_t i = 0; i < kHandedOn; ++i)
            made[t].push_back(i);
    });
    onThreads([&](int t) { made[(t + 1) % kThreads].clear(); });  // each frees another's
    onThreads([](int) {
        std::list<int64_t, Util::PoolAllocator<int64_t>> l;
        churn(l);
    });
}

TEST(PoolThreads, OneUnsynchronizedResourcePerThread) {
    onThreads([](int) {
        Util::UnsynchronizedPoolResource mine;
        std::pmr::list<int64_t> l(&mine);
        churn(l);
    });
}

TEST(PoolThreads, OneSynchronizedResourceForAllThreads) {
    Util::SynchronizedPoolResource shared;
    std::vector<std::pmr::list<int64_t>> made;
    for (int t = 0; t < kThreads; ++t)
        made.emplace_back(&shared);
    onThreads([&](int t) {
        std::pmr::list<int64_t> l(&shared);
        churn(l);
        for (int64_t i = 0; i < kHandedOn; ++i)
            made[t].push_back(i);
    });
    onThreads([&](int t) { made[(t + 1) % kThreads].clear(); });
}

TEST(PoolThreads, OneSmallPoolResourcePerThread) {
    onThreads([](int) {
        Util::SmallPoolResource pools;
        std::pmr::list<int64_t> l(&pools);
        churn(l);
    });
}

}  // namespace
