// UtilFrame.cpp - the library's start-up sequence and exported hook.
#include "UtilReport.h"
#include "UtilStatics.h"

#include <UtilFrame.h>
#include <UtilSmem.h>

int (*ut_new_handler)(uint64_t) = nullptr;

namespace {

// A failure at load has already reached the message sink; the first operation
// that needs the objects makes them again and reports to its caller.
template <class Step>
void loadStep(Step step) {
    try {
        step();
    } catch (const Port::FatalError&) {
    }
}

// Runs once while the library is loaded, in this order, so that every switch
// is read before any pool hands out memory.
struct Load {
    Load() {
        using namespace Util::Statics;
        loadStep(blist);
        loadStep(btree);
        loadStep(equateSlot);
        readFastmemSwitches();
        readSmallmemSwitches();
        loadStep(makeSharedResourceMap);
        loadStep(stringPoolLock);
        loadStep(tstampSlot);
    }
} load;

}  // namespace

// Made after the switches are read, destroyed at unload; its shared pool
// stays.
UT_SM_SMALLMEM ut_stringmem(16, 0, "UT_SM_SMALLMEM", -1);

namespace {
// The string objects take from and give back to it under this lock; the
// statistics take it too.
[[maybe_unused]] const bool stringmemGuarded = [] {
    try {
        ut_stringmem.set_guard(&Util::Statics::stringPoolLock());
        return true;
    } catch (const Port::FatalError&) {
        return false;  // reported; without the lock no string can be made either
    }
}();
}  // namespace
