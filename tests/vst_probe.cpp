// A small host that loads the module by file name as Windows and Linux hosts do, finds main,
// checks the record byte by byte and the parameters through the dispatcher, and renders a
// fixed sequence of parameter and sample-rate changes for comparison between builds.
//
//   vst_probe MODULE --check
//   vst_probe MODULE --render OUT.bin
//   vst_probe MODULE --compare REFERENCE.bin [--exact]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "DAEffect.h"
#include "FloatingPointSetup.h"

using namespace vurnel;

namespace {

int g_failures = 0;
int g_passes = 0;
VstIntPtr g_versionAnswer = 2400;

void Check(bool ok, const std::string& what) {
    g_passes += ok;
    if (!ok) {
        ++g_failures;
        std::printf("FAIL %s\n", what.c_str());
    }
}

VstIntPtr VURNEL_VSTCALL Host(AEffect*, std::int32_t opcode, std::int32_t, VstIntPtr, void*,
                              float) {
    return opcode == 1 ? g_versionAnswer : 0;
}

using MainProc = AEffect*(VURNEL_VSTCALL*)(audioMasterCallback);

MainProc Load(const char* path) {
#if defined(_WIN32)
    HMODULE module = LoadLibraryA(path);
    if (!module) return nullptr;
    return reinterpret_cast<MainProc>(reinterpret_cast<void*>(GetProcAddress(module, "main")));
#else
    void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module) return nullptr;
    return reinterpret_cast<MainProc>(dlsym(module, "main"));
#endif
}

template <typename T> T At(const AEffect* e, std::size_t offset) {
    T value;
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(e) + offset, sizeof value);
    return value;
}

std::string Text(AEffect* e, std::int32_t opcode, std::int32_t index) {
    char text[64];
    std::memset(text, 0, sizeof text);
    e->dispatcher(e, opcode, index, 0, text, 0.0f);
    return text;
}

void CheckRecord(AEffect* e) {
    // The layout a host reads: 144 bytes with 32-bit pointers, 192 with 64-bit ones.
    const bool wide = sizeof(void*) == 8;
    const std::size_t p = sizeof(void*);
    const std::size_t counts = wide ? 40 : 20, resvd = wide ? 64 : 40, qualities = wide ? 80 : 48,
                      object = wide ? 96 : 64, id = wide ? 112 : 72, replacing = wide ? 120 : 80,
                      future = wide ? 128 : 84, size = wide ? 192 : 144;
    const auto* bytes = reinterpret_cast<const unsigned char*>(e);
    Check(std::memcmp(bytes, "\x50\x74\x73\x56", 4) == 0, "magic bytes 50 74 73 56");
    for (std::size_t entry : {p, 2 * p, 3 * p, 4 * p, replacing})
        Check(At<void*>(e, entry) != nullptr, "entry point at offset " + std::to_string(entry));
    const std::int32_t expected[] = {1, 4, 2, 2, 24};
    for (int i = 0; i < 5; ++i)
        Check(At<std::int32_t>(e, counts + 4 * i) == expected[i],
              "count field " + std::to_string(i));
    Check(At<VstIntPtr>(e, resvd) == 0 && At<VstIntPtr>(e, resvd + p) == 0, "reserved zero");
    for (int i = 0; i < 3; ++i)
        Check(At<std::int32_t>(e, qualities + 4 * i) == 0, "qualities 0");
    Check(At<std::uint32_t>(e, qualities + 12) == 0x3F800000u, "ioRatio 1.0");
    Check(At<void*>(e, object) != nullptr, "object set");
    Check(At<void*>(e, object + p) == nullptr, "user null");
    Check(At<std::int32_t>(e, id) == 1514885719, "unique id ZKRW");
    Check(At<std::int32_t>(e, id + 4) == 1, "version 1");
    bool zero = true;
    for (std::size_t i = future; i < size; ++i)
        zero = zero && bytes[i] == 0;
    Check(zero, "reserved tail all zero");
    Check(sizeof(AEffect) == size, "record size");
}

void CheckParameters(AEffect* e) {
    Check(e->dispatcher(e, 22, 0, 0, nullptr, 0.0f) == 0x4E764566, "identify answers NvEf");
    Check(e->dispatcher(e, 1000, 0, 0, nullptr, 0.0f) == 0, "unknown opcode answers 0");
    const char* names[] = {"Bass cutoff", "Treble cutoff", "Bass", "Treble"};
    const char* labels[] = {"  Hz    ", "  Hz    ", "  dB    ", "  dB    "};
    const char* displays[] = {"50.00", "10000.00", "0.00", "0.00"};
    const float values[] = {0.0f, 1.0f, 0.5f, 0.5f};
    for (int i = 0; i < 4; ++i) {
        Check(Text(e, 8, i) == names[i], std::string("name ") + names[i]);
        Check(Text(e, 6, i) == labels[i], std::string("label of ") + names[i]);
        Check(Text(e, 7, i) == displays[i], std::string("display of ") + names[i]);
        Check(e->getParameter(e, i) == values[i], std::string("value of ") + names[i]);
    }
    e->setParameter(e, 0, 0.1f);
    e->setParameter(e, 1, 0.0f);
    e->setParameter(e, 2, 0.0f);
    e->setParameter(e, 3, 1.0f);
    Check(Text(e, 7, 0) == "95.00" && e->getParameter(e, 0) == 0.1f, "bass cutoff 0.1 is 95 Hz");
    Check(Text(e, 7, 1) == "3000.00" && e->getParameter(e, 1) == 0.0f, "treble cutoff 3000 Hz");
    Check(Text(e, 7, 2) == "-20.00", "bass -20 dB");
    Check(Text(e, 7, 3) == "20.00" && e->getParameter(e, 3) == 1.0f, "treble +20 dB");
    e->dispatcher(e, 10, 0, 0, nullptr, 16000.0f);
    e->setParameter(e, 1, 1.0f);
    Check(Text(e, 7, 1) == "8000.00", "treble cutoff limited at 16 kHz");
}

