// The editor as an LV2 UI (ui:X11UI): the one function a host finds in the module
// (lv2ui_descriptor) and a thin face over the editor's window (inside the host's parent, or a
// top-level window for hosts using ui:showInterface): the host's options, port events and port
// writes. It does nothing between events: the host's idle calls only drain the connection. No
// C++ exception leaves here.

#include <X11/Xlib.h>
#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "ToneEditorModel.h"
#include "ToneEditorWindow.h"

using vurnel::ToneEditorModel;

namespace {

constexpr std::uint32_t kFirstControlPort = 4;

struct Features {
    Window parent = 0;
    const LV2UI_Resize* resize = nullptr;
    double scale = 1.0;
    double sampleRate = 48000.0;
};

Features ReadFeatures(const LV2_Feature* const* features) {
    Features f;
    const LV2_URID_Map* map = nullptr;
    const LV2_Options_Option* options = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        const char* uri = features[i]->URI;
        void* data = features[i]->data;
        if (std::strcmp(uri, LV2_UI__parent) == 0)
            f.parent = static_cast<Window>(reinterpret_cast<std::uintptr_t>(data));
        else if (std::strcmp(uri, LV2_UI__resize) == 0)
            f.resize = static_cast<const LV2UI_Resize*>(data);
        else if (std::strcmp(uri, LV2_URID__map) == 0)
            map = static_cast<const LV2_URID_Map*>(data);
        else if (std::strcmp(uri, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option*>(data);
    }
    if (map == nullptr || options == nullptr) return f;
    const LV2_URID scaleKey = map->map(map->handle, LV2_UI__scaleFactor);
    const LV2_URID rateKey = map->map(map->handle, LV2_PARAMETERS__sampleRate);
    const LV2_URID floatType = map->map(map->handle, LV2_ATOM__Float);
    const LV2_URID doubleType = map->map(map->handle, LV2_ATOM__Double);
    for (const LV2_Options_Option* o = options; o->key != 0 || o->value != nullptr; ++o) {
        double value = 0;
        if (o->value == nullptr) continue;
        if (o->type == floatType && o->size == sizeof(float))
            value = *static_cast<const float*>(o->value);
        else if (o->type == doubleType && o->size == sizeof(double))
            value = *static_cast<const double*>(o->value);
        else
            continue;
        if (!std::isfinite(value)) continue;
        if (o->key == scaleKey) f.scale = std::clamp(value, 0.5, 4.0);
        if (o->key == rateKey && value >= 1000.0 && value <= 1.0e7) f.sampleRate = value;
    }
    return f;
}

// The LV2 face of the editor: values come in as port events and go out as port writes (an
// LV2 port write carries no gesture, so the begin and end of one are not passed on).
class VurnelUi final : public vurnel::ToneEditorListener {
public:
    VurnelUi(const Features& f, LV2UI_Write_Function writeFunction, LV2UI_Controller hostController)
        : window(Options(f), this), write(writeFunction), controller(hostController) {
        if (window.Open() && f.resize != nullptr)
            f.resize->ui_resize(f.resize->handle, window.Width(), window.Height());
    }

    bool Open() const { return window.Open(); }
    Window Widget() const { return window.Id(); }
    void PortEvent(std::uint32_t port, std::uint32_t size, std::uint32_t format, const void* data) {
        if (format != 0 || size != sizeof(float) || data == nullptr) return;
        if (port < kFirstControlPort || port >= kFirstControlPort + ToneEditorModel::kControls)
            return;
        float value;
        std::memcpy(&value, data, sizeof value);
        window.SetValue(static_cast<int>(port - kFirstControlPort), value);
    }
    int Idle() { return window.HandleEvents() ? 0 : 1; }
    int Show() {
        window.Show();
        return 0;
    }
    int Hide() {
        window.Hide();
        return 0;
    }
    int Resize(int width, int height) { return window.Resize(width, height) ? 0 : 1; }

    void BeginEdit(int /*control*/) override {}
    void Edit(int control, float value) override {
        if (write == nullptr) return;
        write(controller, kFirstControlPort + static_cast<std::uint32_t>(control), sizeof value, 0,
              &value);
    }
    void EndEdit(int /*control*/) override {}

private:
    static vurnel::ToneEditorOptions Options(const Features& f) {
        vurnel::ToneEditorOptions o;
        o.parent = f.parent;
        o.scale = f.scale;
        o.sampleRate = f.sampleRate;
        return o;
    }

    vurnel::ToneEditorWindow window;
    LV2UI_Write_Function write;
    LV2UI_Controller controller;
};

VurnelUi* Self(LV2UI_Handle handle) {
    return static_cast<VurnelUi*>(handle);
}

// The host's UI thread; allocates the editor and opens its own X connection. Null when that
// fails (no display, no memory).
LV2UI_Handle Instantiate(const LV2UI_Descriptor* /*descriptor*/, const char* pluginUri,
                         const char* /*bundlePath*/, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget,
                         const LV2_Feature* const* features) {
    try {
        if (pluginUri == nullptr || std::strcmp(pluginUri, VURNEL_LV2_URI) != 0) return nullptr;
        auto ui = std::make_unique<VurnelUi>(ReadFeatures(features), write, controller);
        if (!ui->Open()) return nullptr;
        if (widget != nullptr)
            *widget = reinterpret_cast<LV2UI_Widget>(static_cast<std::uintptr_t>(ui->Widget()));
        return ui.release();
    } catch (...) {
        return nullptr;
    }
}

// The host's UI thread; frees the editor, its window and its connection.
void Cleanup(LV2UI_Handle handle) {
    delete Self(handle);
}

// The host's UI thread; may allocate (cairo's drawing). Draws the change at once.
void PortEvent(LV2UI_Handle handle, std::uint32_t port, std::uint32_t size, std::uint32_t format,
               const void* buffer) {
    try {
        Self(handle)->PortEvent(port, size, format, buffer);
    } catch (...) {
    }
}

// The host's UI thread; handles the X events that have arrived and returns at once.
int Idle(LV2UI_Handle handle) {
    try {
        return Self(handle)->Idle();
    } catch (...) {
        return 1;
    }
}

// The host's UI thread; maps or unmaps the editor's window.
int Show(LV2UI_Handle handle) {
    return Self(handle)->Show();
}
int Hide(LV2UI_Handle handle) {
    return Self(handle)->Hide();
}

// The host's UI thread; the host's new size for the editor, which lays itself out anew.
int HostResize(LV2UI_Feature_Handle handle, int width, int height) {
    try {
        return Self(handle)->Resize(width, height);
    } catch (...) {
        return 1;
    }
}

const LV2UI_Idle_Interface kIdle = {Idle};
const LV2UI_Show_Interface kShow = {Show, Hide};
const LV2UI_Resize kResize = {nullptr, HostResize};

// Any thread; no allocation.
const void* ExtensionData(const char* uri) {
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0) return &kIdle;
    if (std::strcmp(uri, LV2_UI__showInterface) == 0) return &kShow;
    if (std::strcmp(uri, LV2_UI__resize) == 0) return &kResize;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor = {VURNEL_LV2_URI "#ui", Instantiate, Cleanup, PortEvent,
                                      ExtensionData};

} // namespace

// Any host thread; no allocation. The bundle holds one editor, index 0.
extern "C" __attribute__((visibility("default"))) const LV2UI_Descriptor*
lv2ui_descriptor(std::uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
