// The emulated tick count and local time.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "platform/posix/services.h"
#include "platform/win32.h"

TEST(PlatformTime, TickCountIsMillisecondsSinceBootWrappingAt2To32) {
    EXPECT_EQ(zvp::TickCountFrom(0, 999999), 0u);
    EXPECT_EQ(zvp::TickCountFrom(1, 500000000), 1500u);
    // 2^32 ms is 4294967.296 s.
    EXPECT_EQ(zvp::TickCountFrom(4294967, 295999999), 0xFFFFFFFFu);
    EXPECT_EQ(zvp::TickCountFrom(4294967, 296000000), 0u);
    EXPECT_EQ(zvp::TickCountFrom(4294967 * 2 + 1, 592000000), 1000u);

    // The system's uptime, read independently, agrees.
    FILE* uptime = fopen("/proc/uptime", "r");
    ASSERT_NE(uptime, nullptr);
    double seconds = 0;
    DWORD before = GetTickCount();
    ASSERT_EQ(fscanf(uptime, "%lf", &seconds), 1);
    fclose(uptime);
    DWORD expected = DWORD(uint64_t(seconds * 1000.0));
    EXPECT_LT(DWORD(expected - before + 100), 300u) << "tick " << before << " uptime " << expected;

    DWORD first = GetTickCount();
    struct timespec pause = {0, 30 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    DWORD elapsed = GetTickCount() - first;
    EXPECT_GE(elapsed, 29u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(PlatformTime, LocalTimeFillsAllEightFields) {
    setenv("TZ", "UTC0", 1);
    tzset();
    SYSTEMTIME st;
    memset(&st, 0xFF, sizeof(st));
    time_t before = time(nullptr);
    GetLocalTime(&st);
    time_t after = time(nullptr);

    struct tm expected;
    gmtime_r(&before, &expected);
    EXPECT_EQ(st.wYear, expected.tm_year + 1900);
    EXPECT_EQ(st.wMonth, expected.tm_mon + 1);
    EXPECT_EQ(st.wDay, expected.tm_mday);
    EXPECT_EQ(st.wDayOfWeek, expected.tm_wday);
    EXPECT_EQ(st.wHour, expected.tm_hour);
    EXPECT_EQ(st.wMinute, expected.tm_min);
    EXPECT_LE(st.wSecond, 59);
    EXPECT_LE(st.wMilliseconds, 999);
    struct tm filled = {};
    filled.tm_year = st.wYear - 1900;
    filled.tm_mon = st.wMonth - 1;
    filled.tm_mday = st.wDay;
    filled.tm_hour = st.wHour;
    filled.tm_min = st.wMinute;
    filled.tm_sec = st.wSecond;
    time_t back = timegm(&filled);
    EXPECT_GE(back, before);
    EXPECT_LE(back, after);

    // Five hours east of UTC: the fields are the zone's, the instant the same.
    setenv("TZ", "XYZ-5", 1);
    tzset();
    before = time(nullptr);
    GetLocalTime(&st);
    after = time(nullptr);
    filled.tm_year = st.wYear - 1900;
    filled.tm_mon = st.wMonth - 1;
    filled.tm_mday = st.wDay;
    filled.tm_hour = st.wHour;
    filled.tm_min = st.wMinute;
    filled.tm_sec = st.wSecond;
    back = timegm(&filled) - 5 * 3600;
    EXPECT_GE(back, before);
    EXPECT_LE(back, after);
}
