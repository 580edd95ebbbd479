// The VST 3 bundle's module in a host of the project's own (vst3_host.h), with the checks hosts
// and validators run: exports and layout, identifiers, parameters, buses, lifecycle orders,
// process at any rate and block size with sample-accurate automation (against the VST 2
// effect), flushes, silence flags, bypass, and state in small chunks with bad blobs refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Lv2ToneControl.h"
#include "Main.h"
#include "ToneControls.h"
#include "vst3_host.h"

using namespace vst3host;
using vurnel::TMirvakEffect;

namespace {

// The class ID as hosts write it (Ardour's unique-id), and in the platform's bytes.
constexpr Uid kCid = MakeUid(0xE92586AD, 0xA6044FD4, 0xBEAC4694, 0x3C77699E);
enum : ParamID {
    kBassCutoff = 0,
    kTrebleCutoff = 1,
    kBass = 2,
    kTreble = 3,
    kSmooth = 4,
    kBypass = 5
};

Module& TheModule() {
    static Module module(VURNEL_VST3_MODULE);
    return module;
}

IPluginFactory* Factory() {
    return TheModule().Factory();
}

std::vector<float> Noise(std::size_t n, std::uint32_t seed) {
    std::vector<float> v(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (float& s : v) {
        x = x * 1664525u + 1013904223u;
        s = float(std::int32_t(x)) / 2147483648.0f;
    }
    return v;
}

std::string Ascii(const TChar* text) {
    std::string s;
    for (; *text; ++text)
        s += char(*text);
    return s;
}

std::vector<TChar> Wide(const char* text) {
    std::vector<TChar> w;
    for (; *text; ++text)
        w.push_back(TChar(*text));
    w.push_back(0);
    return w;
}

// The VST 2 effect as a reference, given the controls as the plug-in gives them.
struct Reference {
    TMirvakEffect effect{nullptr, 0, 0};
    explicit Reference(double rate) {
        effect.setSampleRate(float(rate));
        for (int c = 0; c < 4; ++c)
            Set(c, vurnel::RangeOfControl(c).defaultValue);
    }
    void Set(int control, float plain) {
        effect.setParameter(control, vurnel::ControlToParameter(control, plain));
    }
    void Run(float* l, float* r, float* ol, float* orr, int frames) {
        float* in[2] = {l, r};
        float* out[2] = {ol, orr};
        effect.processReplacing(in, out, frames);
    }
};

// A random plain value on the grid a person sets (whole hertz, half decibels).
float RandomPlain(std::mt19937& rng, ParamID id) {
    if (id == kBassCutoff) return float(std::uniform_int_distribution<int>(50, 500)(rng));
    if (id == kTrebleCutoff) return float(std::uniform_int_distribution<int>(3000, 10000)(rng));
    return float(std::uniform_int_distribution<int>(-40, 40)(rng)) / 2.0f;
}

} // namespace

TEST(Vst3Module, ExportsItsEntriesFromTheBundleLayout) {
    const std::string path = VURNEL_VST3_MODULE;
#ifdef _WIN32
    EXPECT_NE(path.find("vurnel.vst3/Contents/x86_64-win/vurnel.vst3"), std::string::npos) << path;
    for (const char* name : {"GetPluginFactory", "InitDll", "ExitDll"})
#else
    EXPECT_NE(path.find("vurnel.vst3/Contents/x86_64-linux/vurnel.so"), std::string::npos) << path;
    for (const char* name : {"GetPluginFactory", "ModuleEntry", "ModuleExit"})
#endif
        EXPECT_NE(TheModule().Symbol(name), nullptr) << name;
    ASSERT_NE(Factory(), nullptr);
}

TEST(Vst3Factory, DescribesOneEffectClassAndRefusesUnknownIds) {
    IPluginFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    void* obj = nullptr;
    ASSERT_EQ(factory->queryInterface(kIPluginFactory3Iid.bytes, &obj), kResultOk);
    auto* factory3 = static_cast<IPluginFactory3*>(obj);
    PFactoryInfo info;
    ASSERT_EQ(factory->getFactoryInfo(&info), kResultOk);
    EXPECT_EQ(info.flags & kUnicode, kUnicode);
    ASSERT_EQ(factory->countClasses(), 1);
    PClassInfo2 c2;
    ASSERT_EQ(factory3->getClassInfo2(0, &c2), kResultOk);
    EXPECT_EQ(std::memcmp(c2.cid, kCid.bytes, 16), 0);
    EXPECT_STREQ(c2.category, "Audio Module Class");
    EXPECT_STREQ(c2.subCategories, "Fx|EQ");
    PClassInfoW w;
    ASSERT_EQ(factory3->getClassInfoUnicode(0, &w), kResultOk);
    EXPECT_EQ(Ascii(w.name), c2.name);
    EXPECT_NE(factory->getClassInfo(1, reinterpret_cast<PClassInfo*>(&c2)), kResultOk);

    // Unknown classes and interfaces are refused, at creation and by queryInterface.
    Uid other = kCid;
    other.bytes[15] ^= 1;
    obj = &obj;
    EXPECT_NE(factory->createInstance(other.bytes, kIComponentIid.bytes, &obj), kResultOk);
    EXPECT_EQ(obj, nullptr);
    EXPECT_NE(factory->createInstance(kCid.bytes, kIHostApplicationIid.bytes, &obj), kResultOk);
    Instance plugin(factory, kCid);
    ASSERT_TRUE(plugin.Ok());
    obj = &obj;
    EXPECT_EQ(plugin.component->queryInterface(kIBStreamIid.bytes, &obj), kNoInterface);
    EXPECT_EQ(obj, nullptr);
    ASSERT_EQ(plugin.controller->queryInterface(kIProcessContextRequirementsIid.bytes, &obj),
              kResultOk);
    auto* requirements = static_cast<IProcessContextRequirements*>(obj);
    EXPECT_EQ(requirements->getProcessContextRequirements(), 0u);
    requirements->release();
    // A view only for the editor's name, and only where the module has the editor (Linux).
    EXPECT_EQ(plugin.controller->createView("other"), nullptr);
    IPlugView* view = plugin.controller->createView("editor");
#if defined(__linux__) && VURNEL_VST3_HAS_EDITOR
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->release(), 0u);
#else
    EXPECT_EQ(view, nullptr);
#endif
}

