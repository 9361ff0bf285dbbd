// UtilIfile.h - a file of named segments with a directory and version checks.
//
// Layout (integers little-endian, strings as a u32 length then the bytes; see
// docs/segfile.md):
//   0    u8   format version (2)        1  u8  format revision (0)
//   2    u8   data version (caller's)   3  u8  data revision (caller's)
//   4    i16  number of segments, 0..32760
//   6    i32  directory position
//   10   118 zero bytes
//   128  the segments' bytes, as written
//   directory position: per segment, in directory order: the name (at most
//   255 characters), then offset, size, type and data as i32.
// The directory is written after the end of all segment data, so rewriting a
// segment that is not the last never overwrites another's bytes.
//
// Writing: create(), then per segment putdataseg() (a stream positioned at the
// segment's start), any Port::Stream writes, enddataseg(); unload() writes the
// header and directory. Reading: load(), getdataseg() ... enddataseg(),
// unload(). The streams handed out belong to the UT_IFILE.
//
// load() refuses, with a report and a false result, a file whose header or
// directory is truncated, points outside the file, or holds a name that is
// too long; a bad segment count and an incompatible version are fatal reports
// (codes 1 and 2), a failed open is fatal through openerror() (codes 3 to 5).
// Failed writes are reported and give false. A subclass may override the
// three hooks to handle those cases itself. One thread uses a file at a time.
//
// Lives in: s/UtilIfileimp.cpp; tests: tests/ifile_test.cpp; docs: docs/segfile.md.
#pragma once

#include "UtilExport.h"
#include "UtilList.h"
#include "UtilTextView.h"

#include <PortStream.h>
#include <PortString.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

class UT_IFILE;
class UT_IFILE_IMP;

// One directory entry.
class UTIL_EXPORT UT_IFILEDIR {
public:
    UT_IFILEDIR(const char* name, int offset, int size, int type, int data);
    ~UT_IFILEDIR();
    UT_IFILEDIR(const UT_IFILEDIR&) = delete;
    UT_IFILEDIR& operator=(const UT_IFILEDIR&) = delete;

    const char* getname() const { return name_; }
    Port::StringBase<char> getName() const { return name_; }
    int getoffset() const { return offset_; }
    int getsize() const { return size_; }
    int gettype() const { return type_; }
    int getdata() const { return data_; }

private:
    friend class UT_IFILE_IMP;
    friend class LIST_UT_IFILEDIR;
    // An entry of a file's directory: made in the file's memory, beside its
    // name, and freed with the rest of that memory when the directory empties.
    struct InFile {};
    UT_IFILEDIR(InFile, char* name, int offset, int size, int type, int data);

    char* name_;           // the segment's name, owned (unless inFile_)
    int offset_;           // where its bytes start in the file
    int size_;             // how many bytes it has
    int type_;             // the caller's type number
    int data_;             // the caller's word of data
    bool inFile_ = false;  // made by a UT_IFILE in its own memory (name_ included)
};

// The directory; owns its entries (freelist() deletes them).
class UTIL_EXPORT LIST_UT_IFILEDIR : public UT_LIST {
public:
    LIST_UT_IFILEDIR() = default;
    ~LIST_UT_IFILEDIR() override;

    void freedata(void* elem) override;
    // Status line "%s\n" with the entry's name.
    void printdata(void* elem) override;
    // True when the entry's name is the text `key`.
    unsigned char finddata(void* elem, void* key) override;
    int compdata(void* a, void* b) override;
};

struct UTIL_EXPORT UT_IFILESEGINFO_IMP {
    char* name = nullptr;  // a copy of the segment's name, owned; "" after a failed look-up
    int size = 0;          // the segment's bytes
    int type = 0;          // the caller's type number
    int data = 0;          // the caller's word of data
};

// The caller's copy of one entry (no offset). Its name is null until a
// look-up fills it, and "" after a look-up that found nothing.
class UTIL_EXPORT UT_IFILESEGINFO {
public:
    UT_IFILESEGINFO();
    ~UT_IFILESEGINFO();
    UT_IFILESEGINFO(const UT_IFILESEGINFO&) = delete;
    UT_IFILESEGINFO& operator=(const UT_IFILESEGINFO&) = delete;

    const char* getname() const { return imp->name; }
    Port::StringBase<char> getName() const { return imp->name; }
    int getsize() const { return imp->size; }
    int gettype() const { return imp->type; }
    int getdata() const { return imp->data; }
    void setdata(int data) { imp->data = data; }

private:
    friend class UT_IFILE_IMP;
    void fill(const UT_IFILEDIR& entry);
    void clear();
    UT_IFILESEGINFO_IMP* imp;  // the implementation; never null
};

