#!/usr/bin/env python3
"""Writes rounding_cases.h: decimal texts at and just beside the midpoints
between adjacent doubles, with the double each must read as.

Everything is exact rational arithmetic. A text just beside a midpoint is
where rounding twice (first to a 64-bit significand, then to double) goes the
wrong way: the first rounding lands on the midpoint itself and the second
breaks the tie to even. Such texts are marked as traps.

    python3 tests/runtime/core/rounding_cases.py > tests/runtime/core/rounding_cases.h
    clang-format -i tests/runtime/core/rounding_cases.h
"""

import random
import struct
from fractions import Fraction

DOUBLE_BITS = 53
EXTENDED_BITS = 64
DOUBLE_MIN_ULP_EXP = -1074
EXTENDED_MIN_ULP_EXP = -16445
OVERFLOW = Fraction(2) ** 1024


def floor_log2(x):
    """The exponent e with 2^e <= x < 2^(e+1), for a positive fraction."""
    e = x.numerator.bit_length() - x.denominator.bit_length()
    if Fraction(2) ** e > x:
        e -= 1
    elif Fraction(2) ** (e + 1) <= x:
        e += 1
    return e


def round_to(x, bits, min_ulp_exp):
    """x rounded to nearest, ties to even, on a binary grid of `bits`
    significant bits that stops at 2^min_ulp_exp; None past the double range."""
    if x == 0:
        return Fraction(0)
    ulp = Fraction(2) ** max(floor_log2(x) - (bits - 1), min_ulp_exp)
    q, rest = divmod(x, ulp)
    if rest * 2 > ulp or (rest * 2 == ulp and q % 2 == 1):
        q += 1
    return q * ulp


def to_double(x):
    r = round_to(x, DOUBLE_BITS, DOUBLE_MIN_ULP_EXP)
    return None if r >= OVERFLOW else r


def twice_rounded(x):
    return to_double(round_to(x, EXTENDED_BITS, EXTENDED_MIN_ULP_EXP))


def bits_of(value):
    if value is None:
        return 0x7FF0000000000000
    return struct.unpack("<Q", struct.pack("<d", float(value)))[0]


def double_of(bits):
    return Fraction(struct.unpack("<d", struct.pack("<Q", bits))[0])


def exact_decimal(x):
    """The exact decimal form of a dyadic fraction, as mantissa digits and a
    power of ten: x = digits * 10^exponent."""
    exponent = 0
    while x.denominator != 1:
        x *= 10
        exponent -= 1
    digits = x.numerator
    while digits % 10 == 0 and digits != 0:
        digits //= 10
        exponent += 1
    return digits, exponent


def text_of(digits, exponent):
    """digits * 10^exponent written out: positional when that stays short,
    else one digit before the point and an exponent."""
    text = str(digits)
    if exponent >= 0 and len(text) + exponent <= 40:
        return text + "0" * exponent
    point = len(text) + exponent  # digits before the point
    if -20 <= point <= 0:
        return "0." + "0" * -point + text
    if 0 < point < len(text):
        return text[:point] + "." + text[point:]
    mantissa = text[0] + ("." + text[1:] if len(text) > 1 else "")
    return f"{mantissa}e{point - 1}"


def shortest_beside(m, above):
    """The first text of 17 to 30 significant digits strictly beside m on the
    given side that rounding twice gets wrong; None when there is none."""
    digits, exponent = exact_decimal(m)
    length = len(str(digits))
    for keep in range(17, 31):
        if keep >= length:
            return None
        scale = 10 ** (length - keep)
        lower = digits // scale
        candidate = lower + 1 if above else lower
        x = Fraction(candidate) * Fraction(10) ** (exponent + length - keep)
        if x != m and to_double(x) != twice_rounded(x):
            return text_of(candidate, exponent + length - keep)
    return None


def cases_around(low_bits):
    """The midpoint above the double with `low_bits`, and its neighbours."""
    low = double_of(low_bits)
    high = double_of(low_bits + 1) if low_bits + 1 < 0x7FF0000000000000 else OVERFLOW
    m = (low + high) / 2
    digits, exponent = exact_decimal(m)
    out = [("At", text_of(digits, exponent))]
    # One in the last place of a long tail of added digits: far closer to the
    # midpoint than half a 64-bit significand's step.
    tail = 40
    out.append(("Above", text_of(digits * 10**tail + 1, exponent - tail)))
    out.append(("Below", text_of(digits * 10**tail - 1, exponent - tail)))
    for above in (True, False):
        short = shortest_beside(m, above)
        if short is not None:
            out.append(("Above" if above else "Below", short))
    return out


def chosen_doubles():
    rng = random.Random(20261210)
    chosen = [
        0x3FF0000000000000,  # 1
        0x3FF0000000000001,  # just above 1
        0x433FFFFFFFFFFFFF,  # just below 2^53 (midpoints are halves)
        0x4340000000000000,  # 2^53 (midpoints are odd integers)
        0x4340000000000001,
        0x43E0000000000000,  # 2^63
        0x0000000000000000,  # zero: the midpoint is half the least subnormal
        0x0000000000000001,  # the least subnormal
        0x000FFFFFFFFFFFFF,  # the largest subnormal
        0x0010000000000000,  # the least normal
        0x7FEFFFFFFFFFFFFE,
        0x7FEFFFFFFFFFFFFF,  # the largest double: its midpoint overflows
    ]
    # Exponents across the range, small and large significands, even and odd.
    for biased in (0x3CA, 0x3FD, 0x404, 0x41F, 0x432, 0x437, 0x44F, 0x4B0, 0x7A0, 0x100, 0x010):
        for _ in range(2):
            chosen.append((biased << 52) | rng.getrandbits(52))
    return chosen


def main():
    rows = []
    for low_bits in chosen_doubles():
        for side, text in cases_around(low_bits):
            x = parse(text)
            expected = to_double(x)
            # Python's own reading is correctly rounded too: a check on the arithmetic here.
            assert bits_of(expected) == bits_of(float(text)), text
            trap = expected != twice_rounded(x)
            rows.append((text, bits_of(expected), side, trap))
    print("// Decimal texts at and just beside the midpoints between adjacent doubles,")
    print("// with the bits of the double each reads as (correctly rounded). Traps are")
    print("// texts that rounding twice, to a 64-bit significand and then to double,")
    print("// reads as the other neighbour. Generated by rounding_cases.py.")
    print("#pragma once")
    print()
    print("#include <cstdint>")
    print("#include <string_view>")
    print()
    print("namespace rt_testing {")
    print()
    print("enum class Midpoint { Below, At, Above };")
    print()
    print("struct RoundingCase {")
    print("    std::string_view text;")
    print("    std::uint64_t bits;")
    print("    Midpoint side;")
    print("    bool trap;")
    print("};")
    print()
    print("inline constexpr RoundingCase kRoundingCases[] = {")
    for text, bits, side, trap in rows:
        print(f'    {{"{text}", 0x{bits:016X}u, Midpoint::{side}, {"true" if trap else "false"}}},')
    print("};")
    print()
    print("}  // namespace rt_testing")


def parse(text):
    mantissa, _, exponent = text.partition("e")
    whole, _, fraction = mantissa.partition(".")
    return Fraction(int(whole + fraction)) * Fraction(10) ** (int(exponent or 0) - len(fraction))


if __name__ == "__main__":
    main()
