// The editor in a host of the project's own under Xvfb: its size at 1× and 2×, every knob and
// handle driven with XTest, port events from the host, the curve's height against the tone
// control's response, resizing, and 200 open/close cycles.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <cmath>
#include <filesystem>
#include <memory>

#include "Lv2ToneControl.h"
#include "Main.h"
#include "ToneEditorModel.h"
#include "ToneEditorView.h"
#include "ToneResponse.h"
#include "ui_host.h"

#ifdef VURNEL_HAVE_XRES
#include <X11/extensions/XRes.h>
#endif

using vurnel::Lv2ToneControl;
using vurnel::ToneEditorModel;
using vurnel::test::UiHost;

namespace {

constexpr double kRate = 48000.0;

std::unique_ptr<UiHost> Open(double scale, double rate = kRate) {
    return std::make_unique<UiHost>(VURNEL_UI_MODULE, VURNEL_UI_BUNDLE, scale, rate);
}

// The curve's vertical centre in a column of a screenshot: the centroid of how much of the
// curve's colour each pixel carries (its red minus its blue, beyond what the grid has).
double CurveCentre(const vurnel::test::Screenshot& s, int x, double top, double bottom) {
    double sum = 0, weight = 0;
    for (int y = static_cast<int>(top); y < static_cast<int>(bottom); ++y) {
        const std::uint32_t p = s.At(x, y);
        const double red = (p >> 16) & 0xFF, blue = p & 0xFF;
        const double w = std::max(0.0, (red - blue) - 30.0);
        sum += w * (y + 0.5);
        weight += w;
    }
    return weight > 0 ? sum / weight : -1;
}

// The tone control's response in dB at a frequency for port values, from an effect of its own.
double ResponseDb(const float values[4], double hz, double rate = kRate) {
    vurnel::TMirvakEffect effect(nullptr, 0, 0);
    effect.setSampleRate(static_cast<float>(rate));
    for (int c = 0; c < 4; ++c) {
        const std::uint32_t port = 4 + c;
        effect.setParameter(
            c, Lv2ToneControl::ToParameter(port, Lv2ToneControl::Clamp(port, values[c])));
    }
    return static_cast<double>(vurnel::ToneResponsePointAt(effect.CurrentDesign(), hz).magnitudeDb);
}

// Checks the curve's height at a few frequencies against the response, within a pixel.
void ExpectCurveMatches(UiHost& host, const float values[4], double scale) {
    const auto [w, h] = host.WidgetSize();
    ToneEditorModel layout(kRate);
    layout.Layout(w, h, scale);
    for (int c = 0; c < 4; ++c)
        layout.SetValue(c, values[c]);
    const auto shot = host.Shoot();
    const auto& g = layout.Graph();
    for (double hz : {25.0, 70.0, 300.0, 1000.0, 2500.0, 7000.0, 16000.0}) {
        const int x = static_cast<int>(std::floor(layout.XOfHz(hz)));
        bool nearHandle = false;
        for (int hnd : {ToneEditorModel::kBassHandle, ToneEditorModel::kTrebleHandle})
            nearHandle |= std::abs(layout.HandleX(hnd) - x) < 12 * scale;
        if (nearHandle) continue;
        const double expected = layout.YOfDb(ResponseDb(values, layout.HzOfX(x + 0.5)));
        const double found = CurveCentre(shot, x, g.y, g.y + g.h);
        EXPECT_NEAR(found, expected, 1.0) << hz << " Hz at " << scale << "x";
    }
}

float Last(const UiHost& host, std::uint32_t port) {
    for (auto it = host.writes.rbegin(); it != host.writes.rend(); ++it)
        if (it->port == port) return it->value;
    return NAN;
}

void ExpectWritesInRange(const UiHost& host) {
    for (const auto& w : host.writes) {
        ASSERT_GE(w.port, 4u);
        ASSERT_LE(w.port, 7u);
        EXPECT_EQ(Lv2ToneControl::Clamp(w.port, w.value), w.value) << "port " << w.port;
    }
}

} // namespace

TEST(EditorX11, AppearsAtItsSizeAt1xAnd2x) {
    for (double scale : {1.0, 2.0}) {
        auto host = Open(scale);
        const int w = static_cast<int>(ToneEditorModel::kBaseWidth * scale);
        const int h = static_cast<int>(ToneEditorModel::kBaseHeight * scale);
        EXPECT_EQ(host->WidgetSize(), std::make_pair(w, h));
        EXPECT_EQ(host->Requested(), std::make_pair(w, h));
        const float defaults[4] = {50, 10000, 0, 0};
        ExpectCurveMatches(*host, defaults, scale);
    }
}

