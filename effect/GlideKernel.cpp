#include "GlideKernel.h"

#include <cmath>

#include "ToneKernelAsm.h"
#include "dspIIRFilters.h"

namespace vurnel {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// One sample of one channel in the plain order of operations (ToneStep's, with the gains of
// this sample): the bass recursion, the bass mix, the treble recursion, the output.
template <bool Accumulate>
inline float GlideStep(const GlideCoefficients& bass, const GlideCoefficients& treble,
                       long double uBass, long double uTreble, long double& yBass,
                       long double& yTreble, float in, float out, float bassGain,
                       float trebleGain) {
    const long double x = in;
    long double a = x * bass.g;
    a = a + uBass;
    a = a + yBass * bass.yc;
    yBass = a;
    long double t;
    if constexpr (Accumulate)
        t = a * bassGain + (out + x);
    else
        t = a * bassGain + x;
    long double b = x * treble.g;
    b = b - uTreble;
    b = b + yTreble * treble.yc;
    yTreble = b;
    return static_cast<float>(b * trebleGain + t);
}

template <bool Moves> inline void TakeStep(GlideCoefficients& c) {
    if constexpr (Moves) {
        c.g = c.g + static_cast<long double>(c.dg);
        c.yc = c.yc + static_cast<long double>(c.dyc);
    }
}

template <bool Accumulate, bool BassMoves, bool TrebleMoves>
void PlainGlideBlock(GlideCoefficients& bass, const GlideHistory& bassHistory,
                     GlideCoefficients& treble, const GlideHistory& trebleHistory, const float* in,
                     float* out, std::int32_t frames, const float* bassGains,
                     const float* trebleGains) {
    if (frames <= 0) return;
    GlideCoefficients b = bass, t = treble;
    long double yB = bassHistory.prevY, yT = trebleHistory.prevY;
    long double uB = bassHistory.prevT, uT = trebleHistory.prevT;
    float xp = 0.0f;
    for (std::int32_t i = 0; i < frames; ++i) {
        if (i > 0) {
            uB = xp * b.g;
            uT = xp * t.g;
        }
        const float x = in[i];
        out[i] =
            GlideStep<Accumulate>(b, t, uB, uT, yB, yT, x, out[i], bassGains[i], trebleGains[i]);
        xp = x;
        TakeStep<BassMoves>(b);
        TakeStep<TrebleMoves>(t);
    }
    bassHistory.prevY = yB;
    trebleHistory.prevY = yT;
    bassHistory.prevT = xp * b.g;
    trebleHistory.prevT = xp * t.g;
    bass = b;
    treble = t;
}

} // namespace

GlideCoefficients FirstOrderAt(long double hertz, long double rate, bool highpass) {
    // The limits of the filter's frequency setter and of its design, for order 1.
    const long double upper = rate / 2 - 0.0001L;
    long double f = hertz < upper ? hertz : upper;
    if (!(f >= dsp::Epsilon)) f = dsp::Epsilon;
    long double normalised = f / rate;
    if (normalised < 0.0001L) normalised = 0.0001L;
    const long double k = std::tan(kPi * normalised);
    const long double g = k / (1 + k);
    return {highpass ? 1 - g : g, 1 - 2 * g, 0.0, 0.0};
}

#if defined(__x86_64__) && defined(__GNUC__)

// The loop by hand
// ----------------
// The same register plan as the kernel at rest (ToneKernel.cpp): the two gain factors, the two
// feedback coefficients and the two previous outputs stay in the x87 registers from sample to
// sample, u₋₁ is formed again from the previous input (a float kept aside) with the sample's own
// g, and the floats enter as memory operands. What the glide adds are memory operands only: the
// gains come from the tables (flds from the table instead of from one float), and after each
// sample a moving band's g and yc take their steps, each an fadd of its stored double with an
// fxch around it, which costs no register. The coefficients are stored back once, at the end.
//
// Stack between samples: st0 gB, st1 ycB, st2 yB, st3 gT, st4 ycT, st5 yT (ToneKernelAsm.h).
#define VURNEL_GLIDE_STEP_BASS                                                                     \
    "faddl %[dgB]\n\t"                                                                             \
    "fxch %%st(1)\n\t"                                                                             \
    "faddl %[dycB]\n\t"                                                                            \
    "fxch %%st(1)\n\t"
