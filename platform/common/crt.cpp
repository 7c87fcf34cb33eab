// The C runtime services of console_api.h other than the heap.
#include <cfenv>
#include <cstdlib>

#include "platform/console_api.h"
#include "platform/posix/console_host.h"

#if defined(__i386__)
#include <fpu_control.h>
#endif

namespace crt {
namespace {

// Control word bits.
constexpr unsigned kRoundingMask = 0x300;
constexpr unsigned kRoundNearest = 0x000;
constexpr unsigned kRoundDown = 0x100;
constexpr unsigned kRoundUp = 0x200;
constexpr unsigned kRoundTowardZero = 0x300;
constexpr unsigned kPrecisionMask = 0x30000;
constexpr unsigned kPrecision64 = 0x00000;
constexpr unsigned kPrecision53 = 0x10000;
constexpr unsigned kPrecision24 = 0x20000;

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

#if defined(__i386__)
// Only the x87 unit has a precision setting; it is kept in its own control
// word.
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

constexpr bool is_upper(int c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_lower(int c) { return c >= 'a' && c <= 'z'; }

// Character classes of the "C" locale for 0..255; bytes above 127 have none.
constexpr int kUpper = 0x1;
constexpr int kLower = 0x2;
constexpr int kDigit = 0x4;
constexpr int kSpace = 0x8;
constexpr int kPunct = 0x10;
constexpr int kControl = 0x20;
constexpr int kBlank = 0x40;
constexpr int kHex = 0x80;
constexpr int kAlpha = 0x100;

constexpr int classify(int c) {
    int bits = 0;
    if (c < 0x20 || c == 0x7F) bits |= kControl;
    if ((c >= '\t' && c <= '\r') || c == ' ') bits |= kSpace;
    if (c == ' ') bits |= kBlank;
    if (is_upper(c)) bits |= kUpper | kAlpha;
    if (is_lower(c)) bits |= kLower | kAlpha;
    if (c >= '0' && c <= '9') bits |= kDigit | kHex;
    if ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')) bits |= kHex;
    if (c > ' ' && c < 0x7F && (bits & (kAlpha | kDigit)) == 0) bits |= kPunct;
    return bits;
}

constexpr auto kClasses = [] {
    struct Table {
        int bits[128];
    } t{};
    for (int c = 0; c < 128; ++c)
        t.bits[c] = classify(c);
    return t;
}();

}  // namespace

unsigned int _controlfp(unsigned int value, unsigned int mask) {
    const auto merged = [value, mask](unsigned field, unsigned current) {
        return (value & mask & field) | (current & ~mask & field);
    };
    if ((mask & kRoundingMask) != 0) set_rounding(merged(kRoundingMask, rounding_bits()));
    if ((mask & kPrecisionMask) != 0) set_precision(merged(kPrecisionMask, precision_bits()));
    return control_word();
}

void exit(int status) {
    platform::shut_down_host_at_exit();
    std::exit(status);
}

int atexit(void (*function)()) {
    platform::shut_down_host_at_exit();
    return std::atexit(function);
}

int tolower(int c) { return is_upper(c) ? c - 'A' + 'a' : c; }

int toupper(int c) { return is_lower(c) ? c - 'a' + 'A' : c; }

int _isctype(int c, int mask) { return c >= 0 && c < 128 ? kClasses.bits[c] & mask : 0; }

}  // namespace crt
