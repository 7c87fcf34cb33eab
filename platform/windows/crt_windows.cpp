// The floating-point control word and the process end of console_api.h: the C
// runtime's own. On 32-bit x86 it keeps the x87 precision and rounding fields
// and the SSE rounding in step.
#include <float.h>

#include <cfenv>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/console_api.h"

namespace crt {

#if defined(__x86_64__)
namespace {

// The rounding field's settings and the C library's modes.
struct Rounding {
    unsigned bits;
    int mode;
};
constexpr Rounding kRoundings[] = {
    {_RC_NEAR, FE_TONEAREST},
    {_RC_DOWN, FE_DOWNWARD},
    {_RC_UP, FE_UPWARD},
    {_RC_CHOP, FE_TOWARDZERO},
};

}  // namespace

// 64-bit Windows' C runtime sets the SSE unit's rounding alone and keeps no
// precision. The x87 unit, which long double arithmetic and the C library's
// rounding mode go by, is given the same rounding here; the precision reads as
// double's, as on other systems without a precision setting.
unsigned int _controlfp(unsigned int value, unsigned int mask) {
    const unsigned int word = ::_controlfp(value, mask & ~_MCW_PC);
    if ((mask & _MCW_RC) != 0) {
        for (const Rounding& r : kRoundings) {
            if (r.bits == (word & _MCW_RC)) std::fesetround(r.mode);
        }
    }
    return (word & ~_MCW_PC) | _PC_53;
}
#else
unsigned int _controlfp(unsigned int value, unsigned int mask) { return ::_controlfp(value, mask); }
#endif

// The C library's strtod here misses the nearest double for some long texts;
// the standard library's reading does not, but it follows the rounding mode,
// so it gets round-to-nearest for the time it reads.
double decimal_to_double(const char* digits) {
    const unsigned int rounding = _controlfp(0, 0) & _MCW_RC;
    if (rounding != _RC_NEAR) _controlfp(_RC_NEAR, _MCW_RC);
    const char* const end = digits + std::strlen(digits);
    double value = 0.0;
    if (std::from_chars(digits, end, value).ec == std::errc::result_out_of_range) {
        // Out of range: the digits ahead of the exponent and the exponent
        // tell a value past the largest double from one below the smallest.
        const char* const e = std::strchr(digits, 'e');
        int exponent = 0;
        std::from_chars(e + 1, end, exponent);
        value = (e - digits) + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    if (rounding != _RC_NEAR) _controlfp(rounding, _MCW_RC);
    return value;
}

void exit(int status) { std::exit(status); }

int atexit(void (*function)()) { return std::atexit(function); }

}  // namespace crt
