// vurnel: a small command-line VST 2 host. Renders audio files through a plug-in, draws its
// response, shows its parameters, and runs a demonstration of the tone control.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "AudioFile.h"
#include "AudioStream.h"
#include "DesignPlot.h"
#include "Desktop.h"
#include "FilterDesign.h"
#include "RenderStream.h"
#include "Response.h"
#include "ToneOptions.h"
#include "ToneResponse.h"
#include "VstHost.h"
#include "dspSections.h"

using namespace vurnel;
using namespace vurnel::host;

namespace {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::vector<std::string> positional;
    std::string plugin;
    std::vector<std::pair<std::string, std::string>> settings;
    std::string out;
    int block = 512;
    float rate = 44100.0f;
    bool accumulate = false;
    ToneSettings tone;
    std::string format, bits;
    bool dither = false, quiet = false, measure = false;
};

float ParseNumber(const std::string& text, const std::string& what) {
    char* end = nullptr;
    errno = 0;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value))
        throw UsageError(what + " '" + text + "' is not a number");
    return value;
}

Options Parse(int argc, char** argv, int first) {
    Options o;
    const std::vector<std::string> args(argv, argv + argc);
    for (std::size_t at = static_cast<std::size_t>(first); at < args.size();) {
        if (ParseToneOption(args, at, o.tone)) continue;
        int i = static_cast<int>(at++);
        const std::string arg = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(arg + " needs a value");
            ++at;
            return argv[++i];
        };
        if (arg == "--plugin") {
            o.plugin = next();
        } else if (arg == "--set") {
            const std::string s = next();
            const auto eq = s.find('=');
            if (eq == std::string::npos)
                throw UsageError("--set wants NAME=VALUE, not '" + s + "'");
            o.settings.emplace_back(s.substr(0, eq), s.substr(eq + 1));
        } else if (arg == "--block") {
            const std::string text = next();
            const float block = ParseNumber(text, "block size");
            if (block < 1 || block != std::floor(block) || block > 1 << 20)
                throw UsageError("block size '" + text +
                                 "' must be a whole number from 1 to 1048576");
            o.block = static_cast<int>(block);
        } else if (arg == "--rate") {
            const std::string text = next();
            o.rate = ParseNumber(text, "sample rate");
            if (o.rate < 1000 || o.rate > 768000)
                throw UsageError("sample rate '" + text + "' must lie between 1000 and 768000");
        } else if (arg == "--out") {
            o.out = next();
        } else if (arg == "--accumulate") {
            o.accumulate = true;
        } else if (arg == "--format") {
            o.format = next();
        } else if (arg == "--bits") {
            o.bits = next();
        } else if (arg == "--dither") {
            o.dither = true;
        } else if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
        } else if (arg == "--measure") {
            o.measure = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            o.positional.push_back(arg);
        }
    }
    if (o.plugin.empty()) o.plugin = DefaultModulePath();
    return o;
}

// Resolves every --set against the instance before anything is processed or written.
// The tone settings in hertz and decibels come first, mapped as the LV2 ports map them.
std::vector<std::pair<int, float>> ResolveSettings(const VstInstance& fx, const Options& o) {
    std::vector<std::pair<int, float>> resolved;
    if (o.tone.Any() && fx.Record()->uniqueID != TMirvakEffect::kUniqueID)
        throw UsageError("--bass, --treble and the cutoffs set the tone control; use --set "
                         "NAME=VALUE for " +
                         o.plugin);
    for (int c = 0; c < kToneControls; ++c)
        if (o.tone.value[c]) resolved.emplace_back(c, ToneParameterValue(c, *o.tone.value[c]));
    for (const auto& [name, value] : o.settings) {
        const int index = fx.FindParameter(name);
        if (index < 0) throw UsageError("the plug-in has no parameter '" + name + "'");
        resolved.emplace_back(index, ParseNumber(value, "value for '" + name + "'"));
    }
    return resolved;
}

