// The kinds of silence a host hands a plug-in after sound, shared by the benchmarks: digital
// zeros of one sign, zeros whose signs vary (a host that flushes denormals to zero turns the end
// of every decaying tail into zeros carrying the signal's signs), and a tail that decays through
// the float subnormals (no flushing) into signed zeros.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

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

} // namespace vurnel::bench
