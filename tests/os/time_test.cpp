// The tick count and the local time, as the system gives them.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>

#include "platform/win32.h"
#include "support.h"
#include "zv.h"

namespace {

TEST(Time, TickCountAndLocalTimeComeFromTheSystem) {
    EXPECT_LT(GetTickCount() - ZVGetTickCount(), 1000u);
    SYSTEMTIME st;
    memset(&st, 0xFF, sizeof st);
    ZVGetLocalTime(&st);  // writes all eight fields
    EXPECT_EQ(std::count(&st.wYear, &st.wYear + 8, 0xFFFF), 0);
}

}  // namespace