TEST(Vst3Parameters, DescribeThemselvesAndRoundTripPlainNormalizedAndText) {
    Instance plugin(Factory(), kCid);
    ASSERT_TRUE(plugin.Ok());
    IEditController* c = plugin.controller;
    ASSERT_EQ(c->getParameterCount(), 6);
    const char* titles[] = {"Bass cutoff", "Treble cutoff", "Bass", "Treble", "Smooth", "Bypass"};
    const double plainDefaults[] = {50, 10000, 0, 0, 1, 0};
    int bypasses = 0;
    for (int32 i = 0; i < 6; ++i) {
        ParameterInfo info;
        ASSERT_EQ(c->getParameterInfo(i, info), kResultOk);
        EXPECT_LE(info.id, 0x7FFFFFFFu);
        EXPECT_EQ(Ascii(info.title), titles[i]);
        EXPECT_TRUE(info.flags & kCanAutomate) << "Ardour ignores parameters without it";
        bypasses += (info.flags & kIsBypass) != 0;
        EXPECT_GE(info.defaultNormalizedValue, 0.0);
        EXPECT_LE(info.defaultNormalizedValue, 1.0);
        EXPECT_EQ(c->getParamNormalized(info.id), info.defaultNormalizedValue);
        EXPECT_EQ(c->normalizedParamToPlain(info.id, info.defaultNormalizedValue),
                  plainDefaults[i]);
        EXPECT_EQ(info.stepCount, i >= 4 ? 1 : 0);
    }
    EXPECT_EQ(bypasses, 1);
    ParameterInfo info;
    EXPECT_NE(c->getParameterInfo(6, info), kResultOk);

    // Every plain value a person sets survives plain → normalized → (a float, as hosts keep
    // it) → plain, and shows as text that reads back to the same plain value.
    std::mt19937 rng(3);
    for (int k = 0; k < 2000; ++k) {
        const ParamID id = ParamID(k % 4);
        const double plain = RandomPlain(rng, id);
        const double n = c->plainParamToNormalized(id, plain);
        ASSERT_GE(n, 0.0);
        ASSERT_LE(n, 1.0);
        ASSERT_EQ(c->normalizedParamToPlain(id, n), plain);
        ASSERT_EQ(c->normalizedParamToPlain(id, double(float(n))), plain) << id << " " << plain;
        String128 text;
        ASSERT_EQ(c->getParamStringByValue(id, n, text), kResultOk);
        ParamValue back = -1;
        ASSERT_EQ(c->getParamValueByString(id, text, back), kResultOk) << Ascii(text);
        const double shown = c->normalizedParamToPlain(id, back);
        // The text rounds: 1 Hz below 1 kHz, 4 digits above, 0.1 dB.
        EXPECT_NEAR(shown, plain,
                    id == kTrebleCutoff ? 0.5
                    : id == kBassCutoff ? 0.5
                                        : 0.05)
            << Ascii(text);
    }
    // Texts as a person types them.
    struct Typed {
        ParamID id;
        const char* text;
        double plain;
    } typed[] = {{kBass, "6 dB", 6},
                 {kTreble, "-3.5db", -3.5},
                 {kBass, "+12", 12},
                 {kTrebleCutoff, "3.5k", 3500},
                 {kTrebleCutoff, "4.2 kHz", 4200},
                 {kBassCutoff, "120 Hz", 120},
                 {kSmooth, "off", 0},
                 {kBypass, "on", 1}};
    for (const Typed& t : typed) {
        ParamValue n = -1;
        ASSERT_EQ(c->getParamValueByString(t.id, Wide(t.text).data(), n), kResultOk) << t.text;
        EXPECT_EQ(c->normalizedParamToPlain(t.id, n), t.plain) << t.text;
    }
    for (const char* bad : {"", "loud", "6 Hz", "12 kHz dB"}) {
        ParamValue n = -1;
        EXPECT_NE(c->getParamValueByString(kBass, Wide(bad).data(), n), kResultOk) << bad;
    }
}

