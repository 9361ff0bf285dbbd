// Write-failure sweeps: the K-th write, seek, sync or close fails, for every
// K, while a file is written. A writer that reports success must leave a file
// that reads back whole.
#include "FaultSupport.h"
#include "TestSupport.h"

#include <UtilIfile.h>
#include <UtilPtrfile.h>

#include <PortStream.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

// With every call failing in turn (once, or onward with `sticky`), `write`
// never reports success after a failure. Each test then reads back what the
// last, unfailed run wrote.
void expectHonestWrites(bool sticky, const std::function<bool()>& write) {
    UtilTest::sweep(sticky, write, [&](bool ok, long k) {
        EXPECT_FALSE(ok) << "a failed call K=" << k << " was reported as success";
    });
}

// ---- segmented files -------------------------------------------------------

constexpr int kSegments = 5;
constexpr std::size_t kSegmentBytes = 6000;

std::string segmentBytes(int i) {
    std::string bytes(kSegmentBytes, '\0');
    for (std::size_t j = 0; j < bytes.size(); ++j)
        bytes[j] = static_cast<char>('a' + (i * 7 + j) % 26);
    return bytes;
}

bool writeSegments(const std::string& path, unsigned char cache) {
    UT_IFILE f;
    f.setfilecache(cache);
    bool ok = f.create(path.c_str());
    for (int i = 0; ok && i < kSegments; ++i) {
        std::string name = UtilTest::numbered("seg", i);
        Port::Stream* s = f.putdataseg(name.data(), i, i * 10);
        std::string bytes = segmentBytes(i);
        ok = s && s->writebytes(bytes.data(), bytes.size());
        ok = f.enddataseg() && ok;
    }
    // unload is called whatever happened before: it must not turn a failure
    // into a success.
    bool unloaded = f.getfname() && f.unload();
    return ok && unloaded;
}

bool segmentsReadBack(const std::string& path) {
    UtilTest::CapturedReports quiet;
    UT_IFILE f;
    try {
        if (!f.load(path.c_str()) || f.getnumsegs() != kSegments)
            return false;
    } catch (const Port::FatalError&) {
        return false;
    }
    for (int i = 0; i < kSegments; ++i) {
        UT_IFILESEGINFO info;
        if (UtilTest::segmentOf(f, UtilTest::numbered("seg", i), i, &info) != segmentBytes(i) ||
            info.getdata() != i * 10)
            return false;
    }
    return f.unload();
}

class SegmentedFileWrites : public testing::TestWithParam<std::tuple<unsigned char, bool>> {};

TEST_P(SegmentedFileWrites, ReportSuccessOnlyForAFileThatReadsBack) {
    // Plain locals: structured bindings cannot be captured before clang 16.
    const unsigned char cache = std::get<0>(GetParam());
    const bool sticky = std::get<1>(GetParam());
    std::string path = UtilTest::tempPath("sweep.seg");
    expectHonestWrites(sticky, [&] { return writeSegments(path, cache); });
    EXPECT_TRUE(segmentsReadBack(path));
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(CacheOnOffOnceOrOnward, SegmentedFileWrites,
                         testing::Combine(testing::Values<unsigned char>(1, 0), testing::Bool()));

// ---- pointer files (and so name images, which are records in one) ----------

using UtilTest::writePtrfile;

TEST(PointerFileWrites, ReportSuccessOnlyForAFileThatReadsBack) {
    std::string path = UtilTest::tempPath("sweep.ptr");
    std::vector<int> objects(3000);
    auto write = [&](UT_PTRFILE& f) {
        for (std::size_t i = 0; i < objects.size(); ++i) {
            f.writeptr(&objects[i]);
            f.writeint32(static_cast<int32_t>(i));
            f.writeptr(&objects[(i * 17) % objects.size()]);
            f.writestring(UtilTest::numbered("net_", static_cast<long long>(i)).c_str());
        }
    };
    auto readsBack = [&] {
        UT_PTRFILE in(Port::Stream::READ);
        if (!in.open(path.c_str()))
            return false;
        for (std::size_t i = 0; i < objects.size(); ++i) {
            void* a = nullptr;
            void* b = nullptr;
            in.readptr(a);
            int32_t v = in.readint32();
            in.readptr(b);
            std::string text;
            in.readstring(text, 100);
            if (in.geterror() || v != static_cast<int32_t>(i) || text != UtilTest::numbered("net_", i))
                return false;
        }
        in.readint8();
        return in.geterror() != 0;  // nothing after the last record
    };
    for (bool sticky : {false, true})
        expectHonestWrites(sticky, [&] { return writePtrfile(path, write); });
    EXPECT_TRUE(readsBack());
    std::remove(path.c_str());
}

}  // namespace
