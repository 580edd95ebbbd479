// Prints our z-plane designs for the scipy cross-check: every kind × response × order 1..8 at
// several band edges and sample rates. One "D" line per design, then its zeros (Z), poles (P)
// and recursion coefficients (C: XCoeffs[i] YCoeffs[i]).
//
// design_dump impulse KIND RESPONSE ORDER F1 F2 RATE RIPPLE N prints instead the first N outputs
// of one design for a unit impulse, from ProcessSample, as hexadecimal floats (exact bits).
// design_dump coefficients KIND RESPONSE ORDER F1 F2 RATE RIPPLE prints the numbers the
// recursion of one design runs, as hexadecimal floats: "G" and the gain factor, then one "C"
// line per tap with XCoeffs[i] and YCoeffs[i].
// design_dump response KIND RESPONSE ORDER F1 F2 RATE RIPPLE W... prints for each W (radians per
// sample) the design's RecursionResponse: H's real and imaginary parts and the group delay as
// hexadecimal floats, then the condition.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dspIIRFilters.h"
#include "dspResponse.h"

using namespace vurnel::dsp;

// The design of KIND RESPONSE ORDER F1 F2 RATE RIPPLE (argv[1..7]), set up as `vurnel design` does.
void Configure(TdspIIRFilter& f, char** argv) {
    f.SetSampleRate(std::strtold(argv[6], nullptr));
    f.SetRipple(std::strtold(argv[7], nullptr));
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

int Impulse(char** argv) {
    TdspIIRFilter f;
    Configure(f, argv);
    const int n = std::atoi(argv[8]);
    for (int i = 0; i < n; ++i)
        std::printf("%La\n", f.ProcessSample(i == 0 ? 1.0L : 0.0L));
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 10 && std::strcmp(argv[1], "impulse") == 0) return Impulse(argv + 1);
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
                    for (int response = 0; response < 4; ++response) {
                        for (int order = 1; order <= 8; ++order) {
                            TdspIIRFilter f;
                            f.SetSampleRate(rate);
                            f.SetRipple(ripple);
                            f.SetKind(static_cast<TdspIIRFilterKind>(kind));
                            f.SetResponse(static_cast<TdspIIRFilterResponse>(response));
                            f.SetOrder(static_cast<TdspIIRFilterOrder>(order));
                            f.SetFrequency(1, edge[0] * rate);
                            f.SetFrequency(2, edge[1] * rate);
                            std::printf("D %d %d %d %.21Lg %.21Lg %.21Lg %.21Lg %.21Lg %zu\n", kind,
                                        response, order, f.GetFrequency(1), f.GetFrequency(2), rate,
                                        ripple, f.GetGainFactor(), f.GetErrorText().size());
                            for (int i = 0; i < f.GetZNumZeros(); ++i)
                                std::printf("Z %.21Lg %.21Lg\n", f.GetZZeros()[i].re,
                                            f.GetZZeros()[i].im);
                            for (int i = 0; i < f.GetZNumPoles(); ++i)
                                std::printf("P %.21Lg %.21Lg\n", f.GetZPoles()[i].re,
                                            f.GetZPoles()[i].im);
                            for (int i = 0; i < f.GetNumTaps(); ++i)
                                std::printf("C %.25Lg %.25Lg\n", f.GetXCoeffs()[i],
                                            f.GetYCoeffs()[i]);
                        }
                    }
                }
            }
        }
    }
    return 0;
}
