// The x87 instructions of one tone-control sample, shared by the kernel at rest
// (ToneKernel.cpp) and the kernel of gliding controls (GlideKernel.cpp), which keep the same
// register plan. Private to those two files.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)

// Stack between samples: st0 gB, st1 ycB, st2 yB, st3 gT, st4 ycT, st5 yT.
// One sample: both recursions, x saved as the next sample's x₋₁, then bassGain·a and T_FORM
// (+ x, or + (out + x) when accumulating), trebleGain·b added, and STORE. U_BASS and U_TREBLE
// push u₋₁ of each filter; BASS_GAIN and TREBLE_GAIN are the gains' float operands (one float
// for the block, or the sample's entry of a table).
#define VURNEL_TONE_SAMPLE(U_BASS, U_TREBLE, BASS_GAIN, TREBLE_GAIN, T_FORM, STORE)                \
    "flds (%[in],%[i],4)\n\t"                                                                      \
    "fmul %%st(1), %%st\n\t" U_BASS "faddp %%st, %%st(1)\n\t"                                      \
    "fxch %%st(3)\n\t"                                                                             \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "faddp %%st, %%st(3)\n\t"                                                                      \
    "flds (%[in],%[i],4)\n\t"                                                                      \
    "fmul %%st(4), %%st\n\t" U_TREBLE "fsubrp %%st, %%st(1)\n\t"                                   \
    "fxch %%st(6)\n\t"                                                                             \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "faddp %%st, %%st(6)\n\t"                                                                      \
    "movl (%[in],%[i],4), %%eax\n\t"                                                               \
    "movl %%eax, %[xp]\n\t"                                                                        \
    "flds " BASS_GAIN "\n\t"                                                                       \
    "fmul %%st(3), %%st\n\t" T_FORM "flds " TREBLE_GAIN "\n\t"                                     \
    "fmul %%st(7), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t" STORE "inc %[i]\n\t"
// u₋₁ as stored, for the first sample; x₋₁·g for the others (8 registers in use).
#define VURNEL_STORED_U(NAME) "fldt %[" NAME "]\n\t"
#define VURNEL_FORMED_U(G_SLOT)                                                                    \
    "flds %[xp]\n\t"                                                                               \
    "fmul %%st(" G_SLOT "), %%st\n\t"
// The dry part: x, or the old output plus x.
#define VURNEL_REPLACE_T "fadds (%[in],%[i],4)\n\t"
#define VURNEL_ACCUMULATE_T                                                                        \
    "flds (%[out],%[i],4)\n\t"                                                                     \
    "fadds (%[in],%[i],4)\n\t"                                                                     \
    "faddp %%st, %%st(1)\n\t"
// The six registers, loaded for the block.
#define VURNEL_TONE_LOAD                                                                           \
    "fldt %[yT]\n\t"                                                                               \
    "fldt %[ycT]\n\t"                                                                              \
    "fldt %[gT]\n\t"                                                                               \
    "fldt %[yB]\n\t"                                                                               \
    "fldt %[ycB]\n\t"                                                                              \
    "fldt %[gB]\n\t"

#endif
