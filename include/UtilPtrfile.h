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
#pragma once

#include "UtilExport.h"

#include <PortStream.h>

#include <cstdint>
#include <unordered_map>

class UT_FASTMEM;
class UT_PTRFILE;

// One identity read from the file: its registered address, or the fields
// that wait for one.
class UTIL_EXPORT UT_PTRFIXREC {
private:
    friend class UT_PTRFIXTABLE;
    explicit UT_PTRFIXREC(void* key);
    ~UT_PTRFIXREC();
    UT_PTRFIXREC(const UT_PTRFIXREC&) = delete;
    UT_PTRFIXREC& operator=(const UT_PTRFIXREC&) = delete;
    void setnewaddr(void* addr);
    void fixreference(void** ref);

    // The waiting fields, in the order they were added: one allocation, this
    // header followed by `room` entries.
    struct Refs {
        uint32_t count;
        uint32_t room;
    };
    static void*** entries(Refs* r) { return reinterpret_cast<void***>(r + 1); }

    UT_PTRFIXREC* next;
    void* oldaddr;
    void* newaddr;
    Refs* refs;
};

class UTIL_EXPORT UT_PTRFIXTABLE {
public:
    explicit UT_PTRFIXTABLE(int size);
    ~UT_PTRFIXTABLE();
    UT_PTRFIXTABLE(const UT_PTRFIXTABLE&) = delete;
    UT_PTRFIXTABLE& operator=(const UT_PTRFIXTABLE&) = delete;

    int hash(void* key) const;
    void setnewaddr(void* oldaddr, void* newaddr);
    void fixreference(void** ref);
    void* checkptrs();
    void flush();

private:
    UT_PTRFIXREC* findorcreate(void* key);
    void release_all();

    UT_PTRFIXREC** buckets;
    int size;
    UT_FASTMEM* recmem;
    int count;
    int curbucket;
    UT_PTRFIXREC* currec;
    int curidx;
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
    void fixptr(void** ref);
    void* checkptrs();
    void flush_fixtable();

private:
    UT_PTRFIXTABLE& table();

    UT_PTRFILE* owner;
    UT_PTRFIXTABLE* fixtable;
    std::unordered_map<const void*, uint32_t> ptrmap;
    uint32_t nextid;
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
    // `ref` must hold a value read by readptr; null fields are left alone.
    void fixptr(void** ref);
    void* checkptrs();
    void flush_fixtable();

private:
    UT_PTRFILE_IMP* imp;
};
