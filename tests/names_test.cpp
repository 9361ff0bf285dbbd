// Tests of the two name caches and the image they share.
#include "TestSupport.h"

#include <UtilCname.h>
#include <UtilNameCache.h>
#include <UtilPtrfile.h>

#include <PortStream.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Util::NameCache::Cache;
using Counts = std::map<std::string, std::pair<int, int>>;  // text -> (rcnt, mcnt)

Counts countsOf(UT_NCH_CACHE& c) {
    Counts out;
    c.traverse(
        [](void** slot, void* arg) {
            auto* n = static_cast<UT_NCH_NAME*>(*slot);
            (*static_cast<Counts*>(arg))[n->get_name()] = {n->getRefCount(), n->getMarkCount()};
        },
        &out, UT_BTR_TREE::INORDER);
    return out;
}

Counts countsOf(const Cache& c, const std::vector<std::string>& texts) {
    Counts out;
    for (const auto& t : texts)
        if (auto* n = const_cast<Cache&>(c).find(t.c_str()))
            out[t] = {n->getRefCount(), n->getMarkCount()};
    return out;
}

template <class Write>
std::string writeImage(const std::string& name, Write write) {
    std::string path = UtilTest::tempPath(name);
    EXPECT_TRUE(UtilTest::writePtrfile(path, write));
    return path;
}

template <class Read>
void readImage(const std::string& path, Read read) {
    UT_PTRFILE f(Port::Stream::READ);
    ASSERT_TRUE(f.open(path.c_str()));
    read(f);
}

// Texts around the length classes and the limit of a cache of max_len 20.
const std::vector<std::string> kBoundaryTexts = {
    "", "abc", "abcd", "abcdefg", "abcdefgh", "abcdefghi", std::string(19, 'x'), std::string(20, 'y')};

// "name_NNNNN": ten characters.
std::string numbered(int i) { return UtilTest::numbered("name_", i, 5); }

TEST(NameCacheClasses, LengthPicksTheClassAndPointerOnlyKeepsTheCallersText) {
    UT_NCH_CACHE c;
    std::vector<unsigned short> sizes;
    for (const char* t : {"", "abc", "abcd", "abcdefg", "abcdefgh"})
        sizes.push_back(c.add(t, 1)->get_size());
    EXPECT_EQ(sizes, (std::vector<unsigned short>{4, 4, 8, 8, 9}));

    const char* longText = "pointer/only/name";
    UT_NCH_CACHE p(1);
    EXPECT_EQ(p.add(longText, 1)->get_name(), longText);
    Cache q(true);
    EXPECT_EQ(q.add("short", 1)->getName(), std::string("short"));
    const char* facadeShort = "seven77";
    Cache copying;
    EXPECT_NE(copying.add(facadeShort, 1)->getName(), facadeShort);
    EXPECT_EQ(q.add(facadeShort, 1)->getName(), facadeShort);
}

TEST(NameCacheCounts, AddFindCleanAndTheCountLimits) {
    UT_NCH_CACHE c;
    UT_NCH_NAME* a = c.add("net_a", 2);
    EXPECT_EQ(c.add("net_a", 3), a);
    EXPECT_EQ(a->getRefCount(), 5);
    c.add("unused_net", 0);
    EXPECT_EQ(c.add(nullptr, 1), nullptr);
    EXPECT_EQ(c.find(nullptr), nullptr);
    EXPECT_EQ(c.get_count(), 2u);
    c.clean();
    EXPECT_EQ(c.find("unused_net"), nullptr);
    EXPECT_EQ(c.find("net_a"), a);

    EXPECT_FATAL(a->delete_refs(6), 19, "Reference count underflow.\n");
    EXPECT_FATAL(a->add_refs(-6), 19, "Reference count overflow.\n");
    EXPECT_FATAL(a->add_refs(INT32_MAX), 19, "Reference count overflow.\n");
    EXPECT_EQ(a->getRefCount(), 5);  // a refused change leaves the count alone

    Cache f;
    auto* n = f.add("net_a", 1);
    EXPECT_FATAL(n->deleteRefs(2), 19, "Reference count underflow.\n");
    EXPECT_FATAL(n->addRefs(-2), 19, "Reference count overflow.\n");
    f.add("zero", 0);
    f.clean();
    EXPECT_EQ(f.size(), 1u);
}

