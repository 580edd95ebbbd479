#include "Vst3Controller.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#if VURNEL_VST3_EDITOR
#include "Vst3View.h"
#endif

namespace vurnel::vst3 {

Vst3Controller::Vst3Controller() {
    for (int i = 0; i < kParameterCount; ++i)
        values[i].store(DefaultNormalized(static_cast<ParamID>(i)), std::memory_order_relaxed);
}

Vst3Controller::~Vst3Controller() {
    if (handler != nullptr) handler->release();
}

tresult Vst3Controller::setComponentState(IBStream* state) {
    double loaded[kParameterCount];
    if (!ReadProcessorState(state, loaded)) return kResultFalse;
    for (int i = 0; i < kParameterCount; ++i)
        values[i].store(loaded[i], std::memory_order_relaxed);
    for (int i = 0; i < kParameterCount; ++i)
        ShowInView(static_cast<ParamID>(i));
    return kResultOk;
}

tresult Vst3Controller::setState(IBStream* state) {
    return ReadControllerState(state) ? kResultOk : kResultFalse;
}

tresult Vst3Controller::getState(IBStream* state) {
    return WriteControllerState(state) ? kResultOk : kResultFalse;
}

int32 Vst3Controller::getParameterCount() {
    return kParameterCount;
}

tresult Vst3Controller::getParameterInfo(int32 paramIndex, ParameterInfo& info) {
    return DescribeParameter(paramIndex, info) ? kResultOk : kInvalidArgument;
}

tresult Vst3Controller::getParamStringByValue(ParamID id, ParamValue valueNormalized,
                                              String128 string) {
    if (!IsParameter(id) || string == nullptr) return kInvalidArgument;
    ParameterText(id, valueNormalized, string);
    return kResultOk;
}

tresult Vst3Controller::getParamValueByString(ParamID id, TChar* string,
                                              ParamValue& valueNormalized) {
    if (!IsParameter(id)) return kInvalidArgument;
    return ParseParameterText(id, string, valueNormalized) ? kResultOk : kResultFalse;
}

ParamValue Vst3Controller::normalizedParamToPlain(ParamID id, ParamValue valueNormalized) {
    return ToPlain(id, valueNormalized);
}

ParamValue Vst3Controller::plainParamToNormalized(ParamID id, ParamValue plainValue) {
    return ToNormalized(id, plainValue);
}

ParamValue Vst3Controller::getParamNormalized(ParamID id) {
    return IsParameter(id) ? values[id].load(std::memory_order_relaxed) : 0.0;
}

tresult Vst3Controller::setParamNormalized(ParamID id, ParamValue value) {
    if (!IsParameter(id) || std::isnan(value)) return kInvalidArgument;
    values[id].store(value < 0.0 ? 0.0 : value > 1.0 ? 1.0 : value, std::memory_order_relaxed);
    ShowInView(id);
    return kResultOk;
}

tresult Vst3Controller::setComponentHandler(IComponentHandler* newHandler) {
    if (newHandler == handler) return kResultOk;
    if (newHandler != nullptr) newHandler->addRef();
    if (handler != nullptr) handler->release();
    handler = newHandler;
    return kResultOk;
}

IPlugView* Vst3Controller::createView(FIDString name) {
#if VURNEL_VST3_EDITOR
    if (name == nullptr || std::strcmp(name, kEditorViewName) != 0) return nullptr;
    auto* created = new (std::nothrow) Vst3View(*this);
    if (created != nullptr) view = created;
    return created;
#else
    (void)name;
    return nullptr;
#endif
}

void Vst3Controller::ShowInView([[maybe_unused]] ParamID id) {
#if VURNEL_VST3_EDITOR
    if (view != nullptr) view->ShowParameter(id, values[id].load(std::memory_order_relaxed));
#endif
}

void Vst3Controller::EditFromView(ViewEdit what, ParamID id, double normalized) {
    if (!IsParameter(id)) return;
    if (what == kPerformEdit)
        values[id].store(std::clamp(normalized, 0.0, 1.0), std::memory_order_relaxed);
    if (handler == nullptr) return;
    switch (what) {
    case kBeginEdit:
        handler->beginEdit(id);
        break;
    case kPerformEdit:
        handler->performEdit(id, values[id].load(std::memory_order_relaxed));
        break;
    case kEndEdit:
        handler->endEdit(id);
        break;
    }
}

void Vst3Controller::ViewGone(Vst3View* gone) noexcept {
    if (view == gone) view = nullptr;
}

} // namespace vurnel::vst3
