// ifile_bench - writing and reading back segmented files against plain
// fwrite/fread of the same bytes: 1,000 segments of 64 KiB, and 100,000
// segments of 100 bytes (four files of 25,000: a file holds at most 32,760).
#include <UtilIfile.h>

#include <PortStream.h>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string scratch(int i) { return "/tmp/ifile_bench_" + std::to_string(getpid()) + "_" + std::to_string(i); }

struct Shape {
    int files;
    int segments;  // per file
    int bytes;     // per segment
};

Shape shapeOf(const benchmark::State& state) {
    return state.range(0) == 0 ? Shape{1, 1000, 65536} : Shape{4, 25000, 100};
}

std::vector<std::string> names(int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.push_back("segment_" + std::to_string(i));
    return out;
}

void writeSegmented(const Shape& sh, const std::vector<std::string>& segs, const std::string& payload) {
    for (int f = 0; f < sh.files; ++f) {
        UT_IFILE file;
        file.create(scratch(f).c_str());
        for (const auto& n : segs) {
            Port::Stream* s = file.putdataseg(const_cast<char*>(n.c_str()), 0, 0);
            s->writebytes(payload.data(), payload.size());
            file.enddataseg();
        }
        file.unload();
    }
}

void BM_SegmentedWrite(benchmark::State& state) {
    Shape sh = shapeOf(state);
    auto segs = names(sh.segments);
    std::string payload(static_cast<size_t>(sh.bytes), 'x');
    for (auto _ : state)
        writeSegmented(sh, segs, payload);
    state.SetBytesProcessed(int64_t(state.iterations()) * sh.files * sh.segments * sh.bytes);
}

void BM_SegmentedRead(benchmark::State& state) {
    Shape sh = shapeOf(state);
    auto segs = names(sh.segments);
    std::string payload(static_cast<size_t>(sh.bytes), 'x');
    writeSegmented(sh, segs, payload);
    std::string buf(payload.size(), '\0');
    for (auto _ : state)
        for (int f = 0; f < sh.files; ++f) {
            UT_IFILE file;
            file.load(scratch(f).c_str());
            for (const auto& n : segs) {
                Port::Stream* s = file.getdataseg(const_cast<char*>(n.c_str()), -1, nullptr);
                s->readbytes(buf.data(), buf.size());
                file.enddataseg();
            }
            file.unload();
        }
    state.SetBytesProcessed(int64_t(state.iterations()) * sh.files * sh.segments * sh.bytes);
}

void writePlain(const Shape& sh, const std::string& payload) {
    for (int f = 0; f < sh.files; ++f) {
        std::FILE* out = std::fopen(scratch(f).c_str(), "wb");
        for (int i = 0; i < sh.segments; ++i)
            std::fwrite(payload.data(), 1, payload.size(), out);
        std::fclose(out);
    }
}

void BM_PlainWrite(benchmark::State& state) {
    Shape sh = shapeOf(state);
    std::string payload(static_cast<size_t>(sh.bytes), 'x');
    for (auto _ : state)
        writePlain(sh, payload);
    state.SetBytesProcessed(int64_t(state.iterations()) * sh.files * sh.segments * sh.bytes);
}

void BM_PlainRead(benchmark::State& state) {
    Shape sh = shapeOf(state);
    std::string payload(static_cast<size_t>(sh.bytes), 'x');
    writePlain(sh, payload);
    std::string buf(payload.size(), '\0');
    for (auto _ : state)
        for (int f = 0; f < sh.files; ++f) {
            std::FILE* in = std::fopen(scratch(f).c_str(), "rb");
            for (int i = 0; i < sh.segments; ++i)
                benchmark::DoNotOptimize(std::fread(buf.data(), 1, buf.size(), in));
            std::fclose(in);
        }
    state.SetBytesProcessed(int64_t(state.iterations()) * sh.files * sh.segments * sh.bytes);
}

// Argument 0: 1,000 x 64 KiB; 1: 100,000 x 100 bytes.
// Fixed-size values: 2000 segments of 4096 int32 each, written and read one
// value at a time, against fwrite/fread of the same bytes a segment at once.
constexpr int kIntSegments = 2000;
constexpr int kIntsPerSegment = 4096;

void writeInt32File(const std::vector<std::string>& segs) {
    UT_IFILE file;
    file.create(scratch(9).c_str());
    for (const auto& n : segs) {
        Port::Stream* s = file.putdataseg(const_cast<char*>(n.c_str()), 0, 0);
        for (int i = 0; i < kIntsPerSegment; ++i)
            s->writeint32(i);
        file.enddataseg();
    }
    file.unload();
}

void BM_SegmentedInt32Write(benchmark::State& state) {
    auto segs = names(kIntSegments);
    for (auto _ : state)
        writeInt32File(segs);
    state.SetBytesProcessed(int64_t(state.iterations()) * kIntSegments * kIntsPerSegment * 4);
}

void BM_SegmentedInt32Read(benchmark::State& state) {
    auto segs = names(kIntSegments);
    writeInt32File(segs);
    for (auto _ : state) {
        UT_IFILE file;
        file.load(scratch(9).c_str());
        int64_t sum = 0;
        for (const auto& n : segs) {
            Port::Stream* s = file.getdataseg(const_cast<char*>(n.c_str()), -1, nullptr);
            for (int i = 0; i < kIntsPerSegment; ++i)
                sum += s->readint32();
            file.enddataseg();
        }
        file.unload();
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kIntSegments * kIntsPerSegment * 4);
}

void BM_PlainInt32Write(benchmark::State& state) {
    std::vector<int32_t> values(kIntsPerSegment);
    for (int i = 0; i < kIntsPerSegment; ++i)
        values[static_cast<size_t>(i)] = i;
    for (auto _ : state) {
        std::FILE* out = std::fopen(scratch(9).c_str(), "wb");
        for (int k = 0; k < kIntSegments; ++k)
            std::fwrite(values.data(), 4, values.size(), out);
        std::fclose(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kIntSegments * kIntsPerSegment * 4);
}

void BM_PlainInt32Read(benchmark::State& state) {
    std::vector<int32_t> values(kIntsPerSegment);
    {
        std::FILE* out = std::fopen(scratch(9).c_str(), "wb");
        for (int k = 0; k < kIntSegments; ++k)
            std::fwrite(values.data(), 4, values.size(), out);
        std::fclose(out);
    }
    for (auto _ : state) {
        std::FILE* in = std::fopen(scratch(9).c_str(), "rb");
        int64_t sum = 0;
        for (int k = 0; k < kIntSegments; ++k) {
            benchmark::DoNotOptimize(std::fread(values.data(), 4, values.size(), in));
            for (int32_t v : values)
                sum += v;
        }
        std::fclose(in);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kIntSegments * kIntsPerSegment * 4);
}

BENCHMARK(BM_SegmentedInt32Write)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainInt32Write)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SegmentedInt32Read)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainInt32Read)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SegmentedWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SegmentedRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