TEST(Vst3Buses, AcceptsStereoOnlyAndKeepsReportingIt) {
    Instance plugin(Factory(), kCid);
    ASSERT_TRUE(plugin.Ok());
    EXPECT_EQ(plugin.component->getBusCount(kAudio, kInput), 1);
    EXPECT_EQ(plugin.component->getBusCount(kAudio, kOutput), 1);
    EXPECT_EQ(plugin.component->getBusCount(kEvent, kInput), 0);
    BusInfo bus;
    ASSERT_EQ(plugin.component->getBusInfo(kAudio, kOutput, 0, bus), kResultOk);
    EXPECT_EQ(bus.channelCount, 2);
    EXPECT_EQ(bus.busType, kMain);
    EXPECT_EQ(plugin.processor->canProcessSampleSize(kSample32), kResultTrue);
    EXPECT_EQ(plugin.processor->canProcessSampleSize(kSample64), kResultFalse);
    SpeakerArrangement stereo = kStereoArrangement, mono = kMonoArrangement, surround = 0x3F;
    SpeakerArrangement two[2] = {kStereoArrangement, kStereoArrangement};
    EXPECT_EQ(plugin.processor->setBusArrangements(&mono, 1, &mono, 1), kResultFalse);
    EXPECT_EQ(plugin.processor->setBusArrangements(&stereo, 1, &surround, 1), kResultFalse);
    EXPECT_EQ(plugin.processor->setBusArrangements(two, 2, two, 2), kResultFalse);
    SpeakerArrangement reported = 0;
    ASSERT_EQ(plugin.processor->getBusArrangement(kOutput, 0, reported), kResultOk);
    EXPECT_EQ(reported, kStereoArrangement);
    EXPECT_EQ(plugin.processor->setBusArrangements(&stereo, 1, &stereo, 1), kResultTrue);
    EXPECT_NE(plugin.processor->getBusArrangement(kInput, 1, reported), kResultOk);
}

