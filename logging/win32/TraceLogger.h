// The sink that turns every log line of a Windows program into a record of the shared trace file,
// and the calls that start and end logging.
#pragma once

#include "logging/Logger.h"

#include <cstdint>
#include <string>

namespace VDR {

// Level 0, 1, 2, 3 become trace levels 1, 2, 4, 8; any other level writes nothing. Pure ASCII
// lines go out as 8-bit records, others as UTF-16. Never reports a failure and never throws.
class loggerForKavariTrace : public rlxutil::ILogger {
public:
    void log(int32_t level, const std::string& loggerName, const std::string& line) override;
};

} // namespace VDR

// Installs the sink (lines held so far are written now, in order), names the utility logger
// "DPXUtil" after the application (the setup program passes an empty name), and routes the
// records written without a logger to the trace file.
void initLogging(const std::string& applicationName);
// Removes the sink and the direct records' writer; later lines are never written.
void shutdownLogging();
