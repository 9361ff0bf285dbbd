#!/usr/bin/env python3
"""Runs every benchmark of a release build and writes docs/benchmarks.md.

Each table row puts one of the library's figures beside a counterpart's from
the same run of the same program, with their ratio. A plot of the tree, hash
and interning benchmarks across sizes goes to docs/benchmarks.png when
gnuplot is installed.

    bench/report.py [--build build/release] [--min-time 0.1] [--repetitions 5] [--notes bench/notes.md]

Every figure is the median of the repetitions, which Google Benchmark runs
interleaved in random order with the program's other benchmarks, so that a
passing disturbance of the machine, or the heap left by an earlier benchmark,
does not land on one side of a ratio only.
"""
import argparse
import datetime
import json
import os
import platform
import re
import shutil
import subprocess
import sys

# Per family: (program, library benchmark, [(counterpart label, counterpart benchmark)]).
# A benchmark is named by its base name; rows pair runs with the same arguments.
FAMILIES = [
    ("Fixed-size pools: take n elements of 32 bytes, give them back (LIFO 0, FIFO 1, random 2)", [
        ("fastmem_bench", "BM_Fastmem", [("malloc/free", "BM_Malloc"),
                                         ("std::pmr::unsynchronized_pool_resource", "BM_PmrPool"),
                                         ("boost::pool", "BM_BoostPool")]),
        ("fastmem_mimalloc_bench", "BM_Fastmem", [("mimalloc (own process)", "BM_Mimalloc")]),
        ("fastmem_unpooled_bench", "BM_Fastmem", [("malloc/free, pools off", "BM_Malloc")]),
    ]),
    ("Small-element pools and string objects: 1e5 elements of 8 to 256 bytes, random release", [
        ("smem_bench", "BM_SmallPool", [("malloc/free", "BM_Malloc"),
                                        ("std::pmr::unsynchronized_pool_resource", "BM_PmrPool")]),
        ("smem_bench", "BM_StrobjCreateCopyCompare", [("std::string", "BM_StdStringCreateCopyCompare")]),
    ]),
    ("Arrays and sorting", [
        ("array_bench", "BM_UtSort", [("qsort", "BM_StdQsort"), ("std::sort", "BM_StdSort")]),
        ("array_bench", "BM_DarraySort", [("std::sort", "BM_StdSort")]),
        ("array_bench", "BM_TypedQuicksort", [("std::sort", "BM_StdSort")]),
        ("array_bench", "BM_DarraySortaddSearch", [("std::vector + lower_bound", "BM_VectorLowerBound")]),
    ]),
    ("Block lists", [
        ("blist_bench", "BM_BlistAppend", [("std::deque", "BM_DequeAppend")]),
        ("blist_bench", "BM_BlistIterate", [("std::deque", "BM_DequeIterate")]),
        ("blist_bench", "BM_BlistAppendIterate", [("std::vector", "BM_StdAppendIterate<std::vector<uint32_t>>"),
                                                  ("std::deque", "BM_StdAppendIterate<std::deque<uint32_t>>")]),
        ("blist_bench", "BM_BlistRemove", [("std::vector", "BM_StdRemove<std::vector<uint32_t>>"),
                                           ("std::deque", "BM_StdRemove<std::deque<uint32_t>>")]),
    ]),
    ("AVL tree (n string keys)", [
        ("store_bench", "BM_TreeInsert", [("std::map", "BM_MapInsert"), ("absl::btree_map", "BM_AbslBtreeInsert")]),
        ("store_bench", "BM_TreeFind", [("std::map", "BM_MapFind"), ("absl::btree_map", "BM_AbslBtreeFind")]),
        ("store_bench", "BM_TreeRemove", [("std::map", "BM_MapRemove"), ("absl::btree_map", "BM_AbslBtreeRemove")]),
    ]),
    ("Hash table (n string keys)", [
        ("store_bench", "BM_HashFind", [("std::unordered_map", "BM_UnorderedMapFind"),
                                        ("absl::flat_hash_map", "BM_AbslFlatHashFind")]),
    ]),
    ("Bit vector", [
        ("bitvec_bench", "BM_BitvecCount", [("std::vector<bool>", "BM_VectorBoolCount"), ("std::bitset", "BM_BitsetCount")]),
        ("bitvec_bench", "BM_BitvecFindNext", [("std::vector<bool>", "BM_VectorBoolFindNext"),
                                               ("std::bitset", "BM_BitsetFindNext")]),
        ("bitvec_bench", "BM_BitvecSet", [("std::vector<bool>", "BM_VectorBoolSet")]),
    ]),
    ("Linked list and sparse matrix", [
        ("list_bench", "BM_ListSort", [("std::list::sort", "BM_StdListSort")]),
        ("list_bench", "BM_SparseSweep", [("CSR arrays", "BM_CsrSweep")]),
    ]),
    ("Name caches: intern n distinct names, each 3 times; find names already there", [
        ("names_bench", "BM_InternCname", [("std::set<std::string>", "BM_InternSet"),
                                           ("std::unordered_set<std::string>", "BM_InternUnorderedSet"),
                                           ("absl::flat_hash_set<std::string>", "BM_InternAbslFlatSet")]),
        ("names_bench", "BM_InternNameCache", [("std::set<std::string>", "BM_InternSet"),
                                               ("std::unordered_set<std::string>", "BM_InternUnorderedSet")]),
        ("names_bench", "BM_AddNewCname", [("std::unordered_set<std::string>", "BM_AddNewUnorderedSet")]),
        ("names_bench", "BM_FindCname", [("std::unordered_set<std::string>", "BM_FindUnorderedSet"),
                                         ("absl::flat_hash_set<std::string>", "BM_FindAbslFlatSet")]),
        ("names_bench", "BM_ImageSave", [("fwrite", "BM_PlainFwrite")]),
        ("names_bench", "BM_ImageRestore", [("fread", "BM_PlainFread")]),
    ]),
    ("Segmented file: 1000 x 64 KiB (0), 100,000 x 100 bytes (1); 2000 segments of 4096 int32 values", [
        ("ifile_bench", "BM_SegmentedWrite", [("fwrite", "BM_PlainWrite")]),
        ("ifile_bench", "BM_SegmentedRead", [("fread", "BM_PlainRead")]),
        ("ifile_bench", "BM_SegmentedInt32Write", [("fwrite", "BM_PlainInt32Write")]),
        ("ifile_bench", "BM_SegmentedInt32Read", [("fread", "BM_PlainInt32Read")]),
    ]),
    ("Expressions: evaluations of 11- to 29-token texts with 5 variables", [
        ("expr_bench", "BM_ExprInt", [("hand-written C++", "BM_NativeInt")]),
        ("expr_bench", "BM_ExprBool", [("hand-written C++", "BM_NativeBool")]),
    ]),
    ("Primes", [
        ("prime_bench", "BM_PrimesInRange", [("sieve of Eratosthenes", "BM_Sieve")]),
    ]),
    ("Flooding: n names or identities crafted to collide under the former unkeyed hashes, beside ordinary ones", [
        ("flood_bench", "BM_SegfileWrite<kCrafted>", [("ordinary names", "BM_SegfileWrite<kOrdinary>")]),
        ("flood_bench", "BM_SegfileLoadAndLookUp<kCrafted>", [("ordinary names", "BM_SegfileLoadAndLookUp<kOrdinary>")]),
        ("flood_bench", "BM_NameCacheAdd<kCrafted>", [("ordinary names", "BM_NameCacheAdd<kOrdinary>")]),
        ("flood_bench", "BM_NameImageReadAndFind<kCrafted, kOrdinary>",
         [("ordinary names", "BM_NameImageReadAndFind<kOrdinary, kOrdinary>")]),
        ("flood_bench", "BM_NameImageReadAndFind<kOrdinary, kCrafted>",
         [("ordinary identities", "BM_NameImageReadAndFind<kOrdinary, kOrdinary>")]),
        ("flood_bench", "BM_NameImageReadAndFind<kCrafted, kCrafted>",
         [("ordinary names and identities", "BM_NameImageReadAndFind<kOrdinary, kOrdinary>")]),
    ]),
    ("Typed face: each typed call beside the untyped call it makes (n nets)", [
        ("typed_bench", "BM_TreeFindTyped", [("UT_BTR_TREE::find", "BM_TreeFindUntyped")]),
        ("typed_bench", "BM_HashFindTyped", [("UT_HASH::s_find", "BM_HashFindUntyped")]),
        ("typed_bench", "BM_TreeWalkTyped", [("UT_BTR_TREE::traverse", "BM_TreeWalkUntyped")]),
        ("typed_bench", "BM_ListWalkTyped", [("UT_LIST cursor", "BM_ListWalkUntyped")]),
        ("typed_bench", "BM_BlistWalkTyped", [("UT_BLIST_ITER", "BM_BlistWalkUntyped")]),
    ]),
    ("Standard containers on the library's pools (n elements)", [
        ("typed_bench", "BM_PmrUnorderedMap<kLibraryPools>",
         [("std::pmr::unsynchronized_pool_resource", "BM_PmrUnorderedMap<kStdPool>"),
          ("default resource", "BM_PmrUnorderedMap<kDefault>")]),
        ("typed_bench", "BM_PmrList<kLibraryPools>",
         [("std::pmr::unsynchronized_pool_resource", "BM_PmrList<kStdPool>"), ("default resource", "BM_PmrList<kDefault>")]),
        ("typed_bench", "BM_PmrUnorderedMap<kOwnPools>",
         [("std::pmr::unsynchronized_pool_resource", "BM_PmrUnorderedMap<kStdPool>")]),
        ("typed_bench", "BM_PmrList<kOwnPools>", [("std::pmr::unsynchronized_pool_resource", "BM_PmrList<kStdPool>")]),
        ("typed_bench", "BM_PmrListShared<kOurShared>",
         [("std::pmr::synchronized_pool_resource", "BM_PmrListShared<kStdShared>")]),
        ("typed_bench", "BM_ListPoolAllocator", [("std::allocator", "BM_ListStdAllocator")]),
    ]),
]

