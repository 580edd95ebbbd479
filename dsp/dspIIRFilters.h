// IIR filters: Butterworth, Chebyshev (type I), Bessel, inverse Chebyshev (type II) and elliptic
// (Cauer); lowpass, highpass, bandpass and bandstop, and for Butterworth low and high shelves;
// orders 1 to 8. Designed from an analog prototype through the bilinear transform and run sample
// by sample, all in the extended format.
//
// The object holds two things, kept apart below: the design (settings in, coefficients and the
// chosen per-sample routine out; runs inside every setter that changes a value) and the
// per-sample recursion (ProcessSample; allocates nothing, branches only on the tap count).
// A redesign rewrites what ProcessSample reads, so the two must not overlap on one object.
#pragma once

#include <cstdint>
#include <string>

#include "dspComponent.h"
#include "dspIIRBlock.h"
#include "dspIIRSilence.h"
#include "dspcomplex.h"

namespace vurnel::dsp {

// The prototype's family.
// - fkButterworth: maximally flat; Frequency1 (and Frequency2) are the −3 dB points.
// - fkChebyshev: equiripple passband of Ripple dB; the frequencies are the passband edges.
// - fkBessel: maximally flat group delay (the magnitude-normalised prototype, −3 dB at the edge).
// - fkChebyshev2 (inverse Chebyshev): flat passband, equiripple stopband Attenuation dB down; the
//   frequencies are where the stopband begins (the response first reaches −Attenuation dB).
// - fkElliptic (Cauer): equiripple passband of Ripple dB and stopband Attenuation dB down, the
//   steepest transition of all; the frequencies are the passband edges.
// As the existing kinds do, every kind normalises its gain to 1 at the response's reference point
// (DC for a lowpass), so the ripple of an even-order Chebyshev or elliptic filter rises above 0 dB.
enum TdspIIRFilterKind : std::uint8_t {
    fkButterworth = 0,
    fkChebyshev = 1,
    fkBessel = 2,
    fkChebyshev2 = 3,
    fkElliptic = 4
};
// The response. The shelves are Butterworth only: a low shelf has Gain dB at 0 Hz and 0 dB at
// Nyquist, a high shelf the reverse; between them the magnitude is monotone and at Frequency1 it
// is exactly half the shelf's gain in decibels.
enum TdspIIRFilterResponse : std::uint8_t {
    ftLowpass = 0,
    ftHighpass = 1,
    ftBandpass = 2,
    ftBandstop = 3,
    ftLowShelf = 4,
    ftHighShelf = 5
};
using TdspIIRFilterOrder = std::uint8_t; // 1..8

// Capacity of every pole, zero, coefficient and history array.
constexpr int MaxPoleZero = 33;
// The lowest frequency the setter stores, and the tolerance for non-real coefficients.
constexpr long double Epsilon = 1e-10L;
// The range of the stopband attenuation (dB) and of a shelf's gain (dB, either sign).
constexpr long double MinAttenuation = 1.0L;
constexpr long double MaxAttenuation = 200.0L;
constexpr long double MaxShelfGain = 30.0L;

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
    // ripple 0, attenuation 40 dB, shelf gain 0 dB; designed before the constructor returns.
    explicit TdspCustomIIRFilter(TComponent* owner = nullptr);

