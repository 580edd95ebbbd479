#include "dspResponse.h"

#include <cmath>
#include <cstdint>

namespace vurnel::dsp {

namespace {

// The sums Σ c_k u^k with u = e^{−jw} cancel to 1e−40 of their terms where poles or zeros crowd
// next to the unit circle (a bandpass of order 8 at 30–60 Hz), far beyond what any floating type
// keeps. They are therefore evaluated by Horner's rule in fixed point on integers of 256 bits
// (512 where even that is short): sums and products are exact but for one truncation of each
// product, a fixed absolute error far below the result, whatever the cancellation. The
// coefficients and u enter with every bit; the only error left that grows where P is small is
// that of u itself (cosl and sinl, an ulp), which acts as evaluating at a point moved by 1e−19
// and changes P by |P′| times that, not by the size of its terms. Integer arithmetic also keeps
// the sums independent of the optimisation level and of the FPU's control word.

// Limbs of 64 bits where the compiler has a 128-bit product (x86-64), else of 32 bits (i686).
#ifdef __SIZEOF_INT128__
using Limb = std::uint64_t;
__extension__ typedef unsigned __int128 Wide;
#else
using Limb = std::uint32_t;
using Wide = std::uint64_t;
#endif
constexpr int kLimbBits = 8 * static_cast<int>(sizeof(Limb));

// A signed number X·2^S in two's complement, limbs least significant first.
template <int L> struct Fixed {
    Limb limb[L] = {};
};

template <int L> bool Negative(const Fixed<L>& x) {
    return (x.limb[L - 1] >> (kLimbBits - 1)) != 0;
}

template <int L> Fixed<L> Negate(Fixed<L> x) {
    Wide carry = 1;
    for (int i = 0; i < L; ++i) {
        carry += static_cast<Limb>(~x.limb[i]);
        x.limb[i] = static_cast<Limb>(carry);
        carry >>= kLimbBits;
    }
    return x;
}

template <int L> Fixed<L> Add(const Fixed<L>& a, const Fixed<L>& b) {
    Fixed<L> r;
    Wide carry = 0;
    for (int i = 0; i < L; ++i) {
        carry += static_cast<Wide>(a.limb[i]) + b.limb[i];
        r.limb[i] = static_cast<Limb>(carry);
        carry >>= kLimbBits;
    }
    return r;
}

template <int L> Fixed<L> Sub(const Fixed<L>& a, const Fixed<L>& b) {
    return Add(a, Negate(b));
}

// c·2^−S truncated toward zero; the caller's S leaves room for c.
template <int L> Fixed<L> ToFixed(long double c, int scale) {
    Fixed<L> x;
    if (c == 0) return x;
    int e = 0;
    const long double m = std::frexp(std::fabs(c), &e); // |c| = m·2^e, m in [0.5, 1)
    std::uint64_t bits = static_cast<std::uint64_t>(std::ldexp(m, 64));
    int shift = e - 64 - scale; // X = bits·2^shift
    if (shift < 0) {
        if (shift <= -64) return x;
        bits >>= -shift;
        shift = 0;
    }
    const int q = shift / kLimbBits, r = shift % kLimbBits;
    for (int j = 0; j < 64 / kLimbBits; ++j) {
        const Wide part = static_cast<Wide>(static_cast<Limb>(bits >> (j * kLimbBits))) << r;
        if (q + j < L) x.limb[q + j] |= static_cast<Limb>(part);
        if (q + j + 1 < L) x.limb[q + j + 1] |= static_cast<Limb>(part >> kLimbBits);
    }
    return c < 0 ? Negate(x) : x;
}

// X·2^S rounded to the extended format from its top 128 bits (relative error below 2^−63).
template <int L> long double ToLongDouble(Fixed<L> x, int scale) {
    const bool negative = Negative(x);
    if (negative) x = Negate(x);
    int top = L - 1;
    while (top >= 0 && x.limb[top] == 0)
        --top;
    if (top < 0) return 0.0L;
    constexpr int used = 128 / kLimbBits;
    const int low = top - (used - 1) > 0 ? top - (used - 1) : 0;
    long double v = 0;
    for (int i = top; i >= low; --i)
        v = std::ldexp(v, kLimbBits) + static_cast<long double>(x.limb[i]);
    v = std::ldexp(v, scale + kLimbBits * low);
    return negative ? -v : v;
}

// u's components in [−1, 1] as X·2^−126 on 128 bits: every bit of a long double of magnitude
// above 2^−62.
constexpr int kUnitLimbs = 128 / kLimbBits, kUnitShift = 126;
using Unit = Fixed<kUnitLimbs>;

// a·u for u in [−1, 1], truncated toward zero to a's scale.
template <int L> Fixed<L> Mul(Fixed<L> a, Unit u) {
    const bool negative = Negative(a) != Negative(u);
    if (Negative(a)) a = Negate(a);
    if (Negative(u)) u = Negate(u);
    Limb product[L + kUnitLimbs] = {};
    for (int i = 0; i < L; ++i) {
        if (a.limb[i] == 0) continue;
        Wide carry = 0;
        for (int j = 0; j < kUnitLimbs; ++j) {
            carry += static_cast<Wide>(a.limb[i]) * u.limb[j] + product[i + j];
            product[i + j] = static_cast<Limb>(carry);
            carry >>= kLimbBits;
        }
        product[i + kUnitLimbs] = static_cast<Limb>(carry);
    }
    constexpr int q = kUnitShift / kLimbBits, r = kUnitShift % kLimbBits;
    Fixed<L> x;
    for (int k = 0; k < L; ++k)
        x.limb[k] = static_cast<Limb>((product[k + q] >> r) |
                                      (static_cast<Wide>(product[k + q + 1]) << (kLimbBits - r)));
    return negative ? Negate(x) : x;
}

template <int L> struct ComplexFixed { Fixed<L> re, im; };

template <int L> ComplexFixed<L> Mul(const ComplexFixed<L>& a, const Unit& ur, const Unit& ui) {
    return {Sub(Mul(a.re, ur), Mul(a.im, ui)), Add(Mul(a.re, ui), Mul(a.im, ur))};
}

// P(u) = Σ c_k u^k and D = u·P′(u) = Σ k c_k u^k of one polynomial, with a bound on the relative
// error of P (and of D/P, relative to the larger of it and 1) in units of 2^−64.
struct Evaluation {
    TComplex p, d;
    long double error;
};

// The part of the error bound that the fixed-point width decides, and the rest.
struct EvaluationParts {
    TComplex p, d;
    long double rounding, point;
};

template <int Bits>
EvaluationParts Horner(const long double* c, int n, TComplex u, const Unit& ur, const Unit& ui) {
    constexpr int L = Bits / kLimbBits;
    // |every partial sum of P and of P′| ≤ Σ (k+1)|c_k| < 2^e, and X stays below 2^(Bits−2).
    long double bound = 0;
    for (int k = 0; k <= n; ++k)
        bound += static_cast<long double>(k + 1) * std::fabs(c[k]);
    int e = 0;
    std::frexp(bound * 1.0001L, &e);
    const int scale = e - (Bits - 2);
    ComplexFixed<L> p{ToFixed<L>(c[n], scale), {}}, dp{};
    for (int k = n - 1; k >= 0; --k) {
        dp = Mul(dp, ur, ui);
        dp.re = Add(dp.re, p.re), dp.im = Add(dp.im, p.im);
        p = Mul(p, ur, ui);
        p.re = Add(p.re, ToFixed<L>(c[k], scale));
    }
    const TComplex pv{ToLongDouble(p.re, scale), ToLongDouble(p.im, scale)};
    const TComplex derivative{ToLongDouble(dp.re, scale), ToLongDouble(dp.im, scale)};
    // Each product truncates by at most one unit 2^S: P gains at most 4 units a step, P′ the
    // error of P and 4 more.
    const long double unit = std::ldexp(1.0L, scale + 64), steps = static_cast<long double>(n + 1);
    const long double size = std::hypot(pv.re, pv.im);
    const long double dsize = std::hypot(derivative.re, derivative.im);
    const long double rounding =
        4 * steps * unit / size + 4 * steps * steps * unit / std::fmax(size, dsize);
    // The conversions to extended (2^−63 each) and u, an ulp off e^{−jw}, moving P by |P′|·2^−63.
    const long double point = 8 + 2 * dsize / size;
    return {pv, CMul(u, derivative), rounding, point};
}

// u = (cos w, −sin w) moved onto the unit circle to 2^−120. cosl and sinl are within an ulp,
// but the ulp off the circle matters: next to a zero on the circle the group delay changes by
// 1/distance² times the radial error (1e−12 samples at the CSV's lowest frequency, a zero of
// order 8 at z = 1), while along the circle it does not change at all.
struct UnitPoint {
    Unit re, im;
};

UnitPoint OnUnitCircle(TComplex u) {
    UnitPoint p{ToFixed<kUnitLimbs>(u.re, -kUnitShift), ToFixed<kUnitLimbs>(u.im, -kUnitShift)};
    const Unit one = ToFixed<kUnitLimbs>(1.0L, -kUnitShift);
    const Unit half = ToFixed<kUnitLimbs>(0.5L, -kUnitShift);
    // |u|² = 1 + e with e about 1e−19; 1/sqrt(1 + e) = 1 − e/2 to e², below the resolution.
    const Unit e = Sub(Add(Mul(p.re, p.re), Mul(p.im, p.im)), one);
    const Unit scale = Sub(one, Mul(e, half));
    return {Mul(p.re, scale), Mul(p.im, scale)};
}

Evaluation Evaluate(const long double* c, int n, TComplex u, const UnitPoint& point) {
    const Unit& ur = point.re;
    const Unit& ui = point.im;
    EvaluationParts r = Horner<256>(c, n, u, ur, ui);
    // Below about 1e−55 of its terms, P needs the wider integers.
    if (!(r.rounding < 1)) r = Horner<512>(c, n, u, ur, ui);
    return {r.p, r.d, r.rounding + r.point};
}

// Re(D/P): the polynomial's share of −d arg/dw.
long double Delay(const Evaluation& e) {
    return (e.d.re * e.p.re + e.d.im * e.p.im) / (e.p.re * e.p.re + e.p.im * e.p.im);
}

} // namespace

TdspResponseValue RecursionResponse(const TdspIIRDesignSnapshot& d, long double w) {
    switch (d.Routine) {
    case TdspSampleRoutine::Silence:
        return {{0.0L, 0.0L}, 0.0L, 1.0L};
    case TdspSampleRoutine::PassThrough:
        return {{1.0L, 0.0L}, 0.0L, 1.0L};
    case TdspSampleRoutine::FilterSample:
        break;
    }
    // H = g·B/A in powers of u = z^−1: B = 1 + Σ xc[N−k] u^k, A = 1 − Σ yc[N−k] u^k (the
    // recursion scales the input by g before the sums, so g stays outside them).
    const int n = d.NumTaps;
    long double b[MaxPoleZero + 1], a[MaxPoleZero + 1];
    b[0] = 1.0L, a[0] = 1.0L;
    for (int k = 1; k <= n; ++k) {
        b[k] = d.XCoeffs[n - k];
        a[k] = -d.YCoeffs[n - k];
    }
    const TComplex u{std::cos(w), -std::sin(w)};
    const UnitPoint point = OnUnitCircle(u);
    const Evaluation num = Evaluate(b, n, u, point), den = Evaluate(a, n, u, point);
    const long double size = den.p.re * den.p.re + den.p.im * den.p.im;
    const TComplex h{d.GainFactor * ((num.p.re * den.p.re + num.p.im * den.p.im) / size),
                     d.GainFactor * ((num.p.im * den.p.re - num.p.re * den.p.im) / size)};
    return {h, Delay(num) - Delay(den), num.error + den.error};
}

TdspResponseValue RecursionResponse(const TdspCustomIIRFilter& filter, long double w) {
    TdspIIRDesignSnapshot design;
    filter.TakeDesignSnapshot(design);
    return RecursionResponse(design, w);
}

} // namespace vurnel::dsp