class UTIL_EXPORT UT_IFILE_IMP {
public:
    static constexpr unsigned char kVersion = 2;   // the format's version byte; another one is refused
    static constexpr unsigned char kRevision = 0;  // the format's revision byte; another one only warns
    // the header's size: version bytes, count, directory position, then zeros
    static constexpr int kHeaderBytes = 128;
    // the most segments the 16-bit count may hold, as every reader expects
    static constexpr int kMaxSegments = 32760;
    static constexpr unsigned kNameRoom = 256;  // names of at most 255 characters

    UT_IFILE_IMP();
    virtual ~UT_IFILE_IMP();
    UT_IFILE_IMP(const UT_IFILE_IMP&) = delete;
    UT_IFILE_IMP& operator=(const UT_IFILE_IMP&) = delete;

    void SetParent(UT_IFILE* p) { parent = p; }

    unsigned char create(const char* name);
    unsigned char load(const char* name);
    unsigned char unload();
    virtual Port::Stream* putdataseg(char* name, int type, int data);
    unsigned char enddataseg();
    Port::Stream* getdataseg(char* name, int type, UT_IFILESEGINFO* info);
    UT_IFILEDIR* newfdir(char* name, int type, int data);
    short getnumsegs() const;
    unsigned char getseginfo(char* name, UT_IFILESEGINFO& info);
    unsigned char getseginfo(int n, UT_IFILESEGINFO& info);
    unsigned char getnextseginfo(UT_IFILESEGINFO& info);
    void resetseginfo();
    void setfilecache(unsigned char on) { filecache = on; }
    const char* getfname() const { return fname; }
    Port::StringBase<char> getFName() const { return fname; }
    unsigned char getversion() const { return version; }
    unsigned char getrevision() const { return revision; }
    unsigned char getdataversion() const { return dataversion; }
    unsigned char getdatarevision() const { return datarevision; }
    void setdataversion(unsigned char v) { dataversion = v; }
    void setdatarevision(unsigned char r) { datarevision = r; }
    Port::Stream::Access getaccess() const { return access; }

    virtual void version_mismatch(unsigned char v);
    virtual void revision_mismatch(unsigned char r);
    virtual void openerror();

    // What the object holds, which decides the fields that mean something:
    //   Closed:  no file (fname, stream and curseg null, the directory empty):
    //            before the first create or load, and after unload.
    //   Reading: a file made by load; its whole directory is in `dir`; the
    //            stream is open while the file cache is on (and may be lost
    //            to a failed reopen); curseg is null.
    //   Writing: a file made by create; `dir` holds the segments written so
    //            far, curseg the one being written (or null), nextoffset where
    //            the next one starts; failed once any write went wrong.
    // create leads from any state to Writing, load to Reading, unload to Closed.
    // A failed load stays Reading with an empty directory and no stream; a
    // failed create stays Writing with `failed` set; unload then reports it.
    enum class State : unsigned char { Closed, Reading, Writing };
    State state() const {
        return !fname ? State::Closed : access == Port::Stream::WRITE ? State::Writing : State::Reading;
    }
    // Whether the fields agree with state(); asserted when every operation
    // that changes the state ends.
    bool stateHolds() const;

private:
    // One slot of `index`: an entry's number in `entryChunks` (0: the slot is
    // empty) and the upper half of its name's hash, so that a look-up
    // compares texts only on a likely match (names tend to share long
    // prefixes). Eight bytes keep the index small beside the directory.
    struct IndexSlot {
        uint32_t number;
        uint32_t tag;
    };
    // The directory's entries and names live in chunks that are all freed
    // together when the directory empties: one allocation serves many entries.
    static constexpr std::size_t kChunkEntries = 1024;  // entries per chunk of entries
    static constexpr std::size_t kNameChunk = 16384;    // bytes per chunk of names (a name is at most 256)

    bool readsegdir(Port::Stream* s);
    bool namefits(const char* name);
    // Where a look-up that found nothing ended: its name's hash and the free
    // slot the name would take (null: none known).
    struct Probe {
        uint64_t hash = 0;
        IndexSlot* hole = nullptr;
    };
    // The steps of adding an entry, each doing one thing more than the next:
    // a new segment at the next offset (checking the segment count), an
    // entry entered in the directory and the index, an entry appended to the
    // directory only (load indexes them all at the end), and the entry's
    // memory and name.
    UT_IFILEDIR* newsegment(const char* name, int type, int data, const Probe& probe);
    UT_IFILEDIR* addindexed(const char* name, int offset, int size, int type, int data, Probe probe);
    UT_IFILEDIR* appendentry(const char* name, int offset, int size, int type, int data);
    void indexentry(uint32_t number, uint64_t hash, IndexSlot* slot = nullptr);
    void indexentries(uint32_t first);
    IndexSlot* slotof(const char* name, uint64_t hash);
    void* entryroom(std::size_t n) const;
    UT_IFILEDIR* entryat(uint32_t number) const;
    UT_IFILEDIR* constructentry(const char* name, int offset, int size, int type, int data);
    UT_IFILEDIR* lookup(const char* name, Probe* probe);
    UT_IFILEDIR* lookup(const char* name) { return lookup(name, nullptr); }
    void growindex(std::size_t expected = 0);
    void init(Port::Stream::Access mode);
    void release();
    void cleanup();
    void forget(const char* next, const char* warning);
    void closestream();
    Port::Stream* reopen(Port::Stream::Access mode);
    int countsegs() const;
    // The directory's cursor, moved only through these two so that its
    // position is always known.
    void rewind();
    void* step();
    // The hooks as a subclass of UT_IFILE overrides them, else this object's.
    void callOpenError();
    void callVersionMismatch(unsigned char v);
    void callRevisionMismatch(unsigned char r);

