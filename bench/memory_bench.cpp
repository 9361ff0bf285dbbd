// memory_bench - heap bytes per element (glibc's mallinfo2, so allocator
// headers and rounding count) of the library's pools, block lists, tree, hash
// table, name cache and string objects beside their standard-library
// counterparts and, where installed, absl and boost. Each benchmark builds
// its container once; the figure is the counter bytes_per_element. Keys and
// texts are made before measuring and are not counted, except where the
// container copies them (name caches, string objects).
#include <UtilBlist.h>
#include <UtilBtree.h>
#include <UtilCname.h>
#include <UtilFstmem.h>
#include <UtilHash.h>
#include <UtilSmem.h>
#include <UtilStrobj.h>

#include "PooledMain.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <memory_resource>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#ifdef UTIL_BENCH_ABSL
#include <absl/container/btree_set.h>
#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>
#endif
#ifdef UTIL_BENCH_BOOST
#include <boost/pool/pool.hpp>
#endif

namespace {

constexpr size_t kElemSize = 24;
constexpr unsigned kPerBlock = 1000;
constexpr unsigned short kBlistSlots = 256;

size_t heapInUse() {
    struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
}

// Heap growth since it was made (or restarted).
class Meter {
public:
    void restart() { start_ = heapInUse(); }
    size_t used() const { return heapInUse() - start_; }

private:
    size_t start_ = heapInUse();
};

// Runs `build(n)` once per iteration; it builds n elements and returns the
// heap they take (a Meter's reading taken before anything is freed).
template <class Build>
void measure(benchmark::State& state, Build build) {
    const auto n = static_cast<size_t>(state.range(0));
    double bytes = 0;
    for (auto _ : state)
        bytes = double(build(n)) / double(n);
    state.counters["bytes_per_element"] = bytes;
}

// Hierarchical design names, 20 to 40 characters: longer than std::string's
// inline buffer, as most such names are.
const std::vector<std::string>& texts(size_t n) {
    static std::vector<std::string> made;
    if (made.size() != n) {
        made.clear();
        std::mt19937 rng(5);
        for (size_t i = 0; i < n; ++i)
            made.push_back("top/u_core_" + std::to_string(i) + "/net_" + std::to_string(rng() % 100000000));
    }
    return made;
}

struct TextLess {
    bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};
struct TextHash {
    size_t operator()(const char* s) const { return std::hash<std::string_view>()(s); }
};
struct TextEq {
    bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) == 0; }
};

int cmpText(void* data, const char* key) { return std::strcmp(key, static_cast<const char*>(data)); }

class Hash : public UT_HASH {
public:
    explicit Hash(unsigned n) : UT_HASH(n, 0) {}
    unsigned hash_func(void* key) override { return static_cast<unsigned>(TextHash()(static_cast<char*>(key))); }
    int comp_func(void* key, void* value) override {
        return std::strcmp(static_cast<char*>(key), static_cast<char*>(value));
    }
};

// Pools of 24-byte elements.
void BM_MemFastmem(benchmark::State& state) {
    measure(state, [](size_t n) {
        Meter m;
        auto pool = std::make_unique<UT_FASTMEM>(kElemSize, kPerBlock, "memory");
        for (size_t i = 0; i < n; ++i)
            benchmark::DoNotOptimize(pool->getnewptr());
        return m.used();
    });
}
void BM_MemSmallmem(benchmark::State& state) {
    measure(state, [](size_t n) {
        Meter m;
        auto pool = std::make_unique<UT_SM_SMALLMEM>(int(kElemSize), "memory", -1);
        for (size_t i = 0; i < n; ++i)
            benchmark::DoNotOptimize(pool->getmem());
        return m.used();
    });
}
void BM_MemMalloc(benchmark::State& state) {
    measure(state, [](size_t n) {
        std::vector<void*> held;
        held.reserve(n);
        Meter m;  // after the list of pointers, which is not the cost
        for (size_t i = 0; i < n; ++i)
            held.push_back(std::malloc(kElemSize));
        const size_t used = m.used();
        for (void* p : held)
            std::free(p);
        return used;
    });
}
void BM_MemPmrPool(benchmark::State& state) {
    measure(state, [](size_t n) {
        Meter m;
        auto pool = std::make_unique<std::pmr::unsynchronized_pool_resource>();
        for (size_t i = 0; i < n; ++i)
            benchmark::DoNotOptimize(pool->allocate(kElemSize));
        return m.used();
    });
}
#ifdef UTIL_BENCH_BOOST
void BM_MemBoostPool(benchmark::State& state) {
    measure(state, [](size_t n) {
        Meter m;
        auto pool = std::make_unique<boost::pool<>>(kElemSize, kPerBlock);
        for (size_t i = 0; i < n; ++i)
            benchmark::DoNotOptimize(pool->malloc());
        return m.used();
    });
}
#endif

// Lists of pointers.
void BM_MemBlist(benchmark::State& state) {
    const auto& t = texts(size_t(state.range(0)));
    measure(state, [&](size_t n) {
        Meter m;
        auto list = std::make_unique<UT_BLIST>(kBlistSlots);
        for (size_t i = 0; i < n; ++i)
            list->l_append(const_cast<char*>(t[i].c_str()));
        return m.used();
    });
}
template <class Seq>
void BM_MemSeq(benchmark::State& state) {
    const auto& t = texts(size_t(state.range(0)));
    measure(state, [&](size_t n) {
        Meter m;
        auto seq = std::make_unique<Seq>();
        for (size_t i = 0; i < n; ++i)
            seq->push_back(const_cast<char*>(t[i].c_str()));
        return m.used();
    });
}

