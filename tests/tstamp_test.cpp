// Tests of timestamps: fields, lines in both languages, limits, threads.
#include "TestSupport.h"

#include <UtilTstamp.h>

#include <PortEnv.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

int64_t localSeconds(int year, int mon, int mday, int hour, int min, int sec) {
    UT_TIME::Tm tm{sec, min, hour, mday, mon, year - 1900, 0, 0, -1};
    return UT_TIME::MkTime(tm);
}

TEST(Timestamp, FieldsInBothStyles) {
    UT_TIMESTAMP t(localSeconds(2026, 11, 4, 6, 7, 0));
    EXPECT_EQ(t.getTimeStampString(), "Fri Dec 04 06:07:00 2026");
    EXPECT_EQ(t.getTimeStampMonthNumber(), "12");
    EXPECT_EQ(t.getTimeStampYear(), "2026");
    EXPECT_EQ(t.getTimeStampHour(), "06");
    EXPECT_EQ(t.getTimeStampWeekDay(), "Fri");
    EXPECT_EQ(t.getTimeStampMonth(), "Dec");
    EXPECT_STREQ(t.get_ts_month(), "12");
    EXPECT_STREQ(t.get_ts_hour(), "6");
    EXPECT_STREQ(t.get_ts_minute(), "7");
    EXPECT_STREQ(t.get_ts_second(), "0");
    EXPECT_STREQ(t.get_ts_monthst(), "DEC");
    EXPECT_STREQ(t.get_ts_wday(), "FRI");
    {
        UtilTest::ScopedEnv lang("LC_ALL", "ja_JP.UTF-8");
        EXPECT_STREQ(t.get_timestamp_string(), "FRI 4 DEC 6:7:0 2026\n");
    }
    UtilTest::ScopedEnv lang("LC_ALL", "C");
    EXPECT_STREQ(t.get_timestamp_string(), "Fri Dec  4 06:07:00 2026\n");
}

TEST(Timestamp, DifferencesAndAbsoluteTimes) {
    const int64_t t = localSeconds(2026, 5, 15, 12, 0, 0);
    UT_TIMESTAMP a(t), b(t + 60);
    EXPECT_EQ(a.compare_time(&a), 0);
    EXPECT_EQ(b.compare_time(&a), 60);
    EXPECT_EQ(a.get_absolute_time(), t);
    UT_TIMESTAMP now;
    EXPECT_GT(now.get_absolute_time(), t - 400LL * 86400 * 365);
}

TEST(Timestamp, YearsPastTheBufferAndUnconvertibleSeconds) {
    UT_TIMESTAMP far(localSeconds(12026, 0, 1, 0, 0, 0));
    EXPECT_EQ(std::strlen(far.get_ts_year()), 4u);  // cut to the buffer, not past it
    EXPECT_EQ(far.getTimeStampYear(), "12026");
    UtilTest::CapturedReports seen;
    UT_TIMESTAMP huge(INT64_MAX);
    EXPECT_EQ(huge.getTimeStampString(), "Thu Jan 01 00:00:00 1970");
    ASSERT_EQ(seen.messages().size(), 1u);
    EXPECT_EQ(seen.messages()[0].kind, Port::MsgKind::Internal);
}

TEST(Timestamp, EachThreadHasItsOwnBuffers) {
    UT_TIMESTAMP a(localSeconds(2026, 0, 1, 1, 0, 0)), b(localSeconds(2026, 0, 1, 2, 0, 0));
    const char* mine = a.get_ts_hour();
    std::string theirs;
    std::thread([&] { theirs = b.get_ts_hour(); }).join();
    EXPECT_STREQ(mine, "1");
    EXPECT_EQ(theirs, "2");
}

}  // namespace
