// The platform layer's core: handle table, last error, version, name
// conversions.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/posix/handles.h"
#include "platform_util.h"
#include "support.h"

namespace {

class Dummy : public zvp::KernelObject {
  public:
    explicit Dummy(zvp::ObjectKind kind, int* destroyed = nullptr)
        : KernelObject(kind), destroyed_(destroyed) {}
    ~Dummy() override {
        if (destroyed_) ++*destroyed_;
    }

  private:
    int* destroyed_;
};

}  // namespace

TEST(HandleTable, LooksUpOnlyLiveHandlesOfTheRightKind) {
    const size_t before = zvp::OpenHandleCount();
    int destroyed = 0;
    HANDLE event = zvp::InsertHandle(std::make_shared<Dummy>(zvp::ObjectKind::Event, &destroyed));
    ASSERT_NE(event, nullptr);
    EXPECT_NE(event, INVALID_HANDLE_VALUE);
    EXPECT_NE(zvp::LookupHandle(event, zvp::ObjectKind::Event), nullptr);
    EXPECT_FAILS(zvp::LookupHandle(event, zvp::ObjectKind::Module), ERROR_INVALID_HANDLE);

    // Values that were never handed out are rejected, never dereferenced.
    const uintptr_t high = uintptr_t(1) << (sizeof(uintptr_t) == 8 ? 40 : 24);
    for (uintptr_t bogus : {uintptr_t(0), uintptr_t(3), uintptr_t(0x12345678), ~uintptr_t(0), high}) {
        EXPECT_FAILS(zvp::LookupHandle(reinterpret_cast<HANDLE>(bogus), zvp::ObjectKind::Event), ERROR_INVALID_HANDLE);
        EXPECT_EQ(zvp::RemoveHandle(reinterpret_cast<HANDLE>(bogus)), nullptr);
    }

    // A removed handle is dead; its object lives while someone holds it.
    auto held = zvp::RemoveHandle(event);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(zvp::LookupHandle(event, zvp::ObjectKind::Event), nullptr);
    EXPECT_EQ(zvp::RemoveHandle(event), nullptr);
    EXPECT_EQ(destroyed, 0);
    held.reset();
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(zvp::OpenHandleCount(), before);
}

TEST(HandleTable, ConcurrentInsertLookupRemoveStaysConsistent) {
    const size_t before = zvp::OpenHandleCount();
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                HANDLE h = zvp::InsertHandle(std::make_shared<Dummy>(zvp::ObjectKind::Semaphore));
                if (!zvp::LookupHandle(h, zvp::ObjectKind::Semaphore)) ++failures;
                if (!zvp::RemoveHandle(h)) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(zvp::OpenHandleCount(), before);
}

TEST(LastError, IsKeptPerThread) {
    SetLastError(1234);
    DWORD seenByOther = 99;
    std::thread([&] { seenByOther = GetLastError(); SetLastError(5); }).join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST(Version, ChecksTheRecordSizeAndFailsWideCallsOnlyOn9x) {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = 148;  // the narrow record's size
    EXPECT_FAILS(GetVersionExW(&info), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(GetVersionExW(nullptr));
    info.dwOSVersionInfoSize = 276;
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(info.dwPlatformId, DWORD(zvtest::Family9x() ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT));

    SetLastError(0);
    EXPECT_EQ(zvp::WideCallUnavailable(), zvtest::Family9x());
    EXPECT_EQ(GetLastError(), DWORD(zvtest::Family9x() ? ERROR_CALL_NOT_IMPLEMENTED : 0));
}

TEST(NameConversion, WideAndNarrowNamesBecomeTheSameUtf8) {
    // Well-formed text is checked where names and debug output reach the host.
    // Unpaired surrogates cannot reach the file system as they are.
    const char16_t lone[] = {u'a', char16_t(0xD800), u'b', char16_t(0xDC00), 0};
    EXPECT_EQ(zvp::Utf16ToUtf8(lone), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(zvp::Utf16ToUtf8(nullptr), "");

    EXPECT_EQ(zvp::Utf8ToLatin1("caf\xC3\xA9 \xE2\x82\xAC"), "caf\xE9 ?");
    // Malformed and truncated sequences decode to the replacement character.
    EXPECT_EQ(zvp::Utf8ToUtf16("\xC3"), u"\uFFFD");
    EXPECT_EQ(zvp::Utf8ToUtf16("\xFF" "a"), u"\uFFFD" "a");
    EXPECT_EQ(zvp::Utf8ToUtf16("\xE2\x82" "a"), u"\uFFFD\uFFFDa");  // a byte each
}
