// The LV2 entry: the one function a host finds in the module (lv2_descriptor) and the
// descriptor's callbacks around one Lv2ToneControl per instance. No C++ exception leaves here.

#include <lv2/core/lv2.h>

#include <cstdint>

#include "FloatingPointSetup.h"
#include "Lv2ToneControl.h"

using vurnel::Lv2ToneControl;

namespace {

Lv2ToneControl* Self(LV2_Handle instance) {
    return static_cast<Lv2ToneControl*>(instance);
}

// The host's instantiation thread; allocates the instance. Null when that fails.
LV2_Handle Instantiate(const LV2_Descriptor* /*descriptor*/, double sampleRate,
                       const char* /*bundlePath*/, const LV2_Feature* const* /*features*/) {
    try {
        return new Lv2ToneControl(sampleRate);
    } catch (...) {
        return nullptr;
    }
}

// Any host thread not running this instance's other functions; no allocation.
void ConnectPort(LV2_Handle instance, std::uint32_t port, void* data) {
    Self(instance)->ConnectPort(port, data);
}

// The host's instantiation thread; allocates a fresh effect. On failure the old one stays.
void Activate(LV2_Handle instance) {
    try {
        Self(instance)->Activate();
    } catch (...) {
    }
}

// The host's audio thread; never allocates, never blocks on a lock, never throws.
void Run(LV2_Handle instance, std::uint32_t frames) {
    Self(instance)->Run(frames);
}

// The host's instantiation thread; nothing to do.
void Deactivate(LV2_Handle /*instance*/) {}

// The host's instantiation thread; frees the instance.
void Cleanup(LV2_Handle instance) {
    delete Self(instance);
}

// Any thread; no extension data.
const void* ExtensionData(const char* /*uri*/) {
    return nullptr;
}

const LV2_Descriptor kDescriptor = {VURNEL_LV2_URI, Instantiate, ConnectPort,  Activate, Run,
                                    Deactivate,     Cleanup,     ExtensionData};

} // namespace

// Any host thread; no allocation. The bundle holds one plug-in, index 0.
extern "C" __attribute__((visibility("default"))) const LV2_Descriptor*
lv2_descriptor(std::uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}

// Load-time initialisation: masks floating-point exceptions on the loading thread, as the
// VST 2 module does.
__attribute__((constructor)) static void VurnelLv2LoadTimeInitialisation() {
    vurnel::MaskFloatingPointExceptions();
}
