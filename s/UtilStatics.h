// UtilStatics.h - the process-wide objects that several library objects share.
//
// Each unit that owns shared objects has one initialiser that makes them. It
// runs while the library is loaded and again at the start of every operation
// that uses them; once the objects exist it returns at once. The objects are
// published only when all of a unit's objects were made, so a failure never
// leaves a unit half set up, and a later call tries again. Mutexes, slots and
// class-wide pools are never destroyed.
#pragma once

#include "UtilReport.h"

#include <PortThread.h>
#include <UtilExport.h>

#include <atomic>
#include <mutex>

// Exported for the library's own tests; not part of the installed interface.
namespace Util::Statics {

// UtilBlist: the block lists' counters and class-wide pools.
struct Blist {
    Port_ThrMutex* listMemLock;     // UT_BLIST::mem and UT_BLIST::total_mem
    Port_ThrMutex* listCountLock;   // UT_BLIST::total_count
    Port_ThrMutex* listIterLock;    // UT_BLIST_ITER::mem
    Port_ThrMutex* listsMemLock;    // UT_BLISTS::mem and UT_BLISTS::total_mem
    Port_ThrMutex* listsCountLock;  // UT_BLISTS::total_count
    Port_ThrMutex* listsIterLock;   // UT_BLISTS_ITER::mem
};
// Also makes the four class-wide pools (UT_BLIST::mem and the others).
UTIL_EXPORT const Blist& blist();

// UtilBtreeimp: the tree's node pool and its dump lock.
struct Btree {
    Port_ThrMutex* dumpLock;      // serialises the dumps of all trees
    Port_ThrMutex* nodePoolLock;  // UT_BTR_NODE::mem
};
// Also makes the node pool UT_BTR_NODE::mem.
UTIL_EXPORT const Btree& btree();

// UtilStrobj: the lock of the string objects' shared pool.
UTIL_EXPORT Port_ThrMutex& stringPoolLock();

// UtilEquateimp and UtilTstampimp: one per-thread slot each.
UTIL_EXPORT Port_ThrThreadDataHelper& equateSlot();
UTIL_EXPORT Port_ThrThreadDataHelper& tstampSlot();

// The fixed-size pool switch (QRN_MEMPOOL_ON or QRN_FST_MEMPOOL_ON), read once.
void readFastmemSwitches();
UTIL_EXPORT bool fastmemPoolsOn();

// The small-element pool switches (QRN_MEMPOOL_ON or QRN_SM_MEMPOOL_ON, and
// QRN_UT_SM_STATS), read once.
void readSmallmemSwitches();
UTIL_EXPORT bool smallmemPoolsOn();
UTIL_EXPORT bool smallmemStatsOn();

// UtilShared: the registry's map, made empty at load.
void makeSharedResourceMap();

}  // namespace Util::Statics

namespace Util::Statics {

// Where a unit keeps one of its shared objects; constant-initialised, so it
// is usable before any dynamic initialisation of the library has run.
template <class T>
struct Shared {
    std::mutex lock;                  // taken while the object is made
    std::atomic<T*> object{nullptr};  // the object once made; null before
};

// The first calls of once: make the objects under the unit's lock.
template <class T, class Make>
[[gnu::noinline]] T& makeOnce(Shared<T>& shared, const Frame::Unit& unit, int line, Make make) {
    std::lock_guard<std::mutex> hold(shared.lock);
    T* made = shared.object.load(std::memory_order_relaxed);
    if (!made) {
        Frame::makeShared(unit, line, [&] { made = make(); });
        shared.object.store(made, std::memory_order_release);
    }
    return *made;
}

// Makes a unit's shared objects once: `make` returns them (all or nothing),
// failures become the frame's fatal reports and leave the next call to retry.
// (std::call_once is not used: a throwing callable hangs later calls with some
// runtimes.) Once made, they are reached inline.
template <class T, class Make>
T& once(Shared<T>& shared, const Frame::Unit& unit, int line, Make make) {
    if (T* made = shared.object.load(std::memory_order_acquire)) [[likely]]
        return *made;
    return makeOnce(shared, unit, line, make);
}

// A unit's per-thread slot, whose clean-up deletes a thread's Data.
template <class Data>
Port_ThrThreadDataHelper& threadSlot(Shared<Port_ThrThreadDataHelper>& shared, const Frame::Unit& unit, int line) {
    return once(shared, unit, line,
                [] { return new Port_ThrThreadDataHelper([](void* data) { delete static_cast<Data*>(data); }); });
}

}  // namespace Util::Statics
