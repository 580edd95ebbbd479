// The VST 3 editor view in the project's own host under Xvfb: a child of the host's window,
// a knob dragged with XTest reaching the component handler as one gesture, the host's
// automation drawn at once, the content scale, and twenty removes and re-attaches leaving no X
// error, no thread and nothing registered with the host's run loop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "ToneEditorModel.h"
#include "Vst3Parameters.h"
#include "Vst3Processor.h"
#include "vst3_host.h"

// Xlib last: its macros (None, Complex, Bool) would break the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

using namespace vst3host;
using vurnel::ToneEditorModel;

namespace {

int xErrors = 0;
int CountError(Display*, XErrorEvent*) {
    ++xErrors;
    return 0;
}

std::size_t Threads() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

// The host's side: its X connection, a mapped top-level window as the parent, the plug-in, the
// frame with its run loop and a recording component handler.
class HostedView : public ::testing::Test {
protected:
    void SetUp() override {
        XSetErrorHandler(CountError);
        for (int tries = 0; display == nullptr && tries < 50; ++tries) {
            display = XOpenDisplay(nullptr);
            if (display == nullptr) usleep(100000);
        }
        ASSERT_NE(display, nullptr);
        parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1400, 900, 0, 0, 0);
        XMapRaised(display, parent);
        XSync(display, False);
        ASSERT_TRUE(module.Loaded());
        plugin = std::make_unique<Instance>(module.Factory(), vurnel::vst3::kProcessorCid);
        ASSERT_TRUE(plugin->Ok());
        ASSERT_EQ(plugin->controller->setComponentHandler(&handler), kResultOk);
        view = plugin->controller->createView("editor");
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->isPlatformTypeSupported("X11EmbedWindowID"), kResultTrue);
        EXPECT_EQ(view->isPlatformTypeSupported("HWND"), kResultFalse);
        ASSERT_EQ(view->setFrame(&frame), kResultOk);
    }
    void TearDown() override {
        if (view != nullptr) {
            view->removed();
            view->setFrame(nullptr);
            EXPECT_EQ(view->release(), 0u);
        }
        plugin.reset();
        if (display != nullptr) {
            XDestroyWindow(display, parent);
            XCloseDisplay(display);
        }
    }
    Window Attach() {
        EXPECT_EQ(view->attached(reinterpret_cast<void*>(parent), "X11EmbedWindowID"), kResultOk);
        frame.Run(50);
        Window root, up, *children = nullptr;
        unsigned count = 0;
        XQueryTree(display, parent, &root, &up, &children, &count);
        const Window child = count == 1 ? children[0] : 0;
        if (children != nullptr) XFree(children);
        return child;
    }
    // A part of the parent's picture, 0xRRGGBB by row.
    std::vector<unsigned long> Grab(int x, int y, int w, int h) {
        XImage* image = XGetImage(display, parent, x, y, w, h, AllPlanes, ZPixmap);
        std::vector<unsigned long> pixels;
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                pixels.push_back(XGetPixel(image, i, j));
        XDestroyImage(image);
        return pixels;
    }
    void Pointer(int x, int y) {
        XTestFakeMotionEvent(display, DefaultScreen(display), x, y, CurrentTime);
        XSync(display, False);
        frame.Run(20);
    }
    void Button(bool down) {
        XTestFakeButtonEvent(display, 1, down ? True : False, CurrentTime);
        XSync(display, False);
        frame.Run(20);
    }

    Module module{VURNEL_VST3_MODULE};
    Display* display = nullptr;
    Window parent = 0;
    std::unique_ptr<Instance> plugin;
    RecordingHandler handler;
    Frame frame;
    IPlugView* view = nullptr;
};

