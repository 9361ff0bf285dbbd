// Heap-failure sweeps: the N-th heap request fails, for every N, once or from
// N on. Whatever fails (std::bad_alloc or the library's report), nothing may
// leak, and the objects involved must work as before the call.
#include "FaultSupport.h"

#include <UtilCname.h>
#include <UtilEquate.h>
#include <UtilExpression.h>
#include <UtilIfile.h>
#include <UtilNameCache.h>
#include <UtilPtrfile.h>

#include <PortHeap.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

// ---- a heap that fails on demand ------------------------------------------

// The replaced operator new takes from malloc, so its blocks go back with
// free; GCC, seeing both once inlined, would call that a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

UtilTest::Countdown heap;
std::atomic<long> liveBlocks{0};
std::atomic<std::size_t> largestRequest{0};  // the largest block asked for, as tests reset it

void* take(std::size_t n) {
    std::size_t seen = largestRequest.load(std::memory_order_relaxed);
    while (n > seen && !largestRequest.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
    }
    if (heap.failsNow())
        return nullptr;
    void* p = std::malloc(n ? n : 1);
    if (p)
        liveBlocks.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void give(void* p) noexcept {
    if (!p)
        return;
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    std::free(p);
}

void* retake(void* p, std::size_t n) {
    if (!p)
        return take(n);
    return heap.failsNow() ? nullptr : std::realloc(p, n);
}

// The library's own heap calls count with operator new's.
const bool heapCallsInstalled = [] {
    Port::setHeapCalls(Port::HeapCalls{take, retake, give});
    return true;
}();

}  // namespace