void Apply(const VstInstance& fx, const std::vector<std::pair<int, float>>& settings) {
    for (const auto& [index, value] : settings)
        fx.SetParameter(index, value);
}

int Info(const Options& o) {
    const std::string path = o.positional.size() > 1 ? o.positional[1] : o.plugin;
    VstModule module(path);
    VstInstance fx(module);
    const AEffect* e = fx.Record();
    const std::int32_t id = e->uniqueID;
    std::printf("module      %s\n", path.c_str());
    std::printf("unique id   %d ('%c%c%c%c')\n", id, (id >> 24) & 0xFF, (id >> 16) & 0xFF,
                (id >> 8) & 0xFF, id & 0xFF);
    std::printf("version     %d\n", e->version);
    std::printf("inputs      %d\noutputs     %d\n", e->numInputs, e->numOutputs);
    std::printf("programs    %d\nparameters  %d\n", e->numPrograms, e->numParams);
    std::printf("flags       %d%s%s\n", e->flags, (e->flags & effFlagsCanMono) ? " mono" : "",
                (e->flags & effFlagsCanReplacing) ? " replacing" : "");
    std::printf("\n%5s  %-16s %8s  %-10s %s\n", "index", "name", "value", "display", "label");
    for (int i = 0; i < fx.NumParams(); ++i)
        std::printf("%5d  %-16s %8.4f  %-10s %s\n", i, fx.ParameterName(i).c_str(),
                    fx.GetParameter(i), fx.ParameterDisplay(i).c_str(),
                    fx.ParameterLabel(i).c_str());
    return 0;
}

