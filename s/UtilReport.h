// UtilReport.h - the one way the library's units make reports.
//
// Each unit names itself once (kUnit: its source path and revision) and
// reports with UTIL_REPORT().fatal(code, format, ...) and friends, so that
// module, unit, line and revision are always filled in the same way.
#pragma once

#include <PortMsg.h>
#include <PortString.h>
#include <PortThread.h>

#include <cstdarg>
#include <new>
#include <string>
#include <utility>

namespace Util::Frame {

inline constexpr const char* kModule = "Utilities";

// The code nearly every fatal report carries. The few reports with another
// code name it in their own unit (kFatal<What> beside the unit's kUnit), so
// that one number never stands for two meanings; docs/fatal-codes.md lists
// every code with its unit and message.
inline constexpr int kFatal = 19;

inline constexpr const char* kMsgLockCreate = "Couldn't create a thread lock [errcode:%u]\n";
inline constexpr const char* kMsgOutOfMemory = "Out Of Memory";

struct Unit {
    const char* path;      // the unit's source path, as reports show it
    const char* revision;  // the unit's revision text
};

// Inline, so that the library's own tests can use the frame's helpers too.
class Reporter {
public:
    Reporter(const Unit& unit, int line) : unit_(unit), line_(line) {}

    [[noreturn]] void fatal(int code, const char* fmt, ...) const PORT_PRINTF(3, 4) {
        va_list args;
        va_start(args, fmt);
        // Formatted here so that va_end runs before the report throws.
        std::string text = Port::vformat(fmt, args);
        va_end(args);
        object().issueFatal(code, "%s", text.c_str());
    }

#define UTIL_FRAME_REPORT(name, kind)                         \
    void name(const char* fmt, ...) const PORT_PRINTF(2, 3) { \
        va_list args;                                         \
        va_start(args, fmt);                                  \
        object().vissue(kind, fmt, args);                     \
        va_end(args);                                         \
    }
    UTIL_FRAME_REPORT(error, Port::MsgKind::Error)
    UTIL_FRAME_REPORT(warning, Port::MsgKind::Warning)
    UTIL_FRAME_REPORT(internal, Port::MsgKind::Internal)
    UTIL_FRAME_REPORT(status, Port::MsgKind::Status)
#undef UTIL_FRAME_REPORT

private:
    Port_MsgManData object() const { return Port_MsgManData::createObject(kModule, unit_.path, line_, unit_.revision); }

    const Unit& unit_;  // the reporting unit
    int line_;          // the line that reports
};

// Runs `create` (which makes a unit's shared objects) and turns its failures
// into the frame's fatal reports: a mutex or slot that cannot be made, or an
// exhausted heap.
template <class Create>
void makeShared(const Unit& unit, int line, Create&& create) {
    try {
        std::forward<Create>(create)();
    } catch (const Port_ThrException& e) {
        Reporter(unit, line).fatal(kFatal, kMsgLockCreate, e.getErrorCode());
    } catch (const std::bad_alloc&) {
        Reporter(unit, line).fatal(kFatal, "%s\n", kMsgOutOfMemory);
    }
}

// Runs `update` under `mutex`. A lock that cannot be taken throws
// Port_ThrException::LOCK_FAILED before anything is changed; the lock is
// released even when `update` throws.
template <class Update>
decltype(auto) guarded(Port_ThrMutex& mutex, Update&& update) {
    Port_ThrGuard<Port_ThrMutex> hold(mutex);
    return std::forward<Update>(update)();
}

// The same under `mutex` when there is one, else without a lock.
template <class Update>
decltype(auto) guardedIf(Port_ThrMutex* mutex, Update&& update) {
    if (!mutex)
        return std::forward<Update>(update)();
    return guarded(*mutex, std::forward<Update>(update));
}

}  // namespace Util::Frame

#define UTIL_REPORT() ::Util::Frame::Reporter(kUnit, __LINE__)

// Every unit holds the message manager's initialiser, so that it can report
// while the library is being loaded.
namespace {
[[maybe_unused]] Port_MsgManInit utilMsgManInit;
}
