#include "VstHost.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vurnel::host {
namespace {

// The host side of the callback: a VST 2.4 host's version, nothing else.
VstIntPtr VURNEL_VSTCALL HostCallback(AEffect* /*effect*/, std::int32_t opcode,
                                      std::int32_t /*index*/, VstIntPtr /*value*/, void* /*ptr*/,
                                      float /*opt*/) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

std::string Trim(const std::string& s) {
    const auto begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    const auto end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

} // namespace

VstModule::VstModule(const std::string& path) : path_(path) {
    // A bare file name means the file here, not a search of the library path.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        throw HostError("cannot load module " + path + ": " + (why ? why : "unknown error"));
    }
    for (const char* name : {"VSTPluginMain", "main"}) {
        if (void* symbol = dlsym(handle_, name)) {
            entry_ = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(symbol);
            break;
        }
    }
    if (!entry_) {
        dlclose(handle_);
        throw HostError(path +
                        " is not a VST 2 plug-in: it exports neither VSTPluginMain nor main");
    }
}

VstModule::~VstModule() {
    if (handle_) dlclose(handle_);
}

AEffect* VstModule::CreateEffect() const {
    AEffect* effect = entry_(HostCallback);
    if (!effect) throw HostError(path_ + ": the plug-in's main returned no effect");
    if (effect->magic != kEffectMagic)
        throw HostError(path_ + " is not a VST 2 plug-in: its record has no 'VstP' magic");
    return effect;
}

VstInstance::VstInstance(const VstModule& module) : effect_(module.CreateEffect()) {}

VstInstance::~VstInstance() {
    Dispatch(effClose);
}

VstIntPtr VstInstance::Dispatch(std::int32_t opcode, std::int32_t index, VstIntPtr value, void* ptr,
                                float opt) const {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

void VstInstance::Start(float sampleRate, std::int32_t blockSize) const {
    Dispatch(effOpen);
    Dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
    Dispatch(effSetBlockSize, 0, blockSize);
    Dispatch(effMainsChanged, 0, 1);
}

void VstInstance::Stop() const {
    Dispatch(effMainsChanged, 0, 0);
}

std::string VstInstance::Text(std::int32_t opcode, int index) const {
    char text[256] = {}; // far more than the 8 or 24 bytes plug-ins are allowed to write
    Dispatch(opcode, index, 0, text);
    text[sizeof text - 1] = '\0';
    return text;
}

int VstInstance::FindParameter(const std::string& nameOrIndex) const {
    const std::string wanted = Lower(Trim(nameOrIndex));
    for (int i = 0; i < NumParams(); ++i)
        if (Lower(Trim(ParameterName(i))) == wanted) return i;
    char* end = nullptr;
    const long index = std::strtol(wanted.c_str(), &end, 10);
    if (!wanted.empty() && *end == '\0' && index >= 0 && index < NumParams())
        return static_cast<int>(index);
    return -1;
}

void VstInstance::Process(float** inputs, float** outputs, std::int32_t frames,
                          bool accumulate) const {
    if (accumulate)
        effect_->process(effect_, inputs, outputs, frames);
    else
        effect_->processReplacing(effect_, inputs, outputs, frames);
}

std::string DefaultModulePath() {
    if (const char* path = std::getenv("VURNEL_PLUGIN"); path && *path) return path;
    // Run from the build tree: the module built beside it. Installed: the module installed with
    // it (<prefix>/lib/vst beside <prefix>/bin), then the usual system and user folders.
    std::vector<std::string> candidates;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string exe = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : "";
    const std::string built = VURNEL_DEFAULT_MODULE;
    const std::string buildTree = VURNEL_BUILD_DIR;
    if (!exe.empty() && exe.rfind(buildTree + "/", 0) == 0) return built;
    const auto slash = exe.find_last_of('/');
    if (slash != std::string::npos) {
        const std::string bin = exe.substr(0, slash);
        const auto up = bin.find_last_of('/');
        if (up != std::string::npos)
            candidates.push_back(bin.substr(0, up) + "/lib/vst/MIRVAK_Vurnel.so");
    }
    candidates.push_back("/usr/lib/vst/MIRVAK_Vurnel.so");
    candidates.push_back("/usr/local/lib/vst/MIRVAK_Vurnel.so");
    if (const char* home = std::getenv("HOME"); home && *home)
        candidates.push_back(std::string(home) + "/.vst/MIRVAK_Vurnel.so");
    for (const std::string& path : candidates)
        if (access(path.c_str(), R_OK) == 0) return path;
    return candidates.front();
}

} // namespace vurnel::host
