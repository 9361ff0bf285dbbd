// UtilBlist.cpp - block lists, their iterators, counters and class-wide pools.
#include "UtilStatics.h"

#include <UtilBlist.h>
#include <UtilFstmem.h>

#include <cassert>
#include <cstdint>
#include <memory>
#include <new>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilBlist.cpp", "1.0"};

// Class-wide pools: element size and elements per block.
constexpr unsigned kListElemSize = 16;
constexpr unsigned kListsPerBlock = 3000;
constexpr unsigned kListPerBlock = 800;
constexpr unsigned kIterElemSize = 24;
constexpr unsigned kIterPerBlock = 5;
static_assert(sizeof(UT_BLIST) == kListElemSize && sizeof(UT_BLISTS) == kListElemSize);
static_assert(sizeof(UT_BLIST_ITER) == kIterElemSize && sizeof(UT_BLISTS_ITER) == kIterElemSize);

// What a block of n slots counts for in total_mem: n slots and the link word.
constexpr uint32_t kWordBytes = 8;
uint32_t blockBytes(unsigned nslots) { return nslots * kWordBytes + kWordBytes; }

constexpr const char* kMsgCountExceeded = "Maximum element count exceeded.\n";
constexpr const char* kMsgNewFailed = "UT_BLIST:New failed.\n";
constexpr const char* kMsgDestroyIters = "Cannot destroy list with iterators.\n";
constexpr const char* kMsgNotImplemented = "List compression not yet implemented.\n";
constexpr const char* kMsgIterExceeded = "Maximum iterator count exceeded.\n";
constexpr const char* kMsgIterUnderflow = "Iterator count underflow.\n";
constexpr const char* kMsgNoSlots = "A block list needs at least one slot per block.\n";

Util::Statics::Shared<Util::Statics::Blist> blistShared;

// The shared objects of one variant. Each lock accessor runs the unit's
// initialiser, which also makes the class-wide pools.
template <class List>
struct Variant;

template <>
struct Variant<UT_BLIST> {
    using Iter = UT_BLIST_ITER;
    static constexpr const char* kMsgCompress = "Cannot compress list with iterators.\n";
    static Port_ThrMutex& memLock() { return *Util::Statics::blist().listMemLock; }
    static Port_ThrMutex& countLock() { return *Util::Statics::blist().listCountLock; }
    static Port_ThrMutex& iterLock() { return *Util::Statics::blist().listIterLock; }
};

template <>
struct Variant<UT_BLISTS> {
    using Iter = UT_BLISTS_ITER;
    static constexpr const char* kMsgCompress = "Cannot compress lists with iterators.\n";
    static Port_ThrMutex& memLock() { return *Util::Statics::blist().listsMemLock; }
    static Port_ThrMutex& countLock() { return *Util::Statics::blist().listsCountLock; }
    static Port_ThrMutex& iterLock() { return *Util::Statics::blist().listsIterLock; }
};

// The statistics are written under their lock and read without one, so every
// access is atomic.
void addStat(uint32_t& stat, int64_t delta) {
    __atomic_store_n(&stat, static_cast<uint32_t>(__atomic_load_n(&stat, __ATOMIC_RELAXED) + delta), __ATOMIC_RELAXED);
}

uint32_t readStat(const uint32_t& stat) { return __atomic_load_n(&stat, __ATOMIC_RELAXED); }

// A block is nslots + 1 words: the next block, then the slots.
void** nextOf(void** block) { return static_cast<void**>(block[0]); }

}  // namespace

uint32_t UT_BLIST::total_count = 0;
uint32_t UT_BLIST::total_mem = 0;
UT_FASTMEM* UT_BLIST::mem = nullptr;
UT_FASTMEM* UT_BLIST_ITER::mem = nullptr;
uint32_t UT_BLISTS::total_count = 0;
uint32_t UT_BLISTS::total_mem = 0;
UT_FASTMEM* UT_BLISTS::mem = nullptr;
UT_FASTMEM* UT_BLISTS_ITER::mem = nullptr;

