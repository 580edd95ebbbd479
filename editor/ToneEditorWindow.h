// The editor's window: an Xlib window on a connection of its own, inside a parent the face gives
// (or a top-level window of its own), the events that drive the model, and the drawing. It knows
// no plug-in format: a face hands it the current control values (SetValue) and receives the
// user's edits through a ToneEditorListener, each edit inside a gesture (begin, values, end). It
// draws with cairo into an image of its own the size of the window and puts what changed on the
// screen; cairo keeps no state on the X connection. It does nothing between events: the face
// calls HandleEvents when the connection's descriptor is readable (or from a host's idle call).
// Everything here runs on the face's UI thread; the methods allocate (cairo, Xlib) and throw no
// exception of their own.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "ToneEditorModel.h"

// Xlib's types, declared as Xlib does, so that its macros stay out of every file that includes
// this one.
struct _XDisplay;
struct _XGC;
struct _XImage;
union _XEvent;

namespace vurnel {

using XWindowId = unsigned long; // an X window's ID (Xlib's Window)

// What the user does to the controls (control = ToneControl, 0..3; value in the control's own
// units, already clamped). A drag brackets its values with BeginEdit and EndEdit; a wheel notch,
// a key or a double-click's reset is a gesture of one value.
class ToneEditorListener {
public:
    virtual void BeginEdit(int control) = 0;
    virtual void Edit(int control, float value) = 0;
    virtual void EndEdit(int control) = 0;

protected:
    ~ToneEditorListener() = default;
};

struct ToneEditorOptions {
    XWindowId parent = 0; // 0: a top-level window of its own, unmapped until Show
    double scale = 1.0;   // the size and drawing scale (2 for a HiDPI screen)
    double sampleRate = 48000.0;
    const char* title = "MIRVAK_Vurnel"; // a top-level window's name
};

class ToneEditorWindow {
public:
    // Opens its own X connection and creates the window (a child window is mapped at once).
    // Open() tells whether that worked (no display: it did not).
    ToneEditorWindow(const ToneEditorOptions& options, ToneEditorListener* listener);
    ~ToneEditorWindow();
    ToneEditorWindow(const ToneEditorWindow&) = delete;
    ToneEditorWindow& operator=(const ToneEditorWindow&) = delete;

    bool Open() const { return display != nullptr && window != 0; }
    XWindowId Id() const { return window; }
    // The X connection's descriptor, readable when events wait.
    int Descriptor() const;
    int Width() const { return model.Width(); }
    int Height() const { return model.Height(); }
    double Scale() const { return model.Scale(); }
    float Value(int control) const { return model.Value(control); }

    // Whether Xlib holds events already read from the connection (the descriptor no longer
    // announces those): the face should call HandleEvents soon.
    bool EventsQueued() const;
    // A value from the face (automation, a loaded state, another program): shown at once, not
    // reported back as an edit.
    void SetValue(int control, float value);
    // A line of text over the graph (empty: none), e.g. why the editor cannot change anything.
    void SetMessage(const std::string& text);
    // Read-only: the window shows values but takes no input that would change them.
    void SetReadOnly(bool readOnly) { locked = readOnly; }
    // Handles every event waiting on the connection and draws what changed. Returns false once
    // the user closed a top-level window.
    bool HandleEvents();
    void Show();
    void Hide();
    // The face's new size for the window (the window is resized and laid out anew).
    bool Resize(int width, int height);
    // A new drawing scale (the size scales with it).
    void SetScale(double scale);

private:
    void Handle(_XEvent& e);
    void Configure(int width, int height);
    void Invalidate(const EditorRect& r);
    void InvalidateControls(unsigned changed);
    void Report(unsigned changed, bool gesture);
    void BeginDrag();
    void EndDrag();
    void Flush();
    void Put(int x, int y, int w, int h);
    void FreeFrame();

    ToneEditorModel model;
    ToneEditorListener* listener;
    _XDisplay* display = nullptr;
    XWindowId window = 0;
    bool topLevel = false;
    bool closed = false;
    unsigned long deleteWindow = 0; // the WM_DELETE_WINDOW atom
    void* visual = nullptr;         // Xlib's Visual
    int depth = 0;
    _XGC* gc = nullptr;
    cairo_surface_t* surface = nullptr; // the frame, in the client's memory
    _XImage* image = nullptr;           // the same pixels, as Xlib puts them
    std::vector<EditorRect> dirty;
    std::string message;
    bool locked = false;
    unsigned dragControls = 0; // the controls of the gesture a drag holds open
};

} // namespace vurnel
