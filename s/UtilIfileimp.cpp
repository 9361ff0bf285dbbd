// UtilIfileimp.cpp - the segmented file: header, segments, directory.
#include "UtilReport.h"
#include "UtilTextHash.h"

#include <UtilIfile.h>

#include <PortString.h>

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilIfileimp.cpp", "1.0"};

// This unit's fatal codes: callers tell the segmented file's failures apart
// by them, so each kind of failure has its own.
constexpr int kFatalSegmentCount = 1;  // a directory of more segments than the format holds
constexpr int kFatalVersion = 2;       // a file of another format version
constexpr int kFatalOpenInput = 3;     // a file that cannot be opened for reading
constexpr int kFatalOpenOutput = 4;    // a file that cannot be opened for writing
constexpr int kFatalOpen = 5;          // a file that cannot be opened in another mode

constexpr const char* kMsgNotClosedCreated = "File \"%s\" was not closed before file \"%s\" was created\n";
constexpr const char* kMsgNotClosedOpened = "File \"%s\" was not closed before file \"%s\" was opened\n";
constexpr const char* kMsgNoVersion = "Cannot get version from file \"%s\".\n";
constexpr const char* kMsgNothingOpen = "No file is open to unload.\n";
constexpr const char* kMsgTooMany = "Too many segments found <%d>\n";
constexpr const char* kMsgBadCount = "Bad number of segments found\n   numsegs=%d.  Cannot load file %s\n";
constexpr const char* kMsgNotClosed = "UT_IFILE destroyed but file \"%s\" not closed.\n";
constexpr const char* kMsgVersion =
    "Incompatible versions. Version %d does not match current version %d for file \"%s\".\n";
constexpr const char* kMsgRevision = "Revision %d does not match current revision %d for file \"%s\".\n";
constexpr const char* kMsgOpenInput = "Unable to open file \"%s\" for input.\n";
constexpr const char* kMsgOpenOutput = "Unable to open file \"%s\" for output.\n";
constexpr const char* kMsgOpen = "Unable to open file \"%s\".\n";
constexpr const char* kMsgReopen = "Unable to open file \"%s\" again.\n";
constexpr const char* kMsgWriteFailed = "Cannot write file \"%s\".\n";
constexpr const char* kMsgBadDirectory = "Cannot read the directory of file \"%s\": %s.\n";
constexpr const char* kWhyTruncated = "it ends inside the directory";
constexpr const char* kWhyPosition = "the directory position lies outside the file";
constexpr const char* kWhyLongName = "a segment name is longer than 255 characters";
constexpr const char* kWhyZeroByte = "a segment name holds a zero byte";
constexpr const char* kWhyOutside = "a segment lies outside the file";
constexpr const char* kMsgLongName = "Segment name \"%s\" is longer than 255 characters.\n";
constexpr const char* kMsgTooLarge = "Segment \"%s\" of file \"%s\" passes 2 GiB.\n";

char* dup(const char* text) {
    std::size_t n = std::strlen(text) + 1;
    char* copy = new char[n];
    std::memcpy(copy, text, n);
    return copy;
}

UT_IFILEDIR* entryOf(void* p) { return static_cast<UT_IFILEDIR*>(p); }

// Checks, however the operation ends (a fatal report included), that the
// file's fields agree with its state.
struct StateCheck {
    const UT_IFILE_IMP& file;
    ~StateCheck() { assert(file.stateHolds() && "the segmented file's fields agree with its state"); }
};

constexpr std::size_t kFirstIndexSlots = 64;

// The upper half of a name's hash: it places the name in the index and tells
// names apart there.
uint32_t tagOf(uint64_t hash) { return static_cast<uint32_t>(hash >> 32); }

}  // namespace

// ---- entries ---------------------------------------------------------------

UT_IFILEDIR::UT_IFILEDIR(const char* name, int offset, int size, int type, int data)
    : name_(dup(name ? name : "")), offset_(offset), size_(size), type_(type), data_(data) {}

UT_IFILEDIR::UT_IFILEDIR(InFile, char* name, int offset, int size, int type, int data)
    : name_(name), offset_(offset), size_(size), type_(type), data_(data), inFile_(true) {}

UT_IFILEDIR::~UT_IFILEDIR() {
    if (!inFile_)
        delete[] name_;
}

