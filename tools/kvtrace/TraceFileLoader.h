// Reading a whole trace file into memory, with a progress bar for large files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvtrace {

// The file's bytes; on failure false and a short problem text ("cannot open: ...").
bool loadTraceFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& problem);

// Reads the one FILE a command takes. Returns cli::kExitOk with the bytes, or the exit status of
// the usage error or failure, which is already reported.
int loadCommandFile(const std::vector<std::string>& files, std::vector<uint8_t>& bytes);

} // namespace kvtrace
