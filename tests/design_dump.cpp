// Prints our z-plane designs for the scipy cross-check: every kind × response × order 1..8 at
// several band edges and sample rates (inverse Chebyshev at several attenuations, elliptic at
// several ripple and attenuation pairs), and the Butterworth shelves at several gains. One "D"
// line per design (ending in the length of the design's fault texts in ErrorText, whether its
// recursion is stable, the attenuation and the shelf gain), then its zeros (Z), poles (P) and
// recursion coefficients (C: XCoeffs[i] YCoeffs[i]).
//
// design_dump impulse KIND RESPONSE ORDER F1 F2 RATE RIPPLE N [ATTENUATION GAIN] prints instead
// the first N outputs of one design for a unit impulse, from ProcessSample, as hexadecimal floats
// (exact bits).
// design_dump coefficients KIND RESPONSE ORDER F1 F2 RATE RIPPLE prints the numbers the
// recursion of one design runs, as hexadecimal floats: "G" and the gain factor, then one "C"
// line per tap with XCoeffs[i] and YCoeffs[i].
// design_dump response KIND RESPONSE ORDER F1 F2 RATE RIPPLE W... prints for each W (radians per
// sample) the design's RecursionResponse: H's real and imaginary parts and the group delay as
// hexadecimal floats, then the condition.
//
// design_dump sections prints, for every kind × response × order 1..8 × f1 in 20 … 5000 Hz with
// f2 = 2·f1 at 44100, 48000 and 96000 Hz (ripple 0.5 dB, attenuation 60 dB; the shelves of
// Butterworth at +12 dB and −12 dB), the design and its second-order
// sections in exact hexadecimal: "D kind response order f1 f2 rate routine stable largest-root
// taps gain", then X and Y (the rounded XCoeffs and YCoeffs), P and Z (the z-plane poles and zeros,
// re im), S (per section B0 B1 B2 A1 A2), R (hertz |H| of the sections at log-spaced frequencies),
// and "I distance impulse-difference": the largest distance between the recursion's roots (as this
// library finds them) and the design's poles, and max |h_sections − h_recursion| / max
// |h_recursion| over the first 1000 samples of the impulse response.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "dspIIRFilters.h"
#include "dspResponse.h"
#include "dspSections.h"

using namespace vurnel::dsp;

// The length of ErrorText before the line that reports an unstable recursion: the faults of the
// design itself (a Chebyshev error, non-real coefficients). test_sections.py checks stability.
std::size_t DesignFaults(const TdspIIRFilter& f) {
    const std::size_t line = f.GetErrorText().find("Recursion unstable:");
    return line == std::string::npos ? f.GetErrorText().size() : line;
}

// The design of KIND RESPONSE ORDER F1 F2 RATE RIPPLE (argv[1..7]), with ATTENUATION and GAIN
// when given, set up as `vurnel design` does.
void Configure(TdspIIRFilter& f, char** argv, const char* attenuation = nullptr,
               const char* gain = nullptr) {
    f.SetSampleRate(std::strtold(argv[6], nullptr));
    f.SetRipple(std::strtold(argv[7], nullptr));
    if (attenuation) f.SetAttenuation(std::strtold(attenuation, nullptr));
    if (gain) f.SetGain(std::strtold(gain, nullptr));
    f.SetKind(static_cast<TdspIIRFilterKind>(std::atoi(argv[1])));
    f.SetResponse(static_cast<TdspIIRFilterResponse>(std::atoi(argv[2])));
    f.SetOrder(static_cast<TdspIIRFilterOrder>(std::atoi(argv[3])));
    f.SetFrequency(1, std::strtold(argv[4], nullptr));
    f.SetFrequency(2, std::strtold(argv[5], nullptr));
}

int Coefficients(char** argv) {
    TdspIIRFilter f;
    Configure(f, argv);
    std::printf("G %La\n", f.GetGainFactor());
    for (int i = 0; i < f.GetNumTaps(); ++i)
        std::printf("C %La %La\n", f.GetXCoeffs()[i], f.GetYCoeffs()[i]);
    return 0;
}

int Response(int argc, char** argv) {
    TdspIIRFilter f;
    Configure(f, argv);
    for (int i = 8; i < argc; ++i) {
        const TdspResponseValue v = RecursionResponse(f, std::strtold(argv[i], nullptr));
        std::printf("%La %La %La %Lg\n", v.H.re, v.H.im, v.GroupDelay, v.Condition);
    }
    return 0;
}

