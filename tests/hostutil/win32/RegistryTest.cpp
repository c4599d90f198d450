// The registry object against a real registry: reads from the current user before the local
// machine, writes the other way round, values of every type and length, counts and interfaces.
#include "hostutil/win32/Registry.h"

#include "tests/support/win32/Win32Support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace hostutil;

namespace {

// One subkey name used under both roots, deleted from both at the end.
class BothRoots {
public:
    BothRoots() : mPath(L"Software\\KavariTests\\" + test_support::uniqueObjectName(L"registry")) {}
    ~BothRoots()
    {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            RegDeleteTreeW(root, mPath.c_str());
            // The parent goes too once no other test's key is left in it.
            RegDeleteKeyW(root, L"Software\\KavariTests");
        }
    }
    BothRoots(const BothRoots&) = delete;
    BothRoots& operator=(const BothRoots&) = delete;

    const wchar_t* path() const { return mPath.c_str(); }
    void set(HKEY root, const wchar_t* name, DWORD type, const void* data, DWORD size) const
    {
        ASSERT_EQ(RegSetKeyValueW(root, path(), name, type, data, size), ERROR_SUCCESS);
    }
    void setText(HKEY root, const wchar_t* name, const std::wstring& text) const
    {
        set(root, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    // The DWORD stored under the root, or -1.
    long long dword(HKEY root, const wchar_t* name) const
    {
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (RegGetValueW(root, path(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
            return -1;
        return value;
    }
    bool exists(HKEY root) const
    {
        platform::win32::UniqueRegKey key;
        return RegOpenKeyExW(root, path(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
    }

private:
    std::wstring mPath;
};

CDPXRegistryImpl& impl(const ComPtr<IDPXRegistry>& registry)
{
    return static_cast<CDPXRegistryImpl&>(*registry.get());
}

} // namespace

TEST(HostUtilRegistry, ReadsUserThenMachineAndWritesMachineThenUser)
{
    const BothRoots keys;
    keys.setText(HKEY_LOCAL_MACHINE, L"v", L"machine");
    keys.setText(HKEY_CURRENT_USER, L"v", L"user");

    ComPtr<IDPXRegistry> registry = CreateRegistry();
    ASSERT_TRUE(registry);
    ASSERT_EQ(registry->OpenKey(keys.path(), nullptr), TRUE);
    EXPECT_STREQ(registry->GetStringValue(L"v", L"-"), L"user");
    EXPECT_EQ(impl(registry).access(), CDPXRegistryImpl::kReadAccess);
    // A second open is refused and changes nothing: writes still go to the first key's subkey.
    EXPECT_EQ(registry->OpenKey(L"Software\\KavariTests\\other", HKEY_CURRENT_USER), FALSE);
    // Without a root, a write opens the local machine's key first, even when reads came from the user's.
    EXPECT_EQ(registry->SetDWORDValue(L"d", 7), TRUE);
    EXPECT_EQ(keys.dword(HKEY_LOCAL_MACHINE, L"d"), 7);
    EXPECT_EQ(keys.dword(HKEY_CURRENT_USER, L"d"), -1);
    EXPECT_EQ(impl(registry).access(), CDPXRegistryImpl::kWriteAccess);
    EXPECT_EQ(registry->CloseKey(), TRUE);
    EXPECT_EQ(impl(registry).access(), CDPXRegistryImpl::kNoAccess);

    // Without the user's key the machine's is read.
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, keys.path()), ERROR_SUCCESS);
    ASSERT_EQ(registry->OpenKey(keys.path(), nullptr), TRUE);
    EXPECT_STREQ(registry->GetStringValue(L"v", L"-"), L"machine");
    registry->CloseKey();

    // Under neither root: opened without a key, reads give the default, a write creates the key
    // under the local machine, or under the given root.
    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, keys.path()), ERROR_SUCCESS);
    ASSERT_EQ(registry->OpenKey(keys.path(), nullptr), TRUE);
    const wchar_t* fallback = L"default";
    EXPECT_EQ(registry->GetStringValue(L"v", fallback), fallback);
    EXPECT_EQ(registry->GetDWORDValue(L"d", 42), 42u);
    EXPECT_TRUE(registry->EnumSubKeys().empty());
    EXPECT_EQ(registry->SetDWORDValue(L"d", 8), TRUE);
    EXPECT_EQ(impl(registry).access(), CDPXRegistryImpl::kCreatedAccess);
    EXPECT_EQ(keys.dword(HKEY_LOCAL_MACHINE, L"d"), 8);
    EXPECT_FALSE(keys.exists(HKEY_CURRENT_USER));
    registry->CloseKey();
    ASSERT_EQ(registry->OpenKey(keys.path(), HKEY_CURRENT_USER), TRUE);
    EXPECT_EQ(registry->SetStringValue(L"s", L"text"), TRUE);
    EXPECT_TRUE(keys.exists(HKEY_CURRENT_USER));
    EXPECT_STREQ(registry->GetStringValue(L"s", L"-"), L"text");

    // Deleting a subkey tree, a value, and a name that is neither.
    for (const wchar_t* subKey : {L"\\sub\\deeper", L"\\another"})
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (keys.path() + std::wstring(subKey)).c_str(), L"x", REG_SZ, L"", 2),
                  ERROR_SUCCESS);
    EXPECT_EQ(registry->EnumSubKeys(), (std::vector<std::wstring>{L"another", L"sub"}));
    EXPECT_EQ(registry->DeleteEntry(L"sub"), TRUE);
    EXPECT_EQ(registry->DeleteEntry(L"s"), TRUE);
    EXPECT_EQ(registry->DeleteEntry(L"nothing"), TRUE);
    EXPECT_EQ(registry->DeleteEntry(nullptr), FALSE);
    EXPECT_EQ(registry->EnumSubKeys(), std::vector<std::wstring>{L"another"});
    EXPECT_STREQ(registry->GetStringValue(L"s", L"-"), L"-");
    // The empty name is the default value, never the whole key.
    EXPECT_EQ(registry->DeleteEntry(L""), TRUE);
    EXPECT_EQ(registry->EnumSubKeys(), std::vector<std::wstring>{L"another"});

