// UtilFstmem.h - fixed-size element pools.
//
// UT_FASTMEM hands out elements of one size carved from large blocks, for
// classes with many equal-sized objects. An element costs no header, only its
// size rounded up to 8 bytes; a free element keeps the link to the next free
// one of its block in its first 8 bytes. The block last taken from or given
// back to moves to the front of the pool's chain, so a run of requests or
// releases on one block costs constant work; a block that empties is released
// unless it is the pool's only block.
//
// Pooling is switched on for the whole process when QRN_MEMPOOL_ON or
// QRN_FST_MEMPOOL_ON is set at load. While it is off, every element is a
// separate qrn_malloc block and pools own no blocks.
//
// Every pool registers itself in one process-wide registry (guarded, so pools
// may be made and destroyed on several threads), which report_usage() dumps;
// no pool is made or destroyed while it runs. A pool object itself has no
// lock: one thread uses it at a time, or its users serialise with a mutex of
// their own. report_usage() may run on any thread at any time (a monitoring
// thread, say) as long as every pool in use on another thread meanwhile has
// its mutex named with set_guard(): it dumps each such pool holding that
// mutex. The library's class-wide pools all have theirs. A caller's own pool
// without a guard must not be in use on another thread during report_usage().
//
// Reports: dump() and report_usage() print status lines; releasing an address
// outside the pool's blocks is a fatal report (code 19).
//
// Lives in: s/UtilFstmemimp.cpp; tests: tests/fstmem_test.cpp; docs: docs/pools.md.
#pragma once

#include "UtilExport.h"

#include <PortHeap.h>

#include <atomic>
#include <cassert>
#include <cstdint>
#include <vector>

class Port_ThrMutex;

struct UTIL_EXPORT UT_FM_BLOCK_HEAD {
    UT_FM_BLOCK_HEAD* next;  // the chain's next block, null at its end
    void* free;              // first given-back element, null when there is none
    char* mem;               // the block's elements, block_size bytes
    uint32_t num_used;       // elements handed out and not given back
    UT_FM_BLOCK_HEAD* prev;  // the chain's previous block, null at its front
    // Elements from here to the block's end (mem + block_size) were never
    // handed out; they come after the given-back ones, in address order,
    // exactly as if the whole block had been chained up front (which would
    // cost a pass over it).
    char* carve;
};

// Where a block's elements start, kept beside the block so that finding the
// owner of an address reads one contiguous array.
struct UT_FM_BLOCK_SPAN {
    uintptr_t start;         // the block's first element
    UT_FM_BLOCK_HEAD* head;  // the block
};

// The pool itself; UT_FASTMEM forwards every operation to it.
class UTIL_EXPORT UT_FASTMEM_IMP : public UT_STATOBJ {
public:
    UT_FASTMEM_IMP(unsigned int elem_size, unsigned int elem_cnt, const char* classname);
    ~UT_FASTMEM_IMP();
    UT_FASTMEM_IMP(const UT_FASTMEM_IMP&) = delete;
    UT_FASTMEM_IMP& operator=(const UT_FASTMEM_IMP&) = delete;

    void* getnewptr();
    // With pooling on: takes from or gives back to the front block when that
    // needs nothing more (the common case, inline in UT_FASTMEM); null / false
    // otherwise.
    void* take_front() {
        UT_FM_BLOCK_HEAD* b = blocks;
        if (!b)
            return nullptr;
        if (void* e = b->free) {
            assert(b->num_used < elem_cnt && "a block with a given-back element is not full");
            b->free = *static_cast<void**>(e);
            ++b->num_used;
            return e;
        }
        if (b->carve != b->mem + block_size) {
            assert(b->carve + elem_size <= b->mem + block_size && "carving stays inside the block");
            void* e = b->carve;
            b->carve += elem_size;
            ++b->num_used;
            return e;
        }
        return nullptr;
    }
    bool give_front(void* p) {
        UT_FM_BLOCK_HEAD* b = blocks;
        // A block that would empty with others behind it is released: the
        // full path does that. One unsigned compare tells whether p lies in
        // the block: an address below mem wraps to a huge offset.
        if (!b || reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(b->mem) >= block_size ||
            (b->num_used == 1 && b->next))
            return false;
        assert(b->num_used > 0 && "an element given back was handed out by this block");
        assert((reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(b->mem)) % elem_size == 0 &&
               "an element given back starts where the block's elements start");
        *static_cast<void**>(p) = b->free;
        b->free = p;
        --b->num_used;
        return true;
    }
    uint32_t element_size() const { return elem_size; }
    int fastmem_verify() const { return 0; }
    void dump() const;
    static void report_usage();
    void set_debug_level(int level) { debug_level = level; }
    static void set_global_debug(int level) { global_debug = level; }
    void set_guard(Port_ThrMutex* lock) { guard.store(lock, std::memory_order_release); }
    Port_ThrMutex* get_guard() const { return guard.load(std::memory_order_acquire); }

