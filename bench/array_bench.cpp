// array_bench - UT_SORT::qsort, the arrays' own sort and its typed twin
// Util::quicksort against std::qsort and std::sort; sorted insertion and binary search against std::vector with
// std::lower_bound.
#include <UtilArray.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

enum Shape { RANDOM, SORTED, REVERSED, MANY_EQUAL };

std::vector<int> input(Shape shape, int n) {
    std::vector<int> v(static_cast<size_t>(n));
    std::mt19937 rng(1);
    for (int i = 0; i < n; ++i)
        v[i] = shape == RANDOM     ? static_cast<int>(rng())
               : shape == SORTED   ? i
               : shape == REVERSED ? n - i
                                   : static_cast<int>(rng() % 8);
    return v;
}

int cmpInt(const void* a, const void* b) {
    int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
    return (x > y) - (x < y);
}

template <class Sort>
void sortBench(benchmark::State& state, Sort sort) {
    const auto data = input(static_cast<Shape>(state.range(1)), static_cast<int>(state.range(0)));
    std::vector<int> v;
    for (auto _ : state) {
        state.PauseTiming();
        v = data;
        state.ResumeTiming();
        sort(v);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_UtSort(benchmark::State& state) {
    sortBench(state, [](std::vector<int>& v) {
        UT_SORT::qsort(reinterpret_cast<char*>(v.data()), static_cast<int>(v.size()), sizeof(int), cmpInt);
    });
}

void BM_StdQsort(benchmark::State& state) {
    sortBench(state, [](std::vector<int>& v) { std::qsort(v.data(), v.size(), sizeof(int), cmpInt); });
}

void BM_StdSort(benchmark::State& state) {
    sortBench(state, [](std::vector<int>& v) { std::sort(v.begin(), v.end()); });
}

// a_sort's comparisons with the comparison inline.
void BM_TypedQuicksort(benchmark::State& state) {
    sortBench(state, [](std::vector<int>& v) {
        Util::quicksort(v.begin(), v.end(), [](int x, int y) { return (x > y) - (x < y); });
    });
}

// The arrays' sort, reached as a caller's typed wrapper reaches it.
// The caller's variable is made before the array, which writes into it.
struct Slot {
    void* data = nullptr;
};
struct Ints : Slot, UT_DARRAY {
    Ints() : UT_DARRAY(&data, sizeof(int), 1024, 0) {}
    using UT_DARRAY::a_bsearch;
    using UT_DARRAY::a_sort;
    using UT_DARRAY::a_sortadd;
};

void BM_DarraySort(benchmark::State& state) {
    const auto data = input(static_cast<Shape>(state.range(1)), static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        Ints a;
        a.reserve(data.size());
        for (size_t i = 0; i < data.size(); ++i)
            *static_cast<int*>(a.getaddr(static_cast<int>(i))) = data[i];
        state.ResumeTiming();
        a.a_sort(cmpInt);
        benchmark::DoNotOptimize(a.data);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void shapes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"n", "shape"})->Unit(benchmark::kMicrosecond);
    for (int shape : {RANDOM, SORTED, REVERSED, MANY_EQUAL})
        for (int n : {1000, 100000, 1000000})
            b->Args({n, shape});
}

BENCHMARK(BM_UtSort)->Apply(shapes);
BENCHMARK(BM_StdQsort)->Apply(shapes);
BENCHMARK(BM_StdSort)->Apply(shapes);
BENCHMARK(BM_DarraySort)->Apply(shapes);
BENCHMARK(BM_TypedQuicksort)->Apply(shapes);

void BM_DarraySortaddSearch(benchmark::State& state) {
    const auto data = input(RANDOM, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Ints a;
        for (int x : data)
            a.a_sortadd(&x, cmpInt);
        int found = 0;
        for (int x : data)
            found += a.a_bsearch(&x, cmpInt) >= 0;
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_VectorLowerBound(benchmark::State& state) {
    const auto data = input(RANDOM, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::vector<int> v;
        for (int x : data)
            v.insert(std::lower_bound(v.begin(), v.end(), x), x);
        int found = 0;
        for (int x : data) {
            auto it = std::lower_bound(v.begin(), v.end(), x);
            found += it != v.end() && *it == x;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_DarraySortaddSearch)->Arg(1000)->Arg(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VectorLowerBound)->Arg(1000)->Arg(20000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
