// UtilTstamp.h - one moment in broken-down local time, handed out as text.
//
// The get_ts_* accessors return numbers unpadded ("6") and upper-case names
// ("FRI", "DEC") in buffers of the calling thread (shared by every timestamp
// on it, rewritten by the same accessor's next call there). A year that does
// not fit their 5 bytes is cut, never written past them.
// get_timestamp_string gives, for the language "japanese", the line
// "FRI 4 DEC 6:7:0 2026\n", otherwise the platform's fixed-form line. The
// getTimeStamp* family returns new strings, zero-padded ("Fri Dec 04 06:07:00
// 2026").
//
// No system time at construction is a fatal report (code 3). Seconds that
// the local-time conversion cannot represent give the epoch, 1970-01-01
// 00:00:00, with an internal notice. A timestamp never changes and may be
// read from several threads.
//
// Lives in: s/UtilTstampimp.cpp; tests: tests/tstamp_test.cpp; docs: docs/utilities.md.
#pragma once

#include "UtilExport.h"

#include <PortEnv.h>
#include <PortString.h>

#include <cstdint>

class UTIL_EXPORT UT_TIMESTAMP_IMP {
public:
    explicit UT_TIMESTAMP_IMP(const UT_TIME::Tm& tm) : time(new UT_TIME::Tm(tm)) {}
    ~UT_TIMESTAMP_IMP() { delete time; }
    UT_TIMESTAMP_IMP(const UT_TIMESTAMP_IMP&) = delete;
    UT_TIMESTAMP_IMP& operator=(const UT_TIMESTAMP_IMP&) = delete;
    const UT_TIME::Tm& tm() const { return *time; }

private:
    UT_TIME::Tm* time;  // the moment, broken down in local time; owned
};

class UTIL_EXPORT UT_TIMESTAMP {
public:
    UT_TIMESTAMP();
    explicit UT_TIMESTAMP(int64_t seconds);
    ~UT_TIMESTAMP();
    UT_TIMESTAMP(const UT_TIMESTAMP&) = delete;
    UT_TIMESTAMP& operator=(const UT_TIMESTAMP&) = delete;

    int64_t get_absolute_time() const;
    // This one's time minus `other`'s, in seconds.
    int64_t compare_time(UT_TIMESTAMP* other) const;

    const char* get_ts_hour() const;
    const char* get_ts_mday() const;
    const char* get_ts_month() const;
    const char* get_ts_minute() const;
    const char* get_ts_second() const;
    const char* get_ts_year() const;
    // Null (with an internal notice) for a weekday or month out of range.
    const char* get_ts_wday() const;
    const char* get_ts_monthst() const;
    const char* get_timestamp_string() const;

    Port::StringBase<char> getTimeStampString() const;
    Port::StringBase<char> getTimeStampWeekDay() const;
    Port::StringBase<char> getTimeStampMonthDay() const;
    Port::StringBase<char> getTimeStampMonthNumber() const;
    Port::StringBase<char> getTimeStampMonth() const;
    Port::StringBase<char> getTimeStampHour() const;
    Port::StringBase<char> getTimeStampMinute() const;
    Port::StringBase<char> getTimeStampSecond() const;
    Port::StringBase<char> getTimeStampYear() const;

private:
    UT_TIMESTAMP_IMP* imp;  // the implementation; never null
};
