// The VST 3 process call against the LV2 plug-in's run, in one run: the bundle's module loaded
// by file name as a host loads it (tests/vst3_host.h), the LV2 face's instance class driven
// directly (what its run() entry calls), the same settings and input, scenes at rest (noise,
// bass +6 dB below 200 Hz, treble −4 dB above 5 kHz), automated (a new bass gain and bass cutoff
// every block, gliding: a VST 3 point at offset 0, an LV2 control value) and on silence. Each
// scene and block size is timed in alternating rounds; the table gives median ns per stereo
// frame and the median of the per-round ratios VST 3 / LV2.
//
// Usage: bench_vst3 [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "Lv2ToneControl.h"
#include "vst3_host.h"

using Clock = std::chrono::steady_clock;
using namespace vst3host;

namespace {

constexpr double kRate = 48000.0;
constexpr Uid kCid = MakeUid(0xE92586AD, 0xA6044FD4, 0xBEAC4694, 0x3C77699E);
constexpr double kSeconds = 0.5; // of audio per round and subject

enum Scene { kRest, kAutomated, kSilence };
const char* const kSceneNames[] = {"at rest", "automated (bass gain and cutoff)", "silence"};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::vector<float> Noise(std::size_t n, std::uint32_t seed) {
    std::vector<float> v(n);
    for (float& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = 0.25f * float(std::int32_t(seed)) / 2147483648.0f;
    }
    return v;
}

// The automated values of block b: a 0.5 Hz sine, bass ±12 dB, bass cutoff 80–400 Hz.
float AutomatedBass(long b, int block) {
    return float(12.0 * std::sin(2 * M_PI * 0.5 * double(b * block) / kRate));
}
float AutomatedCutoff(long b, int block) {
    return float(80.0 *
                 std::pow(5.0, 0.5 + 0.5 * std::sin(2 * M_PI * 0.5 * double(b * block) / kRate)));
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
    Module module(VURNEL_VST3_MODULE);
    if (!module.Loaded()) {
        std::fprintf(stderr, "cannot load %s\n", VURNEL_VST3_MODULE);
        return 1;
    }
    std::printf("ns per stereo frame at 48 kHz, medians of %d alternating rounds\n", rounds);
    std::printf("%-34s %6s %8s %8s %9s\n", "scene", "block", "VST 3", "LV2", "VST3/LV2");
    for (Scene scene : {kRest, kAutomated, kSilence}) {
        for (int block : {64, 256, 1024}) {
            const long blocks = long(kSeconds * kRate) / block;
            std::vector<float> in[2] = {Noise(std::size_t(block), 1), Noise(std::size_t(block), 2)};
            if (scene == kSilence)
                for (auto& v : in)
                    std::fill(v.begin(), v.end(), 0.0f);
            std::vector<float> out[2] = {std::vector<float>(std::size_t(block)),
                                         std::vector<float>(std::size_t(block))};

            Instance vst3(module.Factory(), kCid);
            vst3.Start(kRate, block);
            Changes changes;
            const double settings[4] = {200, 5000, 6, -4};
            for (ParamID id = 0; id < 4; ++id)
                changes.Add(id, 0, vst3.controller->plainParamToNormalized(id, settings[id]));
            vst3.Process(in[0].data(), in[1].data(), out[0].data(), out[1].data(), block, &changes);

            vurnel::Lv2ToneControl lv2(kRate);
            float controls[5] = {200, 5000, 6, -4, 1};
            for (std::uint32_t p = 0; p < 5; ++p)
                lv2.ConnectPort(vurnel::Lv2ToneControl::kFirstControl + p, &controls[p]);
            lv2.ConnectPort(vurnel::Lv2ToneControl::kInLeft, in[0].data());
            lv2.ConnectPort(vurnel::Lv2ToneControl::kInRight, in[1].data());
            lv2.ConnectPort(vurnel::Lv2ToneControl::kOutLeft, out[0].data());
            lv2.ConnectPort(vurnel::Lv2ToneControl::kOutRight, out[1].data());
            lv2.Activate();
            lv2.Run(std::uint32_t(block));

            long vst3Block = 0, lv2Block = 0;
            auto runVst3 = [&] {
                for (long b = 0; b < blocks; ++b, ++vst3Block) {
                    IParameterChanges* given = nullptr;
                    if (scene == kAutomated) {
                        changes.Clear();
                        changes.Add(2, 0,
                                    vst3.controller->plainParamToNormalized(
                                        2, AutomatedBass(vst3Block, block)));
                        changes.Add(0, 0,
                                    vst3.controller->plainParamToNormalized(
                                        0, AutomatedCutoff(vst3Block, block)));
                        given = &changes;
                    }
                    vst3.Process(in[0].data(), in[1].data(), out[0].data(), out[1].data(), block,
                                 given);
                }
            };
            auto runLv2 = [&] {
                for (long b = 0; b < blocks; ++b, ++lv2Block) {
                    if (scene == kAutomated) {
                        controls[2] = AutomatedBass(lv2Block, block);
                        controls[0] = AutomatedCutoff(lv2Block, block);
                    }
                    lv2.Run(std::uint32_t(block));
                }
            };
            auto time = [&](const std::function<void()>& run) {
                const auto start = Clock::now();
                run();
                const double ns =
                    std::chrono::duration<double, std::nano>(Clock::now() - start).count();
                return ns / double(blocks * block);
            };
            std::vector<double> v, l, ratio;
            for (int r = 0; r < rounds; ++r) {
                v.push_back(time(runVst3));
                l.push_back(time(runLv2));
                ratio.push_back(v.back() / l.back());
            }
            std::printf("%-34s %6d %8.2f %8.2f %9.3f\n", kSceneNames[scene], block, Median(v),
                        Median(l), Median(ratio));
        }
    }
    return 0;
}
