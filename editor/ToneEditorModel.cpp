#include "ToneEditorModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Main.h"
#include "ToneControls.h"
#include "ToneResponse.h"

namespace vurnel {

namespace {

constexpr int kBassCutoff = 0, kTrebleCutoff = 1, kBass = 2, kTreble = 3;
// Knobs left to right: the bass pair, then the treble pair, as the curve runs.
constexpr int kKnobControls[ToneEditorModel::kKnobs] = {kBass, kBassCutoff, kTrebleCutoff, kTreble};
const char* const kNames[ToneEditorModel::kControls] = {"Bass cutoff", "Treble cutoff", "Bass",
                                                        "Treble"};
// One step (a wheel notch, an arrow key): half a decibel for a gain, an eightieth of the range
// on the log axis for a cutoff; Shift makes it a fifth of that.
constexpr double kGainStepDb = 0.5;
constexpr double kCutoffStep = 1.0 / 80.0;
constexpr double kFine = 0.2;
constexpr double kPageSteps = 10.0;
// A knob turns through its whole range in this many pixels (at scale 1) of vertical drag; Shift
// makes a drag ten times finer.
constexpr double kDragPixels = 300.0;
constexpr double kDragFine = 0.1;
constexpr unsigned long kDoubleClickMs = 400;

bool IsGain(int control) {
    return control == kBass || control == kTreble;
}

const ToneControlRange& RangeOf(int control) {
    return RangeOfControl(control);
}

} // namespace

std::string ToneControlText(int control, float value) {
    return ControlText(control, value);
}

ToneEditorModel::ToneEditorModel(double sampleRate)
    : effect(std::make_unique<TMirvakEffect>(nullptr, 0, 0)), rate(sampleRate) {
    effect->setSampleRate(static_cast<float>(rate));
    for (int c = 0; c < kControls; ++c) {
        values[c] = RangeOf(c).defaultValue;
        effect->setParameter(c, ControlToParameter(c, values[c]));
    }
    Layout(kBaseWidth, kBaseHeight, 1.0);
}

ToneEditorModel::~ToneEditorModel() = default;

int ToneEditorModel::KnobControl(int knob) {
    return kKnobControls[knob];
}
int ToneEditorModel::KnobOf(int control) {
    for (int k = 0; k < kKnobs; ++k)
        if (kKnobControls[k] == control) return k;
    return kNone;
}
int ToneEditorModel::HandleCutoff(int handle) {
    return handle == kBassHandle ? kBassCutoff : kTrebleCutoff;
}
int ToneEditorModel::HandleGain(int handle) {
    return handle == kBassHandle ? kBass : kTreble;
}
const char* ToneEditorModel::ControlName(int control) {
    return kNames[control];
}

bool ToneEditorModel::SetValue(int control, float value) {
    if (control < 0 || control >= kControls) return false;
    const float clamped = ClampControl(control, value);
    if (clamped == values[control]) return false;
    values[control] = clamped;
    effect->setParameter(control, ControlToParameter(control, clamped));
    curveValid = false;
    return true;
}

void ToneEditorModel::Layout(int w, int h, double s) {
    width = std::max(w, 1);
    height = std::max(h, 1);
    scale = s > 0 ? s : 1.0;
    const double margin = std::round(12.0 * scale);
    const double knobRow = std::round(118.0 * scale);
    graph.x = std::round(margin + 36.0 * scale);
    graph.y = margin;
    graph.w = std::max(1.0, width - graph.x - margin);
    graph.h = std::max(1.0, std::round(height - knobRow - graph.y - 20.0 * scale));
    const double boxW = std::floor((width - 2.0 * margin) / kKnobs);
    for (int k = 0; k < kKnobs; ++k)
        knobBox[k] = {margin + k * boxW, height - knobRow, boxW, knobRow - margin};
    curveValid = false;
}

double ToneEditorModel::KnobCentreX(int knob) const {
    return knobBox[knob].x + knobBox[knob].w / 2.0;
}
double ToneEditorModel::KnobCentreY(int knob) const {
    return knobBox[knob].y + 48.0 * scale;
}

double ToneEditorModel::XOfHz(double hz) const {
    return graph.x + graph.w * std::log(hz / kLowHz) / std::log(kHighHz / kLowHz);
}
double ToneEditorModel::HzOfX(double x) const {
    return kLowHz * std::pow(kHighHz / kLowHz, (x - graph.x) / graph.w);
}
double ToneEditorModel::YOfDb(double db) const {
    return graph.y + graph.h * (kTopDb - db) / (kTopDb - kBottomDb);
}
double ToneEditorModel::DbOfY(double y) const {
    return kTopDb - (y - graph.y) / graph.h * (kTopDb - kBottomDb);
}

void ToneEditorModel::UpdateCurve() {
    if (curveValid) return;
    const TMirvakEffect::ToneDesign design = effect->CurrentDesign();
    const int columns = static_cast<int>(graph.w);
    curve.clear();
    curve.reserve(static_cast<std::size_t>(columns));
    for (int i = 0; i < columns; ++i) {
        const double hz = HzOfX(graph.x + i + 0.5);
        if (hz >= rate / 2.0) break;
        curve.push_back(static_cast<double>(ToneResponsePointAt(design, hz).magnitudeDb));
    }
    for (int handle : {kBassHandle, kTrebleHandle})
        handleDb[handle - kBassHandle] = static_cast<double>(
            ToneResponsePointAt(design, values[HandleCutoff(handle)]).magnitudeDb);
    curveValid = true;
}

const std::vector<double>& ToneEditorModel::CurveDb() {
    UpdateCurve();
    return curve;
}

double ToneEditorModel::HandleX(int handle) const {
    return XOfHz(values[HandleCutoff(handle)]);
}

double ToneEditorModel::HandleY(int handle) {
    UpdateCurve();
    const double y = YOfDb(handleDb[handle - kBassHandle]);
    return std::clamp(y, graph.y, graph.y + graph.h);
}

int ToneEditorModel::HitTest(double x, double y) {
    const double reach = 10.0 * scale;
    for (int handle : {kTrebleHandle, kBassHandle})
        if (std::hypot(x - HandleX(handle), y - HandleY(handle)) <= reach) return handle;
    for (int k = 0; k < kKnobs; ++k)
        if (knobBox[k].Contains(x, y)) return k;
    return kNone;
}

double ToneEditorModel::Normal(int control, float value) const {
    const auto& r = RangeOf(control);
    if (IsGain(control)) return (value - r.minimum) / static_cast<double>(r.maximum - r.minimum);
    return std::log(value / static_cast<double>(r.minimum)) /
           std::log(r.maximum / static_cast<double>(r.minimum));
}

float ToneEditorModel::FromNormal(int control, double t) const {
    const auto& r = RangeOf(control);
    if (IsGain(control)) return static_cast<float>(r.minimum + t * (r.maximum - r.minimum));
    return static_cast<float>(r.minimum * std::pow(r.maximum / static_cast<double>(r.minimum), t));
}

unsigned ToneEditorModel::Set(int control, float value) {
    return SetValue(control, value) ? 1u << control : 0u;
}

unsigned ToneEditorModel::Step(int control, double steps) {
    if (IsGain(control))
        return Set(control, static_cast<float>(values[control] + steps * kGainStepDb));
    return Set(control,
               FromNormal(control, Normal(control, values[control]) + steps * kCutoffStep));
}

unsigned ToneEditorModel::Reset(int target) {
    if (target < kKnobs) {
        const int c = KnobControl(target);
        return Set(c, RangeOf(c).defaultValue);
    }
    const int cutoff = HandleCutoff(target), gain = HandleGain(target);
    return Set(cutoff, RangeOf(cutoff).defaultValue) | Set(gain, RangeOf(gain).defaultValue);
}

unsigned ToneEditorModel::Press(double x, double y, unsigned long timeMs, bool shift) {
    const int target = HitTest(x, y);
    drag = kNone;
    if (target == kNone) {
        lastPressTarget = kNone;
        return 0;
    }
    focus = target;
    if (target == lastPressTarget && timeMs - lastPressTime <= kDoubleClickMs) {
        lastPressTarget = kNone;
        return Reset(target);
    }
    lastPressTarget = target;
    lastPressTime = timeMs;
    drag = target;
    AnchorDrag(x, y, shift);
    return 0;
}

void ToneEditorModel::AnchorDrag(double x, double y, bool shift) {
    dragX = x;
    dragY = y;
    dragShift = shift;
    if (drag < kKnobs) {
        dragStart[0] = values[KnobControl(drag)];
    } else {
        dragStart[0] = values[HandleCutoff(drag)];
        dragStart[1] = values[HandleGain(drag)];
    }
}

unsigned ToneEditorModel::Motion(double x, double y, bool shift) {
    if (drag == kNone) return 0;
    if (shift != dragShift) {
        // Shift pressed or let go mid-drag: carry on from here at the new rate.
        AnchorDrag(x, y, shift);
        return 0;
    }
    if (x != dragX || y != dragY) lastPressTarget = kNone; // a drag is no click
    const double rateFactor = shift ? kDragFine : 1.0;
    if (drag < kKnobs) {
        const int c = KnobControl(drag);
        const double t = Normal(c, dragStart[0]) + (dragY - y) / (kDragPixels * scale) * rateFactor;
        return Set(c, FromNormal(c, t));
    }
    const int cutoff = HandleCutoff(drag), gain = HandleGain(drag);
    const double share = (x - dragX) / graph.w * rateFactor; // of the frequency axis
    const double hz = dragStart[0] * std::pow(kHighHz / kLowHz, share);
    const double db = dragStart[1] + (dragY - y) * (kTopDb - kBottomDb) / graph.h * rateFactor;
    return Set(cutoff, static_cast<float>(hz)) | Set(gain, static_cast<float>(db));
}

void ToneEditorModel::Release() {
    drag = kNone;
}

unsigned ToneEditorModel::Wheel(double x, double y, int notches, bool horizontal, bool shift) {
    const int target = HitTest(x, y);
    if (target == kNone) return 0;
    const double steps = notches * (shift ? kFine : 1.0);
    if (target < kKnobs) return Step(KnobControl(target), steps);
    return Step(horizontal ? HandleCutoff(target) : HandleGain(target), steps);
}

unsigned ToneEditorModel::Key(EditorKey key, bool shift) {
    if (key == EditorKey::kTab || key == EditorKey::kBackTab) {
        const bool back = key == EditorKey::kBackTab || shift;
        focus = (focus + (back ? kTargets - 1 : 1)) % kTargets;
        return 0;
    }
    const double unit = shift ? kFine : 1.0;
    const bool isKnob = focus < kKnobs;
    const int main = isKnob ? KnobControl(focus) : HandleGain(focus);
    const int side = isKnob ? main : HandleCutoff(focus);
    const auto& r = RangeOf(side);
    switch (key) {
    case EditorKey::kUp:
        return Step(main, unit);
    case EditorKey::kDown:
        return Step(main, -unit);
    case EditorKey::kRight:
        return Step(side, unit);
    case EditorKey::kLeft:
        return Step(side, -unit);
    case EditorKey::kPageUp:
        return Step(main, kPageSteps * unit);
    case EditorKey::kPageDown:
        return Step(main, -kPageSteps * unit);
    case EditorKey::kHome:
        return Set(side, r.minimum);
    case EditorKey::kEnd:
        return Set(side, r.maximum);
    default:
        return 0;
    }
}

} // namespace vurnel
