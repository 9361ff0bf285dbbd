// Statistics dumps from a monitoring thread while other threads take from and
// give back to the library's class-wide pools. Run with the pools switched on
// (QRN_MEMPOOL_ON), under ThreadSanitizer and AddressSanitizer in CI.
#include "TestSupport.h"

#include <UtilBlist.h>
#include <UtilBtree.h>
#include <UtilCname.h>
#include <UtilFstmem.h>
#include <UtilSmem.h>
#include <UtilStrobj.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

int compareText(void* data, const char* key) { return std::strcmp(key, static_cast<const char*>(data)); }

// Each round makes and drops enough objects that blocks and chunks are taken
// and given back again.
void work(int seed, const std::atomic<bool>& stop, std::atomic<int>& rounds) {
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i)
        texts.push_back(UtilTest::numbered(UtilTest::numbered("name_", seed).append("_").c_str(), i));
    while (!stop.load()) {
        std::vector<std::unique_ptr<UT_STROBJ>> strings;
        UT_NCH_CACHE names;
        UT_BTR_TREE tree(compareText);
        UT_BLIST list(4);
        for (const auto& t : texts) {
            strings.emplace_back(new UT_STROBJ(t.c_str()));
            names.add(t.c_str(), 1);
            *tree.add(t.c_str()) = const_cast<char*>(t.c_str());
            list.l_append(const_cast<char*>(t.c_str()));
        }
        ++rounds;
    }
}

TEST(ReportsWhileWorking, DumpsOfEveryPoolRunBesideThreadsUsingThem) {
    UtilTest::CapturedReports sink;
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back(work, i, std::cref(stop), std::ref(rounds));
    for (int reports = 0; reports < 100 || rounds.load() < 60; ++reports) {
        UT_FASTMEM::report_usage();
        // These go to standard error: a few suffice.
        if (reports % 20 == 0)
            UT_SM_SMALLMEM::printstatsallpools();
        sink.clear();
    }
    stop = true;
    for (auto& w : workers)
        w.join();
    UT_FASTMEM::report_usage();
    bool sawNodes = false;
    for (const auto& line : sink.status())
        sawNodes = sawNodes || line == "UT_FASTMEM::classname  = UT_BTR_NODE\n";
    EXPECT_TRUE(sawNodes);
}

}  // namespace
