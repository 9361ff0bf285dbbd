// store_bench - the tree against std::map<std::string, void*> (and
// absl::btree_map) and the hash table against std::unordered_map<std::string,
// void*> (and absl::flat_hash_map): insert, find, remove of n string keys.
#include <UtilBtree.h>
#include <UtilHash.h>

#include "PooledMain.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#ifdef UTIL_BENCH_ABSL
#include <absl/container/btree_map.h>
#include <absl/container/flat_hash_map.h>
#endif

namespace {

// Entries hold their own key text, as the library's users store them.
std::vector<std::string> makeKeys(size_t n) {
    std::vector<std::string> keys(n);
    std::mt19937 rng(1);
    for (auto& k : keys)
        k = "net_" + std::to_string(rng()) + "_" + std::to_string(rng() % 1000);
    return keys;
}

int cmpText(void* data, const char* key) { return std::strcmp(key, static_cast<const char*>(data)); }

class TextHash : public UT_HASH {
public:
    explicit TextHash(unsigned n) : UT_HASH(n, 0) {}
    // The hash of std::unordered_map, so that both tables hash alike.
    unsigned hash_func(void* key) override {
        return static_cast<unsigned>(std::hash<std::string_view>()(static_cast<const char*>(key)));
    }
    int comp_func(void* key, void* value) override {
        return std::strcmp(static_cast<char*>(key), static_cast<char*>(value));
    }
};

void BM_TreeInsert(benchmark::State& state) {
    auto keys = makeKeys(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        UT_BTR_TREE tree(cmpText);
        for (auto& k : keys)
            *tree.add(k.c_str()) = k.data();
        benchmark::DoNotOptimize(tree.get_count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <class Map>
void BM_MapInsert(benchmark::State& state) {
    auto keys = makeKeys(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        Map map;
        for (auto& k : keys)
            map.emplace(k, k.data());
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <class Find>
void findBench(benchmark::State& state, const std::vector<std::string>& keys, Find find) {
    std::vector<std::string> order = keys;
    std::shuffle(order.begin(), order.end(), std::mt19937(2));
    for (auto _ : state) {
        size_t hits = 0;
        for (auto& k : order)
            hits += find(k) != nullptr;
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()));
}

void BM_TreeFind(benchmark::State& state) {
    auto keys = makeKeys(static_cast<size_t>(state.range(0)));
    UT_BTR_TREE tree(cmpText);
    for (auto& k : keys)
        *tree.add(k.c_str()) = k.data();
    findBench(state, keys, [&](const std::string& k) { return tree.find(k.c_str()); });
}

template <class Map>
void BM_MapFind(benchmark::State& state) {
    auto keys = makeKeys(static_cast<size_t>(state.range(0)));
    Map map;
    for (auto& k : keys)
        map.emplace(k, k.data());
    findBench(state, keys, [&](const std::string& k) -> const void* {
        auto it = map.find(k);
        return it == map.end() ? nullptr : &it->second;
    });
}

void BM_HashFind(benchmark::State& state) {
    auto keys = makeKeys(static_cast<size_t>(state.range(0)));
    TextHash table(static_cast<unsigned>(keys.size()));
    for (auto& k : keys)
        table.add(k.data(), k.data());
    findBench(state, keys, [&](const std::string& k) { return table.s_find(const_cast<char*>(k.c_str())); });
}

template <class Map>
void BM_UnorderedMapFind(benchmark::State& state) {
    auto keys = makeKeys(static_cast<size_t>(state.range(0)));
    Map map;
    map.reserve(keys.size());
    for (auto& k : keys)
        map.emplace(k, k.data());
    findBench(state, keys, [&](const std::string& k) -> const void* {
        auto it = map.find(k);
        return it == map.end() ? nullptr : &it->second;
    });
}

void BM_TreeRemove(benchmark::State& state) {
    auto keys = makeKeys(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        UT_BTR_TREE tree(cmpText);
        for (auto& k : keys)
            *tree.add(k.c_str()) = k.data();
        state.ResumeTiming();
        for (auto& k : keys)
            tree.remove(k.c_str());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <class Map>
void BM_MapRemove(benchmark::State& state) {
    auto keys = makeKeys(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        Map map;
        for (auto& k : keys)
            map.emplace(k, k.data());
        state.ResumeTiming();
        for (auto& k : keys)
            map.erase(k);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

#define SIZES ->Arg(10000)->Arg(100000)->Arg(1000000)->Arg(4000000)->Unit(benchmark::kMillisecond)
using StdMap = std::map<std::string, void*>;
using StdHash = std::unordered_map<std::string, void*>;
BENCHMARK(BM_TreeInsert) SIZES;
BENCHMARK(BM_MapInsert<StdMap>)->Name("BM_MapInsert") SIZES;
BENCHMARK(BM_TreeFind) SIZES;
BENCHMARK(BM_MapFind<StdMap>)->Name("BM_MapFind") SIZES;
BENCHMARK(BM_TreeRemove) SIZES;
BENCHMARK(BM_MapRemove<StdMap>)->Name("BM_MapRemove") SIZES;
BENCHMARK(BM_HashFind) SIZES;
BENCHMARK(BM_UnorderedMapFind<StdHash>)->Name("BM_UnorderedMapFind") SIZES;
#ifdef UTIL_BENCH_ABSL
using AbslMap = absl::btree_map<std::string, void*>;
using AbslHash = absl::flat_hash_map<std::string, void*>;
BENCHMARK(BM_MapInsert<AbslMap>)->Name("BM_AbslBtreeInsert") SIZES;
BENCHMARK(BM_MapFind<AbslMap>)->Name("BM_AbslBtreeFind") SIZES;
BENCHMARK(BM_MapRemove<AbslMap>)->Name("BM_AbslBtreeRemove") SIZES;
BENCHMARK(BM_UnorderedMapFind<AbslHash>)->Name("BM_AbslFlatHashFind") SIZES;
#endif

}  // namespace

int main(int argc, char** argv) { return pooledBenchMain(argc, argv, {"QRN_MEMPOOL_ON"}); }
