// Text and JSON forms of records, with a calendar of its own so that no C library's time
// functions (which differ between platforms) are involved.
#include "tools/kvtrace/RecordFormat.h"

#include "tools/common/Cli.h"

namespace kvtrace {

namespace {

void appendDigits(std::string& out, uint32_t value, int width)
{
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && n < 10);
    for (int i = n; i < width; ++i)
        out += '0';
    while (n > 0)
        out += digits[--n];
}

void appendNumber(std::string& out, uint64_t value)
{
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0)
        out += digits[--n];
}

} // namespace

void RecordStrings::assign(const trace::TraceRecordView& record)
{
    module.clear();
    category.clear();
    text.clear();
    name.clear();
    trace::appendTraceText(module, record.module);
    trace::appendTraceText(category, record.category);
    trace::appendTraceText(text, record.text);
    trace::appendTraceText(name, record.name);
}

void appendTime(std::string& out, uint32_t seconds, uint16_t milliseconds, bool iso)
{
    // Civil date from days since 1970-01-01 (the proleptic Gregorian calendar, in eras of 400 years).
    const uint32_t days = seconds / 86400;
    const uint32_t secondOfDay = seconds % 86400;
    const uint32_t z = days + 719468;
    const uint32_t era = z / 146097;
    const uint32_t dayOfEra = z - era * 146097;
    const uint32_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const uint32_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const uint32_t mp = (5 * dayOfYear + 2) / 153;
    const uint32_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const uint32_t month = mp < 10 ? mp + 3 : mp - 9;
    const uint32_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    appendDigits(out, year, 4);
    out += '-';
    appendDigits(out, month, 2);
    out += '-';
    appendDigits(out, day, 2);
    out += iso ? 'T' : ' ';
    appendDigits(out, secondOfDay / 3600, 2);
    out += ':';
    appendDigits(out, secondOfDay / 60 % 60, 2);
    out += ':';
    appendDigits(out, secondOfDay % 60, 2);
    out += '.';
    // A damaged record may hold more than 999; shown as it is rather than hidden.
    appendDigits(out, milliseconds, 3);
    if (iso)
        out += 'Z';
}

void appendTextLine(std::string& out, const trace::TraceRecordView& record, const RecordStrings& strings)
{
    appendTime(out, record.seconds, record.milliseconds, false);
    out += " L";
    appendNumber(out, record.level);
    out += " pid=";
    appendNumber(out, record.processId);
    out += " tid=";
    appendNumber(out, record.threadId);
    out += " #";
    appendNumber(out, record.sequence);
    out += ' ';
    cli::appendPrintable(out, strings.module);
    out += ": ";
    size_t length = strings.text.size();
    while (length > 0 && (strings.text[length - 1] == '\n' || strings.text[length - 1] == '\r'))
        --length;
    cli::appendPrintable(out, std::string_view(strings.text).substr(0, length));
    out += '\n';
}

void appendJsonLine(std::string& out, const trace::TraceRecordView& record, const RecordStrings& strings)
{
    out += "{\"seq\":";
    appendNumber(out, record.sequence);
    out += ",\"time\":\"";
    appendTime(out, record.seconds, record.milliseconds, true);
    out += "\",\"pid\":";
    appendNumber(out, record.processId);
    out += ",\"tid\":";
    appendNumber(out, record.threadId);
    out += ",\"level\":";
    appendNumber(out, record.level);
    out += ",\"module\":\"";
    cli::appendJsonEscaped(out, strings.module);
    out += "\",\"category\":\"";
    cli::appendJsonEscaped(out, strings.category);
    out += "\",\"text\":\"";
    cli::appendJsonEscaped(out, strings.text);
    out += "\",\"name\":\"";
    cli::appendJsonEscaped(out, strings.name);
    out += '"';
    if (record.hasHighResTime) {
        out += ",\"hr_time_us\":";
        appendNumber(out, record.highResTimeUs);
    }
    out += "}\n";
}

void appendIncompleteTextLine(std::string& out, const trace::IncompleteRecord& record)
{
    out += "-- record #";
    appendNumber(out, record.sequence);
    out += " at offset ";
    appendNumber(out, record.offset);
    out += " is not complete\n";
}

void appendIncompleteJsonLine(std::string& out, const trace::IncompleteRecord& record)
{
    out += "{\"seq\":";
    appendNumber(out, record.sequence);
    out += ",\"incomplete\":true,\"offset\":";
    appendNumber(out, record.offset);
    out += "}\n";
}

} // namespace kvtrace
