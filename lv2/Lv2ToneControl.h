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
#include "ToneControls.h"

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

    // The controls' ranges, texts and mapping, and the glides' length: those of
    // ToneControls.h, shared with every face that shows the controls in these units; a control
    // port's control is port − kFirstControl.
    static constexpr std::int32_t kGlideMilliseconds = kControlGlideMilliseconds;
    static std::int32_t GlideFrames(double sampleRate) { return ControlGlideFrames(sampleRate); }
    using ControlRange = ToneControlRange;
    static const ControlRange& RangeOf(std::uint32_t port) { return RangeOfControl(Control(port)); }
    static float Clamp(std::uint32_t port, float value) {
        return ClampControl(Control(port), value);
    }
    // The VST 2 parameter value (0..1) of a clamped control value; the port's parameter index is
    // port − kFirstControl.
    static float ToParameter(std::uint32_t port, float clamped) {
        return ControlToParameter(Control(port), clamped);
    }
    // A control value as a person reads it: "120 Hz", "4.5 kHz", "+6.0 dB". Allocates.
    static std::string ValueText(std::uint32_t port, float value) {
        return ControlText(Control(port), value);
    }

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
    static int Control(std::uint32_t port) { return static_cast<int>(port - kFirstControl); }

    double rate;
    std::int32_t glideFrames;
    std::unique_ptr<TMirvakEffect> effect;
    float* audio[4] = {};
    const float* controls[kControlCount] = {};
    const float* smooth = nullptr;
    ToneControlFollower follower;
};

} // namespace vurnel
