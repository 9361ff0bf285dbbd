// UtilBlist.h - block lists: unordered bags of non-null pointers.
//
// A block list keeps its pointers in a chain of fixed-size blocks of slots.
// Appending fills the last block and adds one when it is full; removing clears
// a slot and leaves the hole (holes are refilled only after the last occupied
// slot of the last block); iterators walk the slots in chain order and skip
// holes. The list head is 16 bytes: UT_BLIST counts up to 2^32 - 1 elements
// with up to 65535 slots a block and 65535 open iterators, UT_BLISTS up to
// 65535 elements with 255 slots and 255 iterators.
//
// List and iterator objects made with new come from class-wide pools, and the
// library keeps process-wide counts of the lists alive (total_count) and of
// the bytes that lists, their blocks and their iterators hold (total_mem).
// Both are changed under their own locks and may be read at any time.
//
// Fatal reports (code 19): "Maximum element count exceeded.\n",
// "UT_BLIST:New failed.\n", "Cannot destroy list with iterators.\n" (also for
// clear), the variant's compress message, "Maximum iterator count
// exceeded.\n", "Iterator count underflow.\n", and a list made with 0 slots
// per block. A count that would overflow is left as it was. Destructors that
// can make a fatal report let it pass (noexcept(false)). A lock that cannot be
// taken throws Port_ThrException::LOCK_FAILED before anything changes.
//
// A list and its iterators are used by one thread at a time.
//
// Lives in: s/UtilBlist.cpp; tests: tests/blist_test.cpp; docs: docs/blists.md.
#pragma once

#include "UtilExport.h"

#include <cstddef>
#include <cstdint>

namespace Util::Ranges {
struct Access;  // the standard iterators of UtilRange.h
}

class UT_FASTMEM;

namespace Util::Details {

template <class List, class Count, class Slots, class Iters>
class UTIL_EXPORT BlockList {
public:
    explicit BlockList(Slots nslots);
    ~BlockList() noexcept(false);
    BlockList(const BlockList&) = delete;
    BlockList& operator=(const BlockList&) = delete;

    // Adds p; null is ignored. Inline while the last block has room. A count
    // that would wrap to 0 (Count is unsigned) takes the slow path, which
    // reports it.
    void l_append(void* p) {
        if (p && first && static_cast<Count>(count + 1) != 0) {
            Tail& tail = tailOf(first);
            if (tail.fill < nslots) {
                tail.last[++tail.fill] = p;
                ++count;
                return;
            }
        }
        append_slow(p);
    }
    // 1 when p is an element (null never is), else 0.
    unsigned char l_find(void* p) const;
    // Removes the first occurrence of p; 1 when there was one.
    unsigned char l_remove(void* p);
    // Removes every element and releases every block.
    void clear();
    // Not implemented: an internal notice, nothing changes.
    void compress();
    Count get_count() const { return count; }
    unsigned get_nslots() const { return nslots; }
    static unsigned int get_total_count();
    static unsigned int get_total_mem();

    static void* operator new(std::size_t size);
    static void operator delete(void* p);

private:
    template <class, class, class>
    friend class BlockListIter;
    friend struct Util::Ranges::Access;
    void releaseBlocks();
    void** newBlock();
    void append_slow(void* p);

    // Where the next append goes. The 16-byte head has no room for it, so it
    // lives in a hidden prefix of the first block (not counted in total_mem,
    // which stays nslots * 8 + 8 per block): the chain's last block, and the
    // 1-based index of its last occupied slot (0: none). Appending then costs
    // the same at any length.
    struct Tail {
        void** last;
        uintptr_t fill;
    };
    static constexpr std::size_t kTailWords = sizeof(Tail) / sizeof(void*);
    static Tail& tailOf(void** head) { return *reinterpret_cast<Tail*>(head - kTailWords); }

