// The tone control's VST 3 editor view on Linux: a thin face over the one editor window
// (editor/ToneEditorWindow), a child of the host's window from attached to removed. It runs on
// the host's run loop: the X connection's descriptor is registered with the host's IRunLoop, and
// a timer only while Xlib holds events the socket no longer announces (read in during a call
// that did not come from the run loop); nothing wakes while nothing happens. Edits go to the
// host as beginEdit/performEdit/endEdit through the controller's component handler; the
// controller shows the host's automation and loaded states in the view at once.
// Every method: the host's UI thread; they allocate (the window, cairo); no exception leaves.
#pragma once

#include <atomic>
#include <memory>

#include "ToneEditorWindow.h"
#include "Vst3Interface.h"

namespace vurnel::vst3 {

class Vst3Controller;

class Vst3View final : public IPlugView,
                       public IPlugViewContentScaleSupport,
                       public IEventHandler,
                       public ITimerHandler,
                       public ToneEditorListener {
public:
    // Keeps a reference on the controller until the view goes. The reference count starts at 1.
    explicit Vst3View(Vst3Controller& controller);

    tresult VURNEL_VST3_API queryInterface(const TUID iid, void** obj) override;
    uint32 VURNEL_VST3_API addRef() override;
    uint32 VURNEL_VST3_API release() override;

    tresult VURNEL_VST3_API isPlatformTypeSupported(FIDString type) override;
    // Creates the window as a child of parent (an X window ID) and registers with the run loop
    // the frame answers; false without a run loop (nothing would ever handle the window).
    tresult VURNEL_VST3_API attached(void* parent, FIDString type) override;
    // Unregisters everything, then destroys the window and closes the connection.
    tresult VURNEL_VST3_API removed() override;
    tresult VURNEL_VST3_API onWheel(float distance) override;
    tresult VURNEL_VST3_API onKeyDown(char16 key, int16 keyCode, int16 modifiers) override;
    tresult VURNEL_VST3_API onKeyUp(char16 key, int16 keyCode, int16 modifiers) override;
    tresult VURNEL_VST3_API getSize(ViewRect* size) override;
    tresult VURNEL_VST3_API onSize(ViewRect* newSize) override;
    tresult VURNEL_VST3_API onFocus(TBool state) override;
    tresult VURNEL_VST3_API setFrame(IPlugFrame* frame) override;
    tresult VURNEL_VST3_API canResize() override;
    // Any size from half the editor's size at scale 1 (times the content scale) upwards.
    tresult VURNEL_VST3_API checkSizeConstraint(ViewRect* rect) override;
    tresult VURNEL_VST3_API setContentScaleFactor(float factor) override;
    void VURNEL_VST3_API onFDIsSet(FileDescriptor fd) override;
    void VURNEL_VST3_API onTimer() override;

    // From the controller: a parameter's new normalized value (automation, a loaded state).
    void ShowParameter(ParamID id, double normalized);

private:
    ~Vst3View();
    void BeginEdit(int control) override;
    void Edit(int control, float value) override;
    void EndEdit(int control) override;
    void Unregister();
    // After a call that talked to the X server outside the run loop's callbacks: if Xlib read
    // events into its queue, the socket will not announce them, so a timer takes them.
    void WatchQueue();
    void MinimumSize(int32& width, int32& height) const;

    std::atomic<uint32> references{1};
    Vst3Controller& controller;
    IPlugFrame* frame = nullptr;
    IRunLoop* runLoop = nullptr;
    bool handlerRegistered = false;
    bool timerRegistered = false;
    double scale = 1.0;
    ViewRect size;
    std::unique_ptr<ToneEditorWindow> window;
};

} // namespace vurnel::vst3