MEMORY = [
    ("Pools, 24-byte elements", "BM_MemFastmem (UT_FASTMEM)", "BM_MemFastmem",
     [("malloc", "BM_MemMalloc"), ("std::pmr pool", "BM_MemPmrPool"), ("boost::pool", "BM_MemBoostPool")]),
    ("Pools, 24-byte elements", "BM_MemSmallmem (UT_SM_SMALLMEM)", "BM_MemSmallmem",
     [("malloc", "BM_MemMalloc"), ("std::pmr pool", "BM_MemPmrPool"), ("boost::pool", "BM_MemBoostPool")]),
    ("Block list of pointers", "UT_BLIST", "BM_MemBlist", [("std::vector", "BM_MemVector"), ("std::deque", "BM_MemDeque")]),
    ("Ordered set of key pointers", "UT_BTR_TREE", "BM_MemTree",
     [("std::set", "BM_MemStdSet"), ("absl::btree_set", "BM_MemAbslBtreeSet")]),
    ("Hashed key -> value pointers", "UT_HASH", "BM_MemHash",
     [("std::unordered_map", "BM_MemUnorderedMap"), ("absl::flat_hash_map", "BM_MemAbslFlatHashMap")]),
    ("Interned names (20 to 40 characters)", "UT_NCH_CACHE", "BM_MemNameCache",
     [("std::unordered_set<std::string>", "BM_MemUnorderedStringSet"), ("std::set<std::string>", "BM_MemStringSet"),
      ("absl::flat_hash_set<std::string>", "BM_MemAbslFlatStringSet")]),
    ("String object on the heap", "UT_STROBJ", "BM_MemStrobj", [("std::string", "BM_MemStdString")]),
]