LIST_UT_IFILEDIR::~LIST_UT_IFILEDIR() { freelist(); }

void LIST_UT_IFILEDIR::freedata(void* elem) {
    UT_IFILEDIR* entry = entryOf(elem);
    if (entry->inFile_)
        entry->~UT_IFILEDIR();  // its memory goes with its file's directory
    else
        delete entry;
}

void LIST_UT_IFILEDIR::printdata(void* elem) { UTIL_REPORT().status("%s\n", entryOf(elem)->getname()); }

unsigned char LIST_UT_IFILEDIR::finddata(void* elem, void* key) {
    return UT_STR::Compare(entryOf(elem)->getname(), static_cast<const char*>(key)) == 0;
}

int LIST_UT_IFILEDIR::compdata(void* a, void* b) {
    return UT_STR::Compare(entryOf(a)->getname(), entryOf(b)->getname());
}

UT_IFILESEGINFO::UT_IFILESEGINFO() : imp(new UT_IFILESEGINFO_IMP) {}

UT_IFILESEGINFO::~UT_IFILESEGINFO() {
    delete[] imp->name;
    delete imp;
}

void UT_IFILESEGINFO::fill(const UT_IFILEDIR& entry) {
    char* copy = dup(entry.getname());
    delete[] imp->name;
    imp->name = copy;
    imp->size = entry.getsize();
    imp->type = entry.gettype();
    imp->data = entry.getdata();
}

void UT_IFILESEGINFO::clear() {
    char* copy = dup("");
    delete[] imp->name;
    imp->name = copy;
}

// ---- the file --------------------------------------------------------------

UT_IFILE_IMP::UT_IFILE_IMP()
    : parent(nullptr), version(0), revision(0), dataversion(0), datarevision(0), fname(nullptr),
      access(Port::Stream::READ), nextoffset(kHeaderBytes), stream(nullptr), curseg(nullptr), filecache(1),
      failed(false), entries(0) {}

UT_IFILE_IMP::~UT_IFILE_IMP() {
    if (fname && access == Port::Stream::WRITE)
        UTIL_REPORT().warning(kMsgNotClosed, fname);
    cleanup();
}

void UT_IFILE_IMP::init(Port::Stream::Access mode) {
    version = revision = dataversion = datarevision = 0;
    fname = nullptr;
    stream = nullptr;
    curseg = nullptr;
    nextoffset = kHeaderBytes;
    access = mode;
    failed = false;
}

void UT_IFILE_IMP::closestream() {
    if (stream && !Port::File::close(stream) && access == Port::Stream::WRITE)
        failed = true;
    stream = nullptr;
}

// Empties the directory and its index, and closes the stream.
void UT_IFILE_IMP::release() {
    dir.freelist();
    rewind();
    entries = 0;
    index.clear();
    indexed = 0;
    lastfound = 0;
    entryChunks.clear();
    nameChunks.clear();
    namenext = nullptr;
    nameroom = 0;
    closestream();
}

void UT_IFILE_IMP::cleanup() {
    release();
    delete[] fname;
    fname = nullptr;
    curseg = nullptr;
}

// A file still open is let go as an unwritten one would be: its directory and
// stream are released, nothing is written.
void UT_IFILE_IMP::forget(const char* next, const char* warning) {
    if (!fname)
        return;
    UTIL_REPORT().warning(warning, fname, next ? next : "");
    cleanup();
}

Port::Stream* UT_IFILE_IMP::reopen(Port::Stream::Access mode) {
    Port::Stream* s = Port::File::open(fname, mode, mode == Port::Stream::READ);
    if (!s)
        UTIL_REPORT().error(kMsgReopen, fname);
    return s;
}

int UT_IFILE_IMP::countsegs() const {
    int n = entries;
    if (n > kMaxSegments)
        UTIL_REPORT().fatal(kFatalSegmentCount, kMsgTooMany, n);
    return n;
}

unsigned char UT_IFILE_IMP::create(const char* name) {
    StateCheck check{*this};
    forget(name, kMsgNotClosedCreated);
    init(Port::Stream::WRITE);
    fname = dup(name ? name : "");
    Port::Stream* s = Port::File::open(fname, Port::Stream::WRITE, true);
    if (!s) {
        callOpenError();
        return 0;
    }
    stream = s;
    static const char zeros[kHeaderBytes] = {};
    bool ok = s->writebytes(zeros, sizeof zeros) && s->flush();
    if (!filecache)
        closestream();
    if (!ok || failed) {
        UTIL_REPORT().error(kMsgWriteFailed, fname);
        closestream();
        failed = true;
        return 0;
    }
    return 1;
}

