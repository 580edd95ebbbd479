#include "dspElliptic.h"

#include <cmath>

namespace vurnel::dsp {

namespace {

constexpr long double kLandenFloor = 1e-24L; // below this k_n² vanishes next to 1 in any sum

// cos z for a complex z.
TComplex CCos(TComplex z) {
    return Complex(std::cos(z.re) * std::cosh(z.im), -(std::sin(z.re) * std::sinh(z.im)));
}

// Σ q^(n²) for n ≥ 1 with alternating signs or not, and Σ q^(n(n+1)) for n ≥ 0, for a nome
// q ≤ e^−π (ln q given): the terms fall faster than geometrically, a handful suffices.
struct ThetaSums {
    long double plain = 0, alternating = 0, shifted = 0;
    explicit ThetaSums(long double lnq) {
        for (int n = 1; n <= 12; ++n) {
            const long double t = std::exp(lnq * n * n);
            plain += t;
            alternating += n % 2 == 1 ? -t : t;
        }
        for (int n = 0; n <= 12; ++n)
            shifted += std::exp(lnq * n * (n + 1));
    }
};

} // namespace

TdspLanden::TdspLanden(TdspModulus m) {
    long double kn = m.k, kc = m.kc;
    k[Count++] = kn;
    while (kn >= kLandenFloor && Count < Capacity) {
        const long double onePlus = 1.0L + kc;
        const long double next = (kn / onePlus) * (kn / onePlus);
        kc = 2.0L * std::sqrt(kc) / onePlus; // √(1 − next²), without forming it
        kn = next;
        k[Count++] = kn;
    }
}

long double EllipticK(TdspModulus m) {
    const TdspLanden landen(m);
    long double product = Pi / 2.0L;
    for (int n = 1; n < landen.Count; ++n)
        product *= 1.0L + landen.k[n];
    return product;
}

TComplex JacobiCd(TComplex u, const TdspLanden& landen) {
    TComplex w = CCos(CScale(u, Pi / 2.0L));
    for (int n = landen.Count - 1; n >= 1; --n) {
        const long double kn = landen.k[n];
        w = CDiv(CScale(w, 1.0L + kn), CAdd(Complex(1.0L, 0.0L), CScale(CSqr(w), kn)));
    }
    return w;
}

TComplex JacobiSn(TComplex u, const TdspLanden& landen) {
    return JacobiCd(CSub(Complex(1.0L, 0.0L), u), landen);
}

long double ArcSnImaginary(long double x, const TdspLanden& landen) {
    for (int n = 0; n + 1 < landen.Count; ++n) {
        const long double kx = landen.k[n] * x;
        x = 2.0L * x / ((1.0L + landen.k[n + 1]) * (1.0L + std::sqrt(1.0L + kx * kx)));
    }
    return 2.0L / Pi * std::asinh(x);
}

TdspModulus EllipticDegree(int order, TdspModulus k1) {
    if (order == 1) return k1;
    // The nome q = e^(−π·K'/K) of k is that of k1 to the power 1/N. From whichever of q and its
    // complement e^(π²/ln q) is the smaller (at most e^−π), the theta functions give k and k'
    // both to full relative precision: k = (θ2/θ3)², k' = (θ4/θ3)².
    const long double lnq1 = -Pi * EllipticK({k1.kc, k1.k}) / EllipticK(k1);
    const long double lnq = lnq1 / order;
    const bool direct = lnq <= -Pi;
    const long double lnSmall = direct ? lnq : Pi * Pi / lnq;
    const ThetaSums s(lnSmall);
    const long double theta2 = 2.0L * std::exp(lnSmall / 4.0L) * s.shifted;
    const long double theta3 = 1.0L + 2.0L * s.plain;
    const long double theta4 = 1.0L + 2.0L * s.alternating;
    const long double a = (theta2 / theta3) * (theta2 / theta3);
    const long double b = (theta4 / theta3) * (theta4 / theta3);
    return direct ? TdspModulus{a, b} : TdspModulus{b, a};
}

int EllipticPrototype(int order, long double epsPass, long double epsStop, TComplex* poles,
                      TComplex* zeros) {
    // The discrimination modulus k1 = εp/εs, and the selectivity k = ωp/ωs from the degree
    // equation.
    const TdspModulus k1 = {epsPass / epsStop,
                            std::sqrt((epsStop - epsPass) * (epsStop + epsPass)) / epsStop};
    const TdspModulus k = EllipticDegree(order, k1);
    const TdspLanden landen(k);
    // v0 with sn(j·v0·N·K1, k1) = j/εp: where the poles leave the imaginary axis.
    const long double v0 = ArcSnImaginary(1.0L / epsPass, TdspLanden(k1)) / order;
    int numPoles = 0, numZeros = 0;
    for (int i = 1; i <= order / 2; ++i) {
        const long double u = static_cast<long double>(2 * i - 1) / order;
        const TComplex w = JacobiCd(Complex(u, -v0), landen); // the pole is j·w
        poles[numPoles++] = Complex(-w.im, w.re);
        poles[numPoles++] = Complex(-w.im, -w.re);
        const long double zeta = JacobiCd(Complex(u, 0.0L), landen).re;
        const long double z = 1.0L / (k.k * zeta);
        zeros[numZeros++] = Complex(0.0L, z);
        zeros[numZeros++] = Complex(0.0L, -z);
    }
    if (order % 2 == 1) // j·sn(j·v0·K, k), real
        poles[numPoles++] = Complex(-JacobiSn(Complex(0.0L, v0), landen).im, 0.0L);
    return numZeros;
}

} // namespace vurnel::dsp
