// Google Benchmark cases for the filter library and the effect's parameter path, then the
// library's limit table: for each order (Butterworth lowpass, 1000 Hz at 44100 Hz) the recursion
// and the sections per sample, through ProcessSample and ProcessBlock on float buffers, against
// a `limit`: a loop that does only the extended arithmetic of that filter (the same multiplies
// and additions, the same chain from one output to the next) on registers, with the samples as
// memory operands and no other load or store. No bit-exact routine can be faster on the machine
// that runs it. Alternating rounds, medians, ratios within each round.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "Main.h"
#include "dspIIRFilters.h"
#include "dspSections.h"

using namespace vurnel;
using namespace vurnel::dsp;

namespace {

std::vector<float> Noise(std::size_t n) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> d(-1, 1);
    std::vector<float> v(n);
    for (float& x : v)
        x = d(rng);
    return v;
}

// ProcessSample of a Butterworth bandpass/lowpass of the given order, per sample.
void ProcessSampleOrder(benchmark::State& state) {
    TdspIIRFilter f;
    f.SetOrder(static_cast<TdspIIRFilterOrder>(state.range(0)));
    f.SetFrequency(1, 1000);
    const std::vector<float> in = Noise(4096);
    long double sink = 0;
    for (auto _ : state) {
        for (float x : in)
            sink += f.ProcessSample(x);
        benchmark::DoNotOptimize(sink);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(in.size()));
}
BENCHMARK(ProcessSampleOrder)->DenseRange(1, 8);

// The same designs run as second-order sections, per sample: ceil(order / 2) sections.
void SectionsOrder(benchmark::State& state) {
    TdspIIRFilter f;
    f.SetOrder(static_cast<TdspIIRFilterOrder>(state.range(0)));
    f.SetFrequency(1, 1000);
    TdspIIRSections sections(f);
    const std::vector<float> in = Noise(4096);
    long double sink = 0;
    for (auto _ : state) {
        for (float x : in)
            sink += sections.ProcessSample(x);
        benchmark::DoNotOptimize(sink);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(in.size()));
}
BENCHMARK(SectionsOrder)->DenseRange(1, 8);

// Band designs of order 8 (16 poles), 1000–5000 Hz: the recursion against its 8 sections.
void Bandpass8(benchmark::State& state) {
    TdspIIRFilter f;
    f.SetOrder(8);
    f.SetResponse(ftBandpass);
    f.SetFrequency(2, 5000);
    f.SetFrequency(1, 1000);
    TdspIIRSections sections(f);
    const std::vector<float> in = Noise(4096);
    long double sink = 0;
    for (auto _ : state) {
        if (state.range(0))
            for (float x : in)
                sink += sections.ProcessSample(x);
        else
            for (float x : in)
                sink += f.ProcessSample(x);
        benchmark::DoNotOptimize(sink);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(in.size()));
}
BENCHMARK(Bandpass8)->Arg(0)->Arg(1);

// Building the sections from a design of the given order (lowpass) or of order 8 bandpass (0).
void SectionsDesign(benchmark::State& state) {
    TdspIIRFilter f;
    if (state.range(0) == 0) {
        f.SetOrder(8);
        f.SetResponse(ftBandpass);
        f.SetFrequency(2, 5000);
    } else {
        f.SetOrder(static_cast<TdspIIRFilterOrder>(state.range(0)));
    }
    f.SetFrequency(1, 1000);
    TdspIIRSections sections;
    for (auto _ : state) {
        sections.Design(f);
        benchmark::DoNotOptimize(sections.GetGain());
    }
}
BENCHMARK(SectionsDesign)->Arg(1)->Arg(8)->Arg(0);

// One first-order design (the tone control's), stability check included.
void DesignOrder1(benchmark::State& state) {
    TdspIIRFilter f;
    for (auto _ : state) {
        f.DesignFilter();
        benchmark::DoNotOptimize(f.GetGainFactor());
    }
}
BENCHMARK(DesignOrder1);

