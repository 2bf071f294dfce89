// The emulated tick count and local time.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "platform/posix/services.h"
#include "platform/win32.h"

TEST(PlatformTime, TickCountIsMillisecondsSinceBootWrappingAt2To32) {
    EXPECT_EQ(zvp::TickCountFrom(1, 500999999), 1500u);
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
}

TEST(PlatformTime, LocalTimeIsTheZonesFieldsOfNow) {
    // UTC, then a zone five hours east: the fields are the zone's.
    for (const char* zone : {"UTC0", "XYZ-5"}) {
        setenv("TZ", zone, 1);
        tzset();
        SYSTEMTIME st;
        struct timespec before, after;
        do {  // within one second, so that the fields can be compared exactly
            clock_gettime(CLOCK_REALTIME, &before);
            GetLocalTime(&st);
            clock_gettime(CLOCK_REALTIME, &after);
        } while (before.tv_sec != after.tv_sec);
        struct tm expected;
        localtime_r(&before.tv_sec, &expected);
        EXPECT_EQ(st.wYear, expected.tm_year + 1900) << zone;
        EXPECT_EQ(st.wMonth, expected.tm_mon + 1) << zone;
        EXPECT_EQ(st.wDay, expected.tm_mday) << zone;
        EXPECT_EQ(st.wDayOfWeek, expected.tm_wday) << zone;
        EXPECT_EQ(st.wHour, expected.tm_hour) << zone;
        EXPECT_EQ(st.wMinute, expected.tm_min) << zone;
        EXPECT_EQ(st.wSecond, expected.tm_sec) << zone;
        EXPECT_GE(st.wMilliseconds, before.tv_nsec / 1000000);
        EXPECT_LE(st.wMilliseconds, after.tv_nsec / 1000000);
    }
}
