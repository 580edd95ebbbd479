#include "dspExtendedBits.h"

namespace vurnel::dsp {
namespace {

constexpr int kBias = 16383;
// A value of exponent field e and significand m is m·2^(e − kUnitShift) (e ≥ 1), and a
// subnormal m·2^(1 − kUnitShift).
constexpr int kUnitShift = kBias + 63;

// A 128-bit unsigned integer, in two halves, so the code needs no compiler extension.
struct U128 {
    std::uint64_t hi, lo;
};

U128 Multiply(std::uint64_t a, std::uint64_t b) {
#if defined(__SIZEOF_INT128__)
    __extension__ typedef unsigned __int128 Wide;
    const Wide p = static_cast<Wide>(a) * b;
    return {static_cast<std::uint64_t>(p >> 64), static_cast<std::uint64_t>(p)};
#else
    const std::uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & 0xFFFFFFFFu)};
#endif
}

// The number of significant bits of a nonzero 64-bit value.
int BitLength(std::uint64_t x) {
#if defined(__GNUC__)
    return 64 - __builtin_clzll(x);
#else
    int n = 0;
    while (x) {
        ++n;
        x >>= 1;
    }
    return n;
#endif
}

int BitLength(U128 x) {
    return x.hi ? 64 + BitLength(x.hi) : BitLength(x.lo);
}

// x shifted right by s (1 ≤ s), rounded to nearest with ties to even; the result fits 64 bits
// plus one (the carry of a rounding up is returned in the second member).
struct Rounded {
    std::uint64_t value;
    bool carry;
};
Rounded ShiftRound(U128 x, int s) {
    // The part shifted out, as: above half, exactly half, below half.
    std::uint64_t q;
    bool above = false, half = false;
    if (s >= 128) {
        q = 0;
        // x < 2^128 ≤ 2^s: below a half unless s == 128 and x ≥ 2^127
        half = s == 128 && x.hi == (std::uint64_t{1} << 63) && x.lo == 0;
        above = s == 128 && (x.hi >> 63) && !half;
    } else if (s >= 64) {
        const int t = s - 64; // bits of hi shifted out, besides all of lo
        q = t < 64 ? x.hi >> t : 0;
        const std::uint64_t outHi =
            t == 0 ? 0 : (t < 64 ? x.hi & ((std::uint64_t{1} << t) - 1) : x.hi);
        // The shifted-out part is outHi·2^64 + lo, compared with 2^(s−1).
        if (t == 0) {
            half = x.lo == (std::uint64_t{1} << 63);
            above = x.lo > (std::uint64_t{1} << 63);
        } else {
            const std::uint64_t halfHi = std::uint64_t{1} << (t - 1);
            half = outHi == halfHi && x.lo == 0;
            above = outHi > halfHi || (outHi == halfHi && x.lo != 0);
        }
    } else {
        q = (x.lo >> s) | (x.hi << (64 - s));
        const std::uint64_t outLo = x.lo & ((std::uint64_t{1} << s) - 1);
        const std::uint64_t halfLo = std::uint64_t{1} << (s - 1);
        half = outLo == halfLo;
        above = outLo > halfLo;
        // bits of hi beyond the 64 kept ones would overflow q; the callers never ask for that
    }
    const bool up = above || (half && (q & 1));
    if (!up) return {q, false};
    return {q + 1, q + 1 == 0};
}

} // namespace

int BinaryExponent(TExtendedBits b) {
    const int e = b.Exponent();
    if (e != 0) return e - kBias;
    return 1 - kBias - (64 - BitLength(b.mantissa)); // a subnormal: leading zeros lower it
}

TExtendedBits MulBits(TExtendedBits a, TExtendedBits b) {
    const std::uint16_t sign =
        static_cast<std::uint16_t>((a.signExponent ^ b.signExponent) & 0x8000u);
    if (a.mantissa == 0 || b.mantissa == 0) return {0, sign};
    // value = p·2^scale
    const int scale =
        (a.Exponent() ? a.Exponent() : 1) + (b.Exponent() ? b.Exponent() : 1) - 2 * kUnitShift;
    const U128 p = Multiply(a.mantissa, b.mantissa);
    const int length = BitLength(p); // p in [2^(length−1), 2^length)
    // As a normal value: 64 significant bits, exponent field of the top bit.
    int field = length - 1 + scale + kBias;
    if (field >= 1) {
        const int s = length - 64;
        std::uint64_t m;
        if (s <= 0) {
            m = p.lo << -s;
        } else {
            const Rounded r = ShiftRound(p, s);
            m = r.value;
            if (r.carry) { // rounded up to 2^64
                m = std::uint64_t{1} << 63;
                ++field;
            }
        }
        return {m, static_cast<std::uint16_t>(sign | field)};
    }
    // Subnormal: the value in units of 2^(1 − kUnitShift), rounded.
    const int s = 1 - kUnitShift - scale; // > 0 here
    const Rounded r = ShiftRound(p, s);
    // A rounding up to 2^63 units is the smallest normal value: exponent 1, same bits.
    const std::uint16_t e = (r.value >> 63) ? 1 : 0;
    return {r.value, static_cast<std::uint16_t>(sign | e)};
}

int CompareMagnitude(TExtendedBits a, TExtendedBits b) {
    if (a.Exponent() != b.Exponent()) return a.Exponent() < b.Exponent() ? -1 : 1;
    if (a.mantissa != b.mantissa) return a.mantissa < b.mantissa ? -1 : 1;
    return 0;
}

bool SumIsNegative(TExtendedBits a, TExtendedBits b) {
    if (a.IsZero() && b.IsZero()) return AddZeros(a, b).IsNegative();
    if (a.IsZero()) return b.IsNegative();
    if (b.IsZero()) return a.IsNegative();
    if (a.IsNegative() == b.IsNegative()) return a.IsNegative();
    const int c = CompareMagnitude(a, b);
    return c == 0 ? false : (c > 0 ? a.IsNegative() : b.IsNegative());
}

} // namespace vurnel::dsp
