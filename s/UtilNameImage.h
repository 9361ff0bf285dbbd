// UtilNameImage.h - what the two name caches share: the saved image they
// read and write, and the rules of their counts and dump lines.
//
//   int32  record count (0 or less: no records)
//   per record: identity (UT_PTRFILE pointer encoding), int32 references,
//               the text (Port::Stream string)
//
// Reading takes the whole image in and checks it before a cache is touched,
// then applies all of it or none (apply), so a refused image leaves the cache
// as it was. Nothing is sized by a count from
// the file: records are only kept as they are read.
#pragma once

#include "UtilReport.h"
#include "UtilTextHash.h"

#include <UtilPtrfile.h>

#include <PortStream.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Util::NameImage {

// The character pools both caches copy long texts into. A pool is large so
// that its allocation is paid once per some thousand names; the smoke-test
// switch makes pools small, so that tests reach a second pool with a few names.
inline constexpr std::size_t kPoolBytes = 65536;
inline constexpr std::size_t kSmokePoolBytes = 256;
inline constexpr const char* kSmokeSwitch = "UT_NCH_SMOKETEST";

struct Record {
    void* identity;    // the record's identity, as the file's readptr gave it
    int32_t refs;      // the stored count, 0 or more
    std::string text;  // the name's text
};

inline constexpr const char* kMsgCorrupt = "Corrupt name image at byte %lld: %s.\n";
inline constexpr const char* kWhyTruncated = "the file ends inside it";
inline constexpr const char* kWhyNegative = "a negative reference count";
inline constexpr const char* kWhyZeroByte = "a name holds a zero byte";
inline constexpr const char* kWhyTwice = "one identity names two different texts";
inline constexpr const char* kWhyNull = "a name with the null identity";
inline constexpr std::size_t kReserveLimit = 4096;

// Both caches word their count failures alike.
inline constexpr const char* kMsgOverflow = "Reference count overflow.\n";
inline constexpr const char* kMsgUnderflow = "Reference count underflow.\n";

// A reference count after a change: the result, or the fatal report `below`
// or kMsgOverflow when it would leave 0..INT_MAX (the count is then not
// changed).
inline int32_t checkedCount(int64_t result, const char* below, const Frame::Unit& unit) {
    if (result < 0)
        Frame::Reporter(unit, __LINE__).fatal(Frame::kFatal, "%s", below);
    if (result > INT32_MAX)
        Frame::Reporter(unit, __LINE__).fatal(Frame::kFatal, "%s", kMsgOverflow);
    return static_cast<int32_t>(result);
}

// A count with `nrefs` references added (a negative amount below zero is an
// overflow, as callers have always been told) or taken away.
inline int32_t addedRefs(int32_t count, int nrefs, const Frame::Unit& unit) {
    return checkedCount(int64_t{count} + nrefs, kMsgOverflow, unit);
}
inline int32_t removedRefs(int32_t count, int nrefs, const Frame::Unit& unit) {
    return checkedCount(int64_t{count} - nrefs, kMsgUnderflow, unit);
}

// One name's dump line on a stream, then a flush.
inline void dumpName(Port::Stream& s, const char* text, int rcnt, int mcnt) {
    s << '"' << text << '"' << ':' << " rcnt = " << rcnt << ", mcnt = " << mcnt << "\n";
    s.flush();
}

inline constexpr const char* kMsgNoFile = "No file given for the name image.\n";

// The stream a cache reads or writes; a null one is misuse.
inline UT_PTRFILE& fileOf(UT_PTRFILE* file, const Frame::Unit& unit) {
    if (!file)
        Frame::Reporter(unit, __LINE__).fatal(Frame::kFatal, "%s", kMsgNoFile);
    return *file;
}

inline void writeRecord(UT_PTRFILE& file, const void* name, int32_t refs, const char* text) {
    file.writeptr(name);
    file.writeint32(refs);
    file.writestring(text);
}

// The first record (in file order) whose identity an earlier record gave
// another text, among the first `n`; n when there is none. Sorting instead
// of hashing: the identities are the file's, and sorted they need no index.
inline std::size_t firstClash(const std::vector<Record>& records, std::size_t n) {
    std::vector<std::pair<void*, std::size_t>> order;
    order.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        order.emplace_back(records[i].identity, i);
    std::sort(order.begin(), order.end());
    std::size_t clash = n;
    for (std::size_t i = 0, first = 0; i < order.size(); ++i) {
        if (i == 0 || order[i].first != order[i - 1].first)
            first = order[i].second;  // the identity's first record: the others must agree with it
        else if (records[order[i].second].text != records[first].text)
            clash = std::min(clash, order[i].second);
    }
    return clash;
}

