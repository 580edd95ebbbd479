// IIR filters: Butterworth, Chebyshev and Bessel; lowpass, highpass, bandpass and bandstop;
// orders 1 to 8. Designed from an analog prototype through the bilinear transform and run
// sample by sample, all in the extended format.
//
// The object holds two things, kept apart below: the design (settings in, coefficients and the
// chosen per-sample routine out; runs inside every setter that changes a value) and the
// per-sample recursion (ProcessSample; allocates nothing, branches only on the tap count).
// A redesign rewrites what ProcessSample reads, so the two must not overlap on one object.
#pragma once

#include <cstdint>
#include <string>

#include "dspComponent.h"
#include "dspcomplex.h"

namespace vurnel::dsp {

enum TdspIIRFilterKind : std::uint8_t { fkButterworth = 0, fkChebyshev = 1, fkBessel = 2 };
enum TdspIIRFilterResponse : std::uint8_t {
    ftLowpass = 0,
    ftHighpass = 1,
    ftBandpass = 2,
    ftBandstop = 3
};
using TdspIIRFilterOrder = std::uint8_t; // 1..8

// Capacity of every pole, zero, coefficient and history array.
constexpr int MaxPoleZero = 33;
// The lowest frequency the setter stores, and the tolerance for non-real coefficients.
constexpr long double Epsilon = 1e-10L;

// Which per-sample routine a design chose.
enum class TdspSampleRoutine : std::uint8_t { PassThrough, Silence, FilterSample };

// One step of the recursion y = g·x + Σ XCoeffs[i]·u[n−N+i] + Σ YCoeffs[i]·y[n−N+i]:
// histories shift by one, the scaled input enters at xv[N], the output leaves at yv[N].
inline long double IIRFilterStep(int numTaps, long double gainFactor, const long double* xCoeffs,
                                 const long double* yCoeffs, long double* xv, long double* yv,
                                 long double x) {
    for (int i = 0; i < numTaps; ++i) {
        xv[i] = xv[i + 1];
        yv[i] = yv[i + 1];
    }
    const long double t = x * gainFactor;
    xv[numTaps] = t;
    long double acc = t;
    for (int i = 0; i < numTaps; ++i)
        acc = (acc + xv[i] * xCoeffs[i]) + yv[i] * yCoeffs[i];
    yv[numTaps] = acc;
    return acc;
}

// Everything the per-sample routine reads from a design, for running it elsewhere (on another
// thread, on another signal).
struct TdspIIRDesignSnapshot {
    std::uint64_t DesignCount;
    std::int32_t NumTaps;
    TdspSampleRoutine Routine;
    long double GainFactor;
    long double XCoeffs[MaxPoleZero];
    long double YCoeffs[MaxPoleZero];
};

class TdspCustomIIRFilter : public TComponent {
public:
    // Defaults: Butterworth lowpass, order 1, 300 Hz (second edge 3000 Hz) at 44100 Hz,
    // ripple 0; designed before the constructor returns.
    explicit TdspCustomIIRFilter(TComponent* owner = nullptr);

    // --- Properties. A setter that stores a changed value redesigns at once (clearing the
    // histories); one that stores nothing does nothing.
    TdspIIRFilterKind GetKind() const { return Kind; }
    void SetKind(TdspIIRFilterKind value);
    TdspIIRFilterResponse GetResponse() const { return Response; }
    void SetResponse(TdspIIRFilterResponse value);
    TdspIIRFilterOrder GetOrder() const { return Order; }
    void SetOrder(TdspIIRFilterOrder value);
    // Index 1 reads Frequency1; any other index reads Frequency2 for bandpass and bandstop and
    // Frequency1 for lowpass and highpass.
    long double GetFrequency(std::int32_t index) const;
    // Index 1 writes Frequency1, any other Frequency2; clamped into
    // [Epsilon, SampleRate / 2 − 0.0001], a NaN giving the upper bound.
    void SetFrequency(std::int32_t index, long double value);
    long double GetSampleRate() const { return SampleRate; }
    // Ignores values that are not greater than 0; lowers frequencies above the new bound.
    void SetSampleRate(long double value);
    long double GetRipple() const { return Ripple; }
    // Stores the magnitude; redesigns only a Chebyshev filter.
    void SetRipple(long double value);

