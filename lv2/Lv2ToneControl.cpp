#include "Lv2ToneControl.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace vurnel {

// How a control glides
// --------------------
// run() reads the control ports at its start. A control that has not been given to the fresh
// effect yet, or any change while the smooth toggle is off, goes to the effect at once through
// setParameter, exactly as the VST 2 module takes a parameter change. Otherwise the effect glides
// the parameter there (TMirvakEffect::GlideParameter) over kGlideMilliseconds, from where it is
// (where its glide is, if one is under way); the block is rendered with the glides moving, one
// call, and when nothing glides that call is processReplacing, as before.

namespace {

// Ranges, defaults and the mapping onto the VST 2 parameter values (hz − 50)/450,
// (hz − 3000)/7000 and (dB + 20)/40, which the effect maps back to hertz and gains. The smooth
// toggle (last) is on above 0.
const Lv2ToneControl::ControlRange kRanges[Lv2ToneControl::kControlCount + 1] = {
    {50.0f, 500.0f, 50.0f},        // bass cutoff, Hz
    {3000.0f, 10000.0f, 10000.0f}, // treble cutoff, Hz
    {-20.0f, 20.0f, 0.0f},         // bass, dB
    {-20.0f, 20.0f, 0.0f},         // treble, dB
    {0.0f, 1.0f, 1.0f},            // smooth
};
const float kOffsets[Lv2ToneControl::kControlCount + 1] = {-50.0f, -3000.0f, 20.0f, 20.0f, 0.0f};
const float kSpans[Lv2ToneControl::kControlCount + 1] = {450.0f, 7000.0f, 40.0f, 40.0f, 1.0f};

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
    // Two float operations, each rounded to float as written, wherever float expressions are
    // evaluated: formed in extended precision and narrowed, a sum or a quotient of floats is
    // the float the single-precision operation gives, while a float expression kept in the x87
    // registers would skip the sum's rounding.
    const float sum = static_cast<float>(static_cast<long double>(clamped) + kOffsets[i]);
    return static_cast<float>(static_cast<long double>(sum) / kSpans[i]);
}

std::string Lv2ToneControl::ValueText(std::uint32_t port, float value) {
    char text[32];
    if (port == kBassDb || port == kTrebleDb)
        std::snprintf(text, sizeof text, "%+.1f dB", static_cast<double>(value));
    else if (value >= 1000.0f)
        std::snprintf(text, sizeof text, "%.4g kHz", static_cast<double>(value) / 1000.0);
    else
        std::snprintf(text, sizeof text, "%.0f Hz", static_cast<double>(value));
    return text;
}

std::int32_t Lv2ToneControl::GlideFrames(double sampleRate) {
    // In extended precision (exact for any whole rate), so every target counts the same frames.
    const long double frames =
        std::ceil(static_cast<long double>(sampleRate) * kGlideMilliseconds / 1000);
    if (!(frames >= 1.0L)) return 1;
    if (frames > 1e8L) return 100000000; // ten seconds at ten megahertz
    return static_cast<std::int32_t>(frames);
}

Lv2ToneControl::Lv2ToneControl(double sampleRate)
    : rate(sampleRate), glideFrames(GlideFrames(sampleRate)), effect(FreshEffect(rate)) {}

void Lv2ToneControl::ConnectPort(std::uint32_t port, void* data) noexcept {
    if (port < kFirstControl)
        audio[port] = static_cast<float*>(data);
    else if (port < kSmooth)
        controls[port - kFirstControl] = static_cast<const float*>(data);
    else if (port == kSmooth)
        smooth = static_cast<const float*>(data);
}

void Lv2ToneControl::Activate() {
    effect = FreshEffect(rate);
    for (bool& valid : appliedValid)
        valid = false;
}

void Lv2ToneControl::ApplyControls() noexcept {
    const bool smoothOn = smooth != nullptr && Clamp(kSmooth, *smooth) > 0.0f;
    if (!smoothOn && effect->Gliding()) {
        // Gliding switched off: every glide's end applies at once. The effect's setter lock is
        // only ever taken by this thread, so it never waits; if it fails, the next block tries
        // again before any new change is given.
        try {
            effect->FinishGlides();
        } catch (...) {
            return;
        }
    }
    for (std::uint32_t i = 0; i < kControlCount; ++i) {
        if (controls[i] == nullptr) continue;
        const std::uint32_t port = kFirstControl + i;
        const float value = Clamp(port, *controls[i]);
        const std::uint32_t bits = BitsOf(value);
        if (appliedValid[i] && applied[i] == bits) continue;
        const auto index = static_cast<std::int32_t>(i);
        const float parameter = ToParameter(port, value);
        if (smoothOn && appliedValid[i]) {
            if (!effect->GlideParameter(index, parameter, glideFrames)) continue; // next block
        } else {
            try {
                effect->setParameter(index, parameter); // a cutoff designs here (microseconds)
            } catch (...) {
                continue; // the lock failed to work: try again next block
            }
        }
        applied[i] = bits;
        appliedValid[i] = true;
    }
}

void Lv2ToneControl::Run(std::uint32_t frames) noexcept {
    if (frames == 0) return;
    ApplyControls();
    for (float* buffer : audio)
        if (buffer == nullptr) return;
    constexpr std::uint32_t kMost =
        static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t n = frames - done < kMost ? frames - done : kMost;
        float* in[2] = {audio[kInLeft] + done, audio[kInRight] + done};
        float* out[2] = {audio[kOutLeft] + done, audio[kOutRight] + done};
        effect->ProcessReplacingGliding(in, out, static_cast<std::int32_t>(n));
        done += n;
    }
}

} // namespace vurnel