TEST(EditorX11, EveryKnobAndHandleAnswersDragWheelDoubleClickAndKeys) {
    auto host = Open(1.0);
    ToneEditorModel m(kRate);
    const auto [w, h] = host->WidgetSize();
    m.Layout(w, h, 1.0);
    auto follow = [&] {
        for (const auto& wr : host->writes)
            m.SetValue(static_cast<int>(wr.port) - 4, wr.value);
    };
    for (int target = 0; target < ToneEditorModel::kTargets; ++target) {
        SCOPED_TRACE("target " + std::to_string(target));
        const bool knob = target < ToneEditorModel::kKnobs;
        const int c =
            knob ? ToneEditorModel::KnobControl(target) : ToneEditorModel::HandleGain(target);
        const int cut = knob ? c : ToneEditorModel::HandleCutoff(target);
        const std::uint32_t port = 4 + c, cutPort = 4 + cut;
        const auto& range = Lv2ToneControl::RangeOf(port);
        const auto& cutRange = Lv2ToneControl::RangeOf(cutPort);
        auto where = [&](double& x, double& y) {
            follow();
            x = knob ? m.KnobCentreX(target) : m.HandleX(target);
            y = knob ? m.KnobCentreY(target) : m.HandleY(target);
        };
        double x, y;
        // Drag up (and right, for a handle): the value rises.
        where(x, y);
        const float before = m.Value(c), cutBefore = m.Value(cut);
        host->Drag(x, y, knob ? x : x + 25, y - 20);
        follow();
        EXPECT_GT(m.Value(c), before);
        if (!knob) {
            EXPECT_GT(m.Value(cut), cutBefore);
        }
        // Far up and right: exactly the maximum; far down and left: exactly the minimum.
        for (int stroke = 0; stroke < 3; ++stroke) {
            where(x, y);
            host->Drag(x, y, knob ? x : 1590, 0);
        }
        EXPECT_EQ(Last(*host, port), range.maximum);
        if (!knob) {
            EXPECT_EQ(Last(*host, cutPort), cutRange.maximum);
        }
        for (int stroke = 0; stroke < 3; ++stroke) {
            where(x, y);
            host->Drag(x, y, knob ? x : 0, 995);
        }
        EXPECT_EQ(Last(*host, port), range.minimum);
        if (!knob) {
            EXPECT_EQ(Last(*host, cutPort), cutRange.minimum);
        }
        // A double-click: the default.
        where(x, y);
        host->Click(x, y);
        host->Click(x, y);
        EXPECT_EQ(Last(*host, port), range.defaultValue);
        if (!knob) {
            EXPECT_EQ(Last(*host, cutPort), cutRange.defaultValue);
        }
        // The wheel: one step (up, or down from the top), a fifth of a step with Shift; a
        // hundred notches down reach the minimum exactly.
        where(x, y);
        const float start = m.Value(c);
        const bool down = start == range.maximum;
        const unsigned button = down ? 5 : 4;
        host->Wheel(x, y, button, 1);
        const float one = Last(*host, port);
        host->Wheel(x, y, button, 1, true);
        const float fine = Last(*host, port);
        EXPECT_NE(one, start);
        EXPECT_EQ(one > start, !down);
        // Gains step by 0.5 dB, cutoffs by an eightieth of their range on a log axis.
        const bool gain = port == 6 || port == 7;
        const double coarse = gain ? one - start : std::log(one / start);
        const double fifth = gain ? fine - one : std::log(fine / one);
        EXPECT_NEAR(fifth, coarse / 5.0, 1e-4 * std::abs(coarse));
        if (gain) {
            EXPECT_EQ(one, start + (down ? -0.5f : 0.5f));
        } else {
            EXPECT_NEAR(coarse, (down ? -1 : 1) * std::log(range.maximum / range.minimum) / 80.0,
                        1e-5);
        }
        for (int notches = 0; notches < 100; notches += 10) { // a handle moves as it turns
            where(x, y);
            host->Wheel(x, y, 5, 10);
        }
        EXPECT_EQ(Last(*host, port), range.minimum);
        // Keys on the focused control: a click focuses it, Up raises, Home and End reach the
        // ends of the range, Tab moves to the next control.
        where(x, y);
        host->Click(x, y);
        follow();
        const float keyStart = m.Value(c);
        host->Key(XK_Up);
        follow();
        EXPECT_GT(m.Value(c), keyStart);
        const float up = m.Value(c);
        host->Key(XK_Down, true); // a fine step down
        follow();
        EXPECT_LT(m.Value(c), up);
        EXPECT_GT(m.Value(c), keyStart);
        host->Key(XK_End);
        EXPECT_EQ(Last(*host, cutPort), cutRange.maximum);
        host->Key(XK_Home);
        EXPECT_EQ(Last(*host, cutPort), cutRange.minimum);
        host->Key(XK_Tab);
        const int next = (target + 1) % ToneEditorModel::kTargets;
        const int nextControl = next < ToneEditorModel::kKnobs ? ToneEditorModel::KnobControl(next)
                                                               : ToneEditorModel::HandleGain(next);
        follow();
        host->writes.clear();
        const bool atTop = m.Value(nextControl) == Lv2ToneControl::RangeOf(4 + nextControl).maximum;
        host->Key(atTop ? XK_Page_Down : XK_Page_Up);
        ASSERT_FALSE(host->writes.empty());
        EXPECT_EQ(host->writes.back().port, 4u + nextControl);
        follow();
        ExpectWritesInRange(*host);
        host->writes.clear();
    }
}

