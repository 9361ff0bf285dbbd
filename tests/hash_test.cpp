// Tests of the hash table: buckets, stacked keys and the order of hook calls.
#include "TestSupport.h"

#include <UtilHash.h>
#include <UtilRange.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// Keys are C strings; values are the stored key texts themselves or tagged
// records.
struct Record {
    std::string key;
    int tag;
};

class RecordTable : public UT_HASH {
public:
    RecordTable(unsigned nb, unsigned char own) : UT_HASH(nb, own) {}
    ~RecordTable() override { empty(); }
    unsigned hash_func(void* key) override {
        return static_cast<unsigned>(std::hash<std::string>()(static_cast<const char*>(key)));
    }
    int comp_func(void* key, void* value) override {
        return static_cast<Record*>(value)->key != static_cast<const char*>(key);
    }
    void del_func(void* value) override {
        ++released;
        delete static_cast<Record*>(value);
    }
    int released = 0;
};

class TextTable : public UT_HASH {
public:
    explicit TextTable(unsigned nb) : UT_HASH(nb, 0) {}
    unsigned hash_func(void* key) override { return static_cast<unsigned>(std::strlen(static_cast<char*>(key))); }
    int comp_func(void* key, void* value) override {
        return std::strcmp(static_cast<char*>(key), static_cast<char*>(value));
    }
    void del_func(void*) override { ADD_FAILURE() << "not an owner"; }
};

TEST(Hash, DuplicatesStackNewestFirst) {
    TextTable table(1);
    char k[] = "k";
    char a[] = "k", b[] = "k";
    table.add(k, a);
    table.add(k, b);
    EXPECT_EQ(table.get_count(), 2u);
    EXPECT_EQ(table.s_find(k), b);
    EXPECT_EQ(table.s_remove(k), b);
    EXPECT_EQ(table.get_count(), 1u);
    EXPECT_EQ(table.s_remove(k), a);
    EXPECT_EQ(table.s_remove(k), nullptr);
    EXPECT_EQ(table.get_count(), 0u);
    EXPECT_EQ(table.s_add(k, nullptr), 1);
    EXPECT_EQ(table.s_find(k), k) << "a null value stores the key pointer";
    table.empty();
    table.empty();
    EXPECT_EQ(table.s_find(k), nullptr);
}

TEST(Hash, OwnerTablesReleaseRemovedValues) {
    RecordTable table(7, 1);
    auto* r = new Record{"x", 1};
    table.add(const_cast<char*>("x"), r);
    table.add(const_cast<char*>("y"), new Record{"y", 2});
    EXPECT_EQ(table.s_remove(const_cast<char*>("x")), r) << "returned even though released";
    EXPECT_EQ(table.released, 1);
    table.empty();
    EXPECT_EQ(table.released, 2);
    EXPECT_EQ(table.get_count(), 0u);
    EXPECT_EQ(table.s_find(const_cast<char*>("y")), nullptr);
}

// "c" or "d" and the text: built without operator+ on a literal, which GCC 12
// misreads at -O3 (-Wrestrict).
std::string tagged(char tag, const std::string& text) {
    std::string out(1, tag);
    out.append(text);
    return out;
}

// Every hook call, in order, against a model of the table as one list per
// bucket, newest entry first: the comparisons of look-ups and removals and
// the releases of empty() come in the same order whatever the storage.
class LoggedTable : public UT_HASH {
public:
    explicit LoggedTable(unsigned nb) : UT_HASH(nb, 1) {}
    ~LoggedTable() override { empty(); }
    unsigned hash_func(void* key) override { return static_cast<unsigned>(std::atoi(static_cast<char*>(key))); }
    int comp_func(void* key, void* value) override {
        log.push_back(tagged('c', static_cast<char*>(value)));
        return std::strcmp(static_cast<char*>(key), static_cast<char*>(value));
    }
    void del_func(void* value) override { log.push_back(tagged('d', static_cast<char*>(value))); }
    std::vector<std::string> log;
};

