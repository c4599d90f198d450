// Opening trace files; the format's sizes are 32-bit, so larger files are refused.
#include "tools/kvtrace/TraceFileLoader.h"

#include "tools/common/Cli.h"
#include "tools/kvtrace/Commands.h"

#include <cstdint>

namespace kvtrace {

// A trace file's sizes are 32-bit, so every accepted file's size converts to size_t exactly.
static_assert(uint64_t{0xFFFFFFFFu} <= SIZE_MAX, "a trace file's size must fit size_t");

bool openTraceFile(const std::string& path, platform::MappedFile& file, std::string& problem)
{
    if (!file.open(path, problem))
        return false;
    if (file.size() > 0xFFFFFFFFu) {
        file.close();
        problem = "too large for a trace file";
        return false;
    }
    return true;
}

int openCommandFile(const std::vector<std::string>& files, platform::MappedFile& file)
{
    if (files.size() != 1)
        return cli::usageError(kTool, files.empty() ? "missing FILE" : "only one FILE at a time");
    std::string problem;
    if (!openTraceFile(files[0], file, problem))
        return cli::fail(kTool, files[0], problem);
    return cli::kExitOk;
}

} // namespace kvtrace
