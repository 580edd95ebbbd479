// An elliptic bandpass from the vurnel filter library, run as second-order sections.
//
// Designs an 8th-order elliptic (Cauer) bandpass, 1000 to 2000 Hz at 48000 Hz, with 0.5 dB of
// passband ripple and 60 dB of stopband attenuation; prints whether its direct recursion could
// run and what the sections are; then sends a few tones through the sections and prints the level
// each comes out at.
#include <dspIIRFilters.h>
#include <dspSections.h>

#include <cmath>
#include <cstdio>

using namespace vurnel::dsp;

int main() {
    TdspIIRFilter filter;
    filter.SetSampleRate(48000);
    filter.SetKind(fkElliptic);
    filter.SetResponse(ftBandpass);
    filter.SetOrder(4); // a bandpass doubles it: 8 poles
    filter.SetRipple(0.5L);
    filter.SetAttenuation(60);
    filter.SetFrequency(1, 1000);
    filter.SetFrequency(2, 2000);
    if (!filter.GetErrorText().empty()) std::printf("design: %s\n", filter.GetErrorText().c_str());
    std::printf("recursion %s; %d poles\n", filter.IsStable() ? "stable" : "unstable",
                filter.GetZNumPoles());

    // The sections run every design stably; they copy the design, so the filter may change now.
    TdspIIRSections sections(filter);
    std::printf("%d sections, %s\n", sections.GetNumSections(),
                sections.IsStable() ? "stable" : "UNSTABLE");

    // A second of each tone; the level is the peak of the last quarter second, in dB.
    for (const double hertz : {300.0, 700.0, 1200.0, 1414.0, 1900.0, 3000.0, 8000.0}) {
        sections.Reset();
        const int rate = 48000;
        double peak = 0;
        for (int n = 0; n < rate; ++n) {
            const long double x = std::sin(2 * Pi * hertz * n / rate);
            const long double y = sections.ProcessSample(x);
            if (n >= rate * 3 / 4) peak = std::fmax(peak, std::fabs(static_cast<double>(y)));
        }
        std::printf("tone %6.0f Hz: %8.2f dB\n", hertz, 20 * std::log10(peak));
    }
    return 0;
}
