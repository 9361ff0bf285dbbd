// PortEnv.cpp - environment, language and calendar time on POSIX.
#include "PortEnv.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

const char* Port_Env::GetEnv(const char* name) { return name ? std::getenv(name) : nullptr; }

const char* Port_Env::GetLang() {
    const char* lang = nullptr;
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) {
            lang = v;
            break;
        }
    }
    if (!lang || std::strcmp(lang, "C") == 0 || std::strncmp(lang, "C.", 2) == 0 || std::strcmp(lang, "POSIX") == 0)
        return "english";
    struct Known {
        const char* prefix;  // the start of a LANG value
        const char* name;    // the language it names
    };
    static const Known known[] = {{"en", "english"}, {"ja", "japanese"}, {"de", "german"}, {"fr", "french"}};
    for (const Known& k : known)
        if (std::strncmp(lang, k.prefix, 2) == 0)
            return k.name;
    return lang;
}

int64_t UT_TIME::Time(int64_t* out) {
    std::time_t t = std::time(nullptr);
    int64_t s = t == static_cast<std::time_t>(-1) ? -1 : static_cast<int64_t>(t);
    if (out)
        *out = s;
    return s;
}

std::optional<UT_TIME::Tm> UT_TIME::LocalTime(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    if (static_cast<int64_t>(t) != seconds)
        return std::nullopt;
    struct tm b;
    if (!localtime_r(&t, &b))
        return std::nullopt;
    return Tm{b.tm_sec, b.tm_min, b.tm_hour, b.tm_mday, b.tm_mon, b.tm_year, b.tm_wday, b.tm_yday, b.tm_isdst};
}

int64_t UT_TIME::MkTime(const Tm& tm) {
    struct tm b {};
    b.tm_sec = tm.tm_sec;
    b.tm_min = tm.tm_min;
    b.tm_hour = tm.tm_hour;
    b.tm_mday = tm.tm_mday;
    b.tm_mon = tm.tm_mon;
    b.tm_year = tm.tm_year;
    b.tm_wday = tm.tm_wday;
    b.tm_yday = tm.tm_yday;
    b.tm_isdst = tm.tm_isdst;
    std::time_t t = std::mktime(&b);
    return t == static_cast<std::time_t>(-1) ? -1 : static_cast<int64_t>(t);
}

const char* UT_TIME::AscTime(const Tm& tm) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* day = (tm.tm_wday >= 0 && tm.tm_wday < 7) ? days[tm.tm_wday] : "???";
    const char* month = (tm.tm_mon >= 0 && tm.tm_mon < 12) ? months[tm.tm_mon] : "???";
    thread_local char line[64];
    std::snprintf(line, sizeof line, "%.3s %.3s%3d %.2d:%.2d:%.2d %lld\n", day, month, tm.tm_mday, tm.tm_hour,
                  tm.tm_min, tm.tm_sec, 1900LL + tm.tm_year);
    return line;
}
