// Audio throughput of VST 2 modules loaded as a host loads them, ours against a peer, and the
// cost of creating and closing an instance through main.
//
// Usage: bench_host [OUR_MODULE [PEER_MODULE]]
// The peer is DISTRHO's "3 Band EQ" (Debian dpf-plugins-vst, single precision), set to
// non-neutral gains. Each block size is timed in alternating rounds (ours replacing, ours
// accumulating, peer, ...); the table gives the medians and the median of the per-round
// throughput ratios (the peer's ns per frame ÷ ours). The limit line times a loop that does only
// the extended arithmetic one stereo frame needs (16 multiplies and 12 additions, four
// recursions), with no copies, loads or stores beyond the samples: no bit-exact kernel can be
// faster on the machine that runs it.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "SilenceScenes.h"
#include "VstHost.h"

using namespace vurnel::host;
using vurnel::bench::CostOf;
using vurnel::bench::KeepLeast;
using vurnel::bench::Silence;
using vurnel::bench::SilenceCost;
using vurnel::bench::SilenceName;
using vurnel::bench::SilenceSource;
using vurnel::bench::TimeSideBySide;
using vurnel::bench::WindowCost;
using Clock = std::chrono::steady_clock;

namespace {

struct Subject {
    std::string name;
    VstModule module;
    VstInstance instance;
    Subject(std::string n, const std::string& path,
            const std::vector<std::pair<std::string, float>>& settings)
        : name(std::move(n)), module(path), instance(module) {
        instance.Start(44100.0f, 4096);
        for (const auto& [param, value] : settings) {
            const int index = instance.FindParameter(param);
            if (index < 0) throw HostError(name + " has no parameter " + param);
            instance.SetParameter(index, value);
        }
    }
};

// Nanoseconds per stereo frame over about `seconds` of processing.
double TimeBlocks(const Subject& s, int block, double seconds, bool accumulate = false) {
    static std::vector<float> l, r, ol, orr;
    if (static_cast<int>(l.size()) < block) {
        std::mt19937 rng(3);
        std::uniform_real_distribution<float> d(-0.5f, 0.5f);
        l.resize(block), r.resize(block), ol.resize(block), orr.resize(block);
        for (int i = 0; i < block; ++i)
            l[i] = d(rng), r[i] = d(rng);
    }
    float* in[] = {l.data(), r.data()};
    float* out[] = {ol.data(), orr.data()};
    long long frames = 0;
    const auto start = Clock::now();
    std::chrono::duration<double> elapsed{};
    do {
        for (int k = 0; k < 16; ++k)
            s.instance.Process(in, out, block, accumulate);
        frames += 16LL * block;
        elapsed = Clock::now() - start;
    } while (elapsed.count() < seconds);
    return elapsed.count() * 1e9 / static_cast<double>(frames);
}

#if defined(__x86_64__) && defined(__GNUC__)
// The arithmetic of `frames` stereo frames and nothing else: per channel sample, the two
// recursions (x·g, x₋₁·g, their sum, y·yc, the sum), the two gains and the two output sums, on
// registers, with the input as a memory operand and one store of the output.
double TimeLimit(int block, double seconds) {
    static std::vector<float> l(4096, 0.25f), r(4096, -0.25f), ol(4096), orr(4096);
    const long double g = 0.01L, yc = 0.98L;
    long long frames = 0;
    const auto start = Clock::now();
    std::chrono::duration<double> elapsed{};
#define VURNEL_LIMIT_CHANNEL(X, O, YB, YT)                                                         \
    "flds " X "\n\t"                                                                               \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fadd %%st(1), %%st\n\t"                                                                       \
    "fxch %%st(" YB ")\n\t"                                                                        \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fadd %%st(" YB "), %%st\n\t"                                                                  \
    "fxch %%st(" YB ")\n\t"                                                                        \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fadd %%st(1), %%st\n\t"                                                                       \
    "fxch %%st(" YT ")\n\t"                                                                        \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fadd %%st(" YT "), %%st\n\t"                                                                  \
    "fxch %%st(" YT ")\n\t"                                                                        \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fadd %%st(1), %%st\n\t"                                                                       \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fadd %%st(1), %%st\n\t"                                                                       \
    "fstps " O "\n\t"
    do {
        for (int k = 0; k < 16; ++k) {
            std::intptr_t i = -static_cast<std::intptr_t>(block);
            long double yBL = 0.1L, yTL = 0.2L, yBR = 0.3L, yTR = 0.4L;
            __asm__ volatile(
                "fldt %[yTR]\n\t"
                "fldt %[yBR]\n\t"
                "fldt %[yTL]\n\t"
                "fldt %[yBL]\n\t"
                "fldt %[yc]\n\t"
                "fldt %[g]\n\t"
                "1:\n\t" VURNEL_LIMIT_CHANNEL("(%[l],%[i],4)", "(%[ol],%[i],4)", "3", "4")
                    VURNEL_LIMIT_CHANNEL("(%[r],%[i],4)", "(%[oR],%[i],4)", "5",
                                         "6") "inc %[i]\n\t"
                                              "jnz 1b\n\t"
                                              "fstp %%st(0)\n\t"
                                              "fstp %%st(0)\n\t"
                                              "fstpt %[yBL]\n\t"
                                              "fstpt %[yTL]\n\t"
                                              "fstpt %[yBR]\n\t"
                                              "fstpt %[yTR]\n\t"
                : [i] "+r"(i), [yBL] "+m"(yBL), [yTL] "+m"(yTL), [yBR] "+m"(yBR), [yTR] "+m"(yTR)
                : [l] "r"(l.data() + block), [r] "r"(r.data() + block), [ol] "r"(ol.data() + block),
                  [oR] "r"(orr.data() + block), [g] "m"(g), [yc] "m"(yc)
                : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)",
                  "st(7)");
        }
#undef VURNEL_LIMIT_CHANNEL
        frames += 16LL * block;
        elapsed = Clock::now() - start;
    } while (elapsed.count() < seconds);
    return elapsed.count() * 1e9 / static_cast<double>(frames);
}
#endif

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Seconds of CPU time this thread has used: unlike a wall clock it stops while the thread is
// preempted, so timings hold on a machine shared with other work.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The cost of one window: ns per frame of the instance under test and of the noise reference
// beside it.
// What real sessions are made of: a fresh instance at the given settings plays one second of
// noise, then `seconds` of silence of the given kind, in blocks of `block` frames, replacing or
// accumulating (onto +0, as a host that clears its buffers). A second instance, the same but fed
// noise throughout, is timed beside it: every slice of about 0.1 s of the first is followed (or,
// every other slice, preceded) by as many frames of the reference, so that both see the same
// phase of a shared machine, and a phase that slows everything cancels in their ratio. Returns,
// per window (the noise second, then each ten-second window of the silence), ns per frame of
// both in the thread's CPU time; each window's input is made before it is timed.
std::vector<WindowCost> TimeWindows(const VstModule& module,
                                    const std::vector<std::pair<std::string, float>>& settings,
                                    float rate, int block, int seconds, Silence kind,
                                    bool accumulate) {
    VstInstance fx(module), reference(module);
    for (const VstInstance* i : {&fx, &reference}) {
        i->Start(rate, block);
        for (const auto& [param, value] : settings)
            i->SetParameter(i->FindParameter(param), value);
    }
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    SilenceSource source(kind, 7);
    const long second = static_cast<long>(rate);
    // Whole blocks per window: the noise second, then windows of ten seconds; whole blocks per
    // slice.
    const long noiseFrames = (second + block - 1) / block * block;
    const long windowFrames = (10 * second + block - 1) / block * block;
    const long sliceFrames = std::max(1L, second / 10 / block) * block;
    std::vector<float> l(windowFrames), r(windowFrames), ol(windowFrames), orr(windowFrames);
    std::vector<float> nl(windowFrames), nr(windowFrames), nol(windowFrames), nor(windowFrames);
    std::mt19937 referenceRng(9);
    for (long i = 0; i < windowFrames; ++i)
        nl[i] = d(referenceRng), nr[i] = d(referenceRng);
    // Seconds of thread time to run frames [from, to) of one instance.
    const auto run = [block, accumulate](const VstInstance& i, std::vector<float>& inL,
                                         std::vector<float>& inR, std::vector<float>& outL,
                                         std::vector<float>& outR, long from, long to) {
        const double t0 = ThreadSeconds();
        for (long at = from; at < to; at += block) {
            float* in[] = {inL.data() + at, inR.data() + at};
            float* out[] = {outL.data() + at, outR.data() + at};
            i.Process(in, out, block, accumulate);
        }
        return ThreadSeconds() - t0;
    };
    std::vector<WindowCost> windows;
    long done = 0; // frames of silence so far
    for (long start = 0; start < noiseFrames + static_cast<long>(seconds) * second;) {
        const bool silent = start >= noiseFrames;
        const long frames = silent ? windowFrames : noiseFrames;
        for (long i = 0; i < frames; ++i) {
            const double s = static_cast<double>(done + i) / rate;
            l[i] = silent ? source.Next(0, done + i, s) : d(rng);
            r[i] = silent ? source.Next(1, done + i, s) : d(rng);
        }
        for (auto* out : {&ol, &orr, &nol, &nor})
            std::fill(out->begin(), out->end(), 0.0f);
        windows.push_back(TimeSideBySide(
            frames, sliceFrames, [&](long at, long to) { return run(fx, l, r, ol, orr, at, to); },
            [&](long at, long to) { return run(reference, nl, nr, nol, nor, at, to); }));
        if (silent) done += frames;
        start += frames;
    }
    return windows;
}