namespace Util::Statics {

const Blist& blist() {
    return once(blistShared, kUnit, __LINE__, [] {
        using Lock = std::unique_ptr<Port_ThrMutex>;
        using Pool = std::unique_ptr<UT_FASTMEM>;
        Lock listMem(new Port_ThrMutex), listCount(new Port_ThrMutex), listIter(new Port_ThrMutex),
            listsMem(new Port_ThrMutex), listsCount(new Port_ThrMutex), listsIter(new Port_ThrMutex);
        Pool listPool(new UT_FASTMEM(kListElemSize, kListPerBlock, "UT_BLIST"));
        Pool listsPool(new UT_FASTMEM(kListElemSize, kListsPerBlock, "UT_BLISTS"));
        Pool listIterPool(new UT_FASTMEM(kIterElemSize, kIterPerBlock, "UT_BLIST_ITER"));
        Pool listsIterPool(new UT_FASTMEM(kIterElemSize, kIterPerBlock, "UT_BLISTS_ITER"));
        listPool->set_guard(listMem.get());
        listsPool->set_guard(listsMem.get());
        listIterPool->set_guard(listIter.get());
        listsIterPool->set_guard(listsIter.get());
        auto* made = new Blist{listMem.release(),  listCount.release(),  listIter.release(),
                               listsMem.release(), listsCount.release(), listsIter.release()};
        UT_BLIST::mem = listPool.release();
        UT_BLISTS::mem = listsPool.release();
        UT_BLIST_ITER::mem = listIterPool.release();
        UT_BLISTS_ITER::mem = listsIterPool.release();
        return made;
    });
}

}  // namespace Util::Statics

