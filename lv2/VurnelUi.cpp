// The editor as an LV2 UI (ui:X11UI): the one function a host finds in the module
// (lv2ui_descriptor), an Xlib window of its own connection inside the host's parent (or a
// top-level window for hosts using ui:showInterface), and the events that drive the model. The
// editor draws with cairo into an image of its own the size of its window and puts what changed
// on the screen; cairo keeps no state on the X connection (its Xlib backend would keep some for
// every connection ever closed). It does nothing between events: the host's idle calls only
// drain the connection. No C++ exception leaves here.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo.h>
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
#include <vector>

#include "ToneEditorModel.h"
#include "ToneEditorView.h"

using vurnel::EditorKey;
using vurnel::EditorRect;
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

class VurnelUi {
public:
    VurnelUi(const Features& f, LV2UI_Write_Function write, LV2UI_Controller controller);
    ~VurnelUi();
    VurnelUi(const VurnelUi&) = delete;
    VurnelUi& operator=(const VurnelUi&) = delete;

    bool Open() const { return display != nullptr && window != 0; }
    Window Widget() const { return window; }
    void PortEvent(std::uint32_t port, std::uint32_t size, std::uint32_t format, const void* data);
    int Idle();
    int Show();
    int Hide();
    int Resize(int width, int height);

private:
    void Handle(XEvent& e);
    void Configure(int width, int height);
    void Invalidate(const EditorRect& r);
    void InvalidateControls(unsigned changed);
    void WriteControls(unsigned changed);
    void Flush();
    void Put(int x, int y, int w, int h);
    void FreeFrame();

    ToneEditorModel model;
    LV2UI_Write_Function write;
    LV2UI_Controller controller;
    Display* display = nullptr;
    Window window = 0;
    bool topLevel = false;
    bool closed = false;
    Atom deleteWindow = 0;
    Visual* visual = nullptr;
    int depth = 0;
    GC gc = nullptr;
    cairo_surface_t* surface = nullptr; // the frame, in the client's memory
    XImage* image = nullptr;            // the same pixels, as Xlib puts them
    std::vector<EditorRect> dirty;
};

VurnelUi::VurnelUi(const Features& f, LV2UI_Write_Function writeFunction,
                   LV2UI_Controller hostController)
    : model(f.sampleRate), write(writeFunction), controller(hostController) {
    const int width = static_cast<int>(std::lround(ToneEditorModel::kBaseWidth * f.scale));
    const int height = static_cast<int>(std::lround(ToneEditorModel::kBaseHeight * f.scale));
    model.Layout(width, height, f.scale);
    display = XOpenDisplay(nullptr);
    if (display == nullptr) return;
    const int screen = DefaultScreen(display);
    topLevel = f.parent == 0;
    const Window parent = topLevel ? RootWindow(display, screen) : f.parent;
    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None; // the pixmap copy paints every pixel
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            KeyPressMask | StructureNotifyMask | FocusChangeMask;
    window = XCreateWindow(display, parent, 0, 0, static_cast<unsigned>(width),
                           static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                           CopyFromParent, CWBackPixmap | CWEventMask, &attributes);
    XWindowAttributes got{};
    XGetWindowAttributes(display, window, &got);
    visual = got.visual;
    depth = got.depth;
    gc = XCreateGC(display, window, 0, nullptr);
    if (topLevel) {
        XStoreName(display, window, "MIRVAK_Vurnel");
        deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display, window, &deleteWindow, 1);
    } else {
        XMapRaised(display, window);
    }
    Configure(width, height);
    if (f.resize != nullptr) f.resize->ui_resize(f.resize->handle, width, height);
    Flush();
}

VurnelUi::~VurnelUi() {
    if (display == nullptr) return;
    FreeFrame();
    if (gc != nullptr) XFreeGC(display, gc);
    if (window != 0) XDestroyWindow(display, window);
    XCloseDisplay(display);
}