# Cost per element as n grows: (case, program, library, counterpart label,
# counterpart, the runs' argument text with {n} for the size).
SCALE = [
    ("pools: take n, give back last-first", "fastmem_bench", "BM_Fastmem", "malloc/free", "BM_Malloc",
     "n:{n}/pattern:0"),
    ("pools: take n, give back in random order", "fastmem_bench", "BM_Fastmem", "malloc/free", "BM_Malloc",
     "n:{n}/pattern:2"),
    ("name cache: add n new hierarchical names", "names_bench", "BM_AddNewCname", "std::unordered_set",
     "BM_AddNewUnorderedSet", "{n}"),
    ("name cache: find, random order", "names_bench", "BM_FindCname", "std::unordered_set", "BM_FindUnorderedSet",
     "{n}"),
    ("AVL tree: insert", "store_bench", "BM_TreeInsert", "std::map", "BM_MapInsert", "{n}"),
    ("AVL tree: find", "store_bench", "BM_TreeFind", "std::map", "BM_MapFind", "{n}"),
    ("AVL tree: remove", "store_bench", "BM_TreeRemove", "std::map", "BM_MapRemove", "{n}"),
    ("hash table: find", "store_bench", "BM_HashFind", "std::unordered_map", "BM_UnorderedMapFind", "{n}"),
    ("block list: append", "blist_bench", "BM_BlistAppend", "std::deque", "BM_DequeAppend", "{n}"),
    ("block list: iterate", "blist_bench", "BM_BlistIterate", "std::deque", "BM_DequeIterate", "{n}"),
]
SCALE_SIZES = [1000, 10000, 100000, 1000000, 4000000]