TEST(Hash, HookCallsFollowTheBucketsNewestFirst) {
    constexpr unsigned kBuckets = 7;
    std::vector<std::string> texts;
    for (int i = 0; i < 60; ++i)
        texts.push_back(std::to_string(i % 23));  // repeats: equal keys stack up
    LoggedTable table(kBuckets);
    std::vector<std::vector<std::string>> model(kBuckets);  // front = newest
    std::vector<std::string> expected;
    std::mt19937 rng(3);
    for (int step = 0; step < 400; ++step) {
        std::string& text = texts[rng() % texts.size()];
        auto& bucket = model[static_cast<unsigned>(std::atoi(text.c_str())) % kBuckets];
        int what = static_cast<int>(rng() % 3);
        if (what == 0) {
            table.add(text.data(), nullptr);
            bucket.insert(bucket.begin(), text);
            continue;
        }
        auto hit = bucket.begin();
        for (; hit != bucket.end(); ++hit) {
            expected.push_back(tagged('c', *hit));
            if (*hit == text)
                break;
        }
        void* got = what == 1 ? table.s_find(text.data()) : table.s_remove(text.data());
        EXPECT_EQ(got != nullptr, hit != bucket.end());
        if (what == 2 && hit != bucket.end()) {
            expected.push_back(tagged('d', text));
            bucket.erase(hit);
        }
    }
    std::size_t held = 0;
    for (const auto& bucket : model)
        held += bucket.size();
    EXPECT_EQ(table.get_count(), held);
    table.empty();
    for (const auto& bucket : model)
        for (const auto& text : bucket)
            expected.push_back(tagged('d', text));
    EXPECT_EQ(table.log, expected);
    EXPECT_EQ(table.get_count(), 0u);
}

// A key's bucket is its hash modulo the bucket count, at the ends of both
// ranges: the walk goes bucket by bucket, so it shows where each key went.
TEST(Hash, AKeysBucketIsItsHashModuloTheBucketCount) {
    class NumberTable : public UT_HASH {
    public:
        explicit NumberTable(unsigned nb) : UT_HASH(nb, 0) {}
        unsigned hash_func(void* key) override { return *static_cast<unsigned*>(key); }
        int comp_func(void* key, void* value) override {
            return *static_cast<unsigned*>(key) != *static_cast<unsigned*>(value);
        }
    };
    std::vector<unsigned> hashes{0u, 1u, 2u, 6u, 7u, 65536u, 65537u, 999983u, 2147483648u, UINT32_MAX - 1, UINT32_MAX};
    for (unsigned n : {1u, 2u, 3u, 7u, 65537u, 999983u, 1u << 20}) {
        NumberTable table(n);
        std::multimap<unsigned, unsigned> byBucket;  // bucket -> hash, oldest first
        for (unsigned& h : hashes) {
            table.add(&h, nullptr);
            byBucket.emplace(h % n, h);
        }
        std::vector<unsigned> expected;
        for (auto it = byBucket.begin(); it != byBucket.end();) {
            auto [first, last] = byBucket.equal_range(it->first);
            std::vector<unsigned> bucket;
            for (auto b = first; b != last; ++b)
                bucket.insert(bucket.begin(), b->second);  // newest first
            expected.insert(expected.end(), bucket.begin(), bucket.end());
            it = last;
        }
        std::vector<unsigned> walked;
        for (void* value : table)
            walked.push_back(*static_cast<unsigned*>(value));
        EXPECT_EQ(walked, expected) << n << " buckets";
        for (unsigned& h : hashes)
            EXPECT_EQ(table.s_find(&h), &h) << h << " in " << n << " buckets";
    }
}

TEST(Hash, ZeroBucketsIsFatal) { EXPECT_FATAL(TextTable{0}, 3, "Invalid Bucket Count: 0\n"); }

}  // namespace
