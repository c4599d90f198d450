// Fuzz target: the trace reader on any bytes must stay inside them and turn every string it
// shows into valid UTF-8.
#include "trace/TraceReader.h"

#include <cstdlib>
#include <string>

namespace {

struct Visitor : trace::TraceVisitor {
    void record(const trace::TraceRecordView& r) override
    {
        text.clear();
        for (const trace::TraceText* s : {&r.module, &r.category, &r.text, &r.name})
            trace::appendTraceText(text, *s);
        bytes += text.size();
    }
    std::string text;
    size_t bytes = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Visitor visitor;
    const trace::TraceReadResult result = trace::readTraceFile(data, size, &visitor);
    if (result.problems.size() > trace::TraceReadResult::kMaxProblems)
        std::abort();
    return 0;
}
