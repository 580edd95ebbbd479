#include "ToneKernel.h"

#include "ToneKernelAsm.h"

namespace vurnel {

#if defined(__x86_64__) && defined(__GNUC__) && !defined(VURNEL_PORTABLE_KERNEL)

// Why the loop is written by hand
// -------------------------------
// Both filters of a channel need six extended values from sample to sample: the two gain
// factors, the two feedback coefficients and the two previous outputs. x87 arithmetic takes
// extended operands only from registers, and an 80-bit load or store costs several cycles, so
// the loop keeps all six in registers and never moves an extended value through memory. That
// leaves two registers for temporaries, too few to also keep each filter's previous scaled
// input u₋₁ = x₋₁·g; the loop forms it again from the previous input sample (a float) with the
// same multiply, which gives the same bits. The previous sample is kept in a float of the
// loop's own, since an in-place output overwrites the input buffer. Floats enter as memory
// operands (flds, fmuls, fadds), so no register is copied to make room for them.
//
// Each filter's recursion y = (u ± u₋₁) + yc·y₋₁ is a chain of one multiply and one add per
// sample: the product yc·y₋₁ is formed in place of y₋₁ (swapped to the top of the stack, no
// copy), then (u ± u₋₁), formed off the chain, is added to it. IEEE multiplication and addition
// are commutative, so operand order within one operation changes no bit; the order of the
// operations is the plain code's.
//
// The first sample of a block takes u₋₁ as stored (a design may have changed since the
// previous block, which clears it); the others form it from x₋₁, and it is stored at the end as
// x₋₁·g.
//
// Load the six registers, run the block, store the two outputs and empty the stack, in one
// statement, so the compiler never sees the x87 stack between them.
#define VURNEL_TONE_BLOCK(T_FORM, STORE)                                                           \
    VURNEL_TONE_LOAD VURNEL_TONE_SAMPLE(                                                           \
        VURNEL_STORED_U("uB"), VURNEL_STORED_U("uT"), "%[bg]", "%[tg]", T_FORM,                    \
        STORE) "jz 2f\n\t"                                                                         \
               "1:\n\t" VURNEL_TONE_SAMPLE(VURNEL_FORMED_U("2"), VURNEL_FORMED_U("5"), "%[bg]",    \
                                           "%[tg]", T_FORM, STORE) "jnz 1b\n\t"                    \
                                                                   "2:\n\t"                        \
                                                                   "fstp %%st(0)\n\t"              \
                                                                   "fstp %%st(0)\n\t"              \
                                                                   "fstpt %[yB]\n\t"               \
                                                                   "fstp %%st(0)\n\t"              \
                                                                   "fstp %%st(0)\n\t"              \
                                                                   "fstpt %[yT]\n\t"
#define VURNEL_TONE_OPERANDS                                                                       \
    [i] "+r"(i), [xp] "=m"(xp), [yB] "+m"(yB),                                                     \
        [yT] "+m"(yT)                                                                              \
        : [in] "r"(in + frames), [out] "r"(out + frames), [gB] "m"(gB), [ycB] "m"(ycB), [gT] "m"(  \
                                                                                            gT),   \
          [ycT] "m"(ycT), [uB] "m"(uB), [uT] "m"(uT), [bg] "m"(bassGain), [tg] "m"(trebleGain),    \
          [n] "m"(n), [d] "m"(d), [f] "m"(f), [up] "m"(kScaleUp), [down] "m"(kScaleDown)           \
        : "memory", "cc", "eax", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)",       \
          "st(7)"

// The store of one output: narrowed to float; or, when it is certain to round to a zero, that
// zero's sign from fxam's C1 (bit 9 of the status word) moved to bit 31, with no underflow, and
// when accumulating a nonzero old output left as it is (the tiny sum cannot change it).
#define VURNEL_STORE_FLOAT "fstps (%[out],%[i],4)\n\t"
#define VURNEL_STORE_SIGN                                                                          \
    "fxam\n\t"                                                                                     \
    "fnstsw %%ax\n\t"                                                                              \
    "fstp %%st(0)\n\t"                                                                             \
    "shll $22, %%eax\n\t"                                                                          \
    "andl $0x80000000, %%eax\n\t"
