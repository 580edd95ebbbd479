// The VST 3 face's parameters and saved state: the tone control's controls in the units a user
// thinks in (ToneControls.h), plus the host's bypass. Plain values are the controls' own (Hz,
// dB, 0/1); normalized values run 0..1, the cutoffs on a logarithmic scale. Both the processor
// and the controller read and write state through here.
#pragma once

#include <cstdint>

#include "Vst3Interface.h"

namespace vurnel::vst3 {

// Parameter IDs, fixed for good (saved sessions and automation store them): 0..3 are the
// effect's parameters, in its order.
enum ParameterId : ParamID {
    kBassCutoffId = 0,
    kTrebleCutoffId = 1,
    kBassId = 2,
    kTrebleId = 3,
    kSmoothId = 4,
    kBypassId = 5
};
constexpr int kParameterCount = 6;

// Whether id names a parameter.
inline bool IsParameter(ParamID id) {
    return id < static_cast<ParamID>(kParameterCount);
}
// Fills info for the parameter at index (the index is its ID); false past the last.
// Any thread; no allocation.
bool DescribeParameter(std::int32_t index, ParameterInfo& info);
double DefaultNormalized(ParamID id);
// Plain ↔ normalized, each clamped into its range (NaN gives the default); a switch's plain value
// is 0 or 1, a cutoff's on a grid of 0.01 Hz, a gain's of 0.001 dB.
double ToPlain(ParamID id, double normalized);
double ToNormalized(ParamID id, double plain);
// The text a user reads ("+6.0 dB", "3.5 kHz", "on") and the value a typed text means ("6 dB",
// "3.5k", "off"); false for text that means nothing. No allocation.
void ParameterText(ParamID id, double normalized, String128 text);
bool ParseParameterText(ParamID id, const TChar* text, double& normalized);

// The processor's state: every parameter's normalized value, versioned, little-endian. Streams
// are read and written in pieces of any size; a missing, short, long or malformed blob, or a
// value out of range, is refused (false) and leaves values as they were.
bool WriteProcessorState(IBStream* stream, const double values[kParameterCount]);
bool ReadProcessorState(IBStream* stream, double values[kParameterCount]);
// The controller's own state: a version and nothing else yet, refused as above.
bool WriteControllerState(IBStream* stream);
bool ReadControllerState(IBStream* stream);

} // namespace vurnel::vst3
