// Audio throughput of LV2 plug-ins loaded through lilv as a host loads them: ours beside
// DISTRHO's "3 Band EQ", Calf's "Equalizer 5 Band" and x42's fil4 (stereo), in one run.
//
// Usage: bench_lv2 [ROUNDS | --silence | --silence-sweep [KINDS]]
// (LV2_PATH as lilv reads it; our bundle must be on it)
// Each plug-in gets what the peers ask of a host (URID map, options with the block lengths and
// sample rate, bounded block length), each port its own buffer, noise at the audio inputs and
// the control inputs at their defaults (ours at a non-neutral setting, so it filters). Each
// block size is timed in alternating rounds; the table gives each plug-in's median ns per
// stereo frame. Plug-ins that are not installed are skipped. A second table times ours under
// automation: a new control value every block, against ours at rest.
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "SilenceScenes.h"

using Clock = std::chrono::steady_clock;
using vurnel::bench::CostOf;
using vurnel::bench::KeepLeast;
using vurnel::bench::Silence;
using vurnel::bench::SilenceCost;
using vurnel::bench::SilenceName;
using vurnel::bench::SilenceSource;
using vurnel::bench::TimeSideBySide;
using vurnel::bench::WindowCost;

namespace {

constexpr double kRate = 48000.0;
constexpr int kMaxBlock = 4096;
constexpr std::int32_t kAtomBytes = 65536;

// URID map: a fixed table, filled while plug-ins are instantiated (not while timing).
std::vector<std::string> g_uris;
LV2_URID Map(LV2_URID_Map_Handle, const char* uri) {
    for (std::size_t i = 0; i < g_uris.size(); ++i)
        if (g_uris[i] == uri) return static_cast<LV2_URID>(i + 1);
    g_uris.emplace_back(uri);
    return static_cast<LV2_URID>(g_uris.size());
}

struct Subject {
    std::string name;
    LilvInstance* instance = nullptr;
    Subject() = default;
    Subject(const Subject&) = delete;
    Subject& operator=(const Subject&) = delete;
    ~Subject() {
        if (!instance) return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
    std::vector<std::vector<float>> audioIn, audioOut;
    std::vector<float> controls;
    std::vector<std::vector<std::uint64_t>> atoms;         // 8-byte aligned sequence buffers
    std::vector<std::pair<std::uint32_t, bool>> atomPorts; // port, is input
    std::vector<std::uint32_t> inPorts, outPorts;
    std::map<std::string, std::uint32_t> portOf; // control ports by symbol
};

// The sample rate the options feature hands a plug-in: the rate of the instance being made.
float g_sampleRate = static_cast<float>(kRate);

bool Load(LilvWorld* world, const LilvPlugins* all, const char* uri, const char* name,
          const std::map<std::string, float>& settings, const LV2_Feature* const* features,
          Subject& s, double rate = kRate) {
    LilvNode* node = lilv_new_uri(world, uri);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(all, node);
    lilv_node_free(node);
    if (!plugin) return false;
    s.name = name;
    g_sampleRate = static_cast<float>(rate);
    s.instance = lilv_plugin_instantiate(plugin, rate, features);
    if (!s.instance) {
        std::fprintf(stderr, "%s: instantiate failed\n", name);
        return false;
    }
    LilvNode* audio = lilv_new_uri(world, LV2_CORE__AudioPort);
    LilvNode* control = lilv_new_uri(world, LV2_CORE__ControlPort);
    LilvNode* input = lilv_new_uri(world, LV2_CORE__InputPort);
    LilvNode* atom = lilv_new_uri(world, LV2_ATOM__AtomPort);
    const std::uint32_t n = lilv_plugin_get_num_ports(plugin);
    s.controls.assign(n, 0.0f);
    std::vector<float> mins(n), maxs(n), defs(n);
    lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defs.data());
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (std::uint32_t p = 0; p < n; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
        const bool in = lilv_port_is_a(plugin, port, input);
        if (lilv_port_is_a(plugin, port, audio)) {
            auto& list = in ? s.audioIn : s.audioOut;
            list.emplace_back(kMaxBlock);
            if (in)
                for (float& x : list.back())
                    x = noise(rng);
            (in ? s.inPorts : s.outPorts).push_back(p);
        } else if (lilv_port_is_a(plugin, port, control)) {
            const char* symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
            s.portOf[symbol] = p;
            const auto set = settings.find(symbol);
            s.controls[p] = set != settings.end() ? set->second
                            : std::isnan(defs[p]) ? 0.0f
                                                  : defs[p];
            lilv_instance_connect_port(s.instance, p, &s.controls[p]);
        } else if (lilv_port_is_a(plugin, port, atom)) {
            s.atomPorts.emplace_back(p, in);
        } else {
            lilv_instance_connect_port(s.instance, p, nullptr);
        }
    }
    s.atoms.resize(s.atomPorts.size());
    for (std::size_t i = 0; i < s.atomPorts.size(); ++i) {
        s.atoms[i].assign(kAtomBytes / 8, 0);
        lilv_instance_connect_port(s.instance, s.atomPorts[i].first, s.atoms[i].data());
    }
    for (auto* node2 : {audio, control, input, atom})
        lilv_node_free(node2);
    lilv_instance_activate(s.instance);
    return true;
}

// What the bench asks of lilv to make an instance: the world, its plug-ins, the features.
struct Lv2Host {
    LilvWorld* world;
    const LilvPlugins* all;
    const LV2_Feature* const* features;
    LV2_URID sequence, chunk;
};

// A plug-in the bench loads, by URI, with the control values it runs at.
struct Wanted {
    const char* uri;
    const char* name;
    std::map<std::string, float> settings;
};

std::unique_ptr<Subject> Make(const Lv2Host& host, const Wanted& w, double rate = kRate) {
    auto s = std::make_unique<Subject>();
    if (!Load(host.world, host.all, w.uri, w.name, w.settings, host.features, *s, rate))
        return nullptr;
    return s;
}

// An empty input sequence, and an output sequence's capacity, before every run.
void ResetAtoms(Subject& s, LV2_URID sequence, LV2_URID chunk) {
    for (std::size_t i = 0; i < s.atomPorts.size(); ++i) {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(s.atoms[i].data());
        if (s.atomPorts[i].second) {
            seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
            seq->atom.type = sequence;
            seq->body.unit = 0;
            seq->body.pad = 0;
        } else {
            seq->atom.size = static_cast<std::uint32_t>(s.atoms[i].size() * 8 - sizeof(LV2_Atom));
            seq->atom.type = chunk;
        }
    }
}

double TimeBlocks(Subject& s, int block, double seconds, LV2_URID sequence, LV2_URID chunk) {
    for (std::size_t i = 0; i < s.inPorts.size(); ++i)
        lilv_instance_connect_port(s.instance, s.inPorts[i], s.audioIn[i].data());
    for (std::size_t i = 0; i < s.outPorts.size(); ++i)
        lilv_instance_connect_port(s.instance, s.outPorts[i], s.audioOut[i].data());
    long long frames = 0;
    const auto start = Clock::now();
    double elapsed = 0.0;
    do {
        for (int k = 0; k < 16; ++k) {
            ResetAtoms(s, sequence, chunk);
            lilv_instance_run(s.instance, static_cast<std::uint32_t>(block));
        }
        frames += 16LL * block;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds);
    return elapsed * 1e9 / static_cast<double>(frames);
}

// Seconds of CPU time this thread has used: unlike a wall clock it stops while the thread is
// preempted, so timings hold on a machine shared with other work.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The cost of one window: ns per stereo frame of the instance under test and of the noise
// reference beside it.
// What real sessions are made of: a fresh instance plays one second of noise, then `seconds` of
// silence of the given kind, in blocks of `block` frames. A second fresh instance of the same
// plug-in at the same controls, fed noise throughout, is timed beside it: every slice of about
// 0.1 s of the first is followed (or, every other slice, preceded) by as many frames of the
// reference, so that both see the same phase of a shared machine and a phase that slows both
// cancels in their ratio. Each run connects the audio ports to the block's frames, as a host
// does every cycle. Returns, per window (the noise second, then each ten-second window of the
// silence), ns per stereo frame of both in the thread's CPU time; each window's input is made
// before it is timed.
std::vector<WindowCost> TimeWindows(const Lv2Host& host, const Wanted& plugin, double rate,
                                    int block, int seconds, Silence kind) {
    const std::unique_ptr<Subject> fx = Make(host, plugin, rate),
                                   reference = Make(host, plugin, rate);
    if (!fx || !reference) return {};
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    SilenceSource source(kind, 13);
    const long second = static_cast<long>(rate);
    // Whole blocks per window: the noise second, then windows of ten seconds; whole blocks per
    // slice.
    const long noiseFrames = (second + block - 1) / block * block;
    const long windowFrames = (10 * second + block - 1) / block * block;
    const long sliceFrames = std::max(1L, second / 10 / block) * block;
    const std::size_t channels = fx->inPorts.size();
    std::vector<std::vector<float>> in(channels, std::vector<float>(windowFrames)),
        out(fx->outPorts.size(), std::vector<float>(windowFrames)),
        noiseIn(channels, std::vector<float>(windowFrames)),
        noiseOut(fx->outPorts.size(), std::vector<float>(windowFrames));
    std::mt19937 referenceRng(17);
    for (long i = 0; i < windowFrames; ++i)
        for (auto& c : noiseIn)
            c[i] = noise(referenceRng);
    // Seconds of thread time to run frames [from, to) of one instance.
    const auto run = [&host, block](Subject& s, std::vector<std::vector<float>>& inputs,
                                    std::vector<std::vector<float>>& outputs, long from, long to) {
        const double t0 = ThreadSeconds();
        for (long at = from; at < to; at += block) {
            for (std::size_t i = 0; i < s.inPorts.size(); ++i)
                lilv_instance_connect_port(s.instance, s.inPorts[i], inputs[i].data() + at);
            for (std::size_t i = 0; i < s.outPorts.size(); ++i)
                lilv_instance_connect_port(s.instance, s.outPorts[i], outputs[i].data() + at);
            ResetAtoms(s, host.sequence, host.chunk);
            lilv_instance_run(s.instance, static_cast<std::uint32_t>(block));
        }
        return ThreadSeconds() - t0;
    };
    std::vector<WindowCost> windows;
    long done = 0; // frames of silence so far
    for (long start = 0; start < noiseFrames + static_cast<long>(seconds) * second;) {
        const bool silent = start >= noiseFrames;
        const long frames = silent ? windowFrames : noiseFrames;
        for (long i = 0; i < frames; ++i)
            for (std::size_t c = 0; c < channels; ++c)
                in[c][i] = silent ? source.Next(c == 0 ? 0 : 1, done + i,
                                                static_cast<double>(done + i) / rate)
                                  : noise(rng);
        windows.push_back(TimeSideBySide(
            frames, sliceFrames, [&](long at, long to) { return run(*fx, in, out, at, to); },
            [&](long at, long to) { return run(*reference, noiseIn, noiseOut, at, to); }));
        if (silent) done += frames;
        start += frames;
    }
    return windows;
}

SilenceCost SilenceAfterSound(const Lv2Host& host, const Wanted& plugin, double rate, int block,
                              int seconds, Silence kind = Silence::PlusZero, int repeats = 1) {
    std::vector<WindowCost> least;
    for (int run = 0; run < repeats; ++run)
        KeepLeast(least, TimeWindows(host, plugin, rate, block, seconds, kind));
    return CostOf(least);
}

// The kinds of silence a host hands over after sound: ours, blocks of 256.
void SilenceKinds(const Lv2Host& host, const Wanted& ours) {
    std::printf("\nKinds of silence after sound (ours, 1 s of noise, then 60 s of silence, blocks "
                "of 256), ns per stereo frame of the noise reference and of the silence in the "
                "worst 10 s window, each the least of 3 runs\n\n| silence | noise | silence "
                "(worst window) | x noise |\n|---|---|---|---|\n");
    for (int k = 0; k < static_cast<int>(Silence::Count); ++k) {
        const SilenceCost c =
            SilenceAfterSound(host, ours, kRate, 256, 60, static_cast<Silence>(k), 3);
        std::printf("| %s | %.1f | %.1f | %.2f |\n", SilenceName(static_cast<Silence>(k)), c.noise,
                    c.silence, c.ratio);
        std::fflush(stdout);
    }
}

// The acceptance sweep in the LV2 plug-in: the kinds of silence chosen, bench_host's three
// settings in the ports' units, 22.05 to 96 kHz (an instance per rate, as LV2 gives the rate at
// instantiation), blocks 1 to 4096, 100 s each, every 10 s window against the noise reference
// beside it, each the least of three runs spread minutes apart (the sweep runs three times over,
// as bench_host's does). LV2 has no accumulating run, so replacing only.
// Prints each scene (the reference's and the silence's ns per frame in the worst window, their
// ratio, then the old measure: the costliest window against the instance's own noise second),
// the worst ratio per kind and block, and the worst per kind; answers whether all stay at or
// below `bound` x noise.
bool SilenceSweep(const Lv2Host& host, const char* uri, double bound,
                  const std::vector<bool>& kinds) {
    const std::pair<const char*, std::map<std::string, float>> settings[] = {
        {"flat",
         {{"bass_cutoff", 50.0f}, {"treble_cutoff", 10000.0f}, {"bass", 0.0f}, {"treble", 0.0f}}},
        {"bass +6 dB 200 Hz, treble -4 dB 5 kHz",
         {{"bass_cutoff", 200.0f}, {"treble_cutoff", 5000.0f}, {"bass", 6.0f}, {"treble", -4.0f}}},
        {"bass +12 dB 50 Hz, treble +12 dB 10 kHz",
         {{"bass_cutoff", 50.0f}, {"treble_cutoff", 10000.0f}, {"bass", 12.0f}, {"treble", 12.0f}}},
    };
    constexpr int kBlocks[] = {1, 4, 8, 16, 256, 4096};
    constexpr int kBlockCount = sizeof kBlocks / sizeof kBlocks[0];
    constexpr int kKinds = static_cast<int>(Silence::Count);
    double worst[kKinds] = {}, byBlock[kKinds][kBlockCount] = {},
           oldByBlock[kKinds][kBlockCount] = {};
    std::string where[kKinds];
    struct Scene {
        int kind, b;
        const char* name;
        Wanted plugin;
        double rate;
        std::vector<WindowCost> least;
    };
    std::vector<Scene> scenes;
    for (int k = 0; k < kKinds; ++k)
        for (const auto& [name, controls] : settings)
            if (kinds[k])
                for (double rate : {22050.0, 44100.0, 48000.0, 96000.0})
                    for (int b = 0; b < kBlockCount; ++b)
                        scenes.push_back({k, b, name, {uri, "ours", controls}, rate, {}});
    constexpr int kPasses = 3;
    for (int pass = 0; pass < kPasses; ++pass) {
        if (pass == kPasses - 1)
            std::printf("%-90s %8s %8s %6s %6s\n", "scene (replacing)", "noise", "silence", "ratio",
                        "old");
        else
            std::fprintf(stderr, "pass %d of %d\n", pass + 1, kPasses);
        for (Scene& s : scenes) {
            KeepLeast(s.least, TimeWindows(host, s.plugin, s.rate, kBlocks[s.b], 100,
                                           static_cast<Silence>(s.kind)));
            if (pass < kPasses - 1) continue;
            const SilenceCost c = CostOf(s.least);
            char line[256];
            std::snprintf(line, sizeof line, "%s, %s, %.0f Hz, block %d",
                          SilenceName(static_cast<Silence>(s.kind)), s.name, s.rate, kBlocks[s.b]);
            std::printf("%-90s %8.2f %8.2f %6.2f %6.2f\n", line, c.noise, c.silence, c.ratio,
                        c.againstFirst);
            std::fflush(stdout);
            byBlock[s.kind][s.b] = std::max(byBlock[s.kind][s.b], c.ratio);
            oldByBlock[s.kind][s.b] = std::max(oldByBlock[s.kind][s.b], c.againstFirst);
            if (c.ratio > worst[s.kind]) worst[s.kind] = c.ratio, where[s.kind] = line;
        }
    }
    std::printf("\nworst window x the noise beside it (in brackets: the old measure, the costliest "
                "window x the first second of noise), over the settings and rates, replacing\n\n"
                "| silence |");
    for (int block : kBlocks)
        std::printf(" block %d |", block);
    std::printf("\n|---|");
    for (int b = 0; b < kBlockCount; ++b)
        std::printf("---|");
    std::printf("\n");
    bool within = true;
    for (int k = 0; k < kKinds; ++k) {
        if (!kinds[k]) continue;
        std::printf("| %s |", SilenceName(static_cast<Silence>(k)));
        for (int b = 0; b < kBlockCount; ++b)
            std::printf(" %.2f (%.2f) |", byBlock[k][b], oldByBlock[k][b]);
        std::printf("\n");
        within = within && worst[k] <= bound;
    }
    std::printf("\n| silence | worst x noise |\n|---|---|\n");
    for (int k = 0; k < kKinds; ++k)
        if (kinds[k])
            std::printf("| %s | %.2f (%s) |\n", SilenceName(static_cast<Silence>(k)), worst[k],
                        where[k].c_str());
    return within;
}

// One NaN in the first input and an infinity in the second, within the first second of three
// of noise: how many frames of the last second have an output that is not finite.
long NonFiniteAfterBadSamples(Subject& s, LV2_URID sequence, LV2_URID chunk) {
    const int block = 256;
    std::vector<std::vector<float>> in(s.inPorts.size(), std::vector<float>(block));
    for (std::size_t i = 0; i < s.inPorts.size(); ++i)
        lilv_instance_connect_port(s.instance, s.inPorts[i], in[i].data());
    for (std::size_t i = 0; i < s.outPorts.size(); ++i)
        lilv_instance_connect_port(s.instance, s.outPorts[i], s.audioOut[i].data());
    std::mt19937 rng(12);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    const long second = static_cast<long>(kRate);
    long bad = 0;
    for (long at = 0; at < 3 * second; at += block) {
        for (std::size_t c = 0; c < in.size(); ++c)
            for (int i = 0; i < block; ++i)
                in[c][i] = c == 0 && at + i == 1000   ? std::numeric_limits<float>::quiet_NaN()
                           : c == 1 && at + i == 2000 ? std::numeric_limits<float>::infinity()
                                                      : noise(rng);
        ResetAtoms(s, sequence, chunk);
        lilv_instance_run(s.instance, static_cast<std::uint32_t>(block));
        for (int i = 0; i < block && at >= 2 * second; ++i) {
            bool finite = true;
            for (const auto& out : s.audioOut)
                finite = finite && std::isfinite(out[i]);
            bad += !finite;
        }
    }
    return bad;
}

// Our plug-in under automation, as a host's automation lane drives it: before every run() each
// automated control takes its next value on a 0.5 Hz sine between its two ends, so every block
// brings a new value and a glide is always under way. The sweep's phase carries on from one
// timing round to the next.
struct AutomationScene {
    const char* name;
    std::vector<std::pair<const char*, std::pair<float, float>>> sweeps; // symbol, (low, high)
};
double TimeAutomation(Subject& s, const AutomationScene& scene, int block, double seconds,
                      long long& framesSoFar) {
    for (std::size_t i = 0; i < s.inPorts.size(); ++i)
        lilv_instance_connect_port(s.instance, s.inPorts[i], s.audioIn[i].data());
    for (std::size_t i = 0; i < s.outPorts.size(); ++i)
        lilv_instance_connect_port(s.instance, s.outPorts[i], s.audioOut[i].data());
    std::vector<std::pair<float*, std::pair<float, float>>> ports;
    for (const auto& [symbol, range] : scene.sweeps)
        ports.emplace_back(&s.controls[s.portOf.at(symbol)], range);
    constexpr double kTwoPi = 6.283185307179586;
    long long frames = 0;
    const auto start = Clock::now();
    double elapsed = 0.0;
    do {
        for (int k = 0; k < 16; ++k) {
            const double phase = std::sin(kTwoPi * 0.5 * static_cast<double>(framesSoFar) / kRate);
            for (auto& [port, range] : ports)
                *port = static_cast<float>(range.first +
                                           (range.second - range.first) * (0.5 + 0.5 * phase));
            lilv_instance_run(s.instance, static_cast<std::uint32_t>(block));
            framesSoFar += block;
        }
        frames += 16LL * block;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds);
    return elapsed * 1e9 / static_cast<double>(frames);
}

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    // bench_lv2 --silence: the kinds-of-silence table alone; bench_lv2 --silence-sweep [KINDS]:
    // the acceptance sweep (exit status 1 above 1.5x noise), KINDS the kinds' numbers in the
    // table's order (0 +0 ... 5 the tail), e.g. 15, all by default.
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool silenceOnly = mode == "--silence", sweep = mode == "--silence-sweep";
    const int rounds = argc > 1 && !silenceOnly && !sweep ? std::max(1, std::atoi(argv[1])) : 7;
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    const LilvPlugins* all = lilv_world_get_all_plugins(world);