// The cache finds names through an index beside its tree; the tree's own
// operations, called directly, must never leave the index behind.
TEST(NameCacheCounts, FindFollowsTreeOperationsCalledDirectly) {
    UT_NCH_CACHE cache;
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i)
        texts.push_back(UtilTest::numbered("net_", i * 7919 % 1000));
    for (const auto& t : texts)
        cache.add(t.c_str(), 1);
    for (const auto& t : texts)  // the index grew three times on the way
        ASSERT_NE(cache.find(t.c_str()), nullptr) << t;
    UT_BTR_TREE& tree = cache;
    void* removed = tree.remove(texts[7].c_str());  // a name the cache no longer holds
    ASSERT_NE(removed, nullptr);
    nch_flush(&removed, nullptr);
    EXPECT_EQ(cache.find(texts[7].c_str()), nullptr);
    EXPECT_EQ(cache.find(texts[5].c_str())->getRefCount(), 1);
    EXPECT_EQ(cache.add(texts[7].c_str(), 2)->getRefCount(), 2);
    void** empty = tree.add("pending");  // a slot the cache did not fill
    EXPECT_EQ(*empty, nullptr);
    EXPECT_EQ(cache.find("pending"), nullptr);
    EXPECT_EQ(cache.add("pending", 3), *empty);
    EXPECT_EQ(cache.find("pending")->getRefCount(), 3);
    tree.flush(nch_flush);
    EXPECT_EQ(cache.find(texts[0].c_str()), nullptr);
    EXPECT_EQ(cache.get_count(), 0u);
    EXPECT_EQ(cache.add(texts[0].c_str(), 1)->getRefCount(), 1);
    EXPECT_EQ(cache.find(texts[0].c_str())->getRefCount(), 1);
}

TEST(NameCacheLimits, ExactlyMaxLenIsAcceptedAndOneMoreIsFatal) {
    UT_NCH_CACHE c(0, 20);
    Cache f(20u);
    EXPECT_NE(c.add(std::string(20, 'y').c_str(), 1), nullptr);
    EXPECT_NE(f.add(std::string(20, 'y').c_str(), 1), nullptr);
    EXPECT_FATAL(c.add(std::string(21, 'z').c_str(), 1), 19, "maximum name length exceeded.\n");
    EXPECT_FATAL(f.add(std::string(21, 'z').c_str(), 1), 19, "maximum name length exceeded.\n");
    EXPECT_EQ(c.get_count(), 1u);
    EXPECT_EQ(c.find(std::string(21, 'z').c_str()), nullptr);
    EXPECT_EQ(c.getMaxNameLength(), 20u);
    EXPECT_EQ(UT_NCH_CACHE().getMaxNameLength(), 2047u);

    // A pointer-only facade cache has no limit when adding, but refuses to
    // write such a name before anything is written.
    std::string big(2048, 'p');
    Cache p(true);
    p.add(big.c_str(), 1);
    std::string path = UtilTest::tempPath("toolong");
    UT_PTRFILE out(Port::Stream::WRITE);
    ASSERT_TRUE(out.open(path.c_str()));
    UtilTest::CapturedReports seen;
    EXPECT_THROW(p.write(&out, false), Port::FatalError);
    out.close();
    EXPECT_EQ(UtilTest::slurp(path), "");
    auto msgs = seen.messages();
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0].text, "Key = " + big + "\n");
    EXPECT_EQ(msgs[1].text, "Name copy = " + big + "\n");
    EXPECT_EQ(msgs[2].text, "Maximum name length exceeded\n");
}

