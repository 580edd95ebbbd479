#include "Response.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <sstream>

namespace vurnel::host {

std::vector<ResponsePoint> MeasureResponse(const VstInstance& instance, float sampleRate,
                                           int points) {
    // One second: far longer than a 50 Hz first-order section takes to die away (~0.1 s).
    const int length = static_cast<int>(sampleRate);
    const int block = 512;
    std::vector<float> in(length, 0.0f), left(length), right(length);
    in[0] = 1.0f;
    for (int at = 0; at < length; at += block) {
        float* inputs[] = {in.data() + at, in.data() + at};
        float* outputs[] = {left.data() + at, right.data() + at};
        instance.Process(inputs, outputs, std::min(block, length - at), false);
    }
    std::vector<ResponsePoint> response;
    const double top = sampleRate * 0.5 * 0.999;
    for (int k = 0; k < points; ++k) {
        const double hz = 20.0 * std::pow(top / 20.0, k / double(points - 1));
        const double w = 2.0 * M_PI * hz / sampleRate;
        std::complex<double> l = 0, r = 0, e = 1;
        const std::complex<double> step = std::polar(1.0, -w);
        for (int n = 0; n < length; ++n) {
            l += static_cast<double>(left[n]) * e;
            r += static_cast<double>(right[n]) * e;
            e *= step;
            if ((n & 1023) == 1023) e = std::polar(1.0, -w * (n + 1)); // no drift
        }
        response.push_back({hz, 20.0 * std::log10(std::abs(l)), 20.0 * std::log10(std::abs(r))});
    }
    return response;
}

std::vector<std::pair<std::string, double>> CutoffMarks(const VstInstance& instance) {
    std::vector<std::pair<std::string, double>> marks;
    for (int i = 0; i < instance.NumParams(); ++i) {
        std::string label = instance.ParameterLabel(i);
        label.erase(std::remove(label.begin(), label.end(), ' '), label.end());
        if (label != "Hz") continue;
        std::string text = instance.ParameterDisplay(i);
        std::replace(text.begin(), text.end(), ',', '.');
        char* end = nullptr;
        const double hz = std::strtod(text.c_str(), &end);
        if (end != text.c_str() && hz > 0) marks.emplace_back(instance.ParameterName(i), hz);
    }
    return marks;
}

std::string ResponseCsv(const std::vector<ResponsePoint>& response) {
    std::ostringstream out;
    out << "hertz,left_db,right_db\n";
    char line[96];
    for (const auto& p : response) {
        std::snprintf(line, sizeof line, "%.3f,%.4f,%.4f\n", p.hertz, p.leftDb, p.rightDb);
        out << line;
    }
    return out.str();
}

std::string ResponseSvg(const std::vector<ResponsePoint>& response,
                        const std::vector<std::pair<std::string, double>>& marks,
                        const std::string& title) {
    const double width = 800, height = 420, left = 60, right = 20, top = 40, bottom = 50;
    const double plotW = width - left - right, plotH = height - top - bottom;
    const double fMin = 20, fMax = response.empty() ? 20000 : response.back().hertz;
    double dbMin = -24, dbMax = 24;
    for (const auto& p : response) {
        dbMin = std::min({dbMin, std::floor(p.leftDb / 6) * 6, std::floor(p.rightDb / 6) * 6});
        dbMax = std::max({dbMax, std::ceil(p.leftDb / 6) * 6, std::ceil(p.rightDb / 6) * 6});
    }
    auto x = [&](double hz) { return left + plotW * std::log(hz / fMin) / std::log(fMax / fMin); };
    auto y = [&](double db) { return top + plotH * (dbMax - db) / (dbMax - dbMin); };
    std::ostringstream svg;
    char buf[256];
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    std::snprintf(buf, sizeof buf, "<text x=\"%g\" y=\"24\" font-size=\"15\">%s</text>\n", left,
                  title.c_str());
    svg << buf;
    for (double db = std::ceil(dbMin / 6) * 6; db <= dbMax; db += 6) {
        std::snprintf(buf, sizeof buf,
                      "<line x1=\"%g\" y1=\"%.1f\" x2=\"%g\" y2=\"%.1f\" stroke=\"%s\"/>"
                      "<text x=\"%g\" y=\"%.1f\" text-anchor=\"end\">%+g dB</text>\n",
                      left, y(db), left + plotW, y(db), db == 0 ? "#888" : "#ddd", left - 6,
                      y(db) + 4, db);
        svg << buf;
    }
    for (double decade = 10; decade < fMax * 10; decade *= 10) {
        for (int m = 1; m < 10; ++m) {
            const double hz = decade * m;
            if (hz < fMin || hz > fMax) continue;
            std::snprintf(buf, sizeof buf,
                          "<line x1=\"%.1f\" y1=\"%g\" x2=\"%.1f\" y2=\"%g\" stroke=\"#eee\"/>\n",
                          x(hz), top, x(hz), top + plotH);
            svg << buf;
            if (m == 1 || m == 2 || m == 5) {
                std::snprintf(buf, sizeof buf,
                              "<text x=\"%.1f\" y=\"%g\" text-anchor=\"middle\">%g%s</text>\n",
                              x(hz), top + plotH + 18, hz >= 1000 ? hz / 1000 : hz,
                              hz >= 1000 ? "k" : "");
                svg << buf;
            }
        }
    }
    std::snprintf(buf, sizeof buf,
                  "<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">frequency (Hz)</text>\n",
                  left + plotW / 2, height - 8);
    svg << buf;
    for (const auto& [name, hz] : marks) {
        if (hz < fMin || hz > fMax) continue;
        std::snprintf(buf, sizeof buf,
                      "<line x1=\"%.1f\" y1=\"%g\" x2=\"%.1f\" y2=\"%g\" stroke=\"#c60\" "
                      "stroke-dasharray=\"5,4\"/><text x=\"%.1f\" y=\"%g\" fill=\"#c60\">%s "
                      "%g Hz</text>\n",
                      x(hz), top, x(hz), top + plotH, x(hz) + 4, top + 14, name.c_str(), hz);
        svg << buf;
    }
    auto path = [&](bool leftChannel, const char* colour, const char* dash) {
        svg << "<polyline fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"2\" "
            << "stroke-dasharray=\"" << dash << "\" points=\"";
        for (const auto& p : response) {
            std::snprintf(buf, sizeof buf, "%.1f,%.1f ", x(p.hertz),
                          y(leftChannel ? p.leftDb : p.rightDb));
            svg << buf;
        }
        svg << "\"/>\n";
    };
    path(true, "#1f5fbf", "none");
    path(false, "#2a9d4b", "6,4");
    std::snprintf(buf, sizeof buf,
                  "<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"none\" "
                  "stroke=\"#444\"/>\n<text x=\"%g\" y=\"%g\" fill=\"#1f5fbf\">left</text>"
                  "<text x=\"%g\" y=\"%g\" fill=\"#2a9d4b\">right (dashed)</text>\n</svg>\n",
                  left, top, plotW, plotH, left + plotW - 130, top + plotH - 10, left + plotW - 90,
                  top + plotH - 10);
    svg << buf;
    return svg.str();
}

} // namespace vurnel::host
