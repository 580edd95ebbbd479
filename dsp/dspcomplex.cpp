#include "dspcomplex.h"

#include <cmath>

namespace vurnel::dsp {

TComplex CDiv(TComplex a, TComplex b) {
    const long double d = b.re * b.re + b.im * b.im;
    return TComplex{(a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d};
}

long double CAbs(TComplex z) {
    const long double x = std::fabs(z.re);
    const long double y = std::fabs(z.im);
    const long double larger = x > y ? x : y;
    const long double smaller = x > y ? y : x;
    if (std::isinf(larger)) return larger;
    if (smaller == 0.0L) return larger;
    const long double ratio = smaller / larger;
    return larger * std::sqrt(1.0L + ratio * ratio);
}

long double SqrtNonNeg(long double x) {
    if (!(x > 0.0L) && !std::isnan(x)) x = 0.0L;
    return std::sqrt(x);
}

TComplex CSqrt(TComplex z) {
    const long double r = CAbs(z);
    TComplex result{SqrtNonNeg((r + z.re) * 0.5L), SqrtNonNeg((r - z.re) * 0.5L)};
    if (!(z.im >= 0.0L)) result.im = -result.im;
    return result;
}

TComplex CFromAngle(long double t) {
    return TComplex{std::cos(t), std::sin(t)};
}

} // namespace vurnel::dsp
