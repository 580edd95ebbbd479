// Jacobi elliptic functions and the complete elliptic integral of the first kind, in the extended
// format, by the descending Landen transformation; and the elliptic (Cauer) analog prototype
// built from them. No outside library: everything here is a few loops of extended arithmetic.
//
// A modulus k is carried together with its complement k' = √(1 − k²), each computed without
// taking it from the other, so that neither loses digits when k is near 0 or near 1. The functions
// take their argument in units of the quarter period K(k): JacobiCd(u) is cd(u·K, k).
#pragma once

#include "dspcomplex.h"

namespace vurnel::dsp {

// A modulus k in [0, 1) and its complement k' = √(1 − k²).
struct TdspModulus {
    long double k;
    long double kc;
};

// The moduli k0 = k, k1, k2, … of the descending Landen transformation,
// k_{n+1} = (k_n / (1 + k'_n))², down to the first below 1e−24 (a few steps: the moduli fall
// quadratically).
struct TdspLanden {
    static constexpr int Capacity = 40;
    int Count = 0; // entries k[0..Count)
    long double k[Capacity] = {};

    explicit TdspLanden(TdspModulus m);
};

// K(k) = π/2 · ∏ (1 + k_n) over the Landen moduli after k0.
long double EllipticK(TdspModulus m);

// cd(u·K, k) for a complex u: cos(u·π/2) carried up the Landen moduli,
// w ← (1 + k_n)·w / (1 + k_n·w²).
TComplex JacobiCd(TComplex u, const TdspLanden& landen);
// sn(u·K, k) = cd((1 − u)·K, k).
TComplex JacobiSn(TComplex u, const TdspLanden& landen);
// The real t with sn(j·t·K, k) = j·x: x carried down the Landen moduli,
// x ← 2x / ((1 + k_{n+1})·(1 + √(1 + k_n²·x²))), then t = (2/π)·arsinh(x).
long double ArcSnImaginary(long double x, const TdspLanden& landen);

// The modulus k of the elliptic rational function of degree `order` whose discrimination modulus is
// k1: k' = k1'^N · ∏ sn(u_i·K', k1')⁴ over u_i = (2i − 1)/N, i = 1 … N div 2 (the degree
// equation N·K'/K = K1'/K1).
TdspModulus EllipticDegree(int order, TdspModulus k1);

// The elliptic lowpass prototype of `order` with its passband edge at 1 rad/s, passband ripple
// parameter epsPass = √(10^(ripple/10) − 1) and stopband parameter epsStop (the same of the
// attenuation), epsPass < epsStop: `order` poles (conjugate pairs, then the real pole of an odd
// order) into poles[], and 2·(order div 2) zeros on the imaginary axis (conjugate pairs) into
// zeros[]; returns the number of zeros. Allocates nothing.
int EllipticPrototype(int order, long double epsPass, long double epsStop, TComplex* poles,
                      TComplex* zeros);

} // namespace vurnel::dsp