PLOTS = [
    ("AVL tree find", "store_bench",
     [("UT_BTR_TREE", "BM_TreeFind"), ("std::map", "BM_MapFind"), ("absl::btree_map", "BM_AbslBtreeFind")]),
    ("Hash table find", "store_bench",
     [("UT_HASH", "BM_HashFind"), ("std::unordered_map", "BM_UnorderedMapFind"),
      ("absl::flat_hash_map", "BM_AbslFlatHashFind")]),
    ("Interning", "names_bench",
     [("UT_NCH_CACHE", "BM_InternCname"), ("NameCache::Cache", "BM_InternNameCache"), ("std::set", "BM_InternSet"),
      ("std::unordered_set", "BM_InternUnorderedSet"), ("absl::flat_hash_set", "BM_InternAbslFlatSet")]),
    ("New names, 1e4 to 4e6", "names_bench",
     [("UT_NCH_CACHE", "BM_AddNewCname"), ("std::unordered_set", "BM_AddNewUnorderedSet")]),
]


def run(build, program, min_time, repetitions):
    path = os.path.join(build, "bench", program)
    if not os.path.exists(path):
        return None
    print(f"report: running {program}", file=sys.stderr)
    command = [path, "--benchmark_format=json", f"--benchmark_min_time={min_time}"]
    if repetitions > 1:
        command += [f"--benchmark_repetitions={repetitions}", "--benchmark_enable_random_interleaving=true",
                    "--benchmark_report_aggregates_only=true"]
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def split(name):
    base, _, args = name.partition("/")
    return base, args


def figure(b):
    """(time per item in ns, text) for a benchmark result."""
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
    if "items_per_second" in b:
        ns = 1e9 / b["items_per_second"]
        return ns, (f"{ns:.3g} ns/item" if ns < 1e4 else f"{ns / 1e3:.3g} us/item")
    if "bytes_per_second" in b:
        rate = b["bytes_per_second"]
        return 1e9 / rate, f"{rate / 1e6:.4g} MB/s"
    ns = b["real_time"] * scale
    return ns, (f"{ns / 1e6:.4g} ms" if ns >= 1e6 else f"{ns / 1e3:.4g} us")


def index(results):
    table = {}
    for b in results.get("benchmarks", []):
        if "error_occurred" in b:
            continue
        name = b["name"]
        if b.get("run_type", "iteration") == "aggregate":
            if b.get("aggregate_name") != "median":
                continue
            name = b.get("run_name", name)
        base, args = split(name)
        table.setdefault(base, {})[args] = b
    return table