// Whatever the order of activation and processing calls before it (and from which thread
// setProcessing comes), a started instance sounds as a fresh one does.
TEST(Vst3Lifecycle, AnyOrderOfActivationAndProcessingLeavesAFreshSound) {
    const int frames = 512;
    auto in = Noise(frames, 1);
    auto render = [&](Instance& p) {
        std::vector<float> l(frames), r(frames);
        Changes changes;
        changes.Add(kBass, 0, p.controller->plainParamToNormalized(kBass, 9));
        EXPECT_EQ(p.Process(in.data(), in.data(), l.data(), r.data(), frames, &changes), kResultOk);
        l.insert(l.end(), r.begin(), r.end());
        return l;
    };
    Instance fresh(Factory(), kCid);
    ASSERT_TRUE(fresh.Start(48000, frames));
    const auto expected = render(fresh);

    using Step = void (*)(Instance&);
    const Step steps[] = {
        [](Instance& p) { p.processor->setProcessing(0); },
        [](Instance& p) { p.component->setActive(0); },
        [](Instance& p) { p.component->setActive(1); },
        [](Instance& p) { p.processor->setProcessing(1); },
        [](Instance& p) { std::thread([&] { p.processor->setProcessing(1); }).join(); },
        [](Instance& p) { std::thread([&] { p.processor->setProcessing(0); }).join(); },
        [](Instance& p) { p.component->initialize(nullptr); },
    };
    std::mt19937 rng(5);
    for (int trial = 0; trial < 40; ++trial) {
        Instance p(Factory(), kCid);
        ASSERT_TRUE(p.Ok());
        const int n = std::uniform_int_distribution<int>(0, 8)(rng);
        for (int s = 0; s < n; ++s) {
            const auto i = std::uniform_int_distribution<std::size_t>(0, std::size(steps) - 1)(rng);
            steps[i](p);
            if (i == 2) render(p); // sound while active changes the histories
        }
        p.processor->setProcessing(0);
        p.component->setActive(0);
        ASSERT_TRUE(p.Start(48000, frames));
        ASSERT_EQ(render(p), expected) << "trial " << trial;
    }
}

// Sample-accurate automation: at 8 kHz to 384 kHz, in blocks of 1 to 8192 frames that vary
// from call to call, with zero to several points per parameter per block and one block with a
// point at every offset, the output equals the VST 2 effect given the same changes at the same
// frames (smooth off), and the input buffers are never written.
TEST(Vst3Process, AutomationAtAnyOffsetEqualsTheVst2EffectAtEveryRateAndBlockSize) {
    for (double rate : {8000.0, 44100.0, 96000.0, 384000.0}) {
        Instance plugin(Factory(), kCid);
        ASSERT_TRUE(plugin.Start(rate, 8192));
        Reference ref(rate);
        std::mt19937 rng{static_cast<unsigned>(rate)};
        Changes changes;
        changes.Add(kSmooth, 0, 0.0);
        std::vector<int> sizes = {1, 8192, 64, 2, 3000};
        for (int b = 0; b < 12; ++b)
            sizes.push_back(std::uniform_int_distribution<int>(1, 4096)(rng));
        for (std::size_t b = 0; b < sizes.size(); ++b) {
            const int frames = sizes[b];
            auto inL = Noise(std::size_t(frames), unsigned(b * 2 + 1));
            auto inR = Noise(std::size_t(frames), unsigned(b * 2 + 2));
            const auto keepL = inL, keepR = inR;
            // The changes: (frame, control, plain), in time order per control.
            std::vector<std::tuple<int, int, float>> points;
            if (b == 2) { // a point at every offset
                for (int k = 0; k < frames; ++k)
                    points.emplace_back(k, k % 4, RandomPlain(rng, ParamID(k % 4)));
            } else {
                for (int c = 0; c < 4; ++c) {
                    std::vector<int> offsets;
                    const int count = std::uniform_int_distribution<int>(0, 3)(rng);
                    for (int k = 0; k < count; ++k)
                        offsets.push_back(std::uniform_int_distribution<int>(0, frames - 1)(rng));
                    std::sort(offsets.begin(), offsets.end());
                    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
                    for (int k : offsets)
                        points.emplace_back(k, c, RandomPlain(rng, ParamID(c)));
                }
            }
            for (auto& [k, c, plain] : points)
                changes.Add(ParamID(c), k,
                            plugin.controller->plainParamToNormalized(ParamID(c), plain));
            std::vector<float> outL(static_cast<std::size_t>(frames)),
                outR(static_cast<std::size_t>(frames));
            uint64 silence = ~0ull;
            ASSERT_EQ(plugin.Process(inL.data(), inR.data(), outL.data(), outR.data(), frames,
                                     &changes, &silence),
                      kResultOk);
            changes.Clear();

            std::stable_sort(points.begin(), points.end(),
                             [](auto& a, auto& b) { return std::get<0>(a) < std::get<0>(b); });
            std::vector<float> refL(static_cast<std::size_t>(frames)),
                refR(static_cast<std::size_t>(frames));
            int done = 0;
            for (std::size_t p = 0; p <= points.size(); ++p) {
                const int at = p < points.size() ? std::get<0>(points[p]) : frames;
                if (at > done) {
                    ref.Run(inL.data() + done, inR.data() + done, refL.data() + done,
                            refR.data() + done, at - done);
                    done = at;
                }
                if (p < points.size()) ref.Set(std::get<1>(points[p]), std::get<2>(points[p]));
            }
            ASSERT_EQ(outL, refL) << "rate " << rate << " block " << b << " of " << frames;
            ASSERT_EQ(outR, refR) << "rate " << rate << " block " << b;
            ASSERT_EQ(inL, keepL);
            ASSERT_EQ(inR, keepR);
            EXPECT_EQ(silence, 0u);
        }
    }
}

