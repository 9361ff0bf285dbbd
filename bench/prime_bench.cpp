// prime_bench - isPrime by both methods on random 32- and 64-bit numbers,
// and primeNumbersInRange over [1, 1e7] beside a plain sieve of Eratosthenes.
#include <UtilPrime.h>

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

std::vector<uint64_t> randoms(bool wide) {
    std::mt19937_64 rng(3);
    std::vector<uint64_t> v(1024);
    for (auto& x : v)
        x = (wide ? rng() : rng() & 0xFFFFFFFFu) | 1;
    return v;
}

void BM_IsPrime(benchmark::State& state) {
    Util::Prime p;
    p.checkPrimeBy(state.range(0) ? Util::Prime::Witness : Util::Prime::TrialDivision);
    p.setMaxTrialsForWitnessCheck(20);
    auto v = randoms(state.range(1) != 0);
    size_t i = 0, found = 0;
    for (auto _ : state)
        found += p.isPrime(v[i++ & 1023]);
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(state.iterations());
}

void BM_PrimesInRange(benchmark::State& state) {
    Util::Prime p;
    for (auto _ : state)
        benchmark::DoNotOptimize(p.primeNumbersInRange(1, 10000000).size());
}

void BM_Sieve(benchmark::State& state) {
    const size_t n = 10000000;
    for (auto _ : state) {
        std::vector<bool> composite(n + 1);
        std::vector<uint64_t> primes;
        for (size_t i = 2; i <= n; ++i) {
            if (composite[i])
                continue;
            primes.push_back(i);
            for (size_t j = i * i; j <= n; j += i)
                composite[j] = true;
        }
        benchmark::DoNotOptimize(primes.size());
    }
}

}  // namespace

// Arguments: method (0 trial division, 1 witness with 20 trials), width (0: 32-bit, 1: 64-bit).
BENCHMARK(BM_IsPrime)->Args({0, 0})->Args({1, 0})->Args({1, 1});
BENCHMARK(BM_PrimesInRange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sieve)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
