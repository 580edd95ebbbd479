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

TExtendedBits AddBits(TExtendedBits a, TExtendedBits b) {
    if (b.mantissa == 0) return a.mantissa == 0 ? AddZeros(a, b) : a;
    if (a.mantissa == 0) return b;
    if (CompareMagnitude(a, b) < 0) {
        const TExtendedBits larger = b;
        b = a;
        a = larger;
    }
    const std::uint16_t sign = static_cast<std::uint16_t>(a.signExponent & 0x8000u);
    const bool subtract = a.IsNegative() != b.IsNegative();
    // Both as multiples of 2^(fa − kUnitShift − 64), fa the larger one's exponent field (1 for a
    // subnormal): |a| ≥ |b| makes fa ≥ fb. What b loses below that unit is kept as a sticky bit.
    int fa = a.Exponent() ? a.Exponent() : 1;
    const int d = fa - (b.Exponent() ? b.Exponent() : 1);
    const U128 x{a.mantissa, 0};
    U128 y{0, 0};
    bool sticky = false;
    if (d == 0) {
        y = {b.mantissa, 0};
    } else if (d < 64) {
        y = {b.mantissa >> d, b.mantissa << (64 - d)};
    } else if (d == 64) {
        y = {0, b.mantissa};
    } else if (d < 128) {
        y = {0, b.mantissa >> (d - 64)};
        sticky = (b.mantissa << (128 - d)) != 0;
    } else {
        sticky = true;
    }
    // The exact sum or difference; with a sticky fraction f in (0, 1) units, its floor, whose
    // bit 0 is then set: the rounding point lies at bit 62 or above whenever b lost bits.
    U128 r;
    bool carry = false;
    if (!subtract) {
        r.lo = x.lo + y.lo;
        const std::uint64_t c = r.lo < x.lo ? 1 : 0;
        r.hi = x.hi + y.hi + c;
        carry = r.hi < x.hi || (c != 0 && r.hi == x.hi);
    } else {
        const std::uint64_t f = sticky ? 1 : 0; // x − y − f
        const U128 t{y.hi + ((y.lo + f) < y.lo ? 1 : 0), y.lo + f};
        r.lo = x.lo - t.lo;
        r.hi = x.hi - t.hi - (x.lo < t.lo ? 1 : 0);
    }
    if (sticky) r.lo |= 1;
    if (carry) { // 129 bits: halve, keeping the lost bit as sticky, one unit up
        r = {(r.hi >> 1) | (std::uint64_t{1} << 63), (r.lo >> 1) | (r.hi << 63) | (r.lo & 1)};
        ++fa;
    }
    if (r.hi == 0 && r.lo == 0) return {0, 0}; // an exact cancellation
    const int length = BitLength(r);
    int field = fa + length - 128;
    if (field >= 1) {
        const int s = length - 64;
        std::uint64_t m;
        if (s <= 0) {
            m = r.lo << -s;
        } else {
            const Rounded q = ShiftRound(r, s);
            m = q.value;
            if (q.carry) {
                m = std::uint64_t{1} << 63;
                ++field;
            }
        }
        if (field >= 0x7FFF)
            return {std::uint64_t{1} << 63, static_cast<std::uint16_t>(sign | 0x7FFF)};
        return {m, static_cast<std::uint16_t>(sign | field)};
    }
    // Subnormal: in units of 2^(1 − kUnitShift), which is 65 − fa bits above the unit of r.
    const int s = 65 - fa;
    std::uint64_t m;
    if (s <= 0) {
        m = r.lo << -s;
    } else {
        m = ShiftRound(r, s).value; // below 2^64 units: no carry
    }
    return {m, static_cast<std::uint16_t>(sign | ((m >> 63) ? 1 : 0))};
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

namespace {

// m / 2^s rounded to nearest even (1 ≤ s).
std::uint64_t ShiftRoundEven(std::uint64_t m, int s) {
    if (s > 64) return 0;
    if (s == 64) return m > (std::uint64_t{1} << 63) ? 1 : 0;
    const std::uint64_t q = m >> s, rest = m & ((std::uint64_t{1} << s) - 1),
                        half = std::uint64_t{1} << (s - 1);
    return q + ((rest > half || (rest == half && (q & 1))) ? 1 : 0);
}

// The magnitude's bits in a binary format of `bits` significand bits (the hidden one included)
// and exponent bias `bias`.
std::uint64_t Narrowed(TExtendedBits b, int bits, int bias) {
    if (b.mantissa == 0) return 0;
    const int field = b.Exponent() ? b.Exponent() : 1;
    const int e = BinaryExponent(b);
    if (e >= 1 - bias) { // normal in the narrow format
        std::uint64_t q = ShiftRoundEven(b.mantissa, 64 - bits);
        int biased = e + bias;
        if (q >> bits) {
            q >>= 1;
            ++biased;
        }
        if (biased >= 2 * bias + 1)
            return static_cast<std::uint64_t>(2 * bias + 1) << (bits - 1); // infinity
        return (static_cast<std::uint64_t>(biased) << (bits - 1)) |
               (q & ((std::uint64_t{1} << (bits - 1)) - 1));
    }
    // In units of the smallest subnormal, 2^(2 − bias − bits): a rounding up to the smallest
    // normal carries into the exponent field by itself.
    return ShiftRoundEven(b.mantissa, (kUnitShift - field) - (bias + bits - 2));
}

} // namespace

std::uint32_t NarrowedFloatBits(TExtendedBits b) {
    return static_cast<std::uint32_t>(Narrowed(b, 24, 127)) | (b.IsNegative() ? 0x80000000u : 0u);
}

std::uint64_t NarrowedDoubleBits(TExtendedBits b) {
    return Narrowed(b, 53, 1023) | (b.IsNegative() ? std::uint64_t{1} << 63 : 0);
}

} // namespace vurnel::dsp