    UT_IFILE* parent;      // the public file whose overridden hooks are called; null: this object's
    LIST_UT_IFILEDIR dir;  // the directory, in the order segments were first written
    // The entry of each name (the last of equal names): open addressing over
    // a power-of-two number of slots at most half full.
    std::vector<IndexSlot> index;
    std::size_t indexed = 0;      // slots in use
    uint32_t lastfound = 0;       // the number of the entry a look-up found last (0: none)
    unsigned char version;        // read by load; 0 otherwise
    unsigned char revision;       // read by load; 0 otherwise
    unsigned char dataversion;    // the caller's version byte: read by load, written by unload
    unsigned char datarevision;   // the caller's revision byte: read by load, written by unload
    char* fname;                  // the file's name, owned; null when Closed (see State)
    Port::Stream::Access access;  // READ after load, WRITE after create
    int nextoffset;               // Writing: where the next segment's bytes start
    Port::Stream* stream;         // the open stream; null while the file cache is off between segments
    UT_IFILEDIR* curseg;          // Writing: the segment being written, null between segments
    unsigned char filecache;      // nonzero: the stream stays open between segments
    bool failed;                  // a write of this file went wrong: unload reports it
    int entries;                  // entries in dir (counting the list walks it)
    // Where dir's cursor stands: the index of the entry it is on, and that
    // entry; kBeforeFirst after a rewind, kPastEnd once a walk ran off the
    // end (an entry appended later is then still not reached by stepping).
    static constexpr int kBeforeFirst = -1;
    static constexpr int kPastEnd = INT32_MAX;
    int cursorpos = kBeforeFirst;
    void* cursorentry = nullptr;
    // The memory of the directory's entries: chunks of kChunkEntries entries
    // (entry n is in chunk n / kChunkEntries), and chunks of names.
    std::vector<std::unique_ptr<unsigned char[]>> entryChunks;
    std::vector<std::unique_ptr<char[]>> nameChunks;
    char* namenext = nullptr;  // where the next name goes in the current chunk of names
    std::size_t nameroom = 0;  // bytes left there
};

class UTIL_EXPORT UT_IFILE {
public:
    UT_IFILE();
    virtual ~UT_IFILE();
    UT_IFILE(const UT_IFILE&) = delete;
    UT_IFILE& operator=(const UT_IFILE&) = delete;

    unsigned char create(const char* name);
    unsigned char load(const char* name);
    unsigned char unload();
    virtual Port::Stream* putdataseg(char* name, int type, int data);
    unsigned char enddataseg();
    // `type` -1 matches a segment of any type.
    Port::Stream* getdataseg(char* name, int type, UT_IFILESEGINFO* info);
    UT_IFILEDIR* newfdir(char* name, int type, int data);
    short getnumsegs() const;
    unsigned char getseginfo(char* name, UT_IFILESEGINFO& info);
    unsigned char getseginfo(int n, UT_IFILESEGINFO& info);
    unsigned char getnextseginfo(UT_IFILESEGINFO& info);
    void resetseginfo();
    // The same for a std::string_view (see UtilTextView.h). The virtual char* forms are
    // called, so a subclass's putdataseg still applies.
    Port::Stream* putdataseg(std::string_view name, int type, int data) {
        return putdataseg(Util::CText(name).data(), type, data);
    }
    Port::Stream* getdataseg(std::string_view name, int type, UT_IFILESEGINFO* info) {
        return getdataseg(Util::CText(name).data(), type, info);
    }
    unsigned char getseginfo(std::string_view name, UT_IFILESEGINFO& info) {
        return getseginfo(Util::CText(name).data(), info);
    }
    void setfilecache(unsigned char on);
    const char* getfname() const;
    Port::StringBase<char> getFName() const;
    unsigned char getversion() const;
    unsigned char getrevision() const;
    unsigned char getdataversion() const;
    unsigned char getdatarevision() const;
    void setdataversion(unsigned char v);
    void setdatarevision(unsigned char r);
    Port::Stream::Access getaccess() const;

    // Defaults: fatal code 2; a warning; fatal codes 3 (reading), 4 (writing).
    virtual void version_mismatch(unsigned char v);
    virtual void revision_mismatch(unsigned char r);
    virtual void openerror();

private:
    UT_IFILE_IMP* imp;  // the implementation; never null
};
