// Fuzz target: writers handed a file whose header and records hold anything must never write
// outside it, and the reader must cope with whatever they leave.
#include "trace/TraceReader.h"
#include "trace/TraceRing.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exactly the input's bytes, so that a sanitizer sees any step past the file.
    std::vector<uint8_t> file(data, data + size);
    trace::TraceRing ring(file.data(), file.size());
    const std::string text(300, 't');
    for (size_t i = 0; i < 8; ++i) {
        const std::string_view part = std::string_view(text).substr((size + i * 37) % text.size());
        trace::writeTraceRecord(ring, trace::TraceRecordInfo{}, trace::TraceStrings8{"F", {}, part, {}});
        trace::readTraceFile(file.data(), file.size(), nullptr);
    }
    return 0;
}
