// Security descriptors under Wine: which folders get the fixed rights, what the trace objects'
// descriptor names, and the low-integrity label on kernel objects.
#include "platform/win32/Security.h"

#include "platform/TextConvert.h"
#include "tests/support/win32/Win32Support.h"

#include <gtest/gtest.h>

#include <sddl.h>

using namespace platform::win32;

TEST(Security, ProgramFilesIsMatchedAnywhereInAnyCase)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* programFiles;
        bool under;
    };
    const Case cases[] = {
        {L"C:\\Program Files\\Kavari", L"C:\\Program Files", true},
        {L"c:\\PROGRAM FILES\\kavari\\bin", L"C:\\Program Files", true},
        {L"\\\\?\\C:\\Program Files\\Kavari", L"C:\\Program Files", true}, // a substring, not a prefix
        {L"C:\\Program Files (x86)\\Kavari", L"C:\\Program Files", true},
        {L"C:\\Users\\me\\AppData", L"C:\\Program Files", false},
        {L"C:\\Program", L"C:\\Program Files", false},
        {L"C:\\anything", L"", false}, // no Program Files folder known: nothing is inside it
    };
    for (const Case& c : cases)
        EXPECT_EQ(isUnderProgramFiles(c.path, c.programFiles), c.under) << platform::wideToUtf8(c.path);
}

// Wine accepts folder rights without keeping them, so the descriptor itself is checked.
TEST(Security, FolderDescriptorGivesAdministratorsPowerUsersAndUsersTheirRights)
{
    const UniqueLocal descriptor = makeFolderSecurityDescriptor();
    ASSERT_TRUE(descriptor);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl);
    const struct {
        WELL_KNOWN_SID_TYPE who;
        ACCESS_MASK rights;
    } expected[] = {{WinBuiltinAdministratorsSid, GENERIC_ALL},
                    {WinBuiltinPowerUsersSid, GENERIC_ALL},
                    {WinBuiltinUsersSid, GENERIC_READ | GENERIC_EXECUTE}};
    ASSERT_EQ(dacl->AceCount, 3u);
    for (DWORD i = 0; i < 3; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(allowed->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(allowed->Mask, expected[i].rights);
        uint8_t sid[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof sid;
        ASSERT_TRUE(CreateWellKnownSid(expected[i].who, nullptr, sid, &size));
        EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&allowed->SidStart), sid)) << "entry " << i;
    }
}

TEST(Security, TraceObjectsNameTheUserAndTheLogonSession)
{
    CKvrSDManager manager;
    ASSERT_NE(manager.getToken(), nullptr);
    const std::wstring user = manager.getUserSid() ? manager.getUserSid() : L"";
    const std::wstring logon = manager.getLogonSid() ? manager.getLogonSid() : L"";
    EXPECT_EQ(user.compare(0, 4, L"S-1-"), 0);
    EXPECT_EQ(logon.compare(0, 8, L"S-1-5-5-"), 0);
    EXPECT_EQ(
        manager.descriptorText(),
        L"D:(A;OICI;GA;;;SY)(A;OICI;GA;;;SU)(A;OICI;GA;;;BA)(A;OICI;GA;;;PU)(A;OICI;GA;;;AU)(A;OICI;GA;;;" +
            user + L")(A;OICI;GA;;;" + logon + L")");
    EXPECT_NE(manager.getSecurityDescriptor(), nullptr);

    // A mutex made with it opens again by name; the label goes onto existing objects only.
    const std::wstring name = test_support::uniqueObjectName(L"KvSecurityTest");
    SECURITY_ATTRIBUTES attributes{sizeof attributes, getTraceSecurityDescriptor(), FALSE};
    const UniqueMutex mutex(CreateMutexW(&attributes, FALSE, name.c_str()));
    ASSERT_TRUE(mutex);
    EXPECT_TRUE(UniqueMutex(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str())));
    // Wine accepts labels and keeps none, so only the answer can be checked here.
    EXPECT_TRUE(setLowIntegrityLabel(name.c_str()));
}
