#include "DesignPlot.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <sstream>

namespace vurnel::host {

namespace {

constexpr double kWidth = 1120, kHeight = 840;
const char* const kCurve = "#1f5fbf";
const char* const kEdge = "#c60";

struct Panel {
    double x, y, w, h; // plot area in pixels
    double fMin, fMax; // frequency axis (log)
    double vMin, vMax; // value axis
    double X(double hz) const { return x + w * std::log(hz / fMin) / std::log(fMax / fMin); }
    double Y(double v) const {
        const double c = std::clamp(v, vMin, vMax);
        return y + h * (vMax - c) / (vMax - vMin);
    }
};

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string HertzLabel(double hz) {
    if (hz >= 1000) return Printf("%gk", hz / 1000);
    return Printf("%g", hz);
}

// Frame, value grid every `step` with `unit`, decade grid on the frequency axis, axis titles.
void DrawAxes(std::ostringstream& svg, const Panel& p, double step, const char* unit,
              const char* yTitle, bool frequencyLabels) {
    for (double v = std::ceil(p.vMin / step) * step; v <= p.vMax + 1e-9; v += step) {
        svg << Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>"
                      "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%g%s</text>\n",
                      p.x, p.Y(v), p.x + p.w, p.Y(v), v == 0 ? "#999" : "#e2e2e2", p.x - 5,
                      p.Y(v) + 4, v, unit);
    }
    for (double decade = std::pow(10.0, std::floor(std::log10(p.fMin))); decade <= p.fMax;
         decade *= 10) {
        for (int m = 1; m < 10; ++m) {
            const double hz = decade * m;
            if (hz < p.fMin || hz > p.fMax) continue;
            svg << Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n",
                          p.X(hz), p.y, p.X(hz), p.y + p.h, m == 1 ? "#d0d0d0" : "#f0f0f0");
            if (frequencyLabels && (m == 1 || m == 2 || m == 5))
                svg << Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>\n",
                              p.X(hz), p.y + p.h + 15, HertzLabel(hz).c_str());
        }
    }
    svg << Printf("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" "
                  "stroke=\"#444\"/>\n",
                  p.x, p.y, p.w, p.h);
    svg << Printf("<text transform=\"translate(%.1f,%.1f) rotate(-90)\" text-anchor=\"middle\">"
                  "%s</text>\n",
                  p.x - 48, p.y + p.h / 2, yTitle);
    if (frequencyLabels)
        svg << Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">frequency (Hz, "
                      "logarithmic)</text>\n",
                      p.x + p.w / 2, p.y + p.h + 32);
}

void DrawCurve(std::ostringstream& svg, const Panel& p, const std::vector<FrequencyPoint>& r,
               long double FrequencyPoint::*field) {
    svg << "<polyline fill=\"none\" stroke=\"" << kCurve << "\" stroke-width=\"1.8\" points=\"";
    for (const auto& point : r) {
        if (!point.reliable && field != &FrequencyPoint::magnitudeDb) continue;
        const double v = static_cast<double>(point.*field);
        if (!std::isfinite(v) && !(std::isinf(v) && v < 0)) continue;
        svg << Printf("%.1f,%.1f ", p.X(static_cast<double>(point.hertz)),
                      p.Y(std::isinf(v) ? p.vMin : v));
    }
    svg << "\"/>\n";
}

// The magnitude of a recursion that cannot run, for comparison: thin, dashed, labelled.
void DrawRecursion(std::ostringstream& svg, const Panel& p, const std::vector<FrequencyPoint>& r) {
    svg << "<polyline fill=\"none\" stroke=\"#999\" stroke-width=\"1\" "
           "stroke-dasharray=\"4,3\" points=\"";
    for (const auto& point : r) {
        const double v = static_cast<double>(point.magnitudeDb);
        if (std::isfinite(v))
            svg << Printf("%.1f,%.1f ", p.X(static_cast<double>(point.hertz)), p.Y(v));
    }
    svg << "\"/>\n";
    svg << Printf("<text x=\"%.1f\" y=\"%.1f\" fill=\"#777\">dashed: the unstable recursion's "
                  "formula, which no filter produces</text>\n",
                  p.x + 6, p.y + p.h - 8);
}

void DrawEdges(std::ostringstream& svg, const Panel& p, const std::vector<double>& edges,
               bool label) {
    for (std::size_t i = 0; i < edges.size(); ++i) {
        const double hz = edges[i];
        if (hz < p.fMin || hz > p.fMax) continue;
        svg << Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
                      "stroke-dasharray=\"5,4\"/>\n",
                      p.X(hz), p.y, p.X(hz), p.y + p.h, kEdge);
        if (label)
            svg << Printf("<text x=\"%.1f\" y=\"%.1f\" fill=\"%s\">f%zu = %g Hz</text>\n",
                          p.X(hz) + 4, p.y + 14 + 14 * static_cast<double>(i), kEdge, i + 1, hz);
    }
}