namespace Util::Details {

using Frame::guarded;

template <class List, class Count, class Slots, class Iters>
BlockList<List, Count, Slots, Iters>::BlockList(Slots n) : first(nullptr), count(0), nslots(n), niters(0) {
    if (n == 0)
        UTIL_REPORT().fatal(Frame::kFatal, "%s", kMsgNoSlots);
    guarded(Variant<List>::countLock(), [] { addStat(List::total_count, 1); });
}

template <class List, class Count, class Slots, class Iters>
BlockList<List, Count, Slots, Iters>::~BlockList() noexcept(false) {
    if (niters != 0)
        UTIL_REPORT().fatal(Frame::kFatal, "%s", kMsgDestroyIters);
    releaseBlocks();
    guarded(Variant<List>::countLock(), [] { addStat(List::total_count, -1); });
}

template <class List, class Count, class Slots, class Iters>
void BlockList<List, Count, Slots, Iters>::releaseBlocks() {
    static_assert(sizeof(Tail) % sizeof(void*) == 0, "the prefix is whole words");
    guarded(Variant<List>::memLock(), [this] {
        if (first) {
            // The first block starts at its hidden prefix.
            void** next = nextOf(first);
            delete[](first - kTailWords);
            addStat(List::total_mem, -int64_t{blockBytes(nslots)});
            first = next;
        }
        while (first) {
            void** next = nextOf(first);
            delete[] first;
            addStat(List::total_mem, -int64_t{blockBytes(nslots)});
            first = next;
        }
    });
    count = 0;
}

template <class List, class Count, class Slots, class Iters>
void** BlockList<List, Count, Slots, Iters>::newBlock() {
    // The first block of a list carries the tail prefix.
    const std::size_t prefix = first ? 0 : kTailWords;
    void** raw = new (std::nothrow) void*[prefix + nslots + 1u]();
    if (!raw)
        return nullptr;
    try {
        guarded(Variant<List>::memLock(), [this] { addStat(List::total_mem, blockBytes(nslots)); });
    } catch (...) {
        delete[] raw;
        throw;
    }
    return raw + prefix;
}

template <class List, class Count, class Slots, class Iters>
void BlockList<List, Count, Slots, Iters>::append_slow(void* p) {
    if (!p)
        return;
    if (static_cast<Count>(count + 1) == 0)
        UTIL_REPORT().fatal(Frame::kFatal, "%s", kMsgCountExceeded);
    if (!first || tailOf(first).fill == nslots) {
        void** block = newBlock();
        if (!block)
            UTIL_REPORT().fatal(Frame::kFatal, "%s", kMsgNewFailed);
        if (first)
            tailOf(first).last[0] = block;
        else
            first = block;
        tailOf(first) = Tail{block, 0};
    }
    Tail& tail = tailOf(first);
    assert(tail.fill < nslots && "a full last block gets a successor first");
    tail.last[++tail.fill] = p;
    ++count;
}

template <class List, class Count, class Slots, class Iters>
unsigned char BlockList<List, Count, Slots, Iters>::l_find(void* p) const {
    if (!p)
        return 0;
    for (void** b = first; b; b = nextOf(b))
        for (unsigned k = 1; k <= nslots; ++k)
            if (b[k] == p)
                return 1;
    return 0;
}

template <class List, class Count, class Slots, class Iters>
unsigned char BlockList<List, Count, Slots, Iters>::l_remove(void* p) {
    if (!p)
        return 0;
    for (void** b = first; b; b = nextOf(b))
        for (unsigned k = 1; k <= nslots; ++k)
            if (b[k] == p) {
                b[k] = nullptr;
                --count;
                // A hole at the end of the last block is refilled next:
                // the fill position goes back past every trailing hole.
                Tail& tail = tailOf(first);
                if (b == tail.last && k == tail.fill)
                    while (tail.fill > 0 && !tail.last[tail.fill])
                        --tail.fill;
                return 1;
            }
    return 0;
}

template <class List, class Count, class Slots, class Iters>
void BlockList<List, Count, Slots, Iters>::clear() {
    // Open iterators would be left on released blocks.
    if (niters != 0)
        UTIL_REPORT().fatal(Frame::kFatal, "%s", kMsgDestroyIters);
    releaseBlocks();
}

template <class List, class Count, class Slots, class Iters>
void BlockList<List, Count, Slots, Iters>::compress() {
    if (niters != 0)
        UTIL_REPORT().fatal(Frame::kFatal, "%s", Variant<List>::kMsgCompress);
    UTIL_REPORT().internal("%s", kMsgNotImplemented);
}

template <class List, class Count, class Slots, class Iters>
unsigned int BlockList<List, Count, Slots, Iters>::get_total_count() {
    return readStat(List::total_count);
}

template <class List, class Count, class Slots, class Iters>
unsigned int BlockList<List, Count, Slots, Iters>::get_total_mem() {
    return readStat(List::total_mem);
}

template <class List, class Count, class Slots, class Iters>
void* BlockList<List, Count, Slots, Iters>::operator new(std::size_t size) {
    return guarded(Variant<List>::memLock(), [size] {
        void* p = List::mem->getnewptr();
        if (!p)
            throw std::bad_alloc();
        addStat(List::total_mem, static_cast<int64_t>(size));
        return p;
    });
}

template <class List, class Count, class Slots, class Iters>
void BlockList<List, Count, Slots, Iters>::operator delete(void* p) {
    if (!p)
        return;
    guarded(Variant<List>::memLock(), [p] {
        addStat(List::total_mem, -int64_t{sizeof(List)});
        List::mem->qrn_free(p);
    });
}

template <class List, class Iter, class Index>
BlockListIter<List, Iter, Index>::BlockListIter(List* l) : list(l), block(l->first), index(0) {
    if (static_cast<decltype(l->niters)>(l->niters + 1) == 0)
        UTIL_REPORT().fatal(Frame::kFatal, "%s", kMsgIterExceeded);
    ++l->niters;
}

template <class List, class Iter, class Index>
BlockListIter<List, Iter, Index>::~BlockListIter() noexcept(false) {
    if (list->niters == 0)
        UTIL_REPORT().fatal(Frame::kFatal, "%s", kMsgIterUnderflow);
    --list->niters;
}

template <class List, class Iter, class Index>
void BlockListIter<List, Iter, Index>::reset() {
    block = list->first;
    index = 0;
}

template <class List, class Iter, class Index>
void* BlockListIter<List, Iter, Index>::operator new(std::size_t size) {
    // total_mem first, then the pool, one lock after the other.
    guarded(Variant<List>::memLock(), [size] { addStat(List::total_mem, static_cast<int64_t>(size)); });
    try {
        return guarded(Variant<List>::iterLock(), [] {
            void* p = Iter::mem->getnewptr();
            if (!p)
                throw std::bad_alloc();
            return p;
        });
    } catch (...) {
        guarded(Variant<List>::memLock(), [size] { addStat(List::total_mem, -static_cast<int64_t>(size)); });
        throw;
    }
}

template <class List, class Iter, class Index>
void BlockListIter<List, Iter, Index>::operator delete(void* p) {
    if (!p)
        return;
    guarded(Variant<List>::memLock(), [] { addStat(List::total_mem, -int64_t{sizeof(Iter)}); });
    guarded(Variant<List>::iterLock(), [p] { Iter::mem->qrn_free(p); });
}

template class BlockList<UT_BLIST, uint32_t, uint16_t, uint16_t>;
template class BlockList<UT_BLISTS, uint16_t, uint8_t, uint8_t>;
template class BlockListIter<UT_BLIST, UT_BLIST_ITER, uint16_t>;
template class BlockListIter<UT_BLISTS, UT_BLISTS_ITER, uint8_t>;

}  // namespace Util::Details
