// Reading a whole trace file into memory, with a progress bar for large files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvtrace {

// The file's bytes; on failure false and a short problem text ("cannot open: ...").
bool loadTraceFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& problem);

} // namespace kvtrace
