#include "StereoKernel.h"

namespace vurnel {

#if defined(__x86_64__) && defined(__GNUC__)

// Register use, top of the x87 stack first, at the top of each loop iteration:
//   st0 g, st1 yc, st2 prevT left, st3 prevY left, st4 prevT right, st5 prevY right.
// A channel's step: t = x·g (st0), swap t into prevT's slot, form t ± prevT, add prevY·yc,
// copy the result into prevY's slot; two registers stay free for temporaries.
#define VURNEL_LOAD_STATE                                                                          \
    "fldt %[pYR]\n\t"                                                                              \
    "fldt %[pTR]\n\t"                                                                              \
    "fldt %[pYL]\n\t"                                                                              \
    "fldt %[pTL]\n\t"                                                                              \
    "fldt %[yc]\n\t"                                                                               \
    "fldt %[g]\n\t"
#define VURNEL_STORE_STATE                                                                         \
    "fstp %%st(0)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fstpt %[pTL]\n\t"                                                                             \
    "fstpt %[pYL]\n\t"                                                                             \
    "fstpt %[pTR]\n\t"                                                                             \
    "fstpt %[pYR]\n\t"
// The end of a frame: the next pair of partial sums, the next sample, loop.
#define VURNEL_NEXT_FRAME                                                                          \
    "add $32, %[p]\n\t"                                                                            \
    "inc %[i]\n\t"                                                                                 \
    "jnz 1b\n\t"
// Operands every pass shares: the counter, the partial sums and the two channels' states.
#define VURNEL_STATE_OPERANDS                                                                      \
    [i] "+r"(i), [p] "+r"(partial), [pTL] "+m"(f.prevTL), [pYL] "+m"(f.prevYL),                    \
        [pTR] "+m"(f.prevTR), [pYR] "+m"(f.prevYR)
#define VURNEL_X87_CLOBBERS                                                                        \
    "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)"
// One step of the left (slots 3/4 after the swap) or right (5/6) filter, + or − feed-forward.
#define VURNEL_STEP(X, SLOT_T, SLOT_Y_AFTER_PUSH, SLOT_Y, COMBINE)                                 \
    "flds " X "\n\t"                                                                               \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fxch %%st(" SLOT_T ")\n\t" COMBINE " %%st(" SLOT_T "), %%st\n\t"                              \
    "fld %%st(" SLOT_Y_AFTER_PUSH ")\n\t"                                                          \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fst %%st(" SLOT_Y ")\n\t"

void StereoBassPass(const StereoFirstOrder& f, const float* inL, const float* inR,
                    const float* outL, const float* outR, long double* partial, std::int32_t n,
                    float gain, bool accumulate) {
    if (n <= 0) return;
    std::intptr_t i = -static_cast<std::intptr_t>(n);
    const float* endL = inL + n;
    const float* endR = inR + n;
    if (!accumulate) {
        __asm__ volatile(
            VURNEL_LOAD_STATE "1:\n\t" VURNEL_STEP(
                "(%[inL],%[i],4)", "3", "4", "4",
                "fadd") "fmuls %[gain]\n\t"
                        "fadds (%[inL],%[i],4)\n\t"
                        "fstpt (%[p])\n\t" VURNEL_STEP(
                            "(%[inR],%[i],4)", "5", "6", "6",
                            "fadd") "fmuls %[gain]\n\t"
                                    "fadds (%[inR],%[i],4)\n\t"
                                    "fstpt 16(%[p])\n\t" VURNEL_NEXT_FRAME VURNEL_STORE_STATE
:VURNEL_STATE_OPERANDS
            : [inL] "r"(endL), [inR] "r"(endR), [g] "m"(f.g), [yc] "m"(f.yc), [gain] "m"(gain)
            : VURNEL_X87_CLOBBERS);
    } else {
        const float* oL = outL + n;
        const float* oR = outR + n;
        __asm__ volatile(
            VURNEL_LOAD_STATE "1:\n\t" VURNEL_STEP(
                "(%[inL],%[i],4)", "3", "4", "4",
                "fadd") "fmuls %[gain]\n\t"
                        "flds (%[oL],%[i],4)\n\t"
                        "fadds (%[inL],%[i],4)\n\t"
                        "faddp %%st, %%st(1)\n\t"
                        "fstpt (%[p])\n\t" VURNEL_STEP(
                            "(%[inR],%[i],4)", "5", "6", "6",
                            "fadd") "fmuls %[gain]\n\t"
                                    "flds (%[oR],%[i],4)\n\t"
                                    "fadds (%[inR],%[i],4)\n\t"
                                    "faddp %%st, %%st(1)\n\t"
                                    "fstpt 16(%[p])\n\t" VURNEL_NEXT_FRAME VURNEL_STORE_STATE
:VURNEL_STATE_OPERANDS
            : [inL] "r"(endL), [inR] "r"(endR), [oL] "r"(oL), [oR] "r"(oR), [g] "m"(f.g),
              [yc] "m"(f.yc), [gain] "m"(gain)
            : VURNEL_X87_CLOBBERS);
    }
}

void StereoTreblePass(const StereoFirstOrder& f, const float* inL, const float* inR, float* outL,
                      float* outR, const long double* partial, std::int32_t n, float gain) {
    if (n <= 0) return;
    std::intptr_t i = -static_cast<std::intptr_t>(n);
    const float* endL = inL + n;
    const float* endR = inR + n;
    float* oL = outL + n;
    float* oR = outR + n;
    // t − prevT: with prevT on top after the swap, fsubr gives st(k) − st0.
    __asm__ volatile(
        VURNEL_LOAD_STATE "1:\n\t" VURNEL_STEP(
            "(%[inL],%[i],4)", "3", "4", "4",
            "fsubr") "fmuls %[gain]\n\t"
                     "fldt (%[p])\n\t"
                     "faddp %%st, %%st(1)\n\t"
                     "fstps (%[oL],%[i],4)\n\t" VURNEL_STEP(
                         "(%[inR],%[i],4)", "5", "6", "6",
                         "fsubr") "fmuls %[gain]\n\t"
                                  "fldt 16(%[p])\n\t"
                                  "faddp %%st, %%st(1)\n\t"
                                  "fstps (%[oR],%[i],4)\n\t" VURNEL_NEXT_FRAME VURNEL_STORE_STATE
:VURNEL_STATE_OPERANDS
        : [inL] "r"(endL), [inR] "r"(endR), [oL] "r"(oL), [oR] "r"(oR), [g] "m"(f.g),
          [yc] "m"(f.yc), [gain] "m"(gain)
        : VURNEL_X87_CLOBBERS);
}

#else

void StereoBassPass(const StereoFirstOrder& f, const float* inL, const float* inR,
                    const float* outL, const float* outR, long double* partial, std::int32_t n,
                    float gain, bool accumulate) {
    for (std::int32_t i = 0; i < n; ++i) {
        const long double xl = inL[i], xr = inR[i];
        const long double al = FirstOrderStep<1>(f.g, 1.0L, f.yc, f.prevTL, f.prevYL, xl);
        partial[2 * i] = accumulate ? al * gain + (outL[i] + xl) : al * gain + xl;
        const long double ar = FirstOrderStep<1>(f.g, 1.0L, f.yc, f.prevTR, f.prevYR, xr);
        partial[2 * i + 1] = accumulate ? ar * gain + (outR[i] + xr) : ar * gain + xr;
    }
}

void StereoTreblePass(const StereoFirstOrder& f, const float* inL, const float* inR, float* outL,
                      float* outR, const long double* partial, std::int32_t n, float gain) {
    for (std::int32_t i = 0; i < n; ++i) {
        const long double bl = FirstOrderStep<-1>(f.g, -1.0L, f.yc, f.prevTL, f.prevYL, inL[i]);
        outL[i] = static_cast<float>(bl * gain + partial[2 * i]);
        const long double br = FirstOrderStep<-1>(f.g, -1.0L, f.yc, f.prevTR, f.prevYR, inR[i]);
        outR[i] = static_cast<float>(br * gain + partial[2 * i + 1]);
    }
}

#endif

} // namespace vurnel
