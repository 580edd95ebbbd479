// The tone control on silence after sound: every block keeps the plain computation's bits
// (outputs and states), on every path the effect takes down to the states' fixed points, and no
// silent block takes one of the x87's slow paths, whatever the silence is made of: zeros of one
// sign, zeros whose signs vary (sample by sample, channel by channel, alternating, in runs), a
// tail decaying through the float subnormals into zeros of its signs, or a constant float
// subnormal. Those are recorded by the unit itself in its sticky exception flags: an operation on
// a subnormal sets the denormal-operand flag, a store below the normal floats the underflow flag;
// so the test proves the mechanism on any CPU, however slow or fast its microcode is.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Main.h"
#include "reference_tone.h"

using namespace vurnel;
using vurnel::test::ReferenceTone;

namespace {

// The x87 status word's and (on x86-64) MXCSR's denormal-operand and underflow flags.
constexpr unsigned kDenormal = 0x02, kUnderflow = 0x10;

void ClearFlags() {
#if defined(__i386__) || defined(__x86_64__)
    __asm__ volatile("fnclex");
#endif
#if defined(__x86_64__)
    unsigned mxcsr;
    __asm__ volatile("stmxcsr %0" : "=m"(mxcsr));
    mxcsr &= ~0x3Fu;
    __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr));
#endif
}

unsigned SlowFlags() {
    unsigned flags = 0;
#if defined(__i386__) || defined(__x86_64__)
    std::uint16_t status;
    __asm__ volatile("fnstsw %0" : "=m"(status));
    flags |= status;
#endif
#if defined(__x86_64__)
    unsigned mxcsr;
    __asm__ volatile("stmxcsr %0" : "=m"(mxcsr));
    flags |= mxcsr;
#endif
    return flags & (kDenormal | kUnderflow);
}

// The kinds of silence: +0, −0, zeros of random sign sample by sample and channel by channel,
// one sign per channel, alternating signs, runs of each sign, a tail of noise decaying
// through the float subnormals into zeros of its signs (as a signal does without flushing), and
// a float subnormal, constant on the left and alternating at the Nyquist rate on the right (a
// filter settled at its fixed point, fed back): on the one the treble highpass's feed-forward sum
// is zero, on the other the bass lowpass's, and its state decays as on silence.
enum class Zeros { Plus, Minus, Random, PerChannel, Alternating, Runs, SubnormalTail, Constant };
constexpr int kZerosKinds = 8;

class SilentInput {
public:
    SilentInput(Zeros kind, unsigned seed) : kind_(kind), rng_(seed) {}
    float Next(int channel, long k) {
        switch (kind_) {
        case Zeros::Plus:
            return 0.0f;
        case Zeros::Minus:
            return -0.0f;
        case Zeros::Random:
            return rng_() & 1 ? -0.0f : 0.0f;
        case Zeros::PerChannel:
            return channel == 0 ? -0.0f : 0.0f;
        case Zeros::Alternating:
            return k & 1 ? -0.0f : 0.0f;
        case Zeros::Runs:
            if (left_[channel] == 0) {
                left_[channel] = 1 + static_cast<long>(rng_() % 200);
                negative_[channel] = !negative_[channel];
            }
            --left_[channel];
            return negative_[channel] ? -0.0f : 0.0f;
        case Zeros::Constant: {
            // Its sign changing every 20000 samples: a step, on which a decayed state jumps
            // back into range, to decay again.
            const float v = channel == 0 ? 0x1p-147f : (k & 1 ? 0x5p-149f : -0x5p-149f);
            return k / 20000 % 2 != 0 ? -v : v;
        }
        default: {
            // 2^-100 down to below 2^-150 over 6000 samples, then signed zeros; one sample of
            // 2^70 early on (a value the tail's scaling cannot take: the usual kernel runs on).
            const double noise = std::uniform_real_distribution<double>(-1.0, 1.0)(rng_);
            if (k == 500) return 0x1p70f;
            return static_cast<float>(std::ldexp(noise, -100 - static_cast<int>(k / 120)));
        }
        }
    }

private:
    Zeros kind_;
    std::mt19937 rng_;
    long left_[2] = {0, 0};
    bool negative_[2] = {false, true};
};

struct Setting {
    const char* name;
    float rate;
    float parameters[4]; // bass cutoff, treble cutoff, bass, treble (0..1)
    long silence;        // frames of silence: past the slowest state's fixed point
    // The treble cutoff and gain halfway down the tail: literals, since a sum such as x + 0.05f
    // may reach the reference's inline SetParameter unrounded where float arithmetic is the x87's.
    float moved[2];
};

