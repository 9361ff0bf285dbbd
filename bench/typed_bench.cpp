// The typed face beside the untyped calls it makes, and standard pmr
// containers on the library's pools beside the standard pool resource.
#include "PooledMain.h"

#include <UtilPmr.h>
#include <UtilRange.h>
#include <UtilTyped.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <memory_resource>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

struct Net {
    std::string name;
    int fanout = 0;
};
std::string_view nameOf(const Net& n) { return n.name; }

std::vector<Net>& nets(std::size_t n) {
    static std::vector<Net> all;
    if (all.size() != n) {
        all.assign(n, {});
        for (std::size_t i = 0; i < n; ++i)
            all[i] = {"top/u_blk" + std::to_string(i % 64) + "/reg_q[" + std::to_string(i) + "]",
                      static_cast<int>(i % 13)};
    }
    return all;
}

// The order look-ups ask in: every name once, shuffled.
std::vector<const Net*> probes(const std::vector<Net>& all) {
    std::vector<const Net*> out;
    for (const Net& n : all)
        out.push_back(&n);
    std::shuffle(out.begin(), out.end(), std::mt19937(1));
    return out;
}

// ---- tree look-ups ---------------------------------------------------------------

// The untyped tree as a caller writes it: C-string keys, its own comparison.
int compareNet(void* data, const char* key) {
    return data ? std::strcmp(key, static_cast<Net*>(data)->name.c_str()) : 0;
}

void BM_TreeFindUntyped(benchmark::State& state) {
    auto& all = nets(static_cast<std::size_t>(state.range(0)));
    UT_BTR_TREE tree(&compareNet);
    for (Net& n : all)
        *tree.add(n.name.c_str()) = &n;
    const auto ask = probes(all);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tree.find(ask[i]->name.c_str()));
        i = i + 1 == ask.size() ? 0 : i + 1;
    }
}

void BM_TreeFindTyped(benchmark::State& state) {
    auto& all = nets(static_cast<std::size_t>(state.range(0)));
    Util::TextTree<Net, nameOf> tree;
    for (Net& n : all)
        tree.insert(&n);
    const auto ask = probes(all);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tree.find(ask[i]->name));
        i = i + 1 == ask.size() ? 0 : i + 1;
    }
}

// ---- hash look-ups ---------------------------------------------------------------

class NetTable : public UT_HASH {
public:
    explicit NetTable(unsigned n) : UT_HASH(n, 0) {}
    unsigned int hash_func(void* key) override { return Util::Details::hashText(static_cast<const char*>(key)); }
    int comp_func(void* key, void* value) override {
        return std::strcmp(static_cast<const char*>(key), static_cast<Net*>(value)->name.c_str());
    }
};

void BM_HashFindUntyped(benchmark::State& state) {
    auto& all = nets(static_cast<std::size_t>(state.range(0)));
    NetTable table(static_cast<unsigned>(all.size()));
    for (Net& n : all)
        table.add(const_cast<char*>(n.name.c_str()), &n);
    const auto ask = probes(all);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.s_find(const_cast<char*>(ask[i]->name.c_str())));
        i = i + 1 == ask.size() ? 0 : i + 1;
    }
}

void BM_HashFindTyped(benchmark::State& state) {
    auto& all = nets(static_cast<std::size_t>(state.range(0)));
    Util::TextHash<Net, nameOf> table(static_cast<unsigned>(all.size()));
    for (Net& n : all)
        table.insert(&n);
    const auto ask = probes(all);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.find(ask[i]->name));
        i = i + 1 == ask.size() ? 0 : i + 1;
    }
}

// ---- walks -----------------------------------------------------------------------

class NetList : public UT_LIST {};

void BM_ListWalkUntyped(benchmark::State& state) {
    auto& all = nets(static_cast<std::size_t>(state.range(0)));
    NetList list;
    for (Net& n : all)
        list.append(&n);
    for (auto _ : state) {
        long sum = 0;
        list.reset();
        while (void* p = list.getnext())
            sum += static_cast<Net*>(p)->fanout;
        benchmark::DoNotOptimize(sum);
    }
    list.freelist();
}

void BM_ListWalkTyped(benchmark::State& state) {
    auto& all = nets(static_cast<std::size_t>(state.range(0)));
    Util::TypedList<Net> list;
    for (Net& n : all)
        list.push_back(&n);
    for (auto _ : state) {
        long sum = 0;
        for (const Net* n : list)
            sum += n->fanout;
        benchmark::DoNotOptimize(sum);
    }
}

void BM_BlistWalkUntyped(benchmark::State& state) {
    auto& all = nets(static_cast<std::size_t>(state.range(0)));
    UT_BLIST list(255);
    for (Net& n : all)
        list.l_append(&n);
    for (auto _ : state) {
        long sum = 0;
        UT_BLIST_ITER it(&list);
        while (void* p = it.l_next())
            sum += static_cast<Net*>(p)->fanout;
        benchmark::DoNotOptimize(sum);
    }
}

void BM_BlistWalkTyped(benchmark::State& state) {
    auto& all = nets(static_cast<std::size_t>(state.range(0)));
    Util::TypedBlist<Net> list(255);
    for (Net& n : all)
        list.append(&n);
    for (auto _ : state) {
        long sum = 0;
        for (const Net* n : list)
            sum += n->fanout;
        benchmark::DoNotOptimize(sum);
    }
}

void BM_TreeWalkUntyped(benchmark::State& state) {
    auto& all = nets(static_cast<std::size_t>(state.range(0)));
    UT_BTR_TREE tree(&compareNet);
    for (Net& n : all)
        *tree.add(n.name.c_str()) = &n;
    for (auto _ : state) {
        long sum = 0;
        tree.traverse([](void** slot, void* arg) { *static_cast<long*>(arg) += static_cast<Net*>(*slot)->fanout; },
                      &sum, UT_BTR_TREE::INORDER);
        benchmark::DoNotOptimize(sum);
    }
}

