// The tone control in process: mappings, read-backs, texts, and audio bit for bit against the
// plain per-sample way of computing it.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Main.h"
#include "reference_tone.h"

using namespace vurnel;
using vurnel::test::ReferenceTone;

constexpr double kPi = 3.14159265358979323846;
namespace {

std::string Display(TMirvakEffect& fx, std::int32_t index) {
    char text[32] = "untouched";
    fx.getParameterDisplay(index, text);
    return text;
}

std::vector<float> Noise(std::size_t n, std::uint32_t seed, float amplitude = 1.0f) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-amplitude, amplitude);
    std::vector<float> v(n);
    for (float& x : v)
        x = d(rng);
    return v;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

} // namespace

TEST(ToneControl, StartsTransparentWithItsRegistration) {
    TMirvakEffect fx(nullptr, 0, 0);
    const AEffect* r = fx.getEffectRecord();
    EXPECT_EQ(r->numPrograms, 1);
    EXPECT_EQ(r->numParams, 4);
    EXPECT_EQ(r->numInputs, 2);
    EXPECT_EQ(r->numOutputs, 2);
    EXPECT_EQ(r->flags, 24);
    EXPECT_EQ(r->uniqueID, 1514885719);
    EXPECT_EQ(fx.getParameter(0), 0.0f);
    EXPECT_EQ(fx.getParameter(1), 1.0f);
    EXPECT_EQ(fx.getParameter(2), 0.5f);
    EXPECT_EQ(fx.getParameter(3), 0.5f);
    EXPECT_EQ(Display(fx, 0), "50.00");
    EXPECT_EQ(Display(fx, 1), "10000.00");
    EXPECT_EQ(Display(fx, 2), "0.00");

    std::vector<float> l = Noise(777, 1), r2 = Noise(777, 2), ol(777), or2(777);
    float* in[] = {l.data(), r2.data()};
    float* out[] = {ol.data(), or2.data()};
    fx.processReplacing(in, out, 777);
    EXPECT_TRUE(SameBits(ol, l));
    EXPECT_TRUE(SameBits(or2, r2));
    fx.process(in, out, 777); // adds the input to what is there
    for (int i = 0; i < 777; ++i)
        EXPECT_EQ(ol[i], l[i] + l[i]);
}

TEST(ToneControl, GainMappingAndReadBack) {
    TMirvakEffect fx(nullptr, 0, 0);
    fx.setParameter(2, 0.5f);
    EXPECT_EQ(fx.getParameter(2), 0.5f);
    EXPECT_EQ(Display(fx, 2), "0.00");
    fx.setParameter(2, 0.0f);
    EXPECT_EQ(TMirvakEffect::ParameterToGain(0.0f), -0.9f);
    EXPECT_EQ(Display(fx, 2), "-20.00");
    EXPECT_NEAR(fx.getParameter(2), 0.0f, 1e-7f);
    fx.setParameter(3, 1.0f);
    EXPECT_EQ(TMirvakEffect::ParameterToGain(1.0f), 9.0f);
    EXPECT_EQ(fx.getParameter(3), 1.0f);
    EXPECT_EQ(Display(fx, 3), "20.00");
    EXPECT_NEAR(TMirvakEffect::ParameterToGain(0.75f), 2.16228f, 1e-5f);
    fx.setParameter(2, 0.25f); // 40x − 20 decibels
    EXPECT_EQ(Display(fx, 2), "-10.00");
    fx.setParameter(2, 1.5f); // not limited to 0..1
    EXPECT_EQ(Display(fx, 2), "40.00");
}

TEST(ToneControl, CutoffMappingAndReadBack) {
    TMirvakEffect fx(nullptr, 0, 0);
    fx.setParameter(0, 1.0f);
    EXPECT_EQ(Display(fx, 0), "500.00");
    EXPECT_EQ(fx.getParameter(0), 1.0f);
    fx.setParameter(1, 0.0f);
    EXPECT_EQ(Display(fx, 1), "3000.00");
    EXPECT_EQ(fx.getParameter(1), 0.0f);
    fx.setParameter(0, 0.1f);
    EXPECT_EQ(Display(fx, 0), "95.00");
    EXPECT_EQ(fx.getParameter(0), 0.1f);
    fx.setParameter(256, 0.2f); // only the low 8 bits of the index count
    EXPECT_EQ(Display(fx, 0), "140.00");
}

TEST(ToneControl, LowSampleRateLimitsTheTrebleCutoff) {
    TMirvakEffect fx(nullptr, 0, 0);
    fx.setSampleRate(16000.0f);
    EXPECT_EQ(Display(fx, 1), "8000.00");
    EXPECT_NEAR(fx.getParameter(1), 0.714286f, 1e-6f);
    fx.setSampleRate(44100.0f); // stays lowered
    EXPECT_EQ(Display(fx, 1), "8000.00");
}