// Decays fast enough at low rates for a plain reference to follow them to the fixed points:
// boosts and cuts, a treble filter with a negative pole (3000 Hz at 8 kHz), a flat setting
// whose bass state decays slowly, a zero bass gain beside a treble boost, and one made flat by the
// move halfway down the tail (both gains zero from there on, through the tail's last zeros).
const Setting kSettings[] = {
    {"boost and cut", 8000, {1.0f, 0.0f, 0.9f, 0.2f}, 40000, {0.05f, 0.25f}},
    {"flat", 8000, {0.0f, 0.0f, 0.5f, 0.5f}, 300000, {0.05f, 0.55f}},
    {"both boosted", 8000, {0.3f, 0.0f, 1.0f, 1.0f}, 90000, {0.625f, 0.375f}},
    {"cut and boost", 8000, {0.2f, 0.0f, 0.1f, 0.9f}, 115000, {0.05f, 0.95f}},
    {"treble pole near zero", 22050, {1.0f, 0.3f, 0.7f, 0.3f}, 90000, {0.35f, 0.35f}},
    {"bass gain zero", 8000, {1.0f, 0.0f, 0.5f, 0.8f}, 40000, {0.05f, 0.85f}},
    {"flat after the move", 11025, {0.5f, 0.5f, 0.5f, 0.45f}, 12000, {0.55f, 0.5f}},
};

} // namespace