// A segment's name must fit the directory's name field: a file holding a
// longer one could not be loaded again.
bool UT_IFILE_IMP::namefits(const char* name) {
    if (std::strlen(name) < kNameRoom)
        return true;
    UTIL_REPORT().error(kMsgLongName, name);
    return false;
}

UT_IFILEDIR* UT_IFILE_IMP::newfdir(char* name, int type, int data) {
    if (!name || !namefits(name))
        return nullptr;
    return newsegment(name, type, data, Probe{});
}

// A new entry of the next segment; `probe` is where a look-up of its name
// ended, if one did.
UT_IFILEDIR* UT_IFILE_IMP::newsegment(const char* name, int type, int data, const Probe& probe) {
    if (entries + 1 > kMaxSegments)
        UTIL_REPORT().fatal(kFatalSegmentCount, kMsgTooMany, entries + 1);
    return addindexed(name, nextoffset, 0, type, data, probe);
}

Port::Stream* UT_IFILE_IMP::putdataseg(char* name, int type, int data) {
    StateCheck check{*this};
    if (access != Port::Stream::WRITE || !name || !fname)
        return nullptr;
    if (!namefits(name))
        return nullptr;
    if (curseg)
        enddataseg();  // the segment begun before ends where its bytes end
    if (!filecache)
        closestream();
    if (!stream && !(stream = reopen(Port::Stream::WRITE)))
        return nullptr;
    Probe probe;
    UT_IFILEDIR* entry = lookup(name, &probe);
    if (entry) {
        entry->offset_ = nextoffset;
        entry->size_ = 0;
        entry->type_ = type;
        entry->data_ = data;
    } else {
        entry = newsegment(name, type, data, probe);  // as newfdir makes it
    }
    curseg = entry;
    stream->setfoffset(entry->offset_);
    return stream;
}

unsigned char UT_IFILE_IMP::enddataseg() {
    StateCheck check{*this};
    if (!stream)
        return 0;
    if (access != Port::Stream::READ) {
        if (!curseg)
            return 0;
        // A stream kept open for the whole file is flushed when it is closed:
        // a flush per segment would cost a write to the system per segment.
        bool ok = filecache ? stream->geterror() == 0 : stream->flush();
        // The segment ends at the furthest byte written into it: a caller
        // may have gone back to patch a count at its start.
        int64_t p = stream->getfextent();
        if (p > INT32_MAX) {
            UTIL_REPORT().error(kMsgTooLarge, curseg->getname(), fname);
            ok = false;
            p = curseg->offset_;
        }
        nextoffset = static_cast<int>(std::max<int64_t>(p, curseg->offset_));
        curseg->size_ = nextoffset - curseg->offset_;
        assert(curseg->size_ >= 0 && "a segment ends where its bytes end, never before it starts");
        curseg = nullptr;
        if (!ok) {
            failed = true;
            UTIL_REPORT().error(kMsgWriteFailed, fname);
        }
        if (!filecache)
            closestream();
        return ok && !failed;
    }
    if (!filecache)
        closestream();
    return 1;
}

unsigned char UT_IFILE_IMP::unload() {
    StateCheck check{*this};
    if (!fname) {
        UTIL_REPORT().error(kMsgNothingOpen);
        return 0;
    }
    bool ok = true;
    if (access == Port::Stream::WRITE) {
        if (curseg)
            enddataseg();
        if (filecache && stream) {
            if (!stream->setfoffset(0))
                failed = true;
        } else {
            closestream();
            stream = reopen(Port::Stream::WRITE);
        }
        if (stream && !failed) {
            stream->writeint8(static_cast<int8_t>(kVersion));
            stream->writeint8(static_cast<int8_t>(kRevision));
            stream->writeint8(static_cast<int8_t>(dataversion));
            stream->writeint8(static_cast<int8_t>(datarevision));
            int n = countsegs();
            stream->writeint16(static_cast<int16_t>(n));
            // After the end of all segment data, wherever a rewritten
            // segment went: the directory then never covers one.
            int64_t end = kHeaderBytes;
            rewind();
            while (void* p = step())
                end = std::max<int64_t>(end, int64_t{entryOf(p)->offset_} + entryOf(p)->size_);
            stream->writeint32(static_cast<int32_t>(end));
            if (!stream->setfoffset(end))
                failed = true;
            rewind();
            while (void* p = step()) {
                const UT_IFILEDIR& e = *entryOf(p);
                stream->writestring(e.getname());
                stream->writeint32(e.offset_);
                stream->writeint32(e.size_);
                stream->writeint32(e.type_);
                stream->writeint32(e.data_);
            }
            if (stream->geterror())
                failed = true;
            closestream();
        } else {
            failed = true;
        }
        if (failed) {
            UTIL_REPORT().error(kMsgWriteFailed, fname);
            ok = false;
        }
    }
    cleanup();
    return ok;
}

