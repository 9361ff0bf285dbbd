// UtilSmem.h - pools of small equal-sized elements, private or shared.
//
// A UT_SM_SMALLMEM handle either owns a private pool or shares one of sixteen
// process-wide pools (elements of 8, 16, ..., 128 bytes) with every handle of
// the same size class. Elements carry no header: sizes round up to a multiple
// of 8 and each chunk of budget bytes (4000 by default) plus an 8-byte link
// holds budget / size elements. Private pools can give their chunks back
// (releasememory, or automatically at the last release for the three-argument
// constructor); shared pools keep theirs for the life of the process.
//
// Switches, read once at load: pooling is on with QRN_MEMPOOL_ON or
// QRN_SM_MEMPOOL_ON (otherwise every element is its own qrn_malloc block);
// QRN_UT_SM_STATS writes requests and statistics to standard error:
//   "SMEM: Shared %d requested by %s\n"
//   "SMEM %-20s  (EMPTY)\n"
//   "SMEM %-20s  (SZ:%d BLK:%d ACT:%d FREE:%d TOTM:%d) (REL:%s  RELZ:%s)\n"
//
// releasememory never gives back a chunk while any element is in use.
//
// Refused with a fatal report: a shared size above 128 (code -1,
// "SMALLMEM: elementsize too large.\n"), and (code 19) a size below 1 or a
// budget other than -1 that is smaller than one element.
//
// A pool takes no lock: whoever shares one across threads serialises its use
// (the library's string objects do, for ut_stringmem). Making and destroying
// handles is safe from any thread.
//
// printstatsallpools() may run on any thread at any time (a monitoring
// thread, say): the list of pools does not change while it runs, and it reads
// each pool holding the mutex named by set_guard(). ut_stringmem's pool has
// the string objects' mutex. A pool without a guard (a caller's own, or a
// shared one used through a caller's handle) must not be in use on another
// thread while the statistics are printed.
//
// Lives in: s/UtilSmem.cpp; tests: tests/smem_test.cpp; docs: docs/pools.md.
#pragma once

#include "UtilExport.h"

#include <PortHeap.h>

class Port_ThrMutex;

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

class UTIL_EXPORT UT_SM_SMALLMEM_IMP : public UT_STATOBJ {
public:
    // bytes of elements per chunk unless the caller gives another budget
    static constexpr int kDefaultBudget = 4000;

    UT_SM_SMALLMEM_IMP(int size, unsigned char release, bool releaseAtZero, const char* poolname, int blk);
    ~UT_SM_SMALLMEM_IMP();
    UT_SM_SMALLMEM_IMP(const UT_SM_SMALLMEM_IMP&) = delete;
    UT_SM_SMALLMEM_IMP& operator=(const UT_SM_SMALLMEM_IMP&) = delete;

    void* getmem();
    void relmem(void* p);
    void printstats() const;
    // Gives every recorded chunk back; with `onlyifidle`, only when no element
    // is in use.
    void releasememory(bool onlyifidle);
    unsigned short getelemsize() const { return elemsize; }
    uint32_t getblksize() const { return blksize; }
    int getactive() const { return active; }
    void set_guard(Port_ThrMutex* lock) { guard.store(lock, std::memory_order_release); }
    Port_ThrMutex* get_guard() const { return guard.load(std::memory_order_acquire); }

private:
    friend class UT_SM_SMALLMEM;
    void freechunks();

    // The mutex its users hold around getmem and relmem, held by the
    // statistics while they read the pool; null when there is none. Atomic:
    // a report on another thread may read it while it is set.
    std::atomic<Port_ThrMutex*> guard{nullptr};
    bool rel;           // chunks are released by freechunks, and so on destruction
    bool relz;          // chunks are released when the last element is given back
    uint16_t elemsize;  // bytes per element, rounded up to 8
    uint32_t blksize;   // bytes per chunk: its elements and the link to the next chunk
    int active;         // elements handed out and not given back
    void* freelist;     // given-back and never-used elements, linked through their first word
    void* chunks;       // the chunks made, linked through their first word; kept only when rel
    std::string name;   // the pool's name in the statistics
};

class UTIL_EXPORT UT_SM_SMALLMEM {
public:
    // priv != 0: a private pool that gives its chunks back only on request;
    // otherwise the shared pool of the size's class. blk -1: the default budget.
    UT_SM_SMALLMEM(int size, unsigned char priv, const char* client, int blk);
    // A private pool that gives its chunks back when its last element returns.
    UT_SM_SMALLMEM(int size, const char* client, int blk);
    ~UT_SM_SMALLMEM();
    UT_SM_SMALLMEM(const UT_SM_SMALLMEM&) = delete;
    UT_SM_SMALLMEM& operator=(const UT_SM_SMALLMEM&) = delete;

    void* getmem() { return imp->getmem(); }
    void relmem(void* p) { imp->relmem(p); }
    void printstats() const { imp->printstats(); }
    void releasememory(bool onlyifidle) { imp->releasememory(onlyifidle); }
    const UT_SM_SMALLMEM_IMP& pool() const { return *imp; }
    // Names the mutex every user of this handle's pool holds around getmem
    // and relmem; printstatsallpools() holds it while it reads the pool. It
    // must outlive the pool and not be held by the caller of the statistics.
    void set_guard(Port_ThrMutex* lock) { imp->set_guard(lock); }
    // The mutex set_guard named, or null.
    Port_ThrMutex* get_guard() const { return imp->get_guard(); }
    static void printstatsallpools();

private:
    UT_SM_SMALLMEM_IMP* imp;  // the pool; shared pools are the manager's, private ones this handle's
};

class UTIL_EXPORT UT_SM_MNGR {
public:
    static constexpr int kClasses = 16;                  // shared size classes of 8, 16, ... bytes
    static constexpr int kLargestShared = 8 * kClasses;  // the largest shared element

    static UT_SM_MNGR* getmemmngr();
    UT_SM_SMALLMEM_IMP* getmemhandler(int size);
    void addactivehandler(UT_SM_SMALLMEM_IMP* p);
    void remactivehandler(UT_SM_SMALLMEM_IMP* p);
    void incnumimps();
    void decnumimps();
    void printstats();

private:
    UT_SM_MNGR() = default;
    ~UT_SM_MNGR() = delete;

    std::recursive_mutex lock;                    // the handlers, the set and the count
    UT_SM_SMALLMEM_IMP* handlers[kClasses] = {};  // the shared pool of each size class, made on first use
    std::set<UT_SM_SMALLMEM_IMP*> active;         // every pool alive, for the statistics
    int numimps = 0;                              // UT_SM_SMALLMEM handles alive, shared or private
};

// The string objects' shared 16-byte pool, made last at load.
extern UTIL_EXPORT UT_SM_SMALLMEM ut_stringmem;
