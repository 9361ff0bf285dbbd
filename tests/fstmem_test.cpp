// Tests of the fixed-size pools. The executable runs twice under ctest: with
// QRN_FST_MEMPOOL_ON set (pooled) and without (every element from the heap).
#include "TestSupport.h"

#include "UtilStatics.h"

#include <UtilFstmem.h>

#include <PortEnv.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <thread>

namespace {

std::vector<std::string> dumpOf(const UT_FASTMEM& pool) {
    UtilTest::CapturedReports captured;
    pool.dump();
    return captured.status();
}

// The dump lines after the four header lines.
std::vector<std::string> blocksOf(const UT_FASTMEM& pool) {
    auto lines = dumpOf(pool);
    return std::vector<std::string>(lines.begin() + 4, lines.end());
}

class Pooled : public testing::Test {
protected:
    void SetUp() override {
        if (!Util::Statics::fastmemPoolsOn())
            GTEST_SKIP() << "pooling is off in this run";
    }
};

class Unpooled : public testing::Test {
protected:
    void SetUp() override {
        if (Util::Statics::fastmemPoolsOn())
            GTEST_SKIP() << "pooling is on in this run";
    }
};

TEST(Fastmem, HeaderLinesShowTheRoundedShape) {
    struct Case {
        unsigned size, count;
        const char* name;
        std::vector<std::string> header;
    };
    const Case cases[] = {
        {16,
         800,
         "UT_BLIST",
         {"UT_FASTMEM::classname  = UT_BLIST\n", "UT_FASTMEM::elem_size  = 16\n", "UT_FASTMEM::elem_cnt   = 800\n",
          "UT_FASTMEM::block_size = 12800\n"}},
        {20,
         800,
         nullptr,
         {"UT_FASTMEM::classname  = NULL\n", "UT_FASTMEM::elem_size  = 24\n", "UT_FASTMEM::elem_cnt   = 800\n",
          "UT_FASTMEM::block_size = 19200\n"}},
    };
    for (const Case& c : cases) {
        UT_FASTMEM pool(c.size, c.count, c.name);
        auto lines = dumpOf(pool);
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4), c.header);
        EXPECT_EQ(lines[4], "   No blocks allocated.\n");
    }
}

TEST(Fastmem, ShapesOutsideTheDesignAreRefused) {
    const char* text =
        "UT_FASTMEM: element size %u and count %u do not make a block of 1 to "
        "4294967295 bytes.\n";
    EXPECT_FATAL(UT_FASTMEM(0, 10, "z"), 19, Port::format(text, 0u, 10u));
    EXPECT_FATAL(UT_FASTMEM(8, 0, "z"), 19, Port::format(text, 8u, 0u));
    EXPECT_FATAL(UT_FASTMEM(UINT32_MAX, 1, "z"), 19, Port::format(text, UINT32_MAX, 1u));
    EXPECT_FATAL(UT_FASTMEM(1u << 16, 1u << 16, "z"), 19, Port::format(text, 1u << 16, 1u << 16));
}

TEST_F(Pooled, ElementsAreDistinctAlignedAndWholeBlocksAreUsedAndPercentagesTruncated) {
    UT_FASTMEM pool(20, 100, "t");
    std::set<char*> seen;
    std::vector<void*> taken;
    for (int i = 0; i < 248; ++i) {
        auto* p = static_cast<char*>(pool.getnewptr());
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
        std::memset(p, 0xAB, 24);  // the whole rounded element is the caller's
        EXPECT_TRUE(seen.insert(p).second);
        taken.push_back(p);
    }
    EXPECT_EQ(blocksOf(pool),
              (std::vector<std::string>{"   Block 0:  num_used = 48\n", "   Block 1:  num_used = 100\n",
                                        "   Block 2:  num_used = 100\n", "   Total used:  248 / 300 (82%)\n"}));
    for (void* p : taken)
        pool.qrn_free(p);
    EXPECT_EQ(blocksOf(pool),
              (std::vector<std::string>{"   Block 0:  num_used = 0\n", "   Total used:  0 / 100 (0%)\n"}));
}

// Inside one block, elements come first from those given back (the latest
// first), then in address order: the block behaves as a free chain laid out
// in address order when it was made.
TEST_F(Pooled, ABlockHandsOutGivenBackElementsFirstThenInAddressOrder) {
    constexpr unsigned kCount = 500, kSize = 24;
    UT_FASTMEM pool(kSize, kCount, "t");
    char* base = static_cast<char*>(pool.getnewptr());
    std::vector<char*> chain;  // the model: the block's free chain
    for (unsigned i = kCount; i-- > 1;)
        chain.push_back(base + i * kSize);  // back of the vector = head
    std::vector<char*> live{base};
    uint64_t seed = 7;
    for (int step = 0; step < 20000; ++step) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        bool take = live.size() < 2 || (chain.size() > 1 && (seed >> 40) % 3 != 0);
        if (take) {
            char* p = static_cast<char*>(pool.getnewptr());
            ASSERT_EQ(p, chain.back()) << "step " << step;
            chain.pop_back();
            live.push_back(p);
        } else {
            std::size_t at = (seed >> 20) % live.size();
            char* p = live[at];
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
            pool.qrn_free(p);
            chain.push_back(p);
        }
    }
    for (char* p : live)
        pool.qrn_free(p);
}