unsigned char UT_IFILE_IMP::load(const char* name) {
    StateCheck check{*this};
    forget(name, kMsgNotClosedOpened);
    init(Port::Stream::READ);
    fname = dup(name ? name : "");
    stream = Port::File::open(fname, Port::Stream::READ, true);
    if (!stream) {
        callOpenError();
        return 0;
    }
    // Whatever ends the load early (a false result or a fatal report) closes
    // the stream and leaves no partial directory.
    struct Undo {
        UT_IFILE_IMP& file;
        bool done = false;
        ~Undo() {
            if (!done)
                file.release();
        }
    } undo{*this};
    version = static_cast<unsigned char>(stream->readint8());
    if (!stream->geterror())
        revision = static_cast<unsigned char>(stream->readint8());
    if (stream->geterror()) {
        UTIL_REPORT().error(kMsgNoVersion, fname);
        return 0;
    }
    if (version != kVersion) {
        callVersionMismatch(version);
        return 0;
    }
    if (revision != kRevision)
        callRevisionMismatch(revision);
    dataversion = static_cast<unsigned char>(stream->readint8());
    datarevision = static_cast<unsigned char>(stream->readint8());
    if (!readsegdir(stream))
        return 0;
    undo.done = true;
    if (!filecache)
        closestream();
    return 1;
}

bool UT_IFILE_IMP::readsegdir(Port::Stream* s) {
    auto bad = [this](const char* why) {
        UTIL_REPORT().error(kMsgBadDirectory, fname, why);
        return false;
    };
    int n = s->readint16();
    if (s->geterror())
        return bad(kWhyTruncated);
    if (n < 0 || n > kMaxSegments)
        UTIL_REPORT().fatal(kFatalSegmentCount, kMsgBadCount, n, fname);
    int position = s->readint32();
    if (s->geterror())
        return bad(kWhyTruncated);
    const int64_t size = Port::File::size(fname);
    if (position < kHeaderBytes || (size >= 0 && position > size) || !s->setfoffset(position))
        return bad(kWhyPosition);
    // Sized once for the whole directory (the count is at most 32760).
    const uint32_t first = static_cast<uint32_t>(entries) + 1;
    if (2 * (indexed + static_cast<std::size_t>(n)) > index.size())
        growindex(indexed + static_cast<std::size_t>(n));
    char name[kNameRoom];
    for (int i = 0; i < n; ++i) {
        unsigned len = s->readstring(name, kNameRoom);
        int offset = s->readint32(), bytes = s->readint32(), type = s->readint32(), data = s->readint32();
        if (s->geterror())
            return bad(kWhyTruncated);
        if (len >= kNameRoom)
            return bad(kWhyLongName);
        if (std::strlen(name) != len)
            return bad(kWhyZeroByte);
        if (offset < kHeaderBytes || bytes < 0 || (size >= 0 && int64_t{offset} + bytes > size))
            return bad(kWhyOutside);
        appendentry(name, offset, bytes, type, data);
    }
    indexentries(first);
    return true;
}

// The slot holding `name`, or the empty slot where it belongs; the index
// has room.
UT_IFILE_IMP::IndexSlot* UT_IFILE_IMP::slotof(const char* name, uint64_t hash) {
    assert(indexed < index.size() && "an empty slot ends every probe");
    const std::size_t mask = index.size() - 1;
    const uint32_t tag = tagOf(hash);
    for (std::size_t i = tag & mask;; i = (i + 1) & mask) {
        IndexSlot& slot = index[i];
        if (!slot.number || (slot.tag == tag && std::strcmp(entryat(slot.number)->getname(), name) == 0))
            return &slot;
    }
}