// Reads one image from the file's position. A text longer than `maxLen` is
// the fatal report `tooLong` (the callers' own wording); any other fault is
// kMsgCorrupt with the position where the bad record starts. Faults are
// reported in file order: one identity given two texts is found once the
// records before a fault are in, and reported first when it comes earlier.
inline std::vector<Record> read(UT_PTRFILE& file, unsigned int maxLen, const Frame::Unit& unit, const char* tooLong) {
    std::vector<Record> records;
    std::vector<long long> starts;  // where each record starts in the file
    auto clashBefore = [&](std::size_t n) {
        std::size_t clash = firstClash(records, n);
        if (clash < n)
            Frame::Reporter(unit, __LINE__).fatal(Frame::kFatal, kMsgCorrupt, starts[clash], kWhyTwice);
    };
    auto fail = [&](long long at, const char* why) {
        clashBefore(records.size());
        Frame::Reporter(unit, __LINE__).fatal(Frame::kFatal, kMsgCorrupt, at, why);
    };
    // Positions are counted, not asked of the stream for every record.
    long long at = static_cast<long long>(file.getfoffset());
    int count = 0;
    if (!file.readint32(&count))
        fail(at, kWhyTruncated);
    const std::size_t reserve = count > 0 ? std::min<std::size_t>(static_cast<std::size_t>(count), kReserveLimit) : 0;
    records.reserve(reserve);
    starts.reserve(reserve);
    at += 4;
    for (int i = 0; i < count; ++i) {
        Record r{nullptr, 0, {}};
        int refs = 0;
        if (!file.readptr(r.identity) || !file.readint32(&refs))
            fail(at, kWhyTruncated);
        std::size_t len = file.readstring(r.text, maxLen);
        if (file.geterror())
            fail(at, kWhyTruncated);
        if (len > maxLen) {
            clashBefore(records.size());
            Frame::Reporter(unit, __LINE__).fatal(Frame::kFatal, "%s", tooLong);
        }
        if (refs < 0)
            fail(at, kWhyNegative);
        if (std::memchr(r.text.data(), '\0', r.text.size()))
            fail(at, kWhyZeroByte);
        if (!r.identity)
            fail(at, kWhyNull);
        r.refs = refs;
        starts.push_back(at);
        at += 12 + static_cast<long long>(r.text.size());
        records.push_back(std::move(r));
    }
    clashBefore(records.size());
    return records;
}

// Refuses, with the fatal report `overflow`, records that would take a name's
// reference count past INT_MAX; refsOf(text) gives the count a name has now
// (0 when absent), `empty` says the cache has no names. Checked before any
// record is applied.
template <class RefsOf>
void checkTotals(const std::vector<Record>& records, bool empty, RefsOf refsOf, const Frame::Unit& unit,
                 const char* overflow) {
    int64_t all = 0;
    for (const auto& r : records)
        all += r.refs;
    if (empty && all <= INT32_MAX)
        return;  // no sum of counts can pass the limit
    std::unordered_map<std::string_view, int64_t, KeyedTextHash> totals;
    for (const auto& r : records)
        totals[r.text] += r.refs;
    for (const auto& [text, total] : totals)
        if (total + refsOf(std::string(text).c_str()) > INT32_MAX)
            Frame::Reporter(unit, __LINE__).fatal(Frame::kFatal, "%s", overflow);
}

// Applies a checked image to a cache: all of it, or (on any refusal) none.
// A registration another name already holds is reported before the cache
// changes, with the room for every registration made first; the bookkeeping
// is sized up front; when adding a name runs out of memory, what was added is
// taken out again. `find(text)` gives a name or null, `add(text, refs)` adds,
// `undo(name, refs, made)` takes back one add (`made`: the add made the name).
template <class Name, class Find, class Add, class Undo>
void apply(UT_PTRFILE& in, const std::vector<Record>& records, Find find, Add add, Undo undo) {
    for (const auto& r : records)
        in.checkregister(r.identity, find(r.text.c_str()));
    std::vector<std::pair<Name*, bool>> added;
    added.reserve(records.size());
    try {
        for (const auto& r : records) {
            bool made = find(r.text.c_str()) == nullptr;
            added.emplace_back(add(r.text.c_str(), r.refs), made);
        }
    } catch (...) {
        for (std::size_t i = added.size(); i-- > 0;)
            undo(added[i].first, records[i].refs, added[i].second);
        throw;
    }
    for (std::size_t i = 0; i < records.size(); ++i)
        in.registerptr(records[i].identity, added[i].first);
}

}  // namespace Util::NameImage