// The largest design: order 8 bandstop (16 poles, 16 zeros).
void DesignOrder8Bandstop(benchmark::State& state) {
    TdspIIRFilter f;
    f.SetKind(static_cast<TdspIIRFilterKind>(state.range(0)));
    f.SetRipple(1);
    f.SetOrder(8);
    f.SetResponse(ftBandstop);
    f.SetFrequency(1, 1000);
    f.SetFrequency(2, 3000);
    for (auto _ : state) {
        f.DesignFilter();
        benchmark::DoNotOptimize(f.GetGainFactor());
    }
}
BENCHMARK(DesignOrder8Bandstop)
    ->Arg(fkButterworth)
    ->Arg(fkChebyshev)
    ->Arg(fkBessel)
    ->Arg(fkChebyshev2)
    ->Arg(fkElliptic);

// An order-8 lowpass of each kind (elliptic: its prototype's elliptic functions dominate), and
// the order-8 Butterworth low shelf (the last argument).
void DesignOrder8Lowpass(benchmark::State& state) {
    TdspIIRFilter f;
    const bool shelf = state.range(0) > fkElliptic;
    f.SetKind(shelf ? fkButterworth : static_cast<TdspIIRFilterKind>(state.range(0)));
    if (shelf) f.SetResponse(ftLowShelf);
    f.SetRipple(1);
    f.SetAttenuation(60);
    f.SetGain(6);
    f.SetOrder(8);
    f.SetFrequency(1, 1000);
    for (auto _ : state) {
        f.DesignFilter();
        benchmark::DoNotOptimize(f.GetGainFactor());
    }
}
BENCHMARK(DesignOrder8Lowpass)->DenseRange(fkButterworth, fkElliptic + 1);

// A cutoff change through setParameter: two first-order designs and the hand-over.
void CutoffChange(benchmark::State& state) {
    TMirvakEffect fx(nullptr, 0, 0);
    float x = 0.0f;
    for (auto _ : state) {
        x = x > 0.99f ? 0.0f : x + 0.001f;
        fx.setParameter(0, x);
    }
}
BENCHMARK(CutoffChange);

// A block of 512 stereo frames through processReplacing, ns per frame: separate buffers (the
// main path) and both outputs in one buffer, as lv2bench connects them (the position-by-position
// fallback for overlapping buffers).
void ProcessBlock(benchmark::State& state) {
    TMirvakEffect fx(nullptr, 0, 0);
    fx.setParameter(0, 0.3f);
    fx.setParameter(1, 0.6f);
    fx.setParameter(2, 0.8f);
    fx.setParameter(3, 0.3f);
    std::vector<float> l = Noise(512), r = Noise(512), ol(512), orr(512);
    float* in[] = {l.data(), r.data()};
    float* separate[] = {ol.data(), orr.data()};
    float* shared[] = {ol.data(), ol.data()};
    float** out = state.range(0) ? shared : separate;
    for (auto _ : state) {
        fx.processReplacing(in, out, 512);
        benchmark::DoNotOptimize(ol.data());
    }
    state.SetItemsProcessed(state.iterations() * 512);
}
BENCHMARK(ProcessBlock)->Arg(0)->Arg(1);

// ProcessBlock of the recursion and of the sections on float buffers of 512 samples, in place.
void BlockOrder(benchmark::State& state) {
    TdspIIRFilter f;
    f.SetOrder(static_cast<TdspIIRFilterOrder>(state.range(0)));
    f.SetFrequency(1, 1000);
    TdspIIRSections sections(f);
    const std::vector<float> in = Noise(512);
    std::vector<float> buffer(in);
    for (auto _ : state) {
        if (state.range(1))
            sections.ProcessBlock(buffer.data(), buffer.data(), 512);
        else
            f.ProcessBlock(buffer.data(), buffer.data(), 512);
        benchmark::DoNotOptimize(buffer.data());
        std::memcpy(buffer.data(), in.data(), 512 * sizeof(float)); // keep it sound, not silence
    }
    state.SetItemsProcessed(state.iterations() * 512);
}
BENCHMARK(BlockOrder)->ArgsProduct({benchmark::CreateDenseRange(1, 8, 1), {0, 1}});

