// One owner type for every Win32 resource: a move-only value that knows its close function and
// its invalid value, so each resource is released on every path without a hand-written close.
#pragma once

#include "platform/win32/Windows.h"

#include <utility>

namespace platform::win32 {

// Traits name the handle type, its invalid value and how to close it. Two invalid values exist
// in Win32 and are not interchangeable: CreateFileW and FindFirstFileW fail with
// INVALID_HANDLE_VALUE, nearly everything else with null.
template <typename Traits> class UniqueAny {
public:
    using Type = typename Traits::Type;

    UniqueAny() = default;
    explicit UniqueAny(Type value) : mValue(value) {}
    ~UniqueAny() { reset(); }
    UniqueAny(UniqueAny&& other) noexcept : mValue(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;

    Type get() const { return mValue; }
    bool valid() const { return mValue != Traits::invalid(); }
    explicit operator bool() const { return valid(); }

    Type release() { return std::exchange(mValue, Traits::invalid()); }
    void reset(Type value = Traits::invalid())
    {
        const Type old = std::exchange(mValue, value);
        if (old != Traits::invalid())
            Traits::close(old);
    }
    // For out-parameters (RegOpenKeyExW and the like): closes what is held first.
    Type* put()
    {
        reset();
        return &mValue;
    }

private:
    Type mValue = Traits::invalid();
};

template <typename T, T Invalid, auto Close> struct Traits {
    using Type = T;
    static Type invalid() { return Invalid; }
    static void close(Type value) { Close(value); }
};

struct FileTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type value) { CloseHandle(value); }
};
struct FindTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type value) { FindClose(value); }
};
struct ViewTraits {
    using Type = void*;
    static Type invalid() { return nullptr; }
    static void close(Type value) { UnmapViewOfFile(value); }
};

// Kernel objects whose creators answer null on failure: mappings, events, mutexes, processes.
using UniqueHandle = UniqueAny<Traits<HANDLE, nullptr, CloseHandle>>;
using UniqueFile = UniqueAny<FileTraits>;
using UniqueFind = UniqueAny<FindTraits>;
using UniqueMapping = UniqueHandle;
using UniqueEvent = UniqueHandle;
using UniqueMutex = UniqueHandle;
using UniqueView = UniqueAny<ViewTraits>;
using UniqueRegKey = UniqueAny<Traits<HKEY, nullptr, RegCloseKey>>;
using UniqueModule = UniqueAny<Traits<HMODULE, nullptr, FreeLibrary>>;
using UniqueLocal = UniqueAny<Traits<HLOCAL, nullptr, LocalFree>>;

// A held mutex, released when the guard goes. A wait that ends because the previous owner died
// holding it still hands over ownership: the waiter owns it then and must release it too.
class MutexLock {
public:
    MutexLock() = default;
    ~MutexLock() { unlock(); }
    MutexLock(MutexLock&& other) noexcept
        : mMutex(std::exchange(other.mMutex, nullptr)), mAbandoned(other.mAbandoned)
    {
    }
    MutexLock& operator=(MutexLock&& other) noexcept
    {
        if (this != &other) {
            unlock();
            mMutex = std::exchange(other.mMutex, nullptr);
            mAbandoned = other.mAbandoned;
        }
        return *this;
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    // Waits up to `milliseconds`; the result holds the mutex only when the wait gave it.
    static MutexLock acquire(HANDLE mutex, DWORD milliseconds)
    {
        MutexLock lock;
        if (!mutex)
            return lock;
        const DWORD wait = WaitForSingleObject(mutex, milliseconds);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
            lock.mMutex = mutex;
            lock.mAbandoned = wait == WAIT_ABANDONED;
        }
        return lock;
    }

    explicit operator bool() const { return mMutex != nullptr; }
    // The previous owner died while holding it: what it guarded may be half written.
    bool abandoned() const { return mAbandoned; }
    void unlock()
    {
        if (mMutex)
            ReleaseMutex(std::exchange(mMutex, nullptr));
    }

private:
    HANDLE mMutex = nullptr;
    bool mAbandoned = false;
};

// The process token lent to the calling thread (ImpersonateSelf), given back (RevertToSelf) when
// the guard goes, on every path; an access check for the process runs against a thread token.
class SelfImpersonation {
public:
    SelfImpersonation() = default;
    ~SelfImpersonation() { revert(); }
    SelfImpersonation(SelfImpersonation&& other) noexcept
        : mActive(std::exchange(other.mActive, false)), mSucceeded(other.mSucceeded)
    {
    }
    SelfImpersonation& operator=(SelfImpersonation&&) = delete;
    SelfImpersonation(const SelfImpersonation&) = delete;
    SelfImpersonation& operator=(const SelfImpersonation&) = delete;

    // The result impersonates when ImpersonateSelf succeeded; either way it reverts when it goes,
    // which costs nothing for a thread that does not impersonate.
    static SelfImpersonation begin(SECURITY_IMPERSONATION_LEVEL level = SecurityImpersonation)
    {
        SelfImpersonation guard;
        guard.mSucceeded = ImpersonateSelf(level) != FALSE;
        guard.mActive = true;
        return guard;
    }

    explicit operator bool() const { return mSucceeded; }
    void revert()
    {
        if (std::exchange(mActive, false))
            RevertToSelf();
    }

private:
    bool mActive = false;
    bool mSucceeded = false;
};

} // namespace platform::win32
