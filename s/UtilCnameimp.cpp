// UtilCnameimp.cpp - the name cache: name objects, character pools, image.
#include "UtilNameImage.h"
#include "UtilReport.h"
#include "UtilStatics.h"
#include "UtilTextHash.h"

#include <UtilCname.h>
#include <UtilFstmem.h>
#include <UtilPtrfile.h>

#include <PortEnv.h>
#include <PortStream.h>
#include <PortString.h>

#include <cassert>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilCnameimp.cpp", "1.0"};

using Util::NameImage::kPoolBytes;
using Util::NameImage::kSmokePoolBytes;
using Util::NameImage::kSmokeSwitch;
// Texts shorter than kShortest live in the name object itself (NAME3),
// shorter than kLongest in a longer one (NAME7); the rest in a pool (NAMELONG).
constexpr std::size_t kShortest = 4;
constexpr std::size_t kLongest = 8;
// Every name object takes one pool element of kNameBytes, the largest of the
// three kinds (rounded to 8). The memory statistic counts kBytesPerName per
// name instead: the object and its share of the tree node that holds it, the
// figure callers have always budgeted with.
constexpr unsigned kNameBytes = 24;
constexpr unsigned kBytesPerName = 32;
// Name objects per pool block: one block serves a typical design's first
// few thousand names with a single allocation.
constexpr unsigned kNamesPerBlock = 2048;

constexpr const char* kMsgTooLong = "maximum name length exceeded.\n";
constexpr const char* kMsgTooLongWrite = "maximum name length exceeded\n";
constexpr const char* kMsgPointerOnly = "cannot read name data into pointer-only cache\n";
constexpr const char* kMsgNameCount = "name count overflow.\n";
constexpr const char* kMsgNewFailed = "New failed.\n";
constexpr const char* kMsgNewPool = "New failed on new name pool.\n";
constexpr const char* kMsgHeader = "\nDumping the name cache: %d entries\n";
constexpr const char* kMsgNullEntry = "   null BTREE data ptr (cache is corrupt)\n";
constexpr const char* kMsgName = "\"%s\": rcnt = %d, mcnt = %d\n";

// The shared pool of name objects and its lock.
struct NamePool {
    NamePool() { pool.set_guard(&lock); }
    Port_ThrMutex lock;                                          // held around every take and give-back of pool
    UT_FASTMEM pool{kNameBytes, kNamesPerBlock, "UT_NCH_NAME"};  // the name objects of every cache
};
Util::Statics::Shared<NamePool> namePoolShared;

NamePool& namePool() {
    return Util::Statics::once(namePoolShared, kUnit, __LINE__, [] { return new NamePool; });
}

// An entry without a name exists only between add's slot and its name; it
// sits where its own text belongs, so it compares equal, and removing that
// text after a failure finds it.
int compareName(void* data, const char* key) {
    // Straight to strcmp: the tree never passes a null key, and no name has a
    // null text.
    return data ? std::strcmp(key, static_cast<UT_NCH_NAME*>(data)->get_name()) : 0;
}

UT_NCH_NAME* nameIn(void** slot) { return static_cast<UT_NCH_NAME*>(*slot); }

constexpr std::size_t kFirstIndexSlots = 64;

// The index's slots: a name's address and, in the low bits that the name's
// alignment leaves zero, bits of its text's hash that the slot's place does
// not already tell.
constexpr uintptr_t kTagMask = alignof(UT_NCH_NAME) - 1;
static_assert(kTagMask >= 3, "names are aligned to at least four bytes");
constexpr std::size_t kNoHole = SIZE_MAX;  // index_put finds the slot itself
uintptr_t tagOf(uint64_t hash) { return static_cast<uintptr_t>(hash >> 40) & kTagMask; }
UT_NCH_NAME* nameOf(uintptr_t slot) { return reinterpret_cast<UT_NCH_NAME*>(slot & ~kTagMask); }

}  // namespace

// ---- names -----------------------------------------------------------------

void* UT_NCH_NAME::operator new(std::size_t size) {
    if (size > kNameBytes)
        throw std::bad_alloc();
    NamePool& shared = namePool();
    void* p = Util::Frame::guarded(shared.lock, [&] { return shared.pool.getnewptr(); });
    if (!p)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgNewFailed);
    return p;
}

