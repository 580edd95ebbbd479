#include "FilterDesign.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>

#include "dspExtended.h"
#include "dspResponse.h"
#include "dspSections.h"

namespace vurnel::host {

namespace {

bool UsesRipple(dsp::TdspIIRFilterKind kind) {
    return kind == dsp::fkChebyshev || kind == dsp::fkElliptic;
}
bool UsesAttenuation(dsp::TdspIIRFilterKind kind) {
    return kind == dsp::fkChebyshev2 || kind == dsp::fkElliptic;
}

std::string Format(const char* format, long double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Number(long double value) {
    return Format("%.21Lg", value);
}

std::string Hertz(long double value) {
    return Format("%.10Lg", value) + " Hz";
}

std::string ComplexText(const dsp::TComplex& z) {
    char text[128];
    std::snprintf(text, sizeof text, "%+.21Lg %+.21Lgj", z.re, z.im);
    return text;
}

void ListRoots(std::ostringstream& out, const char* what, const dsp::TComplex* roots, int n) {
    out << what << " (" << n << ")" << (n ? ":" : "") << "\n";
    for (int i = 0; i < n; ++i)
        out << "  " << ComplexText(roots[i]) << "\n";
}

const char* RoutineName(dsp::TdspSampleRoutine routine) {
    switch (routine) {
    case dsp::TdspSampleRoutine::FilterSample:
        return "FilterSample (the recursion below)";
    case dsp::TdspSampleRoutine::Silence:
        return "Silence (every output is 0)";
    case dsp::TdspSampleRoutine::PassThrough:
    default:
        return "PassThrough (every output is its input)";
    }
}

} // namespace

DesignRequest ParseDesignArguments(const std::vector<std::string>& args) {
    DesignRequest r;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) throw DesignError(option + " needs a value");
            return args[++i];
        };
        if (option == "--kind") {
            r.kind = KindNamed(value());
        } else if (option == "--response") {
            r.response = ResponseNamed(value());
        } else if (option == "--order") {
            const std::string v = value();
            r.order = CheckedOrder(ParseNumber(option, v), v);
        } else if (option == "--f1") {
            r.f1 = ParseNumber(option, value());
        } else if (option == "--f2") {
            r.f2 = ParseNumber(option, value());
            r.f2Given = true;
        } else if (option == "--rate") {
            const std::string v = value();
            r.rate = ParseNumber(option, v);
            CheckRate(r.rate, v);
        } else if (option == "--ripple") {
            r.ripple = ParseNumber(option, value());
        } else if (option == "--attenuation") {
            r.attenuation = ParseNumber(option, value());
            r.attenuationGiven = true;
        } else if (option == "--gain") {
            r.gain = ParseNumber(option, value());
            r.gainGiven = true;
        } else if (option == "--out") {
            r.svg = value();
        } else if (option == "--csv") {
            r.csv = value();
        } else if (option == "--sections") {
            r.sections = true;
        } else if (option == "--impulse") {
            const std::string v = value();
            const long double n = ParseNumber(option, v);
            if (n != std::floor(n) || n < 0 || n > 1000000)
                throw DesignError("--impulse '" + v + "' must be a whole number from 0 to 1000000");
            r.impulse = static_cast<int>(n);
        } else {
            throw DesignError("unknown option '" + option + "' for design");
        }
    }
    CheckDesignSettings(r, "--");
    return r;
}

namespace {

// A response at `points` log-spaced frequencies from Nyquist/10⁴ to 0.9999·Nyquist; `evaluate`
// gives the value at w radians per sample, and `rounding` scales its condition into a relative
// error bound.
template <typename Evaluate>
std::vector<FrequencyPoint> Curve(long double rate, int points, long double rounding,
                                  Evaluate evaluate) {
    const long double nyquist = rate / 2.0L;
    const long double low = nyquist * 1e-4L, high = nyquist * 0.9999L;
    std::vector<FrequencyPoint> out;
    for (int i = 0; i < points; ++i) {
        const long double f =
            low * std::pow(high / low, static_cast<long double>(i) / (points - 1));
        const long double w = AngularFrequency(f, rate);
        const dsp::TdspResponseValue v = evaluate(w);
        long double phase = std::atan2(v.H.im, v.H.re) * 180.0L / dsp::Pi;
        if (phase <= -180.0L) phase += 360.0L;
        out.push_back({f, 20.0L * std::log10(std::hypot(v.H.re, v.H.im)), phase, v.GroupDelay,
                       v.Condition * rounding < 1e-3L});
    }
    return out;
}

// The first n outputs for a unit impulse from a filter's or a cascade's own per-sample routine.
template <typename Runner> std::vector<long double> FirstOutputs(Runner& runner, int n) {
    std::vector<long double> out;
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        out.push_back(runner.ProcessSample(i == 0 ? 1.0L : 0.0L));
    return out;
}

} // namespace

