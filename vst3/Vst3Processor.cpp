#include "Vst3Processor.h"

#include <cmath>
#include <cstring>
#include <new>

namespace vurnel::vst3 {

// How a block runs
// ----------------
// process() first takes a state that setState loaded, if any, at once. It then walks the block
// from point to point: the frames before the next parameter point are rendered with the
// controls as they are (TMirvakEffect::ProcessReplacingGliding, which is processReplacing while
// nothing glides), then every point at that frame sets its control, and ToneControlFollower
// hands the changed controls to the effect, exactly as the LV2 plug-in does at the start of its
// blocks. Points are taken in time order across all queues; a point at or past the block's end
// (a parameter flush has no frames) is applied at the end. Nothing here allocates or waits; a
// cutoff change designs its filters in the audio thread (a few microseconds), as in the LV2
// plug-in.

namespace {

bool IsUid(const TUID iid, const Uid& uid) {
    return SameUid(iid, uid);
}

std::unique_ptr<TMirvakEffect> FreshEffect(double rate) {
    auto effect = std::make_unique<TMirvakEffect>(nullptr, 0, 0);
    effect->setSampleRate(static_cast<float>(rate));
    return effect;
}

void CopyName(TChar* to, const char* from) {
    std::size_t i = 0;
    for (; from[i] != '\0' && i < 127; ++i)
        to[i] = static_cast<TChar>(from[i]);
    to[i] = 0;
}

// Whether every sample of a channel is zero (of either sign): the bits of 64 samples at a time
// or'ed together eight bytes at a load, stopping at the first stretch with sound.
bool AllZero(const float* samples, std::int32_t frames) {
    constexpr std::uint64_t kMagnitudes = 0x7FFFFFFF7FFFFFFFull;
    std::int32_t i = 0;
    while (i < frames) {
        const std::int32_t end = frames - i > 64 ? i + 64 : frames;
        std::uint64_t bits = 0;
        for (; i + 8 <= end; i += 8) {
            std::uint64_t a, b, c, d;
            std::memcpy(&a, samples + i, 8);
            std::memcpy(&b, samples + i + 2, 8);
            std::memcpy(&c, samples + i + 4, 8);
            std::memcpy(&d, samples + i + 6, 8);
            bits |= a | b | c | d;
        }
        for (; i < end; ++i) {
            std::uint32_t one;
            std::memcpy(&one, samples + i, 4);
            bits |= one;
        }
        if ((bits & kMagnitudes) != 0) return false;
    }
    return true;
}

// The most queues a block's walk follows point by point (the plug-in has six parameters; a host
// that sends more queues, e.g. one parameter twice, has the rest applied at the block's start).
constexpr int kMostQueues = 16;

} // namespace

bool SameUid(const char* id, const Uid& uid) noexcept {
    return id != nullptr && std::memcmp(id, uid.bytes, sizeof uid.bytes) == 0;
}

Vst3Processor::Vst3Processor()
    : glideFrames(ControlGlideFrames(sampleRate)), effect(FreshEffect(sampleRate)) {
    for (int i = 0; i < kParameterCount; ++i)
        controls[i] = static_cast<float>(
            ToPlain(static_cast<ParamID>(i), values[i].load(std::memory_order_relaxed)));
}

tresult Vst3Processor::queryInterface(const TUID iid, void** obj) {
    if (obj == nullptr) return kInvalidArgument;
    void* found = nullptr;
    if (IsUid(iid, kFUnknownIid) || IsUid(iid, kIPluginBaseIid) || IsUid(iid, kIComponentIid))
        found = static_cast<IComponent*>(this);
    else if (IsUid(iid, kIEditControllerIid))
        found = static_cast<IEditController*>(this);
    else if (IsUid(iid, kIAudioProcessorIid))
        found = static_cast<IAudioProcessor*>(this);
    else if (IsUid(iid, kIProcessContextRequirementsIid))
        found = static_cast<IProcessContextRequirements*>(this);
    *obj = found;
    if (found == nullptr) return kNoInterface;
    addRef();
    return kResultOk;
}

uint32 Vst3Processor::addRef() {
    return references.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32 Vst3Processor::release() {
    const std::uint32_t left = references.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

tresult Vst3Processor::initialize(FUnknown* /*context*/) {
    ++initialized;
    return kResultOk;
}

tresult Vst3Processor::terminate() {
    if (initialized > 0) --initialized;
    if (initialized == 0) ForgetHandler();
    return kResultOk;
}

tresult Vst3Processor::getControllerClassId(TUID /*classId*/) {
    return kNotImplemented; // the component is its own controller
}

tresult Vst3Processor::setIoMode(IoMode /*mode*/) {
    return kResultOk;
}

int32 Vst3Processor::getBusCount(MediaType type, BusDirection dir) {
    return type == kAudio && (dir == kInput || dir == kOutput) ? 1 : 0;
}

tresult Vst3Processor::getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo& bus) {
    if (type != kAudio || index != 0 || (dir != kInput && dir != kOutput)) return kInvalidArgument;
    std::memset(&bus, 0, sizeof bus);
    bus.mediaType = kAudio;
    bus.direction = dir;
    bus.channelCount = 2;
    CopyName(bus.name, dir == kInput ? "Stereo In" : "Stereo Out");
    bus.busType = kMain;
    bus.flags = kDefaultActive;
    return kResultOk;
}

tresult Vst3Processor::getRoutingInfo(RoutingInfo& /*inInfo*/, RoutingInfo& /*outInfo*/) {
    return kNotImplemented;
}

tresult Vst3Processor::activateBus(MediaType type, BusDirection dir, int32 index, TBool /*state*/) {
    return type == kAudio && index == 0 && (dir == kInput || dir == kOutput) ? kResultOk
                                                                             : kInvalidArgument;
}

tresult Vst3Processor::setActive(TBool state) {
    if (!state) {
        active = false;
        return kResultOk;
    }
    // The audio after every activation is a fresh instance's, set to the current values.
    try {
        effect = FreshEffect(sampleRate);
    } catch (...) {
        return kOutOfMemory;
    }
    glideFrames = ControlGlideFrames(sampleRate);
    follower.Reset();
    loadsTaken = loadCount.load(std::memory_order_acquire);
    for (int i = 0; i < kParameterCount; ++i)
        SetControl(static_cast<ParamID>(i), values[i].load(std::memory_order_relaxed));
    active = true;
    return kResultOk;
}

tresult Vst3Processor::SetProcessorState(IBStream* state) {
    double loaded[kParameterCount];
    if (!ReadProcessorState(state, loaded)) return kResultFalse;
    for (int i = 0; i < kParameterCount; ++i)
        values[i].store(loaded[i], std::memory_order_relaxed);
    loadCount.fetch_add(1, std::memory_order_release);
    return kResultOk;
}

tresult Vst3Processor::GetProcessorState(IBStream* state) {
    double saved[kParameterCount];
    for (int i = 0; i < kParameterCount; ++i)
        saved[i] = values[i].load(std::memory_order_relaxed);
    return WriteProcessorState(state, saved) ? kResultOk : kResultFalse;
}

tresult Vst3Processor::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                          SpeakerArrangement* outputs, int32 numOuts) {
    const bool stereo = numIns == 1 && numOuts == 1 && inputs != nullptr && outputs != nullptr &&
                        inputs[0] == kStereoArrangement && outputs[0] == kStereoArrangement;
    return stereo ? kResultTrue : kResultFalse;
}

tresult Vst3Processor::getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement& arr) {
    if (index != 0 || (dir != kInput && dir != kOutput)) return kInvalidArgument;
    arr = kStereoArrangement;
    return kResultOk;
}

