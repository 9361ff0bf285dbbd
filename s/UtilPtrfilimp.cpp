// UtilPtrfilimp.cpp - the pointer-fixing stream and its fix-up table.
#include "UtilReport.h"
#include "UtilTextHash.h"

#include <UtilFstmem.h>
#include <UtilPtrfile.h>

#include <PortHeap.h>

#include <algorithm>
#include <cinttypes>
#include <new>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilPtrfilimp.cpp", "1.0"};
// The table of pointers waiting for their identity could not grow.
constexpr int kFatalNoMemory = 1;

constexpr unsigned kStreamBuffer = 4096;
constexpr int kFixBuckets = 4001;  // a prime
constexpr unsigned kRecordBytes = 32;
constexpr unsigned kRecordsPerBlock = 1024;
constexpr const char* kRecordClass = "UT_PTRFIXREC";
constexpr uint32_t kFirstRefsRoom = 4;
constexpr uint64_t kGoldenRatio = 0x9E3779B97F4A7C15ull;  // 2^64 / phi, odd

// The full address in hex: a plain %x would show only its low 32 bits.
constexpr const char* kMsgRegistered = "Pointer %" PRIxPTR " already registered.\n";
constexpr const char* kMsgTooManyPointers = "More than 4294967295 pointers written to one file.\n";

}  // namespace

// ---- records ---------------------------------------------------------------

UT_PTRFIXREC::UT_PTRFIXREC(void* key) : next(nullptr), oldaddr(key), newaddr(nullptr), refs(nullptr) {}

UT_PTRFIXREC::~UT_PTRFIXREC() { qrn_free(refs); }

void UT_PTRFIXREC::setnewaddr(void* addr) {
    if (newaddr == addr)
        return;
    if (newaddr)
        UTIL_REPORT().fatal(Util::Frame::kFatal, kMsgRegistered, reinterpret_cast<uintptr_t>(newaddr));
    newaddr = addr;
    if (!refs)
        return;
    void*** at = entries(refs);
    for (uint32_t i = 0; i < refs->count; ++i)
        *at[i] = addr;
    qrn_free(refs);
    refs = nullptr;
}

void UT_PTRFIXREC::fixreference(void** ref) {
    if (newaddr) {
        *ref = newaddr;
        return;
    }
    if (!refs || refs->count == refs->room) {
        uint64_t room = refs ? uint64_t{refs->room} * 2 : kFirstRefsRoom;
        if (room > UINT32_MAX)
            UTIL_REPORT().fatal(kFatalNoMemory, "%s\n", Util::Frame::kMsgOutOfMemory);
        auto* grown =
            static_cast<Refs*>(qrn_realloc(refs, sizeof(Refs) + static_cast<std::size_t>(room) * sizeof(void**)));
        if (!grown)
            UTIL_REPORT().fatal(kFatalNoMemory, "%s\n", Util::Frame::kMsgOutOfMemory);
        if (!refs)
            grown->count = 0;
        grown->room = static_cast<uint32_t>(room);
        refs = grown;
    }
    entries(refs)[refs->count++] = ref;
}

// ---- fix-up table ----------------------------------------------------------

UT_PTRFIXTABLE::UT_PTRFIXTABLE(int n)
    : buckets(nullptr), size(n > 0 ? n : 1), recmem(nullptr), count(0), curbucket(-1), currec(nullptr), curidx(0) {
    buckets = new UT_PTRFIXREC*[static_cast<std::size_t>(size)]();
    try {
        recmem = new UT_FASTMEM(kRecordBytes, kRecordsPerBlock, kRecordClass);
    } catch (...) {
        delete[] buckets;
        throw;
    }
}

UT_PTRFIXTABLE::~UT_PTRFIXTABLE() {
    release_all();
    delete[] buckets;
    delete recmem;
}

int UT_PTRFIXTABLE::hash(void* key) const {
    return static_cast<int>(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key)) % static_cast<uint64_t>(size));
}

const void* UT_PTRRECS::key(UT_PTRFIXREC* e) { return e->oldaddr; }

template <class Traits>
std::size_t UT_PTRINDEX<Traits>::home(const void* key) const {
    const uint64_t word = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key));
    if constexpr (Traits::kKeyed)
        return static_cast<std::size_t>(Util::KeyedHash::hashWord(word, Util::KeyedHash::processKey()) >> (64 - bits));
    else
        return static_cast<std::size_t>((word * kGoldenRatio) >> (64 - bits));
}

UT_PTRFIXREC* UT_PTRFIXTABLE::findorcreate(void* key) {
    UT_PTRFIXREC*& found = index.slot(key);
    if (found)
        return found;
    UT_PTRFIXREC*& head = buckets[hash(key)];
    void* room = recmem->getnewptr();
    if (!room)
        UTIL_REPORT().fatal(kFatalNoMemory, "%s\n", Util::Frame::kMsgOutOfMemory);
    auto* rec = ::new (room) UT_PTRFIXREC(key);
    rec->next = head;
    head = rec;
    ++count;
    index.fill(found, rec);
    return rec;
}