void VurnelUi::FreeFrame() {
    if (image != nullptr) {
        image->data = nullptr; // cairo's memory
        XDestroyImage(image);
        image = nullptr;
    }
    if (surface != nullptr) cairo_surface_destroy(surface);
    surface = nullptr;
}

void VurnelUi::Put(int x, int y, int w, int h) {
    if (image == nullptr) return;
    x = std::max(x, 0);
    y = std::max(y, 0);
    w = std::min(w, image->width - x);
    h = std::min(h, image->height - y);
    if (w <= 0 || h <= 0) return;
    XPutImage(display, window, gc, image, x, y, x, y, static_cast<unsigned>(w),
              static_cast<unsigned>(h));
}

void VurnelUi::Configure(int width, int height) {
    if (surface != nullptr && width == model.Width() && height == model.Height()) return;
    width = std::max(width, 1);
    height = std::max(height, 1);
    FreeFrame();
    surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        FreeFrame();
        return;
    }
    // RGB24 is 32 bits a pixel, 0x00RRGGBB in the machine's byte order: the layout of a
    // 24-bit TrueColor visual's ZPixmap.
    image = XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0,
                         reinterpret_cast<char*>(cairo_image_surface_get_data(surface)),
                         static_cast<unsigned>(width), static_cast<unsigned>(height), 32,
                         cairo_image_surface_get_stride(surface));
    if (image == nullptr) {
        FreeFrame();
        return;
    }
    model.Layout(width, height, model.Scale());
    dirty.clear();
    Invalidate({0, 0, static_cast<double>(width), static_cast<double>(height)});
}

void VurnelUi::Invalidate(const EditorRect& r) {
    // Whole pixels, inside the window.
    const double x0 = std::max(0.0, std::floor(r.x)), y0 = std::max(0.0, std::floor(r.y));
    const double x1 = std::min<double>(model.Width(), std::ceil(r.x + r.w));
    const double y1 = std::min<double>(model.Height(), std::ceil(r.y + r.h));
    if (x1 <= x0 || y1 <= y0) return;
    dirty.push_back({x0, y0, x1 - x0, y1 - y0});
}

void VurnelUi::InvalidateControls(unsigned changed) {
    if (changed == 0) return;
    Invalidate(vurnel::GraphArea(model));
    for (int c = 0; c < ToneEditorModel::kControls; ++c)
        if (changed & (1u << c)) Invalidate(vurnel::TargetArea(model, ToneEditorModel::KnobOf(c)));
}

void VurnelUi::WriteControls(unsigned changed) {
    InvalidateControls(changed);
    if (write == nullptr) return;
    for (int c = 0; c < ToneEditorModel::kControls; ++c) {
        if ((changed & (1u << c)) == 0) continue;
        const float value = model.Value(c);
        write(controller, kFirstControlPort + static_cast<std::uint32_t>(c), sizeof value, 0,
              &value);
    }
}

void VurnelUi::Flush() {
    if (dirty.empty() || surface == nullptr) return;
    cairo_t* cr = cairo_create(surface);
    for (const EditorRect& r : dirty)
        vurnel::DrawToneEditor(cr, model, r);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    for (const EditorRect& r : dirty)
        Put(static_cast<int>(r.x), static_cast<int>(r.y), static_cast<int>(r.w),
            static_cast<int>(r.h));
    dirty.clear();
    // The frame is on the screen when the call that drew it returns.
    XSync(display, False);
}

void VurnelUi::PortEvent(std::uint32_t port, std::uint32_t size, std::uint32_t format,
                         const void* data) {
    if (format != 0 || size != sizeof(float) || data == nullptr) return;
    if (port < kFirstControlPort || port >= kFirstControlPort + ToneEditorModel::kControls) return;
    float value;
    std::memcpy(&value, data, sizeof value);
    const int c = static_cast<int>(port - kFirstControlPort);
    if (model.SetValue(c, value)) {
        InvalidateControls(1u << c);
        Flush();
    }
}

