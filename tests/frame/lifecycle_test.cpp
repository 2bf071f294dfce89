// Start-up and shut-down.
#include <gtest/gtest.h>
#include <sched.h>

#include "frame/frame.h"
#include "support.h"
#include "zv.h"

namespace {

TEST(Lifecycle, OnlyTheFirstInitAndTheLastDeInitWork) {
    // The module's load notification has already made the working start-up.
    const uint16_t wide = zvtest::Family9x() ? 0 : 1;
    const int32_t spins = zv::g_spinCount;
    EXPECT_EQ(zv::g_initCount, 1u);
    EXPECT_TRUE(zv::ZComLockAlive());
    EXPECT_EQ(zv::g_wideCalls, wide);
    EXPECT_EQ(ZVInit() + ZVInit(), 2);
    ZVDeInit();
    ZVDeInit();
    EXPECT_EQ(zv::g_initCount, 1u);
    EXPECT_TRUE(zv::ZComLockAlive());
    // The last ZVDeInit deletes the ZCom lock and nothing else.
    ZVDeInit();
    EXPECT_EQ(zv::g_initCount, 0u);
    EXPECT_FALSE(zv::ZComLockAlive());
    EXPECT_TRUE(zv::g_wideCalls == wide && zv::g_spinCount == spins);
    EnterCriticalSection(&zv::g_traceLock);
    LeaveCriticalSection(&zv::g_traceLock);
    // A new first ZVInit sets everything up again.
    zv::g_wideCalls = 7;
    EXPECT_EQ(ZVInit(), 1);
    EXPECT_TRUE(zv::ZComLockAlive());
    EXPECT_EQ(zv::g_wideCalls, wide);
}

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
