// Tests of the library frame: reports, shared objects, guarded updates and
// construct/destruct tracing.
#include "TestSupport.h"

#include "UtilStatics.h"

#include <UtilFrame.h>
#include <UtilFstmem.h>

#include <thread>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilTest.cpp", "7.1"};

TEST(Report, CarriesModuleUnitLineAndRevision) {
    UtilTest::CapturedReports captured;
    int line = __LINE__ + 1;
    UTIL_REPORT().internal("notice %d\n", 1);
    EXPECT_THROW(UTIL_REPORT().fatal(Util::Frame::kFatal, "x\n"), Port::FatalError);
    auto seen = captured.messages();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].kind, Port::MsgKind::Internal);
    EXPECT_EQ(seen[0].module, "Utilities");
    EXPECT_EQ(seen[0].file, "s/UtilTest.cpp");
    EXPECT_EQ(seen[0].line, line);
    EXPECT_EQ(seen[0].revision, "7.1");
    EXPECT_EQ(seen[0].text, "notice 1\n");
    EXPECT_EQ(seen[1].code, 19);
}

TEST(SharedObjects, CreationFailuresBecomeFatalReports) {
    UtilTest::ThreadFailureReset reset;
    Port::Thread::Testing::failNextCreates(1, 11);
    EXPECT_FATAL(Util::Frame::makeShared(kUnit, 1, [] { Port_ThrMutex m; }), 19,
                 "Couldn't create a thread lock [errcode:11]\n");
    EXPECT_FATAL(Util::Frame::makeShared(kUnit, 1, [] { throw std::bad_alloc(); }), 19, "Out Of Memory\n");
}

TEST(SharedObjects, AreMadeOnceAndAFailedAttemptIsRetried) {
    UtilTest::ThreadFailureReset reset;
    Util::Statics::Shared<Port_ThrMutex> slot;
    int made = 0;
    auto make = [&] {
        ++made;
        return new Port_ThrMutex;
    };
    Port::Thread::Testing::failNextCreates(1, 12);
    EXPECT_FATAL(Util::Statics::once(slot, kUnit, 1, make), 19, "Couldn't create a thread lock [errcode:12]\n");
    EXPECT_EQ(slot.object.load(), nullptr);
    Port_ThrMutex& first = Util::Statics::once(slot, kUnit, 1, make);
    Port_ThrMutex& second = Util::Statics::once(slot, kUnit, 1, make);
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(made, 2);
    delete slot.object.load();
}

TEST(SharedObjects, LibraryInitialisersCreateNothingNewWhenRunAgain) {
    const auto& blist = Util::Statics::blist();
    EXPECT_EQ(&blist, &Util::Statics::blist());
    EXPECT_NE(blist.listMemLock, nullptr);
    EXPECT_NE(blist.listsIterLock, nullptr);
    const auto& btree = Util::Statics::btree();
    EXPECT_EQ(btree.nodePoolLock, Util::Statics::btree().nodePoolLock);
    EXPECT_EQ(&Util::Statics::stringPoolLock(), &Util::Statics::stringPoolLock());
    EXPECT_EQ(&Util::Statics::equateSlot(), &Util::Statics::equateSlot());
    EXPECT_NE(&Util::Statics::equateSlot(), &Util::Statics::tstampSlot());
}

TEST(SharedObjects, ClassWidePoolsHaveTheirSizes) {
    UtilTest::CapturedReports captured;
    UT_FASTMEM::report_usage();
    std::string all;
    for (const auto& line : captured.status())
        all += line;
    for (const char* pool : {"UT_BLIST\nUT_FASTMEM::elem_size  = 16\nUT_FASTMEM::elem_cnt   = 800\n",
                             "UT_BLISTS\nUT_FASTMEM::elem_size  = 16\nUT_FASTMEM::elem_cnt   = 3000\n",
                             "UT_BLIST_ITER\nUT_FASTMEM::elem_size  = 24\nUT_FASTMEM::elem_cnt   = 5\n",
                             "UT_BLISTS_ITER\nUT_FASTMEM::elem_size  = 24\nUT_FASTMEM::elem_cnt   = 5\n",
                             "UT_BTR_NODE\nUT_FASTMEM::elem_size  = 32\nUT_FASTMEM::elem_cnt   = 4000\n"})
        EXPECT_NE(all.find(std::string("UT_FASTMEM::classname  = ") + pool), std::string::npos) << pool;
}

TEST(GuardedUpdate, ALockFailureThrowsValue8BeforeAnythingChanges) {
    UtilTest::ThreadFailureReset reset;
    Port_ThrMutex m;
    int counter = 0;
    Port::Thread::Testing::failNextLocks(1, 22);
    try {
        Util::Frame::guarded(m, [&] { ++counter; });
        FAIL() << "no exception";
    } catch (Port_ThrException::Exception value) {
        EXPECT_EQ(value, Port_ThrException::LOCK_FAILED);
        EXPECT_EQ(static_cast<int>(value), 8);
    }
    EXPECT_EQ(counter, 0);
    EXPECT_THROW(Util::Frame::guarded(m, []() -> int { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_EQ(Util::Frame::guarded(m, [&] { return ++counter; }), 1)
        << "the lock must have been released when the update threw";
}

TEST(Tracing, CountsSilentlyWithoutTheVariable) {
    UtilTest::ScopedEnv env("KORVEN_STRUCTOR_VERBOSE", nullptr);
    UtilTest::CapturedReports captured;
    Util::StatsFunctionObject trace;
    EXPECT_STREQ(trace.getName(), "MyClass");
    int obj;
    trace(&obj, true);
    trace(&obj, false);
    EXPECT_EQ(trace.getConstructCount(), 1u);
    EXPECT_EQ(trace.getDestructCount(), 1u);
    EXPECT_TRUE(captured.messages().empty());
}

TEST(Tracing, VerboseLinesSwitchToCountedFormFromFiftyConstructs) {
    UtilTest::ScopedEnv env("KORVEN_STRUCTOR_VERBOSE", "");
    UtilTest::CapturedReports captured;
    Util::StatsFunctionObject trace("Net");
    ASSERT_TRUE(trace.isVerbose());
    void* p = reinterpret_cast<void*>(0x1234);
    trace(p, true);
    trace(p, false);
    for (int i = 1; i < 49; ++i)
        trace(p, true);
    trace(p, false);  // 49 constructs: short form
    trace(p, true);
    trace(p, false);  // 50 constructs: counted form
    auto lines = captured.status();
    ASSERT_EQ(lines.size(), 53u);
    EXPECT_EQ(lines[0], "Info : Construct Net object(0x1234).\n");
    EXPECT_EQ(lines[1], "Info : Destruct Net object(0x1234).\n");
    EXPECT_EQ(lines[50], "Info : Destruct Net object(0x1234).\n");
    EXPECT_EQ(lines[52], "Info : Destruct (3/50) Net object(0x1234).\n");
}

TEST(Tracing, CopiesOwnTheirOwnState) {
    UtilTest::ScopedEnv env("KORVEN_STRUCTOR_VERBOSE", nullptr);
    Util::StatsFunctionObject a("A"), b("B");
    int obj;
    a(&obj, true);
    b = a;
    b(&obj, true);
    EXPECT_STREQ(b.getName(), "A");
    EXPECT_EQ(b.getConstructCount(), 2u);
    EXPECT_EQ(a.getConstructCount(), 1u) << "assignment must not share the counts";
}

}  // namespace