EditorKey* KeyOf(KeySym sym, EditorKey& key) {
    switch (sym) {
    case XK_Tab:
        key = EditorKey::kTab;
        break;
    case XK_ISO_Left_Tab:
        key = EditorKey::kBackTab;
        break;
    case XK_Up:
    case XK_KP_Up:
        key = EditorKey::kUp;
        break;
    case XK_Down:
    case XK_KP_Down:
        key = EditorKey::kDown;
        break;
    case XK_Left:
    case XK_KP_Left:
        key = EditorKey::kLeft;
        break;
    case XK_Right:
    case XK_KP_Right:
        key = EditorKey::kRight;
        break;
    case XK_Page_Up:
    case XK_KP_Page_Up:
        key = EditorKey::kPageUp;
        break;
    case XK_Page_Down:
    case XK_KP_Page_Down:
        key = EditorKey::kPageDown;
        break;
    case XK_Home:
    case XK_KP_Home:
        key = EditorKey::kHome;
        break;
    case XK_End:
    case XK_KP_End:
        key = EditorKey::kEnd;
        break;
    default:
        return nullptr;
    }
    return &key;
}

void VurnelUi::Handle(XEvent& e) {
    const int focusBefore = model.Focus();
    switch (e.type) {
    case Expose:
        // The image holds the frame; only what is still to be drawn waits for Flush.
        Put(e.xexpose.x, e.xexpose.y, e.xexpose.width, e.xexpose.height);
        break;
    case ConfigureNotify:
        if (e.xconfigure.window == window) Configure(e.xconfigure.width, e.xconfigure.height);
        break;
    case ButtonPress: {
        const bool shift = (e.xbutton.state & ShiftMask) != 0;
        const double x = e.xbutton.x, y = e.xbutton.y;
        if (e.xbutton.button == Button1) {
            XSetInputFocus(display, window, RevertToParent, CurrentTime);
            WriteControls(model.Press(x, y, e.xbutton.time, shift));
        } else if (e.xbutton.button == Button4 || e.xbutton.button == Button5) {
            WriteControls(model.Wheel(x, y, e.xbutton.button == Button4 ? 1 : -1, false, shift));
        } else if (e.xbutton.button == 6 || e.xbutton.button == 7) {
            WriteControls(model.Wheel(x, y, e.xbutton.button == 7 ? 1 : -1, true, shift));
        }
        break;
    }
    case ButtonRelease:
        if (e.xbutton.button == Button1) model.Release();
        break;
    case MotionNotify: {
        // Only the newest position of a burst matters.
        while (XCheckTypedWindowEvent(display, window, MotionNotify, &e)) {
        }
        const bool shift = (e.xmotion.state & ShiftMask) != 0;
        WriteControls(model.Motion(e.xmotion.x, e.xmotion.y, shift));
        break;
    }
    case KeyPress: {
        const KeySym sym = XLookupKeysym(&e.xkey, 0);
        EditorKey key;
        if (KeyOf(sym, key) != nullptr)
            WriteControls(model.Key(key, (e.xkey.state & ShiftMask) != 0));
        break;
    }
    case ClientMessage:
        if (topLevel && static_cast<Atom>(e.xclient.data.l[0]) == deleteWindow) {
            closed = true;
            XUnmapWindow(display, window);
        }
        break;
    default:
        break;
    }
    if (model.Focus() != focusBefore) {
        Invalidate(vurnel::TargetArea(model, focusBefore));
        Invalidate(vurnel::TargetArea(model, model.Focus()));
    }
}

int VurnelUi::Idle() {
    while (XPending(display) > 0) {
        XEvent e;
        XNextEvent(display, &e);
        Handle(e);
    }
    Flush();
    return closed ? 1 : 0;
}

int VurnelUi::Show() {
    closed = false;
    XMapRaised(display, window);
    XFlush(display);
    return 0;
}

int VurnelUi::Hide() {
    XUnmapWindow(display, window);
    XFlush(display);
    return 0;
}

int VurnelUi::Resize(int width, int height) {
    if (width <= 0 || height <= 0) return 1;
    XResizeWindow(display, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    Configure(width, height);
    Flush();
    return 0;
}

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