// Roots closer than this are drawn once, with their count.
std::vector<std::pair<dsp::TComplex, int>> Grouped(const dsp::TComplex* roots, int n) {
    std::vector<std::pair<dsp::TComplex, int>> groups;
    for (int i = 0; i < n; ++i) {
        bool merged = false;
        for (auto& [z, count] : groups) {
            if (std::hypot(static_cast<double>(z.re - roots[i].re),
                           static_cast<double>(z.im - roots[i].im)) < 1e-6) {
                ++count;
                merged = true;
                break;
            }
        }
        if (!merged) groups.emplace_back(roots[i], 1);
    }
    return groups;
}

void DrawPoleZero(std::ostringstream& svg, const dsp::TdspIIRFilter& f, double x0, double y0,
                  double size) {
    double reach = 1.25;
    for (int i = 0; i < f.GetZNumPoles(); ++i)
        reach = std::max(reach, 1.1 * std::hypot(static_cast<double>(f.GetZPoles()[i].re),
                                                 static_cast<double>(f.GetZPoles()[i].im)));
    for (int i = 0; i < f.GetZNumZeros(); ++i)
        reach = std::max(reach, 1.1 * std::hypot(static_cast<double>(f.GetZZeros()[i].re),
                                                 static_cast<double>(f.GetZZeros()[i].im)));
    const double cx = x0 + size / 2, cy = y0 + size / 2, scale = size / 2 / reach;
    svg << Printf("<text x=\"%.1f\" y=\"%.1f\" font-size=\"14\" text-anchor=\"middle\">poles (x) "
                  "and zeros (o), z-plane</text>\n",
                  cx, y0 - 12);
    svg << Printf("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" "
                  "stroke=\"#444\"/>\n",
                  x0, y0, size, size);
    svg << Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ccc\"/>"
                  "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#ccc\"/>\n",
                  x0, cy, x0 + size, cy, cx, y0, cx, y0 + size);
    svg << Printf("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" fill=\"none\" stroke=\"#888\" "
                  "stroke-dasharray=\"4,3\"/>\n",
                  cx, cy, scale);
    svg << Printf("<text x=\"%.1f\" y=\"%.1f\" fill=\"#888\">unit circle</text>\n",
                  cx + scale * 0.72 + 4, cy - scale * 0.72 - 4);
    svg << Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">real</text>"
                  "<text transform=\"translate(%.1f,%.1f) rotate(-90)\" text-anchor=\"middle\">"
                  "imaginary</text>\n",
                  cx, y0 + size + 18, x0 - 10, cy);
    svg << Printf("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">-1</text>"
                  "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">+1</text>\n",
                  cx - scale, cy + 14, cx + scale, cy + 14);
    auto count = [&](double px, double py, int n) {
        if (n > 1)
            svg << Printf("<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\">%d</text>\n", px + 7,
                          py - 6, n);
    };
    for (const auto& [z, n] : Grouped(f.GetZZeros(), f.GetZNumZeros())) {
        const double px = cx + scale * static_cast<double>(z.re);
        const double py = cy - scale * static_cast<double>(z.im);
        svg << Printf("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"5\" fill=\"none\" stroke=\"#2a9d4b\" "
                      "stroke-width=\"1.6\"/>\n",
                      px, py);
        count(px, py, n);
    }
    for (const auto& [z, n] : Grouped(f.GetZPoles(), f.GetZNumPoles())) {
        const double px = cx + scale * static_cast<double>(z.re);
        const double py = cy - scale * static_cast<double>(z.im);
        svg << Printf("<path d=\"M%.1f %.1f l10 10 m0 -10 l-10 10\" stroke=\"#c0392b\" "
                      "stroke-width=\"1.8\"/>\n",
                      px - 5, py - 5);
        count(px, py, n);
    }
}

} // namespace

