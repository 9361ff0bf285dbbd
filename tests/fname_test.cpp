// Tests of file-name groups: placing, deriving, refusals and misuse.
#include "TestSupport.h"

#include <UtilFName.h>

#include <string>

namespace {

// Slots 0 (src) and 1 (cfg) from the command line, slot 2 (out) from slot 0.
void defineThree(Util_FNameGroup& g, unsigned outFlags = 0) {
    g.define("src", 1, Util_FNameGroup::kNoMaster);
    g.define("cfg", 1, Util_FNameGroup::kNoMaster);
    g.define("out", outFlags, 0);
}

TEST(FileNameGroup, OrderedNamesAndDerivedOnes) {
    Util_FNameGroup g(2, 1, 1);
    defineThree(g);
    EXPECT_FATAL(g.get_fname(0), 2, "File Group has not been checked.\n");
    EXPECT_EQ(g.add("dir\\top.src"), -1);
    EXPECT_EQ(g.add("top.cfg"), -1);
    EXPECT_EQ(g.add("more.src"), -6);
    EXPECT_EQ(g.check(), -1);
    EXPECT_STREQ(g.get_fname(0), "dir/top.src");
    EXPECT_STREQ(g.get_fname(2), "dir/top.out");
    EXPECT_TRUE(g.is_derived(2));
    EXPECT_FALSE(g.is_derived(0));
    EXPECT_FALSE(g.files_equal(0, 2));
    EXPECT_FALSE(g.file_exist(2));
    EXPECT_FATAL(g.get_fname(3), 2, "Invalid index=3, Range<0,3>: Get index out of range.\n");

    Util_FNameGroup tail(2, 1, 1);
    defineThree(tail, Util_FNameGroup::TAIL_ONLY);
    tail.add("dir/top.src");
    tail.add("top.cfg");
    tail.check();
    EXPECT_STREQ(tail.get_fname(2), "top.out");
}

TEST(FileNameGroup, RefusedNamesAndMissingOnes) {
    Util_FNameGroup g(2, 1, 1);
    defineThree(g);
    EXPECT_EQ(g.add("top.txt"), -3);  // uses up slot 0
    EXPECT_EQ(g.add("top.cfg"), -1);
    EXPECT_EQ(g.check(), 0);

    Util_FNameGroup u(2, 1, 0);
    defineThree(u);
    EXPECT_EQ(u.add("top.cfg"), -1);
    EXPECT_EQ(u.add("top.src"), -1);
    EXPECT_EQ(u.add("x.src"), -4);
    EXPECT_EQ(u.add("x.txt"), -5);
    EXPECT_EQ(u.check(), -1);
    EXPECT_STREQ(u.get_fname(1), "top.cfg");

    Util_FNameGroup add(1, 0, 1);
    add.define("src", 1 | 2, Util_FNameGroup::kNoMaster);
    EXPECT_EQ(add.add("top"), -1);
    add.check();
    EXPECT_STREQ(add.get_fname(0), "top.src");
    EXPECT_TRUE(add.is_derived(0));

    Util_FNameGroup bare(1, 0, 1);
    bare.define("src", Util_FNameGroup::ENFORCE_EXT, Util_FNameGroup::kNoMaster);
    EXPECT_EQ(bare.add("top"), -3) << "an extension that is not added must be given";

    Util_FNameGroup second(2, 0, 1);
    second.define("a", 1, Util_FNameGroup::kNoMaster);
    second.define("b", 1, Util_FNameGroup::kNoMaster);
    second.add("x.a");
    EXPECT_EQ(second.check(), 1);
}

TEST(FileNameGroup, MisuseAndBrokenChains) {
    Util_FNameGroup g(1, 2, 1);
    EXPECT_FATAL(g.define("x", 16, Util_FNameGroup::kNoMaster), 2, "Invalid flags=10.\n");
    EXPECT_FATAL(Util_FNameGroup(1, 0, 1).add(nullptr), 2, "Adding NULL file.\n");

    Util_FNameGroup loop(1, 2, 1);
    loop.define("a", 1, Util_FNameGroup::kNoMaster);
    loop.define("b", 0, 2);
    loop.define("c", 0, 1);
    loop.add("x.a");
    EXPECT_FATAL(loop.check(), 2, "Invalid master file chain, index=1.\n");

    // Slot 0 derives from slot 1, which has to be given but was not: the
    // chain ends in a slot without name or master, and is reported.
    Util_FNameGroup dead(2, 0, 1);
    dead.define("a", 1, 1);
    dead.define("b", 1, Util_FNameGroup::kNoMaster);
    EXPECT_FATAL(dead.check(), 2, "Master file chain of index=0 ends in a file without name or master.\n");

    Util_FNameGroup u(1, 0, 0);
    EXPECT_FATAL(u.define("a", 0, Util_FNameGroup::kNoMaster), 2,
                 "When order is not significant extension must be enforced.\n");
    Util_FNameGroup full(1, 0, 1);
    full.define("a", 1, Util_FNameGroup::kNoMaster);
    EXPECT_FATAL(full.define("b", 1, Util_FNameGroup::kNoMaster), 2,
                 "Invalid index=1, Range<0,1>: Too many definitions.\n");
}

}  // namespace
