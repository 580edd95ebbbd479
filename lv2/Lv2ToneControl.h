// The tone control as an LV2 plug-in instance: four audio ports and four control ports in the
// units a user thinks in, mapped onto the one TMirvakEffect it owns, and a toggle that makes a
// changed control glide to its new value instead of jumping. The effect, its filters and its
// audio kernels are used as they are; this class only translates ports into the effect's
// parameter values and blocks (or, while a control glides, short sub-blocks) into
// processReplacing.
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

    // How a changed control glides: over this long, in steps of this many frames (each step one
    // sub-block run with the effect at one value of every control). Gains glide in decibels,
    // cutoffs in the logarithm of their frequency, both at an even pace.
    static constexpr double kGlideSeconds = 0.02;
    static constexpr std::uint32_t kStepFrames = 2;

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

    // The host's instantiation thread; allocates the effect. The second form sets the glide's
    // time and step (tests and measurements compare choices with it).
    explicit Lv2ToneControl(double sampleRate);
    Lv2ToneControl(double sampleRate, double glideSeconds, std::uint32_t stepFrames);

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
    // One control's way to its value: positions in glide units (dB, or ln Hz for a cutoff).
    struct Glide {
        double from = 0.0, to = 0.0, now = 0.0;
        std::uint32_t step = 0; // steps taken, of glideSteps
        bool active = false;
    };

    void ApplyControls() noexcept;
    void StepGlides() noexcept;
    bool Give(std::uint32_t control, float value, bool keepHistories) noexcept;
    void Process(std::uint32_t offset, std::uint32_t frames) noexcept;

    double rate;
    std::uint32_t stepFrames;
    std::uint32_t glideSteps;
    std::unique_ptr<TMirvakEffect> effect;
    float* audio[4] = {};
    const float* controls[kControlCount] = {};
    const float* smooth = nullptr;
    // The control values the effect was last given or is gliding to, as bits; a fresh effect
    // has been given none.
    std::uint32_t applied[kControlCount] = {};
    bool appliedValid[kControlCount] = {};
    Glide glides[kControlCount];
    bool gliding = false;
    std::uint32_t untilStep = 0; // frames until the next glide step
};

} // namespace vurnel
