// names_bench - interning design names (with repeats) in the two name caches
// against std::unordered_set<std::string> and std::set<std::string>, with
// heap bytes per distinct name; saving and restoring an image through a
// UT_PTRFILE against plain fwrite/fread of the same texts.
#include <UtilCname.h>
#include <UtilNameCache.h>
#include <UtilPtrfile.h>

#include "PooledMain.h"

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#ifdef UTIL_BENCH_ABSL
#include <absl/container/flat_hash_set.h>
#endif

namespace {

constexpr int kRepeats = 3;  // each distinct name is interned this often

// Hierarchical net and instance names, 6 to 40 characters.
std::vector<std::string> distinctNames(size_t n) {
    std::vector<std::string> out;
    out.reserve(n);
    std::mt19937 rng(7);
    char text[96];
    for (size_t i = 0; i < n; ++i) {
        switch (rng() % 3) {
        case 0:
            std::snprintf(text, sizeof text, "n%zu", i);
            break;
        case 1:
            std::snprintf(text, sizeof text, "u_core/u_alu%u/sum_%zu", unsigned(rng() % 16), i);
            break;
        default:
            std::snprintf(text, sizeof text, "top/u_blk%u/u_sub%u/reg_q[%zu]", unsigned(rng() % 64),
                          unsigned(rng() % 8), i);
        }
        out.emplace_back(text);
    }
    return out;
}

std::vector<const char*> internOrder(const std::vector<std::string>& names) {
    std::vector<const char*> order;
    for (int r = 0; r < kRepeats; ++r)
        for (const auto& s : names)
            order.push_back(s.c_str());
    std::shuffle(order.begin(), order.end(), std::mt19937(11));
    return order;
}

size_t heapInUse() {
    struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
}

// Adds the texts of `order` to a new Container each iteration, with the heap
// it takes per distinct name.
template <class Container, class Add>
void fillBench(benchmark::State& state, const std::vector<const char*>& order, size_t distinct, Add add) {
    double bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        size_t before = heapInUse();
        auto* c = new Container();
        state.ResumeTiming();
        for (const char* t : order)
            add(*c, t);
        state.PauseTiming();
        bytes = double(heapInUse() - before) / double(distinct);
        delete c;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(order.size()));
    state.counters["bytes_per_name"] = bytes;
}

template <class Container, class Add>
void internBench(benchmark::State& state, Add add) {
    auto names = distinctNames(static_cast<size_t>(state.range(0)));
    fillBench<Container>(state, internOrder(names), names.size(), add);
}

void BM_InternCname(benchmark::State& state) {
    internBench<UT_NCH_CACHE>(state, [](UT_NCH_CACHE& c, const char* t) { c.add(t, 1); });
}
void BM_InternNameCache(benchmark::State& state) {
    internBench<Util::NameCache::Cache>(state, [](Util::NameCache::Cache& c, const char* t) { c.add(t, 1); });
}
void BM_InternUnorderedSet(benchmark::State& state) {
    internBench<std::unordered_set<std::string>>(state, [](auto& c, const char* t) { c.emplace(t); });
}
void BM_InternSet(benchmark::State& state) {
    internBench<std::set<std::string>>(state, [](auto& c, const char* t) { c.emplace(t); });
}
#ifdef UTIL_BENCH_ABSL
void BM_InternAbslFlatSet(benchmark::State& state) {
    internBench<absl::flat_hash_set<std::string>>(state, [](auto& c, const char* t) { c.emplace(t); });
}
#endif

// n new hierarchical names of about 25 characters (top/u_core3/blk_117/n123456),
// each added once, in shuffled order: the cost of interning as a design grows.
std::vector<std::string> hierarchicalNames(size_t n) {
    std::vector<std::string> out;
    out.reserve(n);
    char text[64];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(text, sizeof text, "top/u_core%zu/blk_%zu/n%zu", i % 8, (i / 8) % 1000, i);
        out.emplace_back(text);
    }
    std::shuffle(out.begin(), out.end(), std::mt19937(13));
    return out;
}

template <class Container, class Add>
void addNewBench(benchmark::State& state, Add add) {
    const auto names = hierarchicalNames(static_cast<size_t>(state.range(0)));
    std::vector<const char*> order;
    for (const auto& t : names)
        order.push_back(t.c_str());
    fillBench<Container>(state, order, names.size(), add);
}

void BM_AddNewCname(benchmark::State& state) {
    addNewBench<UT_NCH_CACHE>(state, [](UT_NCH_CACHE& c, const char* t) { c.add(t, 1); });
}
void BM_AddNewUnorderedSet(benchmark::State& state) {
    addNewBench<std::unordered_set<std::string>>(state, [](auto& c, const char* t) { c.emplace(t); });
}

// Finding names already there, in shuffled order, in a container filled
// beforehand (the cache's add of an existing name takes the same path).
template <class Container, class Add, class Find>
void findBench(benchmark::State& state, Add add, Find find) {
    auto names = distinctNames(static_cast<size_t>(state.range(0)));
    auto order = internOrder(names);
    Container c;
    for (const auto& s : names)
        add(c, s.c_str());
    for (auto _ : state)
        for (const char* t : order)
            benchmark::DoNotOptimize(find(c, t));
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(order.size()));
}

