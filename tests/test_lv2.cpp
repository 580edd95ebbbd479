// The LV2 instance against the VST 2 effect it wraps: every port value, clamped and mapped,
// must give the very bits the effect gives at the mapped parameter values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "Lv2ToneControl.h"

using vurnel::Lv2ToneControl;
using vurnel::TMirvakEffect;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<float> Noise(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& x : v)
        x = d(rng);
    return v;
}

// Refills a port buffer in place: the plug-in holds its address.
void Fill(std::vector<float>& port, const std::vector<float>& values) {
    std::copy(values.begin(), values.end(), port.begin());
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// One LV2 instance with its own port buffers, as a host holds them.
struct Lv2Host {
    explicit Lv2Host(double rate, std::size_t frames)
        : plugin(rate), inL(frames), inR(frames), outL(frames), outR(frames) {
        plugin.ConnectPort(Lv2ToneControl::kInLeft, inL.data());
        plugin.ConnectPort(Lv2ToneControl::kInRight, inR.data());
        plugin.ConnectPort(Lv2ToneControl::kOutLeft, outL.data());
        plugin.ConnectPort(Lv2ToneControl::kOutRight, outR.data());
        for (std::uint32_t i = 0; i < 4; ++i) {
            controls[i] = Lv2ToneControl::RangeOf(Lv2ToneControl::kFirstControl + i).defaultValue;
            plugin.ConnectPort(Lv2ToneControl::kFirstControl + i, &controls[i]);
        }
        plugin.Activate();
    }
    Lv2ToneControl plugin;
    std::vector<float> inL, inR, outL, outR;
    float controls[4];
};

// The VST 2 effect given the parameter values the ports map to.
void SetMapped(TMirvakEffect& fx, const float* controls) {
    for (std::uint32_t i = 0; i < 4; ++i) {
        const std::uint32_t port = Lv2ToneControl::kFirstControl + i;
        fx.setParameter(
            static_cast<std::int32_t>(i),
            Lv2ToneControl::ToParameter(port, Lv2ToneControl::Clamp(port, controls[i])));
    }
}

} // namespace

TEST(Lv2Ports, ClampNaNToDefaultAndInfinitiesToTheNearerBound) {
    for (std::uint32_t port = Lv2ToneControl::kFirstControl; port < Lv2ToneControl::kPortCount;
         ++port) {
        const auto& range = Lv2ToneControl::RangeOf(port);
        EXPECT_EQ(Lv2ToneControl::Clamp(port, kNaN), range.defaultValue);
        EXPECT_EQ(Lv2ToneControl::Clamp(port, -kInf), range.minimum);
        EXPECT_EQ(Lv2ToneControl::Clamp(port, kInf), range.maximum);
        EXPECT_EQ(Lv2ToneControl::Clamp(port, range.maximum * 2.0f + 1.0f), range.maximum);
        EXPECT_EQ(Lv2ToneControl::Clamp(port, range.minimum - 1.0f), range.minimum);
        // The ends of each range are the ends of the VST 2 parameter.
        EXPECT_EQ(Lv2ToneControl::ToParameter(port, range.minimum), 0.0f);
        EXPECT_EQ(Lv2ToneControl::ToParameter(port, range.maximum), 1.0f);
    }
    EXPECT_EQ(Lv2ToneControl::ToParameter(Lv2ToneControl::kBassDb, 0.0f), 0.5f);
    EXPECT_EQ(Lv2ToneControl::ToParameter(Lv2ToneControl::kBassCutoffHz, 275.0f), 0.5f);
}

TEST(Lv2Audio, DefaultsPassAudioThroughBitForBit) {
    for (double rate : {22050.0, 44100.0, 96000.0}) {
        Lv2Host host(rate, 1000);
        Fill(host.inL, Noise(1000, 1));
        Fill(host.inR, Noise(1000, 2));
        host.plugin.Run(1000);
        EXPECT_TRUE(SameBits(host.outL, host.inL)) << rate;
        EXPECT_TRUE(SameBits(host.outR, host.inR)) << rate;
    }
}

