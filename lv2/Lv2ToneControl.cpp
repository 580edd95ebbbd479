#include "Lv2ToneControl.h"

#include <limits>

namespace vurnel {

// run() reads the control ports at its start and hands them to the effect as
// ToneControlFollower does (ToneControls.h): at once, or gliding while smooth is on. The block is
// rendered with the glides moving, one call, and when nothing glides that call is
// processReplacing.

namespace {

std::unique_ptr<TMirvakEffect> FreshEffect(double rate) {
    auto effect = std::make_unique<TMirvakEffect>(nullptr, 0, 0);
    effect->setSampleRate(static_cast<float>(rate));
    return effect;
}

} // namespace

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
    follower.Reset();
}

void Lv2ToneControl::Run(std::uint32_t frames) noexcept {
    if (frames == 0) return;
    const bool smoothOn = smooth != nullptr && Clamp(kSmooth, *smooth) > 0.0f;
    follower.Apply(*effect, controls, smoothOn, glideFrames);
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
