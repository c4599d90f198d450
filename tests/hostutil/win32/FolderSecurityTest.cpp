// The rights of folders created inside the Program Files folder: which folders get them, and what
// the descriptor names.
#include "hostutil/win32/FolderSecurity.h"

#include "platform/TextConvert.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

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

// Wine accepts folder rights without keeping them, so the descriptor itself is checked, as the
// system prints it: Administrators and Power Users all rights, Users read and run, all inherited.
TEST(FolderSecurity, FolderDescriptorGivesAdministratorsPowerUsersAndUsersTheirRights)
{
    const UniqueLocal descriptor = makeFolderSecurityDescriptor();
    ASSERT_TRUE(descriptor);
    wchar_t* text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &text, nullptr));
    const UniqueLocal owner(text);
    EXPECT_EQ(std::wstring(text), L"D:(A;OICI;GA;;;BA)(A;OICI;GA;;;PU)(A;OICI;GXGR;;;BU)");
}