    // --- Properties. A setter that stores a changed value redesigns at once (clearing the
    // histories); one that stores nothing does nothing.
    // Ignores values beyond fkElliptic; refuses a kind other than Butterworth while the response
    // is a shelf (ErrorText says why).
    TdspIIRFilterKind GetKind() const { return Kind; }
    void SetKind(TdspIIRFilterKind value);
    // Ignores values beyond ftHighShelf; refuses a shelf unless the kind is Butterworth
    // (ErrorText says why).
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
    // The passband ripple in dB of Chebyshev and elliptic filters (for an elliptic filter, the
    // response at Frequency1 lies Ripple dB below the passband's top).
    long double GetRipple() const { return Ripple; }
    // Stores the magnitude; redesigns only a Chebyshev or elliptic filter.
    void SetRipple(long double value);
    // The stopband attenuation in dB of inverse Chebyshev and elliptic filters (default 40). An
    // elliptic filter needs Attenuation above Ripple (else ErrorText says so and the design is
    // Butterworth's).
    long double GetAttenuation() const { return Attenuation; }
    // Stores the magnitude clamped into [MinAttenuation, MaxAttenuation]; ignores a value that is
    // not finite; redesigns only an inverse Chebyshev or elliptic filter.
    void SetAttenuation(long double value);
    // The gain in dB of a shelving response at its shelf (0 Hz for a low shelf, Nyquist for a
    // high shelf); default 0.
    long double GetGain() const { return Gain; }
    // Stores the value clamped into [−MaxShelfGain, MaxShelfGain]; ignores a value that is not
    // finite; redesigns only a shelf.
    void SetGain(long double value);

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

    // ProcessSample for each of count samples, each result converted to the buffer's type as a
    // plain conversion converts it (for long double, stored as it is); input and output may be
    // the same buffer, other overlaps are not allowed. The outputs and histories keep the bits
    // of ProcessSample called sample by sample, with one difference: after a block that leaves a
    // history entry infinite or NaN (such a sample in the input, or an unstable recursion that
    // overflowed) the histories are cleared, so the output is finite again from the next block
    // on. Allocates nothing, locks nothing.
    void ProcessBlock(const long double* input, long double* output, int count);
    void ProcessBlock(const double* input, double* output, int count);
    void ProcessBlock(const float* input, float* output, int count);

    // Samples of zeros the block calls and ProcessSample ran on each silent path (see
    // dspIIRSilence.h) since the filter was made, for tests and benchmarks.
    std::uint64_t GetSilentSamples(TdspSilentPath path) const {
        return FSilent.samples[static_cast<int>(path)];
    }

protected:
    long double PassThrough(long double input) { return input; }
    long double Silence(long double /*input*/) { return 0.0L; }
    long double FilterSample(long double input) {
        if (input == 0.0L) return SilentSample(SignOfZero(input));
        return IIRFilterStep(NumTaps, GainFactor, XCoeffs, YCoeffs, XV, YV, input);
    }
    // FilterSample on a zero, −0 where negative: the silent paths, where they apply. (The zero
    // goes as its sign: a long double argument goes through memory, and reading its bytes
    // right after the x87 stored them stalls the load.)
    long double SilentSample(bool negative);

    TdspIIRFilterKind Kind = fkButterworth;
    TdspIIRFilterResponse Response = ftLowpass;
    TdspIIRFilterOrder Order = 0;
    long double Frequency1 = 0;
    long double Frequency2 = 0;
    long double SampleRate = 0;
    long double Ripple = 0;
    long double Attenuation = 0;
    long double Gain = 0;
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
    void ApplyInverseChebyshev();
    void ApplyElliptic();
    void ApplyShelf();
    void Refuse(const char* why);
    void MapToZPlane();
    TComplex ZeroPoleRatio(TComplex x) const;
    void ComputeCoefficients(DesignWork& w);

    void CheckStability();
    template <typename T> void Block(const T* input, T* output, int count);

    TdspSampleRoutine FRoutine = TdspSampleRoutine::PassThrough;
    std::uint64_t FDesignCount = 0;
    TdspSilentState FSilent;
    TdspIIRBlockCache FBlockCache; // the block calls' work on the coefficients, between calls
    bool FStable = true;
    // Where the line about an unstable recursion (and the line break before it) begins in
    // ErrorText; npos when there is none.
    std::size_t FStabilitySeparator = std::string::npos;
    std::size_t FStabilityNote = std::string::npos;
};

// The filter callers create: publishes Kind, Response, Order, Frequency1, Frequency2,
// SampleRate, Ripple, Attenuation and Gain through the accessors above.
class TdspIIRFilter : public TdspCustomIIRFilter {
public:
    using TdspCustomIIRFilter::TdspCustomIIRFilter;
};

} // namespace vurnel::dsp
