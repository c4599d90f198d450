// Captures the records written straight to the trace (trace::traceFormatted) for one test.
#pragma once

#include "trace/DirectTrace.h"

#include <string>
#include <vector>

namespace peimage_test {

class TraceCapture {
public:
    TraceCapture()
    {
        mPrevious = trace::setDirectWriter(&TraceCapture::write);
        lines().clear();
    }
    ~TraceCapture() { trace::setDirectWriter(mPrevious); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // Each record as "level:text".
    static std::vector<std::string>& lines()
    {
        static std::vector<std::string> captured;
        return captured;
    }

private:
    static void write(uint32_t level, std::string_view, std::string_view text)
    {
        lines().push_back(std::to_string(level) + ":" + std::string(text));
    }

    trace::DirectWriter mPrevious;
};

} // namespace peimage_test
