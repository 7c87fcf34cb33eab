// The floating-point control word and the process end of console_api.h: the C
// runtime's own, which keeps the x87 precision and rounding fields and the SSE
// rounding in step.
#include <float.h>

#include <cstdlib>

#include "platform/console_api.h"

namespace crt {

unsigned int _controlfp(unsigned int value, unsigned int mask) { return ::_controlfp(value, mask); }

void exit(int status) { std::exit(status); }

int atexit(void (*function)()) { return std::atexit(function); }

}  // namespace crt
