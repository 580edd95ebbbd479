// The tone control's innermost loops for both channels at once: one first-order filter design
// run over the left and the right channel, in the x87 unit, with every coefficient and state
// in registers. These are the same operations, in the same order and precision, as the plain
// per-sample code; only the register allocation is done by hand.
#pragma once

#include <cstdint>

namespace vurnel {

struct FirstOrderDesign {
    long double g, xc, yc; // y = (x·g + xc·u₋₁) + yc·y₋₁, u₋₁ the previous x·g
};
struct FirstOrderState {
    long double prevT, prevY;
};

// One first-order step: u = x·g; y = (u + xc·u₋₁) + yc·y₋₁. Sign is the feed-forward coefficient
// xc when it is exactly +1 or −1 (a product by it is exact, so an add or subtract gives the same
// bits), or 0 for any other coefficient, applied as written.
template <int Sign>
inline long double FirstOrderStep(long double g, long double xc, long double yc, long double& prevT,
                                  long double& prevY, long double x) {
    const long double t = x * g;
    long double acc;
    if constexpr (Sign > 0)
        acc = t + prevT;
    else if constexpr (Sign < 0)
        acc = t - prevT;
    else
        acc = t + prevT * xc;
    acc = acc + prevY * yc;
    prevT = t;
    prevY = acc;
    return acc;
}

// One design run on both channels: its gain factor and feedback coefficient, and each
// channel's previous scaled input and previous output, all where their owners keep them.
struct StereoFirstOrder {
    const long double& g;
    const long double& yc;
    long double& prevTL;
    long double& prevYL;
    long double& prevTR;
    long double& prevYR;
};

// Bass pass (feed-forward +1): partial[2i] = aL·gain + xL (accumulate: + (outL + xL)),
// partial[2i + 1] the same for the right channel, a the filter output.
void StereoBassPass(const StereoFirstOrder& f, const float* inL, const float* inR,
                    const float* outL, const float* outR, long double* partial, std::int32_t n,
                    float gain, bool accumulate);

// Treble pass (feed-forward −1): out = b·gain + partial, narrowed to float.
void StereoTreblePass(const StereoFirstOrder& f, const float* inL, const float* inR, float* outL,
                      float* outR, const long double* partial, std::int32_t n, float gain);

} // namespace vurnel