void UT_NCH_NAME::operator delete(void* p) noexcept {
    if (!p)
        return;
    NamePool& shared = *namePoolShared.object.load(std::memory_order_acquire);
    try {
        Util::Frame::guarded(shared.lock, [&] { shared.pool.qrn_free(p); });
    } catch (...) {
        // A pool that cannot be locked cannot take the element back; it stays
        // allocated rather than corrupt the pool.
    }
}

void UT_NCH_NAME::add_refs(int nrefs) { rcnt = Util::NameImage::addedRefs(rcnt, nrefs, kUnit); }

void UT_NCH_NAME::delete_refs(int nrefs) { rcnt = Util::NameImage::removedRefs(rcnt, nrefs, kUnit); }

void UT_NCH_NAME::dump() const { UTIL_REPORT().status(kMsgName, get_name(), rcnt, mcnt); }

void UT_NCH_NAME::dump(Port::Stream& s) const { Util::NameImage::dumpName(s, get_name(), rcnt, mcnt); }

namespace {
// Copies a text into an inline buffer of `room` bytes; longer texts are misuse.
void copyInline(char* into, std::size_t room, const char* text) {
    std::size_t len = std::strlen(text);
    if (len >= room)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgNameCount);
    std::memcpy(into, text, len + 1);
}
}  // namespace

UT_NCH_NAME3::UT_NCH_NAME3(const char* name) : text{} { copyInline(text, sizeof text, name); }
UT_NCH_NAME7::UT_NCH_NAME7(const char* name) : text{} { copyInline(text, sizeof text, name); }

void nch_flush(void** slot, void*) {
    delete nameIn(slot);
    *slot = nullptr;
}

// ---- pools -----------------------------------------------------------------

UT_NCH_POOL::UT_NCH_POOL(int bytes) : next(nullptr), buf(nullptr), size(bytes), used(0), nnames(0) {
    buf = new (std::nothrow) char[static_cast<std::size_t>(bytes)];
    if (!buf)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgNewFailed);
}

UT_NCH_POOL::~UT_NCH_POOL() { delete[] buf; }

bool UT_NCH_POOL::holds(const char* text) const {
    std::less_equal<const char*> le;
    std::less<const char*> lt;
    return le(buf, text) && lt(text + std::strlen(text), buf + size);
}

// ---- the cache -------------------------------------------------------------

UT_NCH_CACHE_IMP::UT_NCH_CACHE_IMP(UT_NCH_CACHE* owner, unsigned char pointers_only, unsigned int longest)
    : tree(owner), first_pool(nullptr), cur_pool(nullptr), ptr_only(pointers_only), max_len(longest) {}

UT_NCH_CACHE_IMP::~UT_NCH_CACHE_IMP() { flush(); }

char* UT_NCH_CACHE_IMP::add_name(const char* text, std::size_t len) {
    std::size_t n = len + 1;
    if (n <= kLongest)
        return nullptr;
    if (cur_pool && static_cast<std::size_t>(cur_pool->used) + n < static_cast<std::size_t>(cur_pool->size)) {
        char* copy = cur_pool->buf + cur_pool->used;
        std::memcpy(copy, text, n);
        cur_pool->used += static_cast<int>(n);
        ++cur_pool->nnames;
        return copy;
    }
    std::size_t bytes = Port_Env::GetEnv(kSmokeSwitch) ? kSmokePoolBytes : kPoolBytes;
    if (n >= bytes)
        bytes = n + 1;  // a pool of its own
    if (bytes > static_cast<std::size_t>(INT_MAX))
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgNewFailed);
    auto* pool = new (std::nothrow) UT_NCH_POOL(static_cast<int>(bytes));
    if (!pool)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgNewPool);
    UT_NCH_POOL** end = cur_pool ? &cur_pool->next : &first_pool;
    while (*end)
        end = &(*end)->next;
    *end = pool;
    cur_pool = pool;
    std::memcpy(pool->buf, text, n);
    pool->used = static_cast<int>(n);
    pool->nnames = 1;
    return pool->buf;
}

