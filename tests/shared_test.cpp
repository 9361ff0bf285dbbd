// Tests of the shared resource registry.
#include "TestSupport.h"

#include <UtilShared.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Util::Details::SharedResourceMgr;

TEST(SharedResources, FirstRegistrationStaysUntilErased) {
    int p = 0, q = 0;
    EXPECT_EQ(SharedResourceMgr::find("Type"), nullptr);
    SharedResourceMgr::insert("Type", &p);
    SharedResourceMgr::insert("Type", &q);
    EXPECT_EQ(SharedResourceMgr::find("Type"), &p);
    EXPECT_EQ(SharedResourceMgr::find("type"), nullptr);
    EXPECT_EQ(SharedResourceMgr::find("Type "), nullptr);
    SharedResourceMgr::erase("absent");
    SharedResourceMgr::erase("Type");
    SharedResourceMgr::insert("Type", &q);
    EXPECT_EQ(SharedResourceMgr::find("Type"), &q);
    SharedResourceMgr::erase("Type");

    Util::IllegalMethodCalledException e("Utilities", "f.cpp", "1.0", 7, "not here");
    EXPECT_STREQ(e.what(), "not here");
    EXPECT_EQ(e.getLine(), 7);
}

TEST(SharedResources, SeveralThreadsAndThenDestroy) {
    std::vector<std::thread> threads;
    std::vector<int> objects(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &objects] {
            for (int i = 0; i < 500; ++i) {
                char key[32];
                std::snprintf(key, sizeof key, "key%d_%d", t, i % 10);
                SharedResourceMgr::insert(key, &objects[t]);
                if (SharedResourceMgr::find(key) != &objects[t])
                    ADD_FAILURE() << key;
                SharedResourceMgr::erase(key);
            }
        });
    for (auto& th : threads)
        th.join();
    SharedResourceMgr::destroy();
    SharedResourceMgr::insert("late", &objects[0]);  // the registry is gone: nothing happens
    EXPECT_EQ(SharedResourceMgr::find("late"), nullptr);
}

}  // namespace
