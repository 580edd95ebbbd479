// The editor's model: the four control values, the layout at a size and scale, the mapping
// between pixels and hertz or decibels, the response curve of the design the effect runs, and
// what a drag, a wheel notch, a double-click or a key does to the values. No window system: the
// editor window feeds it events and hands the values it reports to its face; the tests drive it
// directly.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vurnel {

class TMirvakEffect;

struct EditorRect {
    double x = 0, y = 0, w = 0, h = 0;
    bool Contains(double px, double py) const {
        return px >= x && px < x + w && py >= y && py < y + h;
    }
};

// The keys the editor answers.
enum class EditorKey { kTab, kBackTab, kUp, kDown, kLeft, kRight, kPageUp, kPageDown, kHome, kEnd };

// "120 Hz", "3.5 kHz" or "+6.0 dB", as a person reads a control (a ToneControl).
std::string ToneControlText(int control, float value);

class ToneEditorModel {
public:
    // Controls in ToneControl order: bass cutoff, treble cutoff, bass, treble.
    static constexpr int kControls = 4;
    // Focus and hit targets: the four knobs (left to right), then the two handles on the curve.
    static constexpr int kKnobs = 4;
    static constexpr int kBassHandle = 4;
    static constexpr int kTrebleHandle = 5;
    static constexpr int kTargets = 6;
    static constexpr int kNone = -1;
    // The editor's size at scale 1.
    static constexpr int kBaseWidth = 640;
    static constexpr int kBaseHeight = 380;
    // The graph's axes.
    static constexpr double kLowHz = 20.0, kHighHz = 20000.0, kTopDb = 20.0, kBottomDb = -20.0;

    // Any thread; allocates an effect designed at the host's sample rate, all controls at their
    // defaults, laid out at kBaseWidth × kBaseHeight, scale 1.
    explicit ToneEditorModel(double sampleRate);
    ~ToneEditorModel();
    ToneEditorModel(const ToneEditorModel&) = delete;
    ToneEditorModel& operator=(const ToneEditorModel&) = delete;

    static int KnobControl(int knob);            // the control knob k shows
    static int KnobOf(int control);              // the knob that shows a control
    static int HandleCutoff(int handle);         // the cutoff control of a handle
    static int HandleGain(int handle);           // the gain control of a handle
    static const char* ControlName(int control); // "Bass cutoff"

    float Value(int control) const { return values[control]; }
    // Where a control stands in its range, 0..1 (log for the cutoffs), as a knob shows it.
    double Position(int control) const { return Normal(control, values[control]); }
    // A value from the face: clamped into its range (NaN gives the default). Returns whether it
    // changed.
    bool SetValue(int control, float value);

    void Layout(int width, int height, double scale);
    int Width() const { return width; }
    int Height() const { return height; }
    double Scale() const { return scale; }
    const EditorRect& Graph() const { return graph; }
    const EditorRect& KnobBox(int knob) const { return knobBox[knob]; }
    double KnobRadius() const { return 26.0 * scale; }
    double KnobCentreX(int knob) const;
    double KnobCentreY(int knob) const;

    double XOfHz(double hz) const;
    double HzOfX(double x) const;
    double YOfDb(double db) const;
    double DbOfY(double y) const;

    // The response in dB at the centre of each pixel column of the graph, up to the last column
    // below half the sample rate; recomputed when a value or the layout changes.
    const std::vector<double>& CurveDb();
    double HandleX(int handle) const;
    double HandleY(int handle);
    // The target under a point, kNone for none.
    int HitTest(double x, double y);

    int Focus() const { return focus; }
    int Dragging() const { return drag; }

    // Input. Each returns the controls it changed as a bit mask (bit c = control c); the caller
    // writes those values to the plug-in. `timeMs` is the event's time in milliseconds.
    unsigned Press(double x, double y, unsigned long timeMs, bool shift);
    unsigned Motion(double x, double y, bool shift);
    void Release();
    // Vertical notches (positive = up) or, with `horizontal`, notches to the right.
    unsigned Wheel(double x, double y, int notches, bool horizontal, bool shift);
    // Tab changes the focus (the return value is 0; see Focus()); the others change the focused
    // control.
    unsigned Key(EditorKey key, bool shift);

private:
    unsigned Set(int control, float value);
    unsigned Step(int control, double steps);
    unsigned Reset(int target);
    void AnchorDrag(double x, double y, bool shift);
    double Normal(int control, float value) const;
    float FromNormal(int control, double t) const;

    std::unique_ptr<TMirvakEffect> effect;
    double rate;
    float values[kControls];
    int width = 0, height = 0;
    double scale = 1;
    EditorRect graph;
    EditorRect knobBox[kKnobs];
    std::vector<double> curve;
    double handleDb[2] = {};
    bool curveValid = false;
    void UpdateCurve();

    int focus = 0;
    int drag = kNone;
    double dragX = 0, dragY = 0;
    bool dragShift = false;
    float dragStart[2] = {};
    int lastPressTarget = kNone;
    unsigned long lastPressTime = 0;
};

} // namespace vurnel
