// The 80-bit extended format taken apart, and the x87's multiplication of it done in integers.
//
// On the x87 unit an operation whose operand or result is subnormal (below 2^-16382) is not
// done by the arithmetic units but by microcode, hundreds of times slower. A recursion that
// decays in silence spends its time there. MulBits gives the bits the x87 gives, rounded to
// nearest even with the 64-bit significand (the precision control at its default), from
// integer operations only, so such values can be carried forward without touching the x87.
#pragma once

#include <cstdint>
#include <cstring>

#include "dspExtended.h"

namespace vurnel::dsp {

// An extended value as stored: the significand with its explicit integer bit, and the sign
// and 15-bit biased exponent. A subnormal has exponent 0 and value mantissa·2^-16445; a
// normal value has mantissa·2^(exponent − 16446).
struct TExtendedBits {
    std::uint64_t mantissa;
    std::uint16_t signExponent;

    bool IsNegative() const { return (signExponent & 0x8000u) != 0; }
    int Exponent() const { return signExponent & 0x7FFF; }
    bool IsZero() const { return mantissa == 0 && Exponent() == 0; }
    bool IsFinite() const { return Exponent() != 0x7FFF; }
    bool operator==(const TExtendedBits& o) const {
        return mantissa == o.mantissa && signExponent == o.signExponent;
    }
    bool operator!=(const TExtendedBits& o) const { return !(*this == o); }
};

inline TExtendedBits ToBits(long double v) {
    unsigned char raw[sizeof(long double)];
    std::memcpy(raw, &v, sizeof raw);
    TExtendedBits b;
    std::memcpy(&b.mantissa, raw, 8);
    b.signExponent = static_cast<std::uint16_t>(raw[8] | (raw[9] << 8));
    return b;
}

inline long double FromBits(TExtendedBits b) {
    unsigned char raw[sizeof(long double)] = {};
    std::memcpy(raw, &b.mantissa, 8);
    raw[8] = static_cast<unsigned char>(b.signExponent);
    raw[9] = static_cast<unsigned char>(b.signExponent >> 8);
    long double v;
    std::memcpy(&v, raw, sizeof v);
    return v;
}

// The binary exponent of a finite, non-zero value: |v| lies in [2^e, 2^(e+1)).
int BinaryExponent(TExtendedBits b);
inline int BinaryExponent(long double v) {
    return BinaryExponent(ToBits(v));
}

// a·b as the x87 rounds it with its precision control at 64 bits and its rounding control at
// nearest even, for finite operands whose product does not overflow. Zeros keep the sign of the
// product.
TExtendedBits MulBits(TExtendedBits a, TExtendedBits b);

// a + b as the x87 rounds it with its precision control at 64 bits and its rounding control at
// nearest even, for finite operands: exact alignment, one rounding, subnormal results rounded in
// units of 2^-16445, +0 for an exact cancellation, AddZeros for two zeros, an infinity of the
// sum's sign where it overflows.
TExtendedBits AddBits(TExtendedBits a, TExtendedBits b);

// Compares |a| with |b|: negative, zero or positive.
int CompareMagnitude(TExtendedBits a, TExtendedBits b);

// The sum of two zeros under rounding to nearest: −0 only when both are −0.
inline TExtendedBits AddZeros(TExtendedBits a, TExtendedBits b) {
    return {0, static_cast<std::uint16_t>(a.IsNegative() && b.IsNegative() ? 0x8000u : 0u)};
}

// Whether a + b, rounded to nearest even, is negative (its sign bit), from the exact operands:
// the sign of the larger magnitude, +0 when they cancel, and for two zeros AddZeros's.
bool SumIsNegative(TExtendedBits a, TExtendedBits b);

// A finite value narrowed to float or double bits as the x87's store rounds it to nearest even
// (subnormal results in units of the type's smallest subnormal, overflow to an infinity), in
// integer operations: a store whose result is below the type's normal range takes the slow path.
std::uint32_t NarrowedFloatBits(TExtendedBits b);
std::uint64_t NarrowedDoubleBits(TExtendedBits b);

} // namespace vurnel::dsp
