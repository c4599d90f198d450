// Folder and trace-object security descriptors. The folder rights are applied by the trace
// library's security work; until then a created folder keeps the rights it was created with.
#include "platform/win32/Security.h"

namespace platform::win32 {

void applyFolderSecurity(const std::wstring&, const std::wstring&) {}

} // namespace platform::win32
