// kvtrace's system-only commands where there are none: following a live file and collecting
// copies need the Windows named objects.
#include "tools/kvtrace/Commands.h"

namespace kvtrace {

std::vector<PlatformCommand> platformCommands()
{
    return {};
}

} // namespace kvtrace
