// Access rights the setup program gives: to folders it creates inside the Program Files folder,
// and to the named kernel objects of the shared trace file.
#pragma once

#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"

#include <string>

namespace platform::win32 {

// The trace objects' descriptor: full control for the system, services, administrators, power
// users, authenticated users, the current user and the current logon session, so that every
// process of the product in the logon, whatever its identity there, can open the objects.
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
    UniqueHandle mToken;
    UniqueLocal mUserSid;
    UniqueLocal mLogonSid;
    UniqueLocal mDescriptor;
};

// The descriptor of the process-wide manager; null when it cannot be built, which gives the
// objects the system's default security.
PSECURITY_DESCRIPTOR getTraceSecurityDescriptor();

// Gives the named kernel object the low mandatory label (no write-up), so that processes at low
// integrity can open it. False when the object does not exist or the label cannot be set.
bool setLowIntegrityLabel(const wchar_t* objectName);

// The folder descriptor: full control for administrators and power users, read and execute for
// users, inherited by files and subfolders. Empty on failure.
UniqueLocal makeFolderSecurityDescriptor();

// Whether `programFilesDir` occurs in `path`, in any letter case. A substring test, not a prefix
// test: that is what callers have always relied on.
bool isUnderProgramFiles(const std::wstring& path, const std::wstring& programFilesDir);

// Replaces the discretionary access list of a folder that lies inside `programFilesDir` with the
// folder descriptor. Anything else, and any failure, leaves the folder as it is.
void applyFolderSecurity(const std::wstring& folder, const std::wstring& programFilesDir);

} // namespace platform::win32