TEST(Lv2Audio, EqualsTheVstEffectAtTheMappedValuesOverRandomSequences) {
    std::mt19937 rng(11);
    const float specials[] = {kNaN, kInf, -kInf, 0.0f, -0.0f, 1e30f, -1e30f, 7000.0f, 1e-40f};
    for (int trial = 0; trial < 40; ++trial) {
        const double rates[] = {8000.0, 44100.0, 48000.0, 96000.0, 192000.0};
        const double rate = rates[rng() % 5];
        constexpr std::size_t kMost = 1500;
        Lv2Host host(rate, kMost);
        TMirvakEffect fx(nullptr, 0, 0);
        fx.setSampleRate(static_cast<float>(rate));
        std::vector<float> outL(kMost), outR(kMost);
        for (int block = 0; block < 12; ++block) {
            for (float& c : host.controls) {
                if (rng() % 3) continue; // most blocks change only some ports
                const std::uint32_t pick = rng() % 16;
                c = pick < 9 ? specials[pick]
                             : std::uniform_real_distribution<float>(-30.0f, 12000.0f)(rng);
            }
            const std::size_t n = rng() % kMost;
            Fill(host.inL, Noise(kMost, rng()));
            Fill(host.inR, Noise(kMost, rng()));
            host.plugin.Run(static_cast<std::uint32_t>(n));
            if (n == 0) continue; // a run of no frames does nothing, not even read the ports
            SetMapped(fx, host.controls);
            float* in[] = {host.inL.data(), host.inR.data()};
            float* out[] = {outL.data(), outR.data()};
            fx.processReplacing(in, out, static_cast<std::int32_t>(n));
            ASSERT_EQ(std::memcmp(outL.data(), host.outL.data(), n * sizeof(float)), 0)
                << "trial " << trial << " block " << block;
            ASSERT_EQ(std::memcmp(outR.data(), host.outR.data(), n * sizeof(float)), 0)
                << "trial " << trial << " block " << block;
        }
    }
}

TEST(Lv2Audio, ActivateStartsAgainAsAFreshInstance) {
    const std::vector<float> l = Noise(800, 3), r = Noise(800, 4);
    const float settings[4] = {120.0f, 4000.0f, 9.0f, -6.0f};
    Lv2Host fresh(48000.0, 800), reused(48000.0, 800);
    for (Lv2Host* h : {&fresh, &reused}) {
        std::memcpy(h->controls, settings, sizeof settings);
        Fill(h->inL, l);
        Fill(h->inR, r);
    }
    reused.plugin.Run(800); // leaves state in the filters
    reused.plugin.Activate();
    reused.plugin.Run(800);
    fresh.plugin.Run(800);
    EXPECT_TRUE(SameBits(reused.outL, fresh.outL));
    EXPECT_TRUE(SameBits(reused.outR, fresh.outR));
}

TEST(Lv2Audio, RunOfNoFramesTouchesNothing) {
    Lv2Host once(44100.0, 600), twice(44100.0, 600);
    for (Lv2Host* h : {&once, &twice}) {
        h->controls[2] = 12.0f;
        Fill(h->inL, Noise(600, 5));
        Fill(h->inR, Noise(600, 6));
        std::fill(h->outL.begin(), h->outL.end(), 7.0f);
    }
    twice.plugin.Run(0);
    EXPECT_EQ(twice.outL[0], 7.0f);
    twice.plugin.Run(600);
    once.plugin.Run(600);
    EXPECT_TRUE(SameBits(once.outL, twice.outL));
}

