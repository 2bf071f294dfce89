// The test programs' main: every test process sees a private registry and a
// home of its own, so no test can touch the user's real registry or home.
// On Windows the tests run in a scratch Wine prefix made for the run, and a
// crash ends the process at once instead of calling a debugger.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#endif

// Heap exhaustion is tested: the sanitizers' allocators must answer null.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
extern "C" const char* __tsan_default_options() {
    return "allocator_may_return_null=1 halt_on_error=1 second_deadlock_stack=1";
}

#if defined(_WIN32)
int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
#else
int main(int argc, char** argv) {
    bool deathTestChild = false;
    for (int i = 1; i < argc; ++i)
        if (strstr(argv[i], "internal_run_death_test")) deathTestChild = true;
    // A death test's child inherits what its test set up; only a fresh
    // process starts from the clean machine.
    if (!deathTestChild) {
        setenv("ZV_REGISTRY", ":memory:", 1);
        setenv("HOME", ZV_TEST_HOME, 1);
        setenv("XDG_DATA_HOME", ZV_TEST_HOME "/data", 1);
        // The registry's volatile keys go to the runtime directory.
        mkdir(ZV_TEST_HOME "/run", 0700);
        setenv("XDG_RUNTIME_DIR", ZV_TEST_HOME "/run", 1);
        unsetenv("ZV_DEBUG_OUTPUT");
        unsetenv("ZV_ASSERT_ANSWER");
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
#endif
