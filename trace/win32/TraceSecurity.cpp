// The trace objects' descriptor from the token's identities, and the low-integrity label.
#include "trace/win32/TraceSecurity.h"

#include "platform/win32/Security.h"

#include <aclapi.h>
#include <memory>
#include <new>
#include <sddl.h>

namespace trace::win32 {

using namespace platform::win32;

namespace {

constexpr wchar_t kTraceBaseSddl[] =
    L"D:(A;OICI;GA;;;SY)(A;OICI;GA;;;SU)(A;OICI;GA;;;BA)(A;OICI;GA;;;PU)(A;OICI;GA;;;AU)";
constexpr wchar_t kLowLabelSddl[] = L"S:(ML;;NW;;;LW)";

// GetTokenInformation in its two steps: the size first, then the data.
std::unique_ptr<uint8_t[]> tokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind)
{
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    if (size == 0)
        return nullptr;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer || !GetTokenInformation(token, kind, buffer.get(), size, &size))
        return nullptr;
    return buffer;
}

UniqueLocal sidText(PSID sid)
{
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return UniqueLocal();
    return UniqueLocal(text);
}

} // namespace

CKvrSDManager::~CKvrSDManager() = default;

HANDLE CKvrSDManager::getToken()
{
    if (!mToken) {
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, mToken.put()))
            OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, mToken.put());
    }
    return mToken.get();
}

const wchar_t* CKvrSDManager::getUserSid()
{
    if (!mUserSid) {
        const HANDLE token = getToken();
        if (!token)
            return nullptr;
        const auto info = tokenInformation(token, TokenUser);
        if (info)
            mUserSid = sidText(reinterpret_cast<TOKEN_USER*>(info.get())->User.Sid);
    }
    return static_cast<const wchar_t*>(mUserSid.get());
}

const wchar_t* CKvrSDManager::getLogonSid()
{
    if (!mLogonSid) {
        const HANDLE token = getToken();
        if (!token)
            return nullptr;
        const auto info = tokenInformation(token, TokenGroups);
        if (!info)
            return nullptr;
        const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(info.get());
        for (DWORD i = 0; i < groups->GroupCount; ++i) {
            if ((groups->Groups[i].Attributes & SE_GROUP_LOGON_ID) == SE_GROUP_LOGON_ID) {
                mLogonSid = sidText(groups->Groups[i].Sid);
                break;
            }
        }
    }
    return static_cast<const wchar_t*>(mLogonSid.get());
}

std::wstring CKvrSDManager::descriptorText()
{
    std::wstring text = kTraceBaseSddl;
    for (const wchar_t* sid : {getUserSid(), getLogonSid()}) {
        if (sid)
            text += std::wstring(L"(A;OICI;GA;;;") + sid + L")";
    }
    return text;
}

PSECURITY_DESCRIPTOR CKvrSDManager::getSecurityDescriptor()
{
    if (!mDescriptor)
        mDescriptor = descriptorFromSddl(descriptorText().c_str());
    return mDescriptor.get();
}

PSECURITY_DESCRIPTOR getTraceSecurityDescriptor()
{
    // Built on first use and kept to process exit, as every named trace object is made with it.
    static CKvrSDManager manager;
    return manager.getSecurityDescriptor();
}

bool setLowIntegrityLabel(const wchar_t* objectName)
{
    const UniqueLocal label = descriptorFromSddl(kLowLabelSddl);
    if (!label || !objectName)
        return false;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL sacl = nullptr;
    if (!GetSecurityDescriptorSacl(label.get(), &present, &sacl, &defaulted) || !present)
        return false;
    return SetNamedSecurityInfoW(const_cast<wchar_t*>(objectName), SE_KERNEL_OBJECT,
                                 LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                 sacl) == ERROR_SUCCESS;
}

} // namespace trace::win32
