// bitvec_bench - UT_BITVEC counting and searching against loops over
// std::vector<bool> and std::bitset.
#include <UtilBitvec.h>

#include <benchmark/benchmark.h>

#include <bitset>
#include <random>
#include <vector>

namespace {

constexpr unsigned kBits = 1 << 16;

template <class Set>
void fill(Set&& set) {
    std::mt19937 rng(3);
    for (unsigned i = 0; i < kBits; ++i)
        if (rng() % 64 == 0)
            set(i);
}

void BM_BitvecCount(benchmark::State& state) {
    UT_BITVEC v(kBits);
    fill([&](unsigned i) { v.set(i); });
    for (auto _ : state)
        benchmark::DoNotOptimize(v.count_set_bits());
}

void BM_VectorBoolCount(benchmark::State& state) {
    std::vector<bool> v(kBits);
    fill([&](unsigned i) { v[i] = true; });
    for (auto _ : state) {
        int n = 0;
        for (bool b : v)
            n += b;
        benchmark::DoNotOptimize(n);
    }
}

void BM_BitsetCount(benchmark::State& state) {
    std::bitset<kBits> v;
    fill([&](unsigned i) { v.set(i); });
    for (auto _ : state)
        benchmark::DoNotOptimize(v.count());
}

// Visit every set bit in order.
void BM_BitvecFindNext(benchmark::State& state) {
    UT_BITVEC v(kBits);
    fill([&](unsigned i) { v.set(i); });
    for (auto _ : state) {
        long sum = 0;
        for (int i = v.find_next_set_bit(0); i >= 0; i = v.find_next_set_bit(static_cast<unsigned>(i) + 1))
            sum += i;
        benchmark::DoNotOptimize(sum);
    }
}

void BM_VectorBoolFindNext(benchmark::State& state) {
    std::vector<bool> v(kBits);
    fill([&](unsigned i) { v[i] = true; });
    for (auto _ : state) {
        long sum = 0;
        for (unsigned i = 0; i < kBits; ++i)
            if (v[i])
                sum += i;
        benchmark::DoNotOptimize(sum);
    }
}

void BM_BitsetFindNext(benchmark::State& state) {
    std::bitset<kBits> v;
    fill([&](unsigned i) { v.set(i); });
    for (auto _ : state) {
        long sum = 0;
        for (size_t i = v._Find_first(); i < kBits; i = v._Find_next(i))
            sum += static_cast<long>(i);
        benchmark::DoNotOptimize(sum);
    }
}

void BM_BitvecSet(benchmark::State& state) {
    for (auto _ : state) {
        UT_BITVEC v(kBits);
        for (unsigned i = 0; i < kBits; i += 3)
            v.set(i);
        benchmark::DoNotOptimize(v.size());
        benchmark::ClobberMemory();
    }
}

void BM_VectorBoolSet(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<bool> v(kBits);
        for (unsigned i = 0; i < kBits; i += 3)
            v[i] = true;
        benchmark::DoNotOptimize(v.size());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_BitvecCount);
BENCHMARK(BM_VectorBoolCount);
BENCHMARK(BM_BitsetCount);
BENCHMARK(BM_BitvecFindNext);
BENCHMARK(BM_VectorBoolFindNext);
BENCHMARK(BM_BitsetFindNext);
BENCHMARK(BM_BitvecSet);
BENCHMARK(BM_VectorBoolSet);

}  // namespace

BENCHMARK_MAIN();
