// UtilPtrfile.h - a binary stream that carries pointers as identities.
//
// Writing: writeptr() puts one unsigned 32-bit value (Port::Stream::write) in
// place of a pointer: 0 for null, otherwise the rank of the pointer's first
// appearance among the distinct non-null pointers this stream has written
// (the first gets 1, the next new one 2, ...). A pointer written again gets
// the same identity; identities are never reused.
//
// Reading: readptr() gives back the identity as a pointer-sized value. The
// reader announces the new address of each object it rebuilds with
// registerptr(identity, address) and asks for each pointer field it reads to
// be patched with fixptr(&field), before or after the registration.
// checkptrs() then hands out, one per call, the fields whose target never
// came, and null at the end of a pass; the next call starts a new pass, as
// does the first call after flush_fixtable().
//
// Registering a second, different address for one identity is a fatal
// report (code 19). A stream is used by one thread at a time.
//
// Lives in: s/UtilPtrfilimp.cpp; tests: tests/ptrfile_test.cpp; docs: docs/names.md.
#pragma once

#include "UtilExport.h"

#include <PortStream.h>

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

class UT_FASTMEM;
class UT_PTRFILE;
class UT_PTRFIXREC;

// The look-up behind both sides of the stream: entries found by a pointer
// value in one open-addressed array, at most half full. Traits give the
// entry type, its key and its empty value. Not meant for use outside.
template <class Traits>
class UT_PTRINDEX {
public:
    using Entry = typename Traits::Entry;

    UT_PTRINDEX() : slots(std::size_t{1} << kFirstBits, Traits::empty()), bits(kFirstBits) {}

    // The entry of `key`, or the empty slot where it belongs.
    Entry& slot(const void* key) {
        assert(used < slots.size() && "an empty slot ends every probe");
        const std::size_t mask = slots.size() - 1;
        std::size_t i = home(key);
        while (!Traits::isEmpty(slots[i]) && Traits::key(slots[i]) != key)
            i = (i + 1) & mask;
        return slots[i];
    }
    // Fills the empty slot that slot() gave.
    void fill(Entry& into, Entry e) {
        into = e;
        if (++used * 2 > slots.size())
            grow();
    }
    void clear() {
        std::fill(slots.begin(), slots.end(), Traits::empty());
        used = 0;
    }

private:
    static constexpr unsigned kFirstBits = 10;  // 1024 slots to start with: a small file never grows the index

    // Where a key's probe starts: the top bits of its hash (see the traits'
    // kKeyed).
    std::size_t home(const void* key) const;
    void grow() {
        std::vector<Entry> old(slots.size() * 2, Traits::empty());
        old.swap(slots);
        ++bits;
        for (const Entry& e : old)
            if (!Traits::isEmpty(e))
                slot(Traits::key(e)) = e;
    }

    std::vector<Entry> slots;  // a power of two of them, at most half in use
    unsigned bits;             // log2 of slots.size()
    std::size_t used = 0;      // slots in use
};

// Writing side: pointer value to identity (null is never a key). The keys
// are the caller's own addresses, which no file chooses: a multiplication by
// the golden ratio spreads them and keeps objects that lie together in memory
// together in the index, so a save in address order finds its slots cached.
struct UT_PTRIDS {
    static constexpr bool kKeyed = false;
    struct Entry {
        const void* ptr;  // the caller's object; null in an empty slot
        uint32_t id;      // the identity written for it
    };
    static Entry empty() { return {nullptr, 0}; }
    static bool isEmpty(const Entry& e) { return e.ptr == nullptr; }
    static const void* key(const Entry& e) { return e.ptr; }
};

// Reading side: identity to its record (records may have the null key). The
// identities are whatever the file's writer chose, so they are hashed under
// the process's key: no choice of them crowds the index.
struct UT_PTRRECS {
    static constexpr bool kKeyed = true;
    using Entry = UT_PTRFIXREC*;
    static Entry empty() { return nullptr; }
    static bool isEmpty(Entry e) { return e == nullptr; }
    static const void* key(Entry e);
};

// One identity read from the file: its registered address, or the fields
// that wait for one.
class UTIL_EXPORT UT_PTRFIXREC {
private:
    friend class UT_PTRFIXTABLE;
    friend struct UT_PTRRECS;
    explicit UT_PTRFIXREC(void* key);
    ~UT_PTRFIXREC();
    UT_PTRFIXREC(const UT_PTRFIXREC&) = delete;
    UT_PTRFIXREC& operator=(const UT_PTRFIXREC&) = delete;
    void setnewaddr(void* addr);
    void fixreference(void** ref);