void UT_NCH_CACHE_IMP::adjust_pool(UT_NCH_NAME* name) {
    const char* text = name->get_name();
    UT_NCH_POOL* before = nullptr;
    UT_NCH_POOL* pool = first_pool;
    while (pool && !pool->holds(text)) {
        before = pool;
        pool = pool->next;
    }
    assert((pool || ptr_only) && "only a pointer-only cache keeps long texts outside its pools");
    if (!pool || --pool->nnames > 0)
        return;
    (before ? before->next : first_pool) = pool->next;
    if (pool == cur_pool)
        cur_pool = pool->next ? pool->next : before;
    delete pool;
}

UT_NCH_NAME* UT_NCH_CACHE_IMP::make_name(const char* text, std::size_t len, bool copy) {
    if (len < kShortest)
        return new UT_NCH_NAME3(text);
    if (len < kLongest)
        return new UT_NCH_NAME7(text);
    // A pool copy is made only once the name object exists, so a failed
    // allocation leaves no text behind.
    auto* name = new UT_NCH_NAMELONG(text);
    if (!ptr_only || copy) {
        try {
            name->text = add_name(text, len);
        } catch (...) {
            delete name;
            throw;
        }
    }
    return name;
}

bool UT_NCH_CACHE_IMP::index_ready() noexcept {
    if (indexed && index_version == tree->get_version())
        return true;
    // Rebuilt from the tree: room for all its names at most half full.
    indexed = false;
    std::size_t slots = kFirstIndexSlots;
    while (slots < 2 * std::size_t{tree->get_count()})
        slots *= 2;
    try {
        index.assign(slots, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    index_used = 0;
    tree->traverse(
        [](void** slot, void* arg) {
            if (nameIn(slot))
                static_cast<UT_NCH_CACHE_IMP*>(arg)->index_put(nameIn(slot));
        },
        this, UT_BTR_TREE::INORDER);
    indexed = true;
    index_version = tree->get_version();
    return true;
}

UT_NCH_NAME* UT_NCH_CACHE_IMP::index_find(const char* text, uint64_t hash, std::size_t& hole) const noexcept {
    assert(index_used < index.size() && "an empty slot ends every probe");
    const std::size_t mask = index.size() - 1;
    const uintptr_t tag = tagOf(hash);
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const uintptr_t slot = index[i];
        if (!slot) {
            hole = i;
            return nullptr;
        }
        if ((slot & kTagMask) == tag && std::strcmp(nameOf(slot)->get_name(), text) == 0)
            return nameOf(slot);
    }
}

bool UT_NCH_CACHE_IMP::index_put(UT_NCH_NAME* name) noexcept {
    return index_put(name, Util::hashText(name->get_name()), kNoHole);
}

// Adds a name the index does not hold; false (the index is then dropped)
// when it must grow and cannot.
bool UT_NCH_CACHE_IMP::index_put(UT_NCH_NAME* name, uint64_t hash, std::size_t hole) noexcept {
    if (4 * (index_used + 1) > 3 * index.size()) {
        std::vector<uintptr_t> bigger;
        try {
            bigger.assign(index.size() * 2, 0);
        } catch (const std::bad_alloc&) {
            indexed = false;
            return false;
        }
        bigger.swap(index);
        index_used = 0;
        for (uintptr_t slot : bigger)
            if (slot)
                index_put(nameOf(slot));
        hole = kNoHole;
    }
    const std::size_t mask = index.size() - 1;
    if (hole == kNoHole) {
        assert(index_used < index.size() && "an empty slot ends every probe");
        hole = hash & mask;
        while (index[hole])
            hole = (hole + 1) & mask;
    }
    assert(!index[hole] && "a name enters a free slot of the index");
    index[hole] = reinterpret_cast<uintptr_t>(name) | tagOf(hash);
    ++index_used;
    return true;
}

UT_NCH_NAME* UT_NCH_CACHE_IMP::add(const char* text, int nrefs, bool copy) {
    if (!text)
        return nullptr;
    const bool ready = index_ready();
    // Measured once, for the hash, the class and the pool copy alike.
    const std::size_t len = std::strlen(text);
    uint64_t hash = 0;
    std::size_t hole = kNoHole;
    if (ready) {
        hash = Util::hashText(text, len);
        if (UT_NCH_NAME* name = index_find(text, hash, hole)) {
            name->add_refs(nrefs);
            return name;
        }
    }
    // The class follows the full length: a 16-bit length would send texts of
    // 64 Ki characters or more to an inline class too small for them.
    if (len > max_len)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgTooLong);
    void** slot = tree->UT_BTR_TREE::add(text);
    if (!*slot) {
        try {
            *slot = make_name(text, len, copy);
        } catch (...) {
            // No empty entry is left. The tree counts off only an entry
            // that holds data, so the slot holds a stand-in while it goes.
            UT_NCH_NAMELONG stand_in(text);
            *slot = &stand_in;
            tree->UT_BTR_TREE::remove(text);
            throw;
        }
    }
    UT_NCH_NAME* name = nameIn(slot);
    // The tree gained this one node: the index follows it, in the slot the
    // look-up found free.
    if (ready && index_put(name, hash, hole))
        index_version = tree->get_version();
    name->add_refs(nrefs);
    return name;
}

