// blist_bench - block lists against std::vector<uint32_t> and std::deque:
// append n elements, iterate them, remove every other one.
#include <UtilBlist.h>

#include "PooledMain.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <vector>

namespace {

void* ptr(uintptr_t i) { return reinterpret_cast<void*>(i * 8 + 8); }

// ptr(0) .. ptr(n - 1), appended in order.
void fill(UT_BLIST& list, uintptr_t n) {
    for (uintptr_t i = 0; i < n; ++i)
        list.l_append(ptr(i));
}

// The sum of the elements, walked with an iterator.
uintptr_t sumOf(UT_BLIST& list) {
    UT_BLIST_ITER it(&list);
    uintptr_t sum = 0;
    while (void* p = it.l_next())
        sum += reinterpret_cast<uintptr_t>(p);
    return sum;
}

void fill(std::deque<void*>& c, uintptr_t n) {
    for (uintptr_t i = 0; i < n; ++i)
        c.push_back(ptr(i));
}

void BM_BlistAppendIterate(benchmark::State& state) {
    const uintptr_t n = static_cast<uintptr_t>(state.range(0));
    for (auto _ : state) {
        UT_BLIST list(255);
        fill(list, n);
        benchmark::DoNotOptimize(sumOf(list));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <class Container>
void BM_StdAppendIterate(benchmark::State& state) {
    const uint32_t n = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        Container c;
        for (uint32_t i = 0; i < n; ++i)
            c.push_back(i);
        uint64_t sum = 0;
        for (auto v : c)
            sum += v;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Appending alone, and iterating alone, each beside std::deque of the same
// pointers.
void BM_BlistAppend(benchmark::State& state) {
    const uintptr_t n = static_cast<uintptr_t>(state.range(0));
    for (auto _ : state) {
        UT_BLIST list(255);
        fill(list, n);
        benchmark::DoNotOptimize(list.get_count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_DequeAppend(benchmark::State& state) {
    const uintptr_t n = static_cast<uintptr_t>(state.range(0));
    for (auto _ : state) {
        std::deque<void*> c;
        fill(c, n);
        benchmark::DoNotOptimize(c.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_BlistIterate(benchmark::State& state) {
    const uintptr_t n = static_cast<uintptr_t>(state.range(0));
    UT_BLIST list(255);
    fill(list, n);
    for (auto _ : state) {
        benchmark::DoNotOptimize(sumOf(list));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_DequeIterate(benchmark::State& state) {
    const uintptr_t n = static_cast<uintptr_t>(state.range(0));
    std::deque<void*> c;
    fill(c, n);
    for (auto _ : state) {
        uintptr_t sum = 0;
        for (void* p : c)
            sum += reinterpret_cast<uintptr_t>(p);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Removal is a scan from the front in both: the list leaves a hole, the
// containers erase.
void BM_BlistRemove(benchmark::State& state) {
    const uintptr_t n = static_cast<uintptr_t>(state.range(0));
    for (auto _ : state) {
        UT_BLIST list(255);
        fill(list, n);
        for (uintptr_t i = 0; i < n; i += 2)
            list.l_remove(ptr(i));
        benchmark::DoNotOptimize(list.get_count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <class Container>
void BM_StdRemove(benchmark::State& state) {
    const uint32_t n = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        Container c;
        for (uint32_t i = 0; i < n; ++i)
            c.push_back(i);
        for (uint32_t i = 0; i < n; i += 2)
            c.erase(std::find(c.begin(), c.end(), i));
        benchmark::DoNotOptimize(c.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_BlistAppendIterate)->Arg(1000)->Arg(100000);
BENCHMARK(BM_StdAppendIterate<std::vector<uint32_t>>)->Arg(1000)->Arg(100000);
BENCHMARK(BM_StdAppendIterate<std::deque<uint32_t>>)->Arg(1000)->Arg(100000);
BENCHMARK(BM_BlistAppend)->Arg(1000)->Arg(100000)->Arg(1000000)->Arg(4000000);
BENCHMARK(BM_DequeAppend)->Arg(1000)->Arg(100000)->Arg(1000000)->Arg(4000000);
BENCHMARK(BM_BlistIterate)->Arg(1000)->Arg(100000)->Arg(1000000)->Arg(4000000);
BENCHMARK(BM_DequeIterate)->Arg(1000)->Arg(100000)->Arg(1000000)->Arg(4000000);
BENCHMARK(BM_BlistRemove)->Arg(1000)->Arg(10000);
BENCHMARK(BM_StdRemove<std::vector<uint32_t>>)->Arg(1000)->Arg(10000);
BENCHMARK(BM_StdRemove<std::deque<uint32_t>>)->Arg(1000)->Arg(10000);

}  // namespace

int main(int argc, char** argv) { return pooledBenchMain(argc, argv, {"QRN_MEMPOOL_ON"}); }
