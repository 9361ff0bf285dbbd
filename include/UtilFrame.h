// UtilFrame.h - what every family of the library shares: construct/destruct
// tracing and the allocation hook.
//
// Util::StatsFunctionObject counts the constructions and destructions of the
// objects of one class and, when KORVEN_STRUCTOR_VERBOSE is set at the time
// the tracing object is made, reports each event as a status line:
//
//   "Info : Construct <name> object(<address>).\n"
//   "Info : Destruct <name> object(<address>).\n"              (< 50 constructs)
//   "Info : Destruct (<destructs>/<constructs>) <name> object(<address>).\n"
//
// Copying a tracing object (construction or assignment) copies its name,
// counts and verbosity: every handle owns its own implementation object.
//
// Lives in: s/UtilFrame.cpp, s/UtilDebug.cpp, s/UtilReport.h, s/UtilStatics.h; tests:
//   tests/frame_test.cpp; docs: docs/pools.md.
#pragma once

#include "UtilExport.h"

#include <cstdint>

namespace Util {

class StatsFunctionObjectImp;

class UTIL_EXPORT StatsFunctionObject {
public:
    StatsFunctionObject();  // name "MyClass"
    explicit StatsFunctionObject(const char* name);
    StatsFunctionObject(const StatsFunctionObject& other);
    StatsFunctionObject& operator=(const StatsFunctionObject& other);
    ~StatsFunctionObject();

    // Records one construct (constructing true) or destruct event for `object`.
    void operator()(void* object, bool constructing);

    const char* getName() const;
    unsigned getConstructCount() const;
    unsigned getDestructCount() const;
    bool isVerbose() const;

private:
    StatsFunctionObjectImp* imp_;  // the implementation; never null
};

}  // namespace Util

// Exported hook for callers' out-of-memory handling, null at load. The library
// itself never calls it.
UTIL_EXPORT extern int (*ut_new_handler)(uint64_t size);
