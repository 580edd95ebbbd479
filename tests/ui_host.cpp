#include "ui_host.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <cairo.h>
#include <dlfcn.h>
#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/urid/urid.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace vurnel::test {

namespace {

int errors = 0;

int CountError(Display*, XErrorEvent*) {
    ++errors;
    return 0;
}

std::vector<std::string>& Uris() {
    static std::vector<std::string> uris;
    return uris;
}

LV2_URID Map(LV2_URID_Map_Handle, const char* uri) {
    auto& uris = Uris();
    for (std::size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
    uris.emplace_back(uri);
    return static_cast<LV2_URID>(uris.size());
}

} // namespace

int XErrorsSeen() {
    return errors;
}

void Screenshot::WritePng(const std::string& path) const {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    cairo_surface_flush(s);
    for (int y = 0; y < height; ++y)
        std::memcpy(data + y * stride, &pixels[static_cast<std::size_t>(y) * width],
                    static_cast<std::size_t>(width) * 4);
    cairo_surface_mark_dirty(s);
    cairo_surface_write_to_png(s, path.c_str());
    cairo_surface_destroy(s);
}

UiHost::UiHost(const std::string& module, const std::string& bundle, double scale,
               double sampleRate, bool withParent) {
    XSetErrorHandler(CountError);
    // xvfb-run may still be bringing the server up for the first test.
    for (int tries = 0; display == nullptr && tries < 50; ++tries) {
        display = XOpenDisplay(nullptr);
        if (display == nullptr) usleep(100000);
    }
    if (display == nullptr) throw std::runtime_error("no X display");
    const int screen = DefaultScreen(display);
    if (withParent) {
        parent =
            XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 1600, 1000, 0, 0, 0);
        XMapRaised(display, parent);
        XSync(display, False);
    }
    library = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) throw std::runtime_error(dlerror());
    using Entry = const LV2UI_Descriptor* (*)(std::uint32_t);
    auto entry = reinterpret_cast<Entry>(dlsym(library, "lv2ui_descriptor"));
    if (entry == nullptr || (descriptor = entry(0)) == nullptr)
        throw std::runtime_error("no lv2ui_descriptor(0)");

    static LV2_URID_Map map = {nullptr, Map};
    const float scaleValue = static_cast<float>(scale);
    const float rateValue = static_cast<float>(sampleRate);
    const LV2_Options_Option options[] = {
        {LV2_OPTIONS_INSTANCE, 0, Map(nullptr, LV2_UI__scaleFactor), sizeof(float),
         Map(nullptr, LV2_ATOM__Float), &scaleValue},
        {LV2_OPTIONS_INSTANCE, 0, Map(nullptr, LV2_PARAMETERS__sampleRate), sizeof(float),
         Map(nullptr, LV2_ATOM__Float), &rateValue},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    LV2UI_Resize resize = {this, HostResize};
    const LV2_Feature parentFeature = {
        LV2_UI__parent, reinterpret_cast<void*>(static_cast<std::uintptr_t>(parent))};
    const LV2_Feature resizeFeature = {LV2_UI__resize, &resize};
    const LV2_Feature mapFeature = {LV2_URID__map, &map};
    const LV2_Feature optionsFeature = {LV2_OPTIONS__options,
                                        const_cast<LV2_Options_Option*>(options)};
    const LV2_Feature* features[] = {withParent ? &parentFeature : &resizeFeature, &resizeFeature,
                                     &mapFeature, &optionsFeature, nullptr};
    LV2UI_Widget w = nullptr;
    ui = descriptor->instantiate(descriptor, "urn:mirvak:vurnel", bundle.c_str(), WriteFunction,
                                 this, &w, features);
    if (ui == nullptr) throw std::runtime_error("the UI did not instantiate");
    widget = static_cast<Window>(reinterpret_cast<std::uintptr_t>(w));
    if (!withParent) {
        auto show = static_cast<const LV2UI_Show_Interface*>(ExtensionData(LV2_UI__showInterface));
        if (show != nullptr) show->show(ui);
    }
    Pump();
}

UiHost::~UiHost() {
    if (ui != nullptr) descriptor->cleanup(ui);
    if (library != nullptr) dlclose(library);
    if (parent != 0) XDestroyWindow(display, parent);
    if (display != nullptr) XCloseDisplay(display);
}

