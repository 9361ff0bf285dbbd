// UtilEquateimp.cpp - equations to ROM contents: the per-thread output slot.
#include "UtilStatics.h"

#include <string>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilEquateimp.cpp", "1.0"};

// A thread's plain hexadecimal output.
struct ThreadOutput {
    std::string hex;
};

void freeThreadOutput(void* data) { delete static_cast<ThreadOutput*>(data); }

Util::Statics::Shared<Port_ThrThreadDataHelper> slot;

}  // namespace

namespace Util::Statics {

Port_ThrThreadDataHelper& equateSlot() {
    return once(slot, kUnit, __LINE__,
                [] { return new Port_ThrThreadDataHelper(freeThreadOutput); });
}

}  // namespace Util::Statics
