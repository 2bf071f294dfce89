// Start-up and shut-down.
#include <gtest/gtest.h>

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

}  // namespace
