// UtilFstmemimp.cpp - fixed-size element pools and their registry.
#include "UtilReport.h"
#include "UtilStatics.h"

#include <UtilFstmem.h>

#include <PortEnv.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilFstmemimp.cpp", "1.0"};

constexpr uint32_t kAlign = 8;             // element sizes are multiples of this
constexpr std::size_t kRegistryRoom = 50;  // initial room of the pool registry
static_assert(sizeof(void*) <= kAlign, "a free element must hold its link");

constexpr const char* kMsgNotAllocated = "Unable to free as memory was not allocated.\n";
constexpr const char* kMsgNotInList = "Tried to delete a pointer not in list.\n";
constexpr const char* kMsgBadShape =
    "UT_FASTMEM: element size %u and count %u do not make a block of 1 to 4294967295 bytes.\n";

// Every live pool, in order of construction. Pools are made by objects on any
// thread, so the registry has its own lock; it is recursive so that a sink
// called from report_usage may itself make or destroy a pool.
struct Registry {
    std::recursive_mutex lock;           // guards pools
    std::vector<UT_FASTMEM_IMP*> pools;  // every live pool, in order of construction
};

Registry& registry() {
    static Registry* r = [] {
        auto* made = new Registry;
        made->pools.reserve(kRegistryRoom);
        return made;
    }();
    return *r;
}

uintptr_t address(const void* p) { return reinterpret_cast<uintptr_t>(p); }

void*& linkOf(void* element) { return *static_cast<void**>(element); }

}  // namespace

namespace Util::Statics {

void readFastmemSwitches() {
    UT_FASTMEM_IMP::pools_on = Port_Env::GetEnv("QRN_MEMPOOL_ON") || Port_Env::GetEnv("QRN_FST_MEMPOOL_ON");
}

bool fastmemPoolsOn() { return UT_FASTMEM_IMP::pools_on; }

}  // namespace Util::Statics

int UT_FASTMEM_IMP::global_debug = 0;
bool UT_FASTMEM_IMP::pools_on = false;

UT_FASTMEM_IMP::UT_FASTMEM_IMP(unsigned int size, unsigned int count, const char* name)
    : UT_STATOBJ("UT_FASTMEM_IMP"), blocks(nullptr), elem_size(0), elem_cnt(count), block_size(0), debug_level(0),
      classname(name) {
    uint64_t rounded = (uint64_t{size} + kAlign - 1) / kAlign * kAlign;
    uint64_t bytes = rounded * count;
    if (size == 0 || count == 0 || bytes > UINT32_MAX)
        UTIL_REPORT().fatal(Util::Frame::kFatal, kMsgBadShape, size, count);
    elem_size = static_cast<uint32_t>(rounded);
    block_size = static_cast<uint32_t>(bytes);
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> hold(r.lock);
    r.pools.push_back(this);
}

UT_FASTMEM_IMP::~UT_FASTMEM_IMP() {
    {
        Registry& r = registry();
        std::lock_guard<std::recursive_mutex> hold(r.lock);
        auto it = std::find(r.pools.begin(), r.pools.end(), this);
        if (it != r.pools.end())
            r.pools.erase(it);
    }
    while (blocks) {
        UT_FM_BLOCK_HEAD* next = blocks->next;
        release_block(blocks);
        blocks = next;
    }
    if (spare)
        release_block(spare);
}

void UT_FASTMEM_IMP::init_block(UT_FM_BLOCK_HEAD* head) const {
    head->num_used = 0;
    head->free = nullptr;
    head->carve = head->mem;
}

UT_FM_BLOCK_HEAD* UT_FASTMEM_IMP::new_block() {
    if (UT_FM_BLOCK_HEAD* kept = spare) {
        spare = nullptr;
        kept->next = kept->prev = nullptr;
        init_block(kept);
        return kept;
    }
    auto* head = new UT_FM_BLOCK_HEAD{nullptr, nullptr, nullptr, 0, nullptr, nullptr};
    try {
        head->mem = new char[block_size];
    } catch (...) {
        delete head;
        throw;
    }
    init_block(head);
    return head;
}

// Whether the block's elements are all accounted for: the ones handed out,
// the given-back chain (each inside the block) and the ones never carved.
bool UT_FASTMEM_IMP::block_is_whole(const UT_FM_BLOCK_HEAD* head) const {
    uint64_t given_back = 0;
    for (void* e = head->free; e; e = linkOf(e), ++given_back)
        if (address(e) - address(head->mem) >= block_size || given_back > elem_cnt)
            return false;
    const uint64_t uncarved = static_cast<uint64_t>(head->mem + block_size - head->carve) / elem_size;
    return head->num_used + given_back + uncarved == elem_cnt;
}

void UT_FASTMEM_IMP::release_block(UT_FM_BLOCK_HEAD* head) const {
    delete[] head->mem;
    delete head;
}

UT_FM_BLOCK_HEAD* UT_FASTMEM_IMP::add_block() {
    UT_FM_BLOCK_HEAD* head = new_block();
    const UT_FM_BLOCK_SPAN span{address(head->mem), head};
    auto at = std::upper_bound(by_address.begin(), by_address.end(), span.start,
                               [](uintptr_t a, const UT_FM_BLOCK_SPAN& b) { return a < b.start; });
    try {
        by_address.insert(at, span);
    } catch (...) {
        release_block(head);
        throw;
    }
    return head;
}

UT_FM_BLOCK_HEAD* UT_FASTMEM_IMP::owner_of(const void* p) const {
    // The last block starting at or before p; a search without branches on
    // the data, since releases in random order defeat branch prediction.
    const uintptr_t at = address(p);
    if (by_address.empty())
        return nullptr;
    const UT_FM_BLOCK_SPAN* base = by_address.data();
    for (size_t n = by_address.size(); n > 1;) {
        const size_t half = n / 2;
        base = base[half].start <= at ? base + half : base;
        n -= half;
    }
    return at >= base->start && at - base->start < block_size ? base->head : nullptr;
}