int Impulse(int argc, char** argv) {
    TdspIIRFilter f;
    if (argc == 11)
        Configure(f, argv, argv[9], argv[10]);
    else
        Configure(f, argv);
    const int n = std::atoi(argv[8]);
    for (int i = 0; i < n; ++i)
        std::printf("%La\n", f.ProcessSample(i == 0 ? 1.0L : 0.0L));
    return 0;
}

// The largest distance from any root in `a` to the nearest in `b`, both ways.
long double Apart(const TComplex* a, const TComplex* b, int n) {
    long double worst = 0;
    for (int pass = 0; pass < 2; ++pass, std::swap(a, b)) {
        for (int i = 0; i < n; ++i) {
            long double nearest = INFINITY;
            for (int j = 0; j < n; ++j)
                nearest = std::fmin(nearest, CAbs(CSub(a[i], b[j])));
            worst = std::fmax(worst, nearest);
        }
    }
    return worst;
}

int Sections() {
    const long double rates[] = {44100, 48000, 96000};
    const long double edges[] = {20, 50, 100, 200, 500, 1000, 2000, 5000};
    // Every kind with the four responses, then the Butterworth shelves at two gains.
    struct Variant {
        int kind, response;
        long double gain;
    };
    Variant variants[5 * 4 + 4];
    int count = 0;
    for (int kind = 0; kind <= fkElliptic; ++kind)
        for (int response = 0; response <= ftBandstop; ++response)
            variants[count++] = {kind, response, 0.0L};
    for (int response : {ftLowShelf, ftHighShelf})
        for (long double gain : {12.0L, -12.0L})
            variants[count++] = {fkButterworth, response, gain};
    for (long double rate : rates) {
        for (const Variant* which = variants; which < variants + count; ++which) {
            const int kind = which->kind, response = which->response;
            for (int order = 1; order <= 8; ++order) {
                for (long double f1 : edges) {
                    TdspIIRFilter f;
                    f.SetSampleRate(rate);
                    f.SetRipple(0.5L);
                    f.SetAttenuation(60.0L);
                    f.SetGain(which->gain);
                    f.SetKind(static_cast<TdspIIRFilterKind>(kind));
                    f.SetResponse(static_cast<TdspIIRFilterResponse>(response));
                    f.SetOrder(static_cast<TdspIIRFilterOrder>(order));
                    f.SetFrequency(1, f1);
                    f.SetFrequency(2, 2 * f1);
                    const TdspIIRSections s(f);
                    const int n = f.GetNumTaps();
                    std::printf("D %d %d %d %Lg %Lg %Lg %d %d %La %d %Lg\n", kind, response, order,
                                f1, 2 * f1, rate, static_cast<int>(f.GetRoutine()),
                                f.IsStable() ? 1 : 0, f.LargestRootMagnitude(), n, f.GetGain());
                    std::printf("X");
                    for (int i = 0; i < n; ++i)
                        std::printf(" %La", f.GetXCoeffs()[i]);
                    std::printf("\nY");
                    for (int i = 0; i < n; ++i)
                        std::printf(" %La", f.GetYCoeffs()[i]);
                    std::printf("\nP");
                    for (int i = 0; i < f.GetZNumPoles(); ++i)
                        std::printf(" %La %La", f.GetZPoles()[i].re, f.GetZPoles()[i].im);
                    std::printf("\nZ");
                    for (int i = 0; i < f.GetZNumZeros(); ++i)
                        std::printf(" %La %La", f.GetZZeros()[i].re, f.GetZZeros()[i].im);
                    std::printf("\nS");
                    for (int i = 0; i < s.GetNumSections(); ++i) {
                        const TdspBiquad& q = s.GetSection(i);
                        std::printf(" %La %La %La %La %La", q.B0, q.B1, q.B2, q.A1, q.A2);
                    }
                    std::printf("\nR");
                    for (int i = 0; i < 60; ++i) {
                        const long double hz = rate / 2 * std::pow(1e-4L, 1 - i / 59.0L) * 0.9999L;
                        const TdspResponseValue v = SectionsResponse(s, 2 * Pi * hz / rate);
                        std::printf(" %La %La", hz, CAbs(v.H));
                    }
                    TComplex roots[MaxPoleZero];
                    f.RecursionRoots(roots);
                    TdspIIRSections cascade(f);
                    long double peak = 0, difference = 0;
                    for (int i = 0; i < 1000; ++i) {
                        const long double x = i == 0 ? 1.0L : 0.0L;
                        const long double a = f.ProcessSample(x), b = cascade.ProcessSample(x);
                        peak = std::fmax(peak, std::fabs(a));
                        difference = std::fmax(difference, std::fabs(a - b));
                    }
                    std::printf("\nI %La %La\n", Apart(roots, f.GetZPoles(), n),
                                peak > 0 ? difference / peak : difference);
                }
            }
        }
    }
    return 0;
}