UT_NCH_NAME* UT_NCH_CACHE_IMP::find(const char* text) {
    if (!text)
        return nullptr;
    if (index_ready()) {
        std::size_t hole;
        return index_find(text, Util::hashText(text), hole);
    }
    void** slot = tree->UT_BTR_TREE::find(text);
    return slot ? nameIn(slot) : nullptr;
}

void UT_NCH_CACHE_IMP::clean() {
    std::vector<const char*> unused;
    unused.reserve(tree->get_count());
    tree->traverse(
        [](void** slot, void* arg) {
            if (nameIn(slot) && nameIn(slot)->rcnt == 0)
                static_cast<std::vector<const char*>*>(arg)->push_back(nameIn(slot)->get_name());
        },
        &unused, UT_BTR_TREE::INORDER);
    for (const char* text : unused)
        if (auto* name = find(text))
            erase(name);
}

void UT_NCH_CACHE_IMP::erase(UT_NCH_NAME* name) {
    tree->UT_BTR_TREE::remove(name->get_name());
    if (name->get_size() > kLongest)
        adjust_pool(name);
    delete name;
}

void UT_NCH_CACHE_IMP::release_pools() {
    while (first_pool) {
        UT_NCH_POOL* next = first_pool->next;
        delete first_pool;
        first_pool = next;
    }
    cur_pool = nullptr;
}

void UT_NCH_CACHE_IMP::flush() {
    release_pools();
    tree->UT_BTR_TREE::flush(nch_flush);
}

void UT_NCH_CACHE_IMP::clear_marks() {
    tree->traverse(
        [](void** slot, void*) {
            if (nameIn(slot))
                nameIn(slot)->mcnt = 0;
        },
        nullptr, UT_BTR_TREE::INORDER);
}

namespace {
struct WritePass {
    UT_PTRFILE* file;           // the image's stream
    unsigned char marked_only;  // nonzero: only marked names, with their mark counts
    unsigned int max_len;       // the cache's longest text
    int32_t marked;             // records written so far
};
}  // namespace

void UT_NCH_CACHE_IMP::write(UT_PTRFILE* file, unsigned char marked_only) const {
    WritePass pass{&Util::NameImage::fileOf(file, kUnit), marked_only, max_len, 0};
    if (marked_only)
        tree->traverse(
            [](void** slot, void* arg) {
                if (nameIn(slot) && nameIn(slot)->mcnt > 0)
                    ++static_cast<WritePass*>(arg)->marked;
            },
            &pass, UT_BTR_TREE::INORDER);
    pass.file->writeint32(marked_only ? pass.marked : static_cast<int32_t>(tree->get_count()));
    tree->traverse(
        [](void** slot, void* arg) {
            const auto& p = *static_cast<WritePass*>(arg);
            const UT_NCH_NAME* name = nameIn(slot);
            if (!name || (p.marked_only && name->mcnt <= 0))
                return;
            // Checked before the record starts, so no record is left half written.
            if (std::strlen(name->get_name()) > p.max_len)
                UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgTooLongWrite);
            Util::NameImage::writeRecord(*p.file, name, p.marked_only ? name->mcnt : name->rcnt, name->get_name());
        },
        &pass, UT_BTR_TREE::REV_PREORDER);
}

