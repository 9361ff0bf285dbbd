// cmd_fastmem.cpp - `utiltool fastmem`: run a take/give-back workload on a
// fixed-size pool and print the pool's usage report.
#include "Command.h"

#include <UtilFstmem.h>

#include <PortEnv.h>

#include <cstdio>
#include <vector>

namespace {

constexpr const char* kUsage =
    "  --size N        element size in bytes (default 16; rounded up to 8)\n"
    "  --per-block N   elements per block (default 800)\n"
    "  --take N        elements to take (default 1000)\n"
    "  --give-back K   then give back every K-th element taken (default 0: none)\n"
    "  --all           also report every pool of the process (the library's own too)\n"
    "Pooling is on only when QRN_MEMPOOL_ON or QRN_FST_MEMPOOL_ON is set.\n";

constexpr unsigned long kMaxCount = 100000000;

int run(const std::vector<std::string>& args) {
    UtilTool::Options opts;
    if (!opts.parse(args, {"--size", "--per-block", "--take", "--give-back"}, {"--all"}))
        return 2;
    unsigned long size, perBlock, take, every;
    if (!opts.number("--size", 16, 1u << 20, size) ||
        !opts.number("--per-block", 800, kMaxCount, perBlock) ||
        !opts.number("--take", 1000, kMaxCount, take) ||
        !opts.number("--give-back", 0, kMaxCount, every))
        return 2;
    if (!Port_Env::GetEnv("QRN_MEMPOOL_ON") && !Port_Env::GetEnv("QRN_FST_MEMPOOL_ON"))
        std::fprintf(stderr, "note: pooling is off (set QRN_FST_MEMPOOL_ON=1): every element "
                             "is a separate heap block\n");

    UT_FASTMEM pool(static_cast<unsigned>(size), static_cast<unsigned>(perBlock), "utiltool");
    std::vector<void*> taken;
    taken.reserve(take);
    for (unsigned long i = 0; i < take; ++i)
        taken.push_back(pool.getnewptr());
    unsigned long given = 0;
    if (every > 0)
        for (unsigned long i = every - 1; i < taken.size(); i += every, ++given) {
            pool.qrn_free(taken[i]);
            taken[i] = nullptr;
        }
    std::printf("took %lu elements, gave back %lu\n", take, given);
    if (opts.has("--all"))
        UT_FASTMEM::report_usage();
    else
        pool.dump();
    for (void* p : taken)
        pool.qrn_free(p);
    return 0;
}

UtilTool::Registration reg({"fastmem", "fixed-size pool workload and usage report", kUsage, run});

}  // namespace
