#include "dspIIRFilters.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "dspElliptic.h"
#include "dspExtendedBits.h"
#include "dspIIRBlock.h"
#include "dspStability.h"

namespace vurnel::dsp {
namespace {

// Bessel prototype poles: a row holds a real pole or the member of a conjugate pair with the
// positive imaginary part. Order n uses the rows from n² div 4 on.
const TComplex BesselPoles[20] = {
    {-1.0L, 0.0L},
    {-1.10160133059L, 0.636009824757L},
    {-1.32267579991L, 0.0L},
    {-1.04740916101L, 0.999264436281L},
    {-1.37006783055L, 0.410249717494L},
    {-0.99520876435L, 1.25710573945L},
    {-1.50231627145L, 0.0L},
    {-1.38087732586L, 0.717909587627L},
    {-0.957676548563L, 1.47112432073L},
    {-1.57149040362L, 0.320896374221L},
    {-1.3818580976L, 0.971471890712L},
    {-0.930656522947L, 1.66186326894L},
    {-1.68436817927L, 0.0L},
    {-1.61203876622L, 0.589244506931L},
    {-1.3789032168L, 1.1915667778L},
    {-0.909867780623L, 1.83645135304L},
    {-1.7574084004L, 0.272867575103L},
    {-1.63693941813L, 0.822795625139L},
    {-1.37384121764L, 1.38835657588L},
    {-0.892869718847L, 1.99832584364L},
};

constexpr long double kFloorPerOrder = 1e-4L; // cycles per sample, times the order
constexpr long double kBelowNyquist = 1e-4L;  // hertz kept below half the sample rate

long double Larger(long double a, long double b) {
    return a > b ? a : b;
}

// "%g" with up to 15 significant digits.
std::string FormatGeneral(long double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    char text[48];
    std::snprintf(text, sizeof text, "%.15g", static_cast<double>(value));
    return text;
}

TComplex BilinearMap(TComplex s) {
    return CDiv(CAdd(Complex(2.0L, 0.0L), s), CSub(Complex(2.0L, 0.0L), s));
}

// The response's frequencies are one edge (lowpass, highpass and the shelves) or two (band).
bool IsBand(TdspIIRFilterResponse response) {
    return response == ftBandpass || response == ftBandstop;
}
bool IsShelf(TdspIIRFilterResponse response) {
    return response == ftLowShelf || response == ftHighShelf;
}

// √(10^(dB/10) − 1), floored at Epsilon: the ε of a ripple or an attenuation in decibels.
long double EpsilonOfDb(long double db) {
    return Larger(std::sqrt(std::pow(10.0L, db / 10.0L) - 1.0L), Epsilon);
}

TComplex EvalPolynomial(const TComplex* a, int n, TComplex x) {
    TComplex acc = Complex(0.0L, 0.0L);
    for (int j = n; j >= 0; --j)
        acc = CAdd(CMul(acc, x), a[j]);
    return acc;
}

} // namespace

// Working values of one design; none of them is kept in the filter.
struct TdspCustomIIRFilter::DesignWork {
    long double NormFreq1 = 0, NormFreq2 = 0;
    long double Warped1 = 0, Warped2 = 0;
    long double CentreW = 0, BandW = 0;
    TComplex NumCoeffs[MaxPoleZero]; // entries 0..degree written by ExpandPolynomial first
    TComplex DenCoeffs[MaxPoleZero];
    TComplex DCGain{}, CentreGain{}, HFGain{};

