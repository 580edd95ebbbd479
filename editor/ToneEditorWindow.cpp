#include "ToneEditorWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cmath>

#include "ToneEditorView.h"

namespace vurnel {

namespace {

bool KeyOf(KeySym sym, EditorKey& key) {
    switch (sym) {
    case XK_Tab:
        key = EditorKey::kTab;
        return true;
    case XK_ISO_Left_Tab:
        key = EditorKey::kBackTab;
        return true;
    case XK_Up:
    case XK_KP_Up:
        key = EditorKey::kUp;
        return true;
    case XK_Down:
    case XK_KP_Down:
        key = EditorKey::kDown;
        return true;
    case XK_Left:
    case XK_KP_Left:
        key = EditorKey::kLeft;
        return true;
    case XK_Right:
    case XK_KP_Right:
        key = EditorKey::kRight;
        return true;
    case XK_Page_Up:
    case XK_KP_Page_Up:
        key = EditorKey::kPageUp;
        return true;
    case XK_Page_Down:
    case XK_KP_Page_Down:
        key = EditorKey::kPageDown;
        return true;
    case XK_Home:
    case XK_KP_Home:
        key = EditorKey::kHome;
        return true;
    case XK_End:
    case XK_KP_End:
        key = EditorKey::kEnd;
        return true;
    default:
        return false;
    }
}

// The message, centred on the graph in a box of its own.
void DrawMessage(cairo_t* cr, const ToneEditorModel& model, const std::string& text) {
    const EditorRect& g = model.Graph();
    const double s = model.Scale();
    cairo_save(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 14.0 * s);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, text.c_str(), &ext);
    const double pad = 12.0 * s;
    const double w = std::min(ext.width + 2 * pad, g.w), h = ext.height + 2 * pad;
    const double x = g.x + (g.w - w) / 2, y = g.y + (g.h - h) / 2;
    cairo_rectangle(cr, x, y, w, h);
    cairo_set_source_rgb(cr, 0.12, 0.12, 0.14);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, kCurveColour.r, kCurveColour.g, kCurveColour.b);
    cairo_set_line_width(cr, 1.5 * s);
    cairo_stroke(cr);
    cairo_move_to(cr, x + pad - ext.x_bearing, y + pad - ext.y_bearing);
    cairo_set_source_rgb(cr, 0.95, 0.95, 0.95);
    cairo_show_text(cr, text.c_str());
    cairo_restore(cr);
}

} // namespace

ToneEditorWindow::ToneEditorWindow(const ToneEditorOptions& options, ToneEditorListener* l)
    : model(options.sampleRate), listener(l) {
    const double scale = std::clamp(options.scale > 0 ? options.scale : 1.0, 0.5, 4.0);
    const int width = static_cast<int>(std::lround(ToneEditorModel::kBaseWidth * scale));
    const int height = static_cast<int>(std::lround(ToneEditorModel::kBaseHeight * scale));
    model.Layout(width, height, scale);
    display = XOpenDisplay(nullptr);
    if (display == nullptr) return;
    const int screen = DefaultScreen(display);
    topLevel = options.parent == 0;
    const Window parent = topLevel ? RootWindow(display, screen) : options.parent;
    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None; // the image paints every pixel
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
        XStoreName(display, window, options.title);
        deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display, window, &deleteWindow, 1);
    } else {
        XMapRaised(display, window);
    }
    Configure(width, height);
    Flush();
}

ToneEditorWindow::~ToneEditorWindow() {
    if (display == nullptr) return;
    FreeFrame();
    if (gc != nullptr) XFreeGC(display, gc);
    if (window != 0) XDestroyWindow(display, window);
    XCloseDisplay(display);
}

int ToneEditorWindow::Descriptor() const {
    return display != nullptr ? ConnectionNumber(display) : -1;
}

bool ToneEditorWindow::EventsQueued() const {
    return display != nullptr && XEventsQueued(display, QueuedAlready) > 0;
}

void ToneEditorWindow::FreeFrame() {
    if (image != nullptr) {
        image->data = nullptr; // cairo's memory
        XDestroyImage(image);
        image = nullptr;
    }
    if (surface != nullptr) cairo_surface_destroy(surface);
    surface = nullptr;
}

void ToneEditorWindow::Put(int x, int y, int w, int h) {
    if (image == nullptr) return;
    x = std::max(x, 0);
    y = std::max(y, 0);
    w = std::min(w, image->width - x);
    h = std::min(h, image->height - y);
    if (w <= 0 || h <= 0) return;
    XPutImage(display, window, gc, image, x, y, x, y, static_cast<unsigned>(w),
              static_cast<unsigned>(h));
}