// ---------------------------------------------------------------------------------------------
// The limit table

#if defined(__x86_64__) && defined(__GNUC__)
// The arithmetic of a recursion of `Taps` taps per sample: x·g, then 2·Taps products each added
// to the sum, the last one the previous output's (the chain from one output to the next is a
// multiply and an add, as in the recursion). Stack between samples: c, g, y. No register copy lies
// on that chain (a copy adds about 0.6 ns to it on an AMD EPYC): y is multiplied where it stands
// and the sum exchanged into its register.
template <int Taps> void LimitRecursion(const float* in, float* out, int count) {
    const long double g = 0.01L, c = 0.5L;
    long double y = 0.0L;
    std::intptr_t i = -static_cast<std::intptr_t>(count);
    __asm__ volatile("fldt %[y]\n\t"
                     "fldt %[g]\n\t"
                     "fldt %[c]\n\t"
                     ".p2align 6\n\t1:\n\t"
                     "flds (%[in],%[i],4)\n\t"
                     "fmul %%st(2), %%st\n\t"
                     ".rept %c[terms]\n\t"
                     "fld %%st(1)\n\t"
                     "fmul %%st(2), %%st\n\t"
                     "faddp %%st, %%st(1)\n\t"
                     ".endr\n\t"
                     "fld %%st(1)\n\t"
                     "fmul %%st(4), %%st\n\t"
                     "faddp %%st, %%st(1)\n\t"
                     "fsts (%[out],%[i],4)\n\t"
                     "fxch %%st(3)\n\t"
                     "fstp %%st(0)\n\t"
                     "inc %[i]\n\t"
                     "jnz 1b\n\t"
                     "fstp %%st(0)\n\t"
                     "fstp %%st(0)\n\t"
                     "fstpt %[y]\n\t"
                     : [i] "+r"(i), [y] "+m"(y)
                     : [in] "r"(in + count), [out] "r"(out + count), [g] "m"(g), [c] "m"(c),
                       [terms] "i"(2 * Taps - 1)
                     : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)",
                       "st(7)");
}
// The arithmetic of `Sections` second-order sections per sample: each a product of its input,
// then four products added (five multiplies, four additions), its sum the next one's input, the
// last product of each its own previous output (each section's chain, from one output to its
// next, is a multiply and an add). Stack between samples: c, then each section's output.
#define VURNEL_LIMIT_SECTION(P)                                                                    \
    "fmul %%st(1), %%st\n\t"                                                                       \
    ".rept 3\n\t"                                                                                  \
    "fld %%st(1)\n\t"                                                                              \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    ".endr\n\t"                                                                                    \
    "fld %%st(" #P ")\n\t"                                                                         \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fst %%st(" #P ")\n\t"
#define VURNEL_LIMIT_SECTIONS_1 VURNEL_LIMIT_SECTION(2)
#define VURNEL_LIMIT_SECTIONS_2 VURNEL_LIMIT_SECTIONS_1 VURNEL_LIMIT_SECTION(3)
#define VURNEL_LIMIT_SECTIONS_3 VURNEL_LIMIT_SECTIONS_2 VURNEL_LIMIT_SECTION(4)
#define VURNEL_LIMIT_SECTIONS_4 VURNEL_LIMIT_SECTIONS_3 VURNEL_LIMIT_SECTION(5)
#define VURNEL_LIMIT_SECTIONS_LOOP(BODY, POP)                                                      \
    "fldz\n\t"                                                                                     \
    "fldz\n\t"                                                                                     \
    "fldz\n\t"                                                                                     \
    "fldz\n\t"                                                                                     \
    "fldt %[c]\n\t"                                                                                \
    ".p2align 6\n\t1:\n\t"                                                                         \
    "flds (%[in],%[i],4)\n\t" BODY "fstps (%[out],%[i],4)\n\t"                                     \
    "inc %[i]\n\t"                                                                                 \
    "jnz 1b\n\t"                                                                                   \
    "fstp %%st(0)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fstp %%st(0)\n\t"
