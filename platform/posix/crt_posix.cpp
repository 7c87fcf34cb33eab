// The floating-point control word and the process end of console_api.h, for
// systems without the C runtime that has them.
#include <cerrno>
#include <cfenv>
#include <cstdlib>

#include "platform/console_api.h"
#include "platform/posix/console_host.h"

#if defined(__i386__) || defined(__x86_64__)
#include <fpu_control.h>
#endif
#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace crt {
namespace {

// Control word bits.
constexpr unsigned kRoundingMask = 0x300;
constexpr unsigned kRoundNearest = 0x000;
constexpr unsigned kPrecisionMask = 0x30000;
constexpr unsigned kPrecision53 = 0x10000;

#if defined(__x86_64__)
// The rounding field sits two bits higher in the x87 control word and five
// bits higher in the SSE unit's MXCSR, with the same four settings. Both units
// get it: double arithmetic goes by the SSE unit, long double and the C
// library's rounding mode by the x87 unit. Read straight from the units, the
// mode needs no maths library.
constexpr int kX87RoundingShift = 2;
constexpr int kSseRoundingShift = 5;

unsigned rounding_bits() {
    fpu_control_t cw;
    _FPU_GETCW(cw);
    return (cw >> kX87RoundingShift) & kRoundingMask;
}

void set_rounding(unsigned bits) {
    fpu_control_t cw;
    _FPU_GETCW(cw);
    cw = static_cast<fpu_control_t>((cw & ~(kRoundingMask << kX87RoundingShift)) | (bits << kX87RoundingShift));
    _FPU_SETCW(cw);
    _mm_setcsr((_mm_getcsr() & ~(kRoundingMask << kSseRoundingShift)) | (bits << kSseRoundingShift));
}
#else
constexpr unsigned kRoundDown = 0x100;
constexpr unsigned kRoundUp = 0x200;
constexpr unsigned kRoundTowardZero = 0x300;

struct Rounding {
    unsigned bits;
    int mode;
};
constexpr Rounding kRoundings[] = {
    {kRoundNearest, FE_TONEAREST},
    {kRoundDown, FE_DOWNWARD},
    {kRoundUp, FE_UPWARD},
    {kRoundTowardZero, FE_TOWARDZERO},
};

unsigned rounding_bits() {
    const int mode = std::fegetround();
    for (const Rounding& r : kRoundings) {
        if (r.mode == mode) return r.bits;
    }
    return kRoundNearest;
}

void set_rounding(unsigned bits) {
    for (const Rounding& r : kRoundings) {
        if (r.bits == bits) std::fesetround(r.mode);
    }
}
#endif

#if defined(__i386__)
// Only the x87 unit has a precision setting; it is kept in its own control
// word.
constexpr unsigned kPrecision64 = 0x00000;
constexpr unsigned kPrecision24 = 0x20000;
struct Precision {
    unsigned bits;
    fpu_control_t x87;
};
constexpr Precision kPrecisions[] = {
    {kPrecision64, _FPU_EXTENDED},
    {kPrecision53, _FPU_DOUBLE},
    {kPrecision24, _FPU_SINGLE},
};
constexpr fpu_control_t kX87PrecisionMask = _FPU_EXTENDED | _FPU_DOUBLE | _FPU_SINGLE;

unsigned precision_bits() {
    fpu_control_t cw;
    _FPU_GETCW(cw);
    for (const Precision& p : kPrecisions) {
        if ((cw & kX87PrecisionMask) == p.x87) return p.bits;
    }
    return kPrecision64;
}

void set_precision(unsigned bits) {
    for (const Precision& p : kPrecisions) {
        if (p.bits != bits) continue;
        fpu_control_t cw;
        _FPU_GETCW(cw);
        cw = static_cast<fpu_control_t>((cw & ~kX87PrecisionMask) | p.x87);
        _FPU_SETCW(cw);
    }
}
#else
// Arithmetic elsewhere is done in the precision of its type: double is 53 bits.
unsigned precision_bits() { return kPrecision53; }
void set_precision(unsigned /*bits*/) {}
#endif

unsigned control_word() { return rounding_bits() | precision_bits(); }

}  // namespace

unsigned int _controlfp(unsigned int value, unsigned int mask) {
    const auto merged = [value, mask](unsigned field, unsigned current) {
        return (value & mask & field) | (current & ~mask & field);
    };
    if ((mask & kRoundingMask) != 0) set_rounding(merged(kRoundingMask, rounding_bits()));
    if ((mask & kPrecisionMask) != 0) set_precision(merged(kPrecisionMask, precision_bits()));
    return control_word();
}

double decimal_to_double(const char* digits) {
    // The text has no decimal point, so the locale cannot change its reading;
    // the C library's reading follows the rounding mode, so it gets
    // round-to-nearest for the time it reads.
    const unsigned rounding = rounding_bits();
    if (rounding != kRoundNearest) set_rounding(kRoundNearest);
    const int saved_errno = errno;
    const double value = std::strtod(digits, nullptr);
    errno = saved_errno;  // a range error is the value's to show
    if (rounding != kRoundNearest) set_rounding(rounding);
    return value;
}

void exit(int status) {
    platform::shut_down_host_at_exit();
    std::exit(status);
}

int atexit(void (*function)()) {
    platform::shut_down_host_at_exit();
    return std::atexit(function);
}

}  // namespace crt