    // The waiting fields, in the order they were added: one allocation, this
    // header followed by `room` entries.
    struct Refs {
        uint32_t count;  // fields waiting (a fixed one leaves a null entry)
        uint32_t room;   // entries the allocation holds
    };
    static void*** entries(Refs* r) { return reinterpret_cast<void***>(r + 1); }

    UT_PTRFIXREC* next;  // the bucket's next record
    void* oldaddr;       // the identity read from the file
    void* newaddr;       // the object registered for it; null until registerptr
    Refs* refs;          // the fields waiting for newaddr; null when none ever waited
};

class UTIL_EXPORT UT_PTRFIXTABLE {
public:
    explicit UT_PTRFIXTABLE(int size);
    ~UT_PTRFIXTABLE();
    UT_PTRFIXTABLE(const UT_PTRFIXTABLE&) = delete;
    UT_PTRFIXTABLE& operator=(const UT_PTRFIXTABLE&) = delete;

    int hash(void* key) const;
    void setnewaddr(void* oldaddr, void* newaddr);
    void checknewaddr(void* oldaddr, void* newaddr);
    void fixreference(void** ref);
    void* checkptrs();
    void flush();

private:
    UT_PTRFIXREC* findorcreate(void* key);
    void release_all();

    UT_PTRFIXREC** buckets;  // size chains of records, newest first
    int size;                // buckets, at least 1
    UT_FASTMEM* recmem;      // the records' pool, made with the table
    int count;               // records in the table
    int curbucket;           // checkptrs: the bucket it stands in; -1 before it starts and after it ends
    UT_PTRFIXREC* currec;    // checkptrs: the record it stands on
    int curidx;              // checkptrs: the next waiting field of currec to report
    // Finds a key's record without walking its chain: the chains, which keep
    // the order checkptrs reports in, grow long once a file names many more
    // objects than there are buckets.
    UT_PTRINDEX<UT_PTRRECS> index;
};

class UTIL_EXPORT UT_PTRFILE_IMP {
public:
    UT_PTRFILE_IMP(Port::Stream::Access access, UT_PTRFILE* owner);
    ~UT_PTRFILE_IMP();
    UT_PTRFILE_IMP(const UT_PTRFILE_IMP&) = delete;
    UT_PTRFILE_IMP& operator=(const UT_PTRFILE_IMP&) = delete;

    void writeptr(const void* p);
    int readptr(void*& p);
    void registerptr(void* oldaddr, void* newaddr);
    void checkregister(void* oldaddr, void* newaddr);
    void fixptr(void** ref);
    void* checkptrs();
    void flush_fixtable();

private:
    UT_PTRFIXTABLE& table();

    UT_PTRFILE* owner;              // the stream the identities are written to and read from
    UT_PTRFIXTABLE* fixtable;       // the reading side's records, made on first use; null until then
    UT_PTRINDEX<UT_PTRIDS> ptrmap;  // the writing side's identities by pointer
    uint32_t nextid;                // the identity the next new pointer gets; starts at 1 (0 is null)
};

// Bound to a file like any Port::Stream made directly: open(name), close().
class UTIL_EXPORT UT_PTRFILE : public Port::Stream {
public:
    explicit UT_PTRFILE(Port::Stream::Access access);
    ~UT_PTRFILE() override;
    UT_PTRFILE(const UT_PTRFILE&) = delete;
    UT_PTRFILE& operator=(const UT_PTRFILE&) = delete;

    void writeptr(const void* p);
    // Reads one identity into `p`; returns what Port::Stream::read returned
    // (1 when a value was read, 0 when not).
    int readptr(void*& p);
    void registerptr(void* oldaddr, void* newaddr);
    // Makes the report registerptr(oldaddr, newaddr) would make, without
    // registering: when `oldaddr` already has an address other than `newaddr`
    // (null standing for an object not made yet). Otherwise nothing visible
    // changes, and the registerptr of `oldaddr` that follows needs no memory.
    // A reader that must apply all of a record or nothing checks first.
    void checkregister(void* oldaddr, void* newaddr);
    // `ref` must hold a value read by readptr; null fields are left alone.
    void fixptr(void** ref);
    void* checkptrs();
    void flush_fixtable();

private:
    UT_PTRFILE_IMP* imp;  // the implementation; never null
};
