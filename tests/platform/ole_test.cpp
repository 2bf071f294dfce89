// The component-object runtime of the platform layer: per-thread
// initialisation and the task allocator.
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/win32.h"

namespace {

// References of the task allocator that are out, read without keeping one.
ULONG TaskAllocatorReferences() {
    IMalloc* allocator = nullptr;
    if (CoGetMalloc(MEMCTX_TASK, &allocator) != S_OK) return ~ULONG(0);
    return allocator->Release();
}

}  // namespace

TEST(CoInitialize, CountsPerThreadAndKeepsTheFirstModel) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    // The other model is refused and not counted.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);

    // Another thread starts uninitialised, whatever this one did.
    HRESULT other = E_FAIL, otherAgain = E_FAIL;
    std::thread([&] {
        other = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        otherAgain = CoInitialize(nullptr);
        CoUninitialize();
    }).join();
    EXPECT_EQ(other, S_OK);
    EXPECT_EQ(otherAgain, RPC_E_CHANGED_MODE);

    // Three successful calls need three CoUninitialize calls.
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    // Now free to choose again; an extra CoUninitialize is harmless.
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | 0x8), S_FALSE);
    CoUninitialize();
    CoUninitialize();
}

TEST(CoInitialize, RejectsAReservedArgumentAndUnknownFlags) {
    int reserved = 0;
    EXPECT_EQ(CoInitialize(&reserved), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
    // Neither initialised the thread.
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
}

TEST(CoGetMalloc, HandsOutOneCountedAllocator) {
    IMalloc* first = nullptr;
    IMalloc* second = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &first), S_OK);
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &second), S_OK);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->AddRef(), 3u);
    EXPECT_EQ(first->Release(), 2u);
    EXPECT_EQ(second->Release(), 1u);

    void* unknown = nullptr;
    EXPECT_EQ(first->QueryInterface(IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(unknown, static_cast<void*>(first));
    void* malloc2 = nullptr;
    EXPECT_EQ(first->QueryInterface(IID_IMalloc, &malloc2), S_OK);
    void* factory = &unknown;
    EXPECT_EQ(first->QueryInterface(IID_IClassFactory, &factory), E_NOINTERFACE);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(first->Release(), 2u);
    EXPECT_EQ(first->Release(), 1u);
    EXPECT_EQ(first->Release(), 0u);
    // Released to zero, it is handed out again from a count of one.
    EXPECT_EQ(TaskAllocatorReferences(), 0u);

    IMalloc* other = reinterpret_cast<IMalloc*>(&unknown);
    EXPECT_EQ(CoGetMalloc(2, &other), E_INVALIDARG);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(CoGetMalloc(MEMCTX_TASK, nullptr), E_INVALIDARG);
    EXPECT_EQ(TaskAllocatorReferences(), 0u);
}

TEST(CoGetMalloc, InterfaceIdentifiersAreTheStandardOnes) {
    const IID factory = {0x00000001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    const IID unknown = {0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    const IID malloc = {0x00000002, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    EXPECT_EQ(memcmp(&IID_IClassFactory, &factory, sizeof(IID)), 0);
    EXPECT_EQ(memcmp(&IID_IUnknown, &unknown, sizeof(IID)), 0);
    EXPECT_EQ(memcmp(&IID_IMalloc, &malloc, sizeof(IID)), 0);
}

TEST(TaskAllocator, AllocatesResizesAndKnowsItsBlocks) {
    IMalloc* allocator = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &allocator), S_OK);

    char* block = static_cast<char*>(allocator->Alloc(100));
    ASSERT_NE(block, nullptr);
    memset(block, 'x', 100);
    EXPECT_EQ(allocator->GetSize(block), SIZE_T(100));
    EXPECT_EQ(allocator->DidAlloc(block), 1);

    char* grown = static_cast<char*>(allocator->Realloc(block, 5000));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(grown[99], 'x');  // the contents move with the block
    EXPECT_EQ(allocator->GetSize(grown), SIZE_T(5000));
    if (grown != block) {
        EXPECT_EQ(allocator->DidAlloc(block), 0);
    }

    // A block of the runtime heap is not the allocator's.
    char* foreign = static_cast<char*>(malloc(16));
    EXPECT_EQ(allocator->DidAlloc(foreign), 0);
    EXPECT_EQ(allocator->GetSize(foreign), SIZE_T(-1));
    EXPECT_EQ(allocator->Realloc(foreign, 32), nullptr);
    allocator->Free(foreign);  // refused, not freed: the runtime frees it below
    free(foreign);
    EXPECT_EQ(allocator->DidAlloc(nullptr), -1);

    // Zero bytes still give a block of their own; Realloc to zero frees.
    void* empty = allocator->Alloc(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(allocator->GetSize(empty), SIZE_T(0));
    EXPECT_EQ(allocator->Realloc(empty, 0), nullptr);
    EXPECT_EQ(allocator->DidAlloc(empty), 0);
    void* fresh = allocator->Realloc(nullptr, 8);
    EXPECT_EQ(allocator->DidAlloc(fresh), 1);
    allocator->Free(fresh);
    allocator->Free(grown);
    allocator->Free(nullptr);
    EXPECT_EQ(allocator->DidAlloc(grown), 0);

    allocator->HeapMinimize();
    EXPECT_EQ(allocator->Release(), 0u);
}

TEST(TaskAllocatorStress, ManyThreadsAllocateAndFreeAtOnce) {
    IMalloc* allocator = nullptr;
    ASSERT_EQ(CoGetMalloc(MEMCTX_TASK, &allocator), S_OK);
    const int kThreads = 8, kRounds = 2000;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            IMalloc* mine = nullptr;
            CoGetMalloc(MEMCTX_TASK, &mine);
            for (int i = 0; i < kRounds; ++i) {
                SIZE_T size = SIZE_T(1 + (i + t) % 64);
                unsigned char* block = static_cast<unsigned char*>(mine->Alloc(size));
                if (!block) {
                    ++wrong;
                    continue;
                }
                memset(block, t, size);
                if (mine->GetSize(block) != size || mine->DidAlloc(block) != 1) ++wrong;
                block = static_cast<unsigned char*>(mine->Realloc(block, size * 2));
                if (!block || block[size - 1] != t) ++wrong;
                mine->Free(block);
            }
            mine->Release();
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(allocator->Release(), 0u);
}