def machine(context):
    cpu = platform.processor() or "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    # Fields the run did not report are left out, not shown empty.
    caches = ", ".join(f"L{c['level']} {c['type'].lower()} {c['size'] // 1024} KiB"
                       for c in context.get("caches", []))
    cores = context.get("num_cpus")
    mhz = context.get("mhz_per_cpu")
    cpu_line = f"- CPU: {cpu}"
    if cores:
        cpu_line += f", {cores} cores" + (f" at {mhz} MHz" if mhz else "")
    if caches:
        cpu_line += f" ({caches})"
    load = " ".join(f"{x:.2f}" for x in context.get("load_avg", []))
    compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()
    run_line = f"- Run: {datetime.datetime.now().strftime('%Y-%m-%d %H:%M')}"
    if context.get("library_version"):
        run_line += f", Google Benchmark {context['library_version']}"
    if load:
        run_line += f", load average at start {load}"
    return [
        cpu_line,
        f"- System: {platform.system()} {platform.release()}, {platform.machine()}",
        f"- Compiler: {compiler[0] if compiler else 'unknown'}, release build (-O3)",
        run_line,
    ]


def ratio_text(r):
    return f"**{r:.2f}**" if r > 1.05 else f"{r:.2f}"


def family_tables(runs, lines):
    for title, rows in FAMILIES:
        tables = []
        for program, lib, counterparts in rows:
            table = runs.get(program)
            if not table or lib not in table:
                continue
            present = [(label, cp) for label, cp in counterparts if cp in table]
            if not present:
                continue
            body = [f"| case | `{lib}` | " + " | ".join(label for label, _ in present) + " |",
                    "|---|---|" + "---|" * len(present)]
            for args, b in sorted(table[lib].items(), key=lambda kv: natural(kv[0])):
                lib_ns, lib_text = figure(b)
                cells = []
                for _, cp in present:
                    other = table[cp].get(args)
                    if other:
                        cp_ns, cp_text = figure(other)
                        cells.append(f"{cp_text} ({ratio_text(lib_ns / cp_ns)})")
                    else:
                        cells.append("")
                body.append(f"| {args or '-'} | {lib_text} | " + " | ".join(cells) + " |")
            tables += body + [""]
        if tables:
            lines += [f"### {title}", ""] + tables


def scale_table(runs, lines):
    """ns per element for each SCALE case at each size, library / counterpart, and how the ratio grew."""
    rows = []
    for case, program, lib, label, cp, args in SCALE:
        table = runs.get(program) or {}
        cells, ratios = [], {}
        for n in SCALE_SIZES:
            mine, theirs = table.get(lib, {}).get(args.format(n=n)), table.get(cp, {}).get(args.format(n=n))
            if mine and theirs:
                lib_ns, cp_ns = figure(mine)[0], figure(theirs)[0]
                ratios[n] = lib_ns / cp_ns
                cells.append(f"{lib_ns:.3g} / {cp_ns:.3g} ({ratio_text(ratios[n])})")
            else:
                cells.append("")
        if ratios:
            growth = f"{ratios[4000000] / ratios[100000]:.2f}" if 100000 in ratios and 4000000 in ratios else ""
            rows.append(f"| {case} (÷ {label}) | " + " | ".join(cells) + f" | {growth} |")
    if rows:
        sizes = " | ".join(f"n = {n:.0e}".replace("e+0", "e") for n in SCALE_SIZES)
        lines += ["## Scale: cost per element from thousands to millions", "",
                  "Library / counterpart time per element in ns, with the ratio; the last column is how much the "
                  "ratio grew from 1e5 to 4e6. bench/notes.md says what limits each ratio.", "",
                  f"| case | {sizes} | growth |", "|---|" + "---|" * (len(SCALE_SIZES) + 1)] + rows + [""]


def natural(text):
    return [int(t) if t.isdigit() else t for t in re.split(r"(\d+)", text)]


def memory_table(runs, lines):
    table = runs.get("memory_bench")
    if not table:
        return
    lines += ["## Memory: heap bytes per element", "",
              "Heap growth per element for 100,000 elements (glibc's mallinfo2: allocator headers and rounding "
              "count; key texts held elsewhere do not). Ratio = library / counterpart.", "",
              "| what | library | bytes | counterpart | bytes | ratio |", "|---|---|---|---|---|---|"]
    for what, label, lib, counterparts in MEMORY:
        b = next(iter(table.get(lib, {}).values()), None)
        if not b:
            continue
        mine = b["bytes_per_element"]
        for cp_label, cp in counterparts:
            other = next(iter(table.get(cp, {}).values()), None)
            if other:
                theirs = other["bytes_per_element"]
                lines.append(f"| {what} | {label} | {mine:.1f} | {cp_label} | {theirs:.1f} | "
                             f"{mine / theirs:.2f} |")
    lines.append("")