template <int Sections> void LimitSections(const float* in, float* out, int count) {
    const long double c = 0.5L;
    std::intptr_t i = -static_cast<std::intptr_t>(count);
#define VURNEL_LIMIT_OPERANDS                                                                      \
    [i] "+r"(i)                                                                                    \
        : [in] "r"(in + count), [out] "r"(out + count), [c] "m"(c)                                 \
        : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)"
    if constexpr (Sections == 1)
        __asm__ volatile(VURNEL_LIMIT_SECTIONS_LOOP(VURNEL_LIMIT_SECTIONS_1, "")
                         : VURNEL_LIMIT_OPERANDS);
    else if constexpr (Sections == 2)
        __asm__ volatile(VURNEL_LIMIT_SECTIONS_LOOP(VURNEL_LIMIT_SECTIONS_2, "")
                         : VURNEL_LIMIT_OPERANDS);
    else if constexpr (Sections == 3)
        __asm__ volatile(VURNEL_LIMIT_SECTIONS_LOOP(VURNEL_LIMIT_SECTIONS_3, "")
                         : VURNEL_LIMIT_OPERANDS);
    else
        __asm__ volatile(VURNEL_LIMIT_SECTIONS_LOOP(VURNEL_LIMIT_SECTIONS_4, "")
                         : VURNEL_LIMIT_OPERANDS);
#undef VURNEL_LIMIT_OPERANDS
}
using LimitLoop = void (*)(const float*, float*, int);
constexpr LimitLoop kRecursionLimit[] = {LimitRecursion<1>, LimitRecursion<2>, LimitRecursion<3>,
                                         LimitRecursion<4>, LimitRecursion<5>, LimitRecursion<6>,
                                         LimitRecursion<7>, LimitRecursion<8>};
constexpr LimitLoop kSectionsLimit[] = {LimitSections<1>, LimitSections<1>, LimitSections<2>,
                                        LimitSections<2>, LimitSections<3>, LimitSections<3>,
                                        LimitSections<4>, LimitSections<4>};
#endif