// One design of the default listing: the D line, zeros, poles and coefficients.
void Dump(int kind, int response, int order, long double f1, long double f2, long double rate,
          long double ripple, long double attenuation, long double gain) {
    TdspIIRFilter f;
    f.SetSampleRate(rate);
    f.SetRipple(ripple);
    f.SetAttenuation(attenuation);
    f.SetGain(gain);
    f.SetKind(static_cast<TdspIIRFilterKind>(kind));
    f.SetResponse(static_cast<TdspIIRFilterResponse>(response));
    f.SetOrder(static_cast<TdspIIRFilterOrder>(order));
    f.SetFrequency(1, f1);
    f.SetFrequency(2, f2);
    std::printf("D %d %d %d %.21Lg %.21Lg %.21Lg %.21Lg %.21Lg %zu %d %.21Lg %.21Lg\n", kind,
                response, order, f.GetFrequency(1), f.GetFrequency(2), rate, ripple,
                f.GetGainFactor(), DesignFaults(f), f.IsStable() ? 1 : 0, f.GetAttenuation(),
                f.GetGain());
    for (int i = 0; i < f.GetZNumZeros(); ++i)
        std::printf("Z %.21Lg %.21Lg\n", f.GetZZeros()[i].re, f.GetZZeros()[i].im);
    for (int i = 0; i < f.GetZNumPoles(); ++i)
        std::printf("P %.21Lg %.21Lg\n", f.GetZPoles()[i].re, f.GetZPoles()[i].im);
    for (int i = 0; i < f.GetNumTaps(); ++i)
        std::printf("C %.25Lg %.25Lg\n", f.GetXCoeffs()[i], f.GetYCoeffs()[i]);
}

int main(int argc, char** argv) {
    if ((argc == 10 || argc == 12) && std::strcmp(argv[1], "impulse") == 0)
        return Impulse(argc - 1, argv + 1);
    if (argc == 2 && std::strcmp(argv[1], "sections") == 0) return Sections();
    if (argc == 9 && std::strcmp(argv[1], "coefficients") == 0) return Coefficients(argv + 1);
    if (argc >= 9 && std::strcmp(argv[1], "response") == 0) return Response(argc - 1, argv + 1);
    const long double rates[] = {8000, 44100, 96000};
    const long double edges[][2] = {{0.01L, 0.05L}, {0.05L, 0.2L}, {0.15L, 0.42L}};
    const long double ripples[] = {0.5L, 3};
    for (long double rate : rates) {
        for (const auto& edge : edges) {
            for (int kind = 0; kind < 3; ++kind) {
                for (long double ripple : ripples) {
                    if (kind != fkChebyshev && ripple != ripples[0]) continue;
                    for (int response = 0; response < 4; ++response)
                        for (int order = 1; order <= 8; ++order)
                            Dump(kind, response, order, edge[0] * rate, edge[1] * rate, rate,
                                 ripple, 40.0L, 0.0L);
                }
            }
            // Inverse Chebyshev at three attenuations; elliptic at five ripple and attenuation
            // pairs; Butterworth shelves at six gains.
            const long double attenuations[] = {20, 40, 80};
            const long double elliptic[][2] = {
                {0.01L, 100}, {0.1L, 40}, {0.5L, 60}, {1, 20}, {3, 80}};
            const long double gains[] = {-30, -12, -0.5L, 1, 18, 30};
            for (int response = 0; response < 4; ++response) {
                for (int order = 1; order <= 8; ++order) {
                    for (long double a : attenuations)
                        Dump(fkChebyshev2, response, order, edge[0] * rate, edge[1] * rate, rate,
                             0.5L, a, 0.0L);
                    for (const auto& e : elliptic)
                        Dump(fkElliptic, response, order, edge[0] * rate, edge[1] * rate, rate,
                             e[0], e[1], 0.0L);
                }
            }
            for (int response : {ftLowShelf, ftHighShelf})
                for (int order = 1; order <= 8; ++order)
                    for (long double g : gains)
                        Dump(fkButterworth, response, order, edge[0] * rate, edge[1] * rate, rate,
                             0.0L, 40.0L, g);
        }
    }
    return 0;
}
