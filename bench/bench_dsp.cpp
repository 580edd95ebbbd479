// Google Benchmark cases for the filter library and the effect's parameter path.
#include <benchmark/benchmark.h>

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

} // namespace

BENCHMARK_MAIN();
