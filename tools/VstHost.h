// Loading a VST 2 module and driving one instance of it, as a host does: dlopen, the exported
// VSTPluginMain or main with a host callback that answers the version query, and from then on
// only the effect record's entry points.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "DAEffect.h"

namespace vurnel::host {

// Any failure to load or to create an instance; the message names the problem in one line.
struct HostError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class VstModule {
public:
    explicit VstModule(const std::string& path); // throws HostError
    ~VstModule();
    VstModule(const VstModule&) = delete;
    VstModule& operator=(const VstModule&) = delete;

    // A new instance's record (throws HostError when the plug-in gives none).
    AEffect* CreateEffect() const;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    void* handle_ = nullptr;
    AEffect* (*entry_)(audioMasterCallback) = nullptr;
};

// One open instance; closed through the dispatcher when destroyed.
class VstInstance {
public:
    explicit VstInstance(const VstModule& module);
    ~VstInstance();
    VstInstance(const VstInstance&) = delete;
    VstInstance& operator=(const VstInstance&) = delete;

    AEffect* Record() const { return effect_; }
    VstIntPtr Dispatch(std::int32_t opcode, std::int32_t index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) const;
    // Opens the instance and announces the rate and block size, then resumes it.
    void Start(float sampleRate, std::int32_t blockSize) const;
    void Stop() const;

    int NumParams() const { return effect_->numParams; }
    std::string ParameterName(int index) const { return Text(effNames, index); }
    std::string ParameterLabel(int index) const { return Text(effLabels, index); }
    std::string ParameterDisplay(int index) const { return Text(effDisplays, index); }
    float GetParameter(int index) const { return effect_->getParameter(effect_, index); }
    void SetParameter(int index, float value) const {
        effect_->setParameter(effect_, index, value);
    }
    // A parameter by its name (case and surrounding blanks ignored) or its index; -1 if none.
    int FindParameter(const std::string& nameOrIndex) const;

    // Runs frames through processReplacing (or process, which adds to the outputs).
    void Process(float** inputs, float** outputs, std::int32_t frames, bool accumulate) const;

private:
    static constexpr std::int32_t effNames = 8, effLabels = 6, effDisplays = 7;
    std::string Text(std::int32_t opcode, int index) const;
    AEffect* effect_;
};

// Where the tone control's module is when no other is named: $VURNEL_PLUGIN, else the build's.
std::string DefaultModulePath();

} // namespace vurnel::host
