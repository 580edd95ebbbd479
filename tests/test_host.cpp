// The built module driven as a host drives it: dlopen, the exported main, and from then on only
// the record's entry points.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "DAEffect.h"
#include "FloatingPointSetup.h"

using namespace vurnel;

namespace {

using MainProc = AEffect* (*)(audioMasterCallback);

VstIntPtr g_versionAnswer = 2400;
int g_versionQueries = 0;

VstIntPtr VURNEL_VSTCALL Host(AEffect* effect, std::int32_t opcode, std::int32_t, VstIntPtr, void*,
                              float) {
    if (opcode == 1 && effect == nullptr) {
        ++g_versionQueries;
        return g_versionAnswer;
    }
    return 0;
}

void* Module() {
    static void* handle = dlopen(VURNEL_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

MainProc Entry() {
    void* handle = Module();
    return handle ? reinterpret_cast<MainProc>(dlsym(handle, "main")) : nullptr;
}

// One instance, closed at the end of the scope through the dispatcher, as a host closes it.
struct Instance {
    AEffect* e;
    Instance() : e(Entry()(Host)) {}
    ~Instance() {
        if (e) e->dispatcher(e, 1, 0, 0, nullptr, 0);
    }
    VstIntPtr Dispatch(std::int32_t opcode, std::int32_t index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0) {
        return e->dispatcher(e, opcode, index, value, ptr, opt);
    }
    std::string Text(std::int32_t opcode, std::int32_t index) {
        char text[64];
        std::memset(text, 'x', sizeof text - 1);
        text[sizeof text - 1] = '\0';
        Dispatch(opcode, index, 0, text);
        return text;
    }
    void Set(std::int32_t index, float v) { e->setParameter(e, index, v); }
    float Get(std::int32_t index) { return e->getParameter(e, index); }
    void Replace(std::vector<float>& l, std::vector<float>& r, std::vector<float>& ol,
                 std::vector<float>& orr, std::int32_t frames) {
        float* in[] = {l.data(), r.data()};
        float* out[] = {ol.data(), orr.data()};
        e->processReplacing(e, in, out, frames);
    }
};

std::vector<float> Noise(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1, 1);
    std::vector<float> v(n);
    for (float& x : v)
        x = d(rng);
    return v;
}

} // namespace

// Runs in a process of its own (ctest runs each test alone), so this is the first load.
TEST(HostLoad, LoadingMasksFloatingPointExceptionsAndChangesNothingElse) {
    const std::string localeBefore = std::setlocale(LC_ALL, nullptr);
    LoadX87ControlWord(0x1332);
    const std::uint16_t before = ReadX87ControlWord();
#if defined(__x86_64__)
    const std::uint32_t mxcsrBefore = 0x6000 | 0x8000; // round toward zero, flush to zero
    LoadMxcsr(mxcsrBefore);
#endif
    ASSERT_NE(Module(), nullptr) << dlerror();
    const std::uint16_t after = ReadX87ControlWord();
#if defined(__x86_64__)
    const std::uint32_t mxcsrAfter = ReadMxcsr();
    LoadMxcsr(0x1F80);
    EXPECT_EQ(mxcsrAfter & 0xFFC0, mxcsrBefore | 0x1F80);
#endif
    LoadX87ControlWord(0x037F);
    EXPECT_EQ(after & 0x3F, 0x3F);
    EXPECT_EQ(after & ~0x3F, before & ~0x3F); // precision and rounding as the host had them
    EXPECT_EQ(after & ~0x40, 0x133F);
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), localeBefore);
}

