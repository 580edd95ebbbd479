#include "Vst3Controller.h"

#include <cmath>

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
    return kResultOk;
}

tresult Vst3Controller::setComponentHandler(IComponentHandler* newHandler) {
    if (newHandler == handler) return kResultOk;
    if (newHandler != nullptr) newHandler->addRef();
    if (handler != nullptr) handler->release();
    handler = newHandler;
    return kResultOk;
}

IPlugView* Vst3Controller::createView(FIDString /*name*/) {
    return nullptr;
}

} // namespace vurnel::vst3