TEST(NameCachePools, LongTextsArePackedAndReleasedWithTheirLastName) {
    UtilTest::ScopedEnv small("UT_NCH_SMOKETEST", "1");
    UT_NCH_CACHE c;
    for (int i = 0; i < 30; ++i)
        c.add(numbered(i).c_str(), 1);
    // 11 bytes each: 23 fit strictly below 256, the other 7 start a second pool.
    EXPECT_EQ(c.get_total_mem(), 30u * 32 + 2 * 256);
    c.add(std::string(300, 'L').c_str(), 0);  // a pool of its own: 302 bytes
    c.add("afterwards", 0);                   // and the next long text another
    EXPECT_EQ(c.get_total_mem(), 32u * 32 + 2 * 256 + 302 + 256);
    c.clean();
    EXPECT_EQ(c.get_total_mem(), 30u * 32 + 2 * 256);
    // The pool being filled went: the next text goes where there is room
    // (AddressSanitizer sees a write into the released one).
    EXPECT_STREQ(c.add("afterwards", 1)->get_name(), "afterwards");
    for (int i = 23; i < 30; ++i)  // the second pool's names but the one just added
        c.find(numbered(i).c_str())->delete_refs(1);
    c.clean();
    EXPECT_EQ(c.get_total_mem(), 24u * 32 + 2 * 256) << "the pool stays for its last name";
    c.flush();
    EXPECT_EQ(c.get_total_mem(), 0u);
    EXPECT_EQ(c.get_count(), 0u);
}

// The facade's pool size is fixed by the first pool of the process: this test
// runs with and without UT_NCH_SMOKETEST set from the start.
TEST(NameCachePools, FacadePoolsFollowTheSwitchAtTheFirstPool) {
    Cache f(100000u);
    for (int i = 0; i < 30; ++i)
        f.add(numbered(i).c_str(), 1);
    const uint64_t pool = std::getenv("UT_NCH_SMOKETEST") ? 256 : 65536;
    EXPECT_EQ(f.getTotalMem(), (pool == 256 ? 2 : 1) * pool + 8 * 30 + 40);
    f.add(std::string(70000, 'L').c_str(), 1);  // longer than any pool
    EXPECT_NE(f.find(std::string(70000, 'L').c_str()), nullptr);
}

TEST(NameCachePools, TheMapCacheReleasesAPoolWithItsLastNameOnly) {
    Cache f(100000u);
    const uint64_t none = f.getTotalMem();
    f.add("a_long_name_0001", 0);
    f.add("a_long_name_0002", 1);
    const uint64_t two = f.getTotalMem();  // one pool holds both texts
    f.clean();
    EXPECT_EQ(f.getTotalMem(), two - 8) << "the pool stays for the other name";
    f.find("a_long_name_0002")->deleteRefs(1);
    f.clean();
    EXPECT_EQ(f.getTotalMem(), none);
    f.add("a_long_name_0003", 1);  // the pool released was the one being filled
    EXPECT_EQ(f.getTotalMem(), two - 8);
    EXPECT_EQ(f.find("a_long_name_0003")->getName(), std::string("a_long_name_0003"));
    f.add(std::string(70000, 'L').c_str(), 0);  // a pool of its own, after the other
    f.clean();
    EXPECT_EQ(f.getTotalMem(), two - 8) << "the long text's pool went, and no other";
}

TEST(NameCacheCopy, CopiesAreDeepAndIndependent) {
    Cache a;
    a.add("short", 2)->mark();
    Util::NameCache::Name* l = a.add("a_longer_name", 1);
    l->mark();
    l->mark();
    Cache b(a);
    EXPECT_EQ(countsOf(b, {"short", "a_longer_name"}), (Counts{{"short", {2, 1}}, {"a_longer_name", {1, 2}}}));
    b.find("short")->addRefs(5);
    EXPECT_EQ(a.find("short")->getRefCount(), 2);
    EXPECT_NE(b.find("a_longer_name")->getName(), l->getName());
    Cache& self = b;  // through a reference: the assignment to itself is the point
    b = self;
    EXPECT_EQ(b.size(), 2u);
    Cache c(7u);
    c = a;
    EXPECT_EQ(c.getMaxNameLength(), 2047u);
    EXPECT_EQ(c.find("a_longer_name")->getMarkCount(), 2);
}

