// The tone control as an LV2 plug-in instance: four audio ports and four control ports in the
// units a user thinks in, mapped onto the one TMirvakEffect it owns. The effect, its filters and
// its audio kernels are used as they are; this class only translates ports into the effect's
// parameter values and blocks into processReplacing.
#pragma once

#include <cstdint>
#include <memory>

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
        kPortCount = 8
    };
    static constexpr std::uint32_t kFirstControl = kBassCutoffHz;
    static constexpr std::uint32_t kControlCount = 4;

    // A control port's declared range and default, in its own units.
    struct ControlRange {
        float minimum, maximum, defaultValue;
    };
    static const ControlRange& RangeOf(std::uint32_t port);
    // The value a control port takes: NaN gives the default, anything else (±∞ included) is
    // clamped into the declared range.
    static float Clamp(std::uint32_t port, float value);
    // The VST 2 parameter value (0..1) of a clamped control value; the port's parameter index is
    // port − kFirstControl.
    static float ToParameter(std::uint32_t port, float clamped);

    // The host's instantiation thread; allocates the effect.
    explicit Lv2ToneControl(double sampleRate);

    // Any host thread that does not run this instance's other functions at the same time; no
    // allocation. A null pointer disconnects the port.
    void ConnectPort(std::uint32_t port, void* data) noexcept;
    // The host's instantiation thread; may allocate: replaces the effect with a fresh one, so
    // the audio after every activate is the audio of a fresh instance.
    void Activate();
    // The host's audio thread; never allocates, never blocks on a lock, never throws.
    void Run(std::uint32_t frames) noexcept;

private:
    void ApplyControls() noexcept;

    double rate;
    std::unique_ptr<TMirvakEffect> effect;
    float* audio[4] = {};
    const float* controls[kControlCount] = {};
    // The control values the effect was last given, as bits; a fresh effect has been given none.
    std::uint32_t applied[kControlCount] = {};
    bool appliedValid[kControlCount] = {};
};

} // namespace vurnel
