// Fuzzes the VST 3 face through the module's own entry (GetPluginFactory, compiled in): the
// input is read as a sequence of host calls on one instance: setup at any sample rate and block
// size, activation and processing switched in any order, process calls of 0..4096 frames with
// buffers missing, short of channels, shared or in place, parameter queues with any IDs, point
// offsets (negative, past the block, out of order) and value bits, state blobs of any bytes read
// in chunks of any size, and the controller's text and value conversions. Checked: no sanitizer
// report, buffers sized exactly to the frames (AddressSanitizer sees any access past them), a
// state the plug-in accepts is the state it then reports, and finite outputs for finite input
// whenever the sample rate is a real one.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vst3_host.h"

using namespace vst3host;

extern "C" IPluginFactory* GetPluginFactory();

namespace {

constexpr Uid kCid = MakeUid(0xE92586AD, 0xA6044FD4, 0xBEAC4694, 0x3C77699E);

double AnyValue(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) return in.ConsumeFloatingPointInRange<double>(-0.5, 1.5);
    const std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

double AnyRate(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return AnyValue(in);
    case 1:
        return in.ConsumeBool() ? 8000.0 : 384000.0;
    default:
        return in.ConsumeFloatingPointInRange<double>(1000.0, 768000.0);
    }
}

struct Host {
    Instance plugin{GetPluginFactory(), kCid};
    bool sane = true;      // the rate the plug-in runs at is a real one
    bool setupSane = true; // the rate of the last setup, which the next activation takes
    std::vector<float> buffers[4];

    void Process(FuzzedDataProvider& in) {
        const int32 frames = in.ConsumeIntegralInRange<int>(0, 5) == 0
                                 ? in.ConsumeIntegralInRange<int32>(0, 4096)
                                 : in.ConsumeIntegralInRange<int32>(0, 80);
        std::uint32_t seed = in.ConsumeIntegral<std::uint32_t>();
        for (auto& b : buffers) {
            b.assign(frames ? std::size_t(frames) : 1, 0.0f);
            if (in.ConsumeBool()) continue; // silence
            for (float& x : b) {
                seed = seed * 1664525u + 1013904223u;
                x = float(std::int32_t(seed)) / 2147483648.0f;
            }
        }
        // Buses: the usual stereo pair, in place, or a missing bus or channel.
        const int layout = in.ConsumeIntegralInRange<int>(0, 4);
        float* in2[2] = {buffers[0].data(), buffers[1].data()};
        float* out2[2] = {buffers[2].data(), buffers[3].data()};
        if (layout == 1) {
            out2[0] = in2[0];
            out2[1] = in2[1];
        }
        AudioBusBuffers inBus{}, outBus{};
        inBus.numChannels = layout == 2 ? 1 : 2;
        inBus.channelBuffers32 = in2;
        inBus.silenceFlags = in.ConsumeIntegral<std::uint64_t>();
        outBus.numChannels = 2;
        outBus.channelBuffers32 = layout == 3 ? nullptr : out2;
        Changes changes;
        const int queues = in.ConsumeIntegralInRange<int>(0, 8);
        for (int q = 0; q < queues; ++q) {
            const ParamID id = in.ConsumeBool() ? in.ConsumeIntegralInRange<ParamID>(0, 6)
                                                : in.ConsumeIntegral<ParamID>();
            const int points = in.ConsumeIntegralInRange<int>(0, 6);
            for (int p = 0; p < points; ++p) {
                const int32 offset = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32>(0, frames)
                                                      : in.ConsumeIntegral<int32>();
                changes.Add(id, offset, AnyValue(in));
            }
        }
        ProcessData data{};
        data.symbolicSampleSize = kSample32;
        data.numSamples = frames;
        data.numInputs = layout == 4 ? 0 : 1;
        data.numOutputs = 1;
        data.inputs = layout == 4 ? nullptr : &inBus;
        data.outputs = &outBus;
        data.inputParameterChanges = in.ConsumeBool() ? &changes : nullptr;
        plugin.processor->process(data);
        if (!sane || layout >= 2) return;
        for (int c = 0; c < 2; ++c)
            for (int32 i = 0; i < frames; ++i)
                if (!std::isfinite(out2[c][i])) std::abort();
    }

    void State(FuzzedDataProvider& in) {
        std::vector<unsigned char> blob = plugin.ComponentState();
        if (in.ConsumeBool() || blob.empty()) {
            blob = in.ConsumeBytes<unsigned char>(in.ConsumeIntegralInRange<std::size_t>(0, 80));
        } else {
            const int flips = in.ConsumeIntegralInRange<int>(0, 3);
            for (int f = 0; f < flips; ++f)
                blob[in.ConsumeIntegralInRange<std::size_t>(0, blob.size() - 1)] =
                    in.ConsumeIntegral<unsigned char>();
        }
        const int chunk = in.ConsumeIntegralInRange<int>(1, 64);
        Stream stream(blob, chunk);
        if (plugin.component->setState(&stream) == kResultOk) {
            // Accepted: the plug-in now reports exactly this state.
            if (plugin.ComponentState() != blob) std::abort();
        }
        stream.Rewind();
        plugin.controller->setComponentState(&stream);
        stream.Rewind();
        plugin.controller->setState(&stream);
    }

    void Texts(FuzzedDataProvider& in) {
        const ParamID id = in.ConsumeIntegralInRange<ParamID>(0, 7);
        String128 text;
        plugin.controller->getParamStringByValue(id, AnyValue(in), text);
        TChar typed[40] = {};
        const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 39);
        for (std::size_t i = 0; i < n; ++i)
            typed[i] = in.ConsumeBool() ? TChar(in.ConsumeIntegralInRange<int>(32, 126))
                                        : in.ConsumeIntegral<TChar>();
        ParamValue value = 0;
        if (plugin.controller->getParamValueByString(id, typed, value) == kResultOk &&
            !(value >= 0.0 && value <= 1.0))
            std::abort();
        const double plain = plugin.controller->normalizedParamToPlain(id, AnyValue(in));
        const double back = plugin.controller->plainParamToNormalized(id, plain);
        if (id < 6 && !(back >= 0.0 && back <= 1.0)) std::abort();
        plugin.controller->setParamNormalized(id, AnyValue(in));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Host host;
    if (!host.plugin.Ok()) std::abort();
    for (int step = 0; step < 40 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: {
            ProcessSetup setup{kRealtime, in.ConsumeIntegralInRange<int32>(0, 1),
                               in.ConsumeIntegralInRange<int32>(0, 8192), AnyRate(in)};
            if (host.plugin.processor->setupProcessing(setup) == kResultOk)
                host.setupSane = setup.sampleRate >= 1000.0 && setup.sampleRate <= 768000.0;
            break;
        }
        case 1: {
            const bool on = in.ConsumeBool();
            if (host.plugin.component->setActive(on) == kResultOk && on) host.sane = host.setupSane;
            break;
        }
        case 2:
            host.plugin.processor->setProcessing(in.ConsumeBool());
            break;
        case 3:
        case 4:
            host.Process(in);
            break;
        case 5:
            host.State(in);
            break;
        default:
            host.Texts(in);
            break;
        }
    }
    return 0;
}