SilenceCost TimeSilenceAfterSound(const VstModule& module,
                                  const std::vector<std::pair<std::string, float>>& settings,
                                  float rate, int block, int seconds,
                                  Silence kind = Silence::PlusZero, bool accumulate = false,
                                  int repeats = 1) {
    std::vector<WindowCost> least;
    for (int run = 0; run < repeats; ++run)
        KeepLeast(least, TimeWindows(module, settings, rate, block, seconds, kind, accumulate));
    return CostOf(least);
}

// One NaN in the left input and one infinity in the right, in the first second of three
// seconds of noise: how many frames of the last second come out non-finite.
long NonFiniteAfterABadSample(const VstModule& module,
                              const std::vector<std::pair<std::string, float>>& settings) {
    VstInstance fx(module);
    const int block = 256;
    fx.Start(48000.0f, block);
    for (const auto& [param, value] : settings)
        fx.SetParameter(fx.FindParameter(param), value);
    std::vector<float> l(block), r(block), ol(block), orr(block);
    std::mt19937 rng(6);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    float* in[] = {l.data(), r.data()};
    float* out[] = {ol.data(), orr.data()};
    long bad = 0;
    for (long at = 0; at < 3 * 48000; at += block) {
        for (int i = 0; i < block; ++i) {
            l[i] = at + i == 1000 ? std::numeric_limits<float>::quiet_NaN() : d(rng);
            r[i] = at + i == 2000 ? std::numeric_limits<float>::infinity() : d(rng);
        }
        fx.Process(in, out, block, false);
        for (int i = 0; i < block; ++i)
            bad += at >= 2 * 48000 && !(std::isfinite(ol[i]) && std::isfinite(orr[i]));
    }
    return bad;
}