#define VURNEL_GLIDE_STEP_TREBLE                                                                   \
    "fxch %%st(3)\n\t"                                                                             \
    "faddl %[dgT]\n\t"                                                                             \
    "fxch %%st(3)\n\t"                                                                             \
    "fxch %%st(4)\n\t"                                                                             \
    "faddl %[dycT]\n\t"                                                                            \
    "fxch %%st(4)\n\t"
#define VURNEL_GLIDE_KEEP(G, YC) "fstpt %[" G "]\n\tfstpt %[" YC "]\n\t"
#define VURNEL_GLIDE_DROP "fstp %%st(0)\n\tfstp %%st(0)\n\t"
// Load the six registers, run the block, store what changed and empty the stack, in one
// statement, so the compiler never sees the x87 stack between them.
#define VURNEL_GLIDE_BLOCK(T_FORM, STEPS, END_BASS, END_TREBLE)                                    \
    VURNEL_TONE_LOAD VURNEL_TONE_SAMPLE(                                                           \
        VURNEL_STORED_U("uB"), VURNEL_STORED_U("uT"), "(%[bg],%[i],4)", "(%[tg],%[i],4)", T_FORM,  \
        "fstps (%[out],%[i],4)\n\t" STEPS) "jz 2f\n\t"                                             \
                                           "1:\n\t" VURNEL_TONE_SAMPLE(                            \
                                               VURNEL_FORMED_U("2"), VURNEL_FORMED_U("5"),         \
                                               "(%[bg],%[i],4)", "(%[tg],%[i],4)", T_FORM,         \
                                               "fstps (%[out],%[i],4)\n\t" STEPS) "jnz 1b\n\t"     \
                                                                                  "2:"             \
                                                                                  "\n\t" END_BASS  \
                                                                                  "fstpt "         \
                                                                                  "%[yB]"          \
                                                                                  "\n"             \
                                                                                  "\t" END_TREBLE  \
                                                                                  "fstpt "         \
                                                                                  "%[yT]\n\t"
#define VURNEL_GLIDE_ASM(T_FORM, STEPS, END_BASS, END_TREBLE)                                      \
    __asm__ volatile(VURNEL_GLIDE_BLOCK(T_FORM, STEPS, END_BASS, END_TREBLE)                       \
                     : [i] "+r"(i), [xp] "=m"(xp), [yB] "+m"(bassHistory.prevY),                   \
                       [yT] "+m"(trebleHistory.prevY), [gB] "+m"(b.g), [ycB] "+m"(b.yc),           \
                       [gT] "+m"(t.g), [ycT] "+m"(t.yc)                                            \
                     : [in] "r"(in + frames), [out] "r"(out + frames),                             \
                       [bg] "r"(bassGains + frames), [tg] "r"(trebleGains + frames),               \
                       [uB] "m"(bassHistory.prevT), [uT] "m"(trebleHistory.prevT),                 \
                       [dgB] "m"(b.dg), [dycB] "m"(b.dyc), [dgT] "m"(t.dg), [dycT] "m"(t.dyc)      \
                     : "memory", "cc", "eax", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)",   \
                       "st(6)", "st(7)")
#define VURNEL_GLIDE_VARIANTS(T_FORM)                                                              \
    if constexpr (BassMoves && TrebleMoves)                                                        \
        VURNEL_GLIDE_ASM(T_FORM, VURNEL_GLIDE_STEP_BASS VURNEL_GLIDE_STEP_TREBLE,                  \
                         VURNEL_GLIDE_KEEP("gB", "ycB"), VURNEL_GLIDE_KEEP("gT", "ycT"));          \
    else if constexpr (BassMoves)                                                                  \
        VURNEL_GLIDE_ASM(T_FORM, VURNEL_GLIDE_STEP_BASS, VURNEL_GLIDE_KEEP("gB", "ycB"),           \
                         VURNEL_GLIDE_DROP);                                                       \
    else if constexpr (TrebleMoves)                                                                \
        VURNEL_GLIDE_ASM(T_FORM, VURNEL_GLIDE_STEP_TREBLE, VURNEL_GLIDE_DROP,                      \
                         VURNEL_GLIDE_KEEP("gT", "ycT"));                                          \
    else                                                                                           \
        VURNEL_GLIDE_ASM(T_FORM, "", VURNEL_GLIDE_DROP, VURNEL_GLIDE_DROP);

