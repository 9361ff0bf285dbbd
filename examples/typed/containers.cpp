// Typed containers: Net* in, Net* out, names looked up as std::string_view.
#include <UtilTyped.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

struct Net {
    std::string name;
    int fanout;
};
std::string_view nameOf(const Net& n) { return n.name; }

int main() {
    Net nets[] = {{"clk", 120}, {"reset_n", 40}, {"data[0]", 2}, {"addr[3]", 3}};

    Util::TextTree<Net, nameOf> byName;  // in name order
    Util::TextHash<Net, nameOf> lookup(64);
    Util::TypedBlist<Net> busy(16);
    for (Net& n : nets) {
        byName.insert(&n);
        lookup.insert(&n);
        if (n.fanout > 10)
            busy.append(&n);
    }

    std::string wanted = "data[0] is wanted";
    Net* data = lookup.find(std::string_view(wanted).substr(0, 7));  // no copy of the key
    std::printf("%s has fanout %d\n", data->name.c_str(), data->fanout);

    for (Net* n : byName)
        std::printf("%s ", n->name.c_str());
    std::printf("\n");

    auto widest = std::ranges::max_element(byName, {}, [](const Net* n) { return n->fanout; });
    std::printf("widest: %s; %ld busy nets\n", (*widest)->name.c_str(),
                static_cast<long>(std::ranges::distance(busy.begin(), busy.end())));

    Util::TypedArray<int> fanouts;
    for (const Net* n : byName)
        fanouts.push_back(n->fanout);
    std::ranges::sort(fanouts);
    return fanouts[0] == 2 && byName.find("clk") == &nets[0] ? 0 : 1;
}
