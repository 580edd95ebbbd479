// Fuzzes the host interface: the input is read as a sequence of host calls on one or two
// instances, made only through the effect record's entry points. Checked: no sanitizer report,
// no text longer than 22 characters and its NUL, no write past a text buffer (guard bytes, and
// AddressSanitizer on exactly sized buffers), and finite outputs for finite input while every
// parameter value set was within 0..1 and every sample rate a real one.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "Main.h"

using namespace vurnel;

namespace {

VstIntPtr VURNEL_VSTCALL Host(AEffect*, std::int32_t opcode, std::int32_t, VstIntPtr, void*,
                              float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

struct Instance {
    AEffect* e = nullptr;
    bool sane = true; // parameters in 0..1 and sample rates in 1 kHz .. 768 kHz so far
    void Create() {
        e = (new TMirvakEffect(Host, 0, 0))->getEffectRecord();
        sane = true;
    }
    void Close() {
        if (e) {
            if (e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f) != 1) std::abort();
            e = nullptr;
        }
    }
};

constexpr int kTextBytes = 23; // 22 characters and the NUL
constexpr int kGuard = 16;

void TextCall(AEffect* e, std::int32_t opcode, std::int32_t index) {
    // Heap buffer of exactly the allowed size for AddressSanitizer, and a guarded copy.
    std::unique_ptr<char[]> exact(new char[kTextBytes]);
    std::memset(exact.get(), 'x', kTextBytes);
    exact[kTextBytes - 1] = '\0';
    e->dispatcher(e, opcode, index, 0, exact.get(), 0.0f);
    unsigned char guarded[kTextBytes + kGuard];
    std::memset(guarded, 0xA5, sizeof guarded);
    guarded[0] = '\0';
    e->dispatcher(e, opcode, index, 0, guarded, 0.0f);
    if (std::memchr(guarded, 0, kTextBytes) == nullptr) std::abort(); // longer than 22
    for (int i = kTextBytes; i < kTextBytes + kGuard; ++i)
        if (guarded[i] != 0xA5) std::abort(); // written past the text
}

float AnyFloat(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return in.ConsumeFloatingPointInRange<float>(0.0f, 1.0f);
    case 1: {
        const std::uint32_t bits = in.ConsumeIntegral<std::uint32_t>();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    case 2:
        return in.ConsumeFloatingPointInRange<float>(-10.0f, 10.0f);
    default:
        return in.ConsumeFloatingPoint<float>();
    }
}

void Audio(Instance& fx, FuzzedDataProvider& in) {
    // Mostly short blocks, sometimes long ones: the long ones find little more and cost a lot.
    const std::int32_t frames = in.ConsumeIntegralInRange<int>(0, 7) == 0
                                    ? in.ConsumeIntegralInRange<std::int32_t>(-5, 4096)
                                    : in.ConsumeIntegralInRange<std::int32_t>(-5, 80);
    const int layout = in.ConsumeIntegralInRange<int>(0, 2);
    const bool accumulate = in.ConsumeBool();
    const std::size_t n = frames > 0 ? static_cast<std::size_t>(frames) : 1;
    std::vector<float> l(n), r(n), ol(n), orr(n);
    std::uint32_t seed = in.ConsumeIntegral<std::uint32_t>();
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        l[i] = static_cast<float>(static_cast<std::int32_t>(seed)) / 2147483648.0f;
        r[i] = -l[i] * 0.5f;
        ol[i] = orr[i] = accumulate ? 0.25f : 0.0f;
    }
    float* ins[] = {l.data(), r.data()};
    float* outs[] = {ol.data(), orr.data()};
    if (layout == 1) ins[0] = ol.data(), ins[1] = orr.data(), ol = l, orr = r; // in place
    if (layout == 2) outs[0] = r.data();                                       // crossed
    if (accumulate)
        fx.e->process(fx.e, ins, outs, frames);
    else
        fx.e->processReplacing(fx.e, ins, outs, frames);
    if (!fx.sane || frames <= 0) return;
    for (std::int32_t i = 0; i < frames; ++i)
        if (!std::isfinite(outs[0][i]) || !std::isfinite(outs[1][i])) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Instance fx[2]; // created when first used, and again after a close
    for (int step = 0; step < 32 && in.remaining_bytes() > 0; ++step) {
        Instance& one = fx[in.ConsumeIntegralInRange<int>(0, 1)];
        if (!one.e) one.Create();
        AEffect* e = one.e;
        switch (in.ConsumeIntegralInRange<int>(0, 6)) {
        case 0: { // any opcode
            std::int32_t opcode = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::int32_t>(-2, 30)
                                                   : in.ConsumeIntegral<std::int32_t>();
            const std::int32_t index = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 260)
                                                        : in.ConsumeIntegral<std::int32_t>();
            const VstIntPtr value = in.ConsumeIntegral<VstIntPtr>();
            const float opt = AnyFloat(in);
            if (opcode >= 4 && opcode <= 8) {
                TextCall(e, opcode, index);
            } else if (opcode == effClose) {
                one.Close();
            } else if (opcode == effEditGetRect) {
                void* rect = &one;
                e->dispatcher(e, opcode, index, value, &rect, opt);
                if (rect != &one) std::abort(); // no editor: untouched
            } else {
                if (opcode == effSetSampleRate &&
                    !(std::isfinite(opt) && opt >= 1000.0f && opt <= 768000.0f))
                    one.sane = false;
                e->dispatcher(e, opcode, index, value, nullptr, opt);
            }
            break;
        }
        case 1: { // a parameter, any index and any float
            const std::int32_t index = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 5)
                                                        : in.ConsumeIntegral<std::int32_t>();
            const float value = AnyFloat(in);
            if ((index & 0xFF) < 4 && !(value >= 0.0f && value <= 1.0f)) one.sane = false;
            e->setParameter(e, index, value);
            const float back = e->getParameter(e, index);
            if (one.sane && !std::isfinite(back)) std::abort();
            break;
        }
        case 2: { // a sample rate
            const float rate = AnyFloat(in) * (in.ConsumeBool() ? 100000.0f : 1.0f);
            if (!(std::isfinite(rate) && rate >= 1000.0f && rate <= 768000.0f)) one.sane = false;
            e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, rate);
            break;
        }
        case 3:
        case 4:
            Audio(one, in);
            break;
        case 5:
            TextCall(e, in.ConsumeIntegralInRange<std::int32_t>(6, 8),
                     in.ConsumeIntegralInRange<std::int32_t>(0, 300));
            break;
        default:
            one.Close();
            break;
        }
    }
    fx[0].Close();
    fx[1].Close();
    return 0;
}
