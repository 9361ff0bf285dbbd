// Standard containers drawing from the library's pools.
#include <UtilPmr.h>

#include <cstdio>
#include <list>
#include <memory_resource>
#include <unordered_map>
#include <vector>

int main() {
    Util::SmallPoolResource pools;  // the shared small-element pools
    {
        std::pmr::unordered_map<int, int> fanout(&pools);
        std::pmr::vector<int> order(&pools);
        for (int i = 0; i < 1000; ++i) {
            fanout[i] = i % 7;
            order.push_back(i);
        }
        std::printf("%zu entries, %zu in order\n", fanout.size(), order.size());
    }

    std::list<double, Util::PoolAllocator<double>> delays{1.5, 2.25, 0.75};
    delays.sort();
    std::printf("shortest delay %.2f\n", delays.front());

    // With QRN_SM_MEMPOOL_ON set, the pools' statistics show what was taken.
    UT_SM_SMALLMEM::printstatsallpools();
    return 0;
}