std::vector<FrequencyPoint> FrequencyResponse(const dsp::TdspIIRFilter& filter, int points) {
    dsp::TdspIIRDesignSnapshot design;
    filter.TakeDesignSnapshot(design);
    // The condition is already a bound in units of the extended format's rounding.
    return Curve(filter.GetSampleRate(), points, 0x1p-64L,
                 [&](long double w) { return dsp::RecursionResponse(design, w); });
}

std::vector<long double> ImpulseResponse(dsp::TdspIIRFilter& filter, int n) {
    return FirstOutputs(filter, n);
}

std::vector<FrequencyPoint> SectionsFrequencyResponse(const dsp::TdspIIRSections& sections,
                                                      long double rate, int points) {
    // Three terms over three per sum.
    return Curve(rate, points, 0x1p-64L * 6.0L,
                 [&](long double w) { return dsp::SectionsResponse(sections, w); });
}

std::vector<long double> ImpulseResponse(dsp::TdspIIRSections& sections, int n) {
    return FirstOutputs(sections, n);
}

std::string StabilityText(const dsp::TdspIIRFilter& f) {
    if (f.GetRoutine() != dsp::TdspSampleRoutine::FilterSample)
        return "not run (the routine needs no recursion)";
    if (f.IsStable()) return "stable";
    return "unstable (largest root |z| = " + Format("%.10Lg", f.LargestRootMagnitude()) + ")";
}

long double RootShift(const dsp::TdspIIRFilter& f) {
    const int n = f.GetNumTaps();
    dsp::TComplex roots[dsp::MaxPoleZero];
    f.RecursionRoots(roots);
    const dsp::TComplex* poles = f.GetZPoles();
    long double worst = 0.0L;
    for (int i = 0; i < n; ++i) {
        long double toPole = INFINITY, toRoot = INFINITY;
        for (int j = 0; j < n; ++j) {
            toPole = std::fmin(toPole, dsp::CAbs(dsp::CSub(roots[i], poles[j])));
            toRoot = std::fmin(toRoot, dsp::CAbs(dsp::CSub(poles[i], roots[j])));
        }
        worst = std::fmax(worst, std::fmax(toPole, toRoot));
    }
    return worst;
}

std::string SectionsReport(const dsp::TdspIIRSections& s, const std::vector<long double>& impulse) {
    std::ostringstream out;
    char line[200];
    out << "\nsecond-order sections, M = " << s.GetNumSections()
        << ", run in this order (the poles nearest the unit circle last):\n"
        << "  y[n] = B0*x[n] + B1*x[n-1] + B2*x[n-2] - A1*y[n-1] - A2*y[n-2], each section's y "
           "the next one's x\n";
    std::snprintf(line, sizeof line, "  %2s  %26s  %26s  %26s  %26s  %26s\n", "i", "B0", "B1", "B2",
                  "A1", "A2");
    out << line;
    for (int i = 0; i < s.GetNumSections(); ++i) {
        const dsp::TdspBiquad& q = s.GetSection(i);
        std::snprintf(line, sizeof line, "  %2d  %26s  %26s  %26s  %26s  %26s\n", i,
                      Number(q.B0).c_str(), Number(q.B1).c_str(), Number(q.B2).c_str(),
                      Number(q.A1).c_str(), Number(q.A2).c_str());
        out << line;
    }
    out << "  gain (the product of B0) = " << Number(s.GetGain()) << "\n"
        << "  sections " << (s.IsStable() ? "stable" : "UNSTABLE") << "\n";
    if (!impulse.empty()) {
        out << "\nimpulse response of the sections (" << impulse.size()
            << " samples; exact value in hex)\n";
        for (std::size_t i = 0; i < impulse.size(); ++i) {
            std::snprintf(line, sizeof line, "  %4zu  %+.21Lg  %La\n", i, impulse[i], impulse[i]);
            out << line;
        }
    }
    return out.str();
}

std::string DesignTitle(const dsp::TdspIIRFilter& f) {
    std::string title = KindName(f.GetKind()) + " " + ResponseName(f.GetResponse()) + ", order " +
                        std::to_string(f.GetOrder()) + ", ";
    if (IsBand(f.GetResponse()))
        title +=
            Format("%.6Lg", f.GetFrequency(1)) + "–" + Format("%.6Lg", f.GetFrequency(2)) + " Hz";
    else
        title += Format("%.6Lg", f.GetFrequency(1)) + " Hz";
    title += " at " + Format("%.6Lg", f.GetSampleRate()) + " Hz";
    if (UsesRipple(f.GetKind())) title += ", ripple " + Format("%.4Lg", f.GetRipple()) + " dB";
    if (UsesAttenuation(f.GetKind()))
        title += ", attenuation " + Format("%.4Lg", f.GetAttenuation()) + " dB";
    if (IsShelf(f.GetResponse())) title += ", gain " + Format("%.4Lg", f.GetGain()) + " dB";
    title[0] = static_cast<char>(title[0] - 'a' + 'A');
    return title;
}

