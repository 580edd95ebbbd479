// Fuzzes the LV2 entry: the input is read as a sequence of host calls made only through the
// descriptor lv2_descriptor returns: instantiate at any sample rate, connect ports in any order
// (audio ports to separate, shared or in-place buffers, or to nothing), control values of any
// float bit pattern, runs of 0..4096 frames, activate/deactivate cycles, cleanup and
// instantiate again. Checked: no sanitizer report, buffers sized exactly to the frames run (so
// AddressSanitizer sees any read or write past them), and finite outputs for finite input
// whenever the sample rate is a real one (control values are clamped by the plug-in).
#include <fuzzer/FuzzedDataProvider.h>

#include <lv2/core/lv2.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

extern "C" const LV2_Descriptor* lv2_descriptor(std::uint32_t index);

namespace {

constexpr int kBuffers = 5;
constexpr std::uint32_t kPorts = 9;

float AnyFloat(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: {
        const std::uint32_t bits = in.ConsumeIntegral<std::uint32_t>();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    case 1:
        return in.ConsumeFloatingPointInRange<float>(-30.0f, 12000.0f);
    default:
        return in.ConsumeFloatingPoint<float>();
    }
}

double AnyRate(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
        return 0.0;
    case 1:
        return in.ConsumeBool() ? -44100.0 : std::numeric_limits<double>::quiet_NaN();
    case 2:
        return in.ConsumeBool() ? 1e300 : std::numeric_limits<double>::infinity();
    case 3:
        return in.ConsumeFloatingPoint<double>();
    default:
        return in.ConsumeFloatingPointInRange<double>(1000.0, 768000.0);
    }
}

struct Host {
    const LV2_Descriptor* d = lv2_descriptor(0);
    LV2_Handle h = nullptr;
    bool sane = false;
    int slot[4] = {-1, -1, -1, -1}; // audio port -> buffer, -1 when not connected
    float controls[5] = {50.0f, 10000.0f, 0.0f, 0.0f, 1.0f}; // the last: smooth
    std::vector<float> buffers[kBuffers];

    void Instantiate(double rate) {
        Cleanup();
        h = d->instantiate(d, rate, "/nonexistent/", nullptr);
        sane = std::isfinite(rate) && rate >= 1000.0 && rate <= 768000.0;
        for (int& s : slot)
            s = -1;
        for (std::uint32_t i = 0; i < 5; ++i)
            d->connect_port(h, 4 + i, &controls[i]);
    }
    void Cleanup() {
        if (h) d->cleanup(h);
        h = nullptr;
    }
    void Run(FuzzedDataProvider& in) {
        const std::int32_t asked = in.ConsumeIntegralInRange<int>(0, 7) == 0
                                       ? in.ConsumeIntegralInRange<std::int32_t>(-5, 4096)
                                       : in.ConsumeIntegralInRange<std::int32_t>(-5, 80);
        // A host cannot pass fewer than no frames.
        const std::uint32_t frames = asked > 0 ? static_cast<std::uint32_t>(asked) : 0;
        // Fresh buffers of exactly the frames run, inputs finite, outputs preset.
        std::uint32_t seed = in.ConsumeIntegral<std::uint32_t>();
        for (auto& b : buffers) {
            b.assign(frames ? frames : 1, 0.0f);
            for (float& x : b) {
                seed = seed * 1664525u + 1013904223u;
                x = static_cast<float>(static_cast<std::int32_t>(seed)) / 2147483648.0f;
            }
        }
        for (std::uint32_t port = 0; port < 4; ++port)
            d->connect_port(h, port, slot[port] < 0 ? nullptr : buffers[slot[port]].data());
        d->run(h, frames);
        const bool connected = slot[0] >= 0 && slot[1] >= 0 && slot[2] >= 0 && slot[3] >= 0;
        if (!sane || !connected) return;
        for (int out = 2; out < 4; ++out)
            for (std::uint32_t i = 0; i < frames; ++i)
                if (!std::isfinite(buffers[slot[out]][i])) std::abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Host host;
    if (host.d == nullptr || lv2_descriptor(1) != nullptr) std::abort();
    host.Instantiate(AnyRate(in));
    if (!host.h) return 0;
    for (int step = 0; step < 40 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: { // an audio port to a buffer (shared, in place or crossed) or to nothing
            const std::uint32_t port = in.ConsumeIntegralInRange<std::uint32_t>(0, 3);
            host.slot[port] = in.ConsumeIntegralInRange<int>(-1, kBuffers - 1);
            break;
        }
        case 1: // a control value (the smooth toggle's too), any bits
            host.controls[in.ConsumeIntegralInRange<int>(0, 4)] = AnyFloat(in);
            break;
        case 2: { // a control port to nothing, or back to its value; or a port that does not exist
            const std::uint32_t port = in.ConsumeIntegralInRange<std::uint32_t>(4, kPorts + 2);
            const bool connect = in.ConsumeBool();
            host.d->connect_port(host.h, port,
                                 connect && port < kPorts ? &host.controls[port - 4] : nullptr);
            break;
        }
        case 3:
        case 4:
            host.Run(in);
            break;
        case 5:
            host.d->activate(host.h);
            break;
        case 6:
            host.d->deactivate(host.h);
            break;
        default: // cleanup and instantiate again
            host.Instantiate(AnyRate(in));
            if (!host.h) return 0;
            break;
        }
    }
    host.Cleanup();
    return 0;
}