// Whole images are compared byte for byte with committed ones in formats_test.
TEST(NameImage, BytesOfAMarkedImageAndOfAnEmptyMarkedOne) {
    UT_NCH_CACHE c;
    c.add("b", 2);
    c.add("a", 1)->mark();
    c.add("c", 3);
    std::string marked = writeImage("marked", [&](UT_PTRFILE& f) { c.write(&f, 1); });
    EXPECT_EQ(UtilTest::slurp(marked), std::string("\1\0\0\0\1\0\0\0\1\0\0\0\1\0\0\0a", 17));
    c.clear_marks();
    Cache f;
    f.add("x", 1)->mark();
    f.clearMarks();
    std::string empty = writeImage("empty", [&](UT_PTRFILE& out) {
        c.write(&out, 1);
        f.write(&out, true);
    });
    EXPECT_EQ(UtilTest::slurp(empty), std::string(8, '\0'));
}

TEST(NameImage, EitherCacheReadsWhatTheOtherWroteWithPointersFixed) {
    UT_NCH_CACHE tree(0, 20);
    Cache map(20u);
    int count = 1;
    for (const auto& t : kBoundaryTexts) {
        tree.add(t.c_str(), count);
        map.add(t.c_str(), count++);
    }
    UT_NCH_NAME* referred = tree.find("abcdefgh");
    // A record of the caller's own that refers to a name, before the names.
    std::string a = writeImage("tree", [&](UT_PTRFILE& f) {
        f.writeptr(referred);
        tree.write(&f, 0);
    });
    std::string b = writeImage("map", [&](UT_PTRFILE& f) { map.write(&f, false); });

    Cache intoMap(20u);
    void* field = nullptr;
    readImage(a, [&](UT_PTRFILE& f) {
        f.readptr(field);
        f.fixptr(&field);
        intoMap.read(&f);
        EXPECT_EQ(f.checkptrs(), nullptr);
    });
    EXPECT_EQ(field, intoMap.find("abcdefgh"));
    UT_NCH_CACHE intoTree(0, 20);
    intoTree.add("abc", 10);  // an existing name gains the stored count
    readImage(b, [&](UT_PTRFILE& f) { intoTree.read(&f); });

    Counts expected = countsOf(tree);
    EXPECT_EQ(countsOf(intoMap, kBoundaryTexts), expected);
    expected["abc"].first += 10;
    EXPECT_EQ(countsOf(intoTree), expected);
}

// An image of "alpha", "beta_long_name" and "g", each with 4 references, and
// where its fields lie: a 32-bit record count, then per record a 32-bit
// identity, a 32-bit count and the text after its 32-bit length, in reverse
// pre-order ("beta_long_name" at the root, then "g", then "alpha").
class BadImages : public testing::Test {
public:
    static constexpr std::size_t kWord = 4;
    static constexpr std::size_t kRecordHead = 3 * kWord;              // identity, count, text length
    static constexpr std::size_t kFirst = kWord;                       // "beta_long_name"
    static constexpr std::size_t kSecond = kFirst + kRecordHead + 14;  // "g"
    static constexpr std::size_t kThird = kSecond + kRecordHead + 1;   // "alpha"

    void SetUp() override {
        UT_NCH_CACHE src;
        for (const char* t : {"alpha", "beta_long_name", "g"})
            src.add(t, 4);
        good = UtilTest::slurp(writeImage("good", [&](UT_PTRFILE& f) { src.write(&f, 0); }));
        ASSERT_EQ(good.substr(kThird + kRecordHead, 5), "alpha");
    }

    // Whether both caches refuse `bytes` with the fatal report `why`, each
    // keeping the one name it had.
    bool refused(const std::string& bytes, const char* why = "Corrupt name image at byte ") {
        UtilTest::spit(path, bytes);
        UT_NCH_CACHE tree;
        tree.add("alpha", 1);
        Cache map;
        map.add("alpha", 1);
        int fatals = 0;
        for (int which = 0; which < 2; ++which) {
            UT_PTRFILE f(Port::Stream::READ);
            EXPECT_TRUE(f.open(path.c_str()));
            UtilTest::CapturedReports quiet;
            try {
                which ? map.read(&f) : tree.read(&f);
            } catch (const Port::FatalError& e) {
                ++fatals;
                EXPECT_EQ(e.getCode(), 19);
                EXPECT_NE(e.getMessage().find(why), std::string::npos) << e.getMessage();
            }
        }
        EXPECT_EQ(countsOf(tree), (Counts{{"alpha", {1, 0}}}));
        EXPECT_EQ(map.size(), 1u);
        EXPECT_EQ(map.find("alpha")->getRefCount(), 1);
        return fatals == 2;
    }

