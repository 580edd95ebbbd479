// The editor's drawing with cairo: the response curve on its grid, the two handles and the four
// knobs with their values, all laid out by the model.
#pragma once

#include <cairo.h>

#include "ToneEditorModel.h"

namespace vurnel {

struct EditorColour {
    double r, g, b;
};
// The curve's colour; nothing else in the graph is drawn in it.
constexpr EditorColour kCurveColour = {0.96, 0.62, 0.16};

// Draws everything that lies inside `clip` (and only that) at the model's layout and scale.
void DrawToneEditor(cairo_t* cr, ToneEditorModel& model, const EditorRect& clip);

// The part of the editor that shows a target (a knob's box, or the graph for a handle), for the
// redraw after a change.
EditorRect TargetArea(const ToneEditorModel& model, int target);
// The graph with its axis labels and the handles.
EditorRect GraphArea(const ToneEditorModel& model);

} // namespace vurnel
