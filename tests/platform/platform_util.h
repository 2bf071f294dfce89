// platform_util.h - a check shared by the platform tests.
#ifndef ZV_TEST_PLATFORM_UTIL_H
#define ZV_TEST_PLATFORM_UTIL_H

#include <gtest/gtest.h>

#include "platform/win32.h"

// A call that must fail (its result is false or null) with this last error.
#define EXPECT_FAILS(call, error)                                   \
    do {                                                            \
        SetLastError(ERROR_SUCCESS);                                \
        EXPECT_FALSE(call) << #call;                                \
        EXPECT_EQ(GetLastError(), DWORD(error)) << #call;           \
    } while (0)

#endif  // ZV_TEST_PLATFORM_UTIL_H
