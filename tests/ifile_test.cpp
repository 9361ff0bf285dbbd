// Tests of the segmented file: exact layout, round trips, bad files, failed writes.
#include "Crafted.h"
#include "TestSupport.h"

#include <UtilIfile.h>

#include <PortStream.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Segments = std::vector<std::pair<std::string, std::string>>;

// The file's layout: a header of kHeader bytes (version, revision, data
// version, data revision, the 16-bit segment count, then the directory's
// position at kDirectoryAt), the segments' bytes, then the directory: per
// entry a length-prefixed name and four 32-bit fields.
constexpr int kHeader = UT_IFILE_IMP::kHeaderBytes;
constexpr int kDirectoryAt = 6;
constexpr int kLengthBytes = 4;
constexpr int kFieldBytes = 4;

using UtilTest::Crafted::le32;

std::string dirEntry(const std::string& name, int offset, int size, int type, int data) {
    return le32(static_cast<int>(name.size())) + name + le32(offset) + le32(size) + le32(type) + le32(data);
}

void putSegment(UT_IFILE& f, const std::string& name, const std::string& bytes, int type = 0) {
    Port::Stream* s = f.putdataseg(const_cast<char*>(name.c_str()), type, 7);
    ASSERT_NE(s, nullptr);
    s->writebytes(bytes.data(), bytes.size());
    EXPECT_EQ(f.enddataseg(), 1);
}

using UtilTest::segmentOf;

class SegmentedFile : public testing::TestWithParam<unsigned char> {};  // file cache on/off

TEST_P(SegmentedFile, EmptyFileIsExactlyTheHeader) {
    std::string path = UtilTest::tempPath("empty.seg");
    UT_IFILE f;
    f.setfilecache(GetParam());
    ASSERT_EQ(f.create(path.c_str()), 1);
    f.setdataversion(5);
    f.setdatarevision(6);
    ASSERT_EQ(f.unload(), 1);
    EXPECT_EQ(UtilTest::slurp(path), std::string("\2\0\5\6\0\0", 6) + le32(kHeader) + std::string(kHeader - 10, '\0'));
}

TEST_P(SegmentedFile, SegmentsFollowTheHeaderAndTheDirectoryFollowsThem) {
    std::string path = UtilTest::tempPath("ab.seg");
    UT_IFILE f;
    f.setfilecache(GetParam());
    ASSERT_EQ(f.create(path.c_str()), 1);
    putSegment(f, "A", std::string(10, 'a'), 1);
    putSegment(f, "B", std::string(20, 'b'), 2);
    EXPECT_EQ(f.getdataseg(const_cast<char*>("A"), -1, nullptr), nullptr);  // not while writing
    ASSERT_EQ(f.unload(), 1);
    std::string bytes = UtilTest::slurp(path);
    constexpr int kB = kHeader + 10, kDirectory = kB + 20;  // where B and the directory start
    EXPECT_EQ(bytes.substr(4, 6), std::string("\2\0", 2) + le32(kDirectory));
    EXPECT_EQ(bytes.substr(kHeader, 30), std::string(10, 'a') + std::string(20, 'b'));
    EXPECT_EQ(bytes.substr(kDirectory), dirEntry("A", kHeader, 10, 1, 7) + dirEntry("B", kB, 20, 2, 7));

    UT_IFILE r;
    r.setfilecache(GetParam());
    ASSERT_EQ(r.load(path.c_str()), 1);
    EXPECT_EQ(r.getnumsegs(), 2);
    EXPECT_EQ(r.putdataseg(const_cast<char*>("C"), 0, 0), nullptr);  // not while reading
    EXPECT_EQ(segmentOf(r, "B"), std::string(20, 'b'));
    EXPECT_EQ(r.getdataseg(const_cast<char*>("B"), 1, nullptr), nullptr);  // another type
    EXPECT_NE(r.getdataseg(const_cast<char*>("B"), 2, nullptr), nullptr);
    r.enddataseg();
    UT_IFILESEGINFO info;
    EXPECT_EQ(r.getseginfo(-1, info), 0);
    EXPECT_STREQ(info.getname(), "");
    EXPECT_EQ(r.getseginfo(2, info), 0);
    EXPECT_EQ(r.getseginfo(0, info), 1);
    EXPECT_EQ(r.getnextseginfo(info), 1);
    EXPECT_EQ(info.getName(), "B");
    EXPECT_EQ(info.getsize(), 20);
    EXPECT_EQ(r.getnextseginfo(info), 0);
    EXPECT_EQ(r.unload(), 1);
}

