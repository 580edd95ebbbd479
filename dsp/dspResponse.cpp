#include "dspResponse.h"

#include <cmath>

namespace vurnel::dsp {

namespace {

// Σ c_k e^{−jwk} and Σ k·c_k e^{−jwk} over the polynomial's coefficients, with the sum of |c_k|
// for the condition.
struct Sums {
    long double re = 0, im = 0, kre = 0, kim = 0, absolute = 0;
    void Add(int k, long double c, long double w) {
        const long double angle = -w * static_cast<long double>(k);
        const long double cr = c * std::cos(angle), ci = c * std::sin(angle);
        re += cr, im += ci, absolute += std::fabs(c);
        kre += static_cast<long double>(k) * cr, kim += static_cast<long double>(k) * ci;
    }
    long double Condition() const { return absolute / std::hypot(re, im); }
    // Re(Σ k c_k z^−k / Σ c_k z^−k)
    long double Delay() const { return (kre * re + kim * im) / (re * re + im * im); }
};

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
    // In powers of z^−1: b = g·(1, xc[N−1], …, xc[0]), a = (1, −yc[N−1], …, −yc[0]).
    const int n = d.NumTaps;
    Sums b, a;
    b.Add(0, d.GainFactor, w);
    a.Add(0, 1.0L, w);
    for (int k = 1; k <= n; ++k) {
        b.Add(k, d.GainFactor * d.XCoeffs[n - k], w);
        a.Add(k, -d.YCoeffs[n - k], w);
    }
    const long double den = a.re * a.re + a.im * a.im;
    const TComplex h{(b.re * a.re + b.im * a.im) / den, (b.im * a.re - b.re * a.im) / den};
    return {h, b.Delay() - a.Delay(), b.Condition() + a.Condition()};
}

TdspResponseValue RecursionResponse(const TdspCustomIIRFilter& filter, long double w) {
    TdspIIRDesignSnapshot design;
    filter.TakeDesignSnapshot(design);
    return RecursionResponse(design, w);
}

} // namespace vurnel::dsp
