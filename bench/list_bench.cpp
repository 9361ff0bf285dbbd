// list_bench - sorting a UT_LIST against std::list::sort, and Gauss-Seidel
// sweeps of the sparse matrix on a 5-point Laplacian against the same sweep
// over compressed rows (CSR) in plain vectors.
#include <UtilList.h>
#include <UtilSpr.h>

#include <benchmark/benchmark.h>

#include <list>
#include <random>
#include <vector>

namespace {

class IntList : public UT_LIST {
public:
    int compdata(void* a, void* b) override {
        int x = *static_cast<int*>(a), y = *static_cast<int*>(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
};

std::vector<int> randomInts(size_t n) {
    std::vector<int> v(n);
    std::mt19937 rng(9);
    for (auto& x : v)
        x = static_cast<int>(rng());
    return v;
}

void BM_ListSort(benchmark::State& state) {
    auto values = randomInts(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        IntList l;
        for (auto& v : values)
            l.append(&v);
        state.ResumeTiming();
        l.sort();
        benchmark::DoNotOptimize(l.peeknext());
        state.PauseTiming();
        l.freelist();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_StdListSort(benchmark::State& state) {
    auto values = randomInts(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        std::list<int*> l;
        for (auto& v : values)
            l.push_back(&v);
        state.ResumeTiming();
        l.sort([](int* a, int* b) { return *a < *b; });
        benchmark::DoNotOptimize(l.front());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

constexpr int kGrid = 316;  // 316 x 316 = 99,856 unknowns

template <class Visit>
void laplacian(Visit visit) {
    for (int i = 0; i < kGrid; ++i)
        for (int j = 0; j < kGrid; ++j) {
            int r = i * kGrid + j;
            if (i > 0)
                visit(r, r - kGrid, -1.0);
            if (j > 0)
                visit(r, r - 1, -1.0);
            visit(r, r, 4.0);
            if (j + 1 < kGrid)
                visit(r, r + 1, -1.0);
            if (i + 1 < kGrid)
                visit(r, r + kGrid, -1.0);
        }
}

void BM_SparseSweep(benchmark::State& state) {
    const int n = kGrid * kGrid;
    UT_SPRMTX m(n, n);
    laplacian([&](int r, int c, double v) { m.insertelement(r, c, v); });
    std::vector<double> b(n, 1.0), x(n, 0.0);
    for (auto _ : state)
        m.solvegauss(b.data(), x.data(), 0.0, 1);  // one sweep
    state.SetItemsProcessed(state.iterations());
}

void BM_CsrSweep(benchmark::State& state) {
    const int n = kGrid * kGrid;
    std::vector<int> start{0}, col;
    std::vector<double> val;
    int row = 0;
    laplacian([&](int r, int c, double v) {
        while (row < r) {
            start.push_back(static_cast<int>(col.size()));
            ++row;
        }
        col.push_back(c);
        val.push_back(v);
    });
    start.push_back(static_cast<int>(col.size()));
    std::vector<double> b(n, 1.0), x(n, 0.0);
    for (auto _ : state) {
        for (int i = n - 1; i >= 0; --i) {
            double s = 0, d = 0;
            for (int k = start[i]; k < start[i + 1]; ++k) {
                s += x[col[k]] * val[k];
                if (col[k] == i)
                    d = val[k];
            }
            x[i] = (b[i] - (s - x[i] * d)) / d;
        }
        benchmark::DoNotOptimize(x.data());
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_ListSort)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdListSort)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SparseSweep)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsrSweep)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
