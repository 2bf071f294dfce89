// The spin count follows the processors this process may run on (Linux's
// affinity makes a one-processor machine).
#include <gtest/gtest.h>
#include <sched.h>

#include "frame/frame.h"
#include "support.h"
#include "zv.h"

namespace {

TEST(Lifecycle, SpinCountIsFivePerProcessorAndZeroOnOne) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_EQ(zv::g_spinCount, info.dwNumberOfProcessors > 1 ? 5 * int32_t(info.dwNumberOfProcessors) : 0);
    // Held to one processor, a new first start-up finds only that one.
    cpu_set_t all, one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    ASSERT_TRUE(sched_getaffinity(0, sizeof all, &all) == 0 && sched_setaffinity(0, sizeof one, &one) == 0);
    ZVDeInit();
    EXPECT_EQ(ZVInit(), 1);
    sched_setaffinity(0, sizeof all, &all);
    EXPECT_EQ(zv::g_spinCount, 0);
}

}  // namespace