    std::string patched(std::size_t at, const std::string& bytes) const {
        std::string b = good;
        b.replace(at, bytes.size(), bytes);
        return b;
    }

    std::string good;
    std::string path = UtilTest::tempPath("bad");
};

TEST_F(BadImages, EveryTruncationIsRefused) {
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_TRUE(refused(good.substr(0, cut))) << "cut at " << cut;
}

TEST_F(BadImages, AnIdentityGivenToTwoTextsIsRefusedAtItsSecondRecordBeforeLaterFaults) {
    const std::string report =
        "Corrupt name image at byte " + std::to_string(kSecond) + ": one identity names two different texts.\n";
    const std::string clash = patched(kSecond, std::string("\1\0\0\0", 4));
    EXPECT_TRUE(refused(clash, report.c_str()));
    std::string thenNegative = clash;
    thenNegative.replace(kThird + kWord, 4, std::string("\xff\xff\xff\xff", 4));
    EXPECT_TRUE(refused(thenNegative, report.c_str()));
    EXPECT_TRUE(refused(clash.substr(0, kThird + 2), report.c_str()));  // and before a cut
}

// One field of the good image overwritten, and the report that refuses it.
struct BadField {
    const char* what;
    std::size_t at;
    std::string bytes;
    const char* why;
};

void PrintTo(const BadField& f, std::ostream* os) { *os << f.what; }

class BadFields : public BadImages, public testing::WithParamInterface<BadField> {};

TEST_P(BadFields, AreRefusedByBothCaches) {
    EXPECT_TRUE(refused(patched(GetParam().at, GetParam().bytes), GetParam().why));
}

constexpr const char* kCorrupt = "Corrupt name image at byte ";
INSTANTIATE_TEST_SUITE_P(NameImage, BadFields,
                         testing::Values(BadField{"RecordCountPastTheFile", 0, std::string("\xff\xff\xff\x7f", 4),
                                                  kCorrupt},
                                         BadField{"NegativeReferenceCount", BadImages::kFirst + BadImages::kWord,
                                                  std::string("\xff\xff\xff\xff", 4), kCorrupt},
                                         BadField{"TextPastTheFile", BadImages::kFirst + 2 * BadImages::kWord,
                                                  std::string("\xf0\xff\xff\x0f", 4), kCorrupt},
                                         BadField{"ZeroByteInsideAText", BadImages::kFirst + BadImages::kRecordHead + 1,
                                                  std::string(1, '\0'), kCorrupt},
                                         BadField{"NullIdentity", BadImages::kFirst, std::string(4, '\0'), kCorrupt},
                                         // The reader already holds "alpha" once.
                                         BadField{"CountPastIntMaxInTheReader", BadImages::kThird + BadImages::kWord,
                                                  std::string("\xff\xff\xff\x7f", 4), "Reference count overflow.\n"}),
                         [](const testing::TestParamInfo<BadField>& p) { return std::string(p.param.what); });

TEST(NameImage, ReadingOrWritingWithoutAFileIsFatal) {
    EXPECT_FATAL(UT_NCH_CACHE().read(nullptr), 19, "No file given for the name image.\n");
    EXPECT_FATAL(Cache().write(nullptr, false), 19, "No file given for the name image.\n");
}

TEST_F(BadImages, APointerOnlyCacheCannotBeReadInto) {
    UtilTest::spit(path, good);
    UT_NCH_CACHE p(1);
    Cache q(true);
    readImage(path, [&](UT_PTRFILE& f) {
        EXPECT_FATAL(p.read(&f), 19, "cannot read name data into pointer-only cache\n");
        EXPECT_FATAL(q.read(&f), 19, "Cannot read name data into pointer-only cache\n");
    });
}