using Settings = std::vector<std::pair<std::string, float>>;

// The settings of the silence scenes: a desktop filter left flat, a gentle tone setting and a
// strong one.
std::vector<std::pair<std::string, Settings>> SilenceSettings() {
    return {
        {"flat", {}},
        {"bass +6 dB 200 Hz, treble -4 dB 5 kHz",
         {{"Bass cutoff", 150.0f / 450},
          {"Treble cutoff", 2000.0f / 7000},
          {"Bass", 26.0f / 40},
          {"Treble", 16.0f / 40}}},
        {"bass +12 dB 50 Hz, treble +12 dB 10 kHz",
         {{"Bass cutoff", 0.0f},
          {"Treble cutoff", 1.0f},
          {"Bass", 32.0f / 40},
          {"Treble", 32.0f / 40}}},
    };
}

// Every kind of silence at the gentle setting, 48 kHz, replacing: ns per frame and x noise.
void SilenceKinds(const VstModule& module, int seconds, const std::vector<bool>& kinds) {
    const auto settings = SilenceSettings()[1].second;
    std::printf("\nkinds of silence after sound (bass +6 dB 200 Hz, treble -4 dB 5 kHz, 48 kHz, "
                "1 s of noise then %d s of silence, replacing): ns per frame of the noise "
                "reference / of the silence in the worst 10 s window (x noise), each the least of "
                "3 runs\n\n",
                seconds);
    std::printf(
        "| silence | block 1 | block 64 | block 256 | block 4096 |\n|---|---|---|---|---|\n");
    for (int k = 0; k < static_cast<int>(Silence::Count); ++k) {
        if (!kinds[k]) continue;
        std::printf("| %s |", SilenceName(static_cast<Silence>(k)));
        for (int block : {1, 64, 256, 4096}) {
            const SilenceCost c = TimeSilenceAfterSound(module, settings, 48000.0f, block, seconds,
                                                        static_cast<Silence>(k), false, 3);
            std::printf(" %.2f / %.2f (%.2fx) |", c.noise, c.silence, c.ratio);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
}

// The block sizes of the acceptance sweeps: 1 to 4096, with the small ones a host's automation
// or a sample-accurate sequencer hands over.
constexpr int kSweepBlocks[] = {1, 4, 8, 16, 256, 4096};
constexpr int kSweepBlockCount = sizeof kSweepBlocks / sizeof kSweepBlocks[0];

// The acceptance sweep: every kind of silence, the three settings, 22.05 to 96 kHz, blocks 1 to
// 4096, replacing and accumulating, 100 s each, every 10 s window measured against the noise
// reference beside it. The sweep runs three times over and each window keeps the least of its
// three runs: this machine's slow phases last a minute or so and do not slow every path alike
// (the noise beside a window does not cancel them), so a scene's runs are spread minutes apart
// rather than back to back. Prints each scene in the last pass (the reference's and the
// silence's ns per frame in the worst window, their ratio; then the old measure, the costliest
// window against the instance's own first second of noise, and that second against the
// reference), the worst ratio per kind and block, and the worst per kind; answers whether all
// stay at or below `bound` x noise.
bool SilenceSweep(const VstModule& module, double bound, const std::vector<bool>& kinds) {
    constexpr int kKinds = static_cast<int>(Silence::Count);
    constexpr int kPasses = 3;
    struct Scene {
        int kind, b;
        const std::pair<std::string, Settings>* setting;
        float rate;
        bool accumulate;
        std::vector<WindowCost> least;
    };
    const auto settings = SilenceSettings();
    std::vector<Scene> scenes;
    for (int k = 0; k < kKinds; ++k)
        for (const auto& setting : settings)
            if (kinds[k])
                for (float rate : {22050.0f, 44100.0f, 48000.0f, 96000.0f})
                    for (int b = 0; b < kSweepBlockCount; ++b)
                        for (int accumulate = 0; accumulate < 2; ++accumulate)
                            scenes.push_back({k, b, &setting, rate, accumulate != 0, {}});
    double worst[kKinds][2] = {}, byBlock[kKinds][kSweepBlockCount] = {},
           oldByBlock[kKinds][kSweepBlockCount] = {};
    std::string where[kKinds][2];
    for (int pass = 0; pass < kPasses; ++pass) {
        if (pass == kPasses - 1)
            std::printf("%-100s %8s %8s %6s %6s %6s\n", "scene", "noise", "silence", "ratio", "old",
                        "calib");
        else
            std::fprintf(stderr, "pass %d of %d\n", pass + 1, kPasses);
        for (Scene& s : scenes) {
            KeepLeast(s.least, TimeWindows(module, s.setting->second, s.rate, kSweepBlocks[s.b],
                                           100, static_cast<Silence>(s.kind), s.accumulate));
            if (pass < kPasses - 1) continue;
            const SilenceCost c = CostOf(s.least);
            char line[256];
            std::snprintf(line, sizeof line, "%s, %s, %.0f Hz, block %d, %s",
                          SilenceName(static_cast<Silence>(s.kind)), s.setting->first.c_str(),
                          s.rate, kSweepBlocks[s.b], s.accumulate ? "accumulating" : "replacing");
            std::printf("%-100s %8.2f %8.2f %6.2f %6.2f %6.2f\n", line, c.noise, c.silence, c.ratio,
                        c.againstFirst, c.calibration);
            std::fflush(stdout);
            byBlock[s.kind][s.b] = std::max(byBlock[s.kind][s.b], c.ratio);
            oldByBlock[s.kind][s.b] = std::max(oldByBlock[s.kind][s.b], c.againstFirst);
            if (c.ratio > worst[s.kind][s.accumulate]) {
                worst[s.kind][s.accumulate] = c.ratio;
                where[s.kind][s.accumulate] = line;
            }
        }
    }
    std::printf("\nworst window x the noise beside it (in brackets: the old measure, the costliest "
                "window x the first second of noise), over the settings, rates and both modes\n\n"
                "| silence |");
    for (int block : kSweepBlocks)
        std::printf(" block %d |", block);
    std::printf("\n|---|");
    for (int b = 0; b < kSweepBlockCount; ++b)
        std::printf("---|");
    std::printf("\n");
    for (int k = 0; k < kKinds; ++k) {
        if (!kinds[k]) continue;
        std::printf("| %s |", SilenceName(static_cast<Silence>(k)));
        for (int b = 0; b < kSweepBlockCount; ++b)
            std::printf(" %.2f (%.2f) |", byBlock[k][b], oldByBlock[k][b]);
        std::printf("\n");
    }
    std::printf("\n| silence | worst x noise, replacing | worst x noise, accumulating |\n"
                "|---|---|---|\n");
    bool within = true;
    for (int k = 0; k < kKinds; ++k) {
        if (!kinds[k]) continue;
        std::printf("| %s | %.2f (%s) | %.2f (%s) |\n", SilenceName(static_cast<Silence>(k)),
                    worst[k][0], where[k][0].c_str(), worst[k][1], where[k][1].c_str());
        within = within && worst[k][0] <= bound && worst[k][1] <= bound;
    }
    return within;
}

} // namespace

int main(int argc, char** argv) {
    try {
        // bench_host --silence [MODULE [KINDS]]: the kinds-of-silence table alone; bench_host
        // --silence-sweep [MODULE [KINDS]]: the acceptance sweep (exit status 1 above 1.5x
        // noise); KINDS, the kinds' numbers in the table's order (0 +0 ... 5 the tail), e.g. 15;
        // bench_host --rest [MODULE [PEER]]: the throughput table alone (with its limit line).
        std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "--rest") ++argv, --argc;
        // bench_host --silence-scene KIND BLOCK [SECONDS [MODULE [SETTING [RATE [ACCUMULATE]]]]]:
        // one kind of silence (by default at the gentle setting, 1 of 0-2, 48 kHz, replacing),
        // one run: ns per frame on the noise and in each 10 s window, each against the noise
        // reference beside it (a short scene to profile).
        if (mode == "--silence-scene" && argc > 3) {
            const VstModule module(argc > 5 ? argv[5] : DefaultModulePath());
            const int kind = std::atoi(argv[2]), block = std::atoi(argv[3]);
            const int seconds = argc > 4 ? std::atoi(argv[4]) : 20;
            const int setting = argc > 6 ? std::atoi(argv[6]) : 1;
            const float rate = argc > 7 ? static_cast<float>(std::atof(argv[7])) : 48000.0f;
            const bool accumulate = argc > 8 && std::atoi(argv[8]) != 0;
            if (kind < 0 || kind >= static_cast<int>(Silence::Count) || block < 1 || seconds < 1 ||
                setting < 0 || setting > 2 || !(rate >= 8000.0f))
                throw HostError("--silence-scene KIND BLOCK [SECONDS [MODULE [SETTING [RATE "
                                "[ACCUMULATE]]]]]");
            const std::vector<WindowCost> w =
                TimeWindows(module, SilenceSettings()[setting].second, rate, block, seconds,
                            static_cast<Silence>(kind), accumulate);
            std::printf("%s, %s, %.0f Hz, block %d%s: noise %.2f ns per frame (reference "
                        "%.2f); windows, against the reference beside each",
                        SilenceName(static_cast<Silence>(kind)),
                        SilenceSettings()[setting].first.c_str(), rate, block,
                        accumulate ? ", accumulating" : "", w[0].silence, w[0].noise);
            for (std::size_t k = 1; k < w.size(); ++k)
                std::printf(" %.2f/%.2f (%.2fx)", w[k].silence, w[k].noise,
                            w[k].silence / w[k].noise);
            std::printf("\n");
            return 0;
        }
        if (mode == "--silence" || mode == "--silence-sweep") {
            const VstModule module(argc > 2 ? argv[2] : DefaultModulePath());
            std::vector<bool> kinds(static_cast<int>(Silence::Count), argc <= 3);
            for (const char* c = argc > 3 ? argv[3] : ""; *c; ++c)
                if (*c >= '0' && *c - '0' < static_cast<int>(Silence::Count))
                    kinds[*c - '0'] = true;
            if (mode == "--silence") {
                SilenceKinds(module, 60, kinds);
                return 0;
            }
            return SilenceSweep(module, 1.5, kinds) ? 0 : 1;
        }
        const std::string ours = argc > 1 ? argv[1] : DefaultModulePath();
        const std::string peer = argc > 2 ? argv[2] : "/usr/lib/vst/3BandEQ-vst.so";
        Subject a(
            "MIRVAK_Vurnel", ours,
            {{"Bass cutoff", 0.3f}, {"Treble cutoff", 0.6f}, {"Bass", 0.8f}, {"Treble", 0.3f}});
        Subject b("3 Band EQ", peer, {{"Low", 0.7f}, {"Mid", 0.4f}, {"High", 0.3f}});
        constexpr int kRounds = 9;
        std::printf("stereo frames at 44100 Hz, ns per frame, medians of %d alternating rounds; "
                    "ratio = peer ns / ours (replacing, then accumulating against the peer's "
                    "replacing)\n\n",
                    kRounds);
        std::printf("%6s  %10s  %10s  %10s  %10s  %8s  %8s\n", "block", "replacing", "accum.",
                    "peer", "limit", "ratio", "ratio acc");
        for (int block : {64, 512, 4096}) {
            TimeBlocks(a, block, 0.05), TimeBlocks(b, block, 0.05); // warm up
            std::vector<double> tOurs, tAccumulating, tPeer, tLimit, ratio, ratioAccumulating;
            for (int round = 0; round < kRounds; ++round) {
                tOurs.push_back(TimeBlocks(a, block, 0.1));
                tAccumulating.push_back(TimeBlocks(a, block, 0.1, true));
                tPeer.push_back(TimeBlocks(b, block, 0.1));
#if defined(__x86_64__) && defined(__GNUC__)
                tLimit.push_back(TimeLimit(block, 0.05));
#else
                tLimit.push_back(0.0);
#endif
                ratio.push_back(tPeer.back() / tOurs.back());
                ratioAccumulating.push_back(tPeer.back() / tAccumulating.back());
            }
            std::printf("%6d  %10.2f  %10.2f  %10.2f  %10.2f  %8.2f  %8.2f\n", block, Median(tOurs),
                        Median(tAccumulating), Median(tPeer), Median(tLimit), Median(ratio),
                        Median(ratioAccumulating));
        }
        if (mode == "--rest") return 0;
        // Silence after sound, at the settings of a desktop filter left flat, a gentle tone
        // setting and a strong one; the peer at its settings.
        std::printf("\nsilence after sound: 1 s of noise, then 60 s of zeros; ns per frame of the "
                    "noise reference beside it and of the silence, in the worst 10 s window\n\n");
        std::printf("%-40s %6s %6s  %8s %8s %6s\n", "", "rate", "block", "noise", "silence",
                    "ratio");
        const auto scenes = SilenceSettings();
        for (const auto& [name, settings] : scenes)
            for (float rate : {44100.0f, 96000.0f})
                for (int block : {1, 64, 512, 4096}) {
                    const SilenceCost c =
                        TimeSilenceAfterSound(a.module, settings, rate, block, 60);
                    std::printf("%-40s %6.0f %6d  %8.2f %8.2f %6.2f\n", name.c_str(), rate, block,
                                c.noise, c.silence, c.ratio);
                }
        const SilenceCost peerCost = TimeSilenceAfterSound(
            b.module, {{"Low", 0.7f}, {"Mid", 0.4f}, {"High", 0.3f}}, 44100.0f, 512, 60);
        std::printf("%-40s %6d %6d  %8.2f %8.2f %6.2f\n", "3 Band EQ (peer)", 44100, 512,
                    peerCost.noise, peerCost.silence, peerCost.ratio);
        SilenceKinds(a.module, 60, std::vector<bool>(static_cast<int>(Silence::Count), true));
        std::printf(
            "\none NaN and one infinity in 3 s of noise (48 kHz, blocks of 256): non-finite "
            "frames in the last second: ours %ld, 3 Band EQ %ld\n",
            NonFiniteAfterABadSample(a.module, scenes[1].second),
            NonFiniteAfterABadSample(b.module, {{"Low", 0.7f}}));

        // Creating and closing an instance through main, as a host does on insert and remove.
        std::vector<double> create;
        for (int round = 0; round < 7; ++round) {
            const int n = 2000;
            const auto start = Clock::now();
            for (int i = 0; i < n; ++i)
                VstInstance fx(a.module);
            create.push_back(std::chrono::duration<double>(Clock::now() - start).count() * 1e6 / n);
        }
        std::printf("\ncreate + close through main: %.2f us\n", Median(create));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_host: %s\n", e.what());
        return 1;
    }
}
