// UtilCname.h - a reference-counted cache of interned name texts.
//
// UT_NCH_CACHE holds each distinct text once, as a UT_NCH_NAME with a
// reference count and a mark count; the name's address is its identity and
// stays valid until clean() finds it unreferenced, or flush() or destruction.
// The cache is a UT_BTR_TREE ordered by strcmp of the texts; its entries hold
// UT_NCH_NAME*.
//
// Storage: texts of up to 7 characters live inside the name object; longer
// ones are copied into 64 KiB character pools of the cache (256 bytes when
// UT_NCH_SMOKETEST is set as a pool is made), or, in a pointer-only cache,
// point at the caller's text, which must then outlive the name. A text longer
// than a pool gets a pool of its own size. Name objects (24 bytes) come from
// one pool shared by all caches, behind a lock.
//
// Saved image, written at the stream's position by write() and read by read()
// (the facade Util::NameCache::Cache reads and writes the same image):
//   int32  record count
//   then per record: identity (UT_PTRFILE::writeptr), int32 count (rcnt, or
//   mcnt in a marked-only image), the text (Port::Stream::writestring).
// read() checks the whole image before it changes the cache: a truncated or
// corrupt image is a fatal report (code 19) naming the stream position, and
// the cache keeps exactly what it had.
//
// Misuse is a fatal report, code 19: a text longer than getMaxNameLength(),
// a reference count taken below 0 or above INT_MAX, reading into a
// pointer-only cache. One thread uses a cache at a time.
//
// Lives in: s/UtilCnameimp.cpp, s/UtilNameImage.h; tests: tests/names_test.cpp; docs:
//   docs/name-caches.md, docs/names.md.
#pragma once

#include "UtilBtree.h"
#include "UtilExport.h"
#include "UtilTextView.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class UT_PTRFILE;
class UT_NCH_CACHE_IMP;

namespace Port {
class Stream;
}

class UTIL_EXPORT UT_NCH_NAME {
public:
    virtual const char* get_name() const = 0;
    virtual void delete_refs(int nrefs);
    // Storage class: 4 (inline, up to 3 characters), 8 (inline, up to 7) or
    // 9 (text held elsewhere).
    virtual unsigned short get_size() const = 0;

    void add_refs(int nrefs);
    int getRefCount() const { return rcnt; }
    int getMarkCount() const { return mcnt; }
    void mark() { ++mcnt; }
    void clearMark() { mcnt = 0; }
    // Status line "\"%s\": rcnt = %d, mcnt = %d\n".
    void dump() const;
    void dump(Port::Stream& s) const;

    // Name objects of all caches come from one shared pool.
    static void* operator new(std::size_t size);
    static void operator delete(void* p) noexcept;

protected:
    UT_NCH_NAME() = default;
    virtual ~UT_NCH_NAME() = default;
    UT_NCH_NAME(const UT_NCH_NAME&) = delete;
    UT_NCH_NAME& operator=(const UT_NCH_NAME&) = delete;

private:
    friend class UT_NCH_CACHE_IMP;
    friend void nch_flush(void** slot, void* arg);
    int32_t rcnt = 0;  // references; 0 does not remove the name (clean does)
    int32_t mcnt = 0;  // marks since clear_marks; a marked-only image writes this count
};

// Texts of 0 to 3 characters.
class UTIL_EXPORT UT_NCH_NAME3 : public UT_NCH_NAME {
public:
    const char* get_name() const override { return text; }
    unsigned short get_size() const override { return 4; }

private:
    friend class UT_NCH_CACHE_IMP;
    explicit UT_NCH_NAME3(const char* name);
    ~UT_NCH_NAME3() override = default;
    char text[4];  // the text and its terminating zero
};

// Texts of 4 to 7 characters.
class UTIL_EXPORT UT_NCH_NAME7 : public UT_NCH_NAME {
public:
    const char* get_name() const override { return text; }
    unsigned short get_size() const override { return 8; }

private:
    friend class UT_NCH_CACHE_IMP;
    explicit UT_NCH_NAME7(const char* name);
    ~UT_NCH_NAME7() override = default;
    char text[8];  // the text and its terminating zero
};

// Texts of 8 characters or more; the text is not owned by the name.
class UTIL_EXPORT UT_NCH_NAMELONG : public UT_NCH_NAME {
public:
    const char* get_name() const override { return text; }
    unsigned short get_size() const override { return 9; }

private:
    friend class UT_NCH_CACHE_IMP;
    explicit UT_NCH_NAMELONG(const char* name) : text(name) {}
    ~UT_NCH_NAMELONG() override = default;
    const char* text;  // the text, in one of the cache's character pools
};

// A character pool of a cache.
class UTIL_EXPORT UT_NCH_POOL {
private:
    friend class UT_NCH_CACHE_IMP;
    explicit UT_NCH_POOL(int bytes);
    ~UT_NCH_POOL();
    UT_NCH_POOL(const UT_NCH_POOL&) = delete;
    UT_NCH_POOL& operator=(const UT_NCH_POOL&) = delete;
    bool holds(const char* text) const;

    UT_NCH_POOL* next;  // the cache's next pool, null for the last
    char* buf;          // size bytes of texts, each with its zero
    int size;           // bytes of buf
    int used;           // bytes of buf taken; texts are never moved or reused
    int nnames;         // names whose text is here; the pool is released when it drops to 0
};