void UiHost::WriteFunction(LV2UI_Controller controller, std::uint32_t port, std::uint32_t size,
                           std::uint32_t format, const void* buffer) {
    auto* host = static_cast<UiHost*>(controller);
    if (format != 0 || size != sizeof(float)) throw std::runtime_error("not a float write");
    float value;
    std::memcpy(&value, buffer, sizeof value);
    host->writes.push_back({port, value});
}

int UiHost::HostResize(LV2UI_Feature_Handle handle, int width, int height) {
    static_cast<UiHost*>(handle)->requested = {width, height};
    return 0;
}

const void* UiHost::ExtensionData(const char* uri) const {
    return descriptor->extension_data != nullptr ? descriptor->extension_data(uri) : nullptr;
}

std::pair<int, int> UiHost::WidgetSize() const {
    XWindowAttributes a{};
    XGetWindowAttributes(display, widget, &a);
    return {a.width, a.height};
}

int UiHost::Pump() {
    auto idle = static_cast<const LV2UI_Idle_Interface*>(ExtensionData(LV2_UI__idleInterface));
    int result = 0;
    for (int i = 0; i < 4; ++i) {
        XSync(display, False);
        usleep(2000);
        if (idle != nullptr) result |= idle->idle(ui);
    }
    return result;
}

int UiHost::IdleOnce() {
    auto idle = static_cast<const LV2UI_Idle_Interface*>(ExtensionData(LV2_UI__idleInterface));
    return idle != nullptr ? idle->idle(ui) : 0;
}

void UiHost::PortEvent(std::uint32_t port, float value) {
    descriptor->port_event(ui, port, sizeof value, 0, &value);
}

int UiHost::ResizeUi(int width, int height) {
    auto resize = static_cast<const LV2UI_Resize*>(ExtensionData(LV2_UI__resize));
    if (resize == nullptr) return -1;
    const int r = resize->ui_resize(ui, width, height);
    Pump();
    return r;
}

Screenshot UiHost::Shoot() const {
    const auto [w, h] = WidgetSize();
    XSync(display, False);
    XImage* image = XGetImage(display, widget, 0, 0, static_cast<unsigned>(w),
                              static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (image == nullptr) throw std::runtime_error("XGetImage failed");
    Screenshot s;
    s.width = w;
    s.height = h;
    s.pixels.resize(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            s.pixels[static_cast<std::size_t>(y) * w + x] =
                static_cast<std::uint32_t>(XGetPixel(image, x, y) & 0xFFFFFF);
    XDestroyImage(image);
    return s;
}

void UiHost::MoveTo(double x, double y) {
    int rx = 0, ry = 0;
    Window child;
    XTranslateCoordinates(display, widget, DefaultRootWindow(display), static_cast<int>(x),
                          static_cast<int>(y), &rx, &ry, &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), rx, ry, CurrentTime);
    XSync(display, False);
}

void UiHost::Button(unsigned button, bool down) {
    XTestFakeButtonEvent(display, button, down ? True : False, CurrentTime);
    XSync(display, False);
}

void UiHost::Shift(bool down) {
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_Shift_L), down ? True : False,
                      CurrentTime);
    XSync(display, False);
}

void UiHost::Click(double x, double y) {
    MoveTo(x, y);
    Button(1, true);
    Button(1, false);
    Pump();
}

void UiHost::Drag(double x0, double y0, double x1, double y1, bool shift) {
    if (shift) Shift(true);
    MoveTo(x0, y0);
    Button(1, true);
    Pump();
    for (int i = 1; i <= 8; ++i) {
        MoveTo(x0 + (x1 - x0) * i / 8.0, y0 + (y1 - y0) * i / 8.0);
        Pump();
    }
    Button(1, false);
    if (shift) Shift(false);
    Pump();
}

void UiHost::Wheel(double x, double y, unsigned button, int notches, bool shift) {
    if (shift) Shift(true);
    MoveTo(x, y);
    for (int i = 0; i < notches; ++i) {
        Button(button, true);
        Button(button, false);
    }
    if (shift) Shift(false);
    Pump();
}

void UiHost::Key(unsigned long keysym, bool shift) {
    if (shift) Shift(true);
    const KeyCode code = XKeysymToKeycode(display, keysym);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    if (shift) Shift(false);
    XSync(display, False);
    Pump();
}

} // namespace vurnel::test
