#include "ToneEditorView.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace vurnel {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr EditorColour kBackground = {0.12, 0.13, 0.15};
constexpr EditorColour kPanel = {0.08, 0.09, 0.10};
constexpr EditorColour kGrid = {0.20, 0.22, 0.25};
constexpr EditorColour kZeroLine = {0.34, 0.37, 0.41};
constexpr EditorColour kLabel = {0.58, 0.61, 0.66};
constexpr EditorColour kText = {0.88, 0.90, 0.93};
constexpr EditorColour kTrack = {0.26, 0.28, 0.31};
constexpr EditorColour kBassAccent = {0.36, 0.64, 0.96};
constexpr EditorColour kTrebleAccent = {0.52, 0.84, 0.44};
constexpr EditorColour kFocus = {0.95, 0.95, 0.97};
// A knob's travel: from 7:30 round to 4:30, clockwise.
constexpr double kArcStart = 0.75 * kPi, kArcSweep = 1.5 * kPi;

void Colour(cairo_t* cr, const EditorColour& c) {
    cairo_set_source_rgb(cr, c.r, c.g, c.b);
}

bool Intersects(const EditorRect& a, const EditorRect& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

const EditorColour& AccentOf(int control) {
    return control == 0 || control == 2 ? kBassAccent : kTrebleAccent;
}

// Text centred on x (align 0.5), left of x (align 1) or right of it (0), baseline y.
void Text(cairo_t* cr, const std::string& text, double x, double y, double align) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    cairo_move_to(cr, std::round(x - align * e.x_advance), std::round(y));
    cairo_show_text(cr, text.c_str());
}

void DrawGraph(cairo_t* cr, ToneEditorModel& m) {
    const EditorRect& g = m.Graph();
    const double s = m.Scale();
    Colour(cr, kPanel);
    cairo_rectangle(cr, g.x, g.y, g.w, g.h);
    cairo_fill(cr);

    cairo_set_line_width(cr, std::max(1.0, std::round(s)));
    const double half = std::fmod(std::max(1.0, std::round(s)), 2.0) == 1.0 ? 0.5 : 0.0;
    for (int db = -15; db <= 15; db += 5) {
        Colour(cr, db == 0 ? kZeroLine : kGrid);
        const double y = std::round(m.YOfDb(db)) + half;
        cairo_move_to(cr, g.x, y);
        cairo_line_to(cr, g.x + g.w, y);
        cairo_stroke(cr);
    }
    const double grid[] = {50, 100, 200, 500, 1000, 2000, 5000, 10000};
    Colour(cr, kGrid);
    for (double hz : grid) {
        const double x = std::round(m.XOfHz(hz)) + half;
        cairo_move_to(cr, x, g.y);
        cairo_line_to(cr, x, g.y + g.h);
        cairo_stroke(cr);
    }

    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 10.0 * s);
    Colour(cr, kLabel);
    for (int db = -20; db <= 20; db += 10) {
        const std::string t = db > 0 ? "+" + std::to_string(db) : std::to_string(db);
        const double y = std::clamp(m.YOfDb(db) + 3.5 * s, g.y + 8.0 * s, g.y + g.h);
        Text(cr, t, g.x - 6.0 * s, y, 1.0);
    }
    const double labelled[] = {20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000};
    const char* const names[] = {"20", "50", "100", "200", "500", "1k", "2k", "5k", "10k", "20k"};
    for (int i = 0; i < 10; ++i) {
        const double align = i == 0 ? 0.0 : i == 9 ? 1.0 : 0.5;
        Text(cr, names[i], m.XOfHz(labelled[i]), g.y + g.h + 14.0 * s, align);
    }
    Text(cr, "dB", g.x - 6.0 * s, g.y + g.h + 14.0 * s, 1.0);

    // The curve, one point per pixel column, clipped to the graph.
    cairo_save(cr);
    cairo_rectangle(cr, g.x, g.y, g.w, g.h);
    cairo_clip(cr);
    const std::vector<double>& curve = m.CurveDb();
    for (std::size_t i = 0; i < curve.size(); ++i) {
        const double x = g.x + static_cast<double>(i) + 0.5;
        if (i == 0)
            cairo_move_to(cr, x, m.YOfDb(curve[i]));
        else
            cairo_line_to(cr, x, m.YOfDb(curve[i]));
    }
    Colour(cr, kCurveColour);
    cairo_set_line_width(cr, 2.0 * s);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
    cairo_restore(cr);

    for (int h : {ToneEditorModel::kBassHandle, ToneEditorModel::kTrebleHandle}) {
        const double x = m.HandleX(h), y = m.HandleY(h);
        cairo_new_path(cr);
        cairo_arc(cr, x, y, 7.0 * s, 0, 2 * kPi);
        Colour(cr, AccentOf(ToneEditorModel::HandleGain(h)));
        cairo_fill_preserve(cr);
        cairo_set_line_width(cr, 1.5 * s);
        Colour(cr, m.Focus() == h ? kFocus : kPanel);
        cairo_stroke(cr);
    }
}

