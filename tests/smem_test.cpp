// Tests of the small-element pools: shapes, statistics lines, release rules.
#include "TestSupport.h"
#include "UtilStatics.h"

#include <UtilSmem.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// A macro: GTEST_SKIP must run in the test body itself.
#define REQUIRE_POOLS()                    \
    if (!Util::Statics::smallmemPoolsOn()) \
    GTEST_SKIP() << "pooling is off (QRN_SM_MEMPOOL_ON)"

TEST(SmallPools, SizesRoundUpAndChunksFollowTheBudget) {
    struct Case {
        int size, elem;
        unsigned blk;
    };
    for (Case c : {Case{1, 8, 4008}, Case{16, 16, 4008}, Case{17, 24, 3992}, Case{128, 128, 3976}}) {
        UT_SM_SMALLMEM pool(c.size, 1, "t", -1);
        EXPECT_EQ(pool.pool().getelemsize(), c.elem);
        EXPECT_EQ(pool.pool().getblksize(), c.blk);
    }
    UT_SM_SMALLMEM shared17(17, 0, "t", -1), shared24(24, 0, "t", -1);
    EXPECT_EQ(&shared17.pool(), &shared24.pool());
    UT_SM_SMALLMEM shared128(128, 0, nullptr, -1);
    EXPECT_FATAL(UT_SM_SMALLMEM(129, 0, "t", -1), -1, "SMALLMEM: elementsize too large.\n");
    EXPECT_FATAL(UT_SM_SMALLMEM(0, 1, "t", -1), 19, "SMALLMEM: element size 0 and block -1 make no pool.\n");
    EXPECT_FATAL(UT_SM_SMALLMEM(32, "t", 16), 19, "SMALLMEM: element size 32 and block 16 make no pool.\n");
    EXPECT_FATAL(UT_SM_SMALLMEM(8, "t", -7), 19, "SMALLMEM: element size 8 and block -7 make no pool.\n");
    UT_SM_SMALLMEM tight(32, "t", 32);  // one element per chunk
    EXPECT_EQ(tight.pool().getblksize(), 40u);
}

TEST(SmallPools, StatisticsLines) {
    REQUIRE_POOLS();
    UT_SM_SMALLMEM pool(16, 1, "mine", -1);
    CaptureStderr();
    pool.printstats();
    void* p = pool.getmem();
    pool.printstats();
    EXPECT_EQ(GetCapturedStderr(),
              "SMEM mine                  (EMPTY)\n"
              "SMEM mine                  (SZ:16 BLK:4008 ACT:1 FREE:249 TOTM:4000) "
              "(REL:TRUE  RELZ:FALSE)\n");
    pool.relmem(p);
}

TEST(SmallPools, PrivatePoolsGiveChunksBackOnlyWhenIdle) {
    REQUIRE_POOLS();
    UT_SM_SMALLMEM autoRelease(24, "auto", -1);
    std::vector<void*> taken;
    for (int i = 0; i < 200; ++i)  // more than one chunk
        taken.push_back(autoRelease.getmem());
    for (void* p : taken)
        autoRelease.relmem(p);
    CaptureStderr();
    autoRelease.printstats();
    EXPECT_EQ(GetCapturedStderr(), "SMEM auto                  (EMPTY)\n");
    void* again = autoRelease.getmem();
    EXPECT_EQ(autoRelease.pool().getactive(), 1);

    UT_SM_SMALLMEM held(16, 1, "held", -1);
    void* a = held.getmem();
    std::memset(a, 0x5a, 16);
    held.releasememory(true);
    held.releasememory(false);  // an element is in use: nothing goes
    EXPECT_EQ(static_cast<unsigned char*>(a)[15], 0x5a);
    held.relmem(a);
    held.releasememory(true);
    CaptureStderr();
    held.printstats();
    EXPECT_EQ(GetCapturedStderr(), "SMEM held                  (EMPTY)\n");
    autoRelease.relmem(again);
}

TEST(SmallPools, SharedRequestsAreLoggedWithTheStatisticsSwitch) {
    if (!Util::Statics::smallmemStatsOn())
        GTEST_SKIP() << "statistics are off (QRN_UT_SM_STATS)";
    CaptureStderr();
    { UT_SM_SMALLMEM a(40, 0, "client", -1), b(40, 0, nullptr, -1); }
    std::string err = GetCapturedStderr();
    EXPECT_EQ(err.rfind("SMEM: Shared 40 requested by client\n"
                        "SMEM: Shared 40 requested by Unknown client\n",
                        0),
              0u)
        << err;
}

}  // namespace