void* operator new(std::size_t n) {
    if (void* p = take(n))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return take(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return take(n); }
void operator delete(void* p) noexcept { give(p); }
void operator delete[](void* p) noexcept { give(p); }
void operator delete(void* p, std::size_t) noexcept { give(p); }
void operator delete[](void* p, std::size_t) noexcept { give(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { give(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { give(p); }

namespace {

// Drops every report: kept reports would count as live blocks.
struct Quiet : Port::ScopedMsgSink {
    Quiet() : ScopedMsgSink([](const Port::Message&) {}) {}
};

// A call that gave a false result (after its report).
struct Refused {};

// Runs `scenario` with the N-th request failing for N = 1, 2, ... until a run
// meets no failure. `scenario(failing)` builds its objects, makes the call,
// and (when the call failed) checks that the objects are as they were and
// still work; everything it made is gone when it returns, so the live blocks
// must be as many as before.
void sweep(const std::function<void(const std::function<bool(const std::function<void()>&)>&)>& scenario) {
    // Once outside the sweep: what the library makes once per process is made.
    scenario([](const std::function<void()>& call) {
        call();
        return true;
    });
    for (bool sticky : {false, true}) {
        UtilTest::forEachK([&](long k) {
            const long before = liveBlocks.load();
            bool fired = false;
            scenario([&](const std::function<void()>& call) {
                heap.arm(k, sticky);
                bool ok = true;
                try {
                    call();
                } catch (const std::bad_alloc&) {
                    ok = false;
                } catch (const Port::FatalError&) {
                    ok = false;
                } catch (const Refused&) {
                    ok = false;
                }
                fired = heap.fired;
                heap.armed = false;
                EXPECT_TRUE(ok || fired) << "K=" << k << ": failed without a heap failure";
                return ok;
            });
            EXPECT_EQ(liveBlocks.load(), before) << "leak with request " << k << (sticky ? " on" : "") << " failing";
            return fired;
        });
        if (testing::Test::HasFailure())
            return;
    }
}

const std::vector<std::string> kTexts = {
    "a", "top", "u_core", "clk_main", "net_with_a_long_name", "abcdefg", "another_rather_long_name_for_a_pool"};

// An image of 2 * kTexts names: half already in the reader's cache.
std::string imagePath() {
    static std::string path = [] {
        std::string p = UtilTest::tempPath("heap.img");
        UT_NCH_CACHE cache;
        for (const auto& t : kTexts) {
            cache.add(t.c_str(), 2);
            cache.add((t + "_new").c_str(), 1);
        }
        UtilTest::writePtrfile(p, [&](UT_PTRFILE& f) { cache.write(&f, 0); });
        return p;
    }();
    return path;
}

std::size_t sizeOf(UT_NCH_CACHE& c) { return c.get_count(); }
std::size_t sizeOf(Util::NameCache::Cache& c) { return c.size(); }

// Each name of kTexts once, and nothing of the image's new names.
template <class CacheT>
void expectAsBefore(CacheT& cache) {
    EXPECT_EQ(sizeOf(cache), kTexts.size());
    for (const auto& t : kTexts) {
        auto* name = cache.find(t.c_str());
        ASSERT_NE(name, nullptr) << t;
        EXPECT_EQ(name->getRefCount(), 1) << t;
        EXPECT_EQ(cache.find((t + "_new").c_str()), nullptr) << t;
    }
}

template <class CacheT>
void readImageSweep() {
    imagePath();
    Quiet quiet;
    sweep([](const auto& attempt) {
        CacheT cache;
        for (const auto& t : kTexts)
            cache.add(t.c_str(), 1);
        UT_PTRFILE in(Port::Stream::READ);
        in.open(imagePath().c_str());
        if (attempt([&] { cache.read(&in); }))
            return;
        expectAsBefore(cache);
        UT_PTRFILE again(Port::Stream::READ);
        again.open(imagePath().c_str());
        cache.read(&again);
        EXPECT_EQ(sizeOf(cache), 2 * kTexts.size());
        EXPECT_EQ(cache.find("top")->getRefCount(), 3);
    });
}

TEST(HeapFailures, ReadingANameImageIntoTheTreeCacheChangesNothingOrAll) { readImageSweep<UT_NCH_CACHE>(); }

TEST(HeapFailures, ReadingANameImageIntoTheMapCacheChangesNothingOrAll) { readImageSweep<Util::NameCache::Cache>(); }

TEST(HeapFailures, ReadingAPointerFileFixesEveryFieldOrReports) {
    std::string path = UtilTest::tempPath("heap.ptr");
    constexpr int kObjects = 40;
    std::vector<int> objects(kObjects);
    {
        UT_PTRFILE f(Port::Stream::WRITE);
        f.open(path.c_str());
        for (int i = 0; i < kObjects; ++i) {
            f.writeptr(&objects[i]);
            f.writeptr(&objects[(i * 7 + 3) % kObjects]);
        }
        f.close();
    }
    Quiet quiet;
    sweep([&](const auto& attempt) {
        std::vector<int> copies(kObjects);
        std::vector<void*> fields(kObjects);
        UT_PTRFILE in(Port::Stream::READ);
        in.open(path.c_str());
        bool ok = attempt([&] {
            for (int i = 0; i < kObjects; ++i) {
                void* self = nullptr;
                in.readptr(self);
                in.readptr(fields[i]);
                in.registerptr(self, &copies[i]);
                in.fixptr(&fields[i]);
            }
        });
        if (!ok)
            return;
        for (int i = 0; i < kObjects; ++i)
            EXPECT_EQ(fields[i], &copies[(i * 7 + 3) % kObjects]);
        EXPECT_EQ(in.checkptrs(), nullptr);
    });
    std::remove(path.c_str());
}

constexpr int kSegments = 6;

void writeSegments(UT_IFILE& f, const std::string& path) {
    f.create(path.c_str());
    for (int i = 0; i < kSegments; ++i) {
        std::string name = UtilTest::numbered("segment_", i);
        Port::Stream* s = f.putdataseg(name.data(), i, i);
        s->writeint32(i * 1000);
        f.enddataseg();
    }
    if (!f.unload())
        throw Refused{};
}

void expectSegments(UT_IFILE& f, const std::string& path) {
    ASSERT_TRUE(f.load(path.c_str()));
    ASSERT_EQ(f.getnumsegs(), kSegments);
    for (int i = 0; i < kSegments; ++i) {
        std::string name = UtilTest::numbered("segment_", i);
        Port::Stream* s = f.getdataseg(name.data(), i, nullptr);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->readint32(), i * 1000);
        f.enddataseg();
    }
    EXPECT_TRUE(f.unload());
}

TEST(HeapFailures, WritingASegmentedFileFailsCleanlyAndTheObjectWritesAgain) {
    std::string path = UtilTest::tempPath("heap_write.seg");
    Quiet quiet;
    sweep([&](const auto& attempt) {
        UT_IFILE f;
        if (attempt([&] { writeSegments(f, path); }))
            return;
        if (f.getfname())
            f.unload();
        writeSegments(f, path);
        UT_IFILE check;
        expectSegments(check, path);
    });
    std::remove(path.c_str());
}

TEST(HeapFailures, LoadingASegmentedFileFailsCleanlyAndTheObjectLoadsAgain) {
    std::string path = UtilTest::tempPath("heap_load.seg");
    {
        UT_IFILE f;
        writeSegments(f, path);
    }
    Quiet quiet;
    sweep([&](const auto& attempt) {
        UT_IFILE f;
        if (attempt([&] {
                if (!f.load(path.c_str()))
                    throw Refused{};
                f.unload();
            }))
            return;
        expectSegments(f, path);
    });
    std::remove(path.c_str());
}

const char* kLines[] = {"A0", "A1", "A2", "A3", "A4", "A5"};

TEST(HeapFailures, EquationsConvertOrFailCleanlyBothWays) {
    Quiet quiet;
    sweep([](const auto& attempt) {
        UT_EQUATE e;
        std::string hex, eqn;
        if (attempt([&] {
                char* out = nullptr;
                e.gen_hex("O = (A0*~A1 + A2) @ ~(A3*A4 + ~A5*A0) + A1*A2*A3", kLines, 6, out);
                hex = out ? out : "";
                e.gen_equatestr("F2", kLines, 3, "O", out);
                eqn = out ? out : "";
            })) {
            EXPECT_EQ(hex, "F20DCD0DF2A7E7A7");
            EXPECT_EQ(eqn, "O = A0*~A1*~A2 + ~A0*~A1*A2 + A0*~A1*A2 + ~A0*A1*A2 + A0*A1*A2");
            return;
        }
        char* out = nullptr;
        EXPECT_EQ(e.gen_equatestr("F2", kLines, 3, "O", out), UT_EQUATE::STATUS_OK);
        EXPECT_STREQ(out, "O = A0*~A1*~A2 + ~A0*~A1*A2 + A0*~A1*A2 + ~A0*A1*A2 + A0*A1*A2");
    });
}

TEST(HeapFailures, ExpressionsEvaluateOrFailCleanly) {
    sweep([](const auto& attempt) {
        Util::Expression<int64_t> expr("(alpha + beta_long_name * 3) ^ 2 - gamma / 2");
        Util::Expression<int64_t>::VarMap vars{{"alpha", 1}, {"beta_long_name", 2}, {"gamma", 10}};
        int64_t v = 0;
        if (attempt([&] { v = expr(&vars); })) {
            EXPECT_EQ(v, 44);
            return;
        }
        EXPECT_EQ(expr(&vars), 44);
    });
}

// ---- memory that follows the bytes ------------------------------------------

TEST(HeapUse, ATextAnnouncedFromAPipeTakesMemoryOnlyAsItsBytesArrive) {
    // Sixteen bytes: a length of 2 GiB, then twelve characters of it.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const unsigned char announced[] = {0x00, 0x00, 0x00, 0x80, 'a', 'b', 'c', 'd',
                                       'e',  'f',  'g',  'h',  'i', 'j', 'k', 'l'};
    ASSERT_EQ(::write(ends[1], announced, sizeof announced), static_cast<ssize_t>(sizeof announced));
    ::close(ends[1]);
    Port::Stream in(Port::Stream::READ, 0);
    ASSERT_TRUE(in.open(("/dev/fd/" + std::to_string(ends[0])).c_str()));
    ::close(ends[0]);
    std::string text;
    largestRequest = 0;
    EXPECT_EQ(in.readstring(text, SIZE_MAX), 0u);
    EXPECT_EQ(in.geterror(), Port::Stream::ERR_CORRUPT);
    EXPECT_TRUE(text.empty());
    EXPECT_LT(largestRequest.load(), std::size_t{1} << 20);
    in.close();
}

}  // namespace
