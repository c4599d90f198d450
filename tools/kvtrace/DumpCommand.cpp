// kvtrace dump: the records of a trace file, oldest first, as text lines or JSON, filtered.
#include "tools/common/Cli.h"
#include "tools/kvtrace/Commands.h"
#include "tools/kvtrace/RecordFilter.h"
#include "tools/kvtrace/RecordFormat.h"
#include "tools/kvtrace/TraceFileLoader.h"
#include "trace/TraceReader.h"

#include <ostream>

namespace kvtrace {

namespace {

const char kDumpHelp[] =
    "Usage: kvtrace dump [OPTIONS] FILE\n"
    "Prints the records of a trace file, oldest first, one line each:\n"
    "  TIME Llevel pid=PID tid=TID #SEQ MODULE: TEXT\n"
    "with the time in UTC and milliseconds.\n\n"
    "Options:\n"
    "  --json          one JSON object per line: seq, time, pid, tid, level, module,\n"
    "                  category, text, name, and hr_time_us when the record has it\n"
    "  --level N       only records of level N or above (writers use 1, 2, 4 and 8)\n"
    "  --module NAME   only records of this module, case ignored\n"
    "  --pid N         only records of this process\n"
    "  --grep TEXT     only records whose text contains TEXT\n"
    "  --help          this text\n"
    "  --              ends the options: FILE may then start with '-'\n\n"
    "A record whose writer had not finished it is shown as such when no filter is given.\n"
    "Control characters in a record's strings are escaped (\\n, \\x1b, \\u0085), so no record\n"
    "can move the cursor or forge a line.\n"
    "Exit status: 0 done; 1 the file cannot be read, is not a trace file, or is damaged\n"
    "(what can be read is printed first); 2 usage error.\n";

bool parseUnsigned(const std::string& text, uint32_t& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFu)
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}

class DumpVisitor : public trace::TraceVisitor {
public:
    DumpVisitor(std::ostream& out, const RecordFilter& filter, bool json, uint32_t expected)
        : mOut(out), mFilter(filter), mJson(json), mProgress("dumping", expected)
    {
        mBuffer.reserve(kFlushAt + 16384);
    }

    void record(const trace::TraceRecordView& record) override
    {
        mStrings.assign(record);
        if (mFilter.matches(record, mStrings)) {
            if (mJson)
                appendJsonLine(mBuffer, record, mStrings);
            else
                appendTextLine(mBuffer, record, mStrings);
        }
        step();
    }

    void incomplete(const trace::IncompleteRecord& record) override
    {
        if (!mFilter.any()) {
            if (mJson)
                appendIncompleteJsonLine(mBuffer, record);
            else
                appendIncompleteTextLine(mBuffer, record);
        }
        step();
    }

    void flush()
    {
        mOut.write(mBuffer.data(), static_cast<std::streamsize>(mBuffer.size()));
        mBuffer.clear();
    }

private:
    static constexpr size_t kFlushAt = 1 << 20;

    void step()
    {
        if (mBuffer.size() >= kFlushAt)
            flush();
        if (++mDone % 65536 == 0)
            mProgress.update(mDone);
    }

    std::ostream& mOut;
    const RecordFilter& mFilter;
    bool mJson;
    cli::ProgressBar mProgress;
    RecordStrings mStrings;
    std::string mBuffer;
    uint64_t mDone = 0;
};

} // namespace

// Shared by the commands that read one file: the header problem or damage as an error line.
int reportFileState(const std::string& path, const trace::TraceReadResult& result)
{
    if (result.header == trace::HeaderCheck::BadVersion)
        return cli::fail(kTool, path,
                         "unsupported trace format version " + std::to_string(result.fields.version));
    if (result.header != trace::HeaderCheck::Valid)
        return cli::fail(kTool, path, trace::describe(result.header));
    if (result.damaged())
        return cli::fail(kTool, path, "damaged: " + result.problems.front());
    return cli::kExitOk;
}

int dumpCommand(const std::vector<std::string>& args, std::ostream& out)
{
    RecordFilter filter;
    bool json = false;
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded) {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help") {
            out << kDumpHelp;
            return cli::kExitOk;
        }
        if (arg == "--json") {
            json = true;
            continue;
        }
        if (arg.size() < 2 || arg[0] != '-' || arg[1] != '-') {
            if (!arg.empty() && arg[0] == '-' && arg != "-")
                return cli::usageError(kTool, "unknown option '" + arg + "'");
            files.push_back(arg);
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (name != "--level" && name != "--module" && name != "--pid" && name != "--grep")
            return cli::usageError(kTool, "unknown option '" + arg + "'");
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return cli::usageError(kTool, "option '" + name + "' needs a value");
        }
        uint32_t number = 0;
        if (name == "--module") {
            filter.module = value;
        } else if (name == "--grep") {
            filter.grep = value;
        } else if (!parseUnsigned(value, number)) {
            return cli::usageError(kTool, "option '" + name + "' needs a number, not '" + value + "'");
        } else if (name == "--level") {
            filter.minLevel = number;
        } else {
            filter.processId = number;
        }
    }
    platform::MappedFile file;
    if (const int status = openCommandFile(files, file); status != cli::kExitOk)
        return status;
    const std::string& path = files[0];
    const size_t size = static_cast<size_t>(file.size());
    const auto header = trace::readTraceHeader(file.data(), size);
    DumpVisitor visitor(out, filter, json, header ? header->recordCount : 0);
    const trace::TraceReadResult result = trace::readTraceFile(file.data(), size, &visitor, file.fileSize());
    visitor.flush();
    out.flush();
    return reportFileState(path, result);
}

} // namespace kvtrace
