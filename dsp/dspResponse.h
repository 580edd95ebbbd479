// The frequency response of a designed filter, evaluated from the numbers its per-sample routine
// runs (the rounded XCoeffs, YCoeffs and GainFactor of the design), not from the poles and zeros
// the design started from. Every face that draws or prints a response (the design report and
// plot, the tone control's response, its editor) uses this one computation.
#pragma once

#include "dspIIRFilters.h"
#include "dspcomplex.h"

namespace vurnel::dsp {

struct TdspResponseValue {
    TComplex H;             // H(e^jw)
    long double GroupDelay; // −d arg H / dw, in samples
    // A bound on the relative error of H (and of the group delay, relative to the larger of it
    // and one sample) in units of the extended rounding 2^−64: tens at most points, growing as
    // the polynomials' |P′/P| (1/distance to the nearest pole or zero), since the ulp by which
    // cosl and sinl may miss e^{−jw} moves H by that much; the sums themselves are exact to far
    // below the result. Below 2e6 (1e−13) across every kind and order 1–8 at 3 Hz to 15 kHz.
    long double Condition;
};

// The response at w radians per sample of y = g·x + Σ XCoeffs[k]·g·x[n−N+k] + Σ YCoeffs[k]·y[n−N+k]
// for a FilterSample design; 1 for PassThrough and 0 for Silence. Allocates nothing.
TdspResponseValue RecursionResponse(const TdspIIRDesignSnapshot& design, long double w);
TdspResponseValue RecursionResponse(const TdspCustomIIRFilter& filter, long double w);

} // namespace vurnel::dsp
