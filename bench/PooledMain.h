// PooledMain.h - main() of the benchmarks that measure pooled allocation.
//
// The pool switches are read when the library loads, so a benchmark run
// without `variable` set re-runs itself with it set.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <unistd.h>

inline int pooledBenchMain(int argc, char** argv, const char* variable) {
    if (!std::getenv(variable)) {
        setenv(variable, "1", 1);
        execv("/proc/self/exe", argv);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
