// UtilEquateimp.cpp - equations to ROM contents: the per-thread output slot.
#include "UtilStatics.h"

#include <string>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilEquateimp.cpp", "1.0"};

// A thread's plain hexadecimal output.
struct ThreadOutput {
    std::string hex;
};

Util::Statics::Shared<Port_ThrThreadDataHelper> slot;

}  // namespace

namespace Util::Statics {

Port_ThrThreadDataHelper& equateSlot() {
    return threadSlot<ThreadOutput>(slot, kUnit, __LINE__);
}

}  // namespace Util::Statics
