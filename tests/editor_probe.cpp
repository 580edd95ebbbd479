// The editor measured and photographed under Xvfb (not a test):
//   editor_probe shot OUT.png SCALE   a screenshot with a few settings made, as in the README
//   editor_probe measure              the editor's CPU over 10 s with nothing moving (the host
//                                     calling idle 60 times a second) and the time a full
//                                     frame takes at 2x
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "ToneEditorModel.h"
#include "ToneEditorView.h"
#include "ui_host.h"

namespace {

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Settle(vurnel::test::UiHost& host) {
    host.PortEvent(4, 120.0f);
    host.PortEvent(5, 4500.0f);
    host.PortEvent(6, 6.0f);
    host.PortEvent(7, -4.0f);
    host.Pump();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: editor_probe shot OUT.png SCALE | measure\n");
        return 2;
    }
    try {
        const std::string what = argv[1];
        if (what == "shot" && argc == 4) {
            vurnel::test::UiHost host(VURNEL_UI_MODULE, VURNEL_UI_BUNDLE, std::atof(argv[3]));
            Settle(host);
            host.Shoot().WritePng(argv[2]);
            return 0;
        }
        if (what != "measure") return 2;
        {
            vurnel::test::UiHost host(VURNEL_UI_MODULE, VURNEL_UI_BUNDLE, 1.0);
            Settle(host);
            const double cpu0 = CpuSeconds(), t0 = Now();
            int calls = 0;
            while (Now() - t0 < 10.0) {
                host.IdleOnce();
                ++calls;
                usleep(1000000 / 60);
            }
            const double cpu = CpuSeconds() - cpu0, wall = Now() - t0;
            std::printf("idle: %.3f %% CPU over %.1f s (%d idle calls)\n", 100.0 * cpu / wall, wall,
                        calls);
        }
        {
            // A full frame at 2x as the editor makes one: the whole editor drawn by cairo into
            // an image after a change of a gain (so the curve is computed anew), put into a
            // pixmap on the server, until the server has it.
            Display* d = XOpenDisplay(nullptr);
            if (d == nullptr) throw std::runtime_error("no X display");
            const int w = 2 * vurnel::ToneEditorModel::kBaseWidth;
            const int h = 2 * vurnel::ToneEditorModel::kBaseHeight;
            const int screen = DefaultScreen(d);
            const unsigned depth = static_cast<unsigned>(DefaultDepth(d, screen));
            Pixmap p = XCreatePixmap(d, RootWindow(d, screen), w, h, depth);
            GC gc = XCreateGC(d, p, 0, nullptr);
            cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
            XImage* image = XCreateImage(d, DefaultVisual(d, screen), depth, ZPixmap, 0,
                                         reinterpret_cast<char*>(cairo_image_surface_get_data(s)),
                                         w, h, 32, cairo_image_surface_get_stride(s));
            vurnel::ToneEditorModel model(48000.0);
            model.Layout(w, h, 2.0);
            std::vector<double> times;
            for (int i = 0; i < 200; ++i) {
                const double t = Now();
                model.SetValue(2, i % 2 == 0 ? 6.0f : -3.0f);
                cairo_t* cr = cairo_create(s);
                vurnel::DrawToneEditor(cr, model, {0, 0, double(w), double(h)});
                cairo_destroy(cr);
                cairo_surface_flush(s);
                XPutImage(d, p, gc, image, 0, 0, 0, 0, w, h);
                XSync(d, False);
                times.push_back(Now() - t);
            }
            std::sort(times.begin(), times.end());
            std::printf("full frame at 2x (%dx%d): median %.2f ms, max %.2f ms\n", w, h,
                        1e3 * times[times.size() / 2], 1e3 * times.back());
            image->data = nullptr;
            XDestroyImage(image);
            cairo_surface_destroy(s);
            XFreeGC(d, gc);
            XFreePixmap(d, p);
            XCloseDisplay(d);
        }
        {
            // What a host's change costs in the UI at 2x: the graph and one knob, on the screen.
            vurnel::test::UiHost host(VURNEL_UI_MODULE, VURNEL_UI_BUNDLE, 2.0);
            std::vector<double> times;
            for (int i = 0; i < 200; ++i) {
                const double t = Now();
                host.PortEvent(6, i % 2 == 0 ? 6.0f : -3.0f);
                times.push_back(Now() - t);
            }
            std::sort(times.begin(), times.end());
            std::printf("port event at 2x (graph and knob redrawn): median %.2f ms, max %.2f ms\n",
                        1e3 * times[times.size() / 2], 1e3 * times.back());
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "editor_probe: %s\n", e.what());
        return 1;
    }
}