    // Stored by set_global_debug; not consulted.
    static int global_debug;
    // Pooling is on for the process (read once at load).
    static bool pools_on;

private:
    friend class UT_FASTMEM;
    void init_block(UT_FM_BLOCK_HEAD* head) const;
    UT_FM_BLOCK_HEAD* new_block();
    void release_block(UT_FM_BLOCK_HEAD* head) const;
    bool block_is_whole(const UT_FM_BLOCK_HEAD* head) const;
    void int_free(void* p);
    UT_FM_BLOCK_HEAD* owner_of(const void* p) const;
    UT_FM_BLOCK_HEAD* add_block();
    void to_front(UT_FM_BLOCK_HEAD* head);

    UT_FM_BLOCK_HEAD* blocks;  // the chain; the front block serves takes first; null: no block
    uint32_t elem_size;        // bytes per element, rounded up to 8
    uint32_t elem_cnt;         // elements per block
    uint32_t block_size;       // elem_size × elem_cnt
    int debug_level;           // stored by set_debug_level; not consulted
    const char* classname;     // printed by dump; the caller's, may be null
    // The blocks by address, so that a release finds its block without
    // walking the chain.
    std::vector<UT_FM_BLOCK_SPAN> by_address;
    // The memory of the last block that emptied, kept for the next block the
    // pool needs (not in the chain, not dumped); null when there is none.
    UT_FM_BLOCK_HEAD* spare = nullptr;
    // The mutex the pool's users hold around every take and give-back, held
    // by report_usage while it reads the pool; null when there is none.
    // Atomic: a report on another thread may read it while it is set.
    std::atomic<Port_ThrMutex*> guard{nullptr};
};

class UTIL_EXPORT UT_FASTMEM {
public:
    // `elem_size` bytes (rounded up to a multiple of 8) per element and
    // `elem_cnt` elements per block; both at least 1, and a block at most 4 GiB.
    // `classname` is kept as a pointer and must outlive the pool (may be null).
    UT_FASTMEM(unsigned int elem_size, unsigned int elem_cnt, const char* classname);
    ~UT_FASTMEM();
    UT_FASTMEM(const UT_FASTMEM&) = delete;
    UT_FASTMEM& operator=(const UT_FASTMEM&) = delete;

    // Inline on the front block: most takes and give-backs stop there. With
    // pooling off, straight to the heap.
    void* getnewptr() {
        if (!UT_FASTMEM_IMP::pools_on)
            return Port::heapTake(imp_->element_size());
        void* e = imp_->take_front();
        return e ? e : getnewptr_slow();
    }
    // Gives an element back; null is ignored.
    void qrn_free(void* p) {
        if (!UT_FASTMEM_IMP::pools_on)
            Port::heapGive(p);
        else if (p && !imp_->give_front(p))
            qrn_free_slow(p);
    }
    int fastmem_verify() const;  // always 0: no check is made
    void dump() const;
    static void report_usage();
    void set_debug_level(int level);
    static void set_global_debug(int level);
    // Names the mutex that every user of this pool holds around getnewptr and
    // qrn_free (null: none); report_usage() then holds it while it dumps the
    // pool. The mutex must outlive the pool, and report_usage() must not be
    // called while holding it.
    void set_guard(Port_ThrMutex* lock);
    // The mutex set_guard named, or null.
    Port_ThrMutex* get_guard() const { return imp_->get_guard(); }
    // Bytes per element, after rounding.
    unsigned int element_size() const { return imp_->element_size(); }

private:
    void* getnewptr_slow();
    void qrn_free_slow(void* p);

    UT_FASTMEM_IMP* imp_;  // the implementation; never null
};