TEST(ToneControl, IndicesPastTheLastParameterChangeNothing) {
    TMirvakEffect fx(nullptr, 0, 0);
    fx.setParameter(4, 0.9f);
    fx.setParameter(255, 0.9f);
    EXPECT_EQ(fx.getParameter(4), 0.0f);
    for (std::int32_t index : {4, 100, 255}) {
        char text[16] = "keep";
        fx.getParameterName(index, text);
        fx.getParameterLabel(index, text);
        fx.getParameterDisplay(index, text);
        EXPECT_STREQ(text, "keep");
    }
    char name[16];
    fx.getParameterName(257, name);
    EXPECT_STREQ(name, "Treble cutoff");
    const char* names[] = {"Bass cutoff", "Treble cutoff", "Bass", "Treble"};
    const char* labels[] = {"  Hz    ", "  Hz    ", "  dB    ", "  dB    "};
    for (int i = 0; i < 4; ++i) {
        char text[16];
        fx.getParameterName(i, text);
        EXPECT_STREQ(text, names[i]);
        fx.getParameterLabel(i, text);
        EXPECT_STREQ(text, labels[i]);
    }
}

TEST(ToneControl, NonPositiveFrameCountsTouchNothing) {
    TMirvakEffect fx(nullptr, 0, 0);
    ReferenceTone ref;
    fx.setParameter(2, 0.9f);
    ref.SetParameter(2, 0.9f);
    std::vector<float> l = Noise(64, 3), r = Noise(64, 4);
    std::vector<float> ol(64, 7.0f), orr(64, 7.0f);
    float* in[] = {l.data(), r.data()};
    float* out[] = {ol.data(), orr.data()};
    for (std::int32_t frames : {0, -1, -5}) {
        fx.processReplacing(in, out, frames);
        fx.process(in, out, frames);
    }
    EXPECT_EQ(ol, std::vector<float>(64, 7.0f));
    // The state did not move either: the effect still matches a fresh reference.
    std::vector<float> rl(64), rr(64);
    float* refOut[] = {rl.data(), rr.data()};
    fx.processReplacing(in, out, 64);
    ref.Process(in, refOut, 64, false);
    EXPECT_TRUE(SameBits(ol, rl));
}

// Random parameter and sample-rate changes between blocks of random sizes, replacing and
// accumulating, with separate, in-place and crossed buffers: every output bit equals the plain
// per-sample computation.
TEST(ToneControl, EveryPathGivesThePlainComputationsBits) {
    std::mt19937 rng(2024);
    const float rates[] = {8000, 22050, 44100, 48000, 96000, 192000, 16000};
    for (int layout = 0; layout < 4; ++layout) {
        TMirvakEffect fx(nullptr, 0, 0);
        ReferenceTone ref;
        std::vector<float> fxL(4096), fxR(4096), refL(4096), refR(4096);
        for (int block = 0; block < 120; ++block) {
            const int action = static_cast<int>(rng() % 6);
            if (action < 4) {
                const float value = std::uniform_real_distribution<float>(-0.1f, 1.1f)(rng);
                fx.setParameter(action, value);
                ref.SetParameter(action, value);
            } else if (action == 4) {
                const float rate = rates[rng() % 7];
                fx.setSampleRate(rate);
                ref.SetSampleRate(rate);
            }
            const std::int32_t frames = static_cast<std::int32_t>(rng() % 600) + 1;
            std::vector<float> l = Noise(frames, rng()), r = Noise(frames, rng());
            const bool accumulate = (rng() % 3) == 0;
            // Both sides start from the same output contents.
            std::vector<float> start = Noise(2 * frames, rng());
            std::copy(start.begin(), start.begin() + frames, fxL.begin());
            std::copy(start.begin() + frames, start.end(), fxR.begin());
            refL = fxL;
            refR = fxR;
            std::vector<float> refInL = l, refInR = r;
            float* fxIn[2];
            float* fxOut[2];
            float* refIn[2];
            float* refOut[2] = {refL.data(), refR.data()};
            switch (layout) {
            case 0: // separate buffers
                fxIn[0] = l.data(), fxIn[1] = r.data(), fxOut[0] = fxL.data(),
                fxOut[1] = fxR.data();
                refIn[0] = refInL.data(), refIn[1] = refInR.data();
                break;
            case 1: // in place: each output is its own channel's input
                std::copy(l.begin(), l.end(), fxL.begin());
                std::copy(r.begin(), r.end(), fxR.begin());
                std::copy(l.begin(), l.end(), refL.begin());
                std::copy(r.begin(), r.end(), refR.begin());
                fxIn[0] = fxOut[0] = fxL.data(), fxIn[1] = fxOut[1] = fxR.data();
                refIn[0] = refL.data(), refIn[1] = refR.data();
                break;
            case 2: // the left output is the right input
                std::copy(r.begin(), r.end(), fxL.begin());
                std::copy(r.begin(), r.end(), refL.begin());
                fxIn[0] = l.data(), fxIn[1] = fxOut[0] = fxL.data(), fxOut[1] = fxR.data();
                refIn[0] = refInL.data(), refIn[1] = refL.data();
                break;
            default: // mono: one input feeds both channels
                fxIn[0] = fxIn[1] = l.data(), fxOut[0] = fxL.data(), fxOut[1] = fxR.data();
                refIn[0] = refIn[1] = refInL.data();
                break;
            }
            if (accumulate) {
                fx.process(fxIn, fxOut, frames);
                ref.Process(refIn, refOut, frames, true);
            } else {
                fx.processReplacing(fxIn, fxOut, frames);
                ref.Process(refIn, refOut, frames, false);
            }
            ASSERT_EQ(0, std::memcmp(fxL.data(), refL.data(), frames * sizeof(float)))
                << "layout " << layout << " block " << block;
            ASSERT_EQ(0, std::memcmp(fxR.data(), refR.data(), frames * sizeof(float)))
                << "layout " << layout << " block " << block;
        }
    }
}

