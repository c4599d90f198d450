// The rights of the shared trace file's named kernel objects: every process of the product in
// the logon may open them, whatever its identity there or its integrity level.
#pragma once

#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"

#include <string>

namespace trace::win32 {

// The trace objects' descriptor: full control for the system, services, administrators, power
// users, authenticated users, the current user and the current logon session.
// Each part is computed on first use and kept; a failed part is tried again next time.
class CKvrSDManager {
public:
    CKvrSDManager() = default;
    virtual ~CKvrSDManager();
    CKvrSDManager(const CKvrSDManager&) = delete;
    CKvrSDManager& operator=(const CKvrSDManager&) = delete;

    // The calling thread's token, or the process's when the thread has none; null on failure.
    HANDLE getToken();
    // The token's user and logon-session SIDs as text ("S-1-5-21-..."); null on failure.
    const wchar_t* getUserSid();
    const wchar_t* getLogonSid();
    // The base list plus an entry for each SID found; null when the conversion fails.
    PSECURITY_DESCRIPTOR getSecurityDescriptor();

    // The text the descriptor is converted from; exposed for tests.
    std::wstring descriptorText();

private:
    platform::win32::UniqueHandle mToken;
    platform::win32::UniqueLocal mUserSid;
    platform::win32::UniqueLocal mLogonSid;
    platform::win32::UniqueLocal mDescriptor;
};

// The descriptor of the process-wide manager; null when it cannot be built, which gives the
// objects the system's default security.
PSECURITY_DESCRIPTOR getTraceSecurityDescriptor();

// Gives the named kernel object the low mandatory label (no write-up), so that processes at low
// integrity can open it. False when the object does not exist or the label cannot be set.
bool setLowIntegrityLabel(const wchar_t* objectName);

} // namespace trace::win32