    LV2_URID_Map map{nullptr, Map};
    const LV2_URID sequence = Map(nullptr, LV2_ATOM__Sequence);
    const LV2_URID chunk = Map(nullptr, LV2_ATOM__Chunk);
    const LV2_URID atomInt = Map(nullptr, LV2_ATOM__Int);
    const LV2_URID atomFloat = Map(nullptr, LV2_ATOM__Float);
    static const std::int32_t minBlock = 1, maxBlock = kMaxBlock, nominal = 512;
    const LV2_Options_Option options[] = {
        {LV2_OPTIONS_INSTANCE, 0, Map(nullptr, LV2_BUF_SIZE__minBlockLength), sizeof minBlock,
         atomInt, &minBlock},
        {LV2_OPTIONS_INSTANCE, 0, Map(nullptr, LV2_BUF_SIZE__maxBlockLength), sizeof maxBlock,
         atomInt, &maxBlock},
        {LV2_OPTIONS_INSTANCE, 0, Map(nullptr, LV2_BUF_SIZE__nominalBlockLength), sizeof nominal,
         atomInt, &nominal},
        {LV2_OPTIONS_INSTANCE, 0, Map(nullptr, LV2_BUF_SIZE__sequenceSize), sizeof kAtomBytes,
         atomInt, &kAtomBytes},
        {LV2_OPTIONS_INSTANCE, 0, Map(nullptr, "http://lv2plug.in/ns/ext/parameters#sampleRate"),
         sizeof g_sampleRate, atomFloat, &g_sampleRate},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    LV2_Feature mapFeature{LV2_URID__map, &map};
    LV2_Feature optionsFeature{LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
    LV2_Feature bounded{LV2_BUF_SIZE__boundedBlockLength, nullptr};
    const LV2_Feature* features[] = {&mapFeature, &optionsFeature, &bounded, nullptr};

    const Lv2Host host{world, all, features, sequence, chunk};
    const Wanted wanted[] = {
        {"urn:mirvak:vurnel",
         "MIRVAK_Vurnel (80-bit)",
         {{"bass_cutoff", 200.0f}, {"treble_cutoff", 5000.0f}, {"bass", 6.0f}, {"treble", -4.0f}}},
        {"http://distrho.sf.net/plugins/3BandEQ", "DISTRHO 3 Band EQ", {}},
        {"http://calf.sourceforge.net/plugins/Equalizer5Band", "Calf Equalizer 5 Band", {}},
        {"http://gareus.org/oss/lv2/fil4#stereo", "x42 fil4 (stereo)", {}},
    };
    std::vector<std::unique_ptr<Subject>> subjects;
    std::vector<const Wanted*> loaded;
    for (const Wanted& w : wanted) {
        if (auto s = Make(host, w)) {
            subjects.push_back(std::move(s));
            loaded.push_back(&w);
        } else {
            std::fprintf(stderr, "skipped %s (%s not found)\n", w.name, w.uri);
        }
    }
    if (subjects.empty() || subjects[0]->name.rfind("MIRVAK", 0) != 0) {
        std::fprintf(stderr, "our plug-in is not on LV2_PATH\n");
        return 1;
    }
    if (silenceOnly || sweep) {
        subjects.clear();
        std::vector<bool> kinds(static_cast<int>(Silence::Count), !(sweep && argc > 2));
        for (const char* c = sweep && argc > 2 ? argv[2] : ""; *c; ++c)
            if (*c >= '0' && *c - '0' < static_cast<int>(Silence::Count)) kinds[*c - '0'] = true;
        const bool within = silenceOnly ? (SilenceKinds(host, wanted[0]), true)
                                        : SilenceSweep(host, wanted[0].uri, 1.5, kinds);
        lilv_world_free(world);
        return within ? 0 : 1;
    }
    std::printf(
        "ns per stereo frame, median of %d alternating rounds, %g Hz, each port its "
        "own buffer\n\n| plug-in | block 64 | block 512 | block 4096 |\n|---|---|---|---|\n",
        rounds, kRate);
    std::vector<std::vector<double>> table(subjects.size());
    for (int block : {64, 512, 4096}) {
        std::vector<std::vector<double>> samples(subjects.size());
        for (auto& s : subjects) // warm up
            TimeBlocks(*s, block, 0.05, sequence, chunk);
        for (int round = 0; round < rounds; ++round)
            for (std::size_t i = 0; i < subjects.size(); ++i)
                samples[i].push_back(TimeBlocks(*subjects[i], block, 0.1, sequence, chunk));
        for (std::size_t i = 0; i < subjects.size(); ++i) {
            auto& v = samples[i];
            std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
            table[i].push_back(v[v.size() / 2]);
        }
    }
    for (std::size_t i = 0; i < subjects.size(); ++i)
        std::printf("| %s | %.1f | %.1f | %.1f |\n", subjects[i]->name.c_str(), table[i][0],
                    table[i][1], table[i][2]);

    // Ours under automation: a new value every block (the smooth port at its default, on), beside
    // ours at rest in the same alternating rounds; x rest is the median of the per-round ratios.
    const AutomationScene scenes[] = {
        {"at rest", {}},
        {"bass gain automated (±12 dB)", {{"bass", {-12.0f, 12.0f}}}},
        {"bass cutoff automated (80–400 Hz)", {{"bass_cutoff", {80.0f, 400.0f}}}},
        {"treble cutoff automated (3–9 kHz)", {{"treble_cutoff", {3000.0f, 9000.0f}}}},
        {"all four automated",
         {{"bass", {-12.0f, 12.0f}},
          {"treble", {-12.0f, 12.0f}},
          {"bass_cutoff", {80.0f, 400.0f}},
          {"treble_cutoff", {3000.0f, 9000.0f}}}},
    };
    constexpr std::size_t kScenes = sizeof scenes / sizeof scenes[0];
    const int automationBlocks[] = {64, 256, 1024};
    double ns[kScenes][3], times[kScenes][3];
    std::printf(
        "\nMIRVAK_Vurnel under automation (a 0.5 Hz sweep, a new value every block), ns per "
        "stereo frame and x rest, median of %d alternating rounds\n\n| scene | block 64 | "
        "block 256 | block 1024 |\n|---|---|---|---|\n",
        rounds);
    Subject& ours = *subjects[0];
    const std::map<std::string, float> settled = wanted[0].settings;
    for (int b = 0; b < 3; ++b) {
        const int block = automationBlocks[b];
        std::vector<std::vector<double>> samples(kScenes), ratios(kScenes);
        long long framesSoFar[kScenes] = {};
        for (std::size_t c = 0; c < kScenes; ++c) // warm up
            TimeAutomation(ours, scenes[c], block, 0.05, framesSoFar[c]);
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t c = 0; c < kScenes; ++c) {
                // Each scene starts from the plug-in's settings, so at rest is at rest.
                for (const auto& [symbol, value] : settled)
                    ours.controls[ours.portOf.at(symbol)] = value;
                TimeAutomation(ours, scenes[0], block, 0.03, framesSoFar[0]); // settle
                samples[c].push_back(TimeAutomation(ours, scenes[c], block, 0.1, framesSoFar[c]));
            }
            for (std::size_t c = 0; c < kScenes; ++c)
                ratios[c].push_back(samples[c].back() / samples[0].back());
        }
        for (std::size_t c = 0; c < kScenes; ++c) {
            ns[c][b] = Median(samples[c]);
            times[c][b] = Median(ratios[c]);
        }
    }
    for (std::size_t c = 0; c < kScenes; ++c)
        std::printf("| %s | %.1f (%.2fx) | %.1f (%.2fx) | %.1f (%.2fx) |\n", scenes[c].name,
                    ns[c][0], times[c][0], ns[c][1], times[c][1], ns[c][2], times[c][2]);
    // Silence after sound, then a bad sample (last: it may leave a peer's output NaN for good).
    for (const auto& [symbol, value] : settled)
        ours.controls[ours.portOf.at(symbol)] = value;
    std::printf(
        "\nSilence after sound (1 s of noise, then 60 s of zeros, blocks of 256), ns per "
        "stereo frame of the noise reference beside it and of the silence in the worst 10 s "
        "window; then one "
        "NaN and one infinity in 3 s of noise: frames of the last second that are not "
        "finite\n\n| plug-in | noise | silence (worst window) | x noise | non-finite "
        "frames |\n|---|---|---|---|---|\n");
    for (std::size_t i = 0; i < subjects.size(); ++i) {
        const SilenceCost c = SilenceAfterSound(host, *loaded[i], kRate, 256, 60);
        const long bad = NonFiniteAfterBadSamples(*subjects[i], sequence, chunk);
        std::printf("| %s | %.1f | %.1f | %.2f | %ld |\n", subjects[i]->name.c_str(), c.noise,
                    c.silence, c.ratio, bad);
    }
    SilenceKinds(host, wanted[0]);
    subjects.clear();
    lilv_world_free(world);
    return 0;
}