TEST(EditorX11, PortEventMovesTheKnobAndTheCurve) {
    for (double scale : {1.0, 2.0}) {
        auto host = Open(scale);
        ToneEditorModel m(kRate);
        const auto [w, h] = host->WidgetSize();
        m.Layout(w, h, scale);
        const auto before = host->Shoot();
        const float values[4] = {180.0f, 4000.0f, 12.0f, -9.5f};
        for (int c = 0; c < 4; ++c)
            host->PortEvent(4 + c, values[c]);
        EXPECT_TRUE(host->writes.empty()) << "the editor echoed a host's change";
        const auto after = host->Shoot();
        for (int k = 0; k < ToneEditorModel::kKnobs; ++k) {
            const auto& box = m.KnobBox(k);
            int changed = 0;
            for (int y = static_cast<int>(box.y); y < box.y + box.h; ++y)
                for (int x = static_cast<int>(box.x); x < box.x + box.w; ++x)
                    changed += before.At(x, y) != after.At(x, y);
            EXPECT_GT(changed, 50) << "knob " << k;
        }
        ExpectCurveMatches(*host, values, scale);
        // Values beyond the ports' ranges are shown clamped, as the ports clamp them.
        host->PortEvent(6, 90.0f);
        host->PortEvent(4, -1.0f);
        const float clamped[4] = {50.0f, 4000.0f, 20.0f, -9.5f};
        ExpectCurveMatches(*host, clamped, scale);
        if (scale == 2.0 && std::getenv("VURNEL_EDITOR_SCREENSHOT") != nullptr)
            after.WritePng(std::getenv("VURNEL_EDITOR_SCREENSHOT"));
    }
}

TEST(EditorX11, LaysItselfOutAnewWhenResized) {
    auto host = Open(1.0);
    const float values[4] = {120.0f, 6000.0f, 6.0f, 3.0f};
    for (int c = 0; c < 4; ++c)
        host->PortEvent(4 + c, values[c]);
    ASSERT_EQ(host->ResizeUi(900, 500), 0);
    EXPECT_EQ(host->WidgetSize(), std::make_pair(900, 500));
    ExpectCurveMatches(*host, values, 1.0);
    // The host resizing the window itself (as an embedding toolkit does).
    XResizeWindow(host->X(), host->Widget(), 720, 420);
    host->Pump();
    EXPECT_EQ(host->WidgetSize(), std::make_pair(720, 420));
    ExpectCurveMatches(*host, values, 1.0);
}

namespace {

int OpenFiles() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

int Children(Display* d, Window w) {
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    XQueryTree(d, w, &root, &parent, &children, &n);
    if (children != nullptr) XFree(children);
    return static_cast<int>(n);
}

int Clients(Display* d) {
#ifdef VURNEL_HAVE_XRES
    int n = 0;
    XResClient* clients = nullptr;
    XResQueryClients(d, &n, &clients);
    if (clients != nullptr) XFree(clients);
    return n;
#else
    (void)d;
    return 0;
#endif
}

} // namespace

TEST(EditorX11, OpensAndClosesTwoHundredTimesWithoutErrorsOrGrowth) {
    const int errorsBefore = vurnel::test::XErrorsSeen();
    UiHost observer(VURNEL_UI_MODULE, VURNEL_UI_BUNDLE, 1.0);
    auto cycle = [&] {
        UiHost host(VURNEL_UI_MODULE, VURNEL_UI_BUNDLE, 1.0 + 0.5 * (rand() % 3));
        host.PortEvent(6, 4.0f);
        host.ResizeUi(700, 400);
        host.Pump();
    };
    for (int i = 0; i < 20; ++i) // caches (fonts, cairo's) fill on the first few
        cycle();
    const int files = OpenFiles();
    const int clients = Clients(observer.X());
    const int rootChildren = Children(observer.X(), DefaultRootWindow(observer.X()));
    const std::size_t heap = mallinfo2().uordblks;
    const char* cycles = std::getenv("VURNEL_EDITOR_CYCLES"); // fewer under valgrind
    const int n = cycles != nullptr ? std::atoi(cycles) : 200;
    for (int i = 0; i < n; ++i)
        cycle();
    EXPECT_EQ(vurnel::test::XErrorsSeen(), errorsBefore);
    EXPECT_EQ(OpenFiles(), files);
    EXPECT_EQ(Clients(observer.X()), clients);
    EXPECT_EQ(Children(observer.X(), DefaultRootWindow(observer.X())), rootChildren);
    EXPECT_EQ(Children(observer.X(), observer.Parent()), 1); // the observer's own editor
    // Leaks would grow the heap by at least 200 times their size.
    EXPECT_LT(mallinfo2().uordblks, heap + 64 * 1024) << n << " cycles";
}
