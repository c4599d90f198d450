// How kvtrace shows one record: a text line for people, a JSON object for programs.
#pragma once

#include "trace/TraceReader.h"

#include <cstdint>
#include <string>

namespace kvtrace {

// The strings of a record in UTF-8, converted once and shared by filters and formatters.
struct RecordStrings {
    std::string module;
    std::string category;
    std::string text;
    std::string name;

    void assign(const trace::TraceRecordView& record);
};

// "2026-12-05 09:07:03.123" (iso = false) or "2026-12-05T09:07:03.123Z" (iso = true), UTC.
void appendTime(std::string& out, uint32_t seconds, uint16_t milliseconds, bool iso);

// "TIME Llevel pid=P tid=T #seq MODULE: text" and a newline. Control characters in the text are
// shown escaped so that one record stays one line; a line end at the text's end is dropped.
void appendTextLine(std::string& out, const trace::TraceRecordView& record, const RecordStrings& strings);

// One JSON object and a newline: seq, time, pid, tid, level, module, category, text, name, and
// hr_time_us when the record carries it.
void appendJsonLine(std::string& out, const trace::TraceRecordView& record, const RecordStrings& strings);

void appendIncompleteTextLine(std::string& out, const trace::IncompleteRecord& record);
void appendIncompleteJsonLine(std::string& out, const trace::IncompleteRecord& record);

} // namespace kvtrace