void BM_TreeWalkTyped(benchmark::State& state) {
    auto& all = nets(static_cast<std::size_t>(state.range(0)));
    Util::TextTree<Net, nameOf> tree;
    for (Net& n : all)
        tree.insert(&n);
    for (auto _ : state) {
        long sum = 0;
        for (const Net* n : tree)
            sum += n->fanout;
        benchmark::DoNotOptimize(sum);
    }
}

// ---- standard containers on the pools -------------------------------------------

// Push n values at the back of a list, pop them from the front.
template <class List>
void pushPop(List& l, int n) {
    for (int i = 0; i < n; ++i)
        l.push_back(i);
    while (!l.empty())
        l.pop_front();
    benchmark::DoNotOptimize(l);
}

enum Resource { kLibraryPools, kOwnPools, kStdPool, kDefault };

template <Resource R, class Use>
void onResource(benchmark::State& state, Use use) {
    Util::SmallPoolResource pools;
    Util::UnsynchronizedPoolResource own;
    std::pmr::unsynchronized_pool_resource stdPool;
    std::pmr::memory_resource* r = R == kLibraryPools ? static_cast<std::pmr::memory_resource*>(&pools)
                                   : R == kOwnPools   ? &own
                                   : R == kStdPool    ? &stdPool
                                                      : std::pmr::get_default_resource();
    for (auto _ : state)
        use(r, static_cast<int>(state.range(0)));
}

// Fill a map of n entries, look each up, erase them all.
template <Resource R>
void BM_PmrUnorderedMap(benchmark::State& state) {
    onResource<R>(state, [](std::pmr::memory_resource* r, int n) {
        std::pmr::unordered_map<int, int> m(r);
        for (int i = 0; i < n; ++i)
            m.emplace(i * 7, i);
        long sum = 0;
        for (int i = 0; i < n; ++i)
            sum += m.find(i * 7)->second;
        for (int i = 0; i < n; ++i)
            m.erase(i * 7);
        benchmark::DoNotOptimize(sum);
    });
}

template <Resource R>
void BM_PmrList(benchmark::State& state) {
    onResource<R>(state, [](std::pmr::memory_resource* r, int n) {
        std::pmr::list<int64_t> l(r);
        pushPop(l, n);
    });
}

// The same on one resource that every thread of the benchmark uses at once.
enum SharedResource { kOurShared, kStdShared };

template <SharedResource R>
void BM_PmrListShared(benchmark::State& state) {
    static Util::SynchronizedPoolResource ours;
    static std::pmr::synchronized_pool_resource theirs;
    std::pmr::memory_resource* r = R == kOurShared ? static_cast<std::pmr::memory_resource*>(&ours) : &theirs;
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::pmr::list<int64_t> l(r);
        pushPop(l, n);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}

void BM_ListPoolAllocator(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::list<int64_t, Util::PoolAllocator<int64_t>> l;
        pushPop(l, n);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}

void BM_ListStdAllocator(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::list<int64_t> l;
        pushPop(l, n);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * n);
}

}  // namespace

#define UTIL_SIZES ->Arg(1000)->Arg(100000)
BENCHMARK(BM_TreeFindUntyped) UTIL_SIZES;
BENCHMARK(BM_TreeFindTyped) UTIL_SIZES;
BENCHMARK(BM_HashFindUntyped) UTIL_SIZES;
BENCHMARK(BM_HashFindTyped) UTIL_SIZES;
BENCHMARK(BM_ListWalkUntyped) UTIL_SIZES;
BENCHMARK(BM_ListWalkTyped) UTIL_SIZES;
BENCHMARK(BM_BlistWalkUntyped) UTIL_SIZES;
BENCHMARK(BM_BlistWalkTyped) UTIL_SIZES;
BENCHMARK(BM_TreeWalkUntyped) UTIL_SIZES;
BENCHMARK(BM_TreeWalkTyped) UTIL_SIZES;
BENCHMARK_TEMPLATE(BM_PmrUnorderedMap, kLibraryPools) UTIL_SIZES;
BENCHMARK_TEMPLATE(BM_PmrUnorderedMap, kOwnPools) UTIL_SIZES;
BENCHMARK_TEMPLATE(BM_PmrUnorderedMap, kStdPool) UTIL_SIZES;
BENCHMARK_TEMPLATE(BM_PmrUnorderedMap, kDefault) UTIL_SIZES;
BENCHMARK_TEMPLATE(BM_PmrList, kLibraryPools) UTIL_SIZES;
BENCHMARK_TEMPLATE(BM_PmrList, kOwnPools) UTIL_SIZES;
BENCHMARK_TEMPLATE(BM_PmrList, kStdPool) UTIL_SIZES;
BENCHMARK_TEMPLATE(BM_PmrList, kDefault) UTIL_SIZES;
#define UTIL_THREADS ->Threads(1)->Threads(4)->UseRealTime()
BENCHMARK_TEMPLATE(BM_PmrListShared, kOurShared) UTIL_SIZES UTIL_THREADS;
BENCHMARK_TEMPLATE(BM_PmrListShared, kStdShared) UTIL_SIZES UTIL_THREADS;
BENCHMARK(BM_ListPoolAllocator) UTIL_SIZES UTIL_THREADS;
BENCHMARK(BM_ListStdAllocator) UTIL_SIZES UTIL_THREADS;

int main(int argc, char** argv) { return pooledBenchMain(argc, argv, {"QRN_SM_MEMPOOL_ON"}); }
