// Tests of the pointer-fixing stream: identities on disk and fix-ups on reading.
#include "TestSupport.h"

#include <UtilPtrfile.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void* id(uintptr_t n) { return reinterpret_cast<void*>(n); }

TEST(PtrfileWrite, NullIsZeroAndIdentitiesFollowFirstAppearance) {
    std::string path = UtilTest::tempPath("ids");
    int a = 0, b = 0;
    {
        UT_PTRFILE f(Port::Stream::WRITE);
        ASSERT_TRUE(f.open(path.c_str()));
        f.writeptr(nullptr);
        f.writeptr(&a);
        f.writeptr(&a);
        f.writeptr(&b);
        f.writeptr(nullptr);
        f.writeptr(&a);
        ASSERT_TRUE(f.close());
    }
    EXPECT_EQ(UtilTest::slurp(path), std::string("\0\0\0\0\1\0\0\0\1\0\0\0\2\0\0\0\0\0\0\0\1\0\0\0", 24));

    UT_PTRFILE in(Port::Stream::READ);
    ASSERT_TRUE(in.open(path.c_str()));
    std::vector<void*> got;
    void* p = id(99);
    while (in.readptr(p))
        got.push_back(p);
    EXPECT_EQ(got, (std::vector<void*>{nullptr, id(1), id(1), id(2), nullptr, id(1)}));
    EXPECT_EQ(p, nullptr);  // the failed read past the end
    EXPECT_NE(in.geterror(), 0);
}

TEST(PtrfileFixup, FieldsArePatchedBeforeOrAfterRegistration) {
    UT_PTRFILE f(Port::Stream::READ);
    int target = 0, other = 0;
    void* early1 = id(7);
    void* early2 = id(7);
    f.fixptr(&early1);
    f.fixptr(&early2);
    EXPECT_EQ(early1, id(7));           // waits, holding the identity
    EXPECT_EQ(f.checkptrs(), &early1);  // one record, its fields in the order added
    EXPECT_EQ(f.checkptrs(), &early2);
    EXPECT_EQ(f.checkptrs(), nullptr);

    f.registerptr(id(7), &target);
    EXPECT_EQ(early1, &target);
    EXPECT_EQ(early2, &target);
    f.registerptr(id(7), &target);  // the same pair again is silent

    void* late = id(7);
    f.fixptr(&late);
    EXPECT_EQ(late, &target);

    void* none = nullptr;
    f.fixptr(&none);
    f.fixptr(nullptr);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(f.checkptrs(), nullptr);
    EXPECT_EQ(f.checkptrs(), nullptr);

    char text[64];
    std::snprintf(text, sizeof text, "Pointer %" PRIxPTR " already registered.\n",
                  reinterpret_cast<uintptr_t>(&target));
    EXPECT_FATAL(f.registerptr(id(7), &other), 19, text);
}

TEST(PtrfileFixup, FlushForgetsRegistrationsAndRestartsAPass) {
    UT_PTRFILE f(Port::Stream::WRITE);  // the reading side works whatever the mode
    int target = 0;
    f.registerptr(id(3), &target);
    std::vector<void*> fields(5, id(4));
    fields[4] = id(4 + 4001);  // the same bucket as 4
    for (auto& field : fields)
        f.fixptr(&field);
    EXPECT_EQ(f.checkptrs(), &fields[4]);  // bucket 4: the later record heads the chain
    EXPECT_EQ(f.checkptrs(), &fields[0]);
    f.flush_fixtable();  // in the middle of a pass: the next one starts afresh

    void* again = id(3);
    void* first = id(4001);  // bucket 0, where a pass starts
    f.fixptr(&again);
    f.fixptr(&first);
    EXPECT_EQ(again, id(3));
    EXPECT_EQ(f.checkptrs(), &first);
    EXPECT_EQ(f.checkptrs(), &again);
    EXPECT_EQ(f.checkptrs(), nullptr);
    f.registerptr(id(3), &target);
    EXPECT_EQ(again, &target);
}

TEST(PtrfileFixup, ManyWaitingFieldsAndRecordsSurviveGrowth) {
    UT_PTRFILE f(Port::Stream::READ);
    std::vector<int> objects(5000);
    std::vector<void*> fields(20000);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        fields[i] = id(i % objects.size() + 1);
        f.fixptr(&fields[i]);
    }
    std::size_t waiting = 0;
    while (f.checkptrs())
        ++waiting;
    EXPECT_EQ(waiting, fields.size());
    for (std::size_t k = 0; k < objects.size(); ++k)
        f.registerptr(id(k + 1), &objects[k]);
    for (std::size_t i = 0; i < fields.size(); ++i)
        ASSERT_EQ(fields[i], &objects[i % objects.size()]);
    EXPECT_EQ(f.checkptrs(), nullptr);
}

}  // namespace