TEST_P(SegmentedFile, RewritingAMiddleSegmentKeepsEveryOtherOne) {
    std::string path = UtilTest::tempPath("rewrite.seg");
    Segments want = {
        {"first", std::string(100, '1')}, {"middle", std::string(50, '2')}, {"last", std::string(30, '3')}};
    {
        UT_IFILE f;
        f.setfilecache(GetParam());
        ASSERT_EQ(f.create(path.c_str()), 1);
        for (const auto& [name, bytes] : want)
            putSegment(f, name, bytes);
        want[1].second = std::string(500, 'M');
        putSegment(f, "middle", want[1].second);
        ASSERT_EQ(f.unload(), 1);
    }
    UT_IFILE r;
    r.setfilecache(GetParam());
    ASSERT_EQ(r.load(path.c_str()), 1);
    UT_IFILESEGINFO info;
    ASSERT_EQ(r.getseginfo(1, info), 1);
    EXPECT_EQ(info.getName(), "middle");  // it keeps its place in the directory
    for (const auto& [name, bytes] : want)
        EXPECT_EQ(segmentOf(r, name), bytes) << name;
}

INSTANTIATE_TEST_SUITE_P(FileCache, SegmentedFile, testing::Values(1, 0));

int openFiles() {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        n += entry.is_symlink() ? 1 : 0;
    return n;
}

class KeepGoing : public UT_IFILE {
public:
    void version_mismatch(unsigned char v) override { seen = v; }
    void openerror() override { ++openErrors; }
    int seen = -1;
    int openErrors = 0;
};

std::string header(int version, int revision, int count, int position) {
    std::string h = std::string{static_cast<char>(version),      static_cast<char>(revision),           0, 0,
                                static_cast<char>(count & 0xff), static_cast<char>((count >> 8) & 0xff)} +
                    le32(position);
    return h + std::string(kHeader - h.size(), '\0');
}

TEST_P(SegmentedFile, ACountPatchedInAtItsStartKeepsTheWholeSegment) {
    std::string path = UtilTest::tempPath("patched.seg");
    UT_IFILE f;
    f.setfilecache(GetParam());
    ASSERT_EQ(f.create(path.c_str()), 1);
    const std::string data(1000, 'd');
    Port::Stream* s = f.putdataseg(const_cast<char*>("counted"), 0, 0);
    ASSERT_NE(s, nullptr);
    const int64_t start = s->getfoffset();
    s->writeint32(0);  // the count's place, filled in once the data is written
    s->writebytes(data.data(), data.size());
    ASSERT_TRUE(s->setfoffset(start));
    s->writeint32(1000);
    EXPECT_EQ(f.enddataseg(), 1);
    putSegment(f, "after", std::string(10, 'a'));
    ASSERT_EQ(f.unload(), 1);
    UT_IFILE back;
    ASSERT_EQ(back.load(path.c_str()), 1);
    EXPECT_EQ(segmentOf(back, "counted"), le32(1000) + data);
    EXPECT_EQ(segmentOf(back, "after"), std::string(10, 'a'));
}