class UTIL_EXPORT UT_NCH_CACHE : public UT_BTR_TREE {
public:
    static constexpr unsigned int kDefaultMaxLen = 2047;

    explicit UT_NCH_CACHE(unsigned char ptr_only = 0);
    UT_NCH_CACHE(unsigned char ptr_only, unsigned int max_len);
    ~UT_NCH_CACHE() override;

    // The name of `text` with `nrefs` more references, made if absent; null
    // for a null text.
    UT_NCH_NAME* add(const char* text, int nrefs);
    UT_NCH_NAME* find(const char* text);
    // The same for a std::string_view (see UtilTextView.h). The view's text
    // does not outlive the call, so even a pointer-only cache keeps a copy.
    UT_NCH_NAME* add(std::string_view text, int nrefs);
    UT_NCH_NAME* find(std::string_view text) { return find(Util::CText(text).c_str()); }
    // Removes (and deletes) every name whose reference count is 0.
    void clean();
    // Deletes every name whatever its counts, and every pool.
    void flush();
    void clear_marks();
    // Adds the names of one image; a name already here gains the stored count.
    void read(UT_PTRFILE* file);
    // Writes the image of all names, or of the names whose mark count is above
    // 0 (with their mark counts), registering each name with writeptr.
    void write(UT_PTRFILE* file, unsigned char marked_only) const;
    void dump(unsigned char verbose) const;
    void dump(Port::Stream& s, unsigned char verbose) const;
    // 32 bytes per name plus the size of every pool.
    unsigned int get_total_mem() const;
    unsigned int getMaxNameLength() const;

private:
    UT_NCH_CACHE_IMP* cache_imp;  // the implementation; never null
};

class UTIL_EXPORT UT_NCH_CACHE_IMP {
public:
    UT_NCH_CACHE_IMP(UT_NCH_CACHE* owner, unsigned char pointers_only, unsigned int longest);
    ~UT_NCH_CACHE_IMP();
    UT_NCH_CACHE_IMP(const UT_NCH_CACHE_IMP&) = delete;
    UT_NCH_CACHE_IMP& operator=(const UT_NCH_CACHE_IMP&) = delete;

    // `copy`: the text is kept in the cache's pools even when the cache is
    // pointer-only (the caller's text does not outlive the call).
    UT_NCH_NAME* add(const char* text, int nrefs, bool copy = false);
    UT_NCH_NAME* find(const char* text);
    void clean();
    void flush();
    void clear_marks();
    void read(UT_PTRFILE* file);
    void write(UT_PTRFILE* file, unsigned char marked_only) const;
    void dump(unsigned char verbose) const;
    void dump(Port::Stream& s, unsigned char verbose) const;
    unsigned int get_total_mem() const;
    unsigned int getMaxNameLength() const { return max_len; }

private:
    char* add_name(const char* text, std::size_t len);
    void adjust_pool(UT_NCH_NAME* name);
    // Takes `name` out of the tree and its pool, and deletes it.
    void erase(UT_NCH_NAME* name);
    UT_NCH_NAME* make_name(const char* text, std::size_t len, bool copy);
    void release_pools();
    // The hash index (see `index`); none of these throws.
    bool index_ready() noexcept;
    // The name of `text` (whose hash is `hash`), or null; `hole` then tells
    // the free slot where it would go.
    UT_NCH_NAME* index_find(const char* text, uint64_t hash, std::size_t& hole) const noexcept;
    // Enters a name the index does not hold, in `hole` when the index did not
    // have to grow for it.
    bool index_put(UT_NCH_NAME* name, uint64_t hash, std::size_t hole) noexcept;
    bool index_put(UT_NCH_NAME* name) noexcept;

    // The public cache: the tree the names are stored in. Its own add, find
    // and remove are the cache's, which hide the tree's, so the tree's are
    // called by their qualified names (tree->UT_BTR_TREE::add).
    UT_NCH_CACHE* tree;
    UT_NCH_POOL* first_pool;  // the cache's character pools, oldest first (new ones go at the tail)
    UT_NCH_POOL* cur_pool;    // the pool new long texts go to while they fit; null before the first
    unsigned char ptr_only;   // nonzero: names are kept for their identities only and no image can be read in
    unsigned int max_len;     // the longest text accepted, in characters
    // Every name of the tree by the hash of its text (open addressing, a
    // power-of-two number of slots at most 3/4 full), so that a name already
    // here is found with one hash and about one compare instead of a walk
    // down the tree. It holds while `indexed` is true and `index_version`
    // equals the tree's version: anything else that adds or removes a node
    // (the cache's own removals, or the tree's operations called directly)
    // makes the next look-up rebuild it. Without memory for it, look-ups
    // walk the tree as before. A slot holds a name's address with a few bits
    // of its text's hash in the low bits its alignment leaves free, so most
    // slots of other names are passed without reading their text.
    std::vector<uintptr_t> index;
    std::size_t index_used = 0;  // slots of index holding a name
    uint32_t index_version = 0;  // the tree's version when index was last right
    bool indexed = false;        // whether index has been built since the cache was made or it was dropped
};

// The cache's flush callback: deletes the name in the slot, if any.
UTIL_EXPORT void nch_flush(void** slot, void* arg);
