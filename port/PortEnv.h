// PortEnv.h - environment, language and calendar time.
//
// Lives in: port/PortEnv.cpp; tests: tests/port_test.cpp; docs: docs/port.md.
#pragma once

#include "PortExport.h"

#include <cstdint>
#include <optional>

class PORT_EXPORT Port_Env {
public:
    // The variable's text, or null when it is not set.
    static const char* GetEnv(const char* name);
    // The user's language, from LC_ALL, LC_MESSAGES or LANG (the first that is
    // set and not empty): "japanese" for ja*, "german" for de*, "french" for
    // fr*, and "english" for en*, C, POSIX and when none is set; any other
    // language code is returned as it stands (e.g. "nl_NL.UTF-8").
    static const char* GetLang();
};

class PORT_EXPORT UT_TIME {
public:
    // Broken-down local time, with the fields and meanings of struct tm.
    struct Tm {
        int32_t tm_sec;    // 0-60
        int32_t tm_min;    // 0-59
        int32_t tm_hour;   // 0-23
        int32_t tm_mday;   // 1-31
        int32_t tm_mon;    // 0-11
        int32_t tm_year;   // years since 1900
        int32_t tm_wday;   // 0 = Sunday
        int32_t tm_yday;   // 0-365
        int32_t tm_isdst;  // > 0 when daylight-saving time is in effect
    };

    // Seconds since the epoch, also stored in *out when out is given; -1 on failure.
    static int64_t Time(int64_t* out);
    // Local time of `seconds`; empty when it cannot be represented.
    static std::optional<Tm> LocalTime(int64_t seconds);
    // Seconds since the epoch of a local time; -1 when it cannot be converted.
    static int64_t MkTime(const Tm& tm);
    // The fixed-form line "Www Mmm dd hh:mm:ss yyyy\n" in storage of the calling
    // thread. Weekday or month numbers out of range print as "???"; no field
    // can overrun the storage.
    static const char* AscTime(const Tm& tm);
};
