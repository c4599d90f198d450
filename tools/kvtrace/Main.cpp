// kvtrace, the trace viewer: entry point.
#include "tools/common/Cli.h"
#include "tools/kvtrace/Commands.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    const int status = kvtrace::run(cli::arguments(argc, argv), std::cout);
    std::cout.flush();
    return status;
}
