// Gliding controls in the LV2 instance: a step of any control, at any rate and block length,
// makes no click (no sample-to-sample step above 1.5 times the settled output's largest), ends
// exactly at the value set, and reads back as set; neither does continuous automation; without a
// change, or with the smooth toggle off, the output is the VST 2 effect's, bit for bit. And the
// effect's glides underneath: the same bits in every buffer layout, segment ends that are the
// library's first-order designs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "Lv2ToneControl.h"

using vurnel::Lv2ToneControl;
using vurnel::TMirvakEffect;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<float> Sine(std::size_t n, double hz, double rate) {
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<float>(0.5 * std::sin(2.0 * kPi * hz * static_cast<double>(i) / rate));
    return v;
}

std::vector<float> Noise(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    std::vector<float> v(n);
    for (float& x : v)
        x = d(rng);
    return v;
}

struct Change {
    std::size_t frame;
    std::uint32_t control; // 0..3, as the effect's parameter index
    float value;
};

// A render of one signal (both channels) in blocks, the controls starting at `start` and
// changed between blocks as listed. With `reference` the VST 2 effect renders it instead, each
// change given at once through the same mapping. `onTime` gets called after each block with the
// frames done and the instance (LV2 renders only).
struct Render {
    std::vector<float> left, right;
};
template <typename OnBlock>
Render RenderSteps(double rate, std::size_t block, const std::vector<float>& signal,
                   const float* start, const std::vector<Change>& changes, float smooth,
                   bool inPlace, bool reference, OnBlock onBlock) {
    const std::size_t n = signal.size();
    std::vector<float> inL(signal), inR(signal), outL(n), outR(n);
    float controls[4];
    std::copy(start, start + 4, controls);
    Lv2ToneControl plugin(rate);
    TMirvakEffect fx(nullptr, 0, 0);
    fx.setSampleRate(static_cast<float>(rate));
    for (std::uint32_t i = 0; i < 4; ++i)
        plugin.ConnectPort(Lv2ToneControl::kFirstControl + i, &controls[i]);
    plugin.ConnectPort(Lv2ToneControl::kSmooth, &smooth);
    plugin.Activate();
    float* const l = inPlace ? inL.data() : outL.data();
    float* const r = inPlace ? inR.data() : outR.data();
    std::size_t next = 0;
    for (std::size_t done = 0; done < n;) {
        while (next < changes.size() && changes[next].frame <= done) {
            controls[changes[next].control] = changes[next].value;
            ++next;
        }
        const std::size_t frames = std::min(block, n - done);
        if (reference) {
            for (std::uint32_t i = 0; i < 4; ++i) {
                const std::uint32_t port = Lv2ToneControl::kFirstControl + i;
                fx.setParameter(static_cast<std::int32_t>(i),
                                Lv2ToneControl::ToParameter(port, controls[i]));
            }
            float* in[] = {inL.data() + done, inR.data() + done};
            float* out[] = {l + done, r + done};
            fx.processReplacing(in, out, static_cast<std::int32_t>(frames));
        } else {
            plugin.ConnectPort(Lv2ToneControl::kInLeft, inL.data() + done);
            plugin.ConnectPort(Lv2ToneControl::kInRight, inR.data() + done);
            plugin.ConnectPort(Lv2ToneControl::kOutLeft, l + done);
            plugin.ConnectPort(Lv2ToneControl::kOutRight, r + done);
            plugin.Run(static_cast<std::uint32_t>(frames));
        }
        done += frames;
        if (!reference) onBlock(done, plugin);
    }
    return inPlace ? Render{inL, inR} : Render{outL, outR};
}

Render RenderSteps(double rate, std::size_t block, const std::vector<float>& signal,
                   const float* start, const std::vector<Change>& changes, float smooth,
                   bool inPlace, bool reference) {
    return RenderSteps(rate, block, signal, start, changes, smooth, inPlace, reference,
                       [](std::size_t, Lv2ToneControl&) {});
}

// The glide's length at a whole sample rate, counted here independently of the plug-in.
std::size_t GlideFramesAt(double rate) {
    const auto whole = static_cast<std::size_t>(rate);
    return (whole * Lv2ToneControl::kGlideMilliseconds + 999) / 1000;
}

double LargestStep(const std::vector<float>& y, std::size_t from, std::size_t to) {
    double most = 0.0;
    for (std::size_t i = std::max<std::size_t>(from, 1); i < to && i < y.size(); ++i)
        most = std::max(most, std::fabs(static_cast<double>(y[i]) - y[i - 1]));
    return most;
}

