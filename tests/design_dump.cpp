// Prints our z-plane designs for the scipy cross-check: every kind × response × order 1..8 at
// several band edges and sample rates. One "D" line per design, then its zeros (Z), poles (P)
// and recursion coefficients (C: XCoeffs[i] YCoeffs[i]).
#include <cstdio>

#include "dspIIRFilters.h"

using namespace vurnel::dsp;

int main() {
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