// With smooth on (gliding changes), changes at block starts give the LV2 plug-in's bits for
// the same control values and block boundaries.
TEST(Vst3Process, SameBitsAsTheLv2PluginForTheSameControlsAndBlocks) {
    const double rate = 48000;
    Instance plugin(Factory(), kCid);
    ASSERT_TRUE(plugin.Start(rate, 4096));
    vurnel::Lv2ToneControl lv2(rate);
    float controls[5] = {50, 10000, 0, 0, 1};
    std::vector<float> lv2Out[2], in[2];
    lv2.Activate();
    for (std::uint32_t p = 0; p < 5; ++p)
        lv2.ConnectPort(vurnel::Lv2ToneControl::kFirstControl + p, &controls[p]);
    std::mt19937 rng(9);
    for (int b = 0; b < 40; ++b) {
        const int frames = std::uniform_int_distribution<int>(1, 3000)(rng);
        Changes changes;
        if (b % 2 == 1) {
            const int c = std::uniform_int_distribution<int>(0, 3)(rng);
            controls[c] = RandomPlain(rng, ParamID(c));
            changes.Add(ParamID(c), 0,
                        plugin.controller->plainParamToNormalized(ParamID(c), controls[c]));
        }
        for (int ch = 0; ch < 2; ++ch) {
            in[ch] = Noise(std::size_t(frames), unsigned(b * 2 + ch));
            lv2Out[ch].assign(std::size_t(frames), 0.0f);
        }
        std::vector<float> out[2] = {std::vector<float>(static_cast<std::size_t>(frames)),
                                     std::vector<float>(static_cast<std::size_t>(frames))};
        ASSERT_EQ(plugin.Process(in[0].data(), in[1].data(), out[0].data(), out[1].data(), frames,
                                 &changes),
                  kResultOk);
        lv2.ConnectPort(vurnel::Lv2ToneControl::kInLeft, in[0].data());
        lv2.ConnectPort(vurnel::Lv2ToneControl::kInRight, in[1].data());
        lv2.ConnectPort(vurnel::Lv2ToneControl::kOutLeft, lv2Out[0].data());
        lv2.ConnectPort(vurnel::Lv2ToneControl::kOutRight, lv2Out[1].data());
        lv2.Run(std::uint32_t(frames));
        ASSERT_EQ(out[0], lv2Out[0]) << "block " << b;
        ASSERT_EQ(out[1], lv2Out[1]) << "block " << b;
    }
    EXPECT_TRUE(plugin.controller->getParamNormalized(kSmooth) == 1.0);
}