#define VURNEL_STORE_SIGN_REPLACING VURNEL_STORE_SIGN "movl %%eax, (%[out],%[i],4)\n\t"
#define VURNEL_STORE_SIGN_ACCUMULATING                                                             \
    VURNEL_STORE_SIGN                                                                              \
    "movl (%[out],%[i],4), %%edx\n\t"                                                              \
    "testl $0x7FFFFFFF, %%edx\n\t"                                                                 \
    "cmovnz %%edx, %%eax\n\t"                                                                      \
    "movl %%eax, (%[out],%[i],4)\n\t"

// The store of a block run scaled by 2^64, without a branch (outputs near the smallest normal
// float fall on either side at random): v·2^149 (exact) is rounded to an integer n by fistp, as
// NarrowWithoutUnderflow does, and v·2^64 stored as a double for its sign (rounding keeps a
// sign). Where |n| ≤ 2^23 the float's bits are |n| with v's sign; else v = (v·2^64)·2^-64
// (exact) is a normal float, whose store is made in either case from v, or from 1 where v may
// lie below the normal floats (fcmov), and chosen by cmov. An n too large for 64 bits is the
// integer indefinite, whose magnitude is taken as 2^63.
#define VURNEL_STORE_SCALED                                                                        \
    "fld %%st(0)\n\t"                                                                              \
    "fmull %[up]\n\t"                                                                              \
    "fistpll %[n]\n\t"                                                                             \
    "fstl %[d]\n\t"                                                                                \
    "movq %[n], %%rdx\n\t"                                                                         \
    "movq %%rdx, %%rcx\n\t"                                                                        \
    "sarq $63, %%rcx\n\t"                                                                          \
    "xorq %%rcx, %%rdx\n\t"                                                                        \
    "subq %%rcx, %%rdx\n\t"                                                                        \
    "fld1\n\t"                                                                                     \
    "fxch %%st(1)\n\t"                                                                             \
    "cmpq $0x800000, %%rdx\n\t"                                                                    \
    "fcmovbe %%st(1), %%st\n\t"                                                                    \
    "fstp %%st(1)\n\t"                                                                             \
    "fmull %[down]\n\t"                                                                            \
    "fstps %[f]\n\t"                                                                               \
    "movl 4+%[d], %%eax\n\t"                                                                       \
    "andl $0x80000000, %%eax\n\t"                                                                  \
    "orl %%edx, %%eax\n\t"                                                                         \
    "movl %[f], %%ecx\n\t"                                                                         \
    "cmpq $0x800000, %%rdx\n\t"                                                                    \
    "cmova %%ecx, %%eax\n\t"                                                                       \
    "movl %%eax, (%[out],%[i],4)\n\t"

constexpr double kScaleUp = 0x1p85, kScaleDown = 0x1p-64;