// Where entry number n + 1 lives in the chunks.
void* UT_IFILE_IMP::entryroom(std::size_t n) const {
    return entryChunks[n / kChunkEntries].get() + (n % kChunkEntries) * sizeof(UT_IFILEDIR);
}

// The entry of number `number` (from 1).
UT_IFILEDIR* UT_IFILE_IMP::entryat(uint32_t number) const {
    assert(number >= 1 && number <= static_cast<uint32_t>(entries) && "index slots hold numbers of made entries");
    return std::launder(static_cast<UT_IFILEDIR*>(entryroom(number - 1)));
}

// Readers tend to take segments in the order they were written, so the entry
// after the one found last is tried first. That is only the right answer
// while no two entries share a name (the index holds the last of them).
UT_IFILEDIR* UT_IFILE_IMP::lookup(const char* name, Probe* probe) {
    if (!name || index.empty())
        return nullptr;
    if (indexed == static_cast<std::size_t>(entries) && lastfound < indexed) {
        UT_IFILEDIR* next = entryat(lastfound + 1);
        if (std::strcmp(next->getname(), name) == 0) {
            ++lastfound;
            return next;
        }
    }
    const uint64_t hash = Util::hashText(name);
    IndexSlot* slot = slotof(name, hash);
    if (!slot->number) {
        if (probe)
            *probe = Probe{hash, slot};
        return nullptr;
    }
    lastfound = slot->number;
    return entryat(slot->number);
}

// Doubles the index (or makes its first slots, room for `expected` entries);
// throws before changing it.
void UT_IFILE_IMP::growindex(std::size_t expected) {
    std::size_t slots = index.empty() ? kFirstIndexSlots : 2 * index.size();
    while (slots < 2 * expected)
        slots *= 2;
    std::vector<IndexSlot> bigger(slots, IndexSlot{0, 0});
    bigger.swap(index);
    // The names in the index differ, so each goes to the first free slot
    // from where its tag points.
    const std::size_t mask = slots - 1;
    for (const IndexSlot& old : bigger)
        if (old.number) {
            std::size_t i = old.tag & mask;
            while (index[i].number)
                i = (i + 1) & mask;
            index[i] = old;
        }
}

// Makes the next entry, number entries + 1, in the directory's chunks; it
// only counts once appendentry has appended it.
UT_IFILEDIR* UT_IFILE_IMP::constructentry(const char* name, int offset, int size, int type, int data) {
    const std::size_t n = static_cast<std::size_t>(entries);
    if (n / kChunkEntries == entryChunks.size())
        entryChunks.push_back(std::make_unique_for_overwrite<unsigned char[]>(kChunkEntries * sizeof(UT_IFILEDIR)));
    const std::size_t bytes = std::strlen(name) + 1;
    char* text;
    if (bytes > kNameChunk / 4) {
        // A long name (only newfdir takes one) gets memory of its own.
        nameChunks.push_back(std::make_unique_for_overwrite<char[]>(bytes));
        text = nameChunks.back().get();
    } else {
        if (bytes > nameroom) {
            nameChunks.push_back(std::make_unique_for_overwrite<char[]>(kNameChunk));
            namenext = nameChunks.back().get();
            nameroom = kNameChunk;
        }
        text = namenext;
        namenext += bytes;
        nameroom -= bytes;
    }
    std::memcpy(text, name, bytes);
    return new (entryroom(n)) UT_IFILEDIR(UT_IFILEDIR::InFile{}, text, offset, size, type, data);
}

// Adds an entry to the directory and its index, or (when memory runs out)
// leaves both as they were.
UT_IFILEDIR* UT_IFILE_IMP::addindexed(const char* name, int offset, int size, int type, int data, Probe probe) {
    if (2 * (indexed + 1) > index.size()) {
        growindex();
        probe.hole = nullptr;  // the slots moved
    }
    UT_IFILEDIR* entry = appendentry(name, offset, size, type, data);
    const uint64_t hash = probe.hole ? probe.hash : Util::hashText(entry->getname());
    indexentry(static_cast<uint32_t>(entries), hash, probe.hole);
    return entry;
}

