// PooledMain.h - main() of the benchmarks that measure pooled allocation.
//
// The pool switches are read when the library loads, so a benchmark run
// without the `variables` set re-runs itself with them set.
#pragma once

#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdlib>
#include <initializer_list>

inline int pooledBenchMain(int argc, char** argv, std::initializer_list<const char*> variables) {
    bool missing = false;
    for (const char* variable : variables)
        if (!std::getenv(variable)) {
            setenv(variable, "1", 1);
            missing = true;
        }
    if (missing) {
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