// A flush (no frames, with or without buffers) applies its changes and touches no audio.
TEST(Vst3Process, FlushAppliesChangesAndTouchesNoAudio) {
    const int frames = 256;
    auto in = Noise(frames, 4);
    Instance plugin(Factory(), kCid);
    ASSERT_TRUE(plugin.Start(44100, frames));
    Changes changes;
    changes.Add(kSmooth, 0, 0.0);
    changes.Add(kBass, 0, plugin.controller->plainParamToNormalized(kBass, 12));
    ASSERT_EQ(plugin.Process(nullptr, nullptr, nullptr, nullptr, 0, &changes), kResultOk);
    changes.Clear();
    changes.Add(kTrebleCutoff, 0, plugin.controller->plainParamToNormalized(kTrebleCutoff, 4000));
    std::vector<float> l(frames, 7.0f), r(frames, 7.0f);
    ASSERT_EQ(plugin.Process(in.data(), in.data(), l.data(), r.data(), 0, &changes), kResultOk);
    EXPECT_EQ(l, std::vector<float>(frames, 7.0f));
    EXPECT_EQ(plugin.controller->normalizedParamToPlain(
                  kBass, plugin.controller->getParamNormalized(kBass)),
              12);

    ASSERT_EQ(plugin.Process(in.data(), in.data(), l.data(), r.data(), frames, nullptr), kResultOk);
    Reference ref(44100);
    ref.Set(2, 12);
    ref.Set(1, 4000);
    std::vector<float> refL(frames), refR(frames);
    ref.Run(in.data(), in.data(), refL.data(), refR.data(), frames);
    EXPECT_EQ(l, refL);
}

// Silent outputs are flagged; bypass glides the gains to 0 dB, where audio passes bit for bit.
TEST(Vst3Process, SilenceFlagsAndBypass) {
    const int frames = 2048;
    Instance plugin(Factory(), kCid);
    ASSERT_TRUE(plugin.Start(48000, frames));
    std::vector<float> zeros(frames, 0.0f), l(frames, 1.0f), r(frames, 1.0f);
    uint64 silence = 0;
    ASSERT_EQ(plugin.Process(zeros.data(), zeros.data(), l.data(), r.data(), frames, nullptr,
                             &silence, 3),
              kResultOk);
    EXPECT_EQ(silence, 3u);
    EXPECT_EQ(l, zeros);

    auto in = Noise(frames, 8);
    Changes changes;
    changes.Add(kBass, 0, plugin.controller->plainParamToNormalized(kBass, 10));
    changes.Add(kTreble, 0, plugin.controller->plainParamToNormalized(kTreble, -10));
    ASSERT_EQ(
        plugin.Process(in.data(), zeros.data(), l.data(), r.data(), frames, &changes, &silence),
        kResultOk);
    EXPECT_EQ(silence, 2u) << "the right channel alone is silent";
    EXPECT_NE(l, in);
    changes.Clear();
    changes.Add(kBypass, 100, 1.0);
    ASSERT_EQ(plugin.Process(in.data(), in.data(), l.data(), r.data(), frames, &changes),
              kResultOk);
    EXPECT_NE(l[50], in[50]);
    EXPECT_NE(std::vector<float>(l.begin() + 100, l.begin() + 500),
              std::vector<float>(in.begin() + 100, in.begin() + 500))
        << "gliding";
    ASSERT_EQ(plugin.Process(in.data(), in.data(), l.data(), r.data(), frames, nullptr), kResultOk);
    EXPECT_EQ(l, in) << "20 ms after bypass, the audio passes bit for bit";
    EXPECT_EQ(r, in);
    changes.Clear();
    changes.Add(kBypass, 0, 0.0);
    ASSERT_EQ(plugin.Process(in.data(), in.data(), l.data(), r.data(), frames, &changes),
              kResultOk);
    ASSERT_EQ(plugin.Process(in.data(), in.data(), l.data(), r.data(), frames, nullptr), kResultOk);
    EXPECT_NE(l, in) << "and back";
}

