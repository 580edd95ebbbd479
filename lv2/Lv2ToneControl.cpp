#include "Lv2ToneControl.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace vurnel {

// How a control glides
// --------------------
// run() reads the control ports at its start. A control that has not been given to the fresh
// effect yet, or any change while the smooth toggle is off, goes to the effect at once, exactly
// as the VST 2 module takes a parameter change. Otherwise the control starts a glide from where
// it is (its glide's last step, if one is under way) to the new value: glideSteps even steps in
// decibels or in the logarithm of the cutoff, one every stepFrames frames across run() calls,
// the last step the new value itself, given through the same mapping as an instant change. The
// audio between steps is one processReplacing call, so while anything glides a block becomes
// sub-blocks of at most stepFrames frames; when nothing glides a block is one call, as before.
// A glided cutoff goes to the effect with SetParameterKeepingState, so the filters carry their
// histories across each small redesign instead of restarting from silence at every step.

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

bool IsCutoff(std::uint32_t control) {
    return control < 2;
}

// A control value in glide units, and back.
double ToGlide(std::uint32_t control, float value) {
    return IsCutoff(control) ? std::log(static_cast<double>(value)) : value;
}
float FromGlide(std::uint32_t control, double position) {
    return static_cast<float>(IsCutoff(control) ? std::exp(position) : position);
}

// Steps of a glide at this rate: at least one, and no more than a glide of ten seconds has.
// The glide lasts rate × seconds frames, rounded up, where a product within a billionth of a
// whole number counts as that number (44100 × 0.02 is 882.0000000000000184 where doubles are
// evaluated in extended precision, 882 where they are not); the steps are counted in frames.
std::uint32_t GlideSteps(double rate, double seconds, std::uint32_t stepFrames) {
    const double product = rate * seconds;
    if (!(product >= 1.0)) return 1;
    if (product > 1e6 * stepFrames) return 1000000;
    const double nearest = std::round(product);
    const double frames =
        std::fabs(product - nearest) <= 1e-9 * product ? nearest : std::ceil(product);
    const auto whole = static_cast<std::uint64_t>(frames);
    return static_cast<std::uint32_t>((whole + stepFrames - 1) / stepFrames);
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

Lv2ToneControl::Lv2ToneControl(double sampleRate)
    : Lv2ToneControl(sampleRate, kGlideSeconds, kStepFrames) {}

Lv2ToneControl::Lv2ToneControl(double sampleRate, double glideSeconds, std::uint32_t step)
    : rate(sampleRate), stepFrames(step > 0 ? step : 1),
      glideSteps(GlideSteps(sampleRate, glideSeconds, stepFrames)), effect(FreshEffect(rate)) {}

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
    for (Glide& glide : glides)
        glide.active = false;
    gliding = false;
    untilStep = 0;
}

bool Lv2ToneControl::Give(std::uint32_t control, float value, bool keepHistories) noexcept {
    // The only caller of the effect's setters is this thread, so the effect's setter lock is
    // never contended here; a cutoff change designs its filters in place (microseconds).
    const auto index = static_cast<std::int32_t>(control);
    const float parameter = ToParameter(kFirstControl + control, value);
    try {
        if (keepHistories)
            effect->SetParameterKeepingState(index, parameter);
        else
            effect->setParameter(index, parameter);
        return true;
    } catch (...) {
        return false; // the lock failed to work
    }
}

void Lv2ToneControl::ApplyControls() noexcept {
    const bool smoothOn = smooth != nullptr && Clamp(kSmooth, *smooth) > 0.0f;
    for (std::uint32_t i = 0; i < kControlCount; ++i) {
        Glide& glide = glides[i];
        if (!smoothOn && glide.active) {
            // Gliding switched off: the glide's end applies at once.
            float target;
            std::memcpy(&target, &applied[i], sizeof target);
            glide.active = !Give(i, target, false);
            if (!glide.active) glide.now = glide.to;
        }
        if (controls[i] == nullptr) continue;
        const std::uint32_t port = kFirstControl + i;
        const float value = Clamp(port, *controls[i]);
        const std::uint32_t bits = BitsOf(value);
        if (appliedValid[i] && applied[i] == bits) continue;
        if (smoothOn && appliedValid[i]) {
            glide.from = glide.now;
            glide.to = ToGlide(i, value);
            glide.step = 0;
            glide.active = true;
            untilStep = 0; // the first step comes with this block's first frame
        } else if (Give(i, value, false)) {
            glide.now = ToGlide(i, value);
            glide.active = false;
        } else {
            continue; // try again next block
        }
        applied[i] = bits;
        appliedValid[i] = true;
    }
    gliding = false;
    for (const Glide& glide : glides)
        gliding = gliding || glide.active;
}

void Lv2ToneControl::StepGlides() noexcept {
    gliding = false;
    for (std::uint32_t i = 0; i < kControlCount; ++i) {
        Glide& glide = glides[i];
        if (!glide.active) continue;
        const std::uint32_t step = glide.step + 1;
        double position;
        float value;
        if (step >= glideSteps) { // the end: the value as set, to the bit
            position = glide.to;
            std::memcpy(&value, &applied[i], sizeof value);
        } else {
            position = glide.from + (glide.to - glide.from) * step / glideSteps;
            value = FromGlide(i, position);
        }
        if (Give(i, value, IsCutoff(i))) {
            glide.step = step;
            glide.now = position;
            glide.active = step < glideSteps;
        }
        gliding = gliding || glide.active;
    }
}

void Lv2ToneControl::Process(std::uint32_t offset, std::uint32_t frames) noexcept {
    constexpr std::uint32_t kMost =
        static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t n = frames - done < kMost ? frames - done : kMost;
        const std::uint32_t at = offset + done;
        float* in[2] = {audio[kInLeft] + at, audio[kInRight] + at};
        float* out[2] = {audio[kOutLeft] + at, audio[kOutRight] + at};
        effect->processReplacing(in, out, static_cast<std::int32_t>(n));
        done += n;
    }
}

void Lv2ToneControl::Run(std::uint32_t frames) noexcept {
    if (frames == 0) return;
    ApplyControls();
    for (float* buffer : audio)
        if (buffer == nullptr) return;
    for (std::uint32_t done = 0; done < frames;) {
        if (gliding && untilStep == 0) {
            StepGlides();
            untilStep = stepFrames;
        }
        std::uint32_t n = frames - done;
        if (gliding && untilStep < n) n = untilStep;
        Process(done, n);
        done += n;
        untilStep = n < untilStep ? untilStep - n : 0;
    }
}

} // namespace vurnel
