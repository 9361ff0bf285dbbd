// UtilTstampimp.cpp - timestamps and their per-thread text buffers.
#include "UtilReport.h"
#include "UtilStatics.h"

#include <UtilTstamp.h>

#include <PortEnv.h>
#include <PortString.h>

#include <memory>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilTstampimp.cpp", "1.0"};
// The system clock could not be read.
constexpr int kFatalNoTime = 3;

constexpr unsigned kLineBytes = 27;  // the Japanese-locale line: "THU 01 JAN 00:00:00 1970\n", its zero, one spare
constexpr unsigned kLineCut = 26;    // where that line is cut, so a longer year never runs past the buffer
constexpr unsigned kFieldBytes = 5;  // one field's text: up to a 4-digit year and its zero
// The fields the getters hand out, each in a buffer of its own.
enum Field { HOUR, MDAY, MONTH, MINUTE, SECOND, YEAR, kFieldCount };

constexpr const char* kJapanese = "japanese";  // the language whose timestamp line the fields build
constexpr const char* kMsgNoTime = "Cannot get system time.\n";
constexpr const char* kMsgBadWday = "get_ts_wday, bad number. %d\n";
constexpr const char* kMsgBadMonth = "get_ts_month, bad number. %d\n";
constexpr const char* kMsgNoLocalTime = "Time %lld cannot be converted to local time: the timestamp holds the epoch.\n";
constexpr const char* kFmtLine = "%s %s %s %s:%s:%s %s\n";
constexpr const char* kFmtString = "%s %s %02d %02d:%02d:%02d %04lld";

