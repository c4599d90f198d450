// kvtrace, the trace viewer: entry point.
#include "platform/Host.h"
#include "tools/common/Cli.h"
#include "tools/kvtrace/Commands.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    kvtrace::registerPlatformCommands(kvtrace::platformCommands());
    const int status = kvtrace::run(platform::commandLineArguments(argc, argv), std::cout);
    std::cout.flush();
    return status;
}
