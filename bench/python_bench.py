#!/usr/bin/env python3
"""The Python module beside the C++ API and Python's own, in one run.

    PYTHONPATH=build/release/python bench/python_bench.py [--build build/release]

- every segment of a file of 10,000 segments of 100 bytes, read from Python,
  against the same reads through the C++ API (bench/python_peer_bench);
- a kept expression of 3 variables evaluated, against Python's eval of a
  compiled code object of the same arithmetic;
- a name image of 1e6 names read into a dict, against the C++ read plus
  building a Python dict of the same names.

Each figure is the best of several runs; the ratio is the module's ÷ the
counterpart's.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import timeit

import utilities


def best(fn, number: int, repeat: int = 5) -> float:
    return min(timeit.repeat(fn, number=number, repeat=repeat)) / number


def shown(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def cxx(build: str, name: str, env: dict) -> float:
    out = subprocess.run(
        [os.path.join(build, "bench", "python_peer_bench"), f"--benchmark_filter={name}$",
         "--benchmark_repetitions=5", "--benchmark_format=json"],
        env={**os.environ, **env}, capture_output=True, check=True).stdout
    runs = [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"]
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    return min(b["real_time"] * scale[b["time_unit"]] for b in runs)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/release")
    args = parser.parse_args()
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        seg = os.path.join(tmp, "segments.seg")
        with utilities.SegmentedFileWriter(seg) as w:
            for i in range(10_000):
                w.add(f"segment_{i:05d}", bytes([i % 256]) * 100)

        def read_all():
            with utilities.SegmentedFile(seg) as f:
                return dict(f.items())

        def read_by_name():
            with utilities.SegmentedFile(seg) as f:
                return [f[s.name] for s in f]

        read = cxx(args.build, "BM_SegmentsReadAll", {"UTIL_BENCH_SEGFILE": seg})
        rows.append(("read 10,000 segments of 100 bytes (`items()`)", best(read_all, 5), "C++ API", read, "1.5"))
        rows.append(("the same, each by name (`f[seg.name]`)", best(read_by_name, 5), "C++ API", read, "—"))

        e = utilities.Expression("a + b * c")
        code = compile("a + b * c", "<rule>", "eval")
        module = best(lambda: e(a=1, b=2, c=3), 200_000)
        python = best(lambda: eval(code, {}, {"a": 1, "b": 2, "c": 3}), 200_000)
        rows.append(("expression of 3 variables", module, "Python eval", python, "3.0"))

        names_path = os.path.join(tmp, "names.img")
        names = [f"top/u_core{i % 7}/blk_{i % 997}/n{i}" for i in range(1_000_000)]
        utilities.write_names(names_path, names)
        module = best(lambda: utilities.read_names(names_path), 1, 3)
        pairs = [(n, 1) for n in sorted(names)]
        dict_build = best(lambda: dict(pairs), 1, 3)
        read = cxx(args.build, "BM_NameImageRead", {"UTIL_BENCH_NAMES": names_path})
        rows.append(("name image of 1e6 names to a dict", module, "C++ read + dict", read + dict_build, "1.5"))

    print("| case | module | counterpart | ratio | goal |")
    print("|---|---|---|---|---|")
    for case, ours, label, theirs, goal in rows:
        print(f"| {case} | {shown(ours)} | {label}: {shown(theirs)} | {ours / theirs:.2f} | ≤ {goal} |")


if __name__ == "__main__":
    sys.exit(main())
