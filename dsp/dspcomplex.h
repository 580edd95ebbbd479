// Complex numbers in the extended format, with the operations the filter design needs.
// Every operation is a pure function of its operands; all intermediates stay extended.
#pragma once

#include "dspExtended.h"

namespace vurnel::dsp {

struct TComplex {
    long double re;
    long double im;
};

inline TComplex Complex(long double re, long double im) {
    return TComplex{re, im};
}
inline TComplex CNeg(TComplex z) {
    return TComplex{-z.re, -z.im};
}
inline TComplex CConj(TComplex z) {
    return TComplex{z.re, -z.im};
}
inline TComplex CAdd(TComplex a, TComplex b) {
    return TComplex{a.re + b.re, a.im + b.im};
}
inline TComplex CSub(TComplex a, TComplex b) {
    return TComplex{a.re - b.re, a.im - b.im};
}
inline TComplex CMul(TComplex a, TComplex b) {
    return TComplex{a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
inline TComplex CScale(TComplex z, long double x) {
    return TComplex{z.re * x, z.im * x};
}
inline TComplex CSqr(TComplex z) {
    return CMul(z, z);
}

// a / b, the divisor second; no scaling against overflow and no test of the divisor.
TComplex CDiv(TComplex a, TComplex b);
// Principal square root; an imaginary part of -0 counts as non-negative.
TComplex CSqrt(TComplex z);
// Modulus, computed without squaring the parts, so it is finite whenever representable.
long double CAbs(TComplex z);
// (cos t, sin t).
TComplex CFromAngle(long double t);
// Square root of max(x, 0); a NaN stays NaN.
long double SqrtNonNeg(long double x);

} // namespace vurnel::dsp
