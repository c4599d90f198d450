// The rights of folders created inside the Program Files folder: which folders get them, and what
// the descriptor names.
#include "hostutil/win32/FolderSecurity.h"

#include "platform/TextConvert.h"

#include <gtest/gtest.h>

using namespace hostutil;
using platform::win32::UniqueLocal;

TEST(FolderSecurity, ProgramFilesIsMatchedAnywhereInAnyCase)
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
TEST(FolderSecurity, FolderDescriptorGivesAdministratorsPowerUsersAndUsersTheirRights)
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