template <bool Accumulate, ToneStore Store>
void ToneChannelBlock(const FirstOrderFilter& bass, const FirstOrderFilter& treble, const float* in,
                      float* out, std::int32_t frames, float bassGain, float trebleGain) {
    if (frames <= 0) return;
    std::intptr_t i = -static_cast<std::intptr_t>(frames);
    float xp;
    std::int64_t n = 0;
    double d = 0;
    float f = 0;
    // The filters' numbers as the statement reads them. Without optimisation every memory
    // operand reached through a reference takes a register of its own, and the scaled store's
    // statement runs out of them: there they are copies on the stack, the states written back
    // after it. Optimised builds read and write them in place.
#if defined(__OPTIMIZE__)
    const long double &gB = bass.g, &ycB = bass.yc, &gT = treble.g, &ycT = treble.yc;
    const long double &uB = bass.prevT, &uT = treble.prevT;
    long double &yB = bass.prevY, &yT = treble.prevY;
#else
    const long double gB = bass.g, ycB = bass.yc, gT = treble.g, ycT = treble.yc;
    const long double uB = bass.prevT, uT = treble.prevT;
    long double yB = bass.prevY, yT = treble.prevY;
#endif
    if constexpr (Store == ToneStore::Scaled && Accumulate)
        __asm__ volatile(VURNEL_TONE_BLOCK(VURNEL_ACCUMULATE_T, VURNEL_STORE_SCALED)
                         : VURNEL_TONE_OPERANDS, "rcx", "rdx");
    else if constexpr (Store == ToneStore::Scaled)
        __asm__ volatile(VURNEL_TONE_BLOCK(VURNEL_REPLACE_T, VURNEL_STORE_SCALED)
                         : VURNEL_TONE_OPERANDS, "rcx", "rdx");
    else if constexpr (Accumulate && Store == ToneStore::Float)
        __asm__ volatile(VURNEL_TONE_BLOCK(VURNEL_ACCUMULATE_T, VURNEL_STORE_FLOAT)
                         : VURNEL_TONE_OPERANDS);
    else if constexpr (Accumulate)
        __asm__ volatile(VURNEL_TONE_BLOCK(VURNEL_ACCUMULATE_T, VURNEL_STORE_SIGN_ACCUMULATING)
                         : VURNEL_TONE_OPERANDS, "edx");
    else if constexpr (Store == ToneStore::Float)
        __asm__ volatile(VURNEL_TONE_BLOCK(VURNEL_REPLACE_T, VURNEL_STORE_FLOAT)
                         : VURNEL_TONE_OPERANDS);
    else
        __asm__ volatile(VURNEL_TONE_BLOCK(VURNEL_REPLACE_T, VURNEL_STORE_SIGN_REPLACING)
                         : VURNEL_TONE_OPERANDS);
#if !defined(__OPTIMIZE__)
    bass.prevY = yB;
    treble.prevY = yT;
#endif
    // The stored u₋₁ is the last input times the gain factor, as the plain code leaves it.
    bass.prevT = static_cast<long double>(xp) * bass.g;
    treble.prevT = static_cast<long double>(xp) * treble.g;
}

#else

template <bool Accumulate, ToneStore Store>
void ToneChannelBlock(const FirstOrderFilter& bass, const FirstOrderFilter& treble, const float* in,
                      float* out, std::int32_t frames, float bassGain, float trebleGain) {
    const FirstOrderDesign bd{bass.g, 1.0L, bass.yc}, td{treble.g, -1.0L, treble.yc};
    FirstOrderState bs{bass.prevT, bass.prevY}, ts{treble.prevT, treble.prevY};
    PlainToneBlock<Accumulate, 1, -1, Store>(bd, bs, td, ts, in, out, frames, bassGain, trebleGain);
    bass.prevT = bs.prevT, bass.prevY = bs.prevY;
    treble.prevT = ts.prevT, treble.prevY = ts.prevY;
}

#endif

template void ToneChannelBlock<false, ToneStore::Float>(const FirstOrderFilter&,
                                                        const FirstOrderFilter&, const float*,
                                                        float*, std::int32_t, float, float);
template void ToneChannelBlock<true, ToneStore::Float>(const FirstOrderFilter&,
                                                       const FirstOrderFilter&, const float*,
                                                       float*, std::int32_t, float, float);
template void ToneChannelBlock<false, ToneStore::Sign>(const FirstOrderFilter&,
                                                       const FirstOrderFilter&, const float*,
                                                       float*, std::int32_t, float, float);
template void ToneChannelBlock<true, ToneStore::Sign>(const FirstOrderFilter&,
                                                      const FirstOrderFilter&, const float*, float*,
                                                      std::int32_t, float, float);
template void ToneChannelBlock<false, ToneStore::Scaled>(const FirstOrderFilter&,
                                                         const FirstOrderFilter&, const float*,
                                                         float*, std::int32_t, float, float);
template void ToneChannelBlock<true, ToneStore::Scaled>(const FirstOrderFilter&,
                                                        const FirstOrderFilter&, const float*,
                                                        float*, std::int32_t, float, float);

} // namespace vurnel