TEST_F(HostedView, IsTheParentsChildAndADraggedKnobIsOneGestureOfValuesInRange) {
    ViewRect size;
    ASSERT_EQ(view->getSize(&size), kResultOk); // before attached, as hosts ask
    const Window child = Attach();
    ASSERT_NE(child, 0u) << "the view's window is not the parent's one child";
    XWindowAttributes got{};
    XGetWindowAttributes(display, child, &got);
    EXPECT_EQ(got.width, size.right - size.left);
    EXPECT_EQ(got.height, size.bottom - size.top);
    EXPECT_EQ(got.map_state, IsViewable);
    EXPECT_GT(frame.Registered(), 0u);

    // The treble knob, where the editor's own layout puts it, dragged up 80 pixels.
    ToneEditorModel layout(48000.0);
    layout.Layout(got.width, got.height, 1.0);
    int knob = 0;
    for (int k = 0; k < ToneEditorModel::kKnobs; ++k)
        if (ToneEditorModel::KnobControl(k) == vurnel::vst3::kTrebleId) knob = k;
    int x, y;
    Window ignored;
    XTranslateCoordinates(display, child, DefaultRootWindow(display), int(layout.KnobCentreX(knob)),
                          int(layout.KnobCentreY(knob)), &x, &y, &ignored);
    Pointer(x, y);
    Button(true);
    for (int step = 1; step <= 8; ++step)
        Pointer(x, y - 10 * step);
    Button(false);

    const auto& calls = handler.calls;
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front().kind, RecordingHandler::kBegin);
    EXPECT_EQ(calls.back().kind, RecordingHandler::kEnd);
    double last = -1;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].id, vurnel::vst3::kTrebleId);
        if (i > 0 && i + 1 < calls.size()) {
            EXPECT_EQ(calls[i].kind, RecordingHandler::kPerform);
            EXPECT_GE(calls[i].value, 0.0);
            EXPECT_LE(calls[i].value, 1.0);
            EXPECT_GT(calls[i].value, last) << "dragging up raises the treble";
            last = calls[i].value;
        }
    }
    EXPECT_GT(last, vurnel::vst3::DefaultNormalized(vurnel::vst3::kTrebleId));
    EXPECT_DOUBLE_EQ(plugin->controller->getParamNormalized(vurnel::vst3::kTrebleId), last);
    // Idle: only the X descriptor stays registered, no timer.
    frame.Run(200);
    EXPECT_EQ(frame.Registered(), 1u);
    EXPECT_EQ(xErrors, 0);
}

TEST_F(HostedView, HostAutomationRedrawsAtOnceAndTwiceTheScaleIsTwiceTheSize) {
    ViewRect one;
    view->getSize(&one);
    const Window child = Attach();
    ASSERT_NE(child, 0u);
    ToneEditorModel layout(48000.0);
    layout.Layout(one.right, one.bottom, 1.0);
    const int k = ToneEditorModel::KnobOf(vurnel::vst3::kBassId);
    const auto& box = layout.KnobBox(k);
    const auto before = Grab(int(box.x), int(box.y), int(box.w), int(box.h));
    ASSERT_EQ(plugin->controller->setParamNormalized(vurnel::vst3::kBassId, 1.0), kResultOk);
    // No run-loop turn in between: the host's call draws.
    EXPECT_NE(Grab(int(box.x), int(box.y), int(box.w), int(box.h)), before);
    EXPECT_TRUE(handler.calls.empty()) << "the host's own change is not an edit";

    void* obj = nullptr;
    ASSERT_EQ(view->queryInterface(vurnel::vst3::kIPlugViewContentScaleSupportIid.bytes, &obj),
              kResultOk);
    auto* scale = static_cast<vurnel::vst3::IPlugViewContentScaleSupport*>(obj);
    EXPECT_EQ(scale->setContentScaleFactor(2.0f), kResultOk);
    scale->release();
    frame.Run(50);
    ViewRect two;
    view->getSize(&two);
    EXPECT_EQ(two.right - two.left, 2 * one.right);
    EXPECT_EQ(two.bottom - two.top, 2 * one.bottom);
    XWindowAttributes got{};
    XGetWindowAttributes(display, child, &got);
    EXPECT_EQ(got.width, 2 * one.right);
    EXPECT_EQ(view->canResize(), kResultTrue);
    ViewRect tiny{0, 0, 10, 10};
    view->checkSizeConstraint(&tiny);
    EXPECT_GT(tiny.right, 10);
    EXPECT_EQ(xErrors, 0);
}

TEST_F(HostedView, RemovedAndAttachedTwentyTimesLeavesNoErrorThreadOrRegistration) {
    const std::size_t threads = Threads();
    for (int round = 0; round < 20; ++round) {
        ASSERT_NE(Attach(), 0u) << "round " << round;
        EXPECT_GT(frame.Registered(), 0u);
        plugin->controller->setParamNormalized(vurnel::vst3::kBassId, (round % 5) / 4.0);
        frame.Run(10);
        ASSERT_EQ(view->removed(), kResultOk);
        EXPECT_EQ(frame.Registered(), 0u) << "round " << round;
        Window root, up, *children = nullptr;
        unsigned count = 0;
        XQueryTree(display, parent, &root, &up, &children, &count);
        if (children != nullptr) XFree(children);
        EXPECT_EQ(count, 0u) << "round " << round;
    }
    EXPECT_EQ(Threads(), threads);
    EXPECT_EQ(frame.references, 1) << "every run-loop reference given back";
    EXPECT_EQ(xErrors, 0);
}

} // namespace
