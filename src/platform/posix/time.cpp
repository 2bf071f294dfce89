// time.cpp - the tick count and the local time of the emulated machine.
#include <time.h>

#include "platform/posix/services.h"

namespace zvp {

DWORD TickCountFrom(uint64_t seconds, uint32_t nanoseconds) {
    // Truncation to 32 bits is the wrap at 2^32 ms, about 49.7 days.
    return DWORD(seconds * 1000u + nanoseconds / 1000000u);
}

}  // namespace zvp

DWORD GetTickCount(void) {
    // Milliseconds since boot, time spent suspended included, as Windows
    // counts them; the monotonic clock is the fallback on old kernels.
    struct timespec now;
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) clock_gettime(CLOCK_MONOTONIC, &now);
    return zvp::TickCountFrom(uint64_t(now.tv_sec), uint32_t(now.tv_nsec));
}

void GetLocalTime(LPSYSTEMTIME time) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    time->wYear = WORD(local.tm_year + 1900);
    time->wMonth = WORD(local.tm_mon + 1);
    time->wDayOfWeek = WORD(local.tm_wday);  // 0 is Sunday on both
    time->wDay = WORD(local.tm_mday);
    time->wHour = WORD(local.tm_hour);
    time->wMinute = WORD(local.tm_min);
    // A leap second has no place in a SYSTEMTIME.
    time->wSecond = WORD(local.tm_sec > 59 ? 59 : local.tm_sec);
    time->wMilliseconds = WORD(now.tv_nsec / 1000000);
}
