// The tone control's four settings as a person says them, on every command that takes them:
// --bass DB, --treble DB, --bass-cutoff HZ, --treble-cutoff HZ. The ranges are the LV2 ports'
// and the mapping onto the effect's 0..1 parameter values is the LV2 plug-in's, so the same
// numbers give the same bits in `vurnel render`, `lv2apply` and the desktop filter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vurnel::host {

// One line naming the option, the value and the range.
struct ToneOptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The four controls, in the effect's parameter order (and the LV2 control ports' order).
enum ToneControl : int { kBassCutoff = 0, kTrebleCutoff = 1, kBass = 2, kTreble = 3 };
constexpr int kToneControls = 4;

struct ToneOptionInfo {
    const char* option; // "--bass-cutoff"
    const char* symbol; // the LV2 port symbol, "bass_cutoff"
    const char* unit;   // "Hz" or "dB"
    float minimum, maximum, defaultValue;
};
const ToneOptionInfo& ToneOptionOf(int control);

// The controls a person gave, in their own units; unset ones are left to the effect.
struct ToneSettings {
    std::optional<float> value[kToneControls];
    bool Any() const;
};

// If args[i] is one of the four options (or --option=VALUE), reads its value, stores it and
// moves i past it, returning true; returns false for any other argument. Throws
// ToneOptionError for a missing value, a value that is not a number, a unit other than the
// option's ("6dB" and "6 dB" are fine for a gain; "200Hz" and "3.5kHz" for a cutoff), or a value
// outside the range.
bool ParseToneOption(const std::vector<std::string>& args, std::size_t& i, ToneSettings& into);

// One value as ParseToneOption reads it (the text without the option).
float ParseToneValue(int control, const std::string& text);

// The effect's parameter value (0..1) for a control's value in its own units, mapped exactly as
// the LV2 plug-in maps its ports.
float ToneParameterValue(int control, float value);

// "120 Hz", "3.5 kHz" or "+6.0 dB", as the controls read.
std::string ToneValueText(int control, float value);

// The help lines for the four options.
extern const char kToneOptionsHelp[];

} // namespace vurnel::host
