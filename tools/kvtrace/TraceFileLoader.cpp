// Loads trace files in large chunks; the format's sizes are 32-bit, so larger files are refused.
#include "tools/kvtrace/TraceFileLoader.h"

#include "platform/Host.h"
#include "platform/TextConvert.h"
#include "tools/common/Cli.h"
#include "tools/kvtrace/Commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace kvtrace {

bool loadTraceFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& problem)
{
    platform::UniqueFile file(platform::openFileUtf8(path, "rb"));
    if (!file) {
        problem = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    std::error_code error;
    const std::filesystem::path fsPath(platform::utf8ToWide(path));
    if (!std::filesystem::is_regular_file(fsPath, error)) {
        problem = "cannot read: not a regular file";
        return false;
    }
    const uintmax_t size = std::filesystem::file_size(fsPath, error);
    if (error) {
        problem = "cannot read: " + error.message();
        return false;
    }
    if (size > 0xFFFFFFFFu) {
        problem = "too large for a trace file";
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    constexpr size_t kChunk = 4 << 20;
    cli::ProgressBar progress("reading", bytes.size());
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t want = std::min(kChunk, bytes.size() - done);
        const size_t got = std::fread(bytes.data() + done, 1, want, file.get());
        done += got;
        progress.update(done);
        if (got != want) {
            problem = std::ferror(file.get()) ? std::string("cannot read: ") + std::strerror(errno)
                                              : std::string("file shrank while it was read");
            return false;
        }
    }
    return true;
}

int loadCommandFile(const std::vector<std::string>& files, std::vector<uint8_t>& bytes)
{
    if (files.size() != 1)
        return cli::usageError(kTool, files.empty() ? "missing FILE" : "only one FILE at a time");
    std::string problem;
    if (!loadTraceFile(files[0], bytes, problem))
        return cli::fail(kTool, files[0], problem);
    return cli::kExitOk;
}

} // namespace kvtrace
