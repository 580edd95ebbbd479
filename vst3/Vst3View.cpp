#include "Vst3View.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "ToneControls.h"
#include "Vst3Controller.h"
#include "Vst3Parameters.h"

namespace vurnel::vst3 {

namespace {

// How soon events Xlib already holds are handled: a frame's time.
constexpr TimerInterval kQueuedEventsMs = 10;

int32 Scaled(int base, double scale) {
    return static_cast<int32>(std::lround(base * scale));
}

} // namespace

Vst3View::Vst3View(Vst3Controller& owner) : controller(owner) {
    controller.addRef();
    size.right = ToneEditorModel::kBaseWidth;
    size.bottom = ToneEditorModel::kBaseHeight;
}

Vst3View::~Vst3View() {
    removed(); // a host that released the view without removing it
    controller.ViewGone(this);
    controller.release();
}

tresult Vst3View::queryInterface(const TUID iid, void** obj) {
    if (obj == nullptr) return kInvalidArgument;
    if (SameUid(iid, kFUnknownIid) || SameUid(iid, kIPlugViewIid))
        *obj = static_cast<IPlugView*>(this);
    else if (SameUid(iid, kIPlugViewContentScaleSupportIid))
        *obj = static_cast<IPlugViewContentScaleSupport*>(this);
    else if (SameUid(iid, kIEventHandlerIid))
        *obj = static_cast<IEventHandler*>(this);
    else if (SameUid(iid, kITimerHandlerIid))
        *obj = static_cast<ITimerHandler*>(this);
    else {
        *obj = nullptr;
        return kNoInterface;
    }
    addRef();
    return kResultOk;
}

uint32 Vst3View::addRef() {
    return references.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32 Vst3View::release() {
    const uint32 left = references.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

tresult Vst3View::isPlatformTypeSupported(FIDString type) {
    return type != nullptr && std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0 ? kResultTrue
                                                                                    : kResultFalse;
}

tresult Vst3View::attached(void* parent, FIDString type) {
    if (parent == nullptr || isPlatformTypeSupported(type) != kResultTrue) return kResultFalse;
    if (window != nullptr) return kResultFalse; // attached twice without removed
    try {
        if (frame == nullptr) return kResultFalse;
        void* obj = nullptr;
        if (frame->queryInterface(kIRunLoopIid.bytes, &obj) != kResultOk || obj == nullptr)
            return kResultFalse;
        runLoop = static_cast<IRunLoop*>(obj);
        ToneEditorOptions options;
        options.parent = static_cast<XWindowId>(reinterpret_cast<std::uintptr_t>(parent));
        options.scale = scale;
        window = std::make_unique<ToneEditorWindow>(options, this);
        if (!window->Open()) {
            removed();
            return kResultFalse;
        }
        for (int c = 0; c < kToneParameterControls; ++c) {
            const auto id = static_cast<ParamID>(c);
            window->SetValue(c, static_cast<float>(ToPlain(id, controller.getParamNormalized(id))));
        }
        // The size the host gave (onSize before attached), else the editor's own.
        const int32 width = size.right - size.left, height = size.bottom - size.top;
        if (width != window->Width() || height != window->Height()) window->Resize(width, height);
        if (runLoop->registerEventHandler(this, window->Descriptor()) != kResultOk) {
            removed();
            return kResultFalse;
        }
        handlerRegistered = true;
        WatchQueue();
        return kResultOk;
    } catch (...) {
        removed();
        return kResultFalse;
    }
}

void Vst3View::Unregister() {
    if (runLoop == nullptr) return;
    if (timerRegistered) runLoop->unregisterTimer(this);
    if (handlerRegistered) runLoop->unregisterEventHandler(this);
    timerRegistered = handlerRegistered = false;
}

tresult Vst3View::removed() {
    Unregister();
    window.reset();
    if (runLoop != nullptr) runLoop->release();
    runLoop = nullptr;
    return kResultOk;
}

tresult Vst3View::onWheel(float /*distance*/) {
    return kResultFalse; // the window takes its own wheel events
}

tresult Vst3View::onKeyDown(char16 /*key*/, int16 /*keyCode*/, int16 /*modifiers*/) {
    return kResultFalse; // and its own keys, while it has the focus
}

tresult Vst3View::onKeyUp(char16 /*key*/, int16 /*keyCode*/, int16 /*modifiers*/) {
    return kResultFalse;
}

tresult Vst3View::getSize(ViewRect* rect) {
    if (rect == nullptr) return kInvalidArgument;
    *rect = size;
    return kResultOk;
}

tresult Vst3View::onSize(ViewRect* rect) {
    if (rect == nullptr) return kInvalidArgument;
    ViewRect fitted = *rect;
    checkSizeConstraint(&fitted);
    size = fitted;
    if (window != nullptr) {
        try {
            window->Resize(size.right - size.left, size.bottom - size.top);
            WatchQueue();
        } catch (...) {
            return kResultFalse;
        }
    }
    return kResultOk;
}

tresult Vst3View::onFocus(TBool /*state*/) {
    return kResultOk;
}

tresult Vst3View::setFrame(IPlugFrame* newFrame) {
    frame = newFrame; // the host's; kept until setFrame(null) or the view goes
    return kResultOk;
}

tresult Vst3View::canResize() {
    return kResultTrue;
}

void Vst3View::MinimumSize(int32& width, int32& height) const {
    width = Scaled(ToneEditorModel::kBaseWidth / 2, scale);
    height = Scaled(ToneEditorModel::kBaseHeight / 2, scale);
}

tresult Vst3View::checkSizeConstraint(ViewRect* rect) {
    if (rect == nullptr) return kInvalidArgument;
    int32 minWidth, minHeight;
    MinimumSize(minWidth, minHeight);
    rect->right = rect->left + std::clamp(rect->right - rect->left, minWidth, 8192);
    rect->bottom = rect->top + std::clamp(rect->bottom - rect->top, minHeight, 8192);
    return kResultTrue;
}

tresult Vst3View::setContentScaleFactor(float factor) {
    if (!std::isfinite(factor) || factor <= 0.0f) return kInvalidArgument;
    const double wanted = std::clamp(static_cast<double>(factor), 1.0, 4.0);
    if (wanted == scale) return kResultOk;
    // The size grows with the scale, from whatever size the host gave.
    const double ratio = wanted / scale;
    scale = wanted;
    ViewRect rect;
    rect.right = static_cast<int32>(std::lround((size.right - size.left) * ratio));
    rect.bottom = static_cast<int32>(std::lround((size.bottom - size.top) * ratio));
    checkSizeConstraint(&rect);
    size = rect;
    try {
        if (window != nullptr) {
            window->SetScale(scale);
            window->Resize(size.right, size.bottom);
            WatchQueue();
        }
        // The host answers with onSize (at once or later), which keeps this size. Only while
        // attached: a frame kept past removed() may be gone.
        if (frame != nullptr && window != nullptr) frame->resizeView(this, &rect);
    } catch (...) {
        return kResultFalse;
    }
    return kResultOk;
}

void Vst3View::onFDIsSet(FileDescriptor /*fd*/) {
    try {
        if (window != nullptr) window->HandleEvents(); // reads until Xlib's queue is empty
    } catch (...) {
    }
}

void Vst3View::onTimer() {
    try {
        if (window != nullptr) window->HandleEvents();
        // Once drained, the socket announces whatever comes next: no timer while idle.
        if (timerRegistered && (window == nullptr || !window->EventsQueued())) {
            timerRegistered = false;
            runLoop->unregisterTimer(this);
        }
    } catch (...) {
    }
}

void Vst3View::WatchQueue() {
    if (window == nullptr || runLoop == nullptr || timerRegistered || !window->EventsQueued())
        return;
    timerRegistered = runLoop->registerTimer(this, kQueuedEventsMs) == kResultOk;
}

void Vst3View::ShowParameter(ParamID id, double normalized) {
    if (window == nullptr || id >= static_cast<ParamID>(kToneParameterControls)) return;
    try {
        window->SetValue(static_cast<int>(id), static_cast<float>(ToPlain(id, normalized)));
        WatchQueue();
    } catch (...) {
    }
}

void Vst3View::BeginEdit(int control) {
    controller.EditFromView(Vst3Controller::kBeginEdit, static_cast<ParamID>(control), 0.0);
}

void Vst3View::Edit(int control, float value) {
    const auto id = static_cast<ParamID>(control);
    controller.EditFromView(Vst3Controller::kPerformEdit, id, ToNormalized(id, value));
}

void Vst3View::EndEdit(int control) {
    controller.EditFromView(Vst3Controller::kEndEdit, static_cast<ParamID>(control), 0.0);
}

} // namespace vurnel::vst3