// State: written and read through streams that move 1 or 7 bytes per call; bad blobs refused
// without a change; a loaded state gives the same values and the same sound.
TEST(Vst3State, RoundTripsInSmallChunksRefusesBadBlobsAndSoundsTheSame) {
    const int frames = 1024;
    auto in = Noise(frames, 6);
    Instance a(Factory(), kCid);
    ASSERT_TRUE(a.Start(44100, frames));
    Changes changes;
    const double plains[6] = {210, 5600, -7.5, 4, 0, 0};
    for (ParamID id = 0; id < 6; ++id)
        changes.Add(id, 0, a.controller->plainParamToNormalized(id, plains[id]));
    ASSERT_EQ(a.Process(nullptr, nullptr, nullptr, nullptr, 0, &changes), kResultOk);
    const auto blob = a.ComponentState();
    ASSERT_FALSE(blob.empty());
    for (int chunk : {1, 7}) {
        Stream s({}, chunk);
        ASSERT_EQ(a.component->getState(&s), kResultOk);
        EXPECT_EQ(s.data, blob) << chunk;
        Stream c({}, chunk);
        ASSERT_EQ(a.controller->getState(&c), kResultOk);
        c.Rewind();
        EXPECT_EQ(a.controller->setState(&c), kResultOk);
    }

    Instance b(Factory(), kCid);
    ASSERT_TRUE(b.Start(44100, frames));
    const auto fresh = b.ComponentState();
    std::vector<std::vector<unsigned char>> bad;
    for (std::size_t n = 0; n < blob.size(); ++n)
        bad.emplace_back(blob.begin(), blob.begin() + long(n)); // truncated
    bad.push_back(blob);
    bad.back().push_back(0); // oversized
    bad.push_back(blob);
    bad.back()[4] = 2; // a version from the future
    bad.push_back(blob);
    std::memset(bad.back().data() + bad.back().size() - 8, 0xFF, 8); // NaN
    bad.push_back(blob);
    bad.back()[bad.back().size() - 1] = 0x40; // 2.0, outside 0..1
    std::mt19937 rng(1);
    for (int k = 0; k < 20; ++k) {
        bad.emplace_back(blob.size());
        for (auto& byte : bad.back())
            byte = (unsigned char)rng();
    }
    EXPECT_EQ(b.component->setState(nullptr), kResultFalse);
    EXPECT_EQ(b.controller->setComponentState(nullptr), kResultFalse);
    for (const auto& blobOfBytes : bad) {
        Stream s(blobOfBytes, 7);
        EXPECT_EQ(b.component->setState(&s), kResultFalse) << blobOfBytes.size();
        s.Rewind();
        EXPECT_EQ(b.controller->setComponentState(&s), kResultFalse);
        s.Rewind();
        EXPECT_EQ(b.controller->setState(&s), kResultFalse);
        ASSERT_EQ(b.ComponentState(), fresh);
    }

    // The host's load: component state, the same bytes to the controller, then processing.
    Stream s(blob, 1);
    ASSERT_EQ(b.component->setState(&s), kResultOk);
    Stream s2(blob, 7);
    ASSERT_EQ(b.controller->setComponentState(&s2), kResultOk);
    for (ParamID id = 0; id < 6; ++id)
        EXPECT_EQ(b.controller->normalizedParamToPlain(id, b.controller->getParamNormalized(id)),
                  plains[id]);
    std::vector<float> la(frames), ra(frames), lb(frames), rb(frames);
    ASSERT_EQ(a.Process(in.data(), in.data(), la.data(), ra.data(), frames, nullptr), kResultOk);
    ASSERT_EQ(b.Process(in.data(), in.data(), lb.data(), rb.data(), frames, nullptr), kResultOk);
    EXPECT_EQ(la, lb);
    EXPECT_EQ(ra, rb);
    EXPECT_EQ(b.ComponentState(), blob);
}

