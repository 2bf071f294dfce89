// The emulated tick count and local time.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <vector>

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

// A zone five hours east of UTC: the fields are the zone's.
TEST(PlatformTime, LocalTimeIsTheZonesFieldsOfNow) {
    setenv("TZ", "XYZ-5", 1);
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
    EXPECT_EQ((std::vector<int>{st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour, st.wMinute, st.wSecond}),
              (std::vector<int>{expected.tm_year + 1900, expected.tm_mon + 1, expected.tm_mday, expected.tm_wday,
                                expected.tm_hour, expected.tm_min, expected.tm_sec}));
    EXPECT_GE(st.wMilliseconds, before.tv_nsec / 1000000);
    EXPECT_LE(st.wMilliseconds, after.tv_nsec / 1000000);
}
