// TMirvakEffect's glides (declared in Main.h): parameters that move to a new value a little every
// sample, for hosts whose controls glide. The VST 2 entry points never glide; this file holds
// everything the glides add to the effect, so the effect's own paths stay as they are.
#include <algorithm>
#include <cmath>
#include <mutex>
#include <type_traits>

#include "Main.h"

namespace vurnel {

// How a glide moves
// -----------------
// A glide goes from where the parameter is to its new value along a path: 1 + gain for a gain,
// the cutoff in hertz for a cutoff, both evenly in their logarithm (decibels, octaves). It is cut
// into segments of kGainSegment or kCutoffSegment frames counted from its start, whose ends lie
// on the path; between two ends a gain moves on a straight line, a step per sample, and so do a
// cutoff's coefficients (a first-order design is affine in G = K/(1 + K), so the straight line
// between two designs is a design all the way, its pole inside the unit circle). A segment end
// costs a multiplication for a gain and a tangent for a cutoff (FirstOrderAt); a glide's start,
// a logarithm and an exponential. The end of a gain's glide is its exact value; the end of a
// cutoff's glide is the filters' own design of the value, made through the setters (which keep
// the histories) as the last segment begins, with a try-lock: if another thread is designing at
// that moment the glide holds still and tries again at the next chunk. So a glide never waits,
// and getParameter reports the value from the last segment on. Everything here runs on the audio
// thread; the four filters belong to the setters, as everywhere in the effect.

namespace {

constexpr std::uint8_t Bit(int index) {
    return static_cast<std::uint8_t>(1u << index);
}

bool Overlaps(const float* a, const float* b, std::int32_t frames) {
    const auto a0 = reinterpret_cast<std::uintptr_t>(a);
    const auto b0 = reinterpret_cast<std::uintptr_t>(b);
    const auto bytes = static_cast<std::uintptr_t>(frames) * sizeof(float);
    return a0 < b0 + bytes && b0 < a0 + bytes;
}

// The filters' limits on a cutoff (their frequency setter's), so the path ends where they are.
long double LimitCutoff(long double hertz, long double rate) {
    const long double upper = rate / 2 - 0.0001L;
    const long double capped = hertz < upper ? hertz : upper;
    return capped >= dsp::Epsilon ? capped : dsp::Epsilon;
}

bool IsFirstOrder(const dsp::TdspIIRDesignSnapshot& d, long double feedForward) {
    return d.Routine == dsp::TdspSampleRoutine::FilterSample && d.NumTaps == 1 &&
           d.XCoeffs[0] == feedForward;
}

GlideCoefficients Holding(const dsp::TdspIIRDesignSnapshot& d) {
    return {d.GainFactor, d.YCoeffs[0], 0.0, 0.0};
}

} // namespace

long double TMirvakEffect::GlidePosition(const Glide& glide) const noexcept {
    if (glide.segmentEnd <= glide.segmentStart) return glide.endValue;
    const auto gone = static_cast<long double>(glide.done - glide.segmentStart);
    const auto length = static_cast<long double>(glide.segmentEnd - glide.segmentStart);
    return glide.startValue + (glide.endValue - glide.startValue) * gone / length;
}

bool TMirvakEffect::GlideParameter(std::int32_t index, float value, std::int32_t frames) noexcept {
    const int i = index & 0xFF;
    if (i > 3) return true;
    AdoptDesigns();
    const Designs& d = designs.Front();
    Glide& glide = glides[i];
    const bool gliding = (glidingMask & Bit(i)) != 0;
    const bool cutoff = i == kBassCutoff || i == kTrebleCutoff;
    // Where the path is and the logarithm of its way to the end. A gain's end, 1 + 10^(2x − 1) − 1
    // rounded to float, is made exactly only when the last segment begins (ParameterToGain's
    // powl costs as much as a block of samples); until then the path aims at 10^(2x − 1).
    long double now, end = 0.0L, logWay;
    if (cutoff) {
        now =
            gliding ? GlidePosition(glide) : (i == kBassCutoff ? bassCutoff : trebleCutoff).Load();
        end = LimitCutoff(ParameterToHertz(i, value), d.sampleRate);
        logWay = std::log(end / now);
    } else {
        const float gain = (i == kBass ? BassGain : TrebleGain).load(std::memory_order_relaxed);
        now = gliding ? GlidePosition(glide) : 1.0L + gain;
        constexpr long double kLn10 = 2.302585092994045684017991454684364208L;
        logWay = (2.0L * value - 1.0L) * kLn10 - std::log(now);
    }
    const std::int32_t segment = cutoff ? kCutoffSegment : kGainSegment;
    const long double ratio = frames > 0 ? std::exp(logWay * segment / frames) : 0.0L;
    const bool shaped =
        IsFirstOrder(d.filter[kBassLeft], 1.0L) && IsFirstOrder(d.filter[kTrebleLeft], -1.0L) &&
        IsFirstOrder(d.filter[kBassRight], 1.0L) && IsFirstOrder(d.filter[kTrebleRight], -1.0L);
    if (!(ratio > 0.0L) || !std::isfinite(ratio) || !shaped) {
        // No path there (no frames, or a value the logarithm cannot reach): at once.
        try {
            setParameter(i, value);
        } catch (...) {
            return false;
        }
        glidingMask = static_cast<std::uint8_t>(glidingMask & ~Bit(i));
        return true;
    }
    if (cutoff && !gliding)
        glideBands[i] = Holding(d.filter[i == kBassCutoff ? kBassLeft : kTrebleLeft]);
    glide.value = value;
    glide.frames = frames;
    glide.done = glide.segmentStart = glide.segmentEnd = 0;
    glide.startValue = glide.endValue = now;
    glide.finalValue = end;
    glide.ratio = ratio;
    glide.holding = false;
    glidingMask = static_cast<std::uint8_t>(glidingMask | Bit(i));
    return true;
}

void TMirvakEffect::FinishGlides() {
    for (int i = 0; i < 4; ++i) {
        if ((glidingMask & Bit(i)) == 0) continue;
        setParameter(i, glides[i].value);
        glidingMask = static_cast<std::uint8_t>(glidingMask & ~Bit(i));
    }
}

bool TMirvakEffect::TryDesignCutoff(std::int32_t index, float value) noexcept {
    try {
        std::unique_lock<std::mutex> lock(setterMutex, std::try_to_lock);
        if (!lock.owns_lock()) return false;
        dsp::TdspIIRFilter& left = index == kBassCutoff ? *BassFilterLeft : *TrebleFilterLeft;
        dsp::TdspIIRFilter& right = index == kBassCutoff ? *BassFilterRight : *TrebleFilterRight;
        const long double hertz = ParameterToHertz(index, value);
        const std::uint64_t before = left.GetDesignCount() + right.GetDesignCount();
        left.SetFrequency(1, hertz);
        right.SetFrequency(1, hertz);
        if (left.GetDesignCount() + right.GetDesignCount() != before) {
            (index == kBassCutoff ? bassCutoff : trebleCutoff).Store(left.GetFrequency(1));
            PublishDesigns(true);
        }
    } catch (...) {
        return false;
    }
    AdoptDesigns();
    return true;
}

std::int32_t TMirvakEffect::StartGlideSegments(std::int32_t frames) noexcept {
    std::int32_t n = frames < kGlideChunk ? frames : kGlideChunk;
    for (int i = 0; i < 4; ++i) {
        if ((glidingMask & Bit(i)) == 0) continue;
        Glide& glide = glides[i];
        const bool cutoff = i == kBassCutoff || i == kTrebleCutoff;
        if (glide.done == glide.segmentEnd && !glide.holding) {
            const std::int32_t left = glide.frames - glide.done;
            const std::int32_t segment = cutoff ? kCutoffSegment : kGainSegment;
            const std::int32_t length = left < segment ? left : segment;
            glide.segmentStart = glide.done;
            glide.segmentEnd = glide.done + length;
            glide.startValue = glide.endValue;
            if (length < left)
                glide.endValue = glide.startValue * glide.ratio;
            else
                glide.endValue = cutoff ? glide.finalValue : 1.0L + ParameterToGain(glide.value);
            if (!cutoff) glide.gainStep = (glide.endValue - glide.startValue) / length;
        }
        if (cutoff) {
            const bool last = glide.segmentEnd == glide.frames;
            if (glide.done == glide.segmentStart) {
                GlideCoefficients target;
                if (last) {
                    glide.holding = !TryDesignCutoff(i, glide.value);
                    target = glide.holding
                                 ? glideBands[i]
                                 : Holding(designs.Front()
                                               .filter[i == kBassCutoff ? kBassLeft : kTrebleLeft]);
                } else {
                    target = FirstOrderAt(glide.endValue, designs.Front().sampleRate,
                                          i == kTrebleCutoff);
                }
                GlideCoefficients& band = glideBands[i];
                const auto length = static_cast<long double>(glide.segmentEnd - glide.done);
                band.dg = glide.holding ? 0.0 : static_cast<double>((target.g - band.g) / length);
                band.dyc =
                    glide.holding ? 0.0 : static_cast<double>((target.yc - band.yc) / length);
            }
            if (glide.holding) {
                if (n > kCutoffSegment) n = kCutoffSegment;
                continue;
            }
        }
        if (glide.segmentEnd - glide.done < n) n = glide.segmentEnd - glide.done;
    }
    return n;
}

void TMirvakEffect::AdvanceGlides(std::int32_t frames) noexcept {
    for (int i = 0; i < 4; ++i) {
        if ((glidingMask & Bit(i)) == 0 || glides[i].holding) continue;
        Glide& glide = glides[i];
        glide.done += frames;
        if (glide.done < glide.frames) continue;
        // A gain's end is its exact value from the next sample on; a cutoff's end design is
        // already running.
        if (i == kBass || i == kTreble)
            (i == kBass ? BassGain : TrebleGain)
                .store(ParameterToGain(glide.value), std::memory_order_relaxed);
        glidingMask = static_cast<std::uint8_t>(glidingMask & ~Bit(i));
    }
}

template <bool Accumulate>
void TMirvakEffect::RenderGlideChunk(float** inputs, float** outputs, std::int32_t offset,
                                     std::int32_t frames, bool interleaved) noexcept {
    const Designs& d = designs.Front();
    const bool bassMoves = (glidingMask & Bit(kBassCutoff)) != 0;
    const bool trebleMoves = (glidingMask & Bit(kTrebleCutoff)) != 0;
    if (!bassMoves) glideBands[0] = Holding(d.filter[kBassLeft]);
    if (!trebleMoves) glideBands[1] = Holding(d.filter[kTrebleLeft]);
    // The gains of each sample: on the segment's line while a gain glides. The first sample of a
    // segment gets its start exactly ((1 + gain) − 1 is the gain), and a sample's value depends
    // only on its place in the segment, not on how blocks cut it.
    for (int k = 0; k < 2; ++k) {
        const int i = kBass + k;
        float* const table = glideGains[k];
        if ((glidingMask & Bit(i)) != 0) {
            const Glide& glide = glides[i];
            const long double start = glide.startValue - 1.0L, step = glide.gainStep;
            const std::int32_t first = glide.done - glide.segmentStart;
            for (std::int32_t j = 0; j < frames; ++j)
                table[j] = static_cast<float>(start + static_cast<long double>(first + j) * step);
        } else {
            std::fill_n(table, frames,
                        (i == kBass ? BassGain : TrebleGain).load(std::memory_order_relaxed));
        }
    }
    const GlideHistory history[4] = {
        {runners[kBassLeft].XV[1], runners[kBassLeft].YV[1]},
        {runners[kTrebleLeft].XV[1], runners[kTrebleLeft].YV[1]},
        {runners[kBassRight].XV[1], runners[kBassRight].YV[1]},
        {runners[kTrebleRight].XV[1], runners[kTrebleRight].YV[1]},
    };
    auto run = [&](auto bassTag, auto trebleTag) {
        constexpr bool kBassMoves = decltype(bassTag)::value;
        constexpr bool kTrebleMoves = decltype(trebleTag)::value;
        float* in[2] = {inputs[0] + offset, inputs[1] + offset};
        float* out[2] = {outputs[0] + offset, outputs[1] + offset};
        if (interleaved) {
            GlideInterleavedBlock<Accumulate, kBassMoves, kTrebleMoves>(
                glideBands[0], glideBands[1], history, in, out, frames, glideGains[0],
                glideGains[1]);
            return;
        }
        GlideCoefficients bass = glideBands[0], treble = glideBands[1];
        GlideChannelBlock<Accumulate, kBassMoves, kTrebleMoves>(bass, history[0], treble,
                                                                history[1], in[0], out[0], frames,
                                                                glideGains[0], glideGains[1]);
        bass = glideBands[0];
        treble = glideBands[1];
        GlideChannelBlock<Accumulate, kBassMoves, kTrebleMoves>(bass, history[2], treble,
                                                                history[3], in[1], out[1], frames,
                                                                glideGains[0], glideGains[1]);
        glideBands[0] = bass;
        glideBands[1] = treble;
    };
    using Yes = std::true_type;
    using No = std::false_type;
    if (bassMoves)
        trebleMoves ? run(Yes{}, Yes{}) : run(Yes{}, No{});
    else
        trebleMoves ? run(No{}, Yes{}) : run(No{}, No{});
}

template <bool Accumulate>
void TMirvakEffect::RenderGliding(float** inputs, float** outputs, std::int32_t frames) noexcept {
    if (frames <= 0) return;
    std::int32_t done = 0;
    if (glidingMask != 0) {
        AdoptDesigns();
        for (SilentPlan& plan : plans) // the states move here otherwise
            plan.Forget();
        // Channel by channel unless a channel's output feeds the other channel's reads, as at
        // rest.
        const bool interleaved = Overlaps(outputs[0], inputs[1], frames) ||
                                 Overlaps(outputs[0], outputs[1], frames) ||
                                 Overlaps(outputs[1], inputs[0], frames);
        while (done < frames && glidingMask != 0) {
            const std::int32_t n = StartGlideSegments(frames - done);
            RenderGlideChunk<Accumulate>(inputs, outputs, done, n, interleaved);
            AdvanceGlides(n);
            done += n;
        }
        ClearNonFiniteHistories(outputs, frames);
    }
    if (done == frames) return;
    float* in[2] = {inputs[0] + done, inputs[1] + done};
    float* out[2] = {outputs[0] + done, outputs[1] + done};
    if constexpr (Accumulate)
        TMirvakEffect::process(in, out, frames - done);
    else
        TMirvakEffect::processReplacing(in, out, frames - done);
}

void TMirvakEffect::ProcessReplacingGliding(float** inputs, float** outputs,
                                            std::int32_t sampleFrames) noexcept {
    RenderGliding<false>(inputs, outputs, sampleFrames);
}

void TMirvakEffect::ProcessGliding(float** inputs, float** outputs,
                                   std::int32_t sampleFrames) noexcept {
    RenderGliding<true>(inputs, outputs, sampleFrames);
}

} // namespace vurnel