void BM_FindCname(benchmark::State& state) {
    findBench<UT_NCH_CACHE>(
        state, [](UT_NCH_CACHE& c, const char* t) { c.add(t, 1); },
        [](UT_NCH_CACHE& c, const char* t) { return c.find(t); });
}
void BM_FindUnorderedSet(benchmark::State& state) {
    findBench<std::unordered_set<std::string>>(
        state, [](auto& c, const char* t) { c.emplace(t); },
        [](auto& c, const char* t) { return c.find(t) != c.end(); });
}
#ifdef UTIL_BENCH_ABSL
void BM_FindAbslFlatSet(benchmark::State& state) {
    findBench<absl::flat_hash_set<std::string>>(
        state, [](auto& c, const char* t) { c.emplace(t); },
        [](auto& c, const char* t) { return c.find(t) != c.end(); });
}
#endif

std::string scratch(const char* what) { return "/tmp/names_bench_" + std::to_string(getpid()) + "_" + what; }

UT_NCH_CACHE& savedCache(size_t n) {
    static UT_NCH_CACHE cache;
    if (cache.get_count() != n) {
        cache.flush();
        for (const auto& s : distinctNames(n))
            cache.add(s.c_str(), 1);
    }
    return cache;
}

long long saveImage(const UT_NCH_CACHE& cache, const std::string& path) {
    UT_PTRFILE out(Port::Stream::WRITE);
    out.open(path.c_str());
    cache.write(&out, 0);
    long long bytes = out.getfoffset();
    out.close();
    return bytes;
}

void BM_ImageSave(benchmark::State& state) {
    const UT_NCH_CACHE& cache = savedCache(static_cast<size_t>(state.range(0)));
    std::string path = scratch("save");
    long long bytes = 0;
    for (auto _ : state)
        bytes = saveImage(cache, path);
    std::remove(path.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

// Reading into a fresh cache, which is built as the image is read.
void BM_ImageRestore(benchmark::State& state) {
    std::string path = scratch("restore");
    long long bytes = saveImage(savedCache(static_cast<size_t>(state.range(0))), path);
    for (auto _ : state) {
        UT_PTRFILE in(Port::Stream::READ);
        in.open(path.c_str());
        UT_NCH_CACHE restored;
        restored.read(&in);
        benchmark::DoNotOptimize(restored.get_count());
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

// The same texts with a length before each, written with fwrite ...
long long plainWrite(const std::vector<std::string>& names, const std::string& path) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    for (const auto& s : names) {
        uint32_t rec[3] = {1, 1, uint32_t(s.size())};
        std::fwrite(rec, sizeof rec, 1, out);
        std::fwrite(s.data(), 1, s.size(), out);
    }
    long long bytes = std::ftell(out);
    std::fclose(out);
    return bytes;
}

void BM_PlainFwrite(benchmark::State& state) {
    auto names = distinctNames(static_cast<size_t>(state.range(0)));
    std::string path = scratch("fwrite");
    long long bytes = 0;
    for (auto _ : state)
        bytes = plainWrite(names, path);
    std::remove(path.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

// ... and read back with fread into strings.
void BM_PlainFread(benchmark::State& state) {
    auto names = distinctNames(static_cast<size_t>(state.range(0)));
    std::string path = scratch("fread");
    long long bytes = plainWrite(names, path);
    for (auto _ : state) {
        std::FILE* in = std::fopen(path.c_str(), "rb");
        std::vector<std::string> back;
        back.reserve(names.size());
        uint32_t rec[3];
        char buf[256];
        while (std::fread(rec, sizeof rec, 1, in) == 1 && rec[2] < sizeof buf &&
               std::fread(buf, 1, rec[2], in) == rec[2])
            back.emplace_back(buf, rec[2]);
        std::fclose(in);
        benchmark::DoNotOptimize(back.size());
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

}  // namespace

#define SIZES ->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_InternCname) SIZES;
BENCHMARK(BM_InternNameCache) SIZES;
BENCHMARK(BM_InternUnorderedSet) SIZES;
BENCHMARK(BM_InternSet) SIZES;
BENCHMARK(BM_FindCname) SIZES;
BENCHMARK(BM_FindUnorderedSet) SIZES;
#ifdef UTIL_BENCH_ABSL
BENCHMARK(BM_InternAbslFlatSet) SIZES;
BENCHMARK(BM_FindAbslFlatSet) SIZES;
#endif
#define SCALE ->Arg(10000)->Arg(100000)->Arg(1000000)->Arg(4000000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_AddNewCname) SCALE;
BENCHMARK(BM_AddNewUnorderedSet) SCALE;
BENCHMARK(BM_ImageSave)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFwrite)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageRestore)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFread)->Arg(1000000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return pooledBenchMain(argc, argv, {"QRN_MEMPOOL_ON"}); }