TEST(Lv2Audio, InPlaceAndReconnectedBuffersGiveTheSameBits) {
    const std::vector<float> l = Noise(3000, 7), r = Noise(3000, 8);
    const float settings[4] = {300.0f, 3500.0f, -12.0f, 15.0f};
    Lv2Host separate(44100.0, 3000), inPlace(44100.0, 3000);
    for (Lv2Host* h : {&separate, &inPlace})
        std::memcpy(h->controls, settings, sizeof settings);
    std::vector<float> bufL = l, bufR = r;
    inPlace.plugin.ConnectPort(Lv2ToneControl::kInLeft, bufL.data());
    inPlace.plugin.ConnectPort(Lv2ToneControl::kOutLeft, bufL.data());
    inPlace.plugin.ConnectPort(Lv2ToneControl::kInRight, bufR.data());
    inPlace.plugin.ConnectPort(Lv2ToneControl::kOutRight, bufR.data());
    Fill(separate.inL, l);
    Fill(separate.inR, r);
    // Two blocks, the second through buffers connected anew at other addresses.
    separate.plugin.Run(1000);
    inPlace.plugin.Run(1000);
    std::vector<float> tailL(l.begin() + 1000, l.end()), tailR(r.begin() + 1000, r.end());
    std::vector<float> sepInL(tailL), sepInR(tailR), sepOutL(2000), sepOutR(2000);
    separate.plugin.ConnectPort(Lv2ToneControl::kOutLeft, sepOutL.data());
    separate.plugin.ConnectPort(Lv2ToneControl::kOutRight, sepOutR.data());
    separate.plugin.ConnectPort(Lv2ToneControl::kInLeft, sepInL.data());
    separate.plugin.ConnectPort(Lv2ToneControl::kInRight, sepInR.data());
    inPlace.plugin.ConnectPort(Lv2ToneControl::kInLeft, tailL.data());
    inPlace.plugin.ConnectPort(Lv2ToneControl::kOutLeft, tailL.data());
    inPlace.plugin.ConnectPort(Lv2ToneControl::kInRight, tailR.data());
    inPlace.plugin.ConnectPort(Lv2ToneControl::kOutRight, tailR.data());
    separate.plugin.Run(2000);
    inPlace.plugin.Run(2000);
    EXPECT_EQ(std::memcmp(bufL.data(), separate.outL.data(), 1000 * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(bufR.data(), separate.outR.data(), 1000 * sizeof(float)), 0);
    EXPECT_TRUE(SameBits(tailL, sepOutL));
    EXPECT_TRUE(SameBits(tailR, sepOutR));
}

// One NaN in the left input and an infinity in the right, in every face of the effect: the VST 2
// effect replacing, accumulating and with a channel's output overlapping the other's shifted
// (position by position), and the LV2 instance at rest and while a control glides. The samples
// from the bad ones to the end of their block may be anything; every later block is finite.
TEST(BadSamples, OutputIsFiniteAgainFromTheNextBlockOnInEveryFace) {
    const std::int32_t block = 256, blocks = 40;
    auto input = [&](int c, int b, std::int32_t i) {
        const long frame = static_cast<long>(b) * block + i;
        if (c == 0 && frame == 1000) return kNaN;
        if (c == 1 && frame == 2000) return kInf;
        return Noise(1, static_cast<std::uint32_t>(frame * 2 + c))[0];
    };
    auto finiteAfterBadBlocks = [&](int b, const float* l, const float* r, const char* face) {
        if (b * block <= 2000) return;
        for (std::int32_t i = 0; i < block; ++i)
            ASSERT_TRUE(std::isfinite(l[i]) && std::isfinite(r[i]))
                << face << ", block " << b << " frame " << i;
    };
    for (int face = 0; face < 3; ++face) {
        TMirvakEffect fx(nullptr, 0, 0);
        for (int p = 0; p < 4; ++p)
            fx.setParameter(p, 0.3f + 0.1f * p);
        std::vector<float> buffer(2 * block + 1);
        for (int b = 0; b < blocks; ++b) {
            std::vector<float> l(block), r(block);
            for (std::int32_t i = 0; i < block; ++i)
                l[i] = input(0, b, i), r[i] = input(1, b, i);
            float* in[2] = {l.data(), r.data()};
            float* out[2] = {buffer.data(), buffer.data() + (face == 2 ? 1 : block)};
            std::fill(buffer.begin(), buffer.end(), 0.0f);
            if (face == 1)
                fx.process(in, out, block);
            else
                fx.processReplacing(in, out, block);
            finiteAfterBadBlocks(b, out[0], out[1], face == 1 ? "accumulating" : "replacing");
        }
    }
    for (bool glide : {false, true}) {
        Lv2Host host(48000, block);
        float smooth = 1.0f;
        if (glide) host.plugin.ConnectPort(Lv2ToneControl::kSmooth, &smooth);
        host.plugin.Run(block); // the first values apply at once
        for (int b = 0; b < blocks; ++b) {
            if (glide && b % 4 == 0) { // a control always on its way somewhere
                host.controls[2] = b % 8 == 0 ? 12.0f : -12.0f;
                host.controls[0] = b % 8 == 0 ? 400.0f : 80.0f;
            }
            for (std::int32_t i = 0; i < block; ++i)
                host.inL[i] = input(0, b, i), host.inR[i] = input(1, b, i);
            host.plugin.Run(block);
            finiteAfterBadBlocks(b, host.outL.data(), host.outR.data(),
                                 glide ? "LV2 gliding" : "LV2");
        }
    }
}
