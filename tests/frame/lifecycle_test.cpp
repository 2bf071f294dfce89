// Start-up, shut-down and platform identity.
#include <gtest/gtest.h>
#include <sched.h>

#include "frame/frame.h"
#include "support.h"
#include "zv.h"

namespace {

// Pins the calling thread to the first `count` processors it may use and
// restores the old set when it goes.
class ProcessorLimit {
  public:
    explicit ProcessorLimit(int count) {
        sched_getaffinity(0, sizeof(saved_), &saved_);
        cpu_set_t limited;
        CPU_ZERO(&limited);
        int taken = 0;
        for (int cpu = 0; cpu < CPU_SETSIZE && taken < count; ++cpu) {
            if (CPU_ISSET(cpu, &saved_)) {
                CPU_SET(cpu, &limited);
                ++taken;
            }
        }
        ok_ = taken == count && sched_setaffinity(0, sizeof(limited), &limited) == 0;
    }
    ~ProcessorLimit() { sched_setaffinity(0, sizeof(saved_), &saved_); }
    bool ok() const { return ok_; }

  private:
    cpu_set_t saved_;
    bool ok_ = false;
};

// Runs the first-start-up path again: the count goes to 0 and back to 1.
uint16_t RestartLibrary() {
    while (zv::g_initCount > 0) ZVDeInit();
    return ZVInit();
}

}  // namespace

TEST(Lifecycle, ModuleLoadStartsTheLibraryAndHostCallsOnlyCount) {
    // The module's load notification has already made the working start-up.
    EXPECT_EQ(zv::g_initCount, 1u);
    EXPECT_TRUE(zv::ZComLockAlive());
    const uint16_t wide = zv::g_wideCalls;
    const int32_t spins = zv::g_spinCount;

    EXPECT_EQ(ZVInit(), 1);
    EXPECT_EQ(ZVInit(), 1);
    EXPECT_EQ(zv::g_initCount, 3u);
    ZVDeInit();
    ZVDeInit();
    EXPECT_EQ(zv::g_initCount, 1u);
    EXPECT_TRUE(zv::ZComLockAlive());
    EXPECT_EQ(zv::g_wideCalls, wide);
    EXPECT_EQ(zv::g_spinCount, spins);
}

TEST(Lifecycle, LastDeInitDeletesOnlyTheZComLock) {
    const uint16_t wide = zv::g_wideCalls;
    const int32_t spins = zv::g_spinCount;
    ZVDeInit();
    EXPECT_EQ(zv::g_initCount, 0u);
    EXPECT_FALSE(zv::ZComLockAlive());
    // The switch, the spin count and the trace lock outlive the count.
    EXPECT_EQ(zv::g_wideCalls, wide);
    EXPECT_EQ(zv::g_spinCount, spins);
    EnterCriticalSection(&zv::g_traceLock);
    LeaveCriticalSection(&zv::g_traceLock);

    // A new first ZVInit sets everything up again.
    EXPECT_EQ(ZVInit(), 1);
    EXPECT_EQ(zv::g_initCount, 1u);
    EXPECT_TRUE(zv::ZComLockAlive());
    EnterCriticalSection(&zv::g_zcomLock);
    LeaveCriticalSection(&zv::g_zcomLock);
}

TEST(Lifecycle, WideCallSwitchFollowsThePlatformFamily) {
    EXPECT_EQ(zv::g_wideCalls, zvtest::Family9x() ? 0 : 1);
    EXPECT_EQ(RestartLibrary(), 1);
    EXPECT_EQ(zv::g_wideCalls, zvtest::Family9x() ? 0 : 1);
}

TEST(Lifecycle, SpinCountIsFivePerProcessorAndZeroOnOne) {
    {
        ProcessorLimit one(1);
        ASSERT_TRUE(one.ok());
        RestartLibrary();
        EXPECT_EQ(zv::g_spinCount, 0);
    }
    {
        ProcessorLimit two(2);
        if (!two.ok()) GTEST_SKIP() << "this machine lets the process use one processor";
        RestartLibrary();
        EXPECT_EQ(zv::g_spinCount, 10);
    }
}

TEST(Lifecycle, PlatformIdentity) {
    EXPECT_EQ(ZVCompilerType(), 1);
    EXPECT_EQ(ZVHardwareType(), 1);
    EXPECT_EQ(ZVPlatformType(), 1);
    // One function under three names.  Read through volatile so the compiler
    // cannot fold the comparison of two distinct names to false.
    void* volatile compiler = reinterpret_cast<void*>(&ZVCompilerType);
    void* volatile hardware = reinterpret_cast<void*>(&ZVHardwareType);
    void* volatile platform = reinterpret_cast<void*>(&ZVPlatformType);
    EXPECT_EQ(hardware, compiler);
    EXPECT_EQ(platform, compiler);
    EXPECT_EQ(std::u16string(ZVCompilerTypeString()), u"ZV_COMPILER_MSVC");
    EXPECT_EQ(std::u16string(ZVHardwareTypeString()), u"ZV_HARDWARE_PC");
    EXPECT_EQ(std::u16string(ZVPlatformTypeString()), u"ZV_PLATFORM_WIN32");
    // Static storage: the same pointer every time.
    EXPECT_EQ(ZVCompilerTypeString(), ZVCompilerTypeString());
    EXPECT_EQ(ZVHWEndian(), 2);
    EXPECT_EQ(ZVAlignSize(13), 13u);
    EXPECT_EQ(ZVAlignSize(0), 0u);
    EXPECT_EQ(ZVAlignSize(0xFFFFFFFFu), 0xFFFFFFFFu);
}