TEST(SegmentedFileDirectory, WalksByIndexAndByCursorAgreeOverTheLargestDirectory) {
    std::string path = UtilTest::tempPath("walk.seg");
    const int n = UT_IFILE_IMP::kMaxSegments;
    {
        UT_IFILE f;
        ASSERT_EQ(f.create(path.c_str()), 1);
        for (int i = 0; i < n; ++i) {
            std::string name = UtilTest::numbered("s", i);
            ASSERT_NE(f.putdataseg(name.data(), i, -i), nullptr);
            f.enddataseg();
        }
        EXPECT_FATAL(f.putdataseg(const_cast<char*>("one_more"), 0, 0), 1,
                     "Too many segments found <" + std::to_string(n + 1) + ">\n");
        ASSERT_EQ(f.unload(), 1);
    }
    UT_IFILE f;
    ASSERT_EQ(f.load(path.c_str()), 1);
    UT_IFILESEGINFO info;
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(f.getseginfo(i, info), 1);
        ASSERT_EQ(info.getName(), UtilTest::numbered("s", i));
        ASSERT_EQ(info.getdata(), -i);
    }
    // The cursor is left on the entry asked for, whichever way it got there.
    EXPECT_EQ(f.getseginfo(7, info), 1);
    EXPECT_EQ(f.getnextseginfo(info), 1);
    EXPECT_EQ(info.getName(), "s8");
    EXPECT_EQ(f.getseginfo(3, info), 1);
    EXPECT_EQ(f.getnextseginfo(info), 1);
    EXPECT_EQ(info.getName(), "s4");
    EXPECT_EQ(f.getseginfo(n, info), 0);
    EXPECT_EQ(f.getnextseginfo(info), 1) << "a refused index rewinds the cursor";
    EXPECT_EQ(info.getName(), "s0");
    f.resetseginfo();
    int walked = 0;
    while (f.getnextseginfo(info))
        ++walked;
    EXPECT_EQ(walked, n);
    EXPECT_EQ(f.getnextseginfo(info), 0);
    EXPECT_EQ(info.getName(), "") << "the end sets the empty name";
    EXPECT_EQ(f.getseginfo(n - 1, info), 1) << "from past the end, an index starts again";
    EXPECT_EQ(info.getName(), UtilTest::numbered("s", n - 1));
    f.unload();
    std::remove(path.c_str());
}

// A look-up finds the last entry of its name, whatever order the names are
// asked in: in directory order (which a reader usually takes), backwards and
// shuffled; with and without a second entry of one name.
TEST(SegmentedFileDirectory, ALookUpFindsTheLastEntryOfItsNameInAnyOrder) {
    std::string path = UtilTest::tempPath("lookup.seg");
    const int n = 3000;
    for (bool twice : {false, true}) {
        std::vector<std::string> names;
        {
            UT_IFILE f;
            ASSERT_EQ(f.create(path.c_str()), 1);
            for (int i = 0; i < n; ++i) {
                names.push_back(UtilTest::numbered("seg", i));
                ASSERT_NE(f.putdataseg(names.back().data(), i, 0), nullptr);
                f.enddataseg();
            }
            if (twice) {
                ASSERT_NE(f.newfdir(names[5].data(), -1, 0), nullptr);
            }
            ASSERT_NE(f.putdataseg(names[9].data(), -9, 0), nullptr);  // the entry is reused
            f.enddataseg();
            ASSERT_EQ(f.unload(), 1);
        }
        auto expected = [&](int i) { return i == 9 ? -9 : (twice && i == 5) ? -1 : i; };
        std::vector<int> order(n);
        for (int i = 0; i < n; ++i)
            order[i] = i;
        std::vector<std::vector<int>> orders{order, {order.rbegin(), order.rend()}, order};
        std::shuffle(orders[2].begin(), orders[2].end(), std::mt19937(17));
        UT_IFILE f;
        ASSERT_EQ(f.load(path.c_str()), 1);
        EXPECT_EQ(f.getnumsegs(), twice ? n + 1 : n);
        UT_IFILESEGINFO info;
        for (const auto& o : orders)
            for (int i : o) {
                ASSERT_NE(f.getdataseg(names[i].data(), -1, &info), nullptr) << names[i];
                ASSERT_EQ(info.gettype(), expected(i)) << names[i];
                f.enddataseg();
            }
        EXPECT_EQ(f.getdataseg(const_cast<char*>("seg"), -1, nullptr), nullptr);
        f.unload();
    }
    std::remove(path.c_str());
}