constexpr const char* kWdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kWdaysUpper[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kMonthsUpper[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
// 1970-01-01 00:00:00, a Thursday.
constexpr UT_TIME::Tm kEpoch{0, 0, 0, 1, 0, 70, 4, 0, 0};

// A thread's text buffers, shared by every timestamp on that thread.
struct ThreadBuffers {
    char line[kLineBytes];                  // what get_timestamp_string returns in the Japanese locale
    char fields[kFieldCount][kFieldBytes];  // what the field getters return, one buffer per field
};

Util::Statics::Shared<Port_ThrThreadDataHelper> slot;

ThreadBuffers& buffers() {
    Port_ThrThreadDataHelper& helper = Util::Statics::tstampSlot();
    if (auto* mine = static_cast<ThreadBuffers*>(helper.getData()))
        return *mine;
    auto made = std::make_unique<ThreadBuffers>();
    if (Port::Thread::Error e = helper.setData(made.get()))
        UTIL_REPORT().fatal(Util::Frame::kFatal, Util::Frame::kMsgLockCreate, static_cast<unsigned>(e));
    return *made.release();
}

UT_TIME::Tm localOrEpoch(int64_t seconds) {
    if (auto tm = UT_TIME::LocalTime(seconds))
        return *tm;
    UTIL_REPORT().internal(kMsgNoLocalTime, static_cast<long long>(seconds));
    return kEpoch;
}

long long yearOf(const UT_TIME::Tm& tm) { return static_cast<long long>(tm.tm_year) + 1900; }

// A table entry, or the empty text for an index out of range.
const char* entry(const char* const* table, int size, int i) { return i >= 0 && i < size ? table[i] : ""; }

}  // namespace

namespace Util::Statics {

Port_ThrThreadDataHelper& tstampSlot() { return threadSlot<ThreadBuffers>(slot, kUnit, __LINE__); }

}  // namespace Util::Statics

UT_TIMESTAMP::UT_TIMESTAMP() : imp(nullptr) {
    int64_t now = UT_TIME::Time(nullptr);
    if (now == -1)
        UTIL_REPORT().fatal(kFatalNoTime, "%s", kMsgNoTime);
    imp = new UT_TIMESTAMP_IMP(localOrEpoch(now));
}

UT_TIMESTAMP::UT_TIMESTAMP(int64_t seconds) : imp(new UT_TIMESTAMP_IMP(localOrEpoch(seconds))) {}

UT_TIMESTAMP::~UT_TIMESTAMP() { delete imp; }

int64_t UT_TIMESTAMP::get_absolute_time() const { return UT_TIME::MkTime(imp->tm()); }

int64_t UT_TIMESTAMP::compare_time(UT_TIMESTAMP* other) const {
    return other ? get_absolute_time() - other->get_absolute_time() : get_absolute_time();
}

namespace {
// Writes a number into the thread's buffer for `field`, cut to fit.
const char* number(Field field, long long v) {
    char* into = buffers().fields[field];
    UT_STR::SPrintf(into, kFieldBytes, "%lld", v);
    return into;
}
}  // namespace

const char* UT_TIMESTAMP::get_ts_hour() const { return number(HOUR, imp->tm().tm_hour); }
const char* UT_TIMESTAMP::get_ts_mday() const { return number(MDAY, imp->tm().tm_mday); }
const char* UT_TIMESTAMP::get_ts_month() const { return number(MONTH, imp->tm().tm_mon + 1LL); }
const char* UT_TIMESTAMP::get_ts_minute() const { return number(MINUTE, imp->tm().tm_min); }
const char* UT_TIMESTAMP::get_ts_second() const { return number(SECOND, imp->tm().tm_sec); }
const char* UT_TIMESTAMP::get_ts_year() const { return number(YEAR, yearOf(imp->tm())); }

const char* UT_TIMESTAMP::get_ts_wday() const {
    int d = imp->tm().tm_wday;
    if (d < 0 || d > 6) {
        UTIL_REPORT().internal(kMsgBadWday, d);
        return nullptr;
    }
    return kWdaysUpper[d];
}

const char* UT_TIMESTAMP::get_ts_monthst() const {
    int m = imp->tm().tm_mon;
    if (m < 0 || m > 11) {
        UTIL_REPORT().internal(kMsgBadMonth, m);
        return nullptr;
    }
    return kMonthsUpper[m];
}

const char* UT_TIMESTAMP::get_timestamp_string() const {
    if (UT_STR::Compare(Port_Env::GetLang(), kJapanese) != 0)
        return UT_TIME::AscTime(imp->tm());
    const char* year = get_ts_year();
    const char* second = get_ts_second();
    const char* minute = get_ts_minute();
    const char* hour = get_ts_hour();
    const char* month = get_ts_monthst();
    const char* mday = get_ts_mday();
    const char* wday = get_ts_wday();
    char* line = buffers().line;
    UT_STR::SPrintf(line, kLineBytes, kFmtLine, wday ? wday : "", mday, month ? month : "", hour, minute, second, year);
    line[kLineCut] = '\0';
    return line;
}

Port::StringBase<char> UT_TIMESTAMP::getTimeStampString() const {
    const UT_TIME::Tm& t = imp->tm();
    return Port::StringBase<char>::doFormat(kFmtString, entry(kWdays, 7, t.tm_wday), entry(kMonths, 12, t.tm_mon),
                                            t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, yearOf(t));
}
Port::StringBase<char> UT_TIMESTAMP::getTimeStampWeekDay() const {
    return Port::StringBase<char>::doFormat("%s", entry(kWdays, 7, imp->tm().tm_wday));
}
Port::StringBase<char> UT_TIMESTAMP::getTimeStampMonthDay() const {
    return Port::StringBase<char>::doFormat("%02d", imp->tm().tm_mday);
}
Port::StringBase<char> UT_TIMESTAMP::getTimeStampMonthNumber() const {
    return Port::StringBase<char>::doFormat("%02lld", imp->tm().tm_mon + 1LL);
}
Port::StringBase<char> UT_TIMESTAMP::getTimeStampMonth() const {
    return Port::StringBase<char>::doFormat("%s", entry(kMonths, 12, imp->tm().tm_mon));
}
Port::StringBase<char> UT_TIMESTAMP::getTimeStampHour() const {
    return Port::StringBase<char>::doFormat("%02d", imp->tm().tm_hour);
}
Port::StringBase<char> UT_TIMESTAMP::getTimeStampMinute() const {
    return Port::StringBase<char>::doFormat("%02d", imp->tm().tm_min);
}
Port::StringBase<char> UT_TIMESTAMP::getTimeStampSecond() const {
    return Port::StringBase<char>::doFormat("%02d", imp->tm().tm_sec);
}
Port::StringBase<char> UT_TIMESTAMP::getTimeStampYear() const {
    return Port::StringBase<char>::doFormat("%04lld", yearOf(imp->tm()));
}