    // An object that was never opened writes nowhere, not into the root.
    ComPtr<IDPXRegistry> unopened = CreateRegistry();
    EXPECT_EQ(unopened->SetDWORDValue(L"kv-never-written", 1), FALSE);
    EXPECT_EQ(unopened->OpenKey(nullptr, nullptr), FALSE);
    EXPECT_EQ(unopened->OpenKey(L"", nullptr), FALSE);
}

TEST(HostUtilRegistry, ReadsValuesOfEveryTypeAndLength)
{
    const BothRoots keys;
    const std::wstring longText(20000, L'L');
    const DWORD dword = 0x12345678;
    const unsigned long long qword = 5;
    struct Case {
        const wchar_t* name;
        DWORD type; // REG_NONE: not stored
        const void* data;
        DWORD size;
        std::wstring text;
        DWORD number;
    };
    const Case cases[] = {
        {L"sz", REG_SZ, L"C:\\Program Files", 34, L"C:\\Program Files", 9},
        {L"expand", REG_EXPAND_SZ, L"%TEMP%\\x", 18, L"%TEMP%\\x", 9},
        {L"multi", REG_MULTI_SZ, L"first\0second\0", 28, L"first", 9},
        {L"unterminated", REG_SZ, L"abc", 6, L"abc", 9},
        {L"odd", REG_SZ, L"ab", 3, L"a", 9},
        {L"empty", REG_SZ, nullptr, 0, L"", 9},
        {L"long", REG_SZ, longText.c_str(), static_cast<DWORD>((longText.size() + 1) * 2), longText, 9},
        {L"dword", REG_DWORD, &dword, 4, L"-", 0x12345678},
        {L"qword", REG_QWORD, &qword, 8, L"-", 9},
        {L"binary", REG_BINARY, "a\0b\0", 4, L"-", 9},
        {L"missing", REG_NONE, nullptr, 0, L"-", 9},
    };
    for (const Case& c : cases)
        if (c.type != REG_NONE)
            keys.set(HKEY_CURRENT_USER, c.name, c.type, c.data, c.size);
    ComPtr<IDPXRegistry> registry = CreateRegistry();
    ASSERT_EQ(registry->OpenKeyEx(keys.path(), HKEY_CURRENT_USER, true), TRUE);
    for (const Case& c : cases) {
        EXPECT_EQ(std::wstring(registry->GetStringValue(c.name, L"-")), c.text) << c.name;
        EXPECT_EQ(registry->GetDWORDValue(c.name, 9), c.number) << c.name;
    }
    EXPECT_EQ(registry->GetStringValue(nullptr, nullptr), nullptr);
}

TEST(HostUtilRegistry, CountsReferencesAndAnswersItsInterfaces)
{
    // A registry object that reports its end.
    struct Probe : CDPXRegistryImpl {
        explicit Probe(bool& destroyed) : mDestroyed(destroyed) {}
        ~Probe() override { mDestroyed = true; }
        bool& mDestroyed;
    };
    bool destroyed = false;
    {
        const ComPtr<IDPXRegistry> registry(new Probe(destroyed));
        EXPECT_EQ(registry->AddRef(), 2);
        EXPECT_EQ(registry->Release(), 1);

        void* out = nullptr;
        EXPECT_EQ(registry->QueryInterface(iidIUnknown(), &out), S_OK);
        EXPECT_EQ(out, static_cast<conIUnknown*>(registry.get()));
        EXPECT_EQ(registry->QueryInterface(iidIDPXRegistry(), &out), S_OK);
        EXPECT_EQ(out, registry.get());
        EXPECT_EQ(registry->Release(), 2);
        EXPECT_EQ(registry->Release(), 1);

        const GUID unknownIds[] = {iidIConnectionPointContainer(), {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}};
        for (const GUID& id : unknownIds) {
            out = &out;
            EXPECT_EQ(registry->QueryInterface(id, &out), E_NOINTERFACE);
            EXPECT_EQ(out, nullptr);
        }
        out = &out;
        EXPECT_EQ(registry->ForwardQuery(iidIUnknown(), iidIUnknown(), &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        EXPECT_FALSE(destroyed);
    }
    EXPECT_TRUE(destroyed);
}
