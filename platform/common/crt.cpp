// Case and character classes of the "C" locale, for every platform: one table
// gives the runtime the same classes whichever C runtime it is linked with.
#include "platform/console_api.h"

namespace crt {
namespace {

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

int tolower(int c) { return is_upper(c) ? c - 'A' + 'a' : c; }

int toupper(int c) { return is_lower(c) ? c - 'a' + 'A' : c; }

int _isctype(int c, int mask) { return c >= 0 && c < 128 ? kClasses.bits[c] & mask : 0; }

}  // namespace crt