TEST(Silence, LongTailsKeepThePlainBitsOnEveryPathAndTakeNoSlowPath) {
    std::uint64_t taken[static_cast<int>(SilentPath::Count)] = {};
    std::mt19937 rng(29);
    int run = 0;
    for (const Setting& setting : kSettings) {
        // 0 separate buffers, 1 in place, 2 the left output is the right input, 3 the right
        // output overlaps the left output shifted by one sample (position by position).
        for (int layout = 0; layout < 4; ++layout) {
            for (bool accumulate : {false, true}) {
                // Each setting's runs take the kinds one further along than the last one's.
                const Zeros zeros = static_cast<Zeros>((run + run / 8) % kZerosKinds);
                // Blocks of up to 16 frames or up to 4096 by turns, the tails' the other way
                // round: so long blocks of a tail's last zeros meet the zero bass gain.
                const std::uint32_t most =
                    (run % 2 != 0) != (zeros == Zeros::SubnormalTail) ? 16 : 4096;
                ++run;
                const std::string where = std::string(setting.name) + ", layout " +
                                          std::to_string(layout) +
                                          (accumulate ? ", accumulating" : ", replacing") +
                                          ", zeros " + std::to_string(static_cast<int>(zeros));
                TMirvakEffect fx(nullptr, 0, 0);
                ReferenceTone ref;
                fx.setSampleRate(setting.rate);
                ref.SetSampleRate(setting.rate);
                for (int p = 0; p < 4; ++p) {
                    fx.setParameter(p, setting.parameters[p]);
                    ref.SetParameter(p, setting.parameters[p]);
                }
                const long noise = 4000, total = noise + setting.silence;
                SilentInput zeroes(zeros, rng());
                bool moved = false;
                for (long at = 0; at < total;) {
                    // Once, halfway down a tail: the treble's cutoff and gain move (a new design
                    // and new gains on whatever path the silence has reached).
                    if (!moved && at >= noise + 3000) {
                        moved = true;
                        for (int i = 0; i < 2; ++i) {
                            fx.setParameter(i == 0 ? 1 : 3, setting.moved[i]);
                            ref.SetParameter(i == 0 ? 1 : 3, setting.moved[i]);
                        }
                    }
                    const auto frames = static_cast<std::int32_t>(
                        std::min<long>(rng() % most + 1, at < noise ? noise - at : total - at));
                    const bool silent = at >= noise;
                    std::vector<float> l(frames), r(frames);
                    for (std::int32_t i = 0; i < frames; ++i) {
                        if (silent) {
                            l[i] = zeroes.Next(0, at + i - noise);
                            r[i] = zeroes.Next(1, at + i - noise);
                        } else {
                            l[i] = std::uniform_real_distribution<float>(-1, 1)(rng);
                            r[i] = std::uniform_real_distribution<float>(-1, 1)(rng);
                        }
                    }
                    // Output buffers: zeros of either sign and, now and then, old samples.
                    std::vector<float> fxBuf(2 * static_cast<std::size_t>(frames) + 1);
                    for (float& v : fxBuf)
                        v = rng() % 8 == 0 ? std::uniform_real_distribution<float>(-1, 1)(rng)
                                           : (rng() & 1 ? -0.0f : 0.0f);
                    // Every other thousand frames, onto zeros alone (a host that clears its
                    // buffers).
                    if (at / 1000 % 2 != 0)
                        for (float& v : fxBuf)
                            v = std::copysign(0.0f, v);
                    float* fxOut[2] = {fxBuf.data(), fxBuf.data() + frames};
                    float* fxIn[2] = {l.data(), r.data()};
                    if (layout == 1) {
                        std::copy(l.begin(), l.end(), fxOut[0]);
                        std::copy(r.begin(), r.end(), fxOut[1]);
                        fxIn[0] = fxOut[0], fxIn[1] = fxOut[1];
                    } else if (layout == 2) {
                        std::copy(r.begin(), r.end(), fxOut[0]);
                        fxIn[1] = fxOut[0];
                    } else if (layout == 3) {
                        fxOut[1] = fxOut[0] + 1;
                    }
                    std::vector<float> refBuf = fxBuf;
                    std::vector<float> refL = l, refR = r;
                    float* refOut[2] = {refBuf.data() + (fxOut[0] - fxBuf.data()),
                                        refBuf.data() + (fxOut[1] - fxBuf.data())};
                    float* refIn[2] = {refL.data(), refR.data()};
                    for (int c = 0; c < 2; ++c)
                        if (fxIn[c] >= fxBuf.data() && fxIn[c] < fxBuf.data() + fxBuf.size())
                            refIn[c] = refBuf.data() + (fxIn[c] - fxBuf.data());
                    std::uint64_t before[static_cast<int>(SilentPath::Count)];
                    for (int k = 0; k < static_cast<int>(SilentPath::Count); ++k)
                        before[k] = fx.SilentBlocks(static_cast<SilentPath>(k));
                    ClearFlags();
                    if (accumulate)
                        fx.process(fxIn, fxOut, frames);
                    else
                        fx.processReplacing(fxIn, fxOut, frames);
                    const unsigned flags = SlowFlags();
                    ref.Process(refIn, refOut, frames, accumulate);
                    std::string paths;
                    for (int k = 0; k < static_cast<int>(SilentPath::Count); ++k)
                        if (fx.SilentBlocks(static_cast<SilentPath>(k)) != before[k])
                            paths += " " + std::to_string(k);
                    ASSERT_EQ(
                        0, std::memcmp(fxBuf.data(), refBuf.data(), fxBuf.size() * sizeof(float)))
                        << where << ", frame " << at << ", paths" << paths;
                    // And the states: every filter's previous scaled input and output.
                    for (int f = 0; f < 4; ++f)
                        ASSERT_TRUE(
                            std::memcmp(&fx.PreviousScaledInput(f), &ref.Filter(f).GetXV()[1],
                                        10) == 0 &&
                            std::memcmp(&fx.PreviousOutput(f), &ref.Filter(f).GetYV()[1], 10) == 0)
                            << where << ", frame " << at << ", paths" << paths << ", filter " << f;
                    for (int k = 0; k < static_cast<int>(SilentPath::Count); ++k)
                        taken[k] += fx.SilentBlocks(static_cast<SilentPath>(k)) - before[k];
                    // Every input zero or tiny (a tail below 2^-64): in layout 2 the right
                    // input is the left output.
                    bool zeroIn = silent;
                    for (std::int32_t i = 0; i < frames; ++i)
                        zeroIn = zeroIn && std::fabs(fxIn[0][i]) < 0x1p-64f &&
                                 std::fabs(fxIn[1][i]) < 0x1p-64f;
                    if (zeroIn && layout < 3) {
                        ASSERT_EQ(flags, 0u)
                            << where << ", frame " << at << ", paths" << paths << ": "
                            << (flags & kDenormal ? "a subnormal operand " : "")
                            << (flags & kUnderflow ? "an underflow" : "");
                    }
                    at += frames;
                }
            }
        }
    }
    // The sweep went down every silent path.
    for (int k = 1; k < static_cast<int>(SilentPath::Count); ++k)
        EXPECT_GT(taken[k], 0u) << "silent path " << k << " never taken";
}
