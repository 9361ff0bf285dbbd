// The file formats byte for byte on every host: each test writes a file and
// compares it with the one committed in tests/data (written on x86-64), then
// reads the committed one back. Run with UTIL_WRITE_REFERENCE=1 to write the
// committed files anew (after a deliberate change of a format only).
#include "TestSupport.h"

#include <UtilCname.h>
#include <UtilIfile.h>
#include <UtilNameCache.h>
#include <UtilPtrfile.h>

#include <PortEnv.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> kNames = {"top", "u_core/clk", "a", "net_with_a_rather_long_name", "bus[31]"};

std::string reference(const char* name) { return std::string(UTIL_TEST_DATA) + "/" + name; }

// Whether the file written here is the committed one.
void matchesReference(const std::string& written, const char* name) {
    if (Port_Env::GetEnv("UTIL_WRITE_REFERENCE"))
        UtilTest::spit(reference(name), UtilTest::slurp(written));
    const std::string bytes = UtilTest::slurp(reference(name));
    ASSERT_FALSE(bytes.empty()) << name;
    EXPECT_EQ(UtilTest::slurp(written), bytes) << name;
}

TEST(Formats, ASegmentedFileIsTheSameOnEveryHost) {
    const std::string path = UtilTest::tempPath("formats.seg");
    {
        UT_IFILE out;
        ASSERT_EQ(out.create(path.c_str()), 1);
        out.setdataversion(3);
        out.setdatarevision(4);
        Port::Stream* s = out.putdataseg(const_cast<char*>("numbers"), 1, -2);
        s->writeint8(-1);
        s->writeint16(-2);
        s->writeint32(INT32_MIN);
        s->write(0x01020304u);
        ASSERT_EQ(out.enddataseg(), 1);
        s = out.putdataseg(const_cast<char*>("texts"), 2, 7);
        for (const auto& n : kNames)
            s->writestring(n.c_str());
        ASSERT_EQ(out.enddataseg(), 1);
        ASSERT_EQ(out.unload(), 1);
    }
    matchesReference(path, "segmented.seg");
    UT_IFILE in;
    ASSERT_EQ(in.load(reference("segmented.seg").c_str()), 1);
    EXPECT_EQ(in.getdataversion(), 3);
    UT_IFILESEGINFO info;
    Port::Stream* s = in.getdataseg(const_cast<char*>("numbers"), 1, &info);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(info.getdata(), -2);
    EXPECT_EQ(s->readint8(), -1);
    EXPECT_EQ(s->readint16(), -2);
    EXPECT_EQ(s->readint32(), INT32_MIN);
    EXPECT_EQ(s->readint32(), 0x01020304);
    s = in.getdataseg(const_cast<char*>("texts"), -1, nullptr);
    ASSERT_NE(s, nullptr);
    for (const auto& n : kNames) {
        std::string text;
        s->readstring(text, 1000);
        EXPECT_EQ(text, n);
    }
    EXPECT_EQ(in.unload(), 1);
}

TEST(Formats, APointerFileIsTheSameOnEveryHost) {
    struct Node {
        Node* next;
        int value;
    };
    const std::string path = UtilTest::tempPath("formats.ptr");
    {
        Node c{nullptr, 3}, b{&c, 2}, a{&b, 1};
        UT_PTRFILE out(Port::Stream::WRITE);
        ASSERT_TRUE(out.open(path.c_str()));
        for (const Node* n : {&a, &b, &c}) {
            out.writeptr(n);
            out.writeptr(n->next);
            out.writeint32(n->value);
        }
        ASSERT_TRUE(out.close());
    }
    matchesReference(path, "pointers.ptr");
    UT_PTRFILE in(Port::Stream::READ);
    ASSERT_TRUE(in.open(reference("pointers.ptr").c_str()));
    std::vector<Node> back(3);
    for (Node& n : back) {
        void* self = nullptr;
        void* next = nullptr;
        in.readptr(self);
        in.readptr(next);
        n.value = in.readint32();
        in.registerptr(self, &n);
        n.next = static_cast<Node*>(next);
        in.fixptr(reinterpret_cast<void**>(&n.next));
    }
    EXPECT_EQ(in.checkptrs(), nullptr);
    EXPECT_EQ(back[0].next, &back[1]);
    EXPECT_EQ(back[1].next, &back[2]);
    EXPECT_EQ(back[2].next, nullptr);
    EXPECT_EQ(back[2].value, 3);
}

template <class CacheT>
void nameImageIsTheSameOnEveryHost(const char* name) {
    const std::string path = UtilTest::tempPath(name);
    {
        CacheT cache;
        for (std::size_t i = 0; i < kNames.size(); ++i)
            cache.add(kNames[i].c_str(), static_cast<int>(i + 1));
        UT_PTRFILE out(Port::Stream::WRITE);
        ASSERT_TRUE(out.open(path.c_str()));
        cache.write(&out, 0);
        ASSERT_TRUE(out.close());
    }
    matchesReference(path, name);
    CacheT back;
    UT_PTRFILE in(Port::Stream::READ);
    ASSERT_TRUE(in.open(reference(name).c_str()));
    back.read(&in);
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        ASSERT_NE(back.find(kNames[i].c_str()), nullptr) << kNames[i];
        EXPECT_EQ(back.find(kNames[i].c_str())->getRefCount(), static_cast<int>(i + 1));
    }
}

TEST(Formats, TheTreeCachesNameImageIsTheSameOnEveryHost) { nameImageIsTheSameOnEveryHost<UT_NCH_CACHE>("tree.names"); }
TEST(Formats, TheMapCachesNameImageIsTheSameOnEveryHost) {
    nameImageIsTheSameOnEveryHost<Util::NameCache::Cache>("map.names");
}

}  // namespace