TEST(SegmentedFileChecks, AnotherVersionIsFatalCode2UnlessTheHookReturns) {
    std::string path = UtilTest::tempPath("versions.seg");
    UtilTest::spit(path, header(3, 0, 0, kHeader));
    UT_IFILE f;
    EXPECT_FATAL(f.load(path.c_str()), 2,
                 "Incompatible versions. Version 3 does not match current version 2 for file \"" + path + "\".\n");
    KeepGoing k;
    EXPECT_EQ(k.load(path.c_str()), 0);
    EXPECT_EQ(k.seen, 3);
}

TEST(SegmentedFileChecks, AnotherRevisionIsOnlyAWarning) {
    std::string path = UtilTest::tempPath("revision.seg");
    UtilTest::spit(path, header(2, 1, 0, kHeader));
    UT_IFILE f;
    UtilTest::CapturedReports seen;
    EXPECT_EQ(f.load(path.c_str()), 1);
    ASSERT_EQ(seen.messages().size(), 1u);
    EXPECT_EQ(seen.messages()[0].kind, Port::MsgKind::Warning);
    EXPECT_EQ(seen.messages()[0].text, "Revision 1 does not match current revision 0 for file \"" + path + "\".\n");
    f.unload();
}

TEST(SegmentedFileChecks, AFileTooShortForItsVersionIsAnError) {
    std::string path = UtilTest::tempPath("short.seg");
    UtilTest::spit(path, "\2");
    UT_IFILE f;
    UtilTest::CapturedReports seen;
    EXPECT_EQ(f.load(path.c_str()), 0);
    EXPECT_EQ(seen.messages().at(0).kind, Port::MsgKind::Error);
    EXPECT_EQ(seen.messages()[0].text, "Cannot get version from file \"" + path + "\".\n");
}

TEST(SegmentedFileChecks, LoadingWithoutUnloadingLetsTheEarlierFileGoWithAWarning) {
    std::string path = UtilTest::tempPath("twice.seg");
    UtilTest::spit(path, header(2, 0, 0, kHeader));
    UT_IFILE f;
    ASSERT_EQ(f.load(path.c_str()), 1);
    UtilTest::CapturedReports seen;
    EXPECT_EQ(f.load(path.c_str()), 1);
    ASSERT_EQ(seen.messages().size(), 1u);
    EXPECT_EQ(seen.messages()[0].text,
              "File \"" + path + "\" was not closed before file \"" + path + "\" was opened\n");
    f.unload();
}

TEST(SegmentedFileChecks, TheLargestSegmentCountLoads) {
    std::string path = UtilTest::tempPath("most.seg");
    std::string most = header(2, 0, UT_IFILE_IMP::kMaxSegments, kHeader);
    for (int i = 0; i < UT_IFILE_IMP::kMaxSegments; ++i)
        most += dirEntry("", kHeader, 0, 0, 0);
    UtilTest::spit(path, most);
    UT_IFILE f;
    EXPECT_EQ(f.load(path.c_str()), 1);
    EXPECT_EQ(f.getnumsegs(), UT_IFILE_IMP::kMaxSegments);
    f.unload();
}

TEST(SegmentedFileChecks, ACountAboveTheLargestOrNegativeIsFatalCode1) {
    std::string path = UtilTest::tempPath("counts.seg");
    UT_IFILE f;
    for (int count : {UT_IFILE_IMP::kMaxSegments + 1, -1}) {
        UtilTest::spit(path, header(2, 0, count, kHeader));
        EXPECT_FATAL(
            f.load(path.c_str()), 1,
            "Bad number of segments found\n   numsegs=" + std::to_string(count) + ".  Cannot load file " + path + "\n");
        f.unload();
    }
}