// Stereo noise from an integer generator, so every platform feeds the same floats.
std::vector<float> Noise(std::size_t n, std::uint32_t seed) {
    std::vector<float> v(n);
    for (float& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<std::int32_t>(seed >> 8) - (1 << 23)) / (1 << 24);
    }
    return v;
}

// A fixed sequence of parameter changes, sample-rate changes and block sizes.
std::vector<float> Render(AEffect* e) {
    std::vector<float> all;
    std::uint32_t seed = 99;
    const float rates[] = {44100.0f, 48000.0f, 22050.0f, 96000.0f};
    for (int step = 0; step < 48; ++step) {
        seed = seed * 1664525u + 1013904223u;
        if (step % 6 == 0) e->dispatcher(e, 10, 0, 0, nullptr, rates[(seed >> 4) % 4]);
        e->setParameter(e, static_cast<std::int32_t>((seed >> 8) % 4),
                        static_cast<float>((seed >> 12) % 1001) / 1000.0f);
        const int frames = 1 + static_cast<int>((seed >> 16) % 400);
        std::vector<float> l = Noise(frames, seed), r = Noise(frames, seed ^ 0xABCDu);
        std::vector<float> ol(frames), orr(frames);
        float* in[] = {l.data(), r.data()};
        float* out[] = {ol.data(), orr.data()};
        if (step % 5 == 4) {
            ol = l; // accumulate onto the dry signal
            orr = r;
            e->process(e, in, out, frames);
        } else {
            e->processReplacing(e, in, out, frames);
        }
        all.insert(all.end(), ol.begin(), ol.end());
        all.insert(all.end(), orr.begin(), orr.end());
    }
    return all;
}

std::uint32_t Bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: vst_probe MODULE --check | --render OUT | --compare REF [--exact]\n");
        return 2;
    }
    const std::string mode = argv[2];
    // The control word a host might have: exceptions unmasked, extended precision.
    LoadX87ControlWord(0x1332);
    const std::uint16_t before = ReadX87ControlWord();
    MainProc entry = Load(argv[1]);
    const std::uint16_t after = ReadX87ControlWord();
    if (!entry) {
        std::printf("FAIL cannot load %s or find main\n", argv[1]);
        return 1;
    }
    Check((after & 0x3F) == 0x3F && (after & ~0x3F) == (before & ~0x3F),
          "loading masks exceptions and keeps the other control bits");
    Check((after & ~0x40) == 0x133F, "control word 0x1332 becomes 0x133F");
    g_versionAnswer = 0;
    Check(entry(Host) == nullptr, "a host answering 0 gets no effect");
    g_versionAnswer = 2400;
    AEffect* e = entry(Host);
    if (!e) {
        std::printf("FAIL main returned no effect\n");
        return 1;
    }
    if (mode == "--check") {
        CheckRecord(e);
        CheckParameters(e);
        AEffect* second = entry(Host);
        Check(second != nullptr && second != e, "a second, independent instance");
        Check(second->dispatcher(second, 1, 0, 0, nullptr, 0.0f) == 1, "close answers 1");
        Check(Text(e, 7, 0) == "95.00", "the first instance survives the second's close");
    } else if (mode == "--render" && argc > 3) {
        const std::vector<float> out = Render(e);
        std::FILE* f = std::fopen(argv[3], "wb");
        Check(f && std::fwrite(out.data(), 4, out.size(), f) == out.size(), "write render");
        if (f) std::fclose(f);
    } else if (mode == "--compare" && argc > 3) {
        const std::vector<float> out = Render(e);
        std::vector<float> ref(out.size() + 1);
        std::FILE* f = std::fopen(argv[3], "rb");
        const std::size_t got = f ? std::fread(ref.data(), 4, ref.size(), f) : 0;
        if (f) std::fclose(f);
        Check(got == out.size(), "reference has " + std::to_string(out.size()) + " samples");
        std::size_t same = 0, maxUlp = 0;
        for (std::size_t i = 0; i < out.size() && i < got; ++i) {
            const long long d = std::llabs(static_cast<long long>(Bits(out[i])) -
                                           static_cast<long long>(Bits(ref[i])));
            same += d == 0;
            maxUlp = std::max<std::size_t>(maxUlp, static_cast<std::size_t>(d));
        }
        std::printf("%zu of %zu samples bit-identical to the reference; largest difference %zu "
                    "units in the last place\n",
                    same, out.size(), maxUlp);
        const bool exact = argc > 4 && std::string(argv[4]) == "--exact";
        Check(same == out.size() || (!exact && maxUlp <= 1),
              exact ? "bit-identical render" : "render within one unit in the last place");
    } else {
        std::fprintf(stderr, "vst_probe: unknown mode %s\n", mode.c_str());
        return 2;
    }
    e->dispatcher(e, 1, 0, 0, nullptr, 0.0f);
    std::printf("%d passed, %d failed\n", g_passes, g_failures);
    return g_failures ? 1 : 0;
}
