// The tone control's VST 3 edit controller: the parameters a host shows and automates, their
// texts, and the controller's copy of the values (from the host, or from the processor's state).
// No editor yet: createView gives none, so hosts show their own controls.
#pragma once

#include <atomic>
#include <cstdint>

#include "Vst3Interface.h"
#include "Vst3Parameters.h"

namespace vurnel::vst3 {

class Vst3Controller final : public IEditController {
public:
    // Any thread; the reference count starts at 1.
    Vst3Controller();

    // FUnknown: any thread; no allocation. The last release deletes the object.
    tresult VURNEL_VST3_API queryInterface(const TUID iid, void** obj) override;
    uint32 VURNEL_VST3_API addRef() override;
    uint32 VURNEL_VST3_API release() override;

    // Everything else: the UI thread; no allocation.
    tresult VURNEL_VST3_API initialize(FUnknown* context) override;
    tresult VURNEL_VST3_API terminate() override;
    tresult VURNEL_VST3_API setComponentState(IBStream* state) override;
    tresult VURNEL_VST3_API setState(IBStream* state) override;
    tresult VURNEL_VST3_API getState(IBStream* state) override;
    int32 VURNEL_VST3_API getParameterCount() override;
    tresult VURNEL_VST3_API getParameterInfo(int32 paramIndex, ParameterInfo& info) override;
    tresult VURNEL_VST3_API getParamStringByValue(ParamID id, ParamValue valueNormalized,
                                                  String128 string) override;
    tresult VURNEL_VST3_API getParamValueByString(ParamID id, TChar* string,
                                                  ParamValue& valueNormalized) override;
    ParamValue VURNEL_VST3_API normalizedParamToPlain(ParamID id,
                                                      ParamValue valueNormalized) override;
    ParamValue VURNEL_VST3_API plainParamToNormalized(ParamID id, ParamValue plainValue) override;
    ParamValue VURNEL_VST3_API getParamNormalized(ParamID id) override;
    tresult VURNEL_VST3_API setParamNormalized(ParamID id, ParamValue value) override;
    // Keeps a reference on the handler until another one (or null) is set, or terminate.
    tresult VURNEL_VST3_API setComponentHandler(IComponentHandler* handler) override;
    // Null: no editor of its own yet.
    IPlugView* VURNEL_VST3_API createView(FIDString name) override;

private:
    ~Vst3Controller();

    std::atomic<std::uint32_t> references{1};
    int initialized = 0;
    IComponentHandler* handler = nullptr;
    double values[kParameterCount];
};

} // namespace vurnel::vst3
