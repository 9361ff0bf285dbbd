// fastmem_bench - UT_FASTMEM against malloc/free,
// std::pmr::unsynchronized_pool_resource and boost::pool, on the same
// take/give-back patterns. Built a second time with mimalloc linked in, where
// the pool meets mi_malloc/mi_free (and malloc is mimalloc's as well).
#include <UtilFstmem.h>

#include "PooledMain.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <memory_resource>
#include <numeric>
#include <random>
#include <vector>

#ifdef UTIL_BENCH_BOOST
#include <boost/pool/pool.hpp>
#endif
#ifdef UTIL_BENCH_MIMALLOC
#include <mimalloc.h>
#endif

namespace {

constexpr unsigned kElemSize = 32;
constexpr unsigned kPerBlock = 4000;

enum Pattern { LIFO, FIFO, RANDOM };

// The order in which n taken elements are given back.
std::vector<size_t> releaseOrder(Pattern pattern, size_t n) {
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    if (pattern == LIFO)
        std::reverse(order.begin(), order.end());
    else if (pattern == RANDOM)
        std::shuffle(order.begin(), order.end(), std::mt19937(42));
    return order;
}

template <class Take, class Give>
void run(benchmark::State& state, Take take, Give give) {
    const size_t n = static_cast<size_t>(state.range(0));
    const auto order = releaseOrder(static_cast<Pattern>(state.range(1)), n);
    std::vector<void*> held(n);
    for (auto _ : state) {
        for (size_t i = 0; i < n; ++i) {
            held[i] = take();
            *static_cast<size_t*>(held[i]) = i;
        }
        for (size_t i : order)
            give(held[i]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_Fastmem(benchmark::State& state) {
    UT_FASTMEM pool(kElemSize, kPerBlock, "bench");
    run(
        state, [&] { return pool.getnewptr(); }, [&](void* p) { pool.qrn_free(p); });
}

void BM_Malloc(benchmark::State& state) {
    run(
        state, [] { return std::malloc(kElemSize); }, [](void* p) { std::free(p); });
}

void BM_PmrPool(benchmark::State& state) {
    std::pmr::unsynchronized_pool_resource pool;
    run(
        state, [&] { return pool.allocate(kElemSize); }, [&](void* p) { pool.deallocate(p, kElemSize); });
}

#ifdef UTIL_BENCH_BOOST
// boost::pool rather than object_pool: object_pool::destroy keeps its free
// list ordered, which is linear per call.
void BM_BoostPool(benchmark::State& state) {
    boost::pool<> pool(kElemSize, kPerBlock);
    run(
        state, [&] { return pool.malloc(); }, [&](void* p) { pool.free(p); });
}
#endif

#ifdef UTIL_BENCH_MIMALLOC
void BM_Mimalloc(benchmark::State& state) {
    run(
        state, [] { return mi_malloc(kElemSize); }, [](void* p) { mi_free(p); });
}
#endif

void patterns(benchmark::internal::Benchmark* b) {
    b->ArgNames({"n", "pattern"});
    for (int pattern : {LIFO, FIFO, RANDOM})
        for (int n : {1000, 100000, 1000000, 4000000})
            b->Args({n, pattern});
}

BENCHMARK(BM_Fastmem)->Apply(patterns);
BENCHMARK(BM_Malloc)->Apply(patterns);
BENCHMARK(BM_PmrPool)->Apply(patterns);
#ifdef UTIL_BENCH_BOOST
BENCHMARK(BM_BoostPool)->Apply(patterns);
#endif
#ifdef UTIL_BENCH_MIMALLOC
BENCHMARK(BM_Mimalloc)->Apply(patterns);
#endif

}  // namespace

#ifdef UTIL_BENCH_UNPOOLED
// Pools off: every element is its own heap block, so the pool meets malloc
// on malloc's own ground. The switches are read at load, so a run that has
// them set starts again without them.
int main(int argc, char** argv) {
    if (std::getenv("QRN_MEMPOOL_ON") || std::getenv("QRN_FST_MEMPOOL_ON")) {
        unsetenv("QRN_MEMPOOL_ON");
        unsetenv("QRN_FST_MEMPOOL_ON");
        execv("/proc/self/exe", argv);
        return 1;
    }
    return pooledBenchMain(argc, argv, {});
}
#else
int main(int argc, char** argv) { return pooledBenchMain(argc, argv, {"QRN_FST_MEMPOOL_ON"}); }
#endif