TEST(HostEntry, MainAsksTheVersionAndReturnsAFilledRecord) {
    ASSERT_NE(Entry(), nullptr) << dlerror();
    g_versionQueries = 0;
    Instance fx;
    ASSERT_NE(fx.e, nullptr);
    EXPECT_EQ(g_versionQueries, 1);
    const auto* bytes = reinterpret_cast<const unsigned char*>(fx.e);
    EXPECT_EQ(0, std::memcmp(bytes, "\x50\x74\x73\x56", 4));
    EXPECT_EQ(fx.e->numPrograms, 1);
    EXPECT_EQ(fx.e->numParams, 4);
    EXPECT_EQ(fx.e->numInputs, 2);
    EXPECT_EQ(fx.e->numOutputs, 2);
    EXPECT_EQ(fx.e->flags, 24);
    EXPECT_EQ(fx.e->version, 1);
    EXPECT_EQ(fx.e->ioRatio, 1.0f);
    EXPECT_EQ(fx.e->user, nullptr);
    EXPECT_EQ(fx.e->uniqueID, 1514885719);
    EXPECT_NE(fx.e->object, nullptr);
    for (char c : fx.e->future)
        EXPECT_EQ(c, 0);
    EXPECT_EQ(fx.e->resvd1, 0);
    EXPECT_EQ(fx.e->initialDelay, 0);
    EXPECT_EQ(fx.Dispatch(22), 0x4E764566);
    EXPECT_EQ(fx.Dispatch(3), 0);
}

TEST(HostEntry, AHostAnsweringZeroOrNoCallbackGetsNothing) {
    g_versionAnswer = 0;
    EXPECT_EQ(Entry()(Host), nullptr);
    g_versionAnswer = 2400;
    EXPECT_EQ(Entry()(nullptr), nullptr);
    g_versionAnswer = 1;
    Instance one;
    EXPECT_NE(one.e, nullptr);
    g_versionAnswer = 2400;
}

TEST(HostEntry, NamesLabelsAndDisplays) {
    Instance fx;
    const char* names[] = {"Bass cutoff", "Treble cutoff", "Bass", "Treble"};
    const char* labels[] = {"  Hz    ", "  Hz    ", "  dB    ", "  dB    "};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(fx.Text(8, i), names[i]);
        EXPECT_EQ(fx.Text(6, i), labels[i]);
    }
    EXPECT_EQ(fx.Text(7, 0), "50.00");
    EXPECT_EQ(fx.Text(7, 1), "10000.00");
    EXPECT_EQ(fx.Text(7, 2), "0.00");
    fx.Set(0, 1.0f);
    fx.Set(1, 0.0f);
    fx.Set(2, 0.0f);
    fx.Set(3, 1.0f);
    EXPECT_EQ(fx.Text(7, 0), "500.00");
    EXPECT_EQ(fx.Text(7, 1), "3000.00");
    EXPECT_EQ(fx.Text(7, 2), "-20.00");
    EXPECT_EQ(fx.Text(7, 3), "20.00");
    EXPECT_EQ(fx.Get(0), 1.0f);
    EXPECT_EQ(fx.Get(1), 0.0f);
    EXPECT_NEAR(fx.Get(2), 0.0f, 1e-7f);
    EXPECT_EQ(fx.Get(3), 1.0f);
    fx.Set(0, 0.1f);
    EXPECT_EQ(fx.Get(0), 0.1f);
    EXPECT_EQ(fx.Text(7, 0), "95.00");
    EXPECT_EQ(fx.Text(8, 4), std::string(63, 'x')); // untouched
}

TEST(HostEntry, AudioThroughTheEntryPoints) {
    Instance fx;
    const int n = 1000;
    std::vector<float> l = Noise(n, 1), r = Noise(n, 2), ol(n), orr(n);
    fx.Replace(l, r, ol, orr, n);
    EXPECT_EQ(ol, l); // transparent at construction
    EXPECT_EQ(orr, r);
    float* in[] = {l.data(), r.data()};
    float* out[] = {ol.data(), orr.data()};
    fx.e->process(fx.e, in, out, n); // adds
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(ol[i], 2 * l[i]);

    std::vector<float> keep = ol;
    fx.e->process(fx.e, in, out, 0);
    fx.e->processReplacing(fx.e, in, out, -3);
    EXPECT_EQ(ol, keep);

    // Non-neutral settings: in place equals separate buffers.
    Instance separate, inPlace;
    for (Instance* x : {&separate, &inPlace}) {
        x->Set(0, 0.3f);
        x->Set(2, 0.8f);
        x->Set(3, 0.2f);
    }
    separate.Replace(l, r, ol, orr, n);
    std::vector<float> il = l, ir = r;
    inPlace.Replace(il, ir, il, ir, n);
    EXPECT_EQ(il, ol);
    EXPECT_EQ(ir, orr);
    EXPECT_NE(ol, l);

    // A sample-rate change redesigns: the same input now gives another output.
    Instance twin;
    for (Instance* x : {&separate, &twin}) {
        x->Set(0, 0.3f);
        x->Set(2, 0.8f);
        x->Set(3, 0.2f);
    }
    separate.Dispatch(10, 0, 0, nullptr, 48000.0f); // redesigns: the histories start over
    twin.Dispatch(11, 0, 512);                      // the block size changes nothing
    std::vector<float> ol2(n), or2(n), tl(n), tr(n);
    separate.Replace(l, r, ol2, or2, n);
    twin.Replace(l, r, tl, tr, n);
    EXPECT_NE(ol2, tl);
    EXPECT_EQ(tl, ol); // the twin, fresh, gives what the first fresh instance gave
}

