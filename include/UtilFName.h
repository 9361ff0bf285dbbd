// UtilFName.h - the group of file names one run of a tool works with.
//
// Slots 0 to ncmd-1 take names from the command line (by order, or by
// extension type); the others are derived from a master slot's name by
// replacing its extension. Define every slot in order, add the command-line
// names, call check(), then ask for names.
//
// define() flags: 1 enforce the extension, 2 add the (first) extension to a
// name without one, 8 derive from the master's base name instead of its root.
// A master of 65535 means the slot has to be on the command line.
//
// add() returns -1 when the name was placed, -3 (ordered: the extension does
// not fit the next slot), -4 (every slot of its type is taken), -5 (no slot
// has its type) or -6 (more names than command-line slots). check() returns
// -1, or the first slot that still needs a command-line name. Misuse is a
// fatal report, code 2; so is a master chain that loops or ends in a slot
// that has neither a name nor a master.
//
// Lives in: s/UtilFName.cpp; tests: tests/fname_test.cpp; docs: docs/utilities.md.
#pragma once

#include "UtilExport.h"
#include "UtilTextView.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class UTIL_EXPORT Util_FNameGroup {
public:
    static constexpr unsigned short kNoMaster = 65535;  // a slot whose name is not derived from another's
    enum DefineFlag : unsigned { ENFORCE_EXT = 1, ADD_EXT = 2, TAIL_ONLY = 8 };

    Util_FNameGroup(unsigned short ncmd, unsigned short napp, unsigned char ordered);
    ~Util_FNameGroup();
    Util_FNameGroup(const Util_FNameGroup&) = delete;
    Util_FNameGroup& operator=(const Util_FNameGroup&) = delete;

    void define(const char* ext, unsigned int flags, unsigned short master);
    // A null entry stands for a name without extension.
    void define(const char** exts, unsigned short n, unsigned int flags, unsigned short master);
    int add(const char* name);
    // The same for a std::string_view (see UtilTextView.h).
    int add(std::string_view name) { return add(Util::CText(name).c_str()); }
    int check();
    char* get_fname(unsigned short i) const;
    unsigned char is_derived(unsigned short i) const;
    unsigned char is_writable(unsigned short i) const;
    unsigned char file_exist(unsigned short i) const;
    unsigned char files_equal(unsigned short i, unsigned short j) const;
    void dump() const {}

private:
    // One slot: a file named or derived, and how.
    struct Record {
        uint16_t flags = 0;                            // define()'s flags for the slot (see above)
        std::optional<std::string> fname;              // the file's name; empty until given or derived
        std::vector<std::optional<std::string>> exts;  // the extensions the slot accepts, in define()'s order
        uint16_t master = kNoMaster;                   // the slot the name is derived from, or kNoMaster
    };

    [[noreturn]] void indexError(int index, const char* text) const;
    bool matches(const Record& r, const char* ext) const;
    const Record& checkedSlot(unsigned short i, const char* rangeText) const;

    uint16_t ncmd;              // slots for files named on the command line; application slots follow
    uint16_t nfiles;            // all slots
    unsigned char ordered;      // nonzero: the command-line files are added in slot order
    unsigned char checked;      // nonzero once check() has derived the missing names
    std::vector<Record> files;  // nfiles slots
    int16_t lastdef;            // the slot the last define() filled; -1 before the first
    int16_t lastadd;            // the slot the last add() filled; -1 before the first
};