template <bool Accumulate, bool BassMoves, bool TrebleMoves>
void GlideChannelBlock(GlideCoefficients& bass, const GlideHistory& bassHistory,
                       GlideCoefficients& treble, const GlideHistory& trebleHistory,
                       const float* in, float* out, std::int32_t frames, const float* bassGains,
                       const float* trebleGains) {
    if (frames <= 0) return;
    GlideCoefficients b = bass, t = treble;
    std::intptr_t i = -static_cast<std::intptr_t>(frames);
    float xp;
    if constexpr (Accumulate) {
        VURNEL_GLIDE_VARIANTS(VURNEL_ACCUMULATE_T)
    } else {
        VURNEL_GLIDE_VARIANTS(VURNEL_REPLACE_T)
    }
    // As the plain loop leaves it: the last input times the next sample's gain factor.
    bassHistory.prevT = xp * b.g;
    trebleHistory.prevT = xp * t.g;
    bass = b;
    treble = t;
}

#else

template <bool Accumulate, bool BassMoves, bool TrebleMoves>
void GlideChannelBlock(GlideCoefficients& bass, const GlideHistory& bassHistory,
                       GlideCoefficients& treble, const GlideHistory& trebleHistory,
                       const float* in, float* out, std::int32_t frames, const float* bassGains,
                       const float* trebleGains) {
    PlainGlideBlock<Accumulate, BassMoves, TrebleMoves>(bass, bassHistory, treble, trebleHistory,
                                                        in, out, frames, bassGains, trebleGains);
}

#endif

template <bool Accumulate, bool BassMoves, bool TrebleMoves>
void GlideInterleavedBlock(GlideCoefficients& bass, GlideCoefficients& treble,
                           const GlideHistory* history, float* const* in, float* const* out,
                           std::int32_t frames, const float* bassGains, const float* trebleGains) {
    if (frames <= 0) return;
    GlideCoefficients b = bass, t = treble;
    long double y[4], u[4];
    for (int f = 0; f < 4; ++f) {
        y[f] = history[f].prevY;
        u[f] = history[f].prevT;
    }
    float xp[2] = {0.0f, 0.0f};
    for (std::int32_t i = 0; i < frames; ++i) {
        for (int c = 0; c < 2; ++c) {
            if (i > 0) {
                u[2 * c] = xp[c] * b.g;
                u[2 * c + 1] = xp[c] * t.g;
            }
            const float x = in[c][i];
            out[c][i] = GlideStep<Accumulate>(b, t, u[2 * c], u[2 * c + 1], y[2 * c], y[2 * c + 1],
                                              x, out[c][i], bassGains[i], trebleGains[i]);
            xp[c] = x;
        }
        TakeStep<BassMoves>(b);
        TakeStep<TrebleMoves>(t);
    }
    for (int c = 0; c < 2; ++c) {
        history[2 * c].prevY = y[2 * c];
        history[2 * c + 1].prevY = y[2 * c + 1];
        history[2 * c].prevT = xp[c] * b.g;
        history[2 * c + 1].prevT = xp[c] * t.g;
    }
    bass = b;
    treble = t;
}

#define VURNEL_GLIDE_INSTANTIATE(A, B, T)                                                          \
    template void GlideChannelBlock<A, B, T>(                                                      \
        GlideCoefficients&, const GlideHistory&, GlideCoefficients&, const GlideHistory&,          \
        const float*, float*, std::int32_t, const float*, const float*);                           \
    template void GlideInterleavedBlock<A, B, T>(                                                  \
        GlideCoefficients&, GlideCoefficients&, const GlideHistory*, float* const*, float* const*, \
        std::int32_t, const float*, const float*);
VURNEL_GLIDE_INSTANTIATE(false, false, false)
VURNEL_GLIDE_INSTANTIATE(false, true, false)
VURNEL_GLIDE_INSTANTIATE(false, false, true)
VURNEL_GLIDE_INSTANTIATE(false, true, true)
VURNEL_GLIDE_INSTANTIATE(true, false, false)
VURNEL_GLIDE_INSTANTIATE(true, true, false)
VURNEL_GLIDE_INSTANTIATE(true, false, true)
VURNEL_GLIDE_INSTANTIATE(true, true, true)
#undef VURNEL_GLIDE_INSTANTIATE

} // namespace vurnel
