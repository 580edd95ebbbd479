// The tone control's frequency response, computed from the designs and gains an effect runs:
// H = 1 + bassGain·H_bass + trebleGain·H_treble, each filter's H from its rounded coefficients
// in extended precision. The editor, `vurnel response` and the design plot draw this, not a
// measurement.
#pragma once

#include <vector>

#include "Main.h"
#include "dspcomplex.h"

namespace vurnel {

struct ToneResponsePoint {
    long double hertz;
    long double magnitudeDb;
    long double phaseDegrees; // wrapped into (−180, 180]
};

// H at one frequency in hertz for a design taken from an effect. Allocates nothing.
dsp::TComplex ToneResponseAt(const TMirvakEffect::ToneDesign& design, long double hertz);
ToneResponsePoint ToneResponsePointAt(const TMirvakEffect::ToneDesign& design, long double hertz);

// `points` frequencies spaced evenly on a log axis from `lowHz` to `highHz` (both included).
std::vector<ToneResponsePoint> ToneResponse(const TMirvakEffect::ToneDesign& design,
                                            long double lowHz, long double highHz, int points);

} // namespace vurnel