// This thread's processor time in seconds: unlike the wall clock, it does not count the time
// the thread waits for a core, which on a shared machine is most of the noise.
double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Nanoseconds (of this thread's processor time) per sample of `run` over blocks of 512 samples,
// about `seconds` of it.
template <typename Run> double NsPerSample(Run run, double seconds) {
    long long samples = 0;
    const double start = ThreadSeconds();
    double elapsed = 0;
    do {
        for (int k = 0; k < 64; ++k)
            run();
        samples += 64 * 512;
        elapsed = ThreadSeconds() - start;
    } while (elapsed < seconds);
    return elapsed * 1e9 / static_cast<double>(samples);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void PrintLimitTable() {
#if defined(__x86_64__) && defined(__GNUC__)
    constexpr int kRounds = 7;
    const std::vector<float> noise = Noise(512);
    std::vector<float> buffer(512);
    std::printf("\nThe filter library against the x87 limit (ns of thread time per sample, float "
                "buffers of 512,\n"
                "Butterworth lowpass at 1000 Hz, 44100 Hz; medians of %d alternating rounds; the\n"
                "ratios are medians of the per-round ratios to the limit)\n\n",
                kRounds);
    std::printf("%-10s %5s %10s %10s %10s %8s %8s\n", "filter", "order", "sample", "block", "limit",
                "sample/l", "block/l");
    for (int sections = 0; sections <= 1; ++sections) {
        for (int order = 1; order <= 8; ++order) {
            TdspIIRFilter f;
            f.SetOrder(static_cast<TdspIIRFilterOrder>(order));
            f.SetFrequency(1, 1000);
            TdspIIRSections s(f);
            std::vector<double> sample, block, limit, sampleRatio, blockRatio;
            for (int round = 0; round < kRounds; ++round) {
                const double a = NsPerSample(
                    [&] {
                        for (int i = 0; i < 512; ++i)
                            buffer[i] = static_cast<float>(sections ? s.ProcessSample(noise[i])
                                                                    : f.ProcessSample(noise[i]));
                        benchmark::DoNotOptimize(buffer.data());
                    },
                    0.03);
                const double b = NsPerSample(
                    [&] {
                        if (sections)
                            s.ProcessBlock(noise.data(), buffer.data(), 512);
                        else
                            f.ProcessBlock(noise.data(), buffer.data(), 512);
                        benchmark::DoNotOptimize(buffer.data());
                    },
                    0.03);
                const double l = NsPerSample(
                    [&] {
                        (sections ? kSectionsLimit
                                  : kRecursionLimit)[order - 1](noise.data(), buffer.data(), 512);
                        benchmark::DoNotOptimize(buffer.data());
                    },
                    0.03);
                sample.push_back(a), block.push_back(b), limit.push_back(l);
                sampleRatio.push_back(a / l), blockRatio.push_back(b / l);
            }
            std::printf("%-10s %5d %10.2f %10.2f %10.2f %8.2f %8.2f\n",
                        sections ? "sections" : "recursion", order, Median(sample), Median(block),
                        Median(limit), Median(sampleRatio), Median(blockRatio));
        }
    }
#endif
}

// The x87 status word's denormal-operand and underflow flags (bits 1 and 4): raised, the x87
// took the slow paths that an Intel core runs in microcode.
unsigned SlowPathFlags() {
#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
    std::uint16_t status;
    __asm__ volatile("fnstsw %0" : "=m"(status));
    return status & 0x12u;
#else
    return 0;
#endif
}
void ClearFlags() {
#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
    __asm__ volatile("fnclex");
#endif
}

// The silence sweep: every design the library makes (the recursion where it is stable, the
// sections for all), at 22050 and 96000 Hz, through ProcessBlock on float blocks of 512 and
// through ProcessSample: noise, then `seconds` of zeros of random sign in 10-second windows.
// Each window is measured against the same filter on noise in that window: a twin of the filter
// runs noise for one block in eight between the silent chunks; a design whose worst window costs
// more than 1.3 times that runs again, and the lesser of its two worst windows counts. Prints the
// designs above 1.3x or that raised the slow-path flags, with the share of that window's samples
// on each silent path (normal/integer/frozen) and its noise figure, and per path, call and rate
// the worst window of all.
void SilenceSweep(int blockSeconds, int sampleSeconds, int onlyRate, int onlyFilter) {
    constexpr int kBlock = 512;
    std::mt19937 rng(5);
    const std::vector<float> noise = Noise(kBlock);
    std::vector<float> buffer(kBlock);
    // Zeros of random sign, made beforehand so that the windows time the filters alone.
    std::vector<std::vector<float>> zeros(61, std::vector<float>(kBlock));
    for (auto& block : zeros)
        for (float& z : block)
            z = (rng() & 1) ? 0.0f : -0.0f;
    std::printf(
        "\nSilence sweep (float blocks of 512 for %d s, or sample by sample for %d s, of zeros "
        "of random sign after 10 s of noise;\nworst 10-s window of thread time as a "
        "multiple of the same filter on noise in that window (a twin between the chunks);\n"
        "a design above 1.3x runs twice, the lesser counts; listed: above 1.3x or flags "
        "raised)\n\n",
        blockSeconds, sampleSeconds);
    std::printf("%-10s %-7s %6s %-5s %-5s %5s %8s %8s %6s  %s\n", "path", "call", "rate", "kind",
                "resp", "order", "noise ns", "worst x", "flags",
                "worst window: normal/integer/frozen");
    for (int sections = 0; sections <= 1; ++sections)
        for (int perSample = 0; perSample <= 1; ++perSample)
            // A rate of the caller's (48000, say) runs alone.
            for (const int rate :
                 onlyRate != 0 ? std::vector<int>{onlyRate} : std::vector<int>{22050, 96000}) {
                if (onlyFilter != 0 && sections != onlyFilter - 1) continue;
                if ((perSample ? sampleSeconds : blockSeconds) < 10) continue;
                const int window = 10 * rate / kBlock;
                const int seconds = perSample ? sampleSeconds : blockSeconds;
                double worstAll = 0;
                int flagged = 0, designs = 0, over = 0;
                for (int kind = fkButterworth; kind <= fkElliptic; ++kind)
                    for (int response = ftLowpass; response <= ftHighShelf; ++response)
                        for (int order = 1; order <= 8; ++order) {
                            if (response >= ftLowShelf && kind != fkButterworth) continue;
                            // A design above 1.3x runs a second time, afresh, and the lesser of
                            // its two worst windows counts: a cost of the design comes again, a
                            // hiccup of the machine (a few hundred microseconds are a whole
                            // window of a cheap filter) does not.
                            double worst = 0, worstNoise = 0;
                            unsigned flags = 0;
                            // The share of the worst window's samples on each silent path.
                            double share[3] = {};
                            bool unstable = false;
                            for (int attempt = 0; attempt < 2; ++attempt) {
                                // The filter, and a twin of it that runs noise between the
                                // silent chunks: each window is measured against the same filter on
                                // noise at the same time, so that a machine whose speed drifts (a
                                // shared core) moves both.
                                TdspIIRFilter f, twinFilter;
                                for (TdspIIRFilter* g : {&f, &twinFilter}) {
                                    g->SetSampleRate(rate);
                                    g->SetKind(static_cast<TdspIIRFilterKind>(kind));
                                    g->SetResponse(static_cast<TdspIIRFilterResponse>(response));
                                    g->SetOrder(static_cast<TdspIIRFilterOrder>(order));
                                    g->SetRipple(1), g->SetAttenuation(60), g->SetGain(-9);
                                    g->SetFrequency(1, 700), g->SetFrequency(2, 2500);
                                }
                                if (!sections && !f.IsStable()) {
                                    unstable = true;
                                    break;
                                }
                                TdspIIRSections s(f), twinSections(twinFilter);
                                const auto run = [&](TdspIIRFilter& rf, TdspIIRSections& rs,
                                                     const float* in) {
                                    if (perSample) {
                                        for (int i = 0; i < kBlock; ++i)
                                            buffer[i] = static_cast<float>(
                                                sections ? rs.ProcessSample(in[i])
                                                         : rf.ProcessSample(in[i]));
                                    } else if (sections) {
                                        rs.ProcessBlock(in, buffer.data(), kBlock);
                                    } else {
                                        rf.ProcessBlock(in, buffer.data(), kBlock);
                                    }
                                    benchmark::DoNotOptimize(buffer.data());
                                };
                                // The lead-in: 10 s of noise through the filter itself.
                                const double leadIn = [&] {
                                    const double start = ThreadSeconds();
                                    for (int b = 0; b < window; ++b)
                                        run(f, s, noise.data());
                                    return (ThreadSeconds() - start) * 1e9 / (window * kBlock);
                                }();
                                for (int b = 0; b < 64; ++b) // the twin past its first samples
                                    run(twinFilter, twinSections, noise.data());
                                double runWorst = 0, runNoise = leadIn, runShare[3] = {};
                                const auto paths = [&](std::uint64_t* c) {
                                    for (int p = 0; p < 3; ++p)
                                        c[p] =
                                            sections
                                                ? s.GetSilentSamples(static_cast<TdspSilentPath>(p))
                                                : f.GetSilentSamples(
                                                      static_cast<TdspSilentPath>(p));
                                };
                                constexpr int kChunk = 64, kNoiseBlocks = 8;
                                for (int w = 0; w < seconds / 10; ++w) {
                                    std::uint64_t was[3], now[3];
                                    paths(was);
                                    double silent = 0, loud = 0;
                                    int loudBlocks = 0;
                                    for (int b = 0; b < window;) {
                                        const int chunk = std::min(kChunk, window - b);
                                        const double start = ThreadSeconds();
                                        for (int k = 0; k < chunk; ++k, ++b) {
                                            ClearFlags();
                                            run(f, s,
                                                zeros[static_cast<std::size_t>(b) % zeros.size()]
                                                    .data());
                                            // The float stores of ProcessSample's results are the
                                            // caller's: only the block calls' flags count.
                                            if (!perSample) flags |= SlowPathFlags();
                                        }
                                        const double middle = ThreadSeconds();
                                        for (int k = 0; k < kNoiseBlocks; ++k)
                                            run(twinFilter, twinSections, noise.data());
                                        loud += ThreadSeconds() - middle;
                                        silent += middle - start;
                                        loudBlocks += kNoiseBlocks;
                                    }
                                    paths(now);
                                    const double noiseNs = loud * 1e9 / (loudBlocks * kBlock);
                                    const double ratio = silent * 1e9 / (window * kBlock) / noiseNs;
                                    if (ratio > runWorst) {
                                        runWorst = ratio, runNoise = noiseNs;
                                        for (int p = 0; p < 3; ++p)
                                            runShare[p] = static_cast<double>(now[p] - was[p]) /
                                                          (static_cast<double>(window) * kBlock);
                                    }
                                }
                                if (attempt == 0 || runWorst < worst) {
                                    worst = runWorst, worstNoise = runNoise;
                                    for (int p = 0; p < 3; ++p)
                                        share[p] = runShare[p];
                                }
                                if (worst <= 1.3) break;
                            }
                            if (unstable) continue;
                            ++designs, flagged += flags != 0, over += worst > 1.5;
                            worstAll = std::max(worstAll, worst);
                            if (worst > 1.3 || flags)
                                std::printf("%-10s %-7s %6d %-5d %-5d %5d %8.2f %8.2f %6s  "
                                            "%.2f/%.2f/%.2f\n",
                                            sections ? "sections" : "recursion",
                                            perSample ? "sample" : "block", rate, kind, response,
                                            order, worstNoise, worst, flags ? "raised" : "clear",
                                            share[0], share[1], share[2]);
                        }
                std::printf("%s, %s, %d Hz: %d designs, worst window %.2fx noise, %d above 1.5x, "
                            "slow-path flags raised by %d\n\n",
                            sections ? "sections" : "recursion",
                            perSample ? "ProcessSample" : "ProcessBlock", rate, designs, worstAll,
                            over, flagged);
                std::fflush(stdout);
            }
}

} // namespace

// Google Benchmark's options, then the limit table; `--silence-sweep[=seconds[:seconds]]` runs the
// silence sweep (default 300 s of silence per design through the block calls, and as long, or the
// second figure, through ProcessSample; a figure under 10 leaves that call out; a third, a rate,
// runs only that one (0: 22050 and 96000), a fourth, `recursion` or `sections`, only that filter)
// instead of the table,
// `--no-limit-table` leaves the table out (for a caller that reads the benchmarks' JSON on standard
// output).
int main(int argc, char** argv) {
    int sweep = 0, sampleSweep = 0, sweepRate = 0, sweepFilter = 0;
    bool table = true;
    for (int i = 1; i < argc; ++i) {
        const bool isSweep = std::strncmp(argv[i], "--silence-sweep", 15) == 0;
        const bool noTable = std::strcmp(argv[i], "--no-limit-table") == 0;
        if (!isSweep && !noTable) continue;
        if (isSweep) {
            sweep = argv[i][15] == '=' ? std::atoi(argv[i] + 16) : 300;
            const char* second = std::strchr(argv[i], ':');
            sampleSweep = second ? std::atoi(second + 1) : sweep;
            const char* third = second ? std::strchr(second + 1, ':') : nullptr;
            sweepRate = third ? std::atoi(third + 1) : 0;
            const char* fourth = third ? std::strchr(third + 1, ':') : nullptr;
            sweepFilter = !fourth ? 0 : std::strcmp(fourth + 1, "sections") == 0 ? 2 : 1;
        }
        if (noTable) table = false;
        for (int j = i; j + 1 < argc; ++j)
            argv[j] = argv[j + 1];
        --argc;
        --i;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (sweep > 0 || sampleSweep > 0) { // `=0:60`: ProcessSample alone
        SilenceSweep(sweep, sampleSweep, sweepRate, sweepFilter);
        return 0;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (table) PrintLimitTable();
    return 0;
}
