// The tone control's controls in the units a user thinks in (cutoffs in hertz, gains in
// decibels, the smooth switch), their ranges, texts and mapping onto TMirvakEffect's parameter
// values, and the one way an effect follows them from block to block. Every face that shows the
// controls this way (the LV2 and VST 3 plug-ins, the `vurnel` program) uses these, so the same
// control values at the same block boundaries give the same bits in each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Main.h"

namespace vurnel {

enum ToneControl : int {
    kBassCutoffControl = 0, // Hz, the effect's parameter 0
    kTrebleCutoffControl = 1,
    kBassControl = 2, // dB, the effect's parameter 2
    kTrebleControl = 3,
    kSmoothControl = 4, // on above 0: changes glide
    kToneControlCount = 5
};
// The controls the effect maps onto its parameters (the smooth switch is not one of them).
constexpr int kToneParameterControls = 4;

// A control's range and default, in its own units.
struct ToneControlRange {
    float minimum, maximum, defaultValue;
};
const ToneControlRange& RangeOfControl(int control);
// The value a control takes: NaN gives the default, anything else (±∞ included) is clamped into
// the range.
float ClampControl(int control, float value);
// The effect's parameter value (0..1) of a clamped control value: (hz − 50)/450,
// (hz − 3000)/7000 or (dB + 20)/40, each step rounded to float as written.
float ControlToParameter(int control, float clamped);
// A control value as a person reads it: "120 Hz", "4.5 kHz", "+6.0 dB", "on". Allocates.
std::string ControlText(int control, float value);
// The same into text (size bytes, 32 are enough); no allocation.
void ControlText(int control, float value, char* text, std::size_t size);
// A value as a person types it: a number, optionally with the control's unit ("6 dB", "-3db",
// "250 Hz", "3.5k", "3.5 kHz"; "on"/"off" for the switch). False for anything else; the value
// is not clamped. No allocation.
bool ParseControlText(int control, const char* text, float& value);

// How long a changed control glides (TMirvakEffect::GlideParameter: gains evenly in decibels,
// cutoffs in the logarithm of their frequency), and its length in frames at a sample rate: the
// whole frames that cover it, at least one.
constexpr std::int32_t kControlGlideMilliseconds = 20;
std::int32_t ControlGlideFrames(double sampleRate);

// Makes an effect follow control values given at block boundaries. A control that has not been
// given to the effect yet, or any change while smooth is off, goes to the effect at once through
// setParameter, exactly as the VST 2 module takes a parameter change; otherwise the effect glides
// the parameter there over glideFrames, from where it is. Switching smooth off ends the glides.
class ToneControlFollower {
public:
    // The effect is a fresh one: it has been given no control yet.
    void Reset() noexcept;
    // The thread that runs the effect's audio; no allocation. values[c] null leaves control c
    // alone. A change the effect's setter lock refuses is tried again at the next call.
    void Apply(TMirvakEffect& effect, const float* const values[kToneParameterControls],
               bool smooth, std::int32_t glideFrames) noexcept;

private:
    // The control values the effect was last given or is gliding to, as bits.
    std::uint32_t applied[kToneParameterControls] = {};
    bool appliedValid[kToneParameterControls] = {};
};

} // namespace vurnel