void DrawKnob(cairo_t* cr, const ToneEditorModel& m, int knob) {
    const EditorRect& box = m.KnobBox(knob);
    const double s = m.Scale();
    const int c = ToneEditorModel::KnobControl(knob);
    const double cx = m.KnobCentreX(knob), cy = m.KnobCentreY(knob), r = m.KnobRadius();

    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 11.0 * s);
    Colour(cr, kLabel);
    Text(cr, ToneEditorModel::ControlName(c), cx, box.y + 12.0 * s, 0.5);

    const double at = kArcStart + kArcSweep * m.Position(c);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_width(cr, 4.0 * s);
    Colour(cr, kTrack);
    cairo_new_path(cr); // the label's text leaves a current point an arc would join
    cairo_arc(cr, cx, cy, r, kArcStart, kArcStart + kArcSweep);
    cairo_stroke(cr);
    Colour(cr, AccentOf(c));
    cairo_arc(cr, cx, cy, r, kArcStart, at);
    cairo_stroke(cr);
    Colour(cr, kPanel);
    cairo_arc(cr, cx, cy, r - 6.0 * s, 0, 2 * kPi);
    cairo_fill(cr);
    Colour(cr, kText);
    cairo_set_line_width(cr, 2.5 * s);
    cairo_move_to(cr, cx + (r - 18.0 * s) * std::cos(at), cy + (r - 18.0 * s) * std::sin(at));
    cairo_line_to(cr, cx + (r - 8.0 * s) * std::cos(at), cy + (r - 8.0 * s) * std::sin(at));
    cairo_stroke(cr);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);

    cairo_set_font_size(cr, 12.0 * s);
    Colour(cr, kText);
    Text(cr, ToneControlText(c, m.Value(c)), cx, cy + r + 18.0 * s, 0.5);

    if (m.Focus() == knob) {
        Colour(cr, kFocus);
        cairo_set_line_width(cr, 1.0 * s);
        cairo_rectangle(cr, box.x + 4.0 * s + 0.5, box.y + 0.5, box.w - 8.0 * s - 1.0, box.h - 1.0);
        cairo_stroke(cr);
    }
}

} // namespace

EditorRect GraphArea(const ToneEditorModel& m) {
    const EditorRect& g = m.Graph();
    const double s = m.Scale();
    return {g.x - 40.0 * s, g.y - 10.0 * s, g.w + 50.0 * s, g.h + 32.0 * s};
}

EditorRect TargetArea(const ToneEditorModel& m, int target) {
    if (target < 0) return {};
    if (target < ToneEditorModel::kKnobs) return m.KnobBox(target);
    return GraphArea(m);
}

void DrawToneEditor(cairo_t* cr, ToneEditorModel& m, const EditorRect& clip) {
    cairo_save(cr);
    cairo_rectangle(cr, clip.x, clip.y, clip.w, clip.h);
    cairo_clip(cr);
    Colour(cr, kBackground);
    cairo_paint(cr);
    if (Intersects(clip, GraphArea(m))) DrawGraph(cr, m);
    for (int k = 0; k < ToneEditorModel::kKnobs; ++k)
        if (Intersects(clip, m.KnobBox(k))) DrawKnob(cr, m, k);
    cairo_restore(cr);
}

} // namespace vurnel
