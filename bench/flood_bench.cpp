// flood_bench - the indexes under names and identities a hostile file could
// hold, against ordinary ones of the same length: a segmented file written,
// then loaded with every segment looked up; names added to the name cache;
// a name image read into it, then every name found. The crafted names share
// one value of the text hash the indexes used before it was keyed, the
// crafted identities the top bits of the pointer hash used before; the best
// an attacker without the process's key can do.
#include "../tests/Crafted.h"

#include <UtilCname.h>
#include <UtilIfile.h>
#include <UtilPtrfile.h>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kOrdinary = 0;
constexpr int kCrafted = 1;

std::string scratch(const char* what) { return "/tmp/flood_bench_" + std::to_string(getpid()) + "_" + what; }

// n names of 16 characters: crafted, or of the same shape (the crafted
// names' first eight characters, then eight letters of no design), so that
// the name tree beside the index sees the same orders in both cases.
const std::vector<std::string>& names(int kind, std::size_t n) {
    static std::map<std::pair<int, std::size_t>, std::vector<std::string>> made;
    auto& out = made[{kind, n}];
    if (out.empty()) {
        out = UtilTest::Crafted::formerTextCollisions(n);
        if (kind == kOrdinary) {
            std::mt19937 letters(5);
            for (auto& name : out)
                for (std::size_t c = 8; c < name.size(); ++c)
                    name[c] = static_cast<char>('a' + letters() % 26);
        }
    }
    return out;
}

// Identities 1 ... n as the writer numbers them, or n crafted ones sharing
// the top bits that placed them in an index of their number's size.
const std::vector<uint32_t>& identities(int kind, std::size_t n) {
    static std::map<std::pair<int, std::size_t>, std::vector<uint32_t>> made;
    auto& out = made[{kind, n}];
    if (out.empty()) {
        if (kind == kCrafted) {
            out = UtilTest::Crafted::formerIdentityCollisions(n, n <= 30000 ? 16 : 12);
        } else {
            for (std::size_t i = 1; i <= n; ++i)
                out.push_back(static_cast<uint32_t>(i));
        }
    }
    return out;
}

void writeFile(const std::vector<std::string>& segs, const std::string& path) {
    UT_IFILE file;
    file.create(path.c_str());
    for (const auto& n : segs) {
        file.putdataseg(n, 0, 0)->writeint32(1);
        file.enddataseg();
    }
    file.unload();
}

template <int Kind>
void BM_SegfileWrite(benchmark::State& state) {
    const auto& segs = names(Kind, static_cast<std::size_t>(state.range(0)));
    const std::string path = scratch("write");
    for (auto _ : state)
        writeFile(segs, path);
    std::remove(path.c_str());
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

template <int Kind>
void BM_SegfileLoadAndLookUp(benchmark::State& state) {
    const auto& segs = names(Kind, static_cast<std::size_t>(state.range(0)));
    const std::string path = scratch("load");
    writeFile(segs, path);
    for (auto _ : state) {
        UT_IFILE file;
        file.load(path.c_str());
        // Backwards: no look-up is served by trying the entry after the last.
        for (std::size_t i = segs.size(); i-- > 0;)
            benchmark::DoNotOptimize(file.getdataseg(segs[i], -1, nullptr));
        file.unload();
    }
    std::remove(path.c_str());
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

template <int Kind>
void BM_NameCacheAdd(benchmark::State& state) {
    const auto& texts = names(Kind, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        UT_NCH_CACHE cache;
        for (const auto& t : texts)
            cache.add(t.c_str(), 1);
        benchmark::DoNotOptimize(cache.get_count());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

// An image of n names read into a fresh cache, then every name found; the
// names and the identities each ordinary or crafted.
template <int Names, int Identities>
void BM_NameImageReadAndFind(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const auto& texts = names(Names, n);
    const auto& ids = identities(Identities, n);
    const std::string image = UtilTest::Crafted::nameImage(texts, ids, [](std::size_t) { return 1u; });
    const std::string path = scratch("image");
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(image.data(), 1, image.size(), f);
        std::fclose(f);
    }
    for (auto _ : state) {
        UT_PTRFILE in(Port::Stream::READ);
        in.open(path.c_str());
        UT_NCH_CACHE cache;
        cache.read(&in);
        for (const auto& t : texts)
            benchmark::DoNotOptimize(cache.find(t.c_str()));
    }
    std::remove(path.c_str());
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

}  // namespace

// A segmented file holds at most 32,760 segments: its cases stop at 30,000.
#define SEGFILE_SIZES ->Arg(30000)->Unit(benchmark::kMillisecond)
#define CACHE_SIZES ->Arg(30000)->Arg(300000)->Unit(benchmark::kMillisecond)
BENCHMARK_TEMPLATE(BM_SegfileWrite, kOrdinary) SEGFILE_SIZES;
BENCHMARK_TEMPLATE(BM_SegfileWrite, kCrafted) SEGFILE_SIZES;
BENCHMARK_TEMPLATE(BM_SegfileLoadAndLookUp, kOrdinary) SEGFILE_SIZES;
BENCHMARK_TEMPLATE(BM_SegfileLoadAndLookUp, kCrafted) SEGFILE_SIZES;
BENCHMARK_TEMPLATE(BM_NameCacheAdd, kOrdinary) CACHE_SIZES;
BENCHMARK_TEMPLATE(BM_NameCacheAdd, kCrafted) CACHE_SIZES;
BENCHMARK_TEMPLATE(BM_NameImageReadAndFind, kOrdinary, kOrdinary) CACHE_SIZES;
BENCHMARK_TEMPLATE(BM_NameImageReadAndFind, kCrafted, kOrdinary) CACHE_SIZES;
BENCHMARK_TEMPLATE(BM_NameImageReadAndFind, kOrdinary, kCrafted) CACHE_SIZES;
BENCHMARK_TEMPLATE(BM_NameImageReadAndFind, kCrafted, kCrafted) CACHE_SIZES;

BENCHMARK_MAIN();
