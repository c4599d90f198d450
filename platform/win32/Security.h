// Security descriptors from their text (SDDL), converted by the system. The policies (which
// rights, for what) belong to the modules that give them: the trace objects' in trace/win32,
// the installer's folders' in hostutil/win32.
#pragma once

#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"

namespace platform::win32 {

// The self-relative descriptor the text describes (SDDL revision 1), or empty on failure. The
// conversion is looked up in advapi32 from the system folder at run time.
UniqueLocal descriptorFromSddl(const wchar_t* text);

} // namespace platform::win32
