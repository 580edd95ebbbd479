// Parameter changes from other threads while the audio thread processes: nothing torn, nothing
// lost, nothing non-finite. These tests are the ones to run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "Main.h"

using namespace vurnel;

namespace {

constexpr int kFrames = 64;

struct Stereo {
    std::vector<float> l, r, ol, orr;
    explicit Stereo(std::uint32_t seed, bool sameChannels)
        : l(kFrames), r(kFrames), ol(kFrames), orr(kFrames) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> d(-1, 1);
        for (int i = 0; i < kFrames; ++i) {
            l[i] = d(rng);
            r[i] = sameChannels ? l[i] : d(rng);
        }
    }
    void Run(TMirvakEffect& fx) {
        float* in[] = {l.data(), r.data()};
        float* out[] = {ol.data(), orr.data()};
        fx.processReplacing(in, out, kFrames);
    }
};

// 10^6 blocks by default; sanitizer builds ask for fewer.
int Blocks() {
    const char* blocks = std::getenv("VURNEL_CONCURRENCY_BLOCKS");
    return blocks ? std::atoi(blocks) : 1000000;
}

} // namespace

// One thread automates all four parameters without pause while the audio thread runs blocks;
// with the same signal on both channels, both channels must come out identical in every block
// (a torn or half-adopted design would split them) and finite.
TEST(Concurrency, AutomationNeverTearsADesign) {
    TMirvakEffect fx(nullptr, 0, 0);
    std::atomic<bool> done{false};
    std::thread automation([&] {
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> d(0, 1);
        while (!done.load(std::memory_order_relaxed)) {
            fx.setParameter(static_cast<std::int32_t>(rng() % 4), d(rng));
            fx.getParameter(0);
        }
    });
    Stereo s(1, true);
    int mismatches = 0, nonFinite = 0;
    for (int block = 0; block < Blocks(); ++block) {
        s.Run(fx);
        mismatches += std::memcmp(s.ol.data(), s.orr.data(), sizeof(float) * kFrames) != 0;
        for (float v : s.ol)
            nonFinite += !std::isfinite(v);
    }
    done = true;
    automation.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(nonFinite, 0);
}

// Cutoffs and sample rate change all the time, gains stay 0: the output is the input, bit for bit.
TEST(Concurrency, CutoffAndRateChangesWithZeroGainsPassTheSignal) {
    TMirvakEffect fx(nullptr, 0, 0);
    std::atomic<bool> done{false};
    std::thread automation([&] {
        std::mt19937 rng(11);
        const float rates[] = {8000, 44100, 48000, 96000};
        while (!done.load(std::memory_order_relaxed)) {
            switch (rng() % 3) {
            case 0:
                fx.setParameter(0, std::uniform_real_distribution<float>(0, 1)(rng));
                break;
            case 1:
                fx.setParameter(1, std::uniform_real_distribution<float>(0, 1)(rng));
                break;
            default:
                fx.setSampleRate(rates[rng() % 4]);
            }
        }
    });
    Stereo s(2, false);
    int differences = 0;
    for (int block = 0; block < Blocks(); ++block) {
        s.Run(fx);
        differences += std::memcmp(s.ol.data(), s.l.data(), sizeof(float) * kFrames) != 0;
        differences += std::memcmp(s.orr.data(), s.r.data(), sizeof(float) * kFrames) != 0;
    }
    done = true;
    automation.join();
    EXPECT_EQ(differences, 0);
}

// Two setter threads at once: each band's left and right filters always get the same cutoff,
// and what a thread sets reads back on that thread.
TEST(Concurrency, TwoSetterThreadsCorruptNothing) {
    TMirvakEffect fx(nullptr, 0, 0);
    fx.setParameter(2, 0.9f);
    fx.setParameter(3, 0.9f);
    std::atomic<int> readBackErrors{0};
    std::atomic<bool> done{false};
    auto setter = [&](std::uint32_t seed, std::int32_t gainIndex) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> d(0, 1);
        for (int i = 0; i < 20000; ++i) {
            fx.setParameter(static_cast<std::int32_t>(rng() % 2), d(rng));
            const float g = d(rng);
            fx.setParameter(gainIndex, g); // this thread alone writes this gain
            if (std::fabs(fx.getParameter(gainIndex) - g) > 1e-6f) ++readBackErrors;
        }
    };
    std::thread a(setter, 1u, 2), b(setter, 2u, 3);
    Stereo s(3, true);
    int mismatches = 0;
    std::thread audio([&] {
        while (!done.load(std::memory_order_relaxed)) {
            s.Run(fx);
            mismatches += std::memcmp(s.ol.data(), s.orr.data(), sizeof(float) * kFrames) != 0;
        }
    });
    a.join();
    b.join();
    done = true;
    audio.join();
    EXPECT_EQ(readBackErrors.load(), 0);
    EXPECT_EQ(mismatches, 0);
    for (int i = 0; i < 4; ++i) {
        s.Run(fx);
        EXPECT_EQ(0, std::memcmp(s.ol.data(), s.orr.data(), sizeof(float) * kFrames));
    }
    // The displayed cutoff is the one the filters hold.
    char text[32];
    fx.getParameterDisplay(0, text);
    const float shown = std::strtof(text, nullptr);
    EXPECT_NEAR(shown, 450.0f * fx.getParameter(0) + 50.0f, 0.01f);
}