    // --- The design's results, for inspection.
    const std::string& GetErrorText() const { return ErrorText; }
    long double GetGainFactor() const { return GainFactor; }
    std::int32_t GetNumTaps() const { return NumTaps; }
    const long double* GetXCoeffs() const { return XCoeffs; }
    const long double* GetYCoeffs() const { return YCoeffs; }
    const long double* GetXV() const { return XV; }
    const long double* GetYV() const { return YV; }
    const TComplex* GetSPoles() const { return SPoles; }
    const TComplex* GetSZeros() const { return SZeros; }
    std::int32_t GetSNumPoles() const { return SNumPoles; }
    std::int32_t GetSNumZeros() const { return SNumZeros; }
    const TComplex* GetZPoles() const { return ZPoles; }
    const TComplex* GetZZeros() const { return ZZeros; }
    std::int32_t GetZNumPoles() const { return ZNumPoles; }
    std::int32_t GetZNumZeros() const { return ZNumZeros; }
    TdspSampleRoutine GetRoutine() const { return FRoutine; }
    // How many designs have run; every design clears the histories.
    std::uint64_t GetDesignCount() const { return FDesignCount; }
    void TakeDesignSnapshot(TdspIIRDesignSnapshot& snapshot) const;

    // --- Whether the per-sample routine can run. The expansion of many poles into one
    // polynomial, rounded to the extended format, can move roots of the feedback polynomial to or
    // beyond the unit circle although the design's z-plane poles lie inside it (band designs of
    // high order at low frequencies); such a recursion's output grows without bound, and the
    // design appends a line saying so to ErrorText. TdspIIRSections runs every design stably.
    // True for PassThrough and Silence, and for FilterSample when every root of
    // z^N − Σ YCoeffs[k]·z^k lies strictly inside the unit circle. Decided by the design.
    bool IsStable() const { return FStable; }
    // The roots of z^N − Σ YCoeffs[k]·z^k, the recursion's poles as rounded, into roots[0..N);
    // false if the root finder did not settle. Allocates nothing; tens of microseconds at N = 16.
    bool RecursionRoots(TComplex* roots) const;
    // max |root| of the above (0 without taps).
    long double LargestRootMagnitude() const;

    // Rebuilds everything the per-sample routine reads from the settings alone and clears the
    // histories. Never fails; faults leave a text in ErrorText.
    void DesignFilter();

    // --- The per-sample routine chosen by the last design. Allocates nothing.
    long double ProcessSample(long double input) {
        switch (FRoutine) {
        case TdspSampleRoutine::FilterSample:
            return FilterSample(input);
        case TdspSampleRoutine::Silence:
            return Silence(input);
        case TdspSampleRoutine::PassThrough:
        default:
            return PassThrough(input);
        }
    }

protected:
    long double PassThrough(long double input) { return input; }
    long double Silence(long double /*input*/) { return 0.0L; }
    long double FilterSample(long double input) {
        return IIRFilterStep(NumTaps, GainFactor, XCoeffs, YCoeffs, XV, YV, input);
    }

    TdspIIRFilterKind Kind = fkButterworth;
    TdspIIRFilterResponse Response = ftLowpass;
    TdspIIRFilterOrder Order = 0;
    long double Frequency1 = 0;
    long double Frequency2 = 0;
    long double SampleRate = 0;
    long double Ripple = 0;
    long double GainFactor = 0;
    std::string ErrorText;
    TComplex SPoles[MaxPoleZero] = {};
    TComplex SZeros[MaxPoleZero] = {};
    std::int32_t SNumPoles = 0;
    std::int32_t SNumZeros = 0;
    TComplex ZPoles[MaxPoleZero] = {};
    TComplex ZZeros[MaxPoleZero] = {};
    std::int32_t ZNumPoles = 0;
    std::int32_t ZNumZeros = 0;
    long double XV[MaxPoleZero] = {};
    long double YV[MaxPoleZero] = {};
    long double XCoeffs[MaxPoleZero] = {};
    long double YCoeffs[MaxPoleZero] = {};
    std::int32_t NumTaps = 0;

    // a[0..n] := the coefficients of the product of (z − roots[k]); a coefficient whose
    // imaginary part exceeds Epsilon in magnitude puts a line in ErrorText.
    void ExpandPolynomial(const TComplex* roots, int n, TComplex* a);

private:
    struct DesignWork;
    void AcceptPole(TComplex p);
    void ApplyChebyshevRipple();
    void MapToZPlane();
    void ComputeCoefficients(DesignWork& w);

    void CheckStability();

    TdspSampleRoutine FRoutine = TdspSampleRoutine::PassThrough;
    std::uint64_t FDesignCount = 0;
    bool FStable = true;
    // Where the line about an unstable recursion (and the line break before it) begins in
    // ErrorText; npos when there is none.
    std::size_t FStabilitySeparator = std::string::npos;
    std::size_t FStabilityNote = std::string::npos;
};

// The filter callers create: publishes Kind, Response, Order, Frequency1, Frequency2,
// SampleRate and Ripple through the accessors above.
class TdspIIRFilter : public TdspCustomIIRFilter {
public:
    using TdspCustomIIRFilter::TdspCustomIIRFilter;
};

} // namespace vurnel::dsp
