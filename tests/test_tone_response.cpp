// The tone control's computed response is the response of what the effect actually runs.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "Main.h"
#include "ToneResponse.h"

using namespace vurnel;

namespace {

// |DFT| in dB of the effect's impulse response (left channel) at one frequency.
double MeasuredDb(const std::vector<float>& impulse, double hz, double rate) {
    std::complex<double> sum = 0;
    for (std::size_t n = 0; n < impulse.size(); ++n)
        sum += static_cast<double>(impulse[n]) *
               std::polar(1.0,
                          -2.0 * static_cast<double>(dsp::Pi) * hz * static_cast<double>(n) / rate);
    return 20.0 * std::log10(std::abs(sum));
}

} // namespace

TEST(ToneResponse, MatchesTheEffectsOwnImpulseResponse) {
    const float rate = 48000.0f;
    TMirvakEffect fx(nullptr, 0, 0);
    fx.setSampleRate(rate);
    fx.setParameter(TMirvakEffect::kBassCutoff, 0.3f);
    fx.setParameter(TMirvakEffect::kTrebleCutoff, 0.4f);
    fx.setParameter(TMirvakEffect::kBass, 0.8f);    // +12 dB
    fx.setParameter(TMirvakEffect::kTreble, 0.25f); // −10 dB
    const auto design = fx.CurrentDesign();

    const int length = 48000;
    std::vector<float> in(length, 0.0f), left(length), right(length);
    in[0] = 1.0f;
    float* inputs[] = {in.data(), in.data()};
    float* outputs[] = {left.data(), right.data()};
    fx.processReplacing(inputs, outputs, length);

    const auto curve = ToneResponse(design, 20.0L, 20000.0L, 31);
    ASSERT_EQ(curve.size(), 31u);
    EXPECT_NEAR(static_cast<double>(curve.front().hertz), 20.0, 1e-12);
    EXPECT_NEAR(static_cast<double>(curve.back().hertz), 20000.0, 1e-9);
    for (const auto& p : curve)
        EXPECT_NEAR(static_cast<double>(p.magnitudeDb),
                    MeasuredDb(left, static_cast<double>(p.hertz), rate), 1e-4)
            << p.hertz << " Hz";
    // The shelves reach the gains the parameters name.
    EXPECT_NEAR(static_cast<double>(curve.front().magnitudeDb), 12.0, 0.1);
    EXPECT_NEAR(static_cast<double>(curve.back().magnitudeDb), -10.0, 0.5);
}
