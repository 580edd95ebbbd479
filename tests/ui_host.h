// A small LV2 UI host of the project's own for the X11 editor tests: it loads a UI module, gives
// it a parent window, ui:resize and the options a host passes (sample rate, scale factor), records
// what the UI writes, sends port events, takes screenshots with XGetImage and sends input with
// XTest on its own connection to the X server.
#pragma once

#include <X11/Xlib.h>
#include <lv2/ui/ui.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vurnel::test {

struct Screenshot {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels; // 0xRRGGBB, row by row
    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    void WritePng(const std::string& path) const;
};

// Errors the X server reported to any connection of this process (the UI's included).
int XErrorsSeen();

class UiHost {
public:
    // Opens the UI of `pluginUri` from the module in a parent window of its own (or none, for a
    // top-level window of the UI's own). Throws std::runtime_error when anything fails.
    UiHost(const std::string& module, const std::string& bundle, double scale,
           double sampleRate = 48000.0, bool withParent = true);
    ~UiHost();
    UiHost(const UiHost&) = delete;
    UiHost& operator=(const UiHost&) = delete;

    Display* X() const { return display; }
    Window Parent() const { return parent; }
    Window Widget() const { return widget; }
    // The size the UI asked for through ui:resize.
    std::pair<int, int> Requested() const { return requested; }
    std::pair<int, int> WidgetSize() const;

    struct Write {
        std::uint32_t port;
        float value;
    };
    std::vector<Write> writes;

    // Lets the UI handle what has arrived (the host's idle calls), a few times over.
    int Pump();
    // One idle call, as a host makes one a frame.
    int IdleOnce();
    void PortEvent(std::uint32_t port, float value);
    // The UI's own resize (extension data), as a host that sizes the editor calls it.
    int ResizeUi(int width, int height);
    const void* ExtensionData(const char* uri) const;

    Screenshot Shoot() const;

    // Input through XTest, in the widget's coordinates.
    void MoveTo(double x, double y);
    void Button(unsigned button, bool down);
    void Click(double x, double y);
    void Drag(double x0, double y0, double x1, double y1, bool shift = false);
    void Wheel(double x, double y, unsigned button, int notches, bool shift = false);
    void Key(unsigned long keysym, bool shift = false);
    void Shift(bool down);

private:
    static void WriteFunction(LV2UI_Controller controller, std::uint32_t port, std::uint32_t size,
                              std::uint32_t format, const void* buffer);
    static int HostResize(LV2UI_Feature_Handle handle, int width, int height);

    void* library = nullptr;
    const LV2UI_Descriptor* descriptor = nullptr;
    LV2UI_Handle ui = nullptr;
    Display* display = nullptr;
    Window parent = 0;
    Window widget = 0;
    std::pair<int, int> requested{0, 0};
};

} // namespace vurnel::test
