// UtilFName.cpp - groups of related file names.
#include "UtilReport.h"

#include <UtilFName.h>

#include <PortStream.h>
#include <PortString.h>

#include <vector>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilFName.cpp", "1.0"};
// Every fatal report of the file-name groups carries this code, so that a tool
// can tell a badly declared group from the library's other failures.
constexpr int kFatalFileGroup = 2;

enum RecordBit : uint16_t {
    ON_COMMAND_LINE = 0x01,
    EXT_ENFORCED = 0x02,
    COMMAND_LINE_FILE = 0x04,
    ADD_EXTENSION = 0x08,
    TAIL = 0x10,
    DERIVED = 0x20
};
constexpr unsigned kMustBeGiven = 4;  // implied by a master of 65535
constexpr unsigned kCallerFlags = 1 | 2 | 8;

constexpr const char* kMsgIndex = "Invalid index=%d, Range<0,%d>: %s.\n";
constexpr const char* kMsgFlags = "Invalid flags=%x.\n";
constexpr const char* kMsgZeroExts = "Size of extension array is zero.\n";
constexpr const char* kMsgAppOneExt = "Application files can have only one extension.\n";
constexpr const char* kMsgAppDerived = "Application files must be derived.\n";
constexpr const char* kMsgUnorderedEnforce = "When order is not significant extension must be enforced.\n";
constexpr const char* kMsgUnorderedAdd =
    "When order is not significant and file has to be on command line add extension is an invalid flag.\n";
constexpr const char* kMsgTailOnly = "When file has to be on command line tail only is an invalid flag.\n";
constexpr const char* kMsgExtsSet = "Extension types already set.\n";
constexpr const char* kMsgNothingToMatch = "Nothing to match, extension types are not set.\n";
constexpr const char* kMsgNullAdd = "Adding NULL file.\n";
constexpr const char* kMsgNoExts = "Extension types are not set.\n";
constexpr const char* kMsgChain = "Invalid master file chain, index=%d.\n";
constexpr const char* kMsgDeadEnd = "Master file chain of index=%d ends in a file without name or master.\n";
constexpr const char* kMsgCheckFailed = "Check Failed.\n";
constexpr const char* kMsgNotChecked = "File Group has not been checked.\n";
constexpr const char* kMsgNotInitialized = "Get file not initialized.\n";

}  // namespace

Util_FNameGroup::Util_FNameGroup(unsigned short cmd, unsigned short napp, unsigned char isOrdered)
    : ncmd(cmd), nfiles(static_cast<uint16_t>(cmd + napp)), ordered(isOrdered), checked(0), files(nfiles), lastdef(-1),
      lastadd(-1) {
    for (uint16_t i = 0; i < ncmd; ++i)
        files[i].flags = COMMAND_LINE_FILE;
}

Util_FNameGroup::~Util_FNameGroup() = default;

void Util_FNameGroup::indexError(int index, const char* text) const {
    UTIL_REPORT().fatal(kFatalFileGroup, kMsgIndex, index, static_cast<int>(nfiles), text);
}

void Util_FNameGroup::define(const char* ext, unsigned int flags, unsigned short master) {
    define(&ext, 1, flags, master);
}

void Util_FNameGroup::define(const char** exts, unsigned short n, unsigned int flags, unsigned short master) {
    if (flags & ~kCallerFlags)
        UTIL_REPORT().fatal(kFatalFileGroup, kMsgFlags, flags);
    if (master == kNoMaster)
        flags |= kMustBeGiven;
    else if (master >= nfiles)
        indexError(master, "Invalid master file");
    const int slot = lastdef + 1;
    if (slot >= nfiles)
        indexError(slot, "Too many definitions");
    lastdef = static_cast<int16_t>(slot);
    if (n == 0)
        UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgZeroExts);
    const bool commandLine = slot < ncmd;
    if (!commandLine && n != 1)
        UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgAppOneExt);
    if (!commandLine && (flags & kMustBeGiven))
        UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgAppDerived);
    if (!ordered) {
        if (commandLine && !(flags & ENFORCE_EXT))
            UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgUnorderedEnforce);
        if ((flags & ADD_EXT) && (commandLine || (flags & kMustBeGiven)))
            UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgUnorderedAdd);
    }
    if ((flags & kMustBeGiven) && (flags & TAIL_ONLY))
        UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgTailOnly);
    Record& r = files[static_cast<std::size_t>(slot)];
    r.flags = static_cast<uint16_t>((flags & kMustBeGiven ? ON_COMMAND_LINE : 0) |
                                    (flags & ENFORCE_EXT ? EXT_ENFORCED : 0) | (flags & ADD_EXT ? ADD_EXTENSION : 0) |
                                    (flags & TAIL_ONLY ? TAIL : 0) | (commandLine ? COMMAND_LINE_FILE : 0));
    r.master = master;
    if (!r.exts.empty())
        UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgExtsSet);
    for (unsigned short k = 0; k < n; ++k)
        r.exts.push_back(exts && exts[k] ? std::optional<std::string>(exts[k]) : std::nullopt);
}

