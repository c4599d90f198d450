// kvtrace info: a trace file's header, the state of its ring, and whether it is damaged.
#include "tools/common/Cli.h"
#include "tools/kvtrace/Commands.h"
#include "tools/kvtrace/TraceFileLoader.h"
#include "trace/TraceReader.h"

#include <ostream>

namespace kvtrace {

int reportFileState(const std::string& path, const trace::TraceReadResult& result);

namespace {

const char kInfoHelp[] = "Usage: kvtrace info [--] FILE\n"
                         "Prints a trace file's header fields, the state of its ring and what, if\n"
                         "anything, is damaged in it.\n"
                         "Exit status: 0 a good trace file; 1 the file cannot be read, is not a trace\n"
                         "file, or is damaged (the fields are printed first); 2 usage error.\n";

void line(std::ostream& out, const char* label, const std::string& value)
{
    out << label << std::string(20 - std::string(label).size(), ' ') << value << '\n';
}

} // namespace

int infoCommand(const std::vector<std::string>& args, std::ostream& out)
{
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (optionsEnded) {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help") {
            out << kInfoHelp;
            return cli::kExitOk;
        }
        if (!arg.empty() && arg[0] == '-' && arg != "-")
            return cli::usageError(kTool, "unknown option '" + arg + "'");
        files.push_back(arg);
    }
    platform::MappedFile file;
    if (const int status = openCommandFile(files, file); status != cli::kExitOk)
        return status;
    const std::string& path = files[0];
    const trace::TraceReadResult result =
        trace::readTraceFile(file.data(), static_cast<size_t>(file.size()), nullptr, file.fileSize());
    if (result.header != trace::HeaderCheck::Valid)
        return reportFileState(path, result);

    const trace::TraceFileHeader& h = result.fields;
    using std::to_string;
    line(out, "file:", cli::printable(path));
    line(out, "format version:", to_string(h.version));
    line(out, "file size:",
         to_string(result.actualSize) + " bytes" +
             (result.actualSize != h.fileSize ? ", header says " + to_string(h.fileSize) : ""));
    line(out, "records:", to_string(h.recordCount));
    line(out, "free bytes:", to_string(h.freeBytes));
    line(out, "oldest record:", to_string(h.oldestRecord));
    line(out, "end of valid data:", to_string(h.endOfValidData));
    line(out, "write offset:", to_string(h.writeOffset));
    line(out, "last sequence:", to_string(h.lastSequence));
    line(out, "created at tick:", to_string(h.creationTick));
    line(out, "ring:",
         result.wrapped ? "wrapped"
         : result.cut   ? "not wrapped, cut to its write offset"
                        : "not wrapped");
    line(out, "readable records:", to_string(result.records));
    if (result.incomplete != 0)
        line(out, "unfinished records:", to_string(result.incomplete));
    line(out, "state:", result.damaged() ? "damaged" : "good");
    for (const std::string& p : result.problems)
        line(out, "problem:", cli::printable(p));
    out.flush();
    return reportFileState(path, result);
}

} // namespace kvtrace
