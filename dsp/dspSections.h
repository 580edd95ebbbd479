// A designed filter run as a cascade of second-order sections instead of one recursion of
// degree N. Built from the design's z-plane poles and zeros, two at a time (conjugate pairs in one
// section, real roots paired), so no polynomial of high degree is ever formed: the sections are
// stable whenever the design's poles lie inside the unit circle, at every order and frequency,
// where the recursion of a band design of high order at low frequencies may not be
// (TdspCustomIIRFilter::IsStable). The poles nearest the unit circle come last; each section has
// unit gain at the frequency where the design normalises (DC for lowpass and high shelf, Nyquist
// for highpass and low shelf, the band's centre for bandpass, the geometric mean of DC and Nyquist
// for bandstop), computed from the sections' own coefficients.
//
//   TdspIIRSections sections(filter);          // after the filter's design
//   y = sections.ProcessSample(x);             // or ProcessBlock
//
// The sections copy what they need: a later redesign of the filter does not change them.
#pragma once

#include <cstdint>

#include "dspIIRFilters.h"
#include "dspResponse.h"

namespace vurnel::dsp {

// Capacity: one section per two poles of the largest arrays.
constexpr int MaxSections = MaxPoleZero / 2 + 1;

// y[n] = B0·x[n] + B1·x[n−1] + B2·x[n−2] − A1·y[n−1] − A2·y[n−2]
struct TdspBiquad {
    long double B0, B1, B2, A1, A2;
};

class TdspIIRSections {
public:
    // No sections: passes its input through.
    TdspIIRSections() = default;
    explicit TdspIIRSections(const TdspCustomIIRFilter& filter) { Design(filter); }

    // Rebuilds the sections from the filter's current design and clears the histories.
    // Allocates nothing; any thread, but not while another thread processes samples with them.
    void Design(const TdspCustomIIRFilter& filter);
    // Clears the histories.
    void Reset();

    // The same routine the filter chose: Silence and PassThrough designs behave as they do
    // there; FilterSample designs run the sections. Allocates nothing, locks nothing.
    long double ProcessSample(long double input) {
        switch (FRoutine) {
        case TdspSampleRoutine::FilterSample:
            return input == 0.0L ? SilentSample(SignOfZero(input)) : Cascade(input);
        case TdspSampleRoutine::Silence:
            return 0.0L;
        case TdspSampleRoutine::PassThrough:
        default:
            return input;
        }
    }
    // ProcessSample for each of count samples, each result converted to the buffer's type as a
    // plain conversion converts it; input and output may be the same buffer, other overlaps are
    // not allowed. The bits of ProcessSample called sample by sample, except that a block that
    // leaves a history entry infinite or NaN (such a sample in the input) clears the histories,
    // so the output is finite again from the next block on. Allocates nothing, locks nothing.
    void ProcessBlock(const long double* input, long double* output, int count);
    void ProcessBlock(const double* input, double* output, int count);
    void ProcessBlock(const float* input, float* output, int count);

    // Samples of zeros the block calls and ProcessSample ran on each silent path (see
    // dspIIRSilence.h) since the sections were made, for tests and benchmarks.
    std::uint64_t GetSilentSamples(TdspSilentPath path) const {
        return FSilent.samples[static_cast<int>(path)];
    }

    TdspSampleRoutine GetRoutine() const { return FRoutine; }
    int GetNumSections() const { return FNumSections; }
    const TdspBiquad& GetSection(int i) const { return FSections[i]; }
    // Section i's input history (x[n−1], x[n−2]), which is section i − 1's output history; i runs
    // to GetNumSections(), the cascade's output history.
    const long double* GetHistory(int i) const { return FHistory[i]; }
    // The product of the sections' B0: the gain of the cascade on monic sections.
    long double GetGain() const;
    // Every section's poles strictly inside the unit circle (|A2| < 1 and |A1| < 1 + A2, decided
    // in 113-bit arithmetic on the coefficients as rounded).
    bool IsStable() const;

private:
    template <typename T> void Block(const T* input, T* output, int count);
    // Cascade on a zero, −0 where negative: the silent paths, where they apply. (The zero goes as
    // its sign: a long double argument goes through memory, and reading its bytes right after
    // the x87 stored them stalls the load.)
    long double SilentSample(bool negative);
    long double Cascade(long double x) {
        for (int i = 0; i < FNumSections; ++i) {
            const TdspBiquad& s = FSections[i];
            long double* in = FHistory[i];      // x[n−1], x[n−2] of this section
            long double* out = FHistory[i + 1]; // y[n−1], y[n−2]: the next section's input
            const long double y =
                (((s.B0 * x + s.B1 * in[0]) + s.B2 * in[1]) - s.A1 * out[0]) - s.A2 * out[1];
            in[1] = in[0];
            in[0] = x;
            x = y;
        }
        long double* last = FHistory[FNumSections];
        last[1] = last[0];
        last[0] = x;
        return x;
    }

    TdspSampleRoutine FRoutine = TdspSampleRoutine::PassThrough;
    int FNumSections = 0;
    TdspBiquad FSections[MaxSections] = {};
    long double FHistory[MaxSections + 1][2] = {};
    std::uint64_t FDesignCount = 0;
    TdspSilentSectionsState FSilent;
    TdspSectionsStepMemo FStepMemo; // ProcessSample's per-section results on silence
};

// H(e^jw) of the sections as they run (their rounded coefficients), the group delay in samples
// and a condition number (the sum of the sections' own); 1 for PassThrough and 0 for Silence.
// The counterpart of RecursionResponse. Allocates nothing.
TdspResponseValue SectionsResponse(const TdspIIRSections& sections, long double w);

} // namespace vurnel::dsp