void UT_NCH_CACHE_IMP::read(UT_PTRFILE* file) {
    UT_PTRFILE& in = Util::NameImage::fileOf(file, kUnit);
    if (ptr_only)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgPointerOnly);
    auto records = Util::NameImage::read(in, max_len, kUnit, kMsgTooLong);
    Util::NameImage::checkTotals(
        records, tree->get_count() == 0, [this](const char* text) { return find(text) ? find(text)->rcnt : 0; }, kUnit,
        Util::NameImage::kMsgOverflow);
    Util::NameImage::apply<UT_NCH_NAME>(
        in, records, [this](const char* text) { return find(text); },
        [this](const char* text, int refs) { return add(text, refs); },
        [this](UT_NCH_NAME* name, int refs, bool made) {
            name->delete_refs(refs);
            if (made)
                erase(name);
        });
}

void UT_NCH_CACHE_IMP::dump(unsigned char verbose) const {
    UTIL_REPORT().status(kMsgHeader, static_cast<int>(tree->get_count()));
    tree->UT_BTR_TREE::dump(
        [](void* data) {
            if (!data)
                UTIL_REPORT().status("%s", kMsgNullEntry);
            else
                static_cast<UT_NCH_NAME*>(data)->dump();
        },
        verbose);
}

void UT_NCH_CACHE_IMP::dump(Port::Stream& s, unsigned char verbose) const {
    s << "\nDumping the name cache: " << tree->get_count() << " entries\n";
    tree->UT_BTR_TREE::dump(
        s,
        [](Port::Stream& out, void* data) {
            if (!data) {
                out << kMsgNullEntry;
                out.flush();
            } else {
                static_cast<UT_NCH_NAME*>(data)->dump(out);
            }
        },
        verbose);
    s.flush();
}

unsigned int UT_NCH_CACHE_IMP::get_total_mem() const {
    unsigned int total = tree->get_count() * kBytesPerName;
    for (const UT_NCH_POOL* p = first_pool; p; p = p->next)
        total += static_cast<unsigned int>(p->size);
    return total;
}

// ---- public object ---------------------------------------------------------

UT_NCH_CACHE::UT_NCH_CACHE(unsigned char ptr_only) : UT_NCH_CACHE(ptr_only, kDefaultMaxLen) {}

UT_NCH_CACHE::UT_NCH_CACHE(unsigned char ptr_only, unsigned int max_len)
    : UT_BTR_TREE(compareName), cache_imp(new UT_NCH_CACHE_IMP(this, ptr_only, max_len)) {}

UT_NCH_CACHE::~UT_NCH_CACHE() { delete cache_imp; }

// Every other operation forwards to the implementation.
UT_NCH_NAME* UT_NCH_CACHE::add(const char* text, int nrefs) { return cache_imp->add(text, nrefs); }
UT_NCH_NAME* UT_NCH_CACHE::add(std::string_view text, int nrefs) {
    return cache_imp->add(Util::CText(text).c_str(), nrefs, true);
}
UT_NCH_NAME* UT_NCH_CACHE::find(const char* text) { return cache_imp->find(text); }
void UT_NCH_CACHE::clean() { cache_imp->clean(); }
void UT_NCH_CACHE::flush() { cache_imp->flush(); }
void UT_NCH_CACHE::clear_marks() { cache_imp->clear_marks(); }
void UT_NCH_CACHE::read(UT_PTRFILE* file) { cache_imp->read(file); }
void UT_NCH_CACHE::write(UT_PTRFILE* file, unsigned char marked_only) const { cache_imp->write(file, marked_only); }
void UT_NCH_CACHE::dump(unsigned char verbose) const { cache_imp->dump(verbose); }
void UT_NCH_CACHE::dump(Port::Stream& s, unsigned char verbose) const { cache_imp->dump(s, verbose); }
unsigned int UT_NCH_CACHE::get_total_mem() const { return cache_imp->get_total_mem(); }
unsigned int UT_NCH_CACHE::getMaxNameLength() const { return cache_imp->getMaxNameLength(); }