std::string DesignSvg(const dsp::TdspIIRFilter& f, const std::vector<FrequencyPoint>& r,
                      const std::string& title, const std::string& note,
                      const std::vector<FrequencyPoint>& recursion) {
    std::ostringstream svg;
    svg << Printf("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" height=\"%g\" "
                  "font-family=\"sans-serif\" font-size=\"12\">\n"
                  "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
                  kWidth, kHeight);
    svg << Printf("<text x=\"70\" y=\"28\" font-size=\"17\">%s</text>\n", title.c_str());
    if (!note.empty())
        svg << Printf("<text x=\"70\" y=\"46\" fill=\"#c0392b\">%s</text>\n", note.c_str());
    const double fMin = r.empty() ? 1 : static_cast<double>(r.front().hertz);
    const double fMax = r.empty() ? 2 : static_cast<double>(r.back().hertz);
    std::vector<double> edges{static_cast<double>(f.GetFrequency(1))};
    const bool band = f.GetResponse() == dsp::ftBandpass || f.GetResponse() == dsp::ftBandstop;
    if (band) edges.push_back(static_cast<double>(f.GetFrequency(2)));

    // Magnitude: from 10 dB above the peak down at most 120 dB.
    double peak = -300, floorDb = 300;
    for (const auto& p : r) {
        if (std::isfinite(static_cast<double>(p.magnitudeDb))) {
            peak = std::max(peak, static_cast<double>(p.magnitudeDb));
            floorDb = std::min(floorDb, static_cast<double>(p.magnitudeDb));
        }
    }
    const double top = std::max(10.0, std::ceil(peak / 10) * 10 + 10);
    const double bottom = std::max(std::floor(floorDb / 10) * 10, top - 130);
    const Panel magnitude{80, 60, 640, 250, fMin, fMax, bottom, top};
    DrawAxes(svg, magnitude, (top - bottom) > 60 ? 20 : 10, "", "magnitude (dB)", true);
    svg << Printf("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#7b3fb5\" "
                  "stroke-dasharray=\"2,3\"/><text x=\"%.1f\" y=\"%.1f\" fill=\"#7b3fb5\" "
                  "text-anchor=\"end\">-3 dB</text>\n",
                  magnitude.x, magnitude.Y(-3), magnitude.x + magnitude.w, magnitude.Y(-3),
                  magnitude.x + magnitude.w - 4, magnitude.Y(-3) - 4);
    DrawEdges(svg, magnitude, edges, true);
    if (!recursion.empty()) DrawRecursion(svg, magnitude, recursion);
    DrawCurve(svg, magnitude, r, &FrequencyPoint::magnitudeDb);

    const Panel phase{80, 360, 640, 170, fMin, fMax, -180, 180};
    DrawAxes(svg, phase, 90, "°", "phase (degrees)", true);
    DrawEdges(svg, phase, edges, false);
    DrawCurve(svg, phase, r, &FrequencyPoint::phaseDegrees);

    // Group delay: up to 1.5 times the 95th percentile, so the spikes at zeros on the unit
    // circle do not flatten the rest.
    std::vector<double> delays;
    for (const auto& p : r)
        if (p.reliable && std::isfinite(static_cast<double>(p.groupDelay)))
            delays.push_back(static_cast<double>(p.groupDelay));
    std::sort(delays.begin(), delays.end());
    const double high = delays.empty() ? 1 : delays[delays.size() * 95 / 100];
    const double low = delays.empty() ? 0 : delays.front();
    double gdMax = std::max(1.0, std::ceil(high * 1.5));
    double gdMin = std::min(0.0, std::floor(low));
    const double span = gdMax - gdMin;
    const double step = span > 200  ? 50
                        : span > 80 ? 20
                        : span > 40 ? 10
                        : span > 16 ? 5
                        : span > 6  ? 2
                                    : 1;
    const Panel delay{80, 590, 640, 170, fMin, fMax, gdMin, gdMax};
    DrawAxes(svg, delay, step, "", "group delay (samples)", true);
    DrawEdges(svg, delay, edges, false);
    DrawCurve(svg, delay, r, &FrequencyPoint::groupDelay);

    DrawPoleZero(svg, f, 790, 90, 300);
    // The settings, under the pole/zero plot.
    double y = 440;
    auto line = [&](const std::string& text) {
        svg << Printf("<text x=\"790\" y=\"%.1f\">%s</text>\n", y, text.c_str());
        y += 18;
    };
    line("kind: " + KindName(f.GetKind()) + ", response: " + ResponseName(f.GetResponse()));
    line(Printf("order %d, %d poles, %d zeros", static_cast<int>(f.GetOrder()), f.GetZNumPoles(),
                f.GetZNumZeros()));
    line(Printf("f1 %.6Lg Hz", f.GetFrequency(1)) +
         (band ? Printf(", f2 %.6Lg Hz", f.GetFrequency(2)) : ""));
    line(Printf("sample rate %.6Lg Hz (Nyquist %.6Lg Hz)", f.GetSampleRate(),
                f.GetSampleRate() / 2));
    if (f.GetKind() == dsp::fkChebyshev || f.GetKind() == dsp::fkElliptic)
        line(Printf("ripple %.4Lg dB", f.GetRipple()));
    if (f.GetKind() == dsp::fkChebyshev2 || f.GetKind() == dsp::fkElliptic)
        line(Printf("attenuation %.4Lg dB", f.GetAttenuation()));
    if (f.GetResponse() == dsp::ftLowShelf || f.GetResponse() == dsp::ftHighShelf)
        line(Printf("shelf gain %.4Lg dB", f.GetGain()));
    line(Printf("gain factor %.6Lg", f.GetGainFactor()));
    // The design's own faults; the line about an unstable recursion becomes a line of its own.
    const std::string& error = f.GetErrorText();
    const std::size_t unstable = error.find("Recursion unstable:");
    if (unstable != 0 && !error.empty()) line("design fault: " + error.substr(0, unstable));
    if (!f.IsStable())
        line(Printf("recursion unstable: largest root |z| = %.10Lg", f.LargestRootMagnitude()));
    svg << "</svg>\n";
    return svg.str();
}

} // namespace vurnel::host