void CheckStereoCapable(const VstInstance& fx, const std::string& path) {
    if (fx.Record()->numInputs < 1 || fx.Record()->numOutputs < 1)
        throw HostError(path + " has no audio inputs or outputs");
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

int Render(const Options& o) {
    if (o.positional.size() != 3) throw UsageError("render wants IN and OUT");
    const std::string& inPath = o.positional[1];
    const std::string& outPath = o.positional[2];
    if (inPath != "-" && outPath != "-" && SameFile(inPath, outPath))
        throw AudioError(outPath + " is the input file; write the output to another file");
    AudioReader in(inPath);
    const StreamInfo& info = in.Info();
    if (info.channels > 2)
        throw AudioError(in.Path() + " has " + std::to_string(info.channels) +
                         " channels; only mono and stereo are supported");
    const int format = ChooseOutputFormat(outPath, info.format, o.format, o.bits);
    if (o.dither && (format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_16 &&
        (format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_24 &&
        (format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_32)
        throw FormatError("--dither needs integer samples, and the output is " +
                          FormatName(format) + " (try --bits 16)");
    VstModule module(o.plugin);
    VstInstance fx(module);
    CheckStereoCapable(fx, o.plugin);
    const auto settings = ResolveSettings(fx, o);
    fx.Start(static_cast<float>(info.sampleRate), o.block);
    Apply(fx, settings);
    AudioWriter out(outPath, format, info.channels, info.sampleRate, info.frames, info.tags,
                    o.dither);
    const bool progress = !o.quiet && isatty(STDERR_FILENO);
    const RenderStats stats = RenderStream(in, out, fx, o.block, o.accumulate, progress);
    fx.Stop();
    out.Commit();
    if (!o.quiet && stats.nonFinite > 0)
        std::fprintf(stderr,
                     "vurnel: note: %lld input samples were NaN or infinite in %s; the output is "
                     "finite again from the block after each\n",
                     stats.nonFinite, in.Path() == "-" ? "standard input" : in.Path().c_str());
    if (!o.quiet && out.Clipped() > 0)
        std::fprintf(stderr,
                     "vurnel: note: %lld samples beyond full scale were clipped in %s (peak "
                     "%+.2f dBFS); --bits float keeps them\n",
                     out.Clipped(), outPath == "-" ? "standard output" : outPath.c_str(),
                     20.0 * std::log10(static_cast<double>(out.Peak())));
    return 0;
}

void WriteText(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".partial";
    {
        std::ofstream file(temporary, std::ios::binary);
        file << text;
        if (!file.flush()) {
            std::remove(temporary.c_str());
            throw AudioError("cannot write " + path);
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw AudioError("cannot write " + path);
    }
}

std::string WithoutExtension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash)
               ? path
               : path.substr(0, dot);
}

void WriteResponse(const std::vector<ResponsePoint>& response, const VstInstance& fx,
                   const std::string& svgPath, const std::string& title) {
    WriteText(WithoutExtension(svgPath) + ".csv", ResponseCsv(response));
    WriteText(svgPath, ResponseSvg(response, CutoffMarks(fx), title));
}

// The tone control's response computed from the designs an effect with these settings runs
// (the editor's curve); any other plug-in's, or with --measure, measured through the module.
std::vector<ResponsePoint> ResponseOf(const VstInstance& fx, float rate,
                                      const std::vector<std::pair<int, float>>& settings,
                                      bool measure) {
    if (measure || fx.Record()->uniqueID != TMirvakEffect::kUniqueID)
        return MeasureResponse(fx, rate);
    TMirvakEffect effect(nullptr, 1, 4);
    effect.setSampleRate(rate);
    for (const auto& [index, value] : settings)
        effect.setParameter(index, value);
    std::vector<ResponsePoint> response;
    for (const auto& p : ToneResponse(effect.CurrentDesign(), 20.0L, rate * 0.5L * 0.999L, 200)) {
        const double db = static_cast<double>(p.magnitudeDb);
        response.push_back({static_cast<double>(p.hertz), db, db});
    }
    return response;
}

int Response(const Options& o) {
    if (o.out.empty()) throw UsageError("response wants --out FILE.svg");
    VstModule module(o.plugin);
    VstInstance fx(module);
    CheckStereoCapable(fx, o.plugin);
    const auto settings = ResolveSettings(fx, o);
    fx.Start(o.rate, 512);
    Apply(fx, settings);
    std::string title = "Magnitude response at " + std::to_string(static_cast<int>(o.rate)) + " Hz";
    for (int c = 0; c < kToneControls; ++c)
        if (o.tone.value[c])
            title += std::string(", ") + ToneOptionOf(c).symbol + " " +
                     ToneValueText(c, *o.tone.value[c]);
    for (const auto& [name, value] : o.settings)
        title += ", " + name + "=" + value;
    WriteResponse(ResponseOf(fx, o.rate, settings, o.measure), fx, o.out, title);
    std::printf("wrote %s and %s.csv\n", o.out.c_str(), WithoutExtension(o.out).c_str());
    return 0;
}

// Level of a tone (dBFS, sinusoid peak) in one channel, from a Hann-windowed DFT.
double ToneDb(const Audio& audio, int channel, double hz) {
    const long long n = audio.Frames();
    std::complex<double> sum = 0;
    double windowSum = 0;
    const double w = 2 * M_PI * hz / audio.sampleRate;
    for (long long i = 0; i < n; ++i) {
        const double t = static_cast<double>(i);
        const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * t / static_cast<double>(n - 1));
        sum += audio.samples[i * audio.channels + channel] * hann * std::polar(1.0, -w * t);
        windowSum += hann;
    }
    return 20 * std::log10(std::abs(sum) * 2 / windowSum);
}

int Demo(const Options& o) {
    const std::string dir = o.out.empty() ? "vurnel-demo" : o.out;
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
        throw AudioError("cannot create the folder " + dir);
    const int rate = 44100;
    const int frames = 4 * rate;
    const double tones[] = {50, 100, 200, 400, 1000, 2000, 4000, 8000, 12000, 16000};
    Audio in;
    in.channels = 2;
    in.sampleRate = rate;
    in.samples.resize(2 * frames);
    std::mt19937 rng(1);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    for (int i = 0; i < frames; ++i) {
        double tone = 0;
        for (double hz : tones)
            tone += 0.04 * std::sin(2 * M_PI * hz * i / rate);
        in.samples[2 * i] = static_cast<float>(tone) + noise(rng);
        in.samples[2 * i + 1] = static_cast<float>(tone) + noise(rng);
    }
    VstModule module(o.plugin);
    VstInstance fx(module);
    // Bass boosted below 275 Hz, treble cut above 5100 Hz.
    const std::vector<std::pair<std::string, std::string>> demoSettings = {
        {"Bass cutoff", "0.5"}, {"Treble cutoff", "0.3"}, {"Bass", "0.8"}, {"Treble", "0.25"}};
    Options settings = o;
    settings.settings = demoSettings;
    const auto resolved = ResolveSettings(fx, settings);
    fx.Start(static_cast<float>(rate), 512);
    Apply(fx, resolved);
    Audio out = in;
    BlockRunner(fx, 512, false).Run(out.samples.data(), out.Frames(), out.channels);
    WriteAudio(dir + "/input.wav", in);
    WriteAudio(dir + "/output.wav", out);
    // The response from a fresh instance with the same settings (the first one has history).
    VstInstance probe(module);
    probe.Start(static_cast<float>(rate), 512);
    Apply(probe, resolved);
    WriteResponse(ResponseOf(probe, static_cast<float>(rate), resolved, false), probe,
                  dir + "/response.svg",
                  "MIRVAK_Vurnel demo: bass +12 dB below 275 Hz, treble -10 dB above 5100 Hz");

    std::printf("Settings:");
    for (int i = 0; i < fx.NumParams(); ++i) {
        std::string label = fx.ParameterLabel(i);
        label.erase(std::remove(label.begin(), label.end(), ' '), label.end());
        std::printf("%s %s %s %s", i ? "," : "", fx.ParameterName(i).c_str(),
                    fx.ParameterDisplay(i).c_str(), label.c_str());
    }
    std::printf("\n\n%9s  %9s  %9s  %8s\n", "tone (Hz)", "in (dB)", "out (dB)", "change");
    for (double hz : tones) {
        const double a = ToneDb(in, 0, hz), b = ToneDb(out, 0, hz);
        std::printf("%9.0f  %9.2f  %9.2f  %+8.2f\n", hz, a, b, b - a);
    }
    std::printf("\nWrote %s/input.wav, output.wav, response.svg and response.csv\n", dir.c_str());
    return 0;
}

int Design(int argc, char** argv) {
    const DesignRequest request =
        ParseDesignArguments(std::vector<std::string>(argv + 2, argv + argc));
    dsp::TdspIIRFilter filter;
    ConfigureFilter(filter, request);
    dsp::TdspIIRSections sections(filter);
    const auto response = FrequencyResponse(filter);
    const std::vector<long double> impulse = ImpulseResponse(filter, request.impulse);
    std::string report = DesignReport(filter, request, impulse);
    if (request.sections)
        report += SectionsReport(sections, ImpulseResponse(sections, request.impulse));
    std::fputs(report.c_str(), stdout);
    // What the plot and the CSV show: the recursion's response, or the sections' when asked for
    // or when the recursion cannot run (its formula is then a curve no filter produces; the plot
    // draws it dashed beside the sections').
    const bool unstable = !filter.IsStable();
    const std::string unstableNote =
        unstable ? "the recursion is " + StabilityText(filter) +
                       ": its output grows without bound, so the sections run this design"
                 : "";
    std::string note;
    std::vector<FrequencyPoint> drawn = response, dashed;
    if (request.sections || unstable) {
        drawn = SectionsFrequencyResponse(sections, filter.GetSampleRate());
        note = "response of the second-order sections" +
               (unstable ? "; " + unstableNote : std::string());
        if (unstable) dashed = response;
    }
    if (!request.csv.empty()) {
        WriteText(request.csv, FrequencyCsv(drawn, note));
        std::printf("\nwrote %s%s\n", request.csv.c_str(),
                    unstable ? " (the sections' response: the recursion cannot run)" : "");
    }
    if (!request.svg.empty()) {
        WriteText(request.svg, DesignSvg(filter, drawn, DesignTitle(filter), note, dashed));
        std::printf("%swrote %s\n", request.csv.empty() ? "\n" : "", request.svg.c_str());
    }
    return 0;
}

int RunWithOptions(int argc, char** argv) {
    const std::string command = argv[1];
    const Options o = Parse(argc, argv, 1);
    if (command == "demo") return Demo(o);
    if (command == "info") return Info(o);
    if (command == "render") return Render(o);
    return Response(o);
}

const char kModuleHelp[] =
    "  --plugin MODULE      another VST 2 module; the default is $VURNEL_PLUGIN, else the\n"
    "                       MIRVAK_Vurnel module built with this program (run from its build\n"
    "                       tree) or installed with it (/usr/lib/vst/MIRVAK_Vurnel.so)\n";

// One entry a command: its name, a line for the program's help, its usage (printed by
// `vurnel COMMAND --help` and `vurnel help COMMAND`), whether the tone settings' lines follow
// it, and what runs it (argv[1] is the command's name).
int RunDesktopCommand(int argc, char** argv) {
    return RunDesktop(std::vector<std::string>(argv + 2, argv + argc));
}

struct Command {
    const char* name;
    const char* summary;
    const char* usage;
    bool toneOptions;
    int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"render", "run an audio file through the tone control",
     "usage: vurnel render IN OUT [OPTIONS]\n"
     "Runs IN through the tone control (or another plug-in) into OUT, block by block. IN or OUT\n"
     "may be '-' for standard input or output (a WAV or AU stream; --format raw writes bare\n"
     "samples).\n"
     "OUT keeps IN's container, sample format, rate, channels and tags unless the options or\n"
     "OUT's extension choose others. OUT appears only when it is complete.\n"
     "  --format NAME        wav, flac, aiff, au, caf, ogg or raw (default: OUT's extension,\n"
     "                       for '-' IN's container)\n"
     "  --bits B             16, 24, 32 or float (default: IN's sample format)\n"
     "  --dither             triangular dither before rounding to integers (for 16-bit)\n"
     "  --set NAME=VALUE     a parameter as a host sends it, 0..1; NAME is a name or an index\n"
     "  --block N            frames per call to the plug-in (default 512)\n"
     "  --accumulate         call process, which adds to the outputs, not processReplacing\n"
     "  --quiet, -q          no progress bar and no notes, only errors\n",
     true, RunWithOptions},
    {"response", "draw the tone control's frequency response",
     "usage: vurnel response --out FILE.svg [OPTIONS]\n"
     "Writes FILE.svg and FILE.csv: the magnitude response from 20 Hz to Nyquist. The tone\n"
     "control's is computed from the filters it runs (as its editor draws it); another\n"
     "plug-in's is measured with an impulse.\n"
     "  --rate HZ            sample rate (default 44100)\n"
     "  --set NAME=VALUE     a parameter as a host sends it, 0..1; NAME is a name or an index\n"
     "  --measure            measure the tone control with an impulse instead\n",
     true, RunWithOptions},
    {"design", "a filter of the library: numbers, response, poles and zeros",
     "usage: vurnel design [OPTIONS]\n"
     "Prints a filter of the library: settings, poles, zeros, coefficients; the defaults are\n"
     "the library's (Butterworth lowpass, order 1, 300 Hz, 44100 Hz, ripple 0, attenuation\n"
     "40 dB, gain 0 dB).\n"
     "  --kind butterworth|chebyshev|bessel|chebyshev2|elliptic\n"
     "  --response lowpass|highpass|bandpass|bandstop|lowshelf|highshelf (shelves:\n"
     "                       butterworth only)\n"
     "  --order 1..8         --f1 HZ   --f2 HZ (band filters)   --rate HZ\n"
     "  --ripple DB          passband ripple (chebyshev, elliptic)\n"
     "  --attenuation DB     stopband attenuation, 1 to 200 (chebyshev2, elliptic)\n"
     "  --gain DB            a shelf's gain, -30 to 30 (lowshelf at 0 Hz, highshelf at Nyquist)\n"
     "  --out FILE.svg       the response and the pole/zero plot\n"
     "  --csv FILE.csv       the response as numbers\n"
     "  --impulse N          print the first N samples of the impulse response\n"
     "  --sections           also the design as second-order sections, and their response\n"
     "                       in the files\n",
     false, Design},
    {"info", "show a VST 2 module's record and parameters",
     "usage: vurnel info [MODULE]\n"
     "Prints the module's record (id, version, inputs, outputs, flags) and its parameters;\n"
     "MODULE defaults as --plugin does.\n",
     false, RunWithOptions},
    {"demo", "render a test signal and show what the tone control does",
     "usage: vurnel demo [--out DIR] [--plugin MODULE]\n"
     "Writes DIR/input.wav, output.wav, response.svg and response.csv (DIR defaults to\n"
     "vurnel-demo) and prints the level of each test tone before and after.\n",
     false, RunWithOptions},
    {"desktop", "set the tone control in the desktop's audio (PipeWire), live", DesktopUsage(),
     false, RunDesktopCommand},
};

const Command* FindCommand(const std::string& name) {
    for (const auto& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

void PrintProgramUsage(std::FILE* to) {
    std::fputs("usage: vurnel COMMAND [OPTIONS]\n\ncommands:\n", to);
    for (const auto& c : kCommands)
        std::fprintf(to, "  %-10s %s\n", c.name, c.summary);
    std::fputs("  help CMD   the options of a command (also: vurnel CMD --help)\n"
               "\nvurnel --version prints the version.\n",
               to);
}

void PrintUsage(const Command& c) {
    std::fputs(c.usage, stdout);
    if (c.toneOptions) {
        std::fputs("tone settings, as the LV2 plug-in's controls read:\n", stdout);
        std::fputs(kToneOptionsHelp, stdout);
    }
    if (c.run == RunWithOptions && std::strcmp(c.name, "info") != 0)
        std::fputs(kModuleHelp, stdout);
}

int Fail(const char* command, const std::string& message) {
    std::fprintf(stderr, "vurnel: %s\nTry 'vurnel %s--help'.\n", message.c_str(),
                 command ? (std::string(command) + " ").c_str() : "");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintProgramUsage(stderr);
        return 2;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        PrintProgramUsage(stdout);
        return 0;
    }
    if (first == "--version") {
        std::printf("vurnel %s\n", VURNEL_VERSION);
        return 0;
    }
    if (first == "help") {
        if (argc < 3) {
            PrintProgramUsage(stdout);
            return 0;
        }
        const Command* c = FindCommand(argv[2]);
        if (!c) return Fail(nullptr, std::string("unknown command '") + argv[2] + "'");
        PrintUsage(*c);
        return 0;
    }
    const Command* command = FindCommand(first);
    if (!command) return Fail(nullptr, "unknown command '" + first + "'");
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(*command);
            return 0;
        }
    }
    try {
        return command->run(argc, argv);
    } catch (const DesignError& e) {
        return Fail(command->name, e.what());
    } catch (const UsageError& e) {
        return Fail(command->name, e.what());
    } catch (const ToneOptionError& e) {
        return Fail(command->name, e.what());
    } catch (const FormatError& e) {
        return Fail(command->name, e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vurnel: %s\n", e.what());
        return 1;
    }
}
