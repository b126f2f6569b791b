// The program has no console to print the name of an exception that escaped
// everything, so it ends at once. Defining the runtime's verbose handler here
// also keeps the C++ name demangler (about 50 KiB) out of the program file.
#include <cstdlib>

#if defined(__GNUC__) && !defined(__clang__)
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif
