// The command table of kvtrace and the top-level help.
#include "tools/kvtrace/Commands.h"

#include "tools/common/Cli.h"

#include <ostream>
#include <utility>

namespace kvtrace {

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(const std::vector<std::string>& args, std::ostream& out);
};

// Reading is portable. The live viewer ("follow") and the log collector are Windows-only
// commands that will join this table from files of their own, built only there.
const Command kCommands[] = {
    {"dump", "print the records of a trace file, oldest first", dumpCommand},
    {"info", "print a trace file's header and whether the file is damaged", infoCommand},
};

std::vector<PlatformCommand>& platformTable()
{
    static std::vector<PlatformCommand> table;
    return table;
}

void printHelp(std::ostream& out)
{
    out << "Usage: kvtrace COMMAND [OPTIONS] FILE\n"
           "Reads the trace files (kvrtra_*.kvl) the product's programs write.\n\n"
           "Commands:\n";
    for (const Command& c : kCommands)
        out << "  " << c.name << std::string(8 - std::string(c.name).size(), ' ') << c.summary << "\n";
    for (const PlatformCommand& c : platformTable())
        out << "  " << c.name << std::string(8 - std::string(c.name).size(), ' ') << c.summary << "\n";
    out << "\nRun 'kvtrace COMMAND --help' for a command's options.\n"
           "Exit status: 0 done, 1 the file cannot be read or is damaged, 2 usage error.\n";
}

} // namespace

void registerPlatformCommands(std::vector<PlatformCommand> commands)
{
    platformTable() = std::move(commands);
}

int run(const std::vector<std::string>& args, std::ostream& out)
{
    if (args.empty())
        return cli::usageError(kTool, "missing command");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printHelp(out);
        return cli::kExitOk;
    }
    for (const Command& c : kCommands) {
        if (args[0] == c.name)
            return cli::guarded(
                kTool, [&]() { return c.run(std::vector<std::string>(args.begin() + 1, args.end()), out); });
    }
    for (const PlatformCommand& c : platformTable()) {
        if (args[0] == c.name)
            return c.run(std::vector<std::string>(args.begin() + 1, args.end()), out);
    }
    return cli::usageError(kTool, "unknown command '" + args[0] + "'");
}

} // namespace kvtrace
