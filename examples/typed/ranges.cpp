// Walking the untyped containers with range-for and std::ranges.
#include <UtilBtree.h>
#include <UtilList.h>
#include <UtilRange.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

// A list of C strings, as existing code declares one.
class Names : public UT_LIST {};

int main() {
    UT_BTR_TREE tree([](void* data, const char* key) { return std::strcmp(key, static_cast<const char*>(data)); });
    for (const char* name : {"clk", "reset_n", "data[0]", "addr[3]"})
        *tree.add(name) = const_cast<char*>(name);
    for (void* name : tree)  // ascending: addr[3] clk data[0] reset_n
        std::printf("%s ", static_cast<const char*>(name));
    std::printf("\n");

    Names names;
    for (void* name : tree)
        names.append(name);
    auto clock = std::ranges::find_if(names, [](void* n) { return std::strcmp(static_cast<char*>(n), "clk") == 0; });
    std::printf("found %s, %d names\n", static_cast<const char*>(*clock),
                static_cast<int>(std::ranges::distance(names)));
    names.freelist();  // the texts are not the list's
    return clock == std::ranges::end(names) ? 1 : 0;
}
