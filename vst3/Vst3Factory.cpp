#include "Vst3Factory.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>

#include "Vst3Processor.h"

#ifndef VURNEL_VERSION
#define VURNEL_VERSION "1.0.0"
#endif

namespace vurnel::vst3 {

namespace {

constexpr const char kVendor[] = "MIRVAK";
constexpr const char kUrl[] = "";
constexpr const char kEmail[] = "";
constexpr const char kSdkVersion[] = "VST 3.7.14";

struct ClassDescription {
    const Uid* cid;
    const char* category;
    const char* name;
    std::uint32_t flags;
    const char* subCategories;
};
const ClassDescription kClasses[] = {
    {&kProcessorCid, kAudioEffectClass, "MIRVAK_Vurnel", kDistributable, "Fx|EQ"},
};
constexpr int kClassCount = 1;

template <std::size_t N> void CopyText(char (&to)[N], const char* from) {
    std::snprintf(to, N, "%s", from);
}
template <std::size_t N> void CopyText(char16_t (&to)[N], const char* from) {
    std::size_t i = 0;
    for (; i + 1 < N && from[i] != '\0'; ++i)
        to[i] = static_cast<char16_t>(static_cast<unsigned char>(from[i]));
    to[i] = 0;
}

// One class's description into any of the three records: the fields a record has, the rest zero.
template <typename Info> tresult Describe(int32 index, Info* info) {
    if (info == nullptr || index < 0 || index >= kClassCount) return kInvalidArgument;
    const ClassDescription& c = kClasses[index];
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->cid, c.cid->bytes, 16);
    info->cardinality = kManyInstances;
    CopyText(info->category, c.category);
    CopyText(info->name, c.name);
    if constexpr (!std::is_same_v<Info, PClassInfo>) {
        info->classFlags = c.flags;
        CopyText(info->subCategories, c.subCategories);
        CopyText(info->vendor, kVendor);
        CopyText(info->version, VURNEL_VERSION);
        CopyText(info->sdkVersion, kSdkVersion);
    }
    return kResultOk;
}

class Vst3Factory final : public IPluginFactory3 {
public:
    // Any thread; no allocation. A static object: counting references does nothing.
    tresult VURNEL_VST3_API queryInterface(const TUID iid, void** obj) override {
        if (obj == nullptr) return kInvalidArgument;
        if (SameUid(iid, kFUnknownIid) || SameUid(iid, kIPluginFactoryIid) ||
            SameUid(iid, kIPluginFactory2Iid) || SameUid(iid, kIPluginFactory3Iid)) {
            *obj = static_cast<IPluginFactory3*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 VURNEL_VST3_API addRef() override { return 1; }
    uint32 VURNEL_VST3_API release() override { return 1; }

    // Any thread; no allocation.
    tresult VURNEL_VST3_API getFactoryInfo(PFactoryInfo* info) override {
        if (info == nullptr) return kInvalidArgument;
        std::memset(info, 0, sizeof *info);
        CopyText(info->vendor, kVendor);
        CopyText(info->url, kUrl);
        CopyText(info->email, kEmail);
        info->flags = kUnicode;
        return kResultOk;
    }
    int32 VURNEL_VST3_API countClasses() override { return kClassCount; }
    tresult VURNEL_VST3_API getClassInfo(int32 index, PClassInfo* info) override {
        return Describe(index, info);
    }
    tresult VURNEL_VST3_API getClassInfo2(int32 index, PClassInfo2* info) override {
        return Describe(index, info);
    }
    tresult VURNEL_VST3_API getClassInfoUnicode(int32 index, PClassInfoW* info) override {
        return Describe(index, info);
    }
    tresult VURNEL_VST3_API setHostContext(FUnknown* /*context*/) override { return kResultOk; }

    // Any thread; allocates the new object. Unknown classes and interfaces are refused.
    tresult VURNEL_VST3_API createInstance(FIDString cid, FIDString iid, void** obj) override {
        if (obj == nullptr) return kInvalidArgument;
        *obj = nullptr;
        if (iid == nullptr) return kInvalidArgument;
        FUnknown* made = nullptr;
        try {
            if (!SameUid(cid, kProcessorCid)) return kInvalidArgument;
            made = static_cast<IComponent*>(new Vst3Processor());
        } catch (...) {
            return kOutOfMemory;
        }
        const tresult r = made->queryInterface(iid, obj);
        made->release(); // the reference queryInterface took stays with the caller
        return r == kResultOk ? kResultOk : kNoInterface;
    }
};

Vst3Factory factory;

} // namespace

IPluginFactory3* Factory() noexcept {
    return &factory;
}

} // namespace vurnel::vst3
