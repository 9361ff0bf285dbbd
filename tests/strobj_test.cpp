// Tests of the character buffer and the pooled text values.
#include "TestSupport.h"

#include <UtilStrobj.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(CharBuffer, CapacityDoublesAndTheTextStaysTerminated) {
    EXPECT_EQ(UT_STRING(0).getcapacity(), 10);
    EXPECT_EQ(UT_STRING(5).getcapacity(), 10);
    EXPECT_EQ(UT_STRING(100).getcapacity(), 100);
    UT_STRING s(10);
    for (int i = 0; i < 11; ++i) {
        s.append(static_cast<char>('a' + i));
        EXPECT_EQ(s.getcapacity(), i < 10 ? 10 : 20);
    }
    EXPECT_STREQ(s.getbuf(), "abcdefghijk");
    s.append('\0');
    s.append("");
    s.append(static_cast<const char*>(nullptr));
    EXPECT_EQ(s.getlength(), 11);
    s.reset();
    EXPECT_STREQ(s.getbuf(), "");
    EXPECT_EQ(s.getcapacity(), 20);
    s.append(std::string(45, 'x').c_str());
    EXPECT_EQ(s.getcapacity(), 80);
    EXPECT_EQ(std::strlen(s.getbuf()), 45u);
}

TEST(TextValue, AppendConcatenateAndIndex) {
    UT_STROBJ ab("ab");
    EXPECT_STREQ(ab.append("cd"), "abcd");
    EXPECT_EQ(ab.getlength(), 4);
    UT_STROBJ none;
    EXPECT_EQ(none.append(nullptr), nullptr);
    EXPECT_EQ(none.getstring(), nullptr);
    EXPECT_STREQ(none.append("x"), "x");
    EXPECT_EQ((UT_STROBJ() + UT_STROBJ()).getstring(), nullptr);
    UT_STROBJ sum = UT_STROBJ("ab") + UT_STROBJ();
    EXPECT_STREQ(sum.getstring(), "ab");
    EXPECT_EQ(sum[1], 'b');
    EXPECT_FATAL(sum[2], 19, "Index out of bounds.\n");
    EXPECT_FATAL(sum[-1], 19, "Index out of bounds.\n");

    UT_STROBJ self("keep");
    const char* before = self.getstring();
    UT_STROBJ& alias = self;
    self = alias;
    EXPECT_EQ(self.getstring(), before);
    EXPECT_STREQ(self.getstring(), "keep");
    UT_STROBJ copy(self);
    copy[0] = 'p';
    EXPECT_STREQ(self.getstring(), "keep");
    copy = UT_STROBJ();
    EXPECT_EQ(copy.getstring(), nullptr);
}

TEST(TextValue, NoTextOrdersBeforeEveryText) {
    UT_STROBJ none, empty(""), a("a"), b("b");
    EXPECT_TRUE(none == UT_STROBJ());
    EXPECT_TRUE(none < empty);
    EXPECT_TRUE(empty > none);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(UT_STROBJ("a") == a);
    EXPECT_TRUE(b >= a && a <= a);
}

// A derived class larger than a pool element comes from the general heap.
struct Bigger : UT_STROBJ {
    explicit Bigger(const char* s) : UT_STROBJ(s) {}
    char extra[64] = {};
};

TEST(TextValue, ObjectsMadeAndDestroyedOnSeveralThreads) {
    auto* big = new Bigger("big");
    big->extra[63] = 1;
    delete big;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 2000; ++i) {
                auto* s = new UT_STROBJ("thread");
                s->append(t % 2 ? "odd" : "even");
                UT_STROBJ* copy = new UT_STROBJ(*s);
                ASSERT_EQ(*copy, *s);
                delete s;
                delete copy;
            }
        });
    for (auto& th : threads)
        th.join();
}

}  // namespace
