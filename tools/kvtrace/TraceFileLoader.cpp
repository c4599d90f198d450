// Opening trace files; the format's sizes are 32-bit, so larger files are refused.
#include "tools/kvtrace/TraceFileLoader.h"

#include "tools/common/Cli.h"
#include "tools/kvtrace/Commands.h"
#include "trace/TraceFormat.h"

#include <algorithm>
#include <cstdint>

namespace kvtrace {

// A trace file's sizes are 32-bit, so every accepted file's size converts to size_t exactly.
static_assert(uint64_t{0xFFFFFFFFu} <= SIZE_MAX, "a trace file's size must fit size_t");

bool openTraceFile(const std::string& path, platform::MappedFile& file, std::string& problem)
{
    // The header first, then only the bytes it names: the reader uses nothing beyond them, and a
    // 32-bit process could not map a large file whole.
    if (!file.open(path, problem, trace::kHeaderSize))
        return false;
    if (file.fileSize() > 0xFFFFFFFFu) {
        file.close();
        problem = "too large for a trace file";
        return false;
    }
    const auto header = trace::readTraceHeader(file.data(), static_cast<size_t>(file.size()));
    if (!header || trace::checkTraceHeader(file.data(), static_cast<size_t>(file.size())) != trace::HeaderCheck::Valid)
        return true;
    return file.open(path, problem, std::min<uint64_t>(file.fileSize(), header->fileSize));
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