std::string DesignReport(const dsp::TdspIIRFilter& f, const DesignRequest& r,
                         const std::vector<long double>& impulse) {
    const bool band = IsBand(f.GetResponse());
    std::ostringstream out;
    out << DesignTitle(f) << "\n\nsettings as stored\n"
        << "  kind        " << KindName(f.GetKind()) << "\n"
        << "  response    " << ResponseName(f.GetResponse()) << "\n"
        << "  order       " << static_cast<int>(f.GetOrder()) << "\n"
        << "  f1          " << Hertz(f.GetFrequency(1)) << "\n"
        << "  f2          "
        << (band ? Hertz(f.GetFrequency(2)) : "not used by " + ResponseName(f.GetResponse()))
        << "\n"
        << "  rate        " << Hertz(f.GetSampleRate()) << "\n"
        << "  ripple      " << Format("%.10Lg", f.GetRipple()) << " dB"
        << (UsesRipple(f.GetKind()) ? "" : "  (used by Chebyshev and elliptic filters only)")
        << "\n";
    // Attenuation and gain where the design uses them or they were asked for.
    if (UsesAttenuation(f.GetKind()) || r.attenuationGiven)
        out << "  attenuation " << Format("%.10Lg", f.GetAttenuation()) << " dB"
            << (UsesAttenuation(f.GetKind()) ? ""
                                             : "  (used by Chebyshev2 and elliptic filters only)")
            << "\n";
    if (IsShelf(f.GetResponse()) || r.gainGiven)
        out << "  gain        " << Format("%.10Lg", f.GetGain()) << " dB"
            << (IsShelf(f.GetResponse()) ? "" : "  (used by shelves only)") << "\n";
    for (const std::string& line : StorageNotes(f, r))
        out << "  note: " << line << "\n";
    out << "\nroutine     " << RoutineName(f.GetRoutine()) << "\n"
        << "recursion   " << StabilityText(f) << "\n";
    if (f.GetRoutine() == dsp::TdspSampleRoutine::FilterSample) {
        out << "            its roots lie within " << Format("%.3Lg", RootShift(f))
            << " of the design's z-plane poles\n";
        if (!f.IsStable())
            out << "            its output grows without bound; the second-order sections run "
                   "this design (--sections)\n";
    }
    out << "\n";
    ListRoots(out, "s-plane poles", f.GetSPoles(), f.GetSNumPoles());
    ListRoots(out, "s-plane zeros", f.GetSZeros(), f.GetSNumZeros());
    ListRoots(out, "z-plane poles", f.GetZPoles(), f.GetZNumPoles());
    ListRoots(out, "z-plane zeros", f.GetZZeros(), f.GetZNumZeros());
    const int n = f.GetNumTaps();
    out << "\ngain factor g = " << Number(f.GetGainFactor()) << "\n"
        << "recursion, N = " << n
        << ": y[n] = g*x[n] + sum over k < N of (xc[k]*g*x[n-N+k] + yc[k]*y[n-N+k])\n";
    char line[160];
    std::snprintf(line, sizeof line, "  %2s  %29s  %29s\n", "k", "xc[k]", "yc[k]");
    out << line;
    for (int k = 0; k < n; ++k) {
        std::snprintf(line, sizeof line, "  %2d  %29s  %29s\n", k,
                      Number(f.GetXCoeffs()[k]).c_str(), Number(f.GetYCoeffs()[k]).c_str());
        out << line;
    }
    if (!f.GetErrorText().empty()) out << "\nErrorText: " << f.GetErrorText() << "\n";
    if (!impulse.empty()) {
        out << "\nimpulse response (" << impulse.size()
            << " samples, the library's ProcessSample; exact value in hex)\n";
        for (std::size_t i = 0; i < impulse.size(); ++i) {
            std::snprintf(line, sizeof line, "  %4zu  %+.21Lg  %La\n", i, impulse[i], impulse[i]);
            out << line;
        }
    }
    return out.str();
}

std::string FrequencyCsv(const std::vector<FrequencyPoint>& response, const std::string& note) {
    std::ostringstream out;
    out << "hertz,magnitude_db,phase_degrees,group_delay_samples\n";
    char line[160];
    for (const auto& p : response) {
        std::snprintf(line, sizeof line, "%.17Lg,%.17Lg,%.17Lg,%.17Lg\n", p.hertz, p.magnitudeDb,
                      p.phaseDegrees, p.groupDelay);
        out << line;
    }
    if (!note.empty()) out << "# " << note << "\n";
    return out.str();
}

} // namespace vurnel::host
