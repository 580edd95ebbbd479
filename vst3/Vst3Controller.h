// The edit-controller half of the tone control's VST 3 plug-in object: the parameters a host
// shows and automates, their texts, and the one set of parameter values the object keeps (what
// the host set last, from either half; the processor's state saves it), and the editor view
// (Vst3View, on Linux where the editor is built; elsewhere createView gives none and hosts show
// their own controls). FUnknown and IPluginBase are the object's (Vst3Processor).
#pragma once

#include <atomic>
#include <cstdint>

#include "Vst3Interface.h"
#include "Vst3Parameters.h"

namespace vurnel::vst3 {

class Vst3View;

class Vst3Controller : public IEditController {
public:
    // Any thread.
    Vst3Controller();

    // The UI thread; no allocation. setComponentState takes the processor's state into the
    // values; setState and getState are the controller's own (a version, nothing else yet).
    tresult VURNEL_VST3_API setComponentState(IBStream* state) override;
    tresult VURNEL_VST3_API setState(IBStream* state) final;
    tresult VURNEL_VST3_API getState(IBStream* state) final;
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
    // The editor view for "editor" where the editor is built (Linux), else null. The host owns
    // the view it gets; the controller shows parameter changes and loaded states in the newest.
    IPlugView* VURNEL_VST3_API createView(FIDString name) override;

    // From the editor view, on the UI thread: a gesture's begin, value and end for the host's
    // component handler (the value is also the controller's own at once). No allocation.
    enum ViewEdit { kBeginEdit, kPerformEdit, kEndEdit };
    void EditFromView(ViewEdit what, ParamID id, double normalized);
    // The view is going: no more updates to it.
    void ViewGone(Vst3View* view) noexcept;

protected:
    ~Vst3Controller();
    // Drops the handler (terminate).
    void ForgetHandler() noexcept { setComponentHandler(nullptr); }

    // Every parameter's normalized value, as the host last set it through either half or
    // through a state: written by the UI thread and the audio thread, read by both.
    std::atomic<double> values[kParameterCount];

private:
    void ShowInView(ParamID id);

    IComponentHandler* handler = nullptr;
    Vst3View* view = nullptr; // not owned: the host's
};

} // namespace vurnel::vst3
