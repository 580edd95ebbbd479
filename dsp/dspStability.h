// Whether the recursion of a design can run: the roots of its feedback polynomial
// z^N − Σ YCoeffs[k]·z^k, taken exactly as the 80-bit coefficients were rounded. The expansion of
// many poles into one polynomial can move roots that the design put inside the unit circle to
// or beyond it; these routines say whether it did and where the roots went.
#pragma once

#include "dspcomplex.h"

namespace vurnel::dsp {

// True when every root of z^n − Σ yCoeffs[k]·z^k lies strictly inside the unit circle (the
// Schur–Cohn test carried out in 113-bit arithmetic on the exact coefficients; a NaN gives
// false). Allocates nothing; order 1 costs one comparison. Any thread.
bool RecursionIsStable(const long double* yCoeffs, int n);

// The n roots of the same polynomial, found from the n starting points `seeds` (the design's
// z-plane poles, which they lie near) by the Aberth iteration, in the extended format and then
// refined in 113-bit arithmetic. False when the iteration did not settle; the roots are then the
// last iterates. Allocates nothing.
bool RecursionRoots(const long double* yCoeffs, int n, const TComplex* seeds, TComplex* roots);

} // namespace vurnel::dsp
