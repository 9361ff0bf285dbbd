// UtilTstampimp.cpp - timestamps: the per-thread text buffers' slot.
#include "UtilStatics.h"

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilTstampimp.cpp", "1.0"};

constexpr unsigned kLineBytes = 27;
constexpr unsigned kFieldBytes = 5;
constexpr unsigned kFieldCount = 6;  // hour, day of month, month, minute, second, year

// A thread's text buffers, shared by every timestamp on that thread.
struct ThreadBuffers {
    char line[kLineBytes];
    char fields[kFieldCount][kFieldBytes];
};

Util::Statics::Shared<Port_ThrThreadDataHelper> slot;

}  // namespace

namespace Util::Statics {

Port_ThrThreadDataHelper& tstampSlot() {
    return threadSlot<ThreadBuffers>(slot, kUnit, __LINE__);
}

}  // namespace Util::Statics
