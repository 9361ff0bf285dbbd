// UtilNameCache.h - a copyable name cache, and dumps of alias maps.
//
// Util::NameCache::Cache interns texts as reference-counted, markable Name
// objects kept in an ordered map (ascending by unsigned byte comparison). It
// reads and writes the same saved image as UT_NCH_CACHE (see UtilCname.h), so
// either cache reads what the other wrote.
//
// Storage: texts of up to 7 characters live in the name; longer ones are
// copied into character pools whose size is fixed for the whole process by
// the first pool made (256 bytes when UT_NCH_SMOKETEST is set then, else
// 64 KiB); a text longer than that gets a pool of its own size. In a
// pointer-only cache every name points at the caller's text, which must
// outlive it, and no length limit applies (but write() refuses, before
// writing anything, a name longer than getMaxNameLength()).
//
// read() checks the whole image before it changes the cache: a bad image is a
// fatal report (code 19) and the cache keeps what it had. Misuse is a fatal
// report, code 19. One thread uses a cache at a time.
//
// Lives in: s/UtilNameCache.cpp, s/UtilNameImage.h, s/UtilTextHash.h; tests: tests/names_test.cpp;
//   docs: docs/name-caches.md.
#pragma once

#include "UtilExport.h"
#include "UtilTextView.h"

#include <PortString.h>

#include <cstdint>
#include <map>
#include <string_view>

class UT_PTRFILE;

namespace Port {
class Stream;
}

namespace Util::NameCache {

class UTIL_EXPORT Name {
public:
    virtual ~Name() = default;
    // One line: "\"text\": rcnt = R, mcnt = M\n", then a flush of `s`.
    virtual void dump(Port::Stream& s) const = 0;
    virtual const char* getName() const = 0;
    virtual int getRefCount() const = 0;
    virtual void addRefs(int nrefs) = 0;
    virtual void deleteRefs(int nrefs) = 0;
    virtual int getMarkCount() const = 0;
    virtual void mark() = 0;
    virtual void clearMark() = 0;

protected:
    Name() = default;
    Name(const Name&) = default;
    Name& operator=(const Name&) = default;
};

class CacheImp;

class UTIL_EXPORT NameBase : public Name {
public:
    void dump(Port::Stream& s) const override;
    int getRefCount() const override { return rcnt; }
    // Counts stay within 0..INT_MAX: leaving that range is a fatal report and
    // leaves the count as it was.
    void addRefs(int nrefs) override;
    void deleteRefs(int nrefs) override;
    int getMarkCount() const override { return mcnt; }
    void mark() override { ++mcnt; }
    void clearMark() override { mcnt = 0; }

private:
    friend class CacheImp;
    int32_t rcnt = 0;  // references; 0 does not remove the name (clean does)
    int32_t mcnt = 0;  // marks since clearMarks; a marked-only image writes this count
};

class UTIL_EXPORT NameShort : public NameBase {
public:
    static constexpr std::size_t kRoom = 7;  // texts of up to 7 characters fit inside the name object
    // Keeps at most kRoom characters of `text`.
    explicit NameShort(const char* text);
    const char* getName() const override { return text_; }

private:
    char text_[kRoom + 1];  // the text and its terminating zero
};

class UTIL_EXPORT NameLong : public NameBase {
public:
    explicit NameLong(const char* text) : text_(text) {}
    const char* getName() const override { return text_; }

private:
    const char* text_;  // not owned
};

class UTIL_EXPORT Cache {
public:
    // the longest text by default: with its zero, a 2 KiB read buffer
    static constexpr unsigned int kDefaultMaxLen = 2047;

    explicit Cache(bool ptr_only = false);
    explicit Cache(unsigned int max_len);
    // A copy has the same names, counts and marks; it owns copies of the
    // texts, except that a pointer-only copy points at the same texts.
    Cache(const Cache& other);
    Cache& operator=(const Cache& other);
    ~Cache();

    // `text` must not be null.
    Name* add(const char* text, int nrefs);
    Name* find(const char* text);
    // The same for a std::string_view (see UtilTextView.h). The view's text
    // does not outlive the call, so even a pointer-only cache keeps a copy.
    Name* add(std::string_view text, int nrefs);
    Name* find(std::string_view text) { return find(CText(text).c_str()); }
    // Removes every name whose reference count is below 1.
    void clean();
    void flush();
    void clearMarks();
    void read(UT_PTRFILE* file);
    void write(UT_PTRFILE* file, bool marked_only) const;
    void dump(Port::Stream& s) const;
    void dump() const;  // on Port::File::getCout()
    uint64_t size() const;
    // Pool bytes, plus 8 bytes per name, plus 40.
    uint64_t getTotalMem() const;
    unsigned int getMaxNameLength() const;

private:
    CacheImp* imp;  // the implementation; never null
};

}  // namespace Util::NameCache

namespace Util::AliasCache {

using Text = Port::StringBase<char>;
using Map = std::map<Text, Text>;

// "   key, (value)\n", then a flush of `s`.
UTIL_EXPORT void dumpAlias(const Map::value_type* entry, Port::Stream& s);
// One such line per entry, in ascending key order.
UTIL_EXPORT void dumpCache(const Map* aliases, Port::Stream& s);

}  // namespace Util::AliasCache
