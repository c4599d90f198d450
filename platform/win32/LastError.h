// The system's last error, taken once, as the number the logs carry and as a readable message.
#pragma once

#include <cstdint>
#include <string>

namespace platform::win32 {

struct LastError {
    uint32_t code = 0;

    // GetLastError, read at once so that no later call (a log line, an allocation) replaces it.
    static LastError take();
    // The system's text for the code in UTF-8 without its line break, or "error N" when it has none.
    std::string message() const;
};

} // namespace platform::win32
