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

// The commands, with the arguments that follow the command name.
int dumpCommand(const std::vector<std::string>& args, std::ostream& out);
int infoCommand(const std::vector<std::string>& args, std::ostream& out);

} // namespace kvtrace