void ToneEditorWindow::Configure(int width, int height) {
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
    image = XCreateImage(display, static_cast<Visual*>(visual), static_cast<unsigned>(depth),
                         ZPixmap, 0, reinterpret_cast<char*>(cairo_image_surface_get_data(surface)),
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

void ToneEditorWindow::Invalidate(const EditorRect& r) {
    // Whole pixels, inside the window.
    const double x0 = std::max(0.0, std::floor(r.x)), y0 = std::max(0.0, std::floor(r.y));
    const double x1 = std::min<double>(model.Width(), std::ceil(r.x + r.w));
    const double y1 = std::min<double>(model.Height(), std::ceil(r.y + r.h));
    if (x1 <= x0 || y1 <= y0) return;
    dirty.push_back({x0, y0, x1 - x0, y1 - y0});
}

void ToneEditorWindow::InvalidateControls(unsigned changed) {
    if (changed == 0) return;
    Invalidate(GraphArea(model));
    for (int c = 0; c < ToneEditorModel::kControls; ++c)
        if (changed & (1u << c)) Invalidate(TargetArea(model, ToneEditorModel::KnobOf(c)));
}

void ToneEditorWindow::Report(unsigned changed, bool gesture) {
    InvalidateControls(changed);
    if (listener == nullptr) return;
    for (int c = 0; c < ToneEditorModel::kControls; ++c) {
        if ((changed & (1u << c)) == 0) continue;
        if (gesture) listener->BeginEdit(c);
        listener->Edit(c, model.Value(c));
        if (gesture) listener->EndEdit(c);
    }
}

void ToneEditorWindow::BeginDrag() {
    const int target = model.Dragging();
    if (target == ToneEditorModel::kNone) return;
    if (target < ToneEditorModel::kKnobs)
        dragControls = 1u << ToneEditorModel::KnobControl(target);
    else
        dragControls = (1u << ToneEditorModel::HandleCutoff(target)) |
                       (1u << ToneEditorModel::HandleGain(target));
    if (listener == nullptr) return;
    for (int c = 0; c < ToneEditorModel::kControls; ++c)
        if (dragControls & (1u << c)) listener->BeginEdit(c);
}

void ToneEditorWindow::EndDrag() {
    const unsigned ending = dragControls;
    dragControls = 0;
    if (listener == nullptr) return;
    for (int c = 0; c < ToneEditorModel::kControls; ++c)
        if (ending & (1u << c)) listener->EndEdit(c);
}

void ToneEditorWindow::Flush() {
    if (dirty.empty() || surface == nullptr) return;
    cairo_t* cr = cairo_create(surface);
    for (const EditorRect& r : dirty)
        DrawToneEditor(cr, model, r);
    if (!message.empty()) DrawMessage(cr, model, message);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    for (const EditorRect& r : dirty)
        Put(static_cast<int>(r.x), static_cast<int>(r.y), static_cast<int>(r.w),
            static_cast<int>(r.h));
    dirty.clear();
    // The frame is on the screen when the call that drew it returns.
    XSync(display, False);
}

void ToneEditorWindow::SetValue(int control, float value) {
    if (!model.SetValue(control, value)) return;
    InvalidateControls(1u << control);
    Flush();
}

void ToneEditorWindow::SetMessage(const std::string& text) {
    if (text == message) return;
    message = text;
    Invalidate(GraphArea(model));
    Flush();
}

void ToneEditorWindow::Handle(_XEvent& e) {
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
        if (locked) break;
        const bool shift = (e.xbutton.state & ShiftMask) != 0;
        const double x = e.xbutton.x, y = e.xbutton.y;
        if (e.xbutton.button == Button1) {
            XSetInputFocus(display, window, RevertToParent, CurrentTime);
            if (dragControls != 0) EndDrag();
            const unsigned changed = model.Press(x, y, e.xbutton.time, shift);
            Report(changed, true);
            BeginDrag();
        } else if (e.xbutton.button == Button4 || e.xbutton.button == Button5) {
            Report(model.Wheel(x, y, e.xbutton.button == Button4 ? 1 : -1, false, shift), true);
        } else if (e.xbutton.button == 6 || e.xbutton.button == 7) {
            Report(model.Wheel(x, y, e.xbutton.button == 7 ? 1 : -1, true, shift), true);
        }
        break;
    }
    case ButtonRelease:
        if (e.xbutton.button == Button1) {
            model.Release();
            EndDrag();
        }
        break;
    case MotionNotify: {
        // Only the newest position of a burst matters.
        while (XCheckTypedWindowEvent(display, window, MotionNotify, &e)) {
        }
        const bool shift = (e.xmotion.state & ShiftMask) != 0;
        Report(model.Motion(e.xmotion.x, e.xmotion.y, shift), dragControls == 0);
        break;
    }
    case KeyPress: {
        if (locked) break;
        EditorKey key;
        if (KeyOf(XLookupKeysym(&e.xkey, 0), key))
            Report(model.Key(key, (e.xkey.state & ShiftMask) != 0), true);
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
        Invalidate(TargetArea(model, focusBefore));
        Invalidate(TargetArea(model, model.Focus()));
    }
}

bool ToneEditorWindow::HandleEvents() {
    if (display == nullptr) return false;
    while (XPending(display) > 0) {
        XEvent e;
        XNextEvent(display, &e);
        Handle(e);
    }
    Flush();
    return !closed;
}

void ToneEditorWindow::Show() {
    if (display == nullptr) return;
    closed = false;
    XMapRaised(display, window);
    XFlush(display);
}

void ToneEditorWindow::Hide() {
    if (display == nullptr) return;
    XUnmapWindow(display, window);
    XFlush(display);
}

bool ToneEditorWindow::Resize(int width, int height) {
    if (display == nullptr || width <= 0 || height <= 0) return false;
    XResizeWindow(display, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
    Configure(width, height);
    Flush();
    return true;
}

void ToneEditorWindow::SetScale(double scale) {
    scale = std::clamp(scale > 0 ? scale : 1.0, 0.5, 4.0);
    if (display == nullptr || scale == model.Scale()) return;
    const int width = static_cast<int>(std::lround(ToneEditorModel::kBaseWidth * scale));
    const int height = static_cast<int>(std::lround(ToneEditorModel::kBaseHeight * scale));
    model.Layout(model.Width(), model.Height(), scale);
    FreeFrame(); // laid out anew at the new scale even if the size stays
    Resize(width, height);
}

} // namespace vurnel