    TComplex EvalResponse(int numZeros, int numPoles, TComplex x) const {
        return CDiv(EvalPolynomial(NumCoeffs, numZeros, x), EvalPolynomial(DenCoeffs, numPoles, x));
    }
};

TdspCustomIIRFilter::TdspCustomIIRFilter(TComponent* owner) : TComponent(owner) {
    FRoutine = TdspSampleRoutine::PassThrough;
    SampleRate = 44100.0L;
    Frequency1 = 300.0L;
    Frequency2 = 3000.0L;
    Order = 1;
    Attenuation = 40.0L;
    DesignFilter();
}

// ---------------------------------------------------------------------------------------------
// Properties

long double TdspCustomIIRFilter::GetFrequency(std::int32_t index) const {
    if (index == 1) return Frequency1;
    return (Response == ftBandpass || Response == ftBandstop) ? Frequency2 : Frequency1;
}

// A refused setting: ErrorText says why, and nothing else changes.
void TdspCustomIIRFilter::Refuse(const char* why) {
    ErrorText = why;
    FStabilityNote = FStabilitySeparator = std::string::npos;
}

void TdspCustomIIRFilter::SetKind(TdspIIRFilterKind value) {
    if (value != Kind && value <= fkElliptic) {
        if (IsShelf(Response) && value != fkButterworth) {
            Refuse("Kind refused: shelving responses are designed for Butterworth filters only; "
                   "choose another response first");
            return;
        }
        Kind = value;
        DesignFilter();
    }
}

void TdspCustomIIRFilter::SetResponse(TdspIIRFilterResponse value) {
    if (value != Response && value <= ftHighShelf) {
        if (IsShelf(value) && Kind != fkButterworth) {
            Refuse("Response refused: shelving responses are designed for Butterworth filters "
                   "only");
            return;
        }
        Response = value;
        DesignFilter();
    }
}

void TdspCustomIIRFilter::SetOrder(TdspIIRFilterOrder value) {
    if (value != Order && value >= 1 && value <= 8) {
        Order = value;
        DesignFilter();
    }
}

void TdspCustomIIRFilter::SetFrequency(std::int32_t index, long double value) {
    const long double upper = SampleRate / 2.0L - kBelowNyquist;
    const long double capped = value < upper ? value : upper; // NaN gives the upper bound
    const long double clamped = capped >= Epsilon ? capped : Epsilon;
    long double& target = index == 1 ? Frequency1 : Frequency2;
    if (std::islessgreater(clamped, target)) {
        target = clamped;
        DesignFilter();
    }
}

void TdspCustomIIRFilter::SetSampleRate(long double value) {
    if (!std::islessgreater(value, SampleRate)) return; // equal, or a NaN
    if (!(value > 0.0L)) return;
    SampleRate = value;
    const long double upper = SampleRate / 2.0L - kBelowNyquist;
    if (upper <= Frequency1) Frequency1 = upper;
    if (upper <= Frequency2) Frequency2 = upper;
    DesignFilter();
}

void TdspCustomIIRFilter::SetRipple(long double value) {
    const long double magnitude = std::fabs(value);
    if (std::islessgreater(magnitude, Ripple)) {
        Ripple = magnitude;
        if (Kind == fkChebyshev || Kind == fkElliptic) DesignFilter();
    }
}

void TdspCustomIIRFilter::SetAttenuation(long double value) {
    if (!std::isfinite(value)) return;
    long double clamped = std::fabs(value);
    if (clamped < MinAttenuation) clamped = MinAttenuation;
    if (clamped > MaxAttenuation) clamped = MaxAttenuation;
    if (std::islessgreater(clamped, Attenuation)) {
        Attenuation = clamped;
        if (Kind == fkChebyshev2 || Kind == fkElliptic) DesignFilter();
    }
}

void TdspCustomIIRFilter::SetGain(long double value) {
    if (!std::isfinite(value)) return;
    const long double clamped =
        value < -MaxShelfGain ? -MaxShelfGain : (value > MaxShelfGain ? MaxShelfGain : value);
    if (std::islessgreater(clamped, Gain)) {
        Gain = clamped;
        if (IsShelf(Response)) DesignFilter();
    }
}

void TdspCustomIIRFilter::TakeDesignSnapshot(TdspIIRDesignSnapshot& snapshot) const {
    snapshot.DesignCount = FDesignCount;
    snapshot.NumTaps = NumTaps;
    snapshot.Routine = FRoutine;
    snapshot.GainFactor = GainFactor;
    for (int i = 0; i < NumTaps; ++i) { // all the recursion reads
        snapshot.XCoeffs[i] = XCoeffs[i];
        snapshot.YCoeffs[i] = YCoeffs[i];
    }
}

// ---------------------------------------------------------------------------------------------
// Stability of the recursion as rounded

bool TdspCustomIIRFilter::RecursionRoots(TComplex* roots) const {
    return dsp::RecursionRoots(YCoeffs, NumTaps, ZPoles, roots);
}

long double TdspCustomIIRFilter::LargestRootMagnitude() const {
    if (NumTaps == 1) return std::fabs(YCoeffs[0]);
    TComplex roots[MaxPoleZero];
    RecursionRoots(roots);
    long double largest = 0.0L;
    for (int i = 0; i < NumTaps; ++i) {
        const long double m = CAbs(roots[i]);
        if (!(m <= largest)) largest = m; // a NaN wins
    }
    return largest;
}

// Allocates nothing unless the recursion is unstable (only the ErrorText line does); a
// first-order design costs one comparison. ErrorText holds at most one such line, about the
// current design: a stable design takes back the line an earlier one appended (the design's own
// fault texts stay as they are), and a redesign of the same settings does not repeat it.
void TdspCustomIIRFilter::CheckStability() {
    static constexpr char kNote[] = "Recursion unstable:";
    // Is the end of ErrorText still the line this check appended last time?
    const bool noted = FStabilityNote <= ErrorText.size() &&
                       ErrorText.compare(FStabilityNote, sizeof kNote - 1, kNote) == 0;
    FStable =
        FRoutine != TdspSampleRoutine::FilterSample || dsp::RecursionIsStable(YCoeffs, NumTaps);
    if (FStable) {
        if (noted) ErrorText.erase(FStabilitySeparator); // shrinks in place
        FStabilityNote = FStabilitySeparator = std::string::npos;
        return;
    }
    char line[192];
    std::snprintf(line, sizeof line,
                  "%s its largest root has |z| = %.10Lg; run this design as second-order "
                  "sections (TdspIIRSections), which are stable\r\n",
                  kNote, LargestRootMagnitude());
    if (noted) {
        if (ErrorText.compare(FStabilityNote, std::string::npos, line) == 0) return;
        ErrorText.erase(FStabilitySeparator);
    }
    FStabilitySeparator = ErrorText.size();
    if (!ErrorText.empty() && ErrorText.back() != '\n') ErrorText += "\r\n";
    FStabilityNote = ErrorText.size();
    ErrorText += line;
}

// ---------------------------------------------------------------------------------------------
// Design

void TdspCustomIIRFilter::AcceptPole(TComplex p) {
    if (p.re < 0.0L) SPoles[SNumPoles++] = p;
}

void TdspCustomIIRFilter::ApplyChebyshevRipple() {
    const long double rip = std::pow(10.0L, Ripple / 10.0L);
    const long double eps = Larger(std::sqrt(rip - 1.0L), Epsilon);
    const long double x = 1.0L / eps;
    const long double y = std::log(x + std::sqrt(x * x + 1.0L)) / Order;
    if (y > 0.0L) {
        const long double sh = std::sinh(y);
        const long double ch = std::cosh(y);
        for (int i = 0; i < SNumPoles; ++i) {
            SPoles[i].re = SPoles[i].re * sh;
            SPoles[i].im = SPoles[i].im * ch;
        }
    } else {
        ErrorText = "Chebyshev filter error y=" + FormatGeneral(y) + "; must be .gt. 0.0";
    }
}

// The inverse Chebyshev prototype from the Butterworth poles: the type I poles of the ε that puts
// −Attenuation dB at 1 rad/s, inverted, and zeros at ±j/cos((2i − 1)·π/(2N)) (j over the
// imaginary part of each non-real Butterworth pole), where T_N(1/ω) vanishes.
void TdspCustomIIRFilter::ApplyInverseChebyshev() {
    for (int i = 0; i < SNumPoles; ++i)
        if (std::fabs(SPoles[i].im) > 0.1L) // the real pole of an odd order has none
            SZeros[SNumZeros++] = Complex(0.0L, 1.0L / SPoles[i].im);
    const long double y =
        std::asinh(std::sqrt(std::pow(10.0L, Attenuation / 10.0L) - 1.0L)) / Order;
    const long double sh = std::sinh(y);
    const long double ch = std::cosh(y);
    for (int i = 0; i < SNumPoles; ++i)
        SPoles[i] = CDiv(Complex(1.0L, 0.0L), Complex(SPoles[i].re * sh, SPoles[i].im * ch));
}

// The elliptic prototype in place of the Butterworth poles; with Attenuation not above Ripple
// there is none, and the Butterworth poles stay.
void TdspCustomIIRFilter::ApplyElliptic() {
    const long double epsPass = EpsilonOfDb(Ripple);
    const long double epsStop = std::sqrt(std::pow(10.0L, Attenuation / 10.0L) - 1.0L);
    if (!(epsPass < epsStop)) {
        ErrorText = "Elliptic filter error: attenuation " + FormatGeneral(Attenuation) +
                    " dB must exceed ripple " + FormatGeneral(Ripple) + " dB";
        return;
    }
    SNumZeros = EllipticPrototype(Order, epsPass, epsStop, SPoles, SZeros);
}

// The shelf from the Butterworth poles b: poles b/r and zeros b·r with r = g^(1/(2N)), g the
// linear gain, so that |H(jω)|² = (g + ω^2N) / (1/g + ω^2N): g at 0, 1 at infinity, √g at 1.
void TdspCustomIIRFilter::ApplyShelf() {
    const long double r = std::pow(10.0L, Gain / (40.0L * Order));
    for (int i = 0; i < SNumPoles; ++i) {
        SZeros[i] = CScale(SPoles[i], r);
        SPoles[i] = Complex(SPoles[i].re / r, SPoles[i].im / r);
    }
    SNumZeros = SNumPoles;
}

void TdspCustomIIRFilter::MapToZPlane() {
    ZNumPoles = SNumPoles;
    ZNumZeros = SNumZeros;
    for (int i = 0; i < ZNumPoles; ++i)
        ZPoles[i] = BilinearMap(SPoles[i]);
    for (int i = 0; i < ZNumZeros; ++i)
        ZZeros[i] = BilinearMap(SZeros[i]);
    while (ZNumZeros < ZNumPoles)
        ZZeros[ZNumZeros++] = Complex(-1.0L, 0.0L);
}

void TdspCustomIIRFilter::ExpandPolynomial(const TComplex* roots, int n, TComplex* a) {
    a[0] = Complex(1.0L, 0.0L);
    for (int j = 1; j <= n; ++j)
        a[j] = Complex(0.0L, 0.0L);
    for (int k = 0; k < n; ++k) {
        const TComplex w = CNeg(roots[k]);
        for (int j = n; j >= 1; --j)
            a[j] = CAdd(CMul(w, a[j]), a[j - 1]);
        a[0] = CMul(w, a[0]);
    }
    std::string faults;
    for (int j = 0; j <= n; ++j) {
        if (std::fabs(a[j].im) > Epsilon) {
            char line[96];
            std::snprintf(line, sizeof line,
                          "Coeff of z^%d is not real; poles/zeros are not complex conjugates\r\n",
                          j);
            faults += line;
        }
    }
    if (!faults.empty()) ErrorText = faults;
}

void TdspCustomIIRFilter::ComputeCoefficients(DesignWork& w) {
    ExpandPolynomial(ZZeros, ZNumZeros, w.NumCoeffs);
    ExpandPolynomial(ZPoles, ZNumPoles, w.DenCoeffs);
    w.DCGain = w.EvalResponse(ZNumZeros, ZNumPoles, Complex(1.0L, 0.0L));
    w.CentreGain =
        w.EvalResponse(ZNumZeros, ZNumPoles, CFromAngle(Pi * (w.NormFreq1 + w.NormFreq2)));
    w.HFGain = w.EvalResponse(ZNumZeros, ZNumPoles, Complex(-1.0L, 0.0L));
    const long double leading = w.DenCoeffs[ZNumPoles].re;
    for (int i = 0; i < ZNumZeros; ++i)
        XCoeffs[i] = w.NumCoeffs[i].re / leading;
    for (int i = 0; i < ZNumPoles; ++i)
        YCoeffs[i] = -w.DenCoeffs[i].re / leading;
}

// ∏ (x − ZZeros[i]) / (x − ZPoles[i]) for a design with as many zeros as poles. Where poles and
// zeros crowd next to x (a high shelf of high order at a low frequency, at DC) this product keeps
// every digit that the expanded polynomials lose to cancellation.
TComplex TdspCustomIIRFilter::ZeroPoleRatio(TComplex x) const {
    TComplex ratio = Complex(1.0L, 0.0L);
    for (int i = 0; i < ZNumPoles; ++i)
        ratio = CMul(ratio, CDiv(CSub(x, ZZeros[i]), CSub(x, ZPoles[i])));
    return ratio;
}

void TdspCustomIIRFilter::DesignFilter() {
    DesignWork w;

    // 1. Normalised frequencies, floored at Order·10⁻⁴ cycles per sample.
    const long double floor = Order * kFloorPerOrder;
    w.NormFreq1 = Larger(GetFrequency(1) / SampleRate, floor);
    w.NormFreq2 = Larger(GetFrequency(2) / SampleRate, floor);
    if (!IsBand(Response)) w.NormFreq2 = w.NormFreq1;

    // 2. Reset the pole/zero sets. All-zero bytes are +0 in the extended format, and a block
    // clear is far cheaper than storing 264 extended zeros one by one.
    std::memset(static_cast<void*>(SPoles), 0, sizeof SPoles);
    std::memset(static_cast<void*>(SZeros), 0, sizeof SZeros);
    std::memset(static_cast<void*>(ZPoles), 0, sizeof ZPoles);
    std::memset(static_cast<void*>(ZZeros), 0, sizeof ZZeros);
    SNumPoles = SNumZeros = ZNumPoles = ZNumZeros = 0;

    // 3. Prototype poles.
    if (Kind == fkBessel) {
        int k = (Order * Order) / 4;
        if (Order % 2 == 1) AcceptPole(BesselPoles[k++]);
        for (int pair = 0; pair < Order / 2; ++pair, ++k) {
            AcceptPole(BesselPoles[k]);
            AcceptPole(CConj(BesselPoles[k]));
        }
    } else {
        for (int i = 0; i < 2 * Order; ++i) {
            const long double theta = Order % 2 == 1 ? (i * Pi) / Order : ((i + 0.5L) * Pi) / Order;
            AcceptPole(CFromAngle(theta));
        }
    }

    // 4. Chebyshev ripple; the prototypes that have zeros (inverse Chebyshev, elliptic, shelf).
    if (Kind == fkChebyshev) ApplyChebyshevRipple();
    if (Kind == fkChebyshev2) ApplyInverseChebyshev();
    if (Kind == fkElliptic) ApplyElliptic();
    if (IsShelf(Response)) ApplyShelf();

    // 5. Pre-warping.
    w.Warped1 = 2.0L * std::tan(Pi * w.NormFreq1);
    w.Warped2 = 2.0L * std::tan(Pi * w.NormFreq2);

    // 6. Response transformation. The prototype's finite zeros (nz ≤ n) go where its poles go;
    // its n − nz zeros at infinity go to z = −1 (lowpass, added by the bilinear transform), to
    // s = 0 (highpass, bandpass) or to ±j·CentreW (bandstop).
    const int n = SNumPoles;
    const int nz = SNumZeros;
    switch (Response) {
    case ftLowpass:
    case ftLowShelf:
        for (int i = 0; i < n; ++i)
            SPoles[i] = CScale(SPoles[i], w.Warped1);
        for (int i = 0; i < nz; ++i)
            SZeros[i] = CScale(SZeros[i], w.Warped1);
        break;
    case ftHighpass:
    case ftHighShelf:
        for (int i = 0; i < n; ++i) {
            SPoles[i] = CDiv(Complex(w.Warped1, 0.0L), SPoles[i]);
            SZeros[i] = i < nz ? CDiv(Complex(w.Warped1, 0.0L), SZeros[i]) : Complex(0.0L, 0.0L);
        }
        SNumZeros = n;
        break;
    case ftBandpass:
    case ftBandstop: {
        if (!(w.Warped2 >= w.Warped1)) {
            const long double swap = w.Warped1;
            w.Warped1 = w.Warped2;
            w.Warped2 = swap;
        }
        w.CentreW = std::sqrt(w.Warped1 * w.Warped2);
        w.BandW = Larger(w.Warped2 - w.Warped1, floor);
        const TComplex one = Complex(1.0L, 0.0L);
        // Each root r of the prototype gives the two roots h·(1 ± t) of the band design.
        auto split = [&](TComplex* roots, int count) {
            for (int i = 0; i < count; ++i) {
                const TComplex h = Response == ftBandpass
                                       ? CScale(roots[i], w.BandW * 0.5L)
                                       : CDiv(Complex(w.BandW * 0.5L, 0.0L), roots[i]);
                const TComplex t = CSqrt(CSub(one, CSqr(CDiv(Complex(w.CentreW, 0.0L), h))));
                roots[i] = CMul(h, CAdd(one, t));
                roots[count + i] = CMul(h, CSub(one, t));
            }
        };
        split(SPoles, n);
        split(SZeros, nz);
        const int atInfinity = n - nz;
        if (Response == ftBandpass) {
            for (int i = 0; i < atInfinity; ++i)
                SZeros[2 * nz + i] = Complex(0.0L, 0.0L);
            SNumZeros = 2 * nz + atInfinity;
        } else {
            for (int i = 0; i < atInfinity; ++i) {
                SZeros[2 * nz + i] = Complex(0.0L, w.CentreW);
                SZeros[2 * nz + atInfinity + i] = Complex(0.0L, -w.CentreW);
            }
            SNumZeros = 2 * nz + 2 * atInfinity;
        }
        SNumPoles = 2 * n;
        break;
    }
    }

    // 7. Bilinear transform.
    MapToZPlane();

    // 8. Recursion length; clear the histories.
    NumTaps = SNumPoles;
    for (int i = 0; i < MaxPoleZero; ++i)
        XV[i] = YV[i] = 0.0L;

    // 9. Coefficients and the three reference gains.
    ComputeCoefficients(w);

    // 10. Reference gain.
    TComplex g;
    switch (Response) {
    case ftLowpass:
        g = w.DCGain;
        break;
    case ftHighpass:
        g = w.HFGain;
        break;
    case ftLowShelf: // 0 dB at Nyquist
        g = ZeroPoleRatio(Complex(-1.0L, 0.0L));
        break;
    case ftHighShelf: // 0 dB at DC
        g = ZeroPoleRatio(Complex(1.0L, 0.0L));
        break;
    case ftBandpass:
        g = w.CentreGain;
        break;
    case ftBandstop:
    default:
        g = CSqrt(CMul(w.DCGain, w.HFGain));
        break;
    }
    GainFactor = 1.0L / CAbs(g);

    // 11. Per-sample routine.
    FRoutine = TdspSampleRoutine::FilterSample;
    if (w.NormFreq1 == w.NormFreq2) {
        if (Response == ftBandpass) FRoutine = TdspSampleRoutine::Silence;
        if (Response == ftBandstop) FRoutine = TdspSampleRoutine::PassThrough;
    }

    // 12. Can the recursion run as rounded?
    CheckStability();
    ++FDesignCount;
}

// ---------------------------------------------------------------------------------------------
// Blocks

template <typename T> void TdspCustomIIRFilter::Block(const T* input, T* output, int count) {
    switch (FRoutine) {
    case TdspSampleRoutine::FilterSample:
        break;
    case TdspSampleRoutine::Silence:
        for (int i = 0; i < count; ++i)
            output[i] = T(0);
        return;
    case TdspSampleRoutine::PassThrough:
    default:
        for (int i = 0; i < count; ++i)
            output[i] = input[i];
        return;
    }
    if (count <= 0) return;
    // Zeros (of either sign) run on the silent paths where they apply: the same bits, none of
    // the x87's slow paths.
    if (!AllZeros(input, count) || !IIRSilentBlock(NumTaps, GainFactor, XCoeffs, YCoeffs, XV, YV,
                                                   input, output, count, FDesignCount, FSilent)) {
        if constexpr (sizeof(T) < sizeof(long double))
            IIRFilterBlock(NumTaps, GainFactor, XCoeffs, YCoeffs, XV, YV, input, output, count,
                           FBlockCache);
        else
            IIRFilterBlock(NumTaps, GainFactor, XCoeffs, YCoeffs, XV, YV, input, output, count);
    }
    // A value that is not finite stays in the recursion for good: start it again from rest.
    // Looked at as bits, so that no operation touches the values.
    bool finite = true;
    for (int i = 0; i <= NumTaps; ++i)
        finite = finite && ToBits(XV[i]).IsFinite() && ToBits(YV[i]).IsFinite();
    if (!finite)
        for (int i = 0; i <= NumTaps; ++i)
            XV[i] = YV[i] = 0.0L;
}

long double TdspCustomIIRFilter::SilentSample(bool negative) {
    // The Normal path's plain step inlined here with the tap count fixed where it is small: the
    // histories move by a few loads and stores instead of two calls to memmove, and no further
    // call is made (at one to three taps those calls cost about as much as the step itself).
    if (IIRSilentSampleIsNormal(NumTaps, XV, YV, FDesignCount, FSilent)) {
        // The zero by a load, not a branch: the signs of silence are often random.
        static constexpr long double kZeros[2] = {0.0L, -0.0L};
        const long double x = kZeros[negative ? 1 : 0];
        switch (NumTaps) {
        case 1:
            return IIRFilterStep(1, GainFactor, XCoeffs, YCoeffs, XV, YV, x);
        case 2:
            return IIRFilterStep(2, GainFactor, XCoeffs, YCoeffs, XV, YV, x);
        case 3:
            return IIRFilterStep(3, GainFactor, XCoeffs, YCoeffs, XV, YV, x);
        case 4:
            return IIRFilterStep(4, GainFactor, XCoeffs, YCoeffs, XV, YV, x);
        default:
            return IIRFilterStep(NumTaps, GainFactor, XCoeffs, YCoeffs, XV, YV, x);
        }
    }
    long double y;
    if (IIRSilentSample(NumTaps, GainFactor, XCoeffs, YCoeffs, XV, YV, negative, y, FDesignCount,
                        FSilent))
        return y;
    return IIRFilterStep(NumTaps, GainFactor, XCoeffs, YCoeffs, XV, YV, negative ? -0.0L : 0.0L);
}

void TdspCustomIIRFilter::ProcessBlock(const long double* input, long double* output, int count) {
    Block(input, output, count);
}
void TdspCustomIIRFilter::ProcessBlock(const double* input, double* output, int count) {
    Block(input, output, count);
}
void TdspCustomIIRFilter::ProcessBlock(const float* input, float* output, int count) {
    Block(input, output, count);
}

} // namespace vurnel::dsp
