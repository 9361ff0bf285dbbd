// smem_bench - small-element pools against malloc/free and
// std::pmr::unsynchronized_pool_resource (8 to 256 bytes, 1e5 elements taken
// then given back in random order); UT_STROBJ against std::string; gen_hex of
// six-line equations.
#include <UtilEquate.h>
#include <UtilSmem.h>
#include <UtilStrobj.h>

#include "PooledMain.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <memory_resource>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kElements = 100000;

template <class Take, class Give>
void run(benchmark::State& state, Take take, Give give) {
    std::vector<size_t> order(kElements);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(42));
    std::vector<void*> held(kElements);
    for (auto _ : state) {
        for (size_t i = 0; i < kElements; ++i) {
            held[i] = take();
            *static_cast<size_t*>(held[i]) = i;
        }
        for (size_t i : order)
            give(held[i]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kElements));
}

void BM_SmallPool(benchmark::State& state) {
    UT_SM_SMALLMEM pool(static_cast<int>(state.range(0)), 1, "bench", -1);
    run(
        state, [&] { return pool.getmem(); }, [&](void* p) { pool.relmem(p); });
}

void BM_Malloc(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    run(
        state, [n] { return std::malloc(n); }, [](void* p) { std::free(p); });
}

void BM_PmrPool(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    std::pmr::unsynchronized_pool_resource pool;
    run(
        state, [&] { return pool.allocate(n); }, [&](void* p) { pool.deallocate(p, n); });
}

const char* kTexts[] = {"top/u_core/net_17", "clk", "u_alu/sum[3]", "reset_n"};

void BM_StrobjCreateCopyCompare(benchmark::State& state) {
    int less = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            auto* a = new UT_STROBJ(kTexts[i % 4]);
            auto* b = new UT_STROBJ(*a);
            b->append("_x");
            less += *a < *b;
            delete a;
            delete b;
        }
    }
    benchmark::DoNotOptimize(less);
    state.SetItemsProcessed(state.iterations() * 1000);
}

void BM_StdStringCreateCopyCompare(benchmark::State& state) {
    int less = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            auto* a = new std::string(kTexts[i % 4]);
            auto* b = new std::string(*a);
            b->append("_x");
            less += *a < *b;
            delete a;
            delete b;
        }
    }
    benchmark::DoNotOptimize(less);
    state.SetItemsProcessed(state.iterations() * 1000);
}

void BM_GenHexSixLines(benchmark::State& state) {
    const char* lines[] = {"A0", "A1", "A2", "A3", "A4", "A5"};
    const char* eqns[] = {"O = A0*~A1 + A2@A3 + ~(A4*A5)", "O = (A0+A1)*(A2+A3)*(A4+~A5)", "O = A0@A1@A2@A3@A4@A5",
                          "O = ~A0*~A1*A2 + A3*A4 + A5*A0*~A2"};
    UT_EQUATE e;
    int i = 0;
    for (auto _ : state) {
        char* out = nullptr;
        e.gen_hex(eqns[i++ & 3], lines, 6, out);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_SmallPool)->Arg(8)->Arg(32)->Arg(128)->Arg(256);
BENCHMARK(BM_Malloc)->Arg(8)->Arg(32)->Arg(128)->Arg(256);
BENCHMARK(BM_PmrPool)->Arg(8)->Arg(32)->Arg(128)->Arg(256);
BENCHMARK(BM_StrobjCreateCopyCompare);
BENCHMARK(BM_StdStringCreateCopyCompare);
BENCHMARK(BM_GenHexSixLines);

int main(int argc, char** argv) { return pooledBenchMain(argc, argv, {"QRN_SM_MEMPOOL_ON"}); }
