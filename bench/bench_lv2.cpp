// Audio throughput of LV2 plug-ins loaded through lilv as a host loads them: ours beside
// DISTRHO's "3 Band EQ", Calf's "Equalizer 5 Band" and x42's fil4 (stereo), in one run.
//
// Usage: bench_lv2 [ROUNDS | --silence]   (LV2_PATH as lilv reads it; our bundle must be on it)
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
using vurnel::bench::Silence;
using vurnel::bench::SilenceName;
using vurnel::bench::SilenceSource;

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
    std::vector<std::vector<float>> audioIn, audioOut;
    std::vector<float> controls;
    std::vector<std::vector<std::uint64_t>> atoms;         // 8-byte aligned sequence buffers
    std::vector<std::pair<std::uint32_t, bool>> atomPorts; // port, is input
    std::vector<std::uint32_t> inPorts, outPorts;
    std::map<std::string, std::uint32_t> portOf; // control ports by symbol
};

bool Load(LilvWorld* world, const LilvPlugins* all, const char* uri, const char* name,
          const std::map<std::string, float>& settings, const LV2_Feature* const* features,
          Subject& s) {
    LilvNode* node = lilv_new_uri(world, uri);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(all, node);
    lilv_node_free(node);
    if (!plugin) return false;
    s.name = name;
    s.instance = lilv_plugin_instantiate(plugin, kRate, features);
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

// What real sessions are made of: one second of noise, then `seconds` of silence of the given
// kind, in blocks of `block` frames; ns per stereo frame (the thread's CPU time) on the noise and
// in the worst ten-second window of the silence.
struct SilenceCost {
    double noise = 0, worstSilence = 0;
};
SilenceCost SilenceAfterSound(Subject& s, int block, int seconds, LV2_URID sequence, LV2_URID chunk,
                              Silence kind = Silence::PlusZero) {
    std::vector<std::vector<float>> in(s.inPorts.size(), std::vector<float>(block));
    for (std::size_t i = 0; i < s.inPorts.size(); ++i)
        lilv_instance_connect_port(s.instance, s.inPorts[i], in[i].data());
    for (std::size_t i = 0; i < s.outPorts.size(); ++i)
        lilv_instance_connect_port(s.instance, s.outPorts[i], s.audioOut[i].data());
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    SilenceSource source(kind, 13);
    const long second = static_cast<long>(kRate), window = 10 * second;
    SilenceCost cost;
    double t = 0;
    long frames = 0;
    for (long at = 0; at < second * (1 + seconds); at += block) {
        const bool silent = at >= second;
        for (int i = 0; i < block; ++i)
            for (std::size_t c = 0; c < in.size(); ++c) {
                const long k = at + i - second;
                in[c][i] = silent ? source.Next(c == 0 ? 0 : 1, k, static_cast<double>(k) / kRate)
                                  : noise(rng);
            }
        ResetAtoms(s, sequence, chunk);
        const double start = ThreadSeconds();
        lilv_instance_run(s.instance, static_cast<std::uint32_t>(block));
        t += ThreadSeconds() - start;
        frames += block;
        if (!silent && at + block >= second) {
            cost.noise = t * 1e9 / static_cast<double>(frames);
            t = 0, frames = 0;
        } else if (silent && frames >= window) {
            cost.worstSilence = std::max(cost.worstSilence, t * 1e9 / static_cast<double>(frames));
            t = 0, frames = 0;
        }
    }
    return cost;
}

// The kinds of silence a host hands over after sound: ours, blocks of 256.
void SilenceKinds(Subject& ours, LV2_URID sequence, LV2_URID chunk) {
    std::printf("\nKinds of silence after sound (ours, 1 s of noise, then 60 s of silence, blocks "
                "of 256), ns per stereo frame on the noise and in the worst 10 s window\n\n| "
                "silence | noise | silence (worst window) | x noise |\n|---|---|---|---|\n");
    for (int k = 0; k < static_cast<int>(Silence::Count); ++k) {
        const SilenceCost c =
            SilenceAfterSound(ours, 256, 60, sequence, chunk, static_cast<Silence>(k));
        std::printf("| %s | %.1f | %.1f | %.2f |\n", SilenceName(static_cast<Silence>(k)), c.noise,
                    c.worstSilence, c.worstSilence / c.noise);
        std::fflush(stdout);
    }
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
    // bench_lv2 --silence: the kinds-of-silence table alone.
    const bool silenceOnly = argc > 1 && std::strcmp(argv[1], "--silence") == 0;
    const int rounds = argc > 1 && !silenceOnly ? std::max(1, std::atoi(argv[1])) : 7;
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    const LilvPlugins* all = lilv_world_get_all_plugins(world);

    LV2_URID_Map map{nullptr, Map};
    const LV2_URID sequence = Map(nullptr, LV2_ATOM__Sequence);
    const LV2_URID chunk = Map(nullptr, LV2_ATOM__Chunk);
    const LV2_URID atomInt = Map(nullptr, LV2_ATOM__Int);
    const LV2_URID atomFloat = Map(nullptr, LV2_ATOM__Float);
    static const std::int32_t minBlock = 1, maxBlock = kMaxBlock, nominal = 512;
    static const float rate = static_cast<float>(kRate);
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
         sizeof rate, atomFloat, &rate},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    LV2_Feature mapFeature{LV2_URID__map, &map};
    LV2_Feature optionsFeature{LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
    LV2_Feature bounded{LV2_BUF_SIZE__boundedBlockLength, nullptr};
    const LV2_Feature* features[] = {&mapFeature, &optionsFeature, &bounded, nullptr};

    struct Wanted {
        const char* uri;
        const char* name;
        std::map<std::string, float> settings;
    };
    const Wanted wanted[] = {
        {"urn:mirvak:vurnel",
         "MIRVAK_Vurnel (80-bit)",
         {{"bass_cutoff", 200.0f}, {"treble_cutoff", 5000.0f}, {"bass", 6.0f}, {"treble", -4.0f}}},
        {"http://distrho.sf.net/plugins/3BandEQ", "DISTRHO 3 Band EQ", {}},
        {"http://calf.sourceforge.net/plugins/Equalizer5Band", "Calf Equalizer 5 Band", {}},
        {"http://gareus.org/oss/lv2/fil4#stereo", "x42 fil4 (stereo)", {}},
    };
    std::vector<std::unique_ptr<Subject>> subjects;
    for (const Wanted& w : wanted) {
        auto s = std::make_unique<Subject>();
        if (Load(world, all, w.uri, w.name, w.settings, features, *s))
            subjects.push_back(std::move(s));
        else
            std::fprintf(stderr, "skipped %s (%s not found)\n", w.name, w.uri);
    }
    if (subjects.empty() || subjects[0]->name.rfind("MIRVAK", 0) != 0) {
        std::fprintf(stderr, "our plug-in is not on LV2_PATH\n");
        return 1;
    }
    if (silenceOnly) {
        SilenceKinds(*subjects[0], sequence, chunk);
        for (auto& s : subjects) {
            lilv_instance_deactivate(s->instance);
            lilv_instance_free(s->instance);
        }
        lilv_world_free(world);
        return 0;
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
    std::printf("\nSilence after sound (1 s of noise, then 60 s of zeros, blocks of 256), ns per "
                "stereo frame on the noise and in the worst 10 s window of the silence; then one "
                "NaN and one infinity in 3 s of noise: frames of the last second that are not "
                "finite\n\n| plug-in | noise | silence (worst window) | x noise | non-finite "
                "frames |\n|---|---|---|---|---|\n");
    for (auto& s : subjects) {
        const SilenceCost c = SilenceAfterSound(*s, 256, 60, sequence, chunk);
        const long bad = NonFiniteAfterBadSamples(*s, sequence, chunk);
        std::printf("| %s | %.1f | %.1f | %.2f | %ld |\n", s->name.c_str(), c.noise, c.worstSilence,
                    c.worstSilence / c.noise, bad);
    }
    SilenceKinds(*subjects[0], sequence, chunk);
    for (auto& s : subjects) {
        lilv_instance_deactivate(s->instance);
        lilv_instance_free(s->instance);
    }
    lilv_world_free(world);
    return 0;
}