// Two images in one stream: the second gives identity 1 to another text. The
// stream refuses it as a second registration, and the cache keeps only what
// the first image brought.
template <class CacheT>
void secondImageReusingAnIdentityIsRefusedWhole() {
    std::string path = writeImage("two_images", [](UT_PTRFILE& f) {
        UT_NCH_CACHE first, second;
        first.add("alpha_first", 1);
        second.add("beta_second", 2);
        second.add("gamma", 1);
        first.write(&f, 0);
        // A second writer's identities start at 1 again.
        UT_PTRFILE w(Port::Stream::WRITE);
        std::string tail = UtilTest::tempPath("two_images_tail");
        ASSERT_TRUE(w.open(tail.c_str()));
        second.write(&w, 0);
        ASSERT_TRUE(w.close());
        std::string bytes = UtilTest::slurp(tail);
        f.writebytes(bytes.data(), bytes.size());
    });
    UT_PTRFILE in(Port::Stream::READ);
    ASSERT_TRUE(in.open(path.c_str()));
    CacheT cache;
    cache.read(&in);
    void* first = cache.find("alpha_first");
    ASSERT_NE(first, nullptr);
    UtilTest::CapturedReports quiet;
    try {
        cache.read(&in);
        ADD_FAILURE() << "the second image was taken";
    } catch (const Port::FatalError& e) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "Pointer %" PRIxPTR " already registered.\n",
                      reinterpret_cast<uintptr_t>(first));
        EXPECT_EQ(e.getMessage(), expected);
    }
    EXPECT_EQ(cache.find("beta_second"), nullptr);
    EXPECT_EQ(cache.find("gamma"), nullptr);
    EXPECT_EQ(cache.find("alpha_first")->getRefCount(), 1);
}

TEST(NameImage, ASecondImageReusingAnIdentityLeavesTheTreeCacheAsItWas) {
    secondImageReusingAnIdentityIsRefusedWhole<UT_NCH_CACHE>();
}

TEST(NameImage, ASecondImageReusingAnIdentityLeavesTheMapCacheAsItWas) {
    secondImageReusingAnIdentityIsRefusedWhole<Cache>();
}

TEST(NameCacheDump, StatusLinesStreamLinesAndAliases) {
    UT_NCH_CACHE c;
    c.add("b", 1);
    c.add("a", 2)->mark();
    {
        UtilTest::CapturedReports seen;
        c.dump(0);
        EXPECT_EQ(seen.status(),
                  (std::vector<std::string>{"\nDumping the name cache: 2 entries\n", "\"a\": rcnt = 2, mcnt = 1\n",
                                            "\"b\": rcnt = 1, mcnt = 0\n"}));
    }
    std::string path = UtilTest::tempPath("dump");
    {
        Port::Stream s(Port::Stream::WRITE, 0);
        ASSERT_TRUE(s.open(path.c_str()));
        c.dump(s, 0);
        Cache f;
        f.add("zz", 3);
        f.add("a_long_name", 1)->mark();
        f.dump(s);
        testing::internal::CaptureStdout();
        f.dump();  // the same lines on standard output
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "\"a_long_name\": rcnt = 1, mcnt = 1\n\"zz\": rcnt = 3, mcnt = 0\n");
        Util::AliasCache::Map aliases{{"net2", "n2"}, {"net1", "n1"}};
        Util::AliasCache::dumpCache(&aliases, s);
        Util::AliasCache::dumpCache(nullptr, s);
        ASSERT_TRUE(s.close());
    }
    EXPECT_EQ(UtilTest::slurp(path),
              "\nDumping the name cache: 2 entries\n"
              "\"a\": rcnt = 2, mcnt = 1\n"
              "\"b\": rcnt = 1, mcnt = 0\n"
              "\"a_long_name\": rcnt = 1, mcnt = 1\n"
              "\"zz\": rcnt = 3, mcnt = 0\n"
              "   net1, (n1)\n"
              "   net2, (n2)\n");
}

}  // namespace

namespace {

// Name objects of all caches share one pool: caches on several threads at once.
TEST(NameCacheThreads, CachesOnSeveralThreadsShareTheNamePool) {
    std::vector<std::thread> threads;
    std::vector<unsigned> counts(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &counts] {
            UT_NCH_CACHE c;
            for (int i = 0; i < 3000; ++i)
                c.add(numbered(i * 4 + t).c_str(), i % 2);
            c.clean();
            counts[t] = c.get_count();
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(counts, (std::vector<unsigned>(4, 1500)));
}

}  // namespace
