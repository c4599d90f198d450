// Fuzz target: the trace reader on any bytes must stay inside them, also when every string it
// shows is turned into UTF-8.
#include "trace/TraceReader.h"

#include <cstdlib>

namespace {

struct Visitor : trace::TraceVisitor {
    void record(const trace::TraceRecordView& r) override
    {
        std::string text;
        for (const trace::TraceText* s : {&r.module, &r.category, &r.text, &r.name})
            trace::appendTraceText(text, *s);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Visitor visitor;
    if (trace::readTraceFile(data, size, &visitor).problems.size() > trace::TraceReadResult::kMaxProblems)
        std::abort();
    return 0;
}