void UT_PTRFIXTABLE::setnewaddr(void* oldaddr, void* newaddr) { findorcreate(oldaddr)->setnewaddr(newaddr); }

void UT_PTRFIXTABLE::checknewaddr(void* oldaddr, void* newaddr) {
    UT_PTRFIXREC* rec = findorcreate(oldaddr);
    if (rec->newaddr && rec->newaddr != newaddr)
        UTIL_REPORT().fatal(Util::Frame::kFatal, kMsgRegistered, reinterpret_cast<uintptr_t>(rec->newaddr));
}

void UT_PTRFIXTABLE::fixreference(void** ref) {
    if (!ref || !*ref)
        return;
    findorcreate(*ref)->fixreference(ref);
}

void* UT_PTRFIXTABLE::checkptrs() {
    if (curbucket == -1) {
        curbucket = 0;
        currec = buckets[0];
        curidx = 0;
    }
    for (;;) {
        for (; currec; currec = currec->next, curidx = 0) {
            UT_PTRFIXREC::Refs* refs = currec->refs;
            if (refs && static_cast<uint32_t>(curidx) < refs->count) {
                void** at = UT_PTRFIXREC::entries(refs)[curidx];
                if (at) {
                    ++curidx;
                    return at;
                }
            }
        }
        if (++curbucket == size) {
            curbucket = -1;
            return nullptr;
        }
        currec = buckets[curbucket];
    }
}

void UT_PTRFIXTABLE::release_all() {
    for (int b = 0; b < size; ++b) {
        for (UT_PTRFIXREC* r = buckets[b]; r;) {
            UT_PTRFIXREC* next = r->next;
            r->~UT_PTRFIXREC();
            recmem->qrn_free(r);
            --count;
            r = next;
        }
        buckets[b] = nullptr;
    }
    index.clear();
}

void UT_PTRFIXTABLE::flush() {
    release_all();
    // The cursor pointed into the records just released: the next checkptrs
    // starts a new pass.
    curbucket = -1;
    currec = nullptr;
    curidx = 0;
}

// ---- implementation --------------------------------------------------------

UT_PTRFILE_IMP::UT_PTRFILE_IMP(Port::Stream::Access, UT_PTRFILE* stream)
    : owner(stream), fixtable(nullptr), nextid(1) {}

UT_PTRFILE_IMP::~UT_PTRFILE_IMP() { delete fixtable; }

UT_PTRFIXTABLE& UT_PTRFILE_IMP::table() {
    if (!fixtable)
        fixtable = new UT_PTRFIXTABLE(kFixBuckets);
    return *fixtable;
}

void UT_PTRFILE_IMP::writeptr(const void* p) {
    if (!p) {
        owner->write(0u);
        return;
    }
    UT_PTRIDS::Entry& found = ptrmap.slot(p);
    if (found.ptr) {
        owner->write(found.id);
        return;
    }
    // Identity 0 means null, so the count is exhausted when it wraps to it.
    if (nextid == 0)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgTooManyPointers);
    ptrmap.fill(found, {p, nextid});
    owner->write(nextid++);
}

int UT_PTRFILE_IMP::readptr(void*& p) {
    unsigned int id = 0;
    int result = owner->read(id);
    p = reinterpret_cast<void*>(static_cast<uintptr_t>(id));
    return result;
}

void UT_PTRFILE_IMP::registerptr(void* oldaddr, void* newaddr) { table().setnewaddr(oldaddr, newaddr); }

void UT_PTRFILE_IMP::checkregister(void* oldaddr, void* newaddr) { table().checknewaddr(oldaddr, newaddr); }

void UT_PTRFILE_IMP::fixptr(void** ref) { table().fixreference(ref); }

void* UT_PTRFILE_IMP::checkptrs() { return table().checkptrs(); }

void UT_PTRFILE_IMP::flush_fixtable() { table().flush(); }

// ---- public stream ---------------------------------------------------------

UT_PTRFILE::UT_PTRFILE(Port::Stream::Access access)
    : Port::Stream(access, kStreamBuffer), imp(new UT_PTRFILE_IMP(access, this)) {}

UT_PTRFILE::~UT_PTRFILE() { delete imp; }

void UT_PTRFILE::writeptr(const void* p) { imp->writeptr(p); }
int UT_PTRFILE::readptr(void*& p) { return imp->readptr(p); }
void UT_PTRFILE::registerptr(void* oldaddr, void* newaddr) { imp->registerptr(oldaddr, newaddr); }
void UT_PTRFILE::checkregister(void* oldaddr, void* newaddr) { imp->checkregister(oldaddr, newaddr); }
void UT_PTRFILE::fixptr(void** ref) { imp->fixptr(ref); }
void* UT_PTRFILE::checkptrs() { return imp->checkptrs(); }
void UT_PTRFILE::flush_fixtable() { imp->flush_fixtable(); }

static_assert(sizeof(UT_PTRFIXREC) <= kRecordBytes, "a record must fit its pool element");
