// The tone control as an LV2 plug-in instance: four audio ports and four control ports in the
// units a user thinks in, mapped onto the one TMirvakEffect it owns, and a toggle that makes a
// changed control glide to its new value instead of jumping. The effect, its filters, its audio
// kernels and its glides are used as they are; this class only translates ports into the
// effect's parameter values (or glides to them) and blocks into the effect's render.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Main.h"

namespace vurnel {

class Lv2ToneControl {
public:
    enum Port : std::uint32_t {
        kInLeft = 0,
        kInRight = 1,
        kOutLeft = 2,
        kOutRight = 3,
        kBassCutoffHz = 4,
        kTrebleCutoffHz = 5,
        kBassDb = 6,
        kTrebleDb = 7,
        kSmooth = 8,
        kPortCount = 9
    };
    static constexpr std::uint32_t kFirstControl = kBassCutoffHz;
    // The controls the effect maps onto its parameters (the smooth toggle is not one of them).
    static constexpr std::uint32_t kControlCount = 4;

    // How long a changed control glides (TMirvakEffect::GlideParameter: gains evenly in
    // decibels, cutoffs in the logarithm of their frequency, a little every sample), and its
    // length in frames at a sample rate: the whole frames that cover it, at least one.
    static constexpr std::int32_t kGlideMilliseconds = 20;
    static std::int32_t GlideFrames(double sampleRate);

    // A control port's declared range and default, in its own units.
    struct ControlRange {
        float minimum, maximum, defaultValue;
    };
    static const ControlRange& RangeOf(std::uint32_t port);
    // The value a control port takes: NaN gives the default, anything else (±∞ included) is
    // clamped into the declared range.
    static float Clamp(std::uint32_t port, float value);
    // The VST 2 parameter value (0..1) of a clamped control value; the port's parameter index is
    // port − kFirstControl (the smooth toggle maps onto itself and no parameter).
    static float ToParameter(std::uint32_t port, float clamped);
    // A control value as a person reads it: "120 Hz", "4.5 kHz", "+6.0 dB". Allocates.
    static std::string ValueText(std::uint32_t port, float value);

    // The host's instantiation thread; allocates the effect.
    explicit Lv2ToneControl(double sampleRate);

    // Any host thread that does not run this instance's other functions at the same time; no
    // allocation. A null pointer disconnects the port; with the smooth port disconnected,
    // changes apply at once.
    void ConnectPort(std::uint32_t port, void* data) noexcept;
    // The host's instantiation thread; may allocate: replaces the effect with a fresh one, so
    // the audio after every activate is the audio of a fresh instance.
    void Activate();
    // The host's audio thread; never allocates, never blocks on a lock, never throws.
    void Run(std::uint32_t frames) noexcept;

    // The effect, for reading its parameters back; the thread that runs this instance.
    TMirvakEffect& Effect() noexcept { return *effect; }

private:
    void ApplyControls() noexcept;

    double rate;
    std::int32_t glideFrames;
    std::unique_ptr<TMirvakEffect> effect;
    float* audio[4] = {};
    const float* controls[kControlCount] = {};
    const float* smooth = nullptr;
    // The control values the effect was last given or is gliding to, as bits; a fresh effect
    // has been given none.
    std::uint32_t applied[kControlCount] = {};
    bool appliedValid[kControlCount] = {};
};

} // namespace vurnel
