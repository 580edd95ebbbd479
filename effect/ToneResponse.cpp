#include "ToneResponse.h"

#include <cmath>

#include "dspExtended.h"
#include "dspResponse.h"

namespace vurnel {

dsp::TComplex ToneResponseAt(const TMirvakEffect::ToneDesign& d, long double hertz) {
    const long double w = 2.0L * dsp::Pi * hertz / d.sampleRate;
    const dsp::TComplex bass = dsp::RecursionResponse(d.bass, w).H;
    const dsp::TComplex treble = dsp::RecursionResponse(d.treble, w).H;
    const long double gb = d.bassGain, gt = d.trebleGain;
    return {1.0L + gb * bass.re + gt * treble.re, gb * bass.im + gt * treble.im};
}

ToneResponsePoint ToneResponsePointAt(const TMirvakEffect::ToneDesign& d, long double hertz) {
    const dsp::TComplex h = ToneResponseAt(d, hertz);
    long double phase = std::atan2(h.im, h.re) * 180.0L / dsp::Pi;
    if (phase <= -180.0L) phase += 360.0L;
    return {hertz, 20.0L * std::log10(std::hypot(h.re, h.im)), phase};
}

std::vector<ToneResponsePoint> ToneResponse(const TMirvakEffect::ToneDesign& d, long double lowHz,
                                            long double highHz, int points) {
    std::vector<ToneResponsePoint> out;
    out.reserve(static_cast<std::size_t>(points));
    for (int i = 0; i < points; ++i) {
        const long double t =
            points > 1 ? static_cast<long double>(i) / static_cast<long double>(points - 1) : 0;
        out.push_back(ToneResponsePointAt(d, lowHz * std::pow(highHz / lowHz, t)));
    }
    return out;
}

} // namespace vurnel
