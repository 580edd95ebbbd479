// Small measuring helpers shared by the filter tests.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "dspIIRFilters.h"

namespace vurnel::test {

// The value rounded to six significant digits, as the documented values are given.
inline std::string SixDigits(long double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.5Le", v);
    return text;
}

struct Design {
    dsp::TdspIIRFilterKind kind = dsp::fkButterworth;
    dsp::TdspIIRFilterResponse response = dsp::ftLowpass;
    int order = 1;
    long double f1 = 300, f2 = 3000, rate = 44100, ripple = 0;
};

inline void Configure(dsp::TdspIIRFilter& f, const Design& d) {
    f.SetSampleRate(d.rate);
    f.SetRipple(d.ripple);
    f.SetKind(d.kind);
    f.SetResponse(d.response);
    f.SetOrder(static_cast<dsp::TdspIIRFilterOrder>(d.order));
    f.SetFrequency(1, d.f1);
    f.SetFrequency(2, d.f2);
}

inline std::vector<long double> Coeffs(const long double* c, int n) {
    return {c, c + n};
}

// Feeds n samples of a signal and returns the last output.
template <typename Signal> long double Settle(dsp::TdspIIRFilter& f, int n, Signal signal) {
    long double y = 0;
    for (int i = 0; i < n; ++i)
        y = f.ProcessSample(signal(i));
    return y;
}

} // namespace vurnel::test
