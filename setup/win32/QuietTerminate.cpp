// The stub's handler for an exception that nothing catches: abort, as the default handler does
// after it has printed the exception's demangled type to stderr, which a GUI program does not
// have. Defining it keeps the runtime's demangler (about 46 KB) out of the setup program.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler()
{
    std::abort();
}

} // namespace __gnu_cxx
