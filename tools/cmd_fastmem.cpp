// cmd_fastmem.cpp - `utiltool fastmem`: run a take/give-back workload on a
// fixed-size pool and print the pool's usage report.
#include "Command.h"

#include <UtilFstmem.h>

#include <PortEnv.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr unsigned kMaxSize = 1u << 20;         // the largest element the pool takes
constexpr unsigned long kMaxCount = 100000000;  // elements per block, taken, given back

struct Options {
    unsigned size = 16;
    unsigned perBlock = 800;
    unsigned long take = 1000;
    unsigned long every = 0;
    bool all = false;
};

UtilTool::Action setup(CLI::App& app) {
    auto o = std::make_shared<Options>();
    app.add_option("--size", o->size, "element size in bytes, 1 to 1048576 (default 16; rounded up to 8)")
        ->check(CLI::Range(1u, kMaxSize));
    app.add_option("--per-block", o->perBlock, "elements per block, 1 to 100000000 (default 800)")
        ->check(CLI::Range(1ul, kMaxCount));
    app.add_option("--take", o->take, "elements to take, 0 to 100000000 (default 1000)")
        ->check(CLI::Range(0ul, kMaxCount));
    app.add_option("--give-back", o->every, "then give back every K-th element taken (default 0: none)")
        ->check(CLI::Range(0ul, kMaxCount));
    app.add_flag("--all", o->all, "also report every pool of the process (the library's own too)");
    app.footer("Pooling is on only when QRN_MEMPOOL_ON or QRN_FST_MEMPOOL_ON is set.");
    return [o] {
        if (!Port_Env::GetEnv("QRN_MEMPOOL_ON") && !Port_Env::GetEnv("QRN_FST_MEMPOOL_ON"))
            std::fprintf(stderr,
                         "note: pooling is off (set QRN_FST_MEMPOOL_ON=1): every element "
                         "is a separate heap block\n");
        if (uint64_t{o->size} * o->perBlock > UINT32_MAX)
            return UtilTool::refuse("fastmem", "--size %u times --per-block %u passes 4 GiB a block", o->size,
                                    o->perBlock);
        UT_FASTMEM pool(o->size, o->perBlock, "utiltool");
        std::vector<void*> taken;
        taken.reserve(o->take);
        for (unsigned long i = 0; i < o->take; ++i)
            if (void* p = pool.getnewptr())
                taken.push_back(p);
        unsigned long given = 0;
        if (o->every > 0)
            for (unsigned long i = o->every - 1; i < taken.size(); i += o->every, ++given) {
                pool.qrn_free(taken[i]);
                taken[i] = nullptr;
            }
        // What was really taken: a request the heap refused is not counted.
        std::printf("took %zu elements, gave back %lu\n", taken.size(), given);
        if (o->all)
            UT_FASTMEM::report_usage();
        else
            pool.dump();
        for (void* p : taken)
            pool.qrn_free(p);
        if (taken.size() < o->take)
            return UtilTool::refuse("fastmem", "the heap refused %lu of %lu elements", o->take - taken.size(), o->take);
        return UtilTool::kDone;
    };
}

UtilTool::Registration reg({"fastmem", "fixed-size pool workload and usage report", setup});

}  // namespace