tresult Vst3Processor::canProcessSampleSize(int32 symbolicSampleSize) {
    return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

uint32 Vst3Processor::getLatencySamples() {
    return 0;
}

tresult Vst3Processor::setupProcessing(ProcessSetup& setup) {
    if (setup.symbolicSampleSize != kSample32) return kResultFalse;
    if (!(setup.sampleRate > 0.0) || !std::isfinite(setup.sampleRate)) return kInvalidArgument;
    sampleRate = setup.sampleRate;
    return kResultOk;
}

tresult Vst3Processor::setProcessing(TBool state) {
    processing = state != 0;
    return kResultOk;
}

uint32 Vst3Processor::getTailSamples() {
    // The slowest filter (a 50 Hz pole, its output up to 20 dB louder) falls by 140 dB within
    // 60 ms.
    return static_cast<uint32>(std::ceil(sampleRate * 0.06));
}

uint32 Vst3Processor::getProcessContextRequirements() {
    return 0;
}

void Vst3Processor::SetControl(ParamID id, double normalized) noexcept {
    if (!IsParameter(id) || std::isnan(normalized)) return;
    const double n = normalized < 0.0 ? 0.0 : normalized > 1.0 ? 1.0 : normalized;
    controls[id] = static_cast<float>(ToPlain(id, n));
    values[id].store(n, std::memory_order_relaxed);
}

void Vst3Processor::ApplyControls() noexcept {
    // Bypass sets both gains to 0 dB (and back) as a person turning them would.
    const bool bypass = controls[kBypassId] > 0.0f;
    static const float kFlat = 0.0f;
    const float* given[kToneParameterControls] = {
        &controls[kBassCutoffId], &controls[kTrebleCutoffId], bypass ? &kFlat : &controls[kBassId],
        bypass ? &kFlat : &controls[kTrebleId]};
    follower.Apply(*effect, given, controls[kSmoothId] > 0.0f, glideFrames);
}

void Vst3Processor::Render(ProcessData& data, std::int32_t from, std::int32_t to) noexcept {
    if (to <= from) return;
    AudioBusBuffers& in = data.inputs[0];
    AudioBusBuffers& out = data.outputs[0];
    float* inputs[2] = {in.channelBuffers32[0] + from, in.channelBuffers32[1] + from};
    float* outputs[2] = {out.channelBuffers32[0] + from, out.channelBuffers32[1] + from};
    effect->ProcessReplacingGliding(inputs, outputs, to - from);
}

tresult Vst3Processor::process(ProcessData& data) {
    if (data.symbolicSampleSize != kSample32) return kInvalidArgument;
    const std::uint32_t loads = loadCount.load(std::memory_order_acquire);
    if (loads != loadsTaken) {
        // A loaded state applies at once: glides end, and every control is given anew.
        loadsTaken = loads;
        try {
            effect->FinishGlides();
        } catch (...) {
        }
        follower.Reset();
        for (int i = 0; i < kParameterCount; ++i) {
            const double n = values[i].load(std::memory_order_relaxed);
            controls[i] = static_cast<float>(ToPlain(static_cast<ParamID>(i), n));
        }
    }

    // The queues to walk, each with the index of its next point.
    IParamValueQueue* queues[kMostQueues];
    std::int32_t next[kMostQueues], counts[kMostQueues];
    int queueCount = 0;
    if (IParameterChanges* changes = data.inputParameterChanges) {
        const std::int32_t n = changes->getParameterCount();
        for (std::int32_t q = 0; q < n; ++q) {
            IParamValueQueue* queue = changes->getParameterData(q);
            if (queue == nullptr || !IsParameter(queue->getParameterId())) continue;
            const std::int32_t points = queue->getPointCount();
            if (points <= 0) continue;
            if (queueCount < kMostQueues) {
                queues[queueCount] = queue;
                next[queueCount] = 0;
                counts[queueCount++] = points;
                continue;
            }
            std::int32_t offset;
            ParamValue value;
            if (queue->getPoint(points - 1, offset, value) == kResultOk)
                SetControl(queue->getParameterId(), value);
        }
    }

    const std::int32_t frames = data.numSamples > 0 ? data.numSamples : 0;
    const bool audio = frames > 0 && data.numInputs > 0 && data.numOutputs > 0 &&
                       data.inputs != nullptr && data.outputs != nullptr &&
                       data.inputs[0].numChannels >= 2 && data.outputs[0].numChannels >= 2 &&
                       data.inputs[0].channelBuffers32 != nullptr &&
                       data.outputs[0].channelBuffers32 != nullptr &&
                       data.inputs[0].channelBuffers32[0] != nullptr &&
                       data.inputs[0].channelBuffers32[1] != nullptr &&
                       data.outputs[0].channelBuffers32[0] != nullptr &&
                       data.outputs[0].channelBuffers32[1] != nullptr;
    // The frames the walk covers: none in a flush (its points all apply at "the end").
    const std::int32_t end = audio ? frames : 0;

    std::int32_t position = 0;
    for (;;) {
        // Every point at this frame (offsets before it, out of order, count as it; offsets at or
        // past the end, as the end), queue by queue: a queue's last point at a frame wins. The
        // points at frame 0 of the first block after activation apply at once, as the LV2
        // plug-in's first control values do.
        std::int32_t at = end;
        bool pending = false;
        for (int q = 0; q < queueCount; ++q) {
            while (next[q] < counts[q]) {
                std::int32_t offset;
                ParamValue value;
                if (queues[q]->getPoint(next[q], offset, value) != kResultOk) {
                    next[q] = counts[q];
                    break;
                }
                offset = offset < position ? position : offset > end ? end : offset;
                if (offset != position) {
                    if (!pending || offset < at) at = offset;
                    pending = true;
                    break;
                }
                SetControl(queues[q]->getParameterId(), value);
                ++next[q];
            }
        }
        ApplyControls();
        if (!pending) break;
        if (audio) Render(data, position, at);
        position = at;
    }
    if (!audio) {
        // No audio to make: outputs the host gave anyway are silenced.
        if (frames > 0 && data.numOutputs > 0 && data.outputs != nullptr &&
            data.outputs[0].channelBuffers32 != nullptr) {
            AudioBusBuffers& out = data.outputs[0];
            for (std::int32_t c = 0; c < out.numChannels && c < 64; ++c)
                if (out.channelBuffers32[c] != nullptr)
                    std::memset(out.channelBuffers32[c], 0, sizeof(float) * std::size_t(frames));
            out.silenceFlags = out.numChannels >= 64 ? ~std::uint64_t{0}
                                                     : (std::uint64_t{1} << out.numChannels) - 1;
        }
        return kResultOk;
    }
    Render(data, position, end);
    AudioBusBuffers& out = data.outputs[0];
    std::uint64_t silent = 0;
    for (int c = 0; c < 2; ++c)
        if (AllZero(out.channelBuffers32[c], frames)) silent |= std::uint64_t{1} << c;
    out.silenceFlags = silent;
    return kResultOk;
}

} // namespace vurnel::vst3
