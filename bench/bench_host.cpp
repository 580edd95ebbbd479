// Audio throughput of VST 2 modules loaded as a host loads them, ours against a peer, and the
// cost of creating and closing an instance through main.
//
// Usage: bench_host [OUR_MODULE [PEER_MODULE]]
// The peer is DISTRHO's "3 Band EQ" (Debian dpf-plugins-vst), set to non-neutral gains. Each
// block size is timed in alternating rounds (ours, peer, ours, ...) and the medians compared.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "VstHost.h"

using namespace vurnel::host;
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
double TimeBlocks(const Subject& s, int block, double seconds) {
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
            s.instance.Process(in, out, block, false);
        frames += 16LL * block;
        elapsed = Clock::now() - start;
    } while (elapsed.count() < seconds);
    return elapsed.count() * 1e9 / static_cast<double>(frames);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    try {
        const std::string ours = argc > 1 ? argv[1] : DefaultModulePath();
        const std::string peer = argc > 2 ? argv[2] : "/usr/lib/vst/3BandEQ-vst.so";
        Subject a(
            "MIRVAK_Vurnel", ours,
            {{"Bass cutoff", 0.3f}, {"Treble cutoff", 0.6f}, {"Bass", 0.8f}, {"Treble", 0.3f}});
        Subject b("3 Band EQ", peer, {{"Low", 0.7f}, {"Mid", 0.4f}, {"High", 0.3f}});
        std::printf("stereo frames at 44100 Hz, medians of 7 alternating rounds\n\n");
        std::printf("%6s  %16s  %16s  %18s\n", "block", "ours (ns/frame)", "peer (ns/frame)",
                    "throughput ours/peer");
        for (int block : {64, 512, 4096}) {
            TimeBlocks(a, block, 0.05), TimeBlocks(b, block, 0.05); // warm up
            std::vector<double> ta, tb;
            for (int round = 0; round < 7; ++round) {
                ta.push_back(TimeBlocks(a, block, 0.15));
                tb.push_back(TimeBlocks(b, block, 0.15));
            }
            const double ma = Median(ta), mb = Median(tb);
            std::printf("%6d  %16.2f  %16.2f  %18.2f\n", block, ma, mb, mb / ma);
        }
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
