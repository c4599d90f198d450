// Which records kvtrace shows: the --level, --module, --pid and --grep options.
#pragma once

#include "tools/kvtrace/RecordFormat.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kvtrace {

struct RecordFilter {
    std::optional<uint32_t> minLevel;  // shows levels at or above this one
    std::optional<std::string> module; // the module name, without case; "name" also matches "name@record"
    std::optional<uint32_t> processId;
    std::optional<std::string> grep; // a plain substring of the text, with case

    bool any() const { return minLevel || module || processId || grep; }
    bool matches(const trace::TraceRecordView& record, const RecordStrings& strings) const;
};

} // namespace kvtrace