// A fixed render whose bits the Linux module gives: the Windows module built with MinGW and run
// under Wine must give them too. (The Linux build checks the same number, so a change of the
// sound shows on both, and the number is updated from the Linux run.)
TEST(Vst3Render, GivesTheLinuxModulesBits) {
    Instance plugin(Factory(), kCid);
    ASSERT_TRUE(plugin.Start(48000, 4096));
    std::vector<float> all;
    std::mt19937 rng(77);
    for (int b = 0; b < 24; ++b) {
        const int frames = 100 + 97 * b;
        auto l = Noise(std::size_t(frames), unsigned(3 * b + 1)),
             r = Noise(std::size_t(frames), unsigned(3 * b + 2));
        Changes changes;
        const ParamID id = ParamID(b % 6);
        const double plain = id < 4 ? double(RandomPlain(rng, id)) : double(b % 4 == 1);
        changes.Add(id, frames / 3, plugin.controller->plainParamToNormalized(id, plain));
        std::vector<float> ol(static_cast<std::size_t>(frames)),
            orr(static_cast<std::size_t>(frames));
        ASSERT_EQ(plugin.Process(l.data(), r.data(), ol.data(), orr.data(), frames, &changes),
                  kResultOk);
        all.insert(all.end(), ol.begin(), ol.end());
        all.insert(all.end(), orr.begin(), orr.end());
    }
    EXPECT_EQ(Hash(all), VURNEL_VST3_RENDER_HASH) << std::hex << Hash(all);
}

// The vtable slots as the interface numbers them, called by index rather than through the
// declarations (which the plug-in and this host share).
TEST(Vst3Abi, MethodsSitInTheirNumberedVtableSlots) {
    auto slot = [](void* object, int index) { return (*static_cast<void***>(object))[index]; };
    using Count = int32(VURNEL_VST3_API*)(void*);
    using BusCount = int32(VURNEL_VST3_API*)(void*, MediaType, BusDirection);
    using WithStream = tresult(VURNEL_VST3_API*)(void*, IBStream*);
    using SampleSize = tresult(VURNEL_VST3_API*)(void*, int32);
    using Tail = uint32(VURNEL_VST3_API*)(void*);
    using Normalized = ParamValue(VURNEL_VST3_API*)(void*, ParamID);
    using View = void*(VURNEL_VST3_API*)(void*, FIDString);
    IPluginFactory* factory = Factory();
    EXPECT_EQ(reinterpret_cast<Count>(slot(factory, 4))(factory), 1);
    Instance plugin(factory, kCid);
    ASSERT_TRUE(plugin.Ok());
    void* c = plugin.component;
    void* p = plugin.processor;
    void* e = plugin.controller;
    EXPECT_EQ(reinterpret_cast<BusCount>(slot(c, 7))(c, kAudio, kOutput), 1);
    Stream state;
    EXPECT_EQ(reinterpret_cast<WithStream>(slot(c, 13))(c, &state), kResultOk);
    EXPECT_EQ(state.data.size(), 56u);
    EXPECT_EQ(reinterpret_cast<WithStream>(slot(c, 12))(c, nullptr), kResultFalse);
    EXPECT_EQ(reinterpret_cast<SampleSize>(slot(p, 5))(p, kSample64), kResultFalse);
    EXPECT_GT(reinterpret_cast<Tail>(slot(p, 10))(p), 0u);
    EXPECT_EQ(reinterpret_cast<WithStream>(slot(e, 5))(e, nullptr), kResultFalse);
    EXPECT_EQ(reinterpret_cast<Count>(slot(e, 8))(e), 6);
    EXPECT_EQ(reinterpret_cast<Normalized>(slot(e, 14))(e, 1), 1.0);
    void* v = reinterpret_cast<View>(slot(e, 17))(e, "editor");
#if defined(__linux__) && VURNEL_VST3_HAS_EDITOR
    // The view's own slots: isPlatformTypeSupported 3, getSize 9, canResize 13, release 2.
    using Type = tresult(VURNEL_VST3_API*)(void*, FIDString);
    using Size = tresult(VURNEL_VST3_API*)(void*, ViewRect*);
    using Resizable = tresult(VURNEL_VST3_API*)(void*);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(reinterpret_cast<Type>(slot(v, 3))(v, "X11EmbedWindowID"), kResultTrue);
    ViewRect size;
    EXPECT_EQ(reinterpret_cast<Size>(slot(v, 9))(v, &size), kResultOk);
    EXPECT_EQ(size.right - size.left, 640);
    EXPECT_EQ(reinterpret_cast<Resizable>(slot(v, 13))(v), kResultTrue);
    EXPECT_EQ(reinterpret_cast<Tail>(slot(v, 2))(v), 0u);
#else
    EXPECT_EQ(v, nullptr);
#endif
}