TEST(HostEntry, InstancesAreIndependent) {
    auto* a = new Instance;
    Instance b;
    ASSERT_NE(a->e, b.e);
    ASSERT_NE(a->e->object, b.e->object);
    a->Set(2, 1.0f);
    EXPECT_EQ(b.Get(2), 0.5f);
    AEffect* record = a->e;
    EXPECT_EQ(record->dispatcher(record, 1, 0, 0, nullptr, 0), 1); // close answers 1
    a->e = nullptr;
    delete a;
    const int n = 256;
    std::vector<float> l = Noise(n, 5), r = Noise(n, 6), ol(n), orr(n);
    b.Replace(l, r, ol, orr, n);
    EXPECT_EQ(ol, l);
    EXPECT_EQ(b.Text(7, 1), "10000.00");
}

// ctest runs this with LC_ALL set (C for the whole program, and de_DE.UTF-8 and C on their
// own): de_DE.UTF-8 must give "50,00", C "50.00"; any other setting has no expectation here.
TEST(HostLocale, DisplaysUseTheSeparatorOfTheLocaleAtLoad) {
    const char* all = std::getenv("LC_ALL");
    ASSERT_TRUE(all != nullptr) << "run with LC_ALL set to de_DE.UTF-8 or C";
    ASSERT_TRUE(std::string(all) == "de_DE.UTF-8" || std::string(all) == "C")
        << "no expectation for LC_ALL=" << all;
    Instance fx;
    EXPECT_EQ(fx.Text(7, 0), std::string(all) == "C" ? "50.00" : "50,00");
    fx.Set(2, 0.0f);
    EXPECT_EQ(fx.Text(7, 2), std::string(all) == "C" ? "-20.00" : "-20,00");
}

// Instances come and go while others process, as in a session where tracks are added and
// removed: nothing leaks (LeakSanitizer and valgrind watch this test) and survivors keep working.
TEST(HostLifecycle, CreateAndCloseCyclesInterleavedWithProcessing) {
    const char* count = std::getenv("VURNEL_LIFECYCLES");
    const int cycles = count ? std::atoi(count) : 10000;
    MainProc entry = Entry();
    ASSERT_NE(entry, nullptr);
    std::vector<AEffect*> live;
    std::vector<float> l = Noise(64, 1), r = Noise(64, 2), ol(64), orr(64);
    float* in[] = {l.data(), r.data()};
    float* out[] = {ol.data(), orr.data()};
    std::mt19937 rng(3);
    for (int i = 0; i < cycles; ++i) {
        AEffect* e = entry(Host);
        ASSERT_NE(e, nullptr);
        live.push_back(e);
        e->setParameter(e, static_cast<std::int32_t>(rng() % 4), (rng() % 100) / 100.0f);
        AEffect* other = live[rng() % live.size()];
        other->processReplacing(other, in, out, static_cast<std::int32_t>(rng() % 65));
        if (live.size() > 8 || rng() % 2) { // close one at random
            const std::size_t k = rng() % live.size();
            ASSERT_EQ(live[k]->dispatcher(live[k], 1, 0, 0, nullptr, 0), 1);
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(k));
        }
    }
    for (AEffect* e : live) {
        e->processReplacing(e, in, out, 64);
        for (int i = 0; i < 64; ++i)
            ASSERT_TRUE(std::isfinite(ol[i]));
        EXPECT_EQ(e->dispatcher(e, 1, 0, 0, nullptr, 0), 1);
    }
}
