// UtilNameCache.cpp - the copyable name cache on an ordered map, and the
// alias-map dumps.
#include "UtilNameImage.h"
#include "UtilReport.h"

#include <UtilNameCache.h>
#include <UtilPtrfile.h>

#include <PortEnv.h>
#include <PortStream.h>

#include <atomic>
#include <cassert>
#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilNameCache.cpp", "1.0"};

using Util::NameImage::kPoolBytes;
using Util::NameImage::kSmokePoolBytes;
using Util::NameImage::kSmokeSwitch;
// The memory statistic's fixed costs: 8 bytes per name (its map entry's
// share, as callers budget it) and 40 for the cache object itself.
constexpr uint64_t kBytesPerName = 8;
constexpr uint64_t kCacheBytes = 40;

constexpr const char* kMsgTooLong = "maximum name length exceeded.\n";
constexpr const char* kMsgTooLongWrite = "Maximum name length exceeded\n";
constexpr const char* kMsgTooLongRead = "Maximum name length exceeded.\n";
constexpr const char* kMsgPointerOnly = "Cannot read name data into pointer-only cache\n";
constexpr const char* kMsgKey = "Key = %s\n";
constexpr const char* kMsgNameCopy = "Name copy = %s\n";
constexpr const char* kMsgAlias = "   %s, (%s)\n";

// Fixed by the first pool of the process.
std::size_t poolBytes() {
    static const std::size_t bytes = Port_Env::GetEnv(kSmokeSwitch) ? kSmokePoolBytes : kPoolBytes;
    return bytes;
}

struct TextLess {
    bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
};

}  // namespace

namespace Util::NameCache {

// ---- names -----------------------------------------------------------------

void NameBase::dump(Port::Stream& s) const { NameImage::dumpName(s, getName(), rcnt, mcnt); }

void NameBase::addRefs(int nrefs) { rcnt = NameImage::addedRefs(rcnt, nrefs, kUnit); }

void NameBase::deleteRefs(int nrefs) { rcnt = NameImage::removedRefs(rcnt, nrefs, kUnit); }

NameShort::NameShort(const char* text) : text_{} {
    std::size_t len = std::strlen(text);
    std::memcpy(text_, text, (len < kRoom ? len : kRoom));
}

// ---- the cache -------------------------------------------------------------

class CacheImp {
public:
    CacheImp(bool pointers_only, unsigned int longest) : ptr_only(pointers_only), max_len(longest) {}
    CacheImp(const CacheImp& other);
    ~CacheImp() { flush(); }
    CacheImp& operator=(const CacheImp&) = delete;

    // `keepCopy`: the text is kept in the cache's pools even when the cache
    // is pointer-only (the caller's text does not outlive the call).
    Name* add(const char* text, int nrefs, bool keepCopy = false);
    Name* find(const char* text) const;
    void clean();
    void flush();
    void clearMarks();
    void read(UT_PTRFILE* file);
    void write(UT_PTRFILE* file, bool marked_only) const;
    void dump(Port::Stream& s) const;
    uint64_t size() const { return names.size(); }
    uint64_t getTotalMem() const;
    unsigned int getMaxNameLength() const { return max_len; }

private:
    struct Pool {
        Pool* next;        // the next pool, null for the last
        char* buf;         // size bytes of texts, each with its zero
        std::size_t size;  // the process's pool size, or more for one long text
        std::size_t used;  // bytes of buf taken; texts are never moved or reused
        int nnames;        // names whose text is here; the pool is released when it drops to 0
    };

    const char* copyText(const char* text, std::size_t len);
    void releaseText(const char* text);
    Pool* poolOf(const char* text) const;
    Pool* newPool(std::size_t need);
    void erase(std::map<const char*, Name*, TextLess>::iterator found);