bool Util_FNameGroup::matches(const Record& r, const char* ext) const {
    if (r.exts.empty())
        UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgNothingToMatch);
    for (const auto& type : r.exts)
        if (ext ? (type && UT_STR::Compare(type->c_str(), ext) == 0) : !type)
            return true;
    return false;
}

int Util_FNameGroup::add(const char* name) {
    if (!name)
        UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgNullAdd);
    std::vector<char> copy(name, name + UT_STR::Len(name) + 1);
    Port::File::makeunixpath(copy.data());
    std::vector<char> extBuf(copy.size());
    const char* ext = UT_PATH::GetExt(copy.data(), extBuf.data());
    int slot = -1;
    if (ordered) {
        const int next = lastadd + 1;
        if (next > nfiles)
            indexError(next, "Command line file");
        if (next >= ncmd)
            return -6;
        if (lastdef < 0)
            indexError(lastdef, "Adds index out of range");
        lastadd = static_cast<int16_t>(next);
        const Record& r = files[static_cast<std::size_t>(next)];
        if ((r.flags & EXT_ENFORCED) && (!(r.flags & ADD_EXTENSION) || ext) && !matches(r, ext))
            return -3;
        slot = next;
    } else {
        bool taken = false;
        for (int i = 0; i < ncmd && slot < 0; ++i) {
            if (!matches(files[static_cast<std::size_t>(i)], ext))
                continue;
            if (files[static_cast<std::size_t>(i)].fname)
                taken = true;
            else
                slot = i;
        }
        if (slot < 0)
            return taken ? -4 : -5;
    }
    Record& r = files[static_cast<std::size_t>(slot)];
    std::string placed(copy.data());
    if ((r.flags & ADD_EXTENSION) && !ext) {
        if (r.exts.empty())
            UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgNoExts);
        r.flags |= DERIVED;
        placed += ".";
        placed += r.exts[0].value_or("");
    }
    r.fname = std::move(placed);
    return -1;
}

int Util_FNameGroup::check() {
    checked = 1;
    for (uint16_t i = 0; i < nfiles; ++i) {
        Record& r = files[i];
        if (r.flags & ON_COMMAND_LINE) {
            if (!r.fname)
                return i;
            continue;
        }
        if (r.fname)
            continue;
        // Follow the masters to one with a name; a loop or a dead end is
        // reported, never followed.
        uint16_t m = r.master;
        for (int steps = 0;; ++steps) {
            if (m == kNoMaster)
                UTIL_REPORT().fatal(kFatalFileGroup, kMsgDeadEnd, i);
            if (files[m].fname)
                break;
            if (m == i)
                UTIL_REPORT().fatal(kFatalFileGroup, kMsgChain, i);
            if (steps + 1 >= nfiles)
                UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgCheckFailed);
            m = files[m].master;
        }
        if (r.exts.empty())
            UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgNoExts);
        const std::string& from = *files[m].fname;
        std::vector<char> buf(from.size() + 1);
        std::string made =
            (r.flags & TAIL) ? UT_PATH::GetBase(from.c_str(), buf.data()) : UT_PATH::GetRoot(from.c_str(), buf.data());
        if (r.exts[0]) {
            made += ".";
            made += *r.exts[0];
        }
        r.flags |= DERIVED;
        r.fname = std::move(made);
    }
    return -1;
}

const Util_FNameGroup::Record& Util_FNameGroup::checkedSlot(unsigned short i, const char* rangeText) const {
    if (i >= nfiles)
        indexError(i, rangeText);
    if (!checked)
        UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgNotChecked);
    return files[i];
}

char* Util_FNameGroup::get_fname(unsigned short i) const {
    const Record& r = checkedSlot(i, "Get index out of range");
    if (!r.fname)
        UTIL_REPORT().fatal(kFatalFileGroup, "%s", kMsgNotInitialized);
    return const_cast<char*>(r.fname->c_str());
}

unsigned char Util_FNameGroup::is_derived(unsigned short i) const {
    return static_cast<unsigned char>(checkedSlot(i, "Derived index out of range").flags & DERIVED);
}

unsigned char Util_FNameGroup::is_writable(unsigned short i) const { return Port::File::canwrite(get_fname(i)); }

unsigned char Util_FNameGroup::file_exist(unsigned short i) const { return Port::File::exist(get_fname(i)); }

unsigned char Util_FNameGroup::files_equal(unsigned short i, unsigned short j) const {
    return UT_STR::Compare(get_fname(i), get_fname(j)) == 0;
}