def plot(runs, out_png):
    gnuplot = shutil.which("gnuplot")
    if not gnuplot:
        print("report: gnuplot not installed, no plot", file=sys.stderr)
        return False
    width = 500 * len(PLOTS)
    script = [f"set terminal pngcairo size {width},450 font ',10'" if has_cairo(gnuplot) else
              f"set terminal png size {width},450", f"set output '{out_png}'",
              "set termoption noenhanced", f"set multiplot layout 1,{len(PLOTS)}", "set logscale xy", "set xlabel 'n'", "set ylabel 'ns per item'",
              "set key top left", "set grid"]
    for title, program, series in PLOTS:
        table = runs.get(program) or {}
        blocks, plots = [], []
        for label, name in series:
            points = sorted((int(re.sub(r"\D.*", "", a)), figure(b)[0]) for a, b in table.get(name, {}).items() if a)
            if points:
                blocks.append((label, points))
        if not blocks:
            continue
        script.append(f"set title '{title}'")
        for i, (label, _) in enumerate(blocks):
            plots.append(f"'-' using 1:2 with linespoints lw 2 title '{label}'")
        script.append("plot " + ", ".join(plots))
        for _, points in blocks:
            script += [f"{n} {v}" for n, v in points] + ["e"]
    script.append("unset multiplot")
    subprocess.run([gnuplot], input="\n".join(script) + "\n", text=True, check=True)
    return True


def has_cairo(gnuplot):
    out = subprocess.run([gnuplot, "-e", "set terminal"], capture_output=True, text=True)
    return "pngcairo" in out.stdout + out.stderr


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--min-time", default="0.1")
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--out", default=None,
                        help="where the report goes (default: BUILD/benchmarks.md; docs/ only with --update-docs)")
    parser.add_argument("--update-docs", action="store_true",
                        help="write docs/benchmarks.md and its plot, the report kept in the repository")
    parser.add_argument("--notes", default="bench/notes.md", help="Markdown appended after the tables")
    args = parser.parse_args()
    if args.out is None:
        args.out = "docs/benchmarks.md" if args.update_docs else os.path.join(args.build, "benchmarks.md")

    programs = sorted({p for _, rows in FAMILIES for p, _, _ in rows} | {"memory_bench"})
    raw = {p: run(args.build, p, args.min_time, args.repetitions) for p in programs}
    runs = {p: index(r) for p, r in raw.items() if r}
    context = next((r["context"] for r in raw.values() if r), {})

    lines = ["# Benchmarks", "",
             f"Written by `bench/report.py`: every figure is the median of {args.repetitions} repetitions, run "
             "interleaved in random order with the other benchmarks of the same program. Each row puts the "
             "library beside its counterparts measured in the same run of the same program; each counterpart's cell "
             "gives its figure and, in parentheses, the ratio library time / counterpart time (for "
             "throughputs, counterpart rate / library rate): below 1 the library is faster; ratios above "
             "1.05 are in bold and explained under \"Where the library is slower\". "
             "Peers from absl, boost and mimalloc appear when their Debian packages were installed at "
             "configure time.", "", "## Machine", ""] + machine(context) + ["", "## Speed", ""]
    family_tables(runs, lines)
    memory_table(runs, lines)
    scale_table(runs, lines)
    png = os.path.splitext(args.out)[0] + ".png"
    if plot(runs, png):
        lines += ["## Across sizes", "", f"![tree, hash and interning against their counterparts]"
                  f"({os.path.basename(png)})", ""]
    if os.path.exists(args.notes):
        with open(args.notes) as f:
            lines += [f.read().rstrip(), ""]
    with open(args.out, "w") as f:
        f.write("\n".join(lines))
    print(f"report: wrote {args.out}", file=sys.stderr)


if __name__ == "__main__":
    main()