// A file of two segments, "alpha" (10 bytes) and "beta" (3 bytes), and where
// its fields lie.
class BadFiles : public testing::Test {
protected:
    static constexpr int kAlphaBytes = 10;
    static constexpr int kBetaBytes = 3;
    static constexpr int kDirectory = kHeader + kAlphaBytes + kBetaBytes;  // the directory follows the data
    static constexpr int kAlphaName = kDirectory + kLengthBytes;           // after the name's length
    static constexpr int kAlphaSize = kAlphaName + 5 + kFieldBytes;        // after "alpha" and its offset

    void SetUp() override {
        std::string path = UtilTest::tempPath("good.seg");
        UT_IFILE f;
        ASSERT_EQ(f.create(path.c_str()), 1);
        putSegment(f, "alpha", std::string(kAlphaBytes, 'a'));
        putSegment(f, "beta", std::string(kBetaBytes, 'b'));
        ASSERT_EQ(f.unload(), 1);
        good = UtilTest::slurp(path);
        ASSERT_EQ(good.substr(kAlphaName, 5), "alpha");
    }

    // Whether `bytes` load; a refused load leaves no directory behind.
    bool loads(const std::string& bytes) {
        UtilTest::spit(bad, bytes);
        UtilTest::CapturedReports quiet;
        UT_IFILE f;
        unsigned char ok = f.load(bad.c_str());
        EXPECT_EQ(f.getnumsegs(), ok ? 2 : 0);
        return ok;
    }

    std::string with(int at, const std::string& bytes) const {
        std::string out = good;
        out.replace(static_cast<std::size_t>(at), bytes.size(), bytes);
        return out;
    }

    std::string good;
    std::string bad = UtilTest::tempPath("bad.seg");
};

TEST_F(BadFiles, TheGoodFileLoads) { EXPECT_TRUE(loads(good)); }

TEST_F(BadFiles, EveryTruncationIsRefusedAndClosesItsStream) {
    const int fds = openFiles();
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(loads(good.substr(0, cut))) << "cut at " << cut;
    EXPECT_EQ(openFiles(), fds);
}

TEST_F(BadFiles, ADirectoryPositionOutsideTheFileOrInsideTheHeaderIsRefused) {
    EXPECT_FALSE(loads(with(kDirectoryAt, le32(99999))));
    EXPECT_FALSE(loads(with(kDirectoryAt, le32(kHeader - 1))));
}

TEST_F(BadFiles, ASegmentReachingPastTheEndIsRefused) { EXPECT_FALSE(loads(with(kAlphaSize, le32(1000)))); }

TEST_F(BadFiles, ANameWithAZeroByteIsRefused) { EXPECT_FALSE(loads(with(kAlphaName + 2, std::string(1, '\0')))); }

TEST_F(BadFiles, ANameOf256CharactersIsRefused) {
    EXPECT_FALSE(
        loads(header(2, 0, 1, kHeader) + dirEntry(std::string(UT_IFILE_IMP::kNameRoom, 'n'), kHeader, 0, 0, 0)));
}

TEST(SegmentedFileMisuse, UnloadWithoutAFileIsAnError) {
    UT_IFILE f;
    EXPECT_EQ(f.enddataseg(), 0);
    UtilTest::CapturedReports seen;
    EXPECT_EQ(f.unload(), 0);
    ASSERT_EQ(seen.messages().size(), 1u);
    EXPECT_EQ(seen.messages()[0].text, "No file is open to unload.\n");
}

