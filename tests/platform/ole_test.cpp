// The component-object runtime of the platform layer: per-thread
// initialisation and the task allocator.
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "watchdog.h"

TEST(CoInitialize, CountsPerThreadAndKeepsTheFirstModel) {
    int reserved = 0;
    EXPECT_EQ(CoInitialize(&reserved), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);  // counted neither
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    // The other model is refused and not counted; another thread starts afresh.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    HRESULT other[2] = {E_FAIL, E_FAIL};
    std::thread([&] {
        other[0] = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        other[1] = CoInitialize(nullptr);
        CoUninitialize();
    }).join();
    EXPECT_EQ(other[0], S_OK);
    EXPECT_EQ(other[1], RPC_E_CHANGED_MODE);
    // Two successful calls need two CoUninitialize calls; one more is harmless.
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | 0x8), S_OK);
    CoUninitialize();
}

TEST(CoGetMalloc, HandsOutOneCountedAllocator) {
    IMalloc *first = nullptr, *second = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &first), S_OK);
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &second), S_OK);
    EXPECT_EQ(first, second);
    void* self = nullptr;
    void* factory = &self;
    EXPECT_EQ(first->QueryInterface(IID_IMalloc, &self), S_OK);
    EXPECT_EQ(self, static_cast<void*>(first));
    EXPECT_EQ(first->QueryInterface(IID_IClassFactory, &factory), E_NOINTERFACE);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(first->Release(), 2u);
    EXPECT_EQ(first->Release(), 1u);
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(first->Release(), 0u);  // never below zero
    EXPECT_EQ(CoGetMalloc(2, &first), E_INVALIDARG);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(CoGetMalloc(MEMCTX_TASK, nullptr), E_INVALIDARG);
}

TEST(TaskAllocator, KnowsItsBlocksAndRefusesOthers) {
    IMalloc* allocator = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &allocator), S_OK);
    char* block = static_cast<char*>(allocator->Alloc(100));
    ASSERT_NE(block, nullptr);
    memset(block, 'x', 100);
    char* grown = static_cast<char*>(allocator->Realloc(block, 5000));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(grown[99], 'x');
    EXPECT_EQ(allocator->GetSize(grown), SIZE_T(5000));
    EXPECT_EQ(allocator->DidAlloc(block), grown == block ? 1 : 0);
    // A block of the runtime heap is refused, not freed or resized.
    char* foreign = static_cast<char*>(malloc(16));
    EXPECT_EQ(allocator->DidAlloc(foreign), 0);
    EXPECT_EQ(allocator->GetSize(foreign), SIZE_T(-1));
    EXPECT_EQ(allocator->Realloc(foreign, 32), nullptr);
    allocator->Free(foreign);
    free(foreign);
    EXPECT_EQ(allocator->DidAlloc(nullptr), -1);
    // Zero bytes still give a block of its own; Realloc to zero frees.
    void* empty = allocator->Alloc(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(allocator->GetSize(empty), SIZE_T(0));
    EXPECT_EQ(allocator->Realloc(empty, 0), nullptr);
    EXPECT_EQ(allocator->DidAlloc(empty), 0);
    allocator->Free(grown);
    EXPECT_EQ(allocator->DidAlloc(grown), 0);
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
            for (int i = 0; i < 2000; ++i) {
                SIZE_T size = SIZE_T(1 + (i + t) % 64);
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