TEST_F(Pooled, OneMoreThanABlockAddsASecondAtTheFrontAndGivingItBackReleasesIt) {
    UT_FASTMEM pool(16, 800, "UT_BLIST");
    std::vector<void*> taken;
    for (int i = 0; i < 801; ++i)
        taken.push_back(pool.getnewptr());
    EXPECT_EQ(blocksOf(pool), (std::vector<std::string>{"   Block 0:  num_used = 1\n", "   Block 1:  num_used = 800\n",
                                                        "   Total used:  801 / 1600 (50%)\n"}));
    pool.qrn_free(taken.back());
    taken.pop_back();
    EXPECT_EQ(blocksOf(pool),
              (std::vector<std::string>{"   Block 0:  num_used = 800\n", "   Total used:  800 / 800 (100%)\n"}));
    for (int i = 0; i < 801; ++i)  // the released block comes back once, then a new one is made
        taken.push_back(pool.getnewptr());
    EXPECT_EQ(std::set<void*>(taken.begin(), taken.end()).size(), taken.size());
    for (void* p : taken)
        pool.qrn_free(p);
    EXPECT_EQ(blocksOf(pool),
              (std::vector<std::string>{"   Block 0:  num_used = 0\n", "   Total used:  0 / 800 (0%)\n"}));
}

TEST_F(Pooled, TheBlockLastUsedMovesToTheFront) {
    UT_FASTMEM pool(8, 2, "t");
    void* a = pool.getnewptr();
    void* b = pool.getnewptr();
    void* c = pool.getnewptr();  // second block, now first
    pool.getnewptr();
    pool.qrn_free(a);  // older block moves to the front
    EXPECT_EQ(blocksOf(pool), (std::vector<std::string>{"   Block 0:  num_used = 1\n", "   Block 1:  num_used = 2\n",
                                                        "   Total used:  3 / 4 (75%)\n"}));
    EXPECT_EQ(pool.getnewptr(), a) << "the freed element is the first free one of the front block";
    pool.qrn_free(c);
    pool.qrn_free(b);
    pool.qrn_free(a);  // empties the front block, which has a successor
    EXPECT_EQ(blocksOf(pool),
              (std::vector<std::string>{"   Block 0:  num_used = 1\n", "   Total used:  1 / 2 (50%)\n"}));
}

TEST_F(Pooled, ReleasingWhatThePoolDidNotHandOutIsFatal) {
    UT_FASTMEM pool(16, 4, "t");
    long outside[2];
    EXPECT_FATAL(pool.qrn_free(outside), 19, "Unable to free as memory was not allocated.\n");
    void* p = pool.getnewptr();
    EXPECT_FATAL(pool.qrn_free(outside), 19, "Tried to delete a pointer not in list.\n");
    char* end = static_cast<char*>(p) + 4 * 16;  // one past the block
    EXPECT_FATAL(pool.qrn_free(end), 19, "Tried to delete a pointer not in list.\n");
    pool.qrn_free(nullptr);
    pool.qrn_free(p);
}

TEST_F(Unpooled, EveryElementIsASeparateHeapBlock) {
    UT_FASTMEM pool(16, 800, "t");
    std::vector<void*> taken;
    for (int i = 0; i < 1000; ++i)
        taken.push_back(pool.getnewptr());
    EXPECT_EQ(blocksOf(pool), std::vector<std::string>{"   No blocks allocated.\n"});
    UtilTest::CapturedReports captured;
    for (void* p : taken)
        pool.qrn_free(p);
    pool.qrn_free(qrn_malloc(16));  // not the pool's, yet no fatal report while off
    EXPECT_TRUE(captured.messages().empty());
}

TEST(Fastmem, RegistryListsLivePoolsInOrderOfConstruction) {
    auto names = [] {
        UtilTest::CapturedReports captured;
        UT_FASTMEM::report_usage();
        std::vector<std::string> out;
        for (const auto& line : captured.status())
            if (line.rfind("UT_FASTMEM::classname", 0) == 0)
                out.push_back(line.substr(25));
        return out;
    };
    auto before = names();
    {
        UT_FASTMEM a(8, 1, "reg-a");
        auto* b = new UT_FASTMEM(8, 1, "reg-b");
        UT_FASTMEM c(8, 1, "reg-c");
        delete b;
        auto during = names();
        ASSERT_EQ(during.size(), before.size() + 2);
        EXPECT_EQ(during[during.size() - 2], "reg-a\n");
        EXPECT_EQ(during.back(), "reg-c\n");
    }
    EXPECT_EQ(names(), before);
}

TEST(FastmemThreads, PoolsMadeOnSeveralThreadsKeepTheRegistryWhole) {
    auto countPools = [] {
        UtilTest::CapturedReports captured;
        UT_FASTMEM::report_usage();
        auto lines = captured.status();
        return std::count_if(lines.begin(), lines.end(),
                             [](const std::string& l) { return l.rfind("UT_FASTMEM::classname", 0) == 0; });
    };
    auto before = countPools();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            std::mt19937 rng(t);
            for (int i = 0; i < 200; ++i) {
                UT_FASTMEM pool(8 + rng() % 64, 1 + rng() % 16, "thread");
                std::vector<void*> taken;
                for (unsigned n = rng() % 40; n > 0; --n)
                    taken.push_back(pool.getnewptr());
                std::shuffle(taken.begin(), taken.end(), rng);
                for (void* p : taken)
                    pool.qrn_free(p);
            }
        });
    for (int i = 0; i < 500; ++i)
        UT_FASTMEM mine(16, 4, "main");
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(countPools(), before);
}

}  // namespace