// The click measure: the largest step from the first change to 50 ms after the last one's
// glide, over the largest step of the settled output in 100 ms before and after that.
double ClickRatio(const std::vector<float>& y, double rate, std::size_t first, std::size_t last) {
    const auto window = static_cast<std::size_t>(0.1 * rate);
    const std::size_t settled = last + GlideFramesAt(rate) + static_cast<std::size_t>(0.05 * rate);
    const double around = LargestStep(y, first, settled);
    return around / std::max(LargestStep(y, first - window, first),
                             LargestStep(y, settled, settled + window));
}

bool SameBits(const float* a, const float* b, std::size_t n) {
    return std::memcmp(a, b, n * sizeof(float)) == 0;
}

const float kDefaults[4] = {50.0f, 10000.0f, 0.0f, 0.0f};

} // namespace

TEST(Lv2Smoothing, StepsOfEveryControlGlideWithoutAClickToTheExactValueInTime) {
    int cases = 0;
    double worst = 0.0;
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const std::size_t glide = GlideFramesAt(rate);
        const std::size_t length = static_cast<std::size_t>(0.45 * rate) + 8192;
        const std::vector<std::vector<float>> signals = {
            Sine(length, 100.0, rate), Sine(length, 1000.0, rate), Noise(length, 17)};
        for (std::size_t block : {1u, 3u, 64u, 256u, 1000u, 4096u}) {
            // The change between two blocks, at least 150 ms in.
            const std::size_t at = (static_cast<std::size_t>(0.15 * rate) / block + 1) * block;
            for (std::uint32_t control = 0; control < 4; ++control) {
                const auto& range =
                    Lv2ToneControl::RangeOf(Lv2ToneControl::kFirstControl + control);
                // Cutoffs move both ways with their gain at either end; gains move both ways,
                // and down and back up again from halfway through the glide down.
                const int variants = control < 2 ? 4 : 3;
                for (int variant = 0; variant < variants; ++variant) {
                    float start[4];
                    std::copy(kDefaults, kDefaults + 4, start);
                    const bool up = variant == 0 || (control < 2 && variant == 2);
                    const float from = up ? range.minimum : range.maximum;
                    const float to = up ? range.maximum : range.minimum;
                    start[control] = from;
                    std::vector<Change> changes = {{at, control, to}};
                    if (control < 2)
                        start[control + 2] = variant < 2 ? 20.0f : -20.0f;
                    else if (variant == 2)
                        changes.push_back({at + (glide / 2 / block + 1) * block, control, from});
                    const Change& last = changes.back();
                    for (std::size_t s = 0; s < signals.size(); ++s) {
                        ++cases;
                        const std::string where =
                            "rate " + std::to_string(rate) + " block " + std::to_string(block) +
                            " control " + std::to_string(control) + " variant " +
                            std::to_string(variant) + " signal " + std::to_string(s);
                        // The value as set, read back through the effect a fresh VST 2 effect
                        // would be.
                        TMirvakEffect expected(nullptr, 0, 0);
                        expected.setSampleRate(static_cast<float>(rate));
                        const float parameter = Lv2ToneControl::ToParameter(
                            Lv2ToneControl::kFirstControl + control, last.value);
                        expected.setParameter(static_cast<std::int32_t>(control), parameter);
                        const float target =
                            expected.getParameter(static_cast<std::int32_t>(control));
                        bool checkedInTime = false;
                        const Render got =
                            RenderSteps(rate, block, signals[s], start, changes, 1.0f, false, false,
                                        [&](std::size_t done, Lv2ToneControl& plugin) {
                                            if (checkedInTime || done < last.frame + glide) return;
                                            checkedInTime = true;
                                            EXPECT_EQ(plugin.Effect().getParameter(
                                                          static_cast<std::int32_t>(control)),
                                                      target)
                                                << where;
                                        });
                        ASSERT_TRUE(checkedInTime) << where;
                        const double ratio = ClickRatio(got.left, rate, at, last.frame);
                        EXPECT_LE(ratio, 1.5) << where;
                        worst = std::max(worst, ratio);
                        if (control >= 2) {
                            // A gain leaves the filters alone: once the glide is over, the
                            // output is the VST 2 effect's after an instant change.
                            const Render ref = RenderSteps(rate, block, signals[s], start, changes,
                                                           0.0f, false, true);
                            const std::size_t over = last.frame + glide;
                            EXPECT_TRUE(SameBits(got.left.data() + over, ref.left.data() + over,
                                                 length - over))
                                << where;
                            EXPECT_TRUE(SameBits(got.right.data() + over, ref.right.data() + over,
                                                 length - over))
                                << where;
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(cases, 3 * 6 * (2 * 4 + 2 * 3) * 3);
    std::printf("largest click ratio of %d steps: %.3f\n", cases, worst);
}

TEST(Lv2Smoothing, TheIssuesClickIsMeasuredAndGoneWithTheGlide) {
    // 100 Hz at −6 dBFS, 48 kHz, blocks of 256, bass 0 → +20 dB between two blocks.
    const double rate = 48000.0;
    const std::vector<float> tone = Sine(48000, 100.0, rate);
    const std::vector<Change> raise = {{256 * 40, 2, 20.0f}};
    const double instant =
        ClickRatio(RenderSteps(rate, 256, tone, kDefaults, raise, 0.0f, false, false).left, rate,
                   256 * 40, 256 * 40);
    const double glided =
        ClickRatio(RenderSteps(rate, 256, tone, kDefaults, raise, 1.0f, false, false).left, rate,
                   256 * 40, 256 * 40);
    std::printf("click ratio: instant %.2f, glide %.2f\n", instant, glided);
    EXPECT_GT(instant, 10.0); // the measure sees the click
    EXPECT_LE(glided, 1.5);
}

TEST(Lv2Smoothing, WithoutChangesOrWithSmoothOffTheOutputIsTheVstModulesBits) {
    std::mt19937 rng(23);
    const double rates[] = {44100.0, 48000.0, 96000.0};
    for (int trial = 0; trial < 24; ++trial) {
        const double rate = rates[trial % 3];
        const std::size_t block = std::size_t{1} << (rng() % 13); // 1 .. 4096
        const std::size_t length = std::min<std::size_t>(block * 8, 20000);
        const std::vector<float> signal = Noise(length, rng());
        float start[4];
        for (std::uint32_t i = 0; i < 4; ++i) {
            const auto& range = Lv2ToneControl::RangeOf(Lv2ToneControl::kFirstControl + i);
            start[i] = std::uniform_real_distribution<float>(range.minimum, range.maximum)(rng);
        }
        std::vector<Change> changes;
        for (std::size_t at = block; at < length; at += block)
            for (std::uint32_t i = 0; i < 4; ++i)
                if (rng() % 3 == 0) {
                    const auto& range = Lv2ToneControl::RangeOf(Lv2ToneControl::kFirstControl + i);
                    changes.push_back(
                        {at, i,
                         std::uniform_real_distribution<float>(range.minimum, range.maximum)(rng)});
                }
        for (bool inPlace : {false, true}) {
            const std::string where = "trial " + std::to_string(trial) + " block " +
                                      std::to_string(block) + (inPlace ? " in place" : "");
            // Smooth on, nothing changes after the first block's settings.
            const Render still = RenderSteps(rate, block, signal, start, {}, 1.0f, inPlace, false);
            const Render stillRef = RenderSteps(rate, block, signal, start, {}, 0.0f, false, true);
            EXPECT_TRUE(SameBits(still.left.data(), stillRef.left.data(), length)) << where;
            EXPECT_TRUE(SameBits(still.right.data(), stillRef.right.data(), length)) << where;
            // Smooth off, changes between blocks.
            const Render off =
                RenderSteps(rate, block, signal, start, changes, 0.0f, inPlace, false);
            const Render offRef =
                RenderSteps(rate, block, signal, start, changes, 0.0f, false, true);
            EXPECT_TRUE(SameBits(off.left.data(), offRef.left.data(), length)) << where;
            EXPECT_TRUE(SameBits(off.right.data(), offRef.right.data(), length)) << where;
        }
    }
}

// A cutoff given with SetParameterKeepingState keeps its filters' histories, and a later change
// of the other pair's cutoff (which starts that pair from silence) leaves them kept.
TEST(EffectKeepingState, KeptHistoriesSurviveAChangeOfTheOtherPair) {
    const std::vector<float> l = Noise(512, 1), r = Noise(512, 2);
    auto render = [&](int how) {
        TMirvakEffect fx(nullptr, 0, 0);
        fx.setParameter(TMirvakEffect::kBass, 1.0f); // treble gain stays 0: only bass is heard
        std::vector<float> inL(l), inR(r), outL(512), outR(512);
        float* in[] = {inL.data(), inR.data()};
        float* out[] = {outL.data(), outR.data()};
        fx.processReplacing(in, out, 256);
        if (how == 2)
            fx.setParameter(TMirvakEffect::kBassCutoff, 0.01f);
        else
            fx.SetParameterKeepingState(TMirvakEffect::kBassCutoff, 0.01f);
        if (how == 1) fx.setParameter(TMirvakEffect::kTrebleCutoff, 0.3f);
        float* in2[] = {inL.data() + 256, inR.data() + 256};
        float* out2[] = {outL.data() + 256, outR.data() + 256};
        fx.processReplacing(in2, out2, 256);
        EXPECT_EQ(fx.getParameter(TMirvakEffect::kBassCutoff), 0.01f);
        return outL;
    };
    const std::vector<float> kept = render(0), keptThenTreble = render(1), cleared = render(2);
    EXPECT_TRUE(SameBits(kept.data(), keptThenTreble.data(), 512));
    EXPECT_FALSE(SameBits(kept.data() + 256, cleared.data() + 256, 256));
}

// The effect's glides give the same bits whatever the buffers: separate and in-place buffers run
// the kernel channel by channel (by hand on x86-64), a right output that is the left input runs
// the plain loop position by position; replacing and accumulating, every band moving or not, and
// blocks that cut the glides' segments anywhere.
TEST(EffectGlides, EveryBufferLayoutGivesTheSameBits) {
    std::mt19937 rng(41);
    const std::vector<float> left = Noise(12000, 3), right = Noise(12000, 4); // 60 blocks of 200
    for (int trial = 0; trial < 12; ++trial) {
        const bool accumulate = trial % 2 == 1;
        // Glides: at a block, parameter, value, length.
        struct Event {
            int block, index;
            float value;
            std::int32_t frames;
        };
        std::vector<Event> events;
        std::vector<std::int32_t> blocks;
        for (int k = 0; k < 60; ++k) {
            blocks.push_back(static_cast<std::int32_t>(1 + rng() % 200));
            if (rng() % 3 == 0)
                events.push_back({k, static_cast<int>(rng() % 4), (rng() % 1001) / 1000.0f,
                                  static_cast<std::int32_t>(1 + rng() % 2000)});
        }
        // Separate buffers whose outputs start as in place, in place, separate buffers whose
        // right output starts as the left input, the right output on the left input.
        std::vector<float> results[4][2];
        for (int layout = 0; layout < 4; ++layout) {
            TMirvakEffect fx(nullptr, 0, 0);
            fx.setSampleRate(48000.0f);
            fx.setParameter(TMirvakEffect::kBass, 0.8f);
            fx.setParameter(TMirvakEffect::kTreble, 0.3f);
            std::vector<float> inL(left), inR(right), outL(layout < 2 ? left : right),
                outR(layout < 2 ? right : left);
            std::size_t at = 0, next = 0;
            for (std::size_t k = 0; k < blocks.size(); ++k) {
                for (; next < events.size() && events[next].block == static_cast<int>(k); ++next)
                    ASSERT_TRUE(fx.GlideParameter(events[next].index, events[next].value,
                                                  events[next].frames));
                float* in[2] = {inL.data() + at, inR.data() + at};
                float* out[2] = {outL.data() + at, outR.data() + at};
                if (layout == 1) out[0] = in[0], out[1] = in[1];
                if (layout == 3) out[1] = in[0];
                if (accumulate)
                    fx.ProcessGliding(in, out, blocks[k]);
                else
                    fx.ProcessReplacingGliding(in, out, blocks[k]);
                at += static_cast<std::size_t>(blocks[k]);
            }
            results[layout][0] = layout == 1 ? inL : outL;
            results[layout][1] = layout == 1 ? inR : layout == 3 ? inL : outR;
            results[layout][0].resize(at);
            results[layout][1].resize(at);
        }
        for (int layout : {1, 3})
            for (int c = 0; c < 2; ++c)
                EXPECT_TRUE(SameBits(results[layout - 1][c].data(), results[layout][c].data(),
                                     results[layout][c].size()))
                    << "trial " << trial << " layout " << layout << " channel " << c;
    }
}

// Under automation, a new value every block on a 2 Hz sweep over the whole range (a glide always
// under way), the output of a low, middle or high sine moves no faster than the settled output
// at the automation's most extreme setting: its largest sample-to-sample step stays within 1.5
// times the largest of the settled outputs' at the corners of the automated range.
TEST(Lv2Smoothing, ContinuousAutomationStepsNoFasterThanTheMostExtremeSettledOutput) {
    const double rate = 48000.0;
    const std::size_t length = 72000; // 1.5 s
    const std::size_t skip = 12000;   // the first quarter second, from a fresh instance
    const std::vector<std::vector<std::uint32_t>> automated = {{0}, {1}, {2}, {3}, {0, 1, 2, 3}};
    // Cutoffs are heard through their gain at +20 dB; all four sweep out of phase.
    const float start[4] = {50.0f, 10000.0f, 20.0f, 20.0f};
    double worst = 0.0;
    for (double hz : {60.0, 1000.0, 8000.0}) {
        const std::vector<float> tone = Sine(length, hz, rate);
        for (const auto& controls : automated) {
            // The settled outputs at the corners of the automated range.
            double settled = 0.0;
            for (std::uint32_t corner = 0; corner < (1u << controls.size()); ++corner) {
                float fixed[4];
                std::copy(start, start + 4, fixed);
                for (std::size_t k = 0; k < controls.size(); ++k) {
                    const auto& range =
                        Lv2ToneControl::RangeOf(Lv2ToneControl::kFirstControl + controls[k]);
                    fixed[controls[k]] = (corner >> k) & 1 ? range.maximum : range.minimum;
                }
                const std::vector<float> part(tone.begin(), tone.begin() + 24000);
                const Render r = RenderSteps(rate, 256, part, fixed, {}, 0.0f, false, true);
                settled = std::max(settled, LargestStep(r.left, skip, part.size()));
            }
            for (std::size_t block : {64u, 256u, 1024u}) {
                std::vector<Change> changes;
                for (std::size_t at = 0; at < length; at += block)
                    for (std::size_t k = 0; k < controls.size(); ++k) {
                        const auto& range =
                            Lv2ToneControl::RangeOf(Lv2ToneControl::kFirstControl + controls[k]);
                        const double phase = 2.0 * kPi * 2.0 * static_cast<double>(at) / rate +
                                             static_cast<double>(k);
                        changes.push_back({at, controls[k],
                                           static_cast<float>(range.minimum +
                                                              (range.maximum - range.minimum) *
                                                                  (0.5 + 0.5 * std::sin(phase)))});
                    }
                const Render got =
                    RenderSteps(rate, block, tone, start, changes, 1.0f, false, false);
                const double ratio = LargestStep(got.left, skip, length) / settled;
                EXPECT_LE(ratio, 1.5) << hz << " Hz, block " << block << ", " << controls.size()
                                      << " control(s) from " << controls[0];
                worst = std::max(worst, ratio);
            }
        }
    }
    std::printf("largest step under automation over the settled extreme's: %.3f\n", worst);
}

// The glide's segment ends are first-order designs of the library's kind: the lowpass and
// highpass the library designs have g = G and 1 − G with yc = 1 − 2G, G = K/(1 + K) (so a
// straight line between two of them is one of them), and FirstOrderAt gives them within a few
// units in the last place, from 1 Hz to above the Nyquist limit at three rates.
TEST(EffectGlides, SegmentEndsAreTheLibrarysFirstOrderDesigns) {
    using namespace vurnel::dsp;
    long double worst = 0.0L;
    for (long double rate : {44100.0L, 48000.0L, 96000.0L}) {
        TdspIIRFilter lowpass, highpass;
        highpass.SetResponse(ftHighpass);
        for (auto f : {&lowpass, &highpass})
            f->SetSampleRate(rate);
        for (int k = 0; k <= 400; ++k) {
            const long double hz = std::pow(10.0L, 5.0L * k / 400); // 1 Hz .. 100 kHz
            for (auto f : {&lowpass, &highpass}) {
                f->SetFrequency(1, hz);
                const bool high = f == &highpass;
                const vurnel::GlideCoefficients c = vurnel::FirstOrderAt(hz, rate, high);
                const long double g = f->GetGainFactor(), yc = f->GetYCoeffs()[0];
                const long double G = high ? 1.0L - g : g;
                EXPECT_EQ(f->GetXCoeffs()[0], high ? -1.0L : 1.0L);
                worst = std::max({worst, std::fabs(yc - (1.0L - 2.0L * G)), std::fabs(c.g - g),
                                  std::fabs(c.yc - yc)});
            }
        }
    }
    EXPECT_LT(worst, 16 * LDBL_EPSILON);
    std::printf("largest difference from the library's designs: %.2Lg (%.1Lf ulp of 1)\n", worst,
                worst / LDBL_EPSILON);
}
