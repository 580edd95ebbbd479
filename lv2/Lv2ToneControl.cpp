#include "Lv2ToneControl.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace vurnel {

namespace {

// Ranges, defaults and the mapping onto the VST 2 parameter values (hz − 50)/450,
// (hz − 3000)/7000 and (dB + 20)/40, which the effect maps back to hertz and gains.
const Lv2ToneControl::ControlRange kRanges[Lv2ToneControl::kControlCount] = {
    {50.0f, 500.0f, 50.0f},        // bass cutoff, Hz
    {3000.0f, 10000.0f, 10000.0f}, // treble cutoff, Hz
    {-20.0f, 20.0f, 0.0f},         // bass, dB
    {-20.0f, 20.0f, 0.0f},         // treble, dB
};
const float kOffsets[Lv2ToneControl::kControlCount] = {-50.0f, -3000.0f, 20.0f, 20.0f};
const float kSpans[Lv2ToneControl::kControlCount] = {450.0f, 7000.0f, 40.0f, 40.0f};

std::unique_ptr<TMirvakEffect> FreshEffect(double rate) {
    auto effect = std::make_unique<TMirvakEffect>(nullptr, 0, 0);
    effect->setSampleRate(static_cast<float>(rate));
    return effect;
}

std::uint32_t BitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

} // namespace

const Lv2ToneControl::ControlRange& Lv2ToneControl::RangeOf(std::uint32_t port) {
    return kRanges[port - kFirstControl];
}

float Lv2ToneControl::Clamp(std::uint32_t port, float value) {
    const ControlRange& range = RangeOf(port);
    if (std::isnan(value)) return range.defaultValue;
    if (value < range.minimum) return range.minimum;
    if (value > range.maximum) return range.maximum;
    return value;
}

float Lv2ToneControl::ToParameter(std::uint32_t port, float clamped) {
    const std::uint32_t i = port - kFirstControl;
    return (clamped + kOffsets[i]) / kSpans[i];
}

Lv2ToneControl::Lv2ToneControl(double sampleRate) : rate(sampleRate), effect(FreshEffect(rate)) {}

void Lv2ToneControl::ConnectPort(std::uint32_t port, void* data) noexcept {
    if (port < kFirstControl)
        audio[port] = static_cast<float*>(data);
    else if (port < kPortCount)
        controls[port - kFirstControl] = static_cast<const float*>(data);
}

void Lv2ToneControl::Activate() {
    effect = FreshEffect(rate);
    for (bool& valid : appliedValid)
        valid = false;
}

void Lv2ToneControl::ApplyControls() noexcept {
    for (std::uint32_t i = 0; i < kControlCount; ++i) {
        if (controls[i] == nullptr) continue;
        const std::uint32_t port = kFirstControl + i;
        const float value = Clamp(port, *controls[i]);
        const std::uint32_t bits = BitsOf(value);
        if (appliedValid[i] && applied[i] == bits) continue;
        applied[i] = bits;
        appliedValid[i] = true;
        // The only caller of the effect's setters is this thread, so the effect's setter lock
        // is never contended here; a cutoff change designs its filters in place (microseconds).
        try {
            effect->setParameter(static_cast<std::int32_t>(i), ToParameter(port, value));
        } catch (...) {
            appliedValid[i] = false; // the lock failed to work: try again next block
        }
    }
}

void Lv2ToneControl::Run(std::uint32_t frames) noexcept {
    if (frames == 0) return;
    ApplyControls();
    for (float* buffer : audio)
        if (buffer == nullptr) return;
    float* inputs[2] = {audio[kInLeft], audio[kInRight]};
    float* outputs[2] = {audio[kOutLeft], audio[kOutRight]};
    constexpr std::uint32_t kMost =
        static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t n = frames - done < kMost ? frames - done : kMost;
        float* in[2] = {inputs[0] + done, inputs[1] + done};
        float* out[2] = {outputs[0] + done, outputs[1] + done};
        effect->processReplacing(in, out, static_cast<std::int32_t>(n));
        done += n;
    }
}

} // namespace vurnel