// Adds an entry to the directory only (load indexes them all at the end).
UT_IFILEDIR* UT_IFILE_IMP::appendentry(const char* name, int offset, int size, int type, int data) {
    UT_IFILEDIR* entry = constructentry(name ? name : "", offset, size, type, data);
    dir.append(entry);
    ++entries;
    return entry;
}

// Enters entry `number`, whose name has `hash`, in the index, which has room:
// in `slot` when a look-up found it free, else where the name belongs.
void UT_IFILE_IMP::indexentry(uint32_t number, uint64_t hash, IndexSlot* slot) {
    assert((!slot || !slot->number) && "a look-up's free slot is still free");
    if (!slot)
        slot = slotof(entryat(number)->getname(), hash);
    if (!slot->number)
        ++indexed;
    *slot = IndexSlot{number, tagOf(hash)};  // a later entry of equal name wins
}

// Enters the entries from `first` on in the index, in their order, which has
// room for them all. The slots of the next few names are fetched from memory
// while one is entered: a directory's slots lie anywhere in a large index.
void UT_IFILE_IMP::indexentries(uint32_t first) {
    constexpr uint32_t kAhead = 8;
    const uint32_t last = static_cast<uint32_t>(entries);
    const std::size_t mask = index.size() - 1;
    uint64_t hashes[kAhead];
    auto fetch = [&](uint32_t n) {
        const uint64_t h = Util::hashText(entryat(n)->getname());
        hashes[n % kAhead] = h;
        __builtin_prefetch(&index[tagOf(h) & mask]);
    };
    for (uint32_t n = first; n <= last && n < first + kAhead; ++n)
        fetch(n);
    for (uint32_t n = first; n <= last; ++n) {
        const uint64_t h = hashes[n % kAhead];
        if (n + kAhead <= last)
            fetch(n + kAhead);
        indexentry(n, h);
    }
}

Port::Stream* UT_IFILE_IMP::getdataseg(char* name, int type, UT_IFILESEGINFO* info) {
    if (access != Port::Stream::READ || !name || !fname)
        return nullptr;
    if (!filecache)
        closestream();
    const UT_IFILEDIR* found = lookup(name);
    if (!found)
        return nullptr;
    const UT_IFILEDIR& entry = *found;
    assert(entry.offset_ >= kHeaderBytes && "load kept only segments that lie inside the file");
    if (type != -1 && type != entry.type_)
        return nullptr;
    if (info)
        info->fill(entry);
    if (!stream && !(stream = reopen(Port::Stream::READ)))
        return nullptr;
    // A read that ran past an earlier segment leaves nothing behind for this one.
    stream->clearerror();
    stream->setfoffset(entry.offset_);
    return stream;
}

short UT_IFILE_IMP::getnumsegs() const { return static_cast<short>(countsegs()); }

unsigned char UT_IFILE_IMP::getseginfo(char* name, UT_IFILESEGINFO& info) {
    const UT_IFILEDIR* found = lookup(name);
    if (!found) {
        info.clear();
        return 0;
    }
    info.fill(*found);
    return 1;
}

void UT_IFILE_IMP::rewind() {
    dir.reset();
    cursorpos = kBeforeFirst;
    cursorentry = nullptr;
}

void* UT_IFILE_IMP::step() {
    void* p = dir.getnext();
    if (p) {
        ++cursorpos;
        cursorentry = p;
    } else {
        cursorpos = kPastEnd;
        cursorentry = nullptr;
    }
    return p;
}

// Entry n is reached from where the cursor stands when it is not beyond it,
// so a walk over n = 0, 1, 2 ... costs one step each; the cursor ends on
// entry n as the walk from the start would leave it.
unsigned char UT_IFILE_IMP::getseginfo(int n, UT_IFILESEGINFO& info) {
    int count = countsegs();
    if (n < 0 || n >= count) {
        rewind();
        info.clear();
        return 0;
    }
    if (cursorpos > n)
        rewind();
    while (cursorpos < n)
        step();
    info.fill(*entryOf(cursorentry));
    return 1;
}

unsigned char UT_IFILE_IMP::getnextseginfo(UT_IFILESEGINFO& info) {
    void* p = step();
    if (!p) {
        info.clear();
        return 0;
    }
    info.fill(*entryOf(p));
    return 1;
}

void UT_IFILE_IMP::resetseginfo() { rewind(); }

