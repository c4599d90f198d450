// The trace objects' descriptor names the user and the logon session; the low-integrity label
// goes onto existing objects.
#include "trace/win32/TraceSecurity.h"

#include "tests/support/win32/Win32Support.h"

#include <gtest/gtest.h>

using namespace trace::win32;
using platform::win32::UniqueMutex;

TEST(TraceSecurity, TraceObjectsNameTheUserAndTheLogonSession)
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

    // The label goes onto existing objects only; that others open them, the writer tests show.
    const std::wstring name = test_support::uniqueObjectName(L"KvSecurityTest");
    SECURITY_ATTRIBUTES attributes{sizeof attributes, getTraceSecurityDescriptor(), FALSE};
    const UniqueMutex mutex(CreateMutexW(&attributes, FALSE, name.c_str()));
    ASSERT_TRUE(mutex);
    // Wine accepts labels and keeps none, so only the answer can be checked here.
    EXPECT_TRUE(setLowIntegrityLabel(name.c_str()));
}
