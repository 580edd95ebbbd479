// The kinds of silence a host hands a plug-in after sound, shared by the benchmarks: digital
// zeros of one sign, zeros whose signs vary (a host that flushes denormals to zero turns the end
// of every decaying tail into zeros carrying the signal's signs), and a tail that decays through
// the float subnormals (no flushing) into signed zeros.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace vurnel::bench {

enum class Silence { PlusZero, RandomSigns, ChannelSigns, Alternating, Runs, SubnormalTail, Count };

inline const char* SilenceName(Silence kind) {
    switch (kind) {
    case Silence::PlusZero:
        return "+0 zeros";
    case Silence::RandomSigns:
        return "zeros of random sign";
    case Silence::ChannelSigns:
        return "zeros, -0 left, +0 right";
    case Silence::Alternating:
        return "zeros of alternating sign";
    case Silence::Runs:
        return "runs of -0 and +0 (1-512)";
    case Silence::SubnormalTail:
        return "tail through the float subnormals";
    default:
        return "?";
    }
}

// The silent input of one channel, sample by sample; `seconds` is the time since the sound
// stopped. The tail is noise under an envelope 2^-(120 + 2.5 s): normal floats for 2.4 s, float
// subnormals for the next 9.6 s, then zeros of the noise's signs.
class SilenceSource {
public:
    SilenceSource(Silence kind, unsigned seed) : kind_(kind), rng_(seed) {}

    float Next(int channel, long index, double seconds) {
        switch (kind_) {
        case Silence::PlusZero:
            return 0.0f;
        case Silence::RandomSigns:
            return rng_() & 1 ? -0.0f : 0.0f;
        case Silence::ChannelSigns:
            return channel == 0 ? -0.0f : 0.0f;
        case Silence::Alternating:
            return index & 1 ? -0.0f : 0.0f;
        case Silence::Runs: {
            if (left_[channel] == 0) {
                left_[channel] = 1 + static_cast<long>(rng_() % 512);
                negative_[channel] = !negative_[channel];
            }
            --left_[channel];
            return negative_[channel] ? -0.0f : 0.0f;
        }
        case Silence::SubnormalTail: {
            const double noise = std::uniform_real_distribution<double>(-1.0, 1.0)(rng_);
            return static_cast<float>(std::ldexp(noise * std::exp2(-std::fmod(2.5 * seconds, 1.0)),
                                                 -120 - static_cast<int>(2.5 * seconds)));
        }
        default:
            return 0.0f;
        }
    }

private:
    Silence kind_;
    std::mt19937 rng_;
    long left_[2] = {0, 0};
    bool negative_[2] = {false, true};
};

// One window's cost, ns per frame: the instance under test on its silence, and a reference
// instance of the same plug-in, at the same settings, on noise beside it.
struct WindowCost {
    double silence, noise;
};

// Times `frames` frames of the silence and of the noise side by side, in alternate slices of
// `sliceFrames` (whole blocks), so that both see the same phase of a shared machine; the one run
// first changes every slice. silence(at, to) and noise(at, to) run frames [at, to) of each and
// return the seconds they took.
template <class RunSilence, class RunNoise>
WindowCost TimeSideBySide(long frames, long sliceFrames, RunSilence silence, RunNoise noise) {
    double tSilence = 0, tNoise = 0;
    for (long at = 0, slice = 0; at < frames; at += sliceFrames, ++slice) {
        const long to = std::min(frames, at + sliceFrames);
        if (slice % 2) tNoise += noise(at, to);
        tSilence += silence(at, to);
        if (slice % 2 == 0) tNoise += noise(at, to);
    }
    return {tSilence * 1e9 / static_cast<double>(frames),
            tNoise * 1e9 / static_cast<double>(frames)};
}

// A scene run several times (its windows: the noise second, then the silence). Each window's two
// costs are each their least over the runs (a machine shared with other work disturbs some of
// them); the worst window is the one with the largest ratio of the two. The least of each, not the
// least ratio: a run whose noise reference was disturbed has a ratio too low, and the least ratio
// would pick just that run; the least of each drops the disturbances on both sides, and since every
// run times the two side by side, both least figures come from the fastest phase the window saw.
struct SilenceCost {
    double noise = 0, silence = 0; // ns per frame, the reference and the silence, worst window
    double ratio = 0;              // silence / noise in that window
    double firstSecond = 0;        // the instance's own noise second, ns per frame
    double againstFirst = 0;       // the costliest silence window / firstSecond
    double calibration = 0;        // in the noise second, the instance / the reference (1 ideally)
};
// Keeps in `least` each window's least costs so far, run `w` included.
inline void KeepLeast(std::vector<WindowCost>& least, const std::vector<WindowCost>& w) {
    if (least.empty()) least = w;
    for (std::size_t k = 0; k < w.size() && k < least.size(); ++k) {
        least[k].silence = std::min(least[k].silence, w[k].silence);
        least[k].noise = std::min(least[k].noise, w[k].noise);
    }
}

inline SilenceCost CostOf(const std::vector<WindowCost>& least) {
    SilenceCost cost;
    if (least.empty()) return cost;
    cost.firstSecond = least[0].silence;
    cost.calibration = least[0].silence / least[0].noise;
    double costliest = 0;
    for (std::size_t k = 1; k < least.size(); ++k) {
        costliest = std::max(costliest, least[k].silence);
        if (least[k].silence / least[k].noise > cost.ratio)
            cost.noise = least[k].noise, cost.silence = least[k].silence,
            cost.ratio = least[k].silence / least[k].noise;
    }
    cost.againstFirst = costliest / cost.firstSecond;
    if (std::getenv("VURNEL_BENCH_WINDOWS"))
        for (std::size_t k = 0; k < least.size(); ++k)
            std::fprintf(stderr, "window %zu: %.2f against %.2f noise (%.2fx)\n", k,
                         least[k].silence, least[k].noise, least[k].silence / least[k].noise);
    return cost;
}

} // namespace vurnel::bench