    bool ptr_only;         // names are kept for their identities only and no image can be read in
    unsigned int max_len;  // the longest text accepted, in characters
    std::map<const char*, Name*, TextLess> names;  // every name by its text
    Pool* first_pool = nullptr;                    // the character pools, oldest first (new ones go at the tail)
    Pool* cur_pool = nullptr;                      // the pool new long texts go to while they fit
};

CacheImp::CacheImp(const CacheImp& other) : ptr_only(other.ptr_only), max_len(other.max_len) {
    try {
        for (const auto& [text, name] : other.names) {
            // The copy is made with this cache's rules; its marks are set in
            // one step rather than one mark() per mark.
            // A pointer-only copy points at the caller's texts, but copies
            // those the other cache keeps itself: they go with it.
            auto* made = static_cast<NameBase*>(add(text, name->getRefCount(), other.poolOf(text) != nullptr));
            made->mcnt = name->getMarkCount();
        }
    } catch (...) {
        flush();
        throw;
    }
}

CacheImp::Pool* CacheImp::newPool(std::size_t need) {
    std::size_t bytes = need > poolBytes() ? need : poolBytes();
    auto pool = std::make_unique<Pool>(Pool{nullptr, nullptr, bytes, 0, 0});
    pool->buf = new char[bytes];
    if (cur_pool)
        cur_pool->next = pool.get();
    else
        first_pool = pool.get();
    cur_pool = pool.get();
    return pool.release();
}

const char* CacheImp::copyText(const char* text, std::size_t len) {
    std::size_t need = len + 1;
    if (!cur_pool || cur_pool->used + need > cur_pool->size)
        newPool(need);
    char* copy = cur_pool->buf + cur_pool->used;
    std::memcpy(copy, text, need);
    cur_pool->used += need;
    ++cur_pool->nnames;
    return copy;
}

CacheImp::Pool* CacheImp::poolOf(const char* text) const {
    std::less_equal<const char*> le;
    Pool* pool = first_pool;
    while (pool && !(le(pool->buf, text) && le(text, pool->buf + pool->size)))
        pool = pool->next;
    return pool;
}

void CacheImp::releaseText(const char* text) {
    Pool* pool = poolOf(text);
    assert((pool || ptr_only) && "only a pointer-only cache keeps long texts outside its pools");
    if (!pool || --pool->nnames > 0)
        return;
    Pool* before = nullptr;
    for (Pool* p = first_pool; p != pool; p = p->next)
        before = p;
    (before ? before->next : first_pool) = pool->next;
    if (pool == cur_pool)
        cur_pool = before;
    delete[] pool->buf;
    delete pool;
}

Name* CacheImp::add(const char* text, int nrefs, bool keepCopy) {
    auto found = names.find(text);
    Name* name = found != names.end() ? found->second : nullptr;
    if (!name) {
        std::size_t len = std::strlen(text);
        if (ptr_only && !keepCopy) {
            name = new NameLong(text);
        } else if (len > max_len && !ptr_only) {
            UTIL_REPORT().fatal(Frame::kFatal, "%s", kMsgTooLong);
        } else if (len <= NameShort::kRoom) {
            name = new NameShort(text);
        } else {
            const char* copy = copyText(text, len);
            try {
                name = new NameLong(copy);
            } catch (...) {
                releaseText(copy);
                throw;
            }
        }
        try {
            names.emplace(name->getName(), name);
        } catch (...) {
            if (std::strlen(text) > NameShort::kRoom)
                releaseText(name->getName());  // nothing when no pool holds it
            delete name;
            throw;
        }
    }
    name->addRefs(nrefs);
    return name;
}

Name* CacheImp::find(const char* text) const {
    auto found = names.find(text);
    return found != names.end() ? found->second : nullptr;
}

void CacheImp::clean() {
    std::vector<const char*> unused;
    for (const auto& [text, name] : names)
        if (name->getRefCount() < 1)
            unused.push_back(text);
    for (const char* text : unused)
        erase(names.find(text));
}

void CacheImp::erase(std::map<const char*, Name*, TextLess>::iterator found) {
    Name* name = found->second;
    names.erase(found);
    if (std::strlen(name->getName()) > NameShort::kRoom)
        releaseText(name->getName());  // nothing when no pool holds it
    delete name;
}

void CacheImp::flush() {
    for (auto& entry : names)
        delete entry.second;
    names.clear();
    while (first_pool) {
        Pool* next = first_pool->next;
        delete[] first_pool->buf;
        delete first_pool;
        first_pool = next;
    }
    cur_pool = nullptr;
}

void CacheImp::clearMarks() {
    for (auto& entry : names)
        entry.second->clearMark();
}

void CacheImp::write(UT_PTRFILE* file, bool marked_only) const {
    UT_PTRFILE& out = NameImage::fileOf(file, kUnit);
    // Only a pointer-only cache can hold a name over the limit; it is refused
    // before anything is written, so no image is left half written.
    int32_t count = 0;
    for (const auto& [text, name] : names) {
        if (marked_only && name->getMarkCount() <= 0)
            continue;
        ++count;
        if (std::strlen(name->getName()) > max_len) {
            UTIL_REPORT().status(kMsgKey, text);
            UTIL_REPORT().status(kMsgNameCopy, name->getName());
            UTIL_REPORT().fatal(Frame::kFatal, "%s", kMsgTooLongWrite);
        }
    }
    out.writeint32(count);
    for (const auto& [text, name] : names)
        if (!marked_only || name->getMarkCount() > 0)
            NameImage::writeRecord(out, name, marked_only ? name->getMarkCount() : name->getRefCount(),
                                   name->getName());
}

void CacheImp::read(UT_PTRFILE* file) {
    UT_PTRFILE& in = NameImage::fileOf(file, kUnit);
    if (ptr_only)
        UTIL_REPORT().fatal(Frame::kFatal, "%s", kMsgPointerOnly);
    auto records = NameImage::read(in, max_len, kUnit, kMsgTooLongRead);
    NameImage::checkTotals(
        records, names.empty(), [this](const char* text) { return find(text) ? find(text)->getRefCount() : 0; }, kUnit,
        Util::NameImage::kMsgOverflow);
    NameImage::apply<Name>(
        in, records, [this](const char* text) { return find(text); },
        [this](const char* text, int refs) { return add(text, refs); },
        [this](Name* name, int refs, bool made) {
            static_cast<NameBase*>(name)->deleteRefs(refs);
            if (made)
                erase(names.find(name->getName()));
        });
}

void CacheImp::dump(Port::Stream& s) const {
    for (const auto& entry : names)
        entry.second->dump(s);
}

uint64_t CacheImp::getTotalMem() const {
    uint64_t total = kCacheBytes + kBytesPerName * names.size();
    for (const Pool* p = first_pool; p; p = p->next)
        total += p->size;
    return total;
}

// ---- public object ---------------------------------------------------------

Cache::Cache(bool ptr_only) : imp(new CacheImp(ptr_only, kDefaultMaxLen)) {}
Cache::Cache(unsigned int max_len) : imp(new CacheImp(false, max_len)) {}
Cache::Cache(const Cache& other) : imp(new CacheImp(*other.imp)) {}

Cache& Cache::operator=(const Cache& other) {
    if (this != &other) {
        auto* copy = new CacheImp(*other.imp);
        delete imp;
        imp = copy;
    }
    return *this;
}

Cache::~Cache() { delete imp; }

Name* Cache::add(const char* text, int nrefs) { return imp->add(text, nrefs); }
Name* Cache::add(std::string_view text, int nrefs) { return imp->add(CText(text).c_str(), nrefs, true); }
Name* Cache::find(const char* text) { return imp->find(text); }
void Cache::clean() { imp->clean(); }
void Cache::flush() { imp->flush(); }
void Cache::clearMarks() { imp->clearMarks(); }
void Cache::read(UT_PTRFILE* file) { imp->read(file); }
void Cache::write(UT_PTRFILE* file, bool marked_only) const { imp->write(file, marked_only); }
void Cache::dump(Port::Stream& s) const { imp->dump(s); }
void Cache::dump() const { imp->dump(Port::File::getCout()); }
uint64_t Cache::size() const { return imp->size(); }
uint64_t Cache::getTotalMem() const { return imp->getTotalMem(); }
unsigned int Cache::getMaxNameLength() const { return imp->getMaxNameLength(); }

}  // namespace Util::NameCache

namespace Util::AliasCache {

void dumpAlias(const Map::value_type* entry, Port::Stream& s) {
    if (!entry)
        return;
    Text line;
    line.Format(kMsgAlias, entry->first.c_str(), entry->second.c_str());
    s << line.c_str();
    s.flush();
}

void dumpCache(const Map* aliases, Port::Stream& s) {
    if (!aliases)
        return;
    for (const auto& entry : *aliases)
        dumpAlias(&entry, s);
}

}  // namespace Util::AliasCache
