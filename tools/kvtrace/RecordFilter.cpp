// Matching records against kvtrace's filter options.
#include "tools/kvtrace/RecordFilter.h"

namespace kvtrace {

namespace {

bool sameIgnoringAsciiCase(const std::string& a, const std::string& b, size_t length)
{
    if (a.size() < length || b.size() != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

bool RecordFilter::matches(const trace::TraceRecordView& record, const RecordStrings& strings) const
{
    if (minLevel && record.level < *minLevel)
        return false;
    if (processId && record.processId != *processId)
        return false;
    if (module) {
        // Writers store "module@record" when a record name is given.
        const size_t at = strings.module.find('@');
        const size_t length = at == std::string::npos ? strings.module.size() : at;
        if (!sameIgnoringAsciiCase(strings.module, *module, length) &&
            !sameIgnoringAsciiCase(strings.module, *module, strings.module.size()))
            return false;
    }
    if (grep && strings.text.find(*grep) == std::string::npos)
        return false;
    return true;
}

} // namespace kvtrace