// Loud noise, then long silence in blocks of any size: the filters' states decay through the
// float and double ranges into extended subnormals, where a shortcut through a narrower type or
// a flush to zero would change bits.
TEST(ToneControl, SilentTailsIntoSubnormalStatesKeepThePlainBits) {
    std::mt19937 rng(77);
    for (int layout = 0; layout < 2; ++layout) { // separate buffers, in place
        for (bool accumulate : {false, true}) {
            TMirvakEffect fx(nullptr, 0, 0);
            ReferenceTone ref;
            fx.setSampleRate(8000.0f);
            ref.SetSampleRate(8000.0f);
            const float settings[4] = {1.0f, 0.0f, 0.9f, 0.2f}; // fast decays at 8 kHz
            for (int p = 0; p < 4; ++p) {
                fx.setParameter(p, settings[p]);
                ref.SetParameter(p, settings[p]);
            }
            bool subnormal = false;
            for (int block = 0; block < 160; ++block) {
                const std::int32_t frames = static_cast<std::int32_t>(rng() % 700) + 1;
                std::vector<float> l(frames), r(frames);
                if (block < 3) {
                    l = Noise(frames, rng(), 1e4f);
                    r = Noise(frames, rng(), 1e-4f);
                }
                std::vector<float> fxL = accumulate ? Noise(frames, 5, 1e-30f) : l,
                                   fxR = accumulate ? Noise(frames, 6, 1e-38f) : r;
                std::vector<float> refL = fxL, refR = fxR, refInL = l, refInR = r;
                float* fxIn[2] = {l.data(), r.data()};
                float* refIn[2] = {refInL.data(), refInR.data()};
                if (layout == 1 && !accumulate) {
                    fxIn[0] = fxL.data(), fxIn[1] = fxR.data();
                    refIn[0] = refL.data(), refIn[1] = refR.data();
                }
                float* fxOut[2] = {fxL.data(), fxR.data()};
                float* refOut[2] = {refL.data(), refR.data()};
                if (accumulate)
                    fx.process(fxIn, fxOut, frames);
                else
                    fx.processReplacing(fxIn, fxOut, frames);
                ref.Process(refIn, refOut, frames, accumulate);
                ASSERT_TRUE(SameBits(fxL, refL)) << "block " << block;
                ASSERT_TRUE(SameBits(fxR, refR)) << "block " << block;
                for (int f = 0; f < 4; ++f) {
                    const long double y = ref.Filter(f).GetYV()[1];
                    subnormal = subnormal || std::fpclassify(y) == FP_SUBNORMAL;
                }
            }
            EXPECT_TRUE(subnormal) << "the tail never reached the subnormal range";
        }
    }
}

TEST(ToneControl, BassBoostRaisesLowsAndLeavesHighs) {
    TMirvakEffect fx(nullptr, 0, 0);
    fx.setParameter(0, 0.5f); // 275 Hz
    fx.setParameter(2, 1.0f); // gain 9: lows come out 10 times louder (+20 dB)
    auto level = [&](double hz) {
        const int n = 44100;
        std::vector<float> in(n), out(n), outR(n);
        for (int i = 0; i < n; ++i)
            in[i] = static_cast<float>(0.01 * std::sin(2 * kPi * hz * i / 44100));
        float* ins[] = {in.data(), in.data()};
        float* outs[] = {out.data(), outR.data()};
        fx.processReplacing(ins, outs, n);
        double peak = 0;
        for (int i = n / 2; i < n; ++i)
            peak = std::fmax(peak, std::fabs(out[i]));
        return 20 * std::log10(peak / 0.01);
    };
    EXPECT_NEAR(level(20), 20.0, 0.2);
    EXPECT_NEAR(level(275),
                20 * std::log10(std::abs(1.0 + 9.0 / std::sqrt(2.0) * std::polar(1.0, -kPi / 4))),
                0.3);
    EXPECT_NEAR(level(15000), 0.0, 0.1);
}
