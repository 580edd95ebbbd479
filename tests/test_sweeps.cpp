// Invariant sweeps, as plug-in validators run them: every sample rate × block size, noise in,
// random in-range automation between blocks. Outputs stay finite and within the bound the
// filters allow, and a rerun of the same sequence gives the same bits.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "Main.h"

using vurnel::TMirvakEffect;

namespace {

struct SweepRun {
    std::vector<float> output;
    double worstRatio = 0; // |out| / bound, over all samples
    int nonFinite = 0;
};

// A first-order lowpass has an impulse response of L1 norm 1 and a highpass at most 2, so
// |out| <= (1 + |bass gain| + 2·|treble gain|) × the input's peak.
SweepRun Sweep(float rate, int block, std::uint32_t seed) {
    TMirvakEffect fx(nullptr, 0, 0);
    fx.setSampleRate(rate);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), sample(-1.0f, 1.0f);
    std::vector<float> l(block), r(block), ol(block), orr(block);
    float* in[] = {l.data(), r.data()};
    float* out[] = {ol.data(), orr.data()};
    SweepRun run;
    const int blocks = std::max(4, 16384 / block);
    for (int b = 0; b < blocks; ++b) {
        fx.setParameter(static_cast<std::int32_t>(rng() % 4), unit(rng));
        for (int i = 0; i < block; ++i)
            l[i] = sample(rng), r[i] = sample(rng);
        const double bound = (1.0 + std::fabs(TMirvakEffect::ParameterToGain(fx.getParameter(2))) +
                              2.0 * std::fabs(TMirvakEffect::ParameterToGain(fx.getParameter(3)))) *
                             (1.0 + 1e-6);
        fx.processReplacing(in, out, block);
        for (int i = 0; i < block; ++i) {
            for (float v : {ol[i], orr[i]}) {
                run.nonFinite += !std::isfinite(v);
                run.worstRatio = std::max(run.worstRatio, std::fabs(v) / bound);
            }
        }
        run.output.insert(run.output.end(), ol.begin(), ol.end());
        run.output.insert(run.output.end(), orr.begin(), orr.end());
    }
    return run;
}

} // namespace

TEST(InvariantSweep, OutputsStayFiniteBoundedAndRepeatable) {
    for (float rate : {8000.0f, 22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f}) {
        for (int block : {1, 64, 512, 4096}) {
            const std::uint32_t seed = static_cast<std::uint32_t>(rate) + block;
            const SweepRun first = Sweep(rate, block, seed);
            EXPECT_EQ(first.nonFinite, 0) << rate << " Hz, block " << block;
            EXPECT_LE(first.worstRatio, 1.0) << rate << " Hz, block " << block;
            const SweepRun again = Sweep(rate, block, seed);
            EXPECT_TRUE(first.output == again.output) << rate << " Hz, block " << block;
        }
    }
}