// Ordered stores of one pointer per element (the key text lives elsewhere).
void BM_MemTree(benchmark::State& state) {
    const auto& t = texts(size_t(state.range(0)));
    measure(state, [&](size_t n) {
        Meter m;
        auto tree = std::make_unique<UT_BTR_TREE>(cmpText);
        for (size_t i = 0; i < n; ++i)
            *tree->add(t[i].c_str()) = const_cast<char*>(t[i].c_str());
        return m.used();
    });
}
template <class Set>
void BM_MemOrderedSet(benchmark::State& state) {
    const auto& t = texts(size_t(state.range(0)));
    measure(state, [&](size_t n) {
        Meter m;
        auto set = std::make_unique<Set>();
        for (size_t i = 0; i < n; ++i)
            set->insert(t[i].c_str());
        return m.used();
    });
}

// Hashed key -> value pointers.
void BM_MemHash(benchmark::State& state) {
    const auto& t = texts(size_t(state.range(0)));
    measure(state, [&](size_t n) {
        Meter m;
        auto table = std::make_unique<Hash>(unsigned(n));
        for (size_t i = 0; i < n; ++i)
            table->add(const_cast<char*>(t[i].c_str()), const_cast<char*>(t[i].c_str()));
        return m.used();
    });
}
template <class Map>
void BM_MemHashMap(benchmark::State& state) {
    const auto& t = texts(size_t(state.range(0)));
    measure(state, [&](size_t n) {
        Meter m;
        auto map = std::make_unique<Map>();
        map->reserve(n);
        for (size_t i = 0; i < n; ++i)
            map->emplace(t[i].c_str(), const_cast<char*>(t[i].c_str()));
        return m.used();
    });
}

// Interned names: each container keeps its own copy of the text.
void BM_MemNameCache(benchmark::State& state) {
    const auto& t = texts(size_t(state.range(0)));
    measure(state, [&](size_t n) {
        Meter m;
        auto cache = std::make_unique<UT_NCH_CACHE>();
        for (size_t i = 0; i < n; ++i)
            cache->add(t[i].c_str(), 1);
        return m.used();
    });
}
template <class Set>
void BM_MemStringSet(benchmark::State& state) {
    const auto& t = texts(size_t(state.range(0)));
    measure(state, [&](size_t n) {
        Meter m;
        auto set = std::make_unique<Set>();
        for (size_t i = 0; i < n; ++i)
            set->emplace(t[i]);
        return m.used();
    });
}

// String objects made on the heap, each with a copy of its text.
void BM_MemStrobj(benchmark::State& state) {
    const auto& t = texts(size_t(state.range(0)));
    measure(state, [&](size_t n) {
        std::vector<std::unique_ptr<UT_STROBJ>> held(n);
        Meter m;
        for (size_t i = 0; i < n; ++i)
            held[i].reset(new UT_STROBJ(t[i].c_str()));
        return m.used();
    });
}
void BM_MemStdString(benchmark::State& state) {
    const auto& t = texts(size_t(state.range(0)));
    measure(state, [&](size_t n) {
        std::vector<std::unique_ptr<std::string>> held(n);
        Meter m;
        for (size_t i = 0; i < n; ++i)
            held[i] = std::make_unique<std::string>(t[i]);
        return m.used();
    });
}

}  // namespace

#define MEMORY(...) BENCHMARK(__VA_ARGS__)->Arg(100000)->Iterations(1)
MEMORY(BM_MemFastmem);
MEMORY(BM_MemSmallmem);
MEMORY(BM_MemMalloc);
MEMORY(BM_MemPmrPool);
MEMORY(BM_MemBlist);
MEMORY(BM_MemSeq<std::vector<void*>>)->Name("BM_MemVector");
MEMORY(BM_MemSeq<std::deque<void*>>)->Name("BM_MemDeque");
MEMORY(BM_MemTree);
MEMORY(BM_MemOrderedSet<std::set<const char*, TextLess>>)->Name("BM_MemStdSet");
MEMORY(BM_MemHash);
MEMORY(BM_MemHashMap<std::unordered_map<const char*, void*, TextHash, TextEq>>)->Name("BM_MemUnorderedMap");
MEMORY(BM_MemNameCache);
MEMORY(BM_MemStringSet<std::unordered_set<std::string>>)->Name("BM_MemUnorderedStringSet");
MEMORY(BM_MemStringSet<std::set<std::string>>)->Name("BM_MemStringSet");
MEMORY(BM_MemStrobj);
MEMORY(BM_MemStdString);
#ifdef UTIL_BENCH_BOOST
MEMORY(BM_MemBoostPool);
#endif
#ifdef UTIL_BENCH_ABSL
MEMORY(BM_MemOrderedSet<absl::btree_set<const char*, TextLess>>)->Name("BM_MemAbslBtreeSet");
MEMORY(BM_MemHashMap<absl::flat_hash_map<const char*, void*, TextHash, TextEq>>)->Name("BM_MemAbslFlatHashMap");
MEMORY(BM_MemStringSet<absl::flat_hash_set<std::string>>)->Name("BM_MemAbslFlatStringSet");
#endif

int main(int argc, char** argv) {
    return pooledBenchMain(argc, argv, {"QRN_MEMPOOL_ON", "QRN_FST_MEMPOOL_ON", "QRN_SM_MEMPOOL_ON"});
}
