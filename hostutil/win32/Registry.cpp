// The registry object's key operations, all through the operating-system facade except the
// subkey enumeration.
#include "hostutil/win32/Registry.h"

#include "hostutil/Guid.h"
#include "hostutil/SystemText.h"
#include "platform/TextConvert.h"
#include "platform/win32/WindowsInterface.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace hostutil {

namespace {

platform::win32::KavariWindowsInterface& os()
{
    return *platform::win32::GetWindowsInterface();
}

GUID parsedGuid(const char* text)
{
    Guid parsed;
    // The texts are constants of this file: one that does not read is a broken build.
    if (!ParseGuid(text, parsed))
        std::abort();
    static_assert(sizeof(GUID) == sizeof(Guid), "Guid has the layout of GUID");
    GUID guid;
    guid.Data1 = parsed.data1;
    guid.Data2 = parsed.data2;
    guid.Data3 = parsed.data3;
    std::memcpy(guid.Data4, parsed.data4.data(), sizeof(guid.Data4));
    return guid;
}

constexpr DWORD kRegSz = 1, kRegExpandSz = 2, kRegDword = 4, kRegMultiSz = 7;

bool isStringType(DWORD type)
{
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

} // namespace

const GUID& iidIDPXRegistry()
{
    static const GUID id = parsedGuid("E9C9AB29-B0BE-4D77-AFC4-1D051BB783F5");
    return id;
}

const GUID& iidIUnknown()
{
    static const GUID id = parsedGuid("00000000-0000-0000-C000-000000000046");
    return id;
}

const GUID& iidIConnectionPointContainer()
{
    static const GUID id = parsedGuid("B196B284-BAB4-101A-B69C-00AA00341D07");
    return id;
}

void FacadeKeyTraits::close(HKEY key)
{
    os().RegCloseKey(key);
}

BOOL CDPXRegistryImpl::CloseKey()
{
    mKey.reset();
    mAccess = kNoAccess;
    return TRUE;
}

BOOL CDPXRegistryImpl::OpenKey(const wchar_t* subKey, HKEY root)
{
    return OpenKeyEx(subKey, root, false);
}

BOOL CDPXRegistryImpl::OpenKeyEx(const wchar_t* subKey, HKEY root, bool view64)
{
    // The open key is checked before the subkey is stored: a refused second open must not turn
    // later writes towards its subkey while the first key stays open.
    if (!subKey || !*subKey || mKey)
        return FALSE;
    mSubKey = subKey;
    mRoot = root ? root : HKEY_CURRENT_USER;
    mFallBack = root == nullptr;
    const REGSAM access = view64 ? (kReadAccess | KEY_WOW64_64KEY) : kReadAccess;

    HKEY key = nullptr;
    LSTATUS status = os().RegOpenKeyExW(mRoot, mSubKey.c_str(), 0, access, &key);
    if (status == ERROR_SUCCESS) {
        mKey.reset(key);
        mAccess = kReadAccess;
        return TRUE;
    }
    if (status != ERROR_FILE_NOT_FOUND)
        return FALSE;
    // A key that does not exist yet is no failure: a later write creates it.
    if (!mFallBack)
        return TRUE;
    status = os().RegOpenKeyExW(HKEY_LOCAL_MACHINE, mSubKey.c_str(), 0, access, &key);
    if (status == ERROR_SUCCESS) {
        mKey.reset(key);
        mRoot = HKEY_LOCAL_MACHINE;
        mAccess = kReadAccess;
    }
    return TRUE;
}

bool CDPXRegistryImpl::openWritable(HKEY root)
{
    HKEY key = nullptr;
    LSTATUS status = os().RegOpenKeyExW(root, mSubKey.c_str(), 0, kWriteAccess, &key);
    if (status == ERROR_SUCCESS) {
        mKey.reset(key);
        mAccess = kWriteAccess;
        return true;
    }
    if (status != ERROR_FILE_NOT_FOUND)
        return false;
    if (os().RegCreateKeyW(root, mSubKey.c_str(), &key) != ERROR_SUCCESS)
        return false;
    mKey.reset(key);
    mAccess = kCreatedAccess;
    return true;
}

// A key opened for reading, or none yet, is reopened (or created) for writing: under the local
// machine first when no root was given, which an unelevated user may be refused.
bool CDPXRegistryImpl::makeWritable()
{
    // An object that was never opened has no subkey, and an empty subkey would open the root.
    if (mSubKey.empty())
        return false;
    if (mKey && mAccess != kReadAccess)
        return true;
    if ((mAccess & 0x20006) != 0x20006) {
        if (mFallBack) {
            if (!openWritable(HKEY_LOCAL_MACHINE))
                openWritable(HKEY_CURRENT_USER);
        } else {
            openWritable(mRoot);
        }
    }
    return mKey.valid();
}

DWORD CDPXRegistryImpl::GetDWORDValue(const wchar_t* name, DWORD defaultValue)
{
    if (!mKey || !name)
        return defaultValue;
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof(value);
    if (os().RegQueryValueExW(mKey.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != kRegDword)
        return defaultValue;
    return value;
}

BOOL CDPXRegistryImpl::SetDWORDValue(const wchar_t* name, DWORD value)
{
    if (!name || !makeWritable())
        return FALSE;
    return os().RegSetValueExW(mKey.get(), name, 0, kRegDword, reinterpret_cast<const BYTE*>(&value),
                               sizeof(value)) == ERROR_SUCCESS;
}

const wchar_t* CDPXRegistryImpl::GetStringValue(const wchar_t* name, const wchar_t* defaultText)
{
    if (!mKey || !name)
        return defaultText;
    mStringValue.clear();
    DWORD type = 0;
    std::vector<uint8_t> data;
    if (!readRegistryValue(mKey.get(), name, type, data) || !isStringType(type))
        return defaultText;
    mStringValue = platform::utf16ToWide(registryText(data.data(), data.size()));
    return mStringValue.c_str();
}

BOOL CDPXRegistryImpl::SetStringValue(const wchar_t* name, const wchar_t* text)
{
    if (!name || !text || !makeWritable())
        return FALSE;
    // Without the terminating null, as the readers of these values have always found them.
    const size_t bytes = std::wcslen(text) * sizeof(wchar_t);
    if (bytes > MAXDWORD)
        return FALSE;
    return os().RegSetValueExW(mKey.get(), name, 0, kRegSz, reinterpret_cast<const BYTE*>(text),
                               static_cast<DWORD>(bytes)) == ERROR_SUCCESS;
}

BOOL CDPXRegistryImpl::DeleteEntry(const wchar_t* name)
{
    if (!name || !makeWritable())
        return FALSE;
    // RegDeleteTreeW with an empty name empties the open key itself; the empty name is only ever
    // the key's default value.
    if (*name && os().RegDeleteTreeW(mKey.get(), name) == ERROR_SUCCESS)
        return TRUE;
    const LSTATUS status = os().RegDeleteValueW(mKey.get(), name);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::vector<std::wstring> CDPXRegistryImpl::EnumSubKeys()
{
    std::vector<std::wstring> names;
    if (!mKey)
        return names;
    // Key names have at most 255 characters, so the buffer never cuts one.
    for (DWORD index = 0;; ++index) {
        wchar_t name[260] = {};
        DWORD length = 259;
        if (RegEnumKeyExW(mKey.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

ComPtr<IDPXRegistry> CreateRegistry()
{
    return ComPtr<IDPXRegistry>(new (std::nothrow) CDPXRegistryImpl);
}

bool readRegistryValue(HKEY key, const wchar_t* name, DWORD& type, std::vector<uint8_t>& data)
{
    DWORD size = 0;
    if (os().RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    for (int attempt = 0; attempt < 8; ++attempt) {
        data.assign(size, 0);
        if (size == 0)
            return true;
        const LSTATUS status = os().RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
        if (status == ERROR_SUCCESS) {
            data.resize(size);
            return true;
        }
        if (status != ERROR_MORE_DATA)
            return false;
    }
    return false;
}

} // namespace hostutil
