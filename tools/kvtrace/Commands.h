// kvtrace's command table and its commands, callable in-process.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kvtrace {

constexpr const char* kTool = "kvtrace";

// Runs one command line (without the program name). Output goes to `out`; error lines go to
// stderr in the shared tools' form. Returns the exit status: 0, 1 (a file problem), 2 (usage).
int run(const std::vector<std::string>& args, std::ostream& out);

// A command that only some systems have (on Windows: follow, collect). The program registers
// them before run(); kvtrace's tests run the portable table only.
struct PlatformCommand {
    const char* name;
    const char* summary;
    int (*run)(const std::vector<std::string>& args, std::ostream& out);
};
void registerPlatformCommands(std::vector<PlatformCommand> commands);
// This system's commands, from the program's own source for the system.
std::vector<PlatformCommand> platformCommands();

// The commands, with the arguments that follow the command name.
int dumpCommand(const std::vector<std::string>& args, std::ostream& out);
int infoCommand(const std::vector<std::string>& args, std::ostream& out);

} // namespace kvtrace
