// kvtrace, the trace viewer: entry point.
#include "tools/kvtrace/Commands.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    const int status = kvtrace::run(std::vector<std::string>(argv + 1, argv + argc), std::cout);
    std::cout.flush();
    return status;
}
