// The tone control as a VST 3 audio processor (IComponent, IAudioProcessor): a thin face over
// the one TMirvakEffect, as the LV2 plug-in is. Parameter changes arrive as points in the
// process call; each takes effect at its own frame (the block is split there) and reaches the
// effect as the LV2 plug-in's controls do (ToneControlFollower: at once, or gliding while
// "Smooth" is on), so the same values at the same block boundaries give the LV2 plug-in's bits.
// Bypass glides both gains to 0 dB, where the effect passes audio bit for bit.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "Main.h"
#include "ToneControls.h"
#include "Vst3Controller.h"
#include "Vst3Interface.h"
#include "Vst3Parameters.h"

namespace vurnel::vst3 {

// The class ID, fixed for good: hosts store it in saved sessions. Text form (hosts and session
// files): E92586ADA6044FD4BEAC46943C77699E.
constexpr std::uint32_t kProcessorWords[4] = {0xE92586AD, 0xA6044FD4, 0xBEAC4694, 0x3C77699E};
constexpr Uid kProcessorCid =
    MakeUid(kProcessorWords[0], kProcessorWords[1], kProcessorWords[2], kProcessorWords[3]);

// IComponent's setState and getState under names of their own: the edit controller has methods
// of the same names for its own state.
class Vst3ComponentState : public IComponent {
public:
    tresult VURNEL_VST3_API setState(IBStream* state) final { return SetProcessorState(state); }
    tresult VURNEL_VST3_API getState(IBStream* state) final { return GetProcessorState(state); }

protected:
    ~Vst3ComponentState() = default;
    virtual tresult SetProcessorState(IBStream* state) = 0;
    virtual tresult GetProcessorState(IBStream* state) = 0;
};

// The plug-in object: processor and edit controller in one (hosts ask the component for its
// IEditController first), so the state a host saves always holds the values it set last.
class Vst3Processor final : public Vst3ComponentState,
                            public IAudioProcessor,
                            public IProcessContextRequirements,
                            public Vst3Controller {
public:
    // Any thread; allocates the effect (throws std::bad_alloc). The reference count starts at 1.
    Vst3Processor();

    // FUnknown: any thread; no allocation. The last release deletes the object.
    tresult VURNEL_VST3_API queryInterface(const TUID iid, void** obj) override;
    uint32 VURNEL_VST3_API addRef() override;
    uint32 VURNEL_VST3_API release() override;

    // IPluginBase (both halves'): the UI thread; no allocation. The second initialize (as the
    // controller) is counted and harmless.
    tresult VURNEL_VST3_API initialize(FUnknown* context) override;
    tresult VURNEL_VST3_API terminate() override;

    // IComponent: the UI thread; no allocation but setActive(true), which makes a fresh effect.
    tresult VURNEL_VST3_API getControllerClassId(TUID classId) override;
    tresult VURNEL_VST3_API setIoMode(IoMode mode) override;
    int32 VURNEL_VST3_API getBusCount(MediaType type, BusDirection dir) override;
    tresult VURNEL_VST3_API getBusInfo(MediaType type, BusDirection dir, int32 index,
                                       BusInfo& bus) override;
    tresult VURNEL_VST3_API getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) override;
    tresult VURNEL_VST3_API activateBus(MediaType type, BusDirection dir, int32 index,
                                        TBool state) override;
    tresult VURNEL_VST3_API setActive(TBool state) override;
    // IComponent's setState and getState: the UI thread, also while process runs on the audio
    // thread (values handed over lock-free: the next process call applies a loaded state at
    // once); no allocation.
    tresult SetProcessorState(IBStream* state) override;
    tresult GetProcessorState(IBStream* state) override;

    // IAudioProcessor: the UI thread while inactive; no allocation.
    tresult VURNEL_VST3_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                               SpeakerArrangement* outputs, int32 numOuts) override;
    tresult VURNEL_VST3_API getBusArrangement(BusDirection dir, int32 index,
                                              SpeakerArrangement& arr) override;
    tresult VURNEL_VST3_API canProcessSampleSize(int32 symbolicSampleSize) override;
    uint32 VURNEL_VST3_API getLatencySamples() override;
    tresult VURNEL_VST3_API setupProcessing(ProcessSetup& setup) override;
    // The UI or the audio thread; no allocation, no lock.
    tresult VURNEL_VST3_API setProcessing(TBool state) override;
    // The audio thread; never allocates, never waits, never throws.
    tresult VURNEL_VST3_API process(ProcessData& data) override;
    uint32 VURNEL_VST3_API getTailSamples() override;

    // IProcessContextRequirements: any thread; the effect needs no transport information.
    uint32 VURNEL_VST3_API getProcessContextRequirements() override;

    // For tests and measurements, on the thread that runs the audio.
    TMirvakEffect& Effect() noexcept { return *effect; }

private:
    ~Vst3Processor() = default;
    void ApplyControls() noexcept;
    void SetControl(ParamID id, double normalized) noexcept;
    void Render(ProcessData& data, std::int32_t from, std::int32_t to) noexcept;

    std::atomic<std::uint32_t> references{1};
    int initialized = 0;
    bool active = false;
    bool processing = false;
    double sampleRate = 44100.0;
    std::int32_t glideFrames;
    std::unique_ptr<TMirvakEffect> effect;
    ToneControlFollower follower;

    // IComponent's setState stores what it loads in values and bumps loadCount, which tells
    // the audio thread to take them all.
    std::atomic<std::uint32_t> loadCount{0};
    // The audio thread's own: the loads it has taken, and the controls in their own units.
    std::uint32_t loadsTaken = 0;
    float controls[kParameterCount];
};

} // namespace vurnel::vst3
