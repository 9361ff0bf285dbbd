// UtilHash.h - a chained hash table with a fixed number of buckets.
//
// The second keyed store. It knows nothing of its keys: a derived class
// supplies hash_func(key), comp_func(key, value) (0 when key is the key of
// value) and, for an owner table, del_func(value). Insertion puts a new entry
// at the head of its bucket without searching, so a key added twice has two
// entries and look-ups find the newer one first. The bucket count never
// changes: size it for the entries expected. An owner table hands removed
// values to del_func (s_remove still returns the value); the destructor calls
// no del_func, so a derived owner calls empty() in its own destructor.
//
// A bucket count of 0 is a fatal report (code 3). Nothing is locked: one
// thread uses a table at a time.
//
// Lives in: s/UtilHash.cpp; tests: tests/hash_test.cpp; docs: docs/stores.md.
#pragma once

#include "UtilExport.h"
#include "UtilStore.h"

#include <cstdint>

namespace Util::Ranges {
struct Access;  // the standard iterators of UtilRange.h
}

class UTIL_EXPORT UT_HASH : public UT_STORE {
public:
    UT_HASH(unsigned int nbuckets, unsigned char owner);
    ~UT_HASH() override;
    UT_HASH(const UT_HASH&) = delete;
    UT_HASH& operator=(const UT_HASH&) = delete;

    // Stores value (the key pointer itself when value is null); returns 1.
    using UT_STORE::s_add;
    using UT_STORE::s_find;
    using UT_STORE::s_remove;
    unsigned char s_add(void* key, void* value) override;
    void* s_find(void* key) override;
    void* s_remove(void* key) override;
    virtual unsigned int hash_func(void* key) = 0;
    virtual int comp_func(void* key, void* value) = 0;
    virtual void del_func(void* value);

    void add(void* key, void* value);
    // Removes every entry (an owner hands each value to del_func first).
    void empty();
    // Prints nothing.
    void dumpstats() const {}
    unsigned int get_count() const { return count; }
    unsigned int get_nbuckets() const { return nbuckets; }

private:
    friend struct Util::Ranges::Access;
    struct Node {
        Node* next;
        void* value;
    };
    void* find_and_remove(void* key, unsigned char remove);
    // For every entry in bucket order: del_func(value), or fn(value).
    void process_and_kill(unsigned char use_del_func, void (*fn)(void* value));
    Node& bucketOf(void* key);
    static Node* vacant();
    // Deletes the heap nodes behind every bucket and marks each bucket vacant.
    void release_chains();

    uint32_t nbuckets;  // fixed at construction, at least 1
    // ceil(2^64 / nbuckets): hash % nbuckets by two multiplications instead
    // of a division (exact for every 32-bit hash).
    uint64_t modmagic;
    // The newest entry of each bucket lives in the array itself, the older
    // ones in a chain of heap nodes behind it: a look-up that hits the newest
    // entry follows no pointer, and most entries need no node. A bucket
    // without entries has next == vacant().
    Node* buckets;
    unsigned char owner;  // nonzero: the table deletes its values (del_func) when it lets entries go
    uint32_t count;       // entries stored
};
