// Tests of the balanced tree. The AVL invariant is checked from the outside:
// a verbose dump gives every entry in order with its depth and balance, which
// determine the tree's shape.
#include "TestSupport.h"

#include <UtilBtree.h>

#include <PortStream.h>
#include <PortString.h>

#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

namespace {

// Entries are C strings that hold their own key.
int cmpText(void* data, const char* key) { return std::strcmp(key, static_cast<const char*>(data)); }
// Takes an entry still holding null for the key being looked at.
int cmpTextOrNull(void* data, const char* key) { return data ? cmpText(data, key) : 0; }

struct Entry {
    std::string key;
    int depth;
    std::string balance;
};

std::vector<Entry>* dumped = nullptr;
void record(void* data) { dumped->push_back({static_cast<const char*>(data), 0, ""}); }

std::vector<Entry> verboseDump(const UT_BTR_TREE& tree) {
    std::vector<Entry> entries;
    UtilTest::CapturedReports captured;
    dumped = &entries;
    tree.dump(record, 1);
    dumped = nullptr;
    auto lines = captured.status();
    EXPECT_EQ(lines.size(), 2 * entries.size());
    for (size_t i = 0; i < entries.size() && 2 * i + 1 < lines.size(); ++i) {
        std::sscanf(lines[2 * i].c_str(), "      depth = %d, balance = ", &entries[i].depth);
        entries[i].balance = lines[2 * i + 1];
    }
    return entries;
}

// Height of entries [lo, hi) as a subtree at `depth`; records any breach.
int checkShape(const std::vector<Entry>& e, size_t lo, size_t hi, int depth, std::string& breach) {
    if (lo >= hi)
        return 0;
    size_t root = lo;
    for (size_t i = lo; i < hi; ++i)
        if (e[i].depth < e[root].depth)
            root = i;
    if (e[root].depth != depth)
        breach = "depth of " + e[root].key;
    int left = checkShape(e, lo, root, depth + 1, breach);
    int right = checkShape(e, root + 1, hi, depth + 1, breach);
    const char* expected = left > right ? "LEFT\n" : right > left ? "RIGHT\n" : "EQUAL\n";
    if (std::abs(left - right) > 1 || e[root].balance != expected)
        breach = "balance of " + e[root].key;
    return 1 + std::max(left, right);
}

void expectAvl(const UT_BTR_TREE& tree, const std::set<std::string>& keys) {
    auto entries = verboseDump(tree);
    ASSERT_EQ(entries.size(), keys.size());
    auto it = keys.begin();
    for (const Entry& e : entries)
        ASSERT_EQ(e.key, *it++) << "in-order sequence";
    std::string breach;
    checkShape(entries, 0, entries.size(), 1, breach);
    EXPECT_EQ(breach, "");
}

class Texts {
public:
    char* operator()(const std::string& s) { return store_.emplace_back(s).data(); }

private:
    std::deque<std::string> store_;
};

TEST(Btree, RandomInsertFindRemoveKeepsTheInvariant) {
    UT_BTR_TREE tree(cmpText);
    Texts texts;
    std::set<std::string> keys;
    std::mt19937 rng(9);
    for (int batch = 0; batch < 10; ++batch) {
        for (int op = 0; op < 30000; ++op) {
            std::string key = std::to_string(rng() % 40000);
            if (rng() % 3) {
                void** slot = tree.add(key.c_str());
                if (!*slot)
                    *slot = texts(key);
                keys.insert(key);
            } else {
                void* gone = tree.remove(key.c_str());
                EXPECT_EQ(gone != nullptr, keys.erase(key) == 1);
            }
            void** found = tree.find(key.c_str());
            ASSERT_EQ(found != nullptr, keys.count(key) == 1);
        }
        ASSERT_EQ(tree.get_count(), keys.size());
        expectAvl(tree, keys);
    }
}

TEST(Btree, CountFollowsTheSlots) {
    UT_BTR_TREE tree(cmpTextOrNull);
    char a[] = "a", b[] = "b";
    void** slot = tree.add("a");
    EXPECT_EQ(tree.add("a"), slot);
    EXPECT_EQ(tree.get_count(), 2u) << "a slot still holding null is counted again";
    *slot = a;
    EXPECT_EQ(tree.add("a"), slot);
    EXPECT_EQ(tree.get_count(), 2u);
    {
        UT_BTR_TREE lone(cmpTextOrNull);
        lone.add("b");
        EXPECT_EQ(lone.get_count(), 1u);
        EXPECT_EQ(lone.remove("b"), nullptr);
        EXPECT_EQ(lone.get_root(), nullptr) << "the node is gone";
        EXPECT_EQ(lone.get_count(), 1u) << "but nothing was counted off";
    }
    EXPECT_EQ(tree.s_add(b, nullptr), 1);
    EXPECT_EQ(tree.s_find(b), b) << "a null data stores the key pointer itself";
    EXPECT_EQ(tree.s_add(nullptr, a), 0);
    EXPECT_EQ(tree.add(nullptr), nullptr);
    EXPECT_EQ(tree.find(nullptr), nullptr);
    EXPECT_EQ(tree.remove(nullptr), nullptr);
    EXPECT_EQ(tree.s_remove(b), b);
}

TEST(Btree, RemovingANodeWithTwoChildrenMovesItsPredecessor) {
    UT_BTR_TREE tree(cmpText);
    Texts texts;
    for (const char* k : {"d", "b", "f", "a", "c", "e", "g"})
        *tree.add(k) = texts(k);
    void** root = tree.get_root();
    ASSERT_STREQ(static_cast<char*>(*root), "d");
    EXPECT_STREQ(static_cast<char*>(tree.remove("d")), "d");
    EXPECT_EQ(tree.find("c"), root) << "the predecessor now lives in the removed key's node";
    expectAvl(tree, {"a", "b", "c", "e", "f", "g"});
}

TEST(Btree, TraversalOrders) {
    UT_BTR_TREE tree(cmpText);
    Texts texts;
    for (const char* k : {"b", "a", "c"})
        *tree.add(k) = texts(k);
    auto order = [&](int o) {
        std::string out;
        tree.traverse([](void** slot, void* s) { *static_cast<std::string*>(s) += static_cast<char*>(*slot); }, &out,
                      static_cast<UT_BTR_TREE::TRAV_TYPE>(o));
        return out;
    };
    EXPECT_EQ(order(UT_BTR_TREE::INORDER), "abc");
    EXPECT_EQ(order(UT_BTR_TREE::POSTORDER), "acb");
    EXPECT_EQ(order(UT_BTR_TREE::REV_INORDER), "cba");
    EXPECT_EQ(order(UT_BTR_TREE::REV_POSTORDER), "cab");
    EXPECT_EQ(order(UT_BTR_TREE::PREORDER), "bac");
    EXPECT_EQ(order(UT_BTR_TREE::REV_PREORDER), "bca");
    EXPECT_EQ(order(6), "");
    EXPECT_EQ(order(-1), "");
}

// An owner tree of its own keys, releasing them through del_func.
class OwningTree : public UT_BTR_TREE {
public:
    OwningTree() : UT_BTR_TREE(static_cast<unsigned char>(1)) {}
    int comp_func(void* data, const char* key) override { return data ? cmpText(data, key) : 1; }
    void del_func(void* data) override {
        ++released;
        delete[] static_cast<char*>(data);
    }
    int released = 0;
};

TEST(Btree, FlushHandlesEntriesChildrenFirst) {
    UT_BTR_TREE tree(cmpText);
    Texts texts;
    for (const char* k : {"b", "a", "c"})
        *tree.add(k) = texts(k);
    tree.add("d");  // left null, and last: nothing compares with it; not passed to the callback
    std::string seen;
    static std::string* out;
    out = &seen;
    tree.flush([](void** slot, void* arg) {
        EXPECT_EQ(arg, nullptr);
        *out += static_cast<char*>(*slot);
    });
    EXPECT_EQ(seen, "acb");
    EXPECT_EQ(tree.get_count(), 0u);
    EXPECT_EQ(tree.find("a"), nullptr);

    OwningTree owner;
    for (const char* k : {"x", "y"}) {
        char* copy = new char[2];
        std::strcpy(copy, k);
        *owner.add(k) = copy;
    }
    owner.add("z");  // null data: del_func is still called for it
    owner.flush(nullptr);
    EXPECT_EQ(owner.released, 3);
    UT_BTR_TREE plain(cmpText);
    plain.add("q");
    plain.flush(nullptr);  // not an owner: nothing to release
}

TEST(Btree, ComparingWithoutAnOverrideIsFatal) {
    UT_BTR_TREE tree;
    tree.add("first");  // an empty tree compares nothing
    EXPECT_FATAL(tree.add("second"), 3, "This function must be defined in the derived class.\n");
}

TEST(Btree, DumpFormats) {
    UT_BTR_TREE tree(cmpText);
    {
        UtilTest::CapturedReports captured;
        tree.dump(nullptr, 1);
        EXPECT_TRUE(captured.messages().empty());
    }
    char b[] = "b", a[] = "a";
    *tree.add("b") = b;
    *tree.add("a") = a;
    UtilTest::CapturedReports captured;
    tree.dump(nullptr, 1);
    EXPECT_EQ(captured.status(),
              (std::vector<std::string>{
                  Port::format("   Data = %p", static_cast<void*>(a)), "      depth = 2, balance = ", "EQUAL\n",
                  Port::format("   Data = %p", static_cast<void*>(b)), "      depth = 1, balance = ", "LEFT\n"}));
    std::string path = testing::TempDir() + "btree_dump";
    {
        Port::Stream out(Port::Stream::WRITE, 0);
        ASSERT_TRUE(out.open(path.c_str()));
        tree.dump(
            out, [](Port::Stream& s, void* data) { s << static_cast<char*>(data); }, 1);
        tree.dump(out, nullptr, 0);
    }
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "a      depth = 2, balance = EQUAL\nb      depth = 1, balance = LEFT\n" +
                        Port::format("   Data = %p   Data = %p", static_cast<void*>(a), static_cast<void*>(b)));
}

}  // namespace