void UT_FASTMEM_IMP::to_front(UT_FM_BLOCK_HEAD* head) {
    if (head == blocks)
        return;
    assert(head->prev && head->prev->next == head && "a block behind the front has the block before it");
    assert((!head->next || head->next->prev == head) && "the chain links both ways");
    head->prev->next = head->next;
    if (head->next)
        head->next->prev = head->prev;
    head->prev = nullptr;
    head->next = blocks;
    blocks->prev = head;
    blocks = head;
}

void* UT_FASTMEM_IMP::getnewptr() {
    if (!pools_on)
        return ::qrn_malloc(elem_size);
    if (!blocks)
        blocks = add_block();
    UT_FM_BLOCK_HEAD* found = blocks;
    auto full = [this](const UT_FM_BLOCK_HEAD* b) { return !b->free && b->carve == b->mem + block_size; };
    if (full(found)) {
        // Walk on to the first block with room, growing the chain at its end.
        while (full(found)) {
            if (!found->next) {
                UT_FM_BLOCK_HEAD* grown = add_block();
                grown->prev = found;
                found->next = grown;
            }
            found = found->next;
        }
        to_front(found);
    }
    void* element = take_front();
    assert(element && "the front block has room");
    return element;
}

void UT_FASTMEM_IMP::int_free(void* p) {
    if (!pools_on) {
        ::qrn_free(p);
        return;
    }
    if (!blocks)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgNotAllocated);
    UT_FM_BLOCK_HEAD* block = blocks;
    if (address(p) < address(block->mem) || address(p) - address(block->mem) >= block_size) {
        block = owner_of(p);
        if (!block)
            UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgNotInList);
        to_front(block);
    }
    if (give_front(p))
        return;
    // The front block's last element, with other blocks behind it: the block
    // takes it back and is released.
    assert(block->num_used == 1 && block->next && "give_front refuses only an emptying block with others behind");
    assert((address(p) - address(block->mem)) % elem_size == 0 &&
           "an element given back starts where the block's elements start");
    linkOf(p) = block->free;
    block->free = p;
    --block->num_used;
    assert(block_is_whole(block) && "an emptied block has every element back");
    blocks = block->next;
    blocks->prev = nullptr;
    by_address.erase(std::lower_bound(by_address.begin(), by_address.end(), address(block->mem),
                                      [](const UT_FM_BLOCK_SPAN& a, uintptr_t b) { return a.start < b; }));
    // Kept aside: a pool that empties a block and then needs one again (a run
    // of takes and give-backs at a block boundary) reuses it.
    if (spare)
        release_block(spare);
    spare = block;
}

void UT_FASTMEM_IMP::dump() const {
    Util::Frame::Reporter report(kUnit, __LINE__);
    if (classname)
        report.status("UT_FASTMEM::classname  = %s\n", classname);
    else
        report.status("UT_FASTMEM::classname  = NULL\n");
    report.status("UT_FASTMEM::elem_size  = %d\n", static_cast<int>(elem_size));
    report.status("UT_FASTMEM::elem_cnt   = %d\n", static_cast<int>(elem_cnt));
    report.status("UT_FASTMEM::block_size = %d\n", static_cast<int>(block_size));
    if (!blocks) {
        report.status("   No blocks allocated.\n");
        return;
    }
    uint64_t used = 0;
    uint64_t count = 0;
    for (const UT_FM_BLOCK_HEAD* b = blocks; b; b = b->next, ++count) {
        report.status("   Block %d:  num_used = %d\n", static_cast<int>(count), static_cast<int>(b->num_used));
        used += b->num_used;
    }
    uint64_t room = uint64_t{elem_cnt} * count;
    // Scaled before dividing, so that an exact percentage (232 of 800) is not
    // truncated to the one below it by rounding.
    int percent = static_cast<int>(100.0 * static_cast<double>(used) / static_cast<double>(room));
    report.status("   Total used:  %d / %d (%d%%)\n", static_cast<int>(used), static_cast<int>(room), percent);
}

void UT_FASTMEM_IMP::report_usage() {
    Registry& r = registry();
    std::lock_guard<std::recursive_mutex> hold(r.lock);
    for (std::size_t i = 0; i < r.pools.size(); ++i) {
        const UT_FASTMEM_IMP* pool = r.pools[i];
        Util::Frame::guardedIf(pool->guard.load(std::memory_order_acquire), [pool] { pool->dump(); });
    }
}

UT_FASTMEM::UT_FASTMEM(unsigned int size, unsigned int count, const char* name)
    : imp_(new UT_FASTMEM_IMP(size, count, name)) {}

UT_FASTMEM::~UT_FASTMEM() {
    delete imp_;
    imp_ = nullptr;
}

void* UT_FASTMEM::getnewptr_slow() { return imp_->getnewptr(); }

void UT_FASTMEM::qrn_free_slow(void* p) { imp_->int_free(p); }

int UT_FASTMEM::fastmem_verify() const { return imp_->fastmem_verify(); }
void UT_FASTMEM::dump() const { imp_->dump(); }
void UT_FASTMEM::report_usage() { UT_FASTMEM_IMP::report_usage(); }
void UT_FASTMEM::set_debug_level(int level) { imp_->set_debug_level(level); }
void UT_FASTMEM::set_global_debug(int level) { UT_FASTMEM_IMP::set_global_debug(level); }
void UT_FASTMEM::set_guard(Port_ThrMutex* lock) { imp_->set_guard(lock); }
