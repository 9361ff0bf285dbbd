// UtilStrobj.cpp - string objects: the lock of their shared pool.
#include "UtilStatics.h"

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilStrobj.cpp", "1.0"};

Util::Statics::Shared<Port_ThrMutex> poolLock;

}  // namespace

namespace Util::Statics {

Port_ThrMutex& stringPoolLock() {
    return once(poolLock, kUnit, __LINE__, [] { return new Port_ThrMutex; });
}

}  // namespace Util::Statics
