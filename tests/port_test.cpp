// Tests of the platform layer: streams, text and path helpers, time, messages
// and the thread layer.
#include "TestSupport.h"

#include <PortEnv.h>
#include <PortHeap.h>
#include <PortStream.h>
#include <PortString.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>

namespace {

using UtilTest::slurp;
using UtilTest::spit;
using UtilTest::tempPath;

TEST(Stream, IntegersAndStringsAreLittleEndianWithALengthPrefixAndReadBackAtTheirBounds) {
    std::string path = tempPath("le");
    Port::Stream* out = Port::File::open(path.c_str(), Port::Stream::WRITE, true);
    ASSERT_NE(out, nullptr);
    out->writeint8(INT8_MIN);
    out->writeint16(INT16_MAX);
    out->writeint32(INT32_MIN);
    out->write(0xA0B0C0D0u);
    out->writestring("ab");
    out->writestring(nullptr);
    ASSERT_TRUE(Port::File::close(out));
    EXPECT_EQ(slurp(path), std::string("\x80\xFF\x7F\x00\x00\x00\x80\xD0\xC0\xB0\xA0"
                                       "\x02\x00\x00\x00"
                                       "ab"
                                       "\x00\x00\x00\x00",
                                       21));

    Port::Stream* in = Port::File::open(path.c_str(), Port::Stream::READ, true);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->readint8(), INT8_MIN);
    EXPECT_EQ(in->readint16(), INT16_MAX);
    int v = 0;
    EXPECT_EQ(in->readint32(&v), 1);
    EXPECT_EQ(v, INT32_MIN);
    unsigned u = 0;
    EXPECT_EQ(in->read(u), 1);
    EXPECT_EQ(u, 0xA0B0C0D0u);
    char buf[4] = "xyz";
    EXPECT_EQ(in->readstring(buf, sizeof buf), 2u);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(in->readstring(buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(in->geterror(), 0);
    EXPECT_EQ(in->read(u), 0);  // past the end
    EXPECT_EQ(in->geterror(), Port::Stream::ERR_EOF);
    Port::File::close(in);
}

TEST(Stream, ReadstringReportsATextThatDoesNotFitAndStaysInStep) {
    std::string path = tempPath("fit");
    {
        Port::Stream out(Port::Stream::WRITE, 16);
        ASSERT_TRUE(out.open(path.c_str()));
        out.writestring("abc");   // fits a 4-byte buffer exactly
        out.writestring("abcd");  // one too many
        out.writestring("none");  // no room at all
        out.writestring(std::string(2000, 'x').c_str());
        out.writeint32(77);
    }
    Port::Stream in(Port::Stream::READ, 16);
    ASSERT_TRUE(in.open(path.c_str()));
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(in.readstring(buf, 4), 3u);
    EXPECT_STREQ(buf, "abc");
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(in.readstring(buf, 4), 4u);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(buf[4], '#') << "wrote past max";
    EXPECT_EQ(in.readstring(buf, 0), 0u);
    EXPECT_EQ(buf[0], 'a') << "no room: nothing written";
    std::string text = "old";
    EXPECT_EQ(in.readstring(text, 100), 2000u) << "a std::string longer than max is skipped";
    EXPECT_EQ(text, "");
    EXPECT_EQ(in.readint32(), 77) << "the stream must move past the whole string";
    EXPECT_EQ(in.geterror(), 0);
}

TEST(Stream, CorruptOrTruncatedInputSetsTheErrorWithoutOverrun) {
    struct Case {
        const char* name;
        std::string bytes;
        int error;
    };
    const Case cases[] = {
        {"huge length",
         std::string("\xFF\xFF\xFF\x7F"
                     "abc",
                     7),
         Port::Stream::ERR_CORRUPT},
        {"length past end",
         std::string("\x05\x00\x00\x00"
                     "abc",
                     7),
         Port::Stream::ERR_CORRUPT},
        {"cut length", std::string("\x05\x00", 2), Port::Stream::ERR_EOF},
        {"empty file", std::string(), Port::Stream::ERR_EOF},
    };
    for (const Case& c : cases) {
        std::string path = tempPath("corrupt");
        spit(path, c.bytes);
        Port::Stream in(Port::Stream::READ, 64);
        ASSERT_TRUE(in.open(path.c_str()));
        char buf[4] = "zz";
        EXPECT_EQ(in.readstring(buf, sizeof buf), 0u) << c.name;
        EXPECT_STREQ(buf, "") << c.name;
        EXPECT_EQ(in.geterror(), c.error) << c.name;
        EXPECT_EQ(in.readint16(), 0) << c.name;
        EXPECT_NE(in.geterror(), 0) << c.name;
    }
}

// Positions within one stream are the buffer model's below.
TEST(Stream, ReopeningForWritingKeepsTheContentsAndANegativeSeekIsRefused) {
    std::string path = tempPath("pos");
    spit(path, std::string("\1\0\0\0\2\0\0\0", 8));
    Port::Stream* out = Port::File::open(path.c_str(), Port::Stream::WRITE, false);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(out->setfoffset(4));
    out->writeint32(9);
    EXPECT_TRUE(Port::File::close(out));
    EXPECT_EQ(slurp(path), std::string("\1\0\0\0\x09\0\0\0", 8));
    Port::Stream in(Port::Stream::READ, 0);
    ASSERT_TRUE(in.open(path.c_str()));
    EXPECT_FALSE(in.setfoffset(-1));
}

// The stream's own buffer at sizes that put its edges inside values, inside
// a blob and far below a blob (which then bypasses the buffer).
class StreamBuffer : public testing::TestWithParam<unsigned> {};

TEST_P(StreamBuffer, MixedWritesSeeksAndReadsMatchAByteModel) {
    std::string path = tempPath("buffer" + std::to_string(GetParam()));
    std::string model;
    auto put32 = [&model](std::size_t at, uint32_t v) {
        if (model.size() < at + 4)
            model.resize(at + 4);
        for (int i = 0; i < 4; ++i)
            model[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    };
    std::string blob(70000, '\0');
    for (std::size_t i = 0; i < blob.size(); ++i)
        blob[i] = static_cast<char>(i * 7);
    {
        Port::Stream out(Port::Stream::WRITE, GetParam());
        ASSERT_TRUE(out.open(path.c_str()));
        for (uint32_t i = 0; i < 1000; ++i)
            out.write(i), put32(4 * i, i);
        ASSERT_TRUE(out.writebytes(blob.data(), blob.size()));
        model += blob;
        out.writeint8(5);
        model += '\5';
        ASSERT_TRUE(out.setfoffset(6));  // back into bytes already written out
        out.write(0xDEADBEEF), put32(6, 0xDEADBEEF);
        EXPECT_EQ(out.getfoffset(), 10);
        ASSERT_TRUE(out.setfoffset(static_cast<int64_t>(model.size())));
        out.write(77), put32(model.size(), 77);
        ASSERT_TRUE(out.close());
    }
    ASSERT_EQ(slurp(path), model);

    Port::Stream in(Port::Stream::READ, GetParam());
    ASSERT_TRUE(in.open(path.c_str()));
    EXPECT_EQ(in.readint16(), 0);
    std::string got(4000, '\0');
    ASSERT_TRUE(in.readbytes(got.data(), got.size()));
    EXPECT_EQ(got, model.substr(2, 4000));
    constexpr int64_t kBlobAt = 2 + 4000;  // after the 16-bit value and the 4000 bytes read
    ASSERT_TRUE(in.setfoffset(kBlobAt));
    got.assign(blob.size(), '\0');
    ASSERT_TRUE(in.readbytes(got.data(), got.size()));
    EXPECT_EQ(got, model.substr(kBlobAt, blob.size()));
    EXPECT_EQ(in.getfoffset(), kBlobAt + static_cast<int64_t>(blob.size()));
    ASSERT_TRUE(in.setfoffset(6));  // behind what the buffer holds
    unsigned rewritten = 0;
    EXPECT_EQ(in.read(rewritten), 1);
    EXPECT_EQ(rewritten, 0xDEADBEEFu);
    EXPECT_EQ(in.getfoffset(), 10);
    ASSERT_TRUE(in.setfoffset(static_cast<int64_t>(model.size()) - 4));
    EXPECT_EQ(in.readint32(), 77);
    EXPECT_EQ(in.readint8(), 0);
    EXPECT_EQ(in.geterror(), Port::Stream::ERR_EOF);
    EXPECT_EQ(in.readint32(), 0);  // nothing is read until the error is cleared
    in.clearerror();
    ASSERT_TRUE(in.setfoffset(0));
    EXPECT_EQ(in.readint32(), 0);
}

INSTANTIATE_TEST_SUITE_P(SevenBytesAPageAndTheDefault, StreamBuffer, testing::Values(7u, 4096u, 0u));

TEST(Stream, OpeningMissingFilesOrDirectoriesFails) {
    std::string missing = tempPath("missing");
    EXPECT_EQ(Port::File::open(missing.c_str(), Port::Stream::READ, true), nullptr);
    EXPECT_EQ(Port::File::open(missing.c_str(), Port::Stream::WRITE, false), nullptr);
    EXPECT_EQ(Port::File::open(testing::TempDir().c_str(), Port::Stream::READ, true), nullptr);
    EXPECT_EQ(Port::File::open(testing::TempDir().c_str(), Port::Stream::WRITE, true), nullptr);
    Port::Stream s(Port::Stream::READ, 0);
    EXPECT_FALSE(s.open(testing::TempDir().c_str()));
    EXPECT_FALSE(s.isopen());
    EXPECT_EQ(s.readint32(), 0);
    EXPECT_EQ(s.geterror(), Port::Stream::ERR_NOTOPEN);
    EXPECT_TRUE(Port::File::canwrite(missing.c_str())) << "a new file in a writable directory";
    EXPECT_FALSE(Port::File::canwrite("/nonexistent/new.seg"));
    EXPECT_TRUE(Port::File::close(&Port::File::getCout())) << "standard output is flushed, never closed";
    EXPECT_TRUE(Port::File::getCout().writebytes("", 0));
}

TEST(StringBase, BehavesAsAStringAndFormats) {
    Port::StringBase<char> empty(static_cast<const char*>(nullptr));
    EXPECT_TRUE(empty.empty());
    Port::StringBase<char> s("ab");
    s += 'c';
    EXPECT_EQ(s, "abc");
    EXPECT_EQ(s.Format("%d-%s", 42, "x"), "42-x");
    EXPECT_EQ(Port::StringBase<char>::doFormat("%05u", 7u), "00007");
    EXPECT_EQ(Port::StringBase<char>::doFormat("%s", std::string(1000, 'q').c_str()).size(), 1000u);
}

TEST(UtStr, ComparisonsAndClassificationAreAsciiOnly) {
    EXPECT_EQ(UT_STR::ICompare("HeLLo", "hello"), 0);
    EXPECT_LT(UT_STR::ICompare("abc", "ABD"), 0);
    EXPECT_EQ(UT_STR::INCompare("abcX", "ABCy", 3), 0);
    EXPECT_NE(UT_STR::INCompare("abcX", "ABCy", 4), 0);
    EXPECT_EQ(UT_STR::Compare(nullptr, ""), 0);
    EXPECT_EQ(UT_STR::Len(nullptr), 0u);
    for (int c : {'0', '9', 'a', 'f', 'A', 'F'})
        EXPECT_TRUE(UT_STR::IsXDigit(c)) << c;
    for (int c : {'/', ':', '`', 'g', '@', 'G'})
        EXPECT_FALSE(UT_STR::IsXDigit(c)) << c;
    EXPECT_EQ(UT_STR::ToUpper('a'), 'A');
    EXPECT_EQ(UT_STR::ToUpper('z'), 'Z');
    EXPECT_EQ(UT_STR::ToUpper('{'), '{');
    for (int c : {0xE9, -23, 0xFF, 0x80}) {
        EXPECT_FALSE(UT_STR::IsAlpha(c)) << c;
        EXPECT_FALSE(UT_STR::IsAlnum(c)) << c;
        EXPECT_FALSE(UT_STR::IsSpace(c)) << c;
        EXPECT_FALSE(UT_STR::IsXDigit(c)) << c;
        EXPECT_EQ(UT_STR::ToUpper(c), c);
    }
    char small[4];
    EXPECT_EQ(UT_STR::SPrintf(small, sizeof small, "%s", "abcdef"), 6);
    EXPECT_STREQ(small, "abc");
}

TEST(UtPath, RootBaseAndExtension) {
    struct Case {
        const char* path;
        const char* root;
        const char* base;
        const char* ext;  // null: none
    };
    const Case cases[] = {
        {"dir/top.src", "dir/top", "top", "src"},
        {"dir.d/top", "dir.d/top", "top", nullptr},
        {"a\\b.c\\name.tar.gz", "a\\b.c\\name.tar", "name.tar", "gz"},
        {"plain", "plain", "plain", nullptr},
        {"file.", "file", "file", ""},
        {"", "", "", nullptr},
    };
    for (const Case& c : cases) {
        char buf[64];
        EXPECT_STREQ(UT_PATH::GetRoot(c.path, buf), c.root) << c.path;
        EXPECT_STREQ(UT_PATH::GetBase(c.path, nullptr), c.base) << c.path;
        const char* ext = UT_PATH::GetExt(c.path, buf);
        if (c.ext)
            EXPECT_STREQ(ext, c.ext) << c.path;
        else
            EXPECT_EQ(ext, nullptr) << c.path;
    }
}

TEST(UtTime, LocalTimeRoundTripsAndAscTimeNeverOverruns) {
    UtilTest::ScopedEnv tz("TZ", "UTC");
    tzset();
    auto tm = UT_TIME::LocalTime(86400 * 365);
    ASSERT_TRUE(tm.has_value());
    EXPECT_EQ(tm->tm_year, 71);
    EXPECT_EQ(UT_TIME::MkTime(*tm), 86400 * 365);
    EXPECT_STREQ(UT_TIME::AscTime(*tm), "Fri Jan  1 00:00:00 1971\n");
    UT_TIME::Tm odd = *tm;
    odd.tm_wday = 9;
    odd.tm_mon = -1;
    odd.tm_year = INT32_MAX;
    EXPECT_STREQ(UT_TIME::AscTime(odd), "??? ???  1 00:00:00 2147485547\n");
    EXPECT_FALSE(UT_TIME::LocalTime(INT64_MAX).has_value());
}

TEST(MsgMan, FatalReachesTheSinkThenThrowsWithCodeAndText) {
    UtilTest::CapturedReports captured;
    try {
        Port_MsgManData::createObject("Mod", "s/Unit.cpp", 12, "1.0").issueFatal(19, "bad %d\n", 7);
        FAIL() << "issueFatal returned";
    } catch (const Port::Exception& e) {
        auto* fatal = dynamic_cast<const Port::FatalError*>(&e);
        ASSERT_NE(fatal, nullptr);
        EXPECT_EQ(fatal->getCode(), 19);
        EXPECT_STREQ(e.what(), "bad 7\n");
        EXPECT_EQ(e.getLocalized(), L"bad 7\n");
    }
    auto seen = captured.messages();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, Port::MsgKind::Fatal);
    EXPECT_EQ(seen[0].module, "Mod");
    EXPECT_EQ(seen[0].file, "s/Unit.cpp");
    EXPECT_EQ(seen[0].line, 12);
    EXPECT_EQ(seen[0].revision, "1.0");
    EXPECT_EQ(seen[0].code, 19);
}

TEST(MsgMan, OtherKindsReturnAndTheDefaultSinkWritesOneLineEach) {
    {
        UtilTest::CapturedReports captured;
        auto obj = Port_MsgManData::createObject("M", "f", 1, "r");
        obj.issueError("e%s", "1");
        obj.issueWarning("w");
        obj.issueInternal("i");
        obj.issueStatus("s\n");
        auto seen = captured.messages();
        ASSERT_EQ(seen.size(), 4u);
        EXPECT_EQ(seen[0].kind, Port::MsgKind::Error);
        EXPECT_EQ(seen[0].text, "e1");
        EXPECT_EQ(seen[3].kind, Port::MsgKind::Status);
    }
    testing::internal::CaptureStderr();
    Port_MsgManData::createObject("Utilities", "s/X.cpp", 3, "1").issueStatus("hello\n");
    EXPECT_FALSE(Port::setMsgSink(nullptr));  // the default was in place
    try {
        Port_MsgManData::createObject("Utilities", "s/X.cpp", 4, "1").issueFatal(2, "boom\n");
    } catch (const Port::FatalError&) {
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "status Utilities [0] s/X.cpp:3: hello\nfatal Utilities [2] s/X.cpp:4: boom\n");
}

TEST(Thread, AFailingLockThrowsValue8AndLeavesTheMutexFree) {
    UtilTest::ThreadFailureReset reset;
    Port_ThrMutex m;
    Port::Thread::Testing::failNextLocks(1, 35);
    EXPECT_EQ(m.lock(), 35);
    Port::Thread::Testing::failNextLocks(1, 35);
    bool ran = false;
    try {
        Port_ThrGuard<Port_ThrMutex> g(m);
        ran = true;
    } catch (Port_ThrException::Exception value) {
        EXPECT_EQ(value, 8);
    }
    EXPECT_FALSE(ran);
    EXPECT_EQ(m.lock(), 0) << "the failed guard must not hold the lock";
    EXPECT_EQ(m.unlock(), 0);
}

std::atomic<int> cleaned{0};

TEST(Thread, SlotsArePerThreadAndCleanedUpAtThreadEnd) {
    Port_ThrThreadData<int> slot([](void* p) {
        delete static_cast<int*>(p);
        ++cleaned;
    });
    EXPECT_EQ(slot.getData(), nullptr);
    slot.setData(new int(1));
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            if (slot.getData() != nullptr)
                ++wrong;
            slot.setData(new int(t + 10));
            if (*slot.getData() != t + 10)
                ++wrong;
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(cleaned, 4);
    EXPECT_EQ(*slot.getData(), 1);
    delete slot.getData();
    slot.setData(nullptr);
}

}  // namespace