void UT_IFILE_IMP::callOpenError() { parent ? parent->openerror() : openerror(); }
void UT_IFILE_IMP::callVersionMismatch(unsigned char v) { parent ? parent->version_mismatch(v) : version_mismatch(v); }
void UT_IFILE_IMP::callRevisionMismatch(unsigned char r) {
    parent ? parent->revision_mismatch(r) : revision_mismatch(r);
}

bool UT_IFILE_IMP::stateHolds() const {
    const bool common = entries >= 0 && indexed <= static_cast<std::size_t>(entries) && nextoffset >= kHeaderBytes;
    switch (state()) {
    case State::Closed:
        return common && !stream && !curseg && entries == 0 && indexed == 0;
    case State::Reading:
        return common && !curseg;
    case State::Writing:
        return common && (!curseg || curseg->offset_ >= kHeaderBytes);
    }
    return false;
}

void UT_IFILE_IMP::version_mismatch(unsigned char v) {
    UTIL_REPORT().fatal(kFatalVersion, kMsgVersion, v, kVersion, fname ? fname : "");
}

void UT_IFILE_IMP::revision_mismatch(unsigned char r) {
    UTIL_REPORT().warning(kMsgRevision, r, kRevision, fname ? fname : "");
}

void UT_IFILE_IMP::openerror() {
    const char* name = fname ? fname : "";
    if (access == Port::Stream::READ)
        UTIL_REPORT().fatal(kFatalOpenInput, kMsgOpenInput, name);
    if (access == Port::Stream::WRITE)
        UTIL_REPORT().fatal(kFatalOpenOutput, kMsgOpenOutput, name);
    UTIL_REPORT().fatal(kFatalOpen, kMsgOpen, name);
}

// ---- public object ---------------------------------------------------------

UT_IFILE::UT_IFILE() : imp(new UT_IFILE_IMP) { imp->SetParent(this); }
UT_IFILE::~UT_IFILE() { delete imp; }

unsigned char UT_IFILE::create(const char* name) { return imp->create(name); }
unsigned char UT_IFILE::load(const char* name) { return imp->load(name); }
unsigned char UT_IFILE::unload() { return imp->unload(); }
Port::Stream* UT_IFILE::putdataseg(char* name, int type, int data) { return imp->putdataseg(name, type, data); }
unsigned char UT_IFILE::enddataseg() { return imp->enddataseg(); }
Port::Stream* UT_IFILE::getdataseg(char* name, int type, UT_IFILESEGINFO* info) {
    return imp->getdataseg(name, type, info);
}
UT_IFILEDIR* UT_IFILE::newfdir(char* name, int type, int data) { return imp->newfdir(name, type, data); }
short UT_IFILE::getnumsegs() const { return imp->getnumsegs(); }
unsigned char UT_IFILE::getseginfo(char* name, UT_IFILESEGINFO& info) { return imp->getseginfo(name, info); }
unsigned char UT_IFILE::getseginfo(int n, UT_IFILESEGINFO& info) { return imp->getseginfo(n, info); }
unsigned char UT_IFILE::getnextseginfo(UT_IFILESEGINFO& info) { return imp->getnextseginfo(info); }
void UT_IFILE::resetseginfo() { imp->resetseginfo(); }
void UT_IFILE::setfilecache(unsigned char on) { imp->setfilecache(on); }
const char* UT_IFILE::getfname() const { return imp->getfname(); }
Port::StringBase<char> UT_IFILE::getFName() const { return imp->getFName(); }
unsigned char UT_IFILE::getversion() const { return imp->getversion(); }
unsigned char UT_IFILE::getrevision() const { return imp->getrevision(); }
unsigned char UT_IFILE::getdataversion() const { return imp->getdataversion(); }
unsigned char UT_IFILE::getdatarevision() const { return imp->getdatarevision(); }
void UT_IFILE::setdataversion(unsigned char v) { imp->setdataversion(v); }
void UT_IFILE::setdatarevision(unsigned char r) { imp->setdatarevision(r); }
Port::Stream::Access UT_IFILE::getaccess() const { return imp->getaccess(); }
void UT_IFILE::version_mismatch(unsigned char v) { imp->version_mismatch(v); }
void UT_IFILE::revision_mismatch(unsigned char r) { imp->revision_mismatch(r); }
void UT_IFILE::openerror() { imp->openerror(); }