    void** first;  // the first block (its hidden Tail sits just before it); null when empty
    Count count;   // elements stored
    Slots nslots;  // slots per block, fixed at construction
    Iters niters;  // iterators open on the list; it cannot be destroyed or compressed while above 0
};

// nextElement's walk past holes and block ends.
template <class Index>
void* walkOn(void**& block, Index& index, unsigned nslots) {
    if (!block)
        return nullptr;
    auto next = [](void** b) { return static_cast<void**>(b[0]); };
    if (index == nslots) {
        if (!next(block))
            return nullptr;
        block = next(block);
        index = 0;
    }
    const Index resume = index;
    for (;;) {
        void* element = block[index + 1];
        ++index;
        if (element)
            return element;
        if (index == nslots) {
            if (!next(block)) {
                index = resume;
                return nullptr;
            }
            block = next(block);
            index = 0;
        }
    }
}

// One step of a walk over a block list: from slot `index` (1-based, 0 before
// the first) of `block`, the next element, moving block and index onto it;
// null at the end, where the walk stays on the last block it reached, at the
// slot it started from there (so that elements appended to that block later
// are found by the next step). A block is its link to the next block, then
// its slots. Shared by UT_BLIST_ITER and the standard iterators.
// The common case, an element in the next slot of this block, is apart from
// the walk, so that it stays small enough to inline into every loop.
template <class Index>
inline void* nextElement(void**& block, Index& index, unsigned nslots) {
    if (block && index < nslots) {
        if (void* element = block[index + 1]) {
            ++index;
            return element;
        }
    }
    return walkOn(block, index, nslots);
}

template <class List, class Iter, class Index>
class UTIL_EXPORT BlockListIter {
public:
    explicit BlockListIter(List* list);
    ~BlockListIter() noexcept(false);
    BlockListIter(const BlockListIter&) = delete;
    BlockListIter& operator=(const BlockListIter&) = delete;

    // Back before the first element.
    void reset();
    // The next element, or null at the end. At the end of the last block the
    // iterator stays where the call started, so elements appended there later
    // are found by the next call. Inline: it is the loop of every walk.
    void* l_next() { return nextElement(block, index, list->nslots); }

    static void* operator new(std::size_t size);
    static void operator delete(void* p);

private:
    List* list;    // the list walked; registered with it for the iterator's life
    void** block;  // the block the walk stands in; null once past the end
    Index index;   // the next slot of `block` to look at
};

}  // namespace Util::Details

class UTIL_EXPORT UT_BLIST : public Util::Details::BlockList<UT_BLIST, uint32_t, uint16_t, uint16_t> {
public:
    explicit UT_BLIST(unsigned short slots) : BlockList(slots) {}

    static uint32_t total_count;  // lists alive, under the count lock
    static uint32_t total_mem;    // bytes of list objects, blocks and iterators, under the memory lock
    static UT_FASTMEM* mem;       // the blocks of every list of this kind
};

class UTIL_EXPORT UT_BLIST_ITER : public Util::Details::BlockListIter<UT_BLIST, UT_BLIST_ITER, uint16_t> {
public:
    explicit UT_BLIST_ITER(UT_BLIST* on) : BlockListIter(on) {}

    static UT_FASTMEM* mem;  // the iterator objects
};

class UTIL_EXPORT UT_BLISTS : public Util::Details::BlockList<UT_BLISTS, uint16_t, uint8_t, uint8_t> {
public:
    explicit UT_BLISTS(unsigned char slots) : BlockList(slots) {}

    static uint32_t total_count;  // lists alive, under the count lock
    static uint32_t total_mem;    // bytes of list objects, blocks and iterators, under the memory lock
    static UT_FASTMEM* mem;       // the blocks of every list of this kind
};

class UTIL_EXPORT UT_BLISTS_ITER : public Util::Details::BlockListIter<UT_BLISTS, UT_BLISTS_ITER, uint8_t> {
public:
    explicit UT_BLISTS_ITER(UT_BLISTS* on) : BlockListIter(on) {}

    static UT_FASTMEM* mem;  // the iterator objects
};
