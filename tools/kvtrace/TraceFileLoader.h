// Opening the one trace file a command reads: a regular file, mapped read-only, at most 4 GiB.
#pragma once

#include "platform/Host.h"

#include <string>
#include <vector>

namespace kvtrace {

// Maps the file; on failure false and a short problem text ("is a folder, not a file", ...).
// Only the pages the reader touches are read, so a large file that is not a trace file is
// refused as fast as a small one.
bool openTraceFile(const std::string& path, platform::MappedFile& file, std::string& problem);

// Opens the one FILE a command takes. Returns cli::kExitOk with the file mapped, or the exit
// status of the usage error or failure, which is already reported.
int openCommandFile(const std::vector<std::string>& files, platform::MappedFile& file);

} // namespace kvtrace
