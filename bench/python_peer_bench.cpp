// The C++ side of bench/python_bench.py: the same work as the Python
// module's calls, through the library's own API, on the files the script
// made (named by UTIL_BENCH_SEGFILE and UTIL_BENCH_NAMES).
#include <UtilCname.h>
#include <UtilIfile.h>
#include <UtilPtrfile.h>

#include <PortStream.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

const char* fileOf(const char* variable) {
    const char* path = std::getenv(variable);
    return path ? path : "";
}

// Every segment's bytes, in directory order, as SegmentedFile does.
void BM_SegmentsReadAll(benchmark::State& state) {
    const char* path = fileOf("UTIL_BENCH_SEGFILE");
    for (auto _ : state) {
        UT_IFILE f;
        if (!f.load(path)) {
            state.SkipWithError("no segmented file (run bench/python_bench.py)");
            return;
        }
        std::vector<std::string> segments;
        UT_IFILESEGINFO info;
        for (int i = 0; f.getseginfo(i, info); ++i) {
            std::string bytes(static_cast<std::size_t>(info.getsize()), '\0');
            Port::Stream* s = f.getdataseg(info.getname(), -1, nullptr);
            s->readbytes(bytes.data(), bytes.size());
            f.enddataseg();
            segments.push_back(std::move(bytes));
        }
        f.unload();
        benchmark::DoNotOptimize(segments.data());
    }
}
BENCHMARK(BM_SegmentsReadAll)->Unit(benchmark::kMillisecond);

// An image read into the tree cache and listed as (name, count) pairs, as
// read_names does before it builds its dict.
void BM_NameImageRead(benchmark::State& state) {
    const char* path = fileOf("UTIL_BENCH_NAMES");
    for (auto _ : state) {
        UT_PTRFILE in(Port::Stream::READ);
        if (!in.open(path)) {
            state.SkipWithError("no name image (run bench/python_bench.py)");
            return;
        }
        UT_NCH_CACHE cache(0, std::numeric_limits<unsigned int>::max() - 1);
        cache.read(&in);
        std::vector<std::pair<std::string, int>> names;
        names.reserve(cache.get_count());
        cache.traverse(
            [](void** slot, void* arg) {
                auto* name = static_cast<UT_NCH_NAME*>(*slot);
                static_cast<decltype(names)*>(arg)->emplace_back(name->get_name(), name->getRefCount());
            },
            &names, UT_BTR_TREE::INORDER);
        benchmark::DoNotOptimize(names.data());
    }
}
BENCHMARK(BM_NameImageRead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
