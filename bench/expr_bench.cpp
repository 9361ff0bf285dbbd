// expr_bench - evaluations per second of typical expressions (10 to 30 tokens,
// 3 to 5 variables) beside hand-written C++ computing the same values: the
// cost of scanning, parsing and looking variables up on every evaluation.
#include <UtilExpression.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

struct Case {
    const char* text;
    int64_t (*native)(int64_t a, int64_t b, int64_t c, int64_t d, int64_t e);
};

int64_t ipow(int64_t base, int64_t e) {
    int64_t r = 1;
    while (e-- > 0)
        r *= base;
    return r;
}

// 11, 17, 23 and 29 tokens.
const Case kInt[] = {
    {"(a + b) * c - 7", [](int64_t a, int64_t b, int64_t c, int64_t, int64_t) { return (a + b) * c - 7; }},
    {"a * b + c * d - (a - d) / 3",
     [](int64_t a, int64_t b, int64_t c, int64_t d, int64_t) { return a * b + c * d - (a - d) / 3; }},
    {"(a + 2) ^ 2 - b * (c + d) / (e + 1) + 100",
     [](int64_t a, int64_t b, int64_t c, int64_t d, int64_t e) {
         return ipow(a + 2, 2) - b * (c + d) / (e + 1) + 100;
     }},
    {"-a * (b - c) + (d * e - a) / (b + 1) - c * 3 + e ^ 2",
     [](int64_t a, int64_t b, int64_t c, int64_t d, int64_t e) {
         return -a * (b - c) + (d * e - a) / (b + 1) - c * 3 + ipow(e, 2);
     }},
};

const char* kBool[] = {
    "a * b + !c * d",
    "(a + b) * (c + !d) + !(e * a)",
    "a & b | c * !d + (e + a) * !b",
    "!(a * b) + (c * d + !e) * (a + !c) | b * d",
};
bool nativeBool(int which, bool a, bool b, bool c, bool d, bool e) {
    switch (which) {
    case 0:
        return (a && b) || (!c && d);
    case 1:
        return ((a || b) && (c || !d)) || !(e && a);
    case 2:
        return a && (b || ((c && !d) || ((e || a) && !b)));
    default:
        return !(a && b) || (((c && d) || !e) && ((a || !c) || (b && d)));
    }
}

std::vector<std::vector<int64_t>> inputs() {
    std::mt19937_64 rng(11);
    std::vector<std::vector<int64_t>> v(256, std::vector<int64_t>(5));
    for (auto& row : v)
        for (auto& x : row)
            x = static_cast<int64_t>(rng() % 200) - 50;
    for (auto& row : v)  // keep the divisors away from 0
        row[1] = row[1] < 0 ? row[1] - 2 : row[1] + 2, row[4] = row[4] < 0 ? row[4] - 2 : row[4];
    return v;
}

void BM_ExprInt(benchmark::State& state) {
    const Case& c = kInt[state.range(0)];
    const Util::Expression<int64_t> expr(c.text);
    const auto in = inputs();
    std::vector<Util::Expression<int64_t>::VarMap> maps;
    for (const auto& r : in)
        maps.push_back({{"a", r[0]}, {"b", r[1]}, {"c", r[2]}, {"d", r[3]}, {"e", r[4]}});
    for (size_t k = 0; k < in.size(); ++k)
        if (expr(&maps[k]) != c.native(in[k][0], in[k][1], in[k][2], in[k][3], in[k][4]))
            state.SkipWithError("the expression and the native code disagree");
    size_t i = 0;
    int64_t sum = 0;
    for (auto _ : state)
        sum += expr(&maps[i++ & 255]);
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}

void BM_NativeInt(benchmark::State& state) {
    const Case& c = kInt[state.range(0)];
    const auto in = inputs();
    size_t i = 0;
    int64_t sum = 0;
    for (auto _ : state) {
        const auto& r = in[i++ & 255];
        benchmark::DoNotOptimize(r.data());
        sum += c.native(r[0], r[1], r[2], r[3], r[4]);
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}

void BM_ExprBool(benchmark::State& state) {
    const Util::Expression<bool> expr(kBool[state.range(0)]);
    std::vector<Util::Expression<bool>::VarMap> maps;
    for (unsigned k = 0; k < 32; ++k)
        maps.push_back({{"a", k & 1}, {"b", k & 2}, {"c", k & 4}, {"d", k & 8}, {"e", k & 16}});
    for (unsigned k = 0; k < 32; ++k)
        if (expr(&maps[k]) != nativeBool(static_cast<int>(state.range(0)), k & 1, k & 2, k & 4, k & 8, k & 16))
            state.SkipWithError("the expression and the native code disagree");
    size_t i = 0, count = 0;
    for (auto _ : state)
        count += expr(&maps[i++ & 31]);
    benchmark::DoNotOptimize(count);
    state.SetItemsProcessed(state.iterations());
}

void BM_NativeBool(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    size_t i = 0, count = 0;
    for (auto _ : state) {
        unsigned k = static_cast<unsigned>(i++ & 31);
        benchmark::DoNotOptimize(k);
        count += nativeBool(which, k & 1, k & 2, k & 4, k & 8, k & 16);
    }
    benchmark::DoNotOptimize(count);
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_ExprInt)->DenseRange(0, 3);
BENCHMARK(BM_NativeInt)->DenseRange(0, 3);
BENCHMARK(BM_ExprBool)->DenseRange(0, 3);
BENCHMARK(BM_NativeBool)->DenseRange(0, 3);
BENCHMARK_MAIN();