TEST(SegmentedFileMisuse, FailedOpensAreFatalWithTheCodeOfTheirAccess) {
    UtilTest::CapturedReports quiet;
    std::string dir = testing::TempDir();
    UT_IFILE a, b;
    EXPECT_FATAL(a.create(dir.c_str()), 4, "Unable to open file \"" + dir + "\" for output.\n");
    EXPECT_FATAL(b.load("/nonexistent/file.seg"), 3, "Unable to open file \"/nonexistent/file.seg\" for input.\n");
    a.unload();
    b.unload();
    KeepGoing k;  // the hook returns: the open still fails
    EXPECT_EQ(k.create(dir.c_str()), 0);
    EXPECT_EQ(k.load("/nonexistent/file.seg"), 0);
    EXPECT_EQ(k.openErrors, 2);
}

TEST(SegmentedFileMisuse, AFullDiskFailsCreateAndUnload) {
    UtilTest::CapturedReports seen;
    UT_IFILE f;
    EXPECT_EQ(f.create("/dev/full"), 0);
    EXPECT_EQ(seen.messages().back().text, "Cannot write file \"/dev/full\".\n");
    EXPECT_EQ(f.unload(), 0);
}

TEST(SegmentedFileMisuse, EndingASegmentNeverBegunIsRefused) {
    std::string path = UtilTest::tempPath("unbegun.seg");
    UT_IFILE f;
    ASSERT_EQ(f.create(path.c_str()), 1);
    EXPECT_EQ(f.enddataseg(), 0);
    EXPECT_EQ(f.unload(), 1);
}

TEST(SegmentedFileMisuse, ASegmentNameOf256CharactersIsRefusedByBothWaysIn) {
    std::string path = UtilTest::tempPath("longname.seg");
    UT_IFILE f;
    ASSERT_EQ(f.create(path.c_str()), 1);
    putSegment(f, "kept", std::string(10, 'k'));
    std::string tooLong(UT_IFILE_IMP::kNameRoom, 'x');
    const std::string report = "Segment name \"" + tooLong + "\" is longer than 255 characters.\n";
    {
        UtilTest::CapturedReports seen;
        EXPECT_EQ(f.putdataseg(tooLong.data(), 0, 0), nullptr);
        EXPECT_EQ(f.newfdir(tooLong.data(), 0, 0), nullptr);
        ASSERT_EQ(seen.messages().size(), 2u);
        EXPECT_EQ(seen.messages()[0].text, report);
        EXPECT_EQ(seen.messages()[1].text, report);
    }
    EXPECT_EQ(f.getnumsegs(), 1);
    ASSERT_EQ(f.unload(), 1);
    UT_IFILE back;
    ASSERT_EQ(back.load(path.c_str()), 1);
    EXPECT_EQ(segmentOf(back, "kept"), std::string(10, 'k'));
}

TEST(SegmentedFileMisuse, CreatingAnotherFileLetsTheFirstGoWithAWarning) {
    std::string path = UtilTest::tempPath("first.seg");
    UT_IFILE f;
    ASSERT_EQ(f.create(path.c_str()), 1);
    putSegment(f, "kept", "bytes");
    UtilTest::CapturedReports seen;
    ASSERT_EQ(f.create(UtilTest::tempPath("other.seg").c_str()), 1);
    EXPECT_EQ(seen.messages().at(0).kind, Port::MsgKind::Warning);
    EXPECT_EQ(f.getnumsegs(), 0);
    EXPECT_EQ(f.unload(), 1);
}

TEST(SegmentedFileMisuse, DestroyingAFileBeingWrittenWarns) {
    std::string path = UtilTest::tempPath("open.seg");
    auto* open = new UT_IFILE;
    ASSERT_EQ(open->create(path.c_str()), 1);
    UtilTest::CapturedReports seen;
    delete open;
    ASSERT_EQ(seen.messages().size(), 1u);
    EXPECT_EQ(seen.messages()[0].text, "UT_IFILE destroyed but file \"" + path + "\" not closed.\n");
}

}  // namespace
