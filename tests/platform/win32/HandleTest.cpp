// The resource owners and the mutex guard against a real Win32: each kind closes what it holds
// exactly once, the two invalid values stay apart, and an abandoned mutex is owned by the waiter.
#include "platform/win32/Handle.h"

#include "platform/win32/LastError.h"
#include "tests/support/win32/Win32Support.h"

#include <gtest/gtest.h>

#include <thread>

using namespace platform::win32;

namespace {

bool isOpen(HANDLE handle)
{
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != 0;
}

} // namespace

TEST(Win32Handle, OwnersCloseOnceAndKeepTheirInvalidValue)
{
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        UniqueEvent event(raw);
        ASSERT_TRUE(event);
        UniqueEvent moved(std::move(event));
        EXPECT_FALSE(event);
        EXPECT_TRUE(isOpen(moved.get()));
        UniqueEvent assigned;
        assigned = std::move(moved);
        EXPECT_TRUE(isOpen(assigned.get()));
    }
    EXPECT_FALSE(isOpen(raw));

    // CreateFileW fails with INVALID_HANDLE_VALUE, which a null-invalid owner would "close".
    UniqueFile missing(
        CreateFileW(L"C:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
    EXPECT_EQ(LastError::take().code, uint32_t{ERROR_PATH_NOT_FOUND});

    test_support::TempRegistryKey key;
    UniqueRegKey sub;
    ASSERT_EQ(RegCreateKeyExW(key.get(), L"sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, sub.put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_TRUE(sub);
    const HKEY before = sub.get();
    sub.reset();
    EXPECT_NE(RegSetValueExW(before, L"v", 0, REG_DWORD, nullptr, 0), ERROR_SUCCESS);
}

TEST(Win32Handle, MutexLockTakesAnAbandonedMutexAsAcquired)
{
    const UniqueMutex mutex(
        CreateMutexW(nullptr, FALSE, test_support::uniqueObjectName(L"kv-test-mutex").c_str()));
    ASSERT_TRUE(mutex);
    // A thread that ends while it owns the mutex abandons it.
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0); }).join();

    MutexLock lock = MutexLock::acquire(mutex.get(), 1000);
    EXPECT_TRUE(lock);
    EXPECT_TRUE(lock.abandoned());
    std::thread([&] { EXPECT_FALSE(MutexLock::acquire(mutex.get(), 10)); }).join();
    lock.unlock();
    std::thread([&] {
        MutexLock again = MutexLock::acquire(mutex.get(), 10);
        EXPECT_TRUE(again);
        EXPECT_FALSE(again.abandoned());
    }).join();
}

TEST(Win32Handle, LastErrorReadsTheSystemText)
{
    const std::string text = LastError{ERROR_FILE_NOT_FOUND}.message();
    EXPECT_NE(text.rfind("error ", 0), 0u) << text; // Windows and Wine word it differently
    EXPECT_NE(text.back(), '\n');
    EXPECT_EQ(LastError{0xDEADBEEF}.message(), "error 3735928559");
}
