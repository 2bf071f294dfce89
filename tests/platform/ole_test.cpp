// The component-object runtime of the platform layer: per-thread
// initialisation and the task allocator.
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "watchdog.h"

// How a thread's initialisations count is checked through the library's
// ZCom runtime; here what only the platform layer answers.
TEST(CoInitialize, RefusesBadArgumentsAndTheOtherModelWithoutCounting) {
    int reserved = 0;
    EXPECT_EQ(CoInitialize(&reserved), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | 0x8), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
    CoUninitialize();  // one call undoes the one initialisation counted
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
}

TEST(TaskAllocator, OneAllocatorThatKnowsItsBlocks) {
    IMalloc* allocator = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &allocator), S_OK);
    IMalloc* other = allocator;
    EXPECT_EQ(CoGetMalloc(2, &other), E_INVALIDARG);
    EXPECT_EQ(other, nullptr);
    char* block = static_cast<char*>(allocator->Alloc(100));
    ASSERT_NE(block, nullptr);
    memset(block, 'x', 100);
    block = static_cast<char*>(allocator->Realloc(block, 5000));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[99], 'x');
    EXPECT_EQ(allocator->GetSize(block), SIZE_T(5000));
    // A block of the runtime heap is refused, neither resized nor freed.
    char* foreign = static_cast<char*>(malloc(16));
    EXPECT_EQ(allocator->Realloc(foreign, 32), nullptr);
    allocator->Free(foreign);
    free(foreign);
    EXPECT_EQ(allocator->Realloc(block, 0), nullptr);  // frees
    EXPECT_EQ(allocator->DidAlloc(block), 0);
    EXPECT_EQ(allocator->Release(), 0u);
}

TEST(TaskAllocatorStress, ManyThreadsAllocateAndFreeAtOnce) {
    zvtest::Watchdog watchdog(60, "task allocator stress");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&wrong, t] {
            IMalloc* mine = nullptr;
            CoGetMalloc(MEMCTX_TASK, &mine);
            for (SIZE_T size = 1 + t, i = 0; i < 2000; ++i, size = 1 + (i + t) % 64) {
                auto* block = static_cast<unsigned char*>(mine->Alloc(size));
                memset(block, t, size);
                wrong += mine->GetSize(block) != size || mine->DidAlloc(block) != 1;
                block = static_cast<unsigned char*>(mine->Realloc(block, size * 2));
                wrong += block[size - 1] != t;
                mine->Free(block);
            }
            mine->Release();
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    IMalloc* allocator = nullptr;  // every reference taken was given back
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &allocator), S_OK);
    EXPECT_EQ(allocator->Release(), 0u);
}
