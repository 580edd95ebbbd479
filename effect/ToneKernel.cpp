#include "ToneKernel.h"

#include <climits>
#include <cstddef>
#include <cstring>

#include "ToneKernelAsm.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(VURNEL_PORTABLE_KERNEL)
#include <emmintrin.h>
#endif

namespace vurnel {

// A pointer as it stands in a register: the compiler may not merge the reads of two such
// into one 16-byte read of the two 8-byte stores the caller has just made (a failed store
// forwarding, on this AMD core the costliest step of a block of one frame).
template <typename T> T* InRegister(T* p) {
#if defined(__GNUC__)
    __asm__("" : "+r"(p));
#endif
    return p;
}

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
          [ycT] "m"(ycT), [uB] "m"(uB), [uT] "m"(uT), [bg] "m"(bassGain), [tg] "m"(trebleGain)     \
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

// The Tail kernel: the same instructions on input that may hold float subnormals (a signal
// decaying through them), which the x87 loads only by its slow path (the denormal-operand
// assist), and outputs that may fall below the normal floats, whose store takes the underflow
// assist. It runs on input, states and outputs scaled by 2^64, which scales every value the
// plain computation forms exactly (they stay far from the extended format's limits), so no
// value loaded or stored is tiny:
// - Each stretch of up to 256 input samples (and, accumulating, old outputs) x is made floats
//   x·2^64 (ScaleUp) in a loop of its own, four at a time, and the kernel loads those: every
//   float below 2^64 so scaled is a normal float or a zero. (Made sample by sample inside the
//   kernel, in the integer registers, stored and loaded on the x87 beside the x87 stores read
//   back into them, they cost this AMD core half as much again.)
// - The states are scaled as they are loaded and scaled back as they are stored (exact). At the
//   end of each stretch they are compared, in the registers, with the range the scaling asks
//   for (TailStateFits): the caller runs the rest of a block whose states have left it another
//   way, and the next block may skip looking at states that still lie in it (read back at once
//   from memory as integers, the x87's stores would be forwarded only after a stall).
// - Each output v (scaled) is stored as NarrowWithoutUnderflow does: n = v·2^85 (exact) rounded
//   to an integer by fistp in the current rounding mode. Where |n| ≤ 2^23 (n + 2^23 ≤ 2^24
//   unsigned) the float's bits are |n| with v's sign: the x87 stores v·(+0) as a float, a zero
//   of v's sign (exact: no flag, whatever the size of v), and the integer registers then store
//   the low three bytes of |n| over it (the sign and exponent byte stays the zero's). Else
//   v·2^-64 is a normal float, and the x87 stores it, while the three bytes go to a spare slot.
//   One multiply serves both: v times 2^-64 or times +0, the factor's address chosen by cmov (as
//   is the bytes' place), so the x87 does five operations an output for the narrowing. No store is
//   read back but n's: each read of an x87 store into the integer registers waits on this AMD core.
//   (An earlier form stored v·2^85 as a double for the sign, which underflows where zeros inside a
//   block decay both contributions by hundreds of binary orders.) An n too large for 64 bits is the
//   integer indefinite, which lies above 2^23.
// The filters' numbers are read through a frame of pointers, so the statement needs the same
// few registers in every build.
// (TailFrame, in ToneKernel.h: 0-56 the pointers; 64, 72, 80: 2^64, 2^-64, 2^85; 88, 92 the
// gains; 96: n; 104: where the store not taken goes; 108: whether the states left by the stretch
// fit (1) or not (0); 112: +0, the scale of an output below the normal floats.)
static_assert(offsetof(TailFrame, uT) == 56 && offsetof(TailFrame, up) == 64 &&
              offsetof(TailFrame, down) == 72 && offsetof(TailFrame, toInteger) == 80 &&
              offsetof(TailFrame, bassGain) == 88 && offsetof(TailFrame, trebleGain) == 92 &&
              offsetof(TailFrame, n) == 96 && offsetof(TailFrame, spare) == 104 &&
              offsetof(TailFrame, fits) == 108 && offsetof(TailFrame, zero) == 112 &&
              offsetof(TailFrame, lowOutputs) == 120 && offsetof(TailFrame, zeroOutputs) == 128 &&
              offsetof(TailFrame, back) == 136);

// TailStateFits's range, scaled by 2^64: 2^-836 and 2^16064.
const double kTailFitLow = 0x1p-836;

// Floats x·2^64, exactly, by integer and exact SSE operations, four at a time: a normal float's
// exponent raised by 64, a subnormal's significand converted as an integer and scaled by
// 2^-85 (fewer than 24 bits, a normal result: no flag), its sign kept, a zero kept. Returns
// false where some |x| ≥ 2^64, which would not scale (the usual kernel runs those; sound).
// One float x·2^64, as ScaleUp makes it; false where |x| ≥ 2^64.
inline bool ScaleOne(const float* in, float* x) {
    std::uint32_t b;
    std::memcpy(&b, in, sizeof b);
    const std::uint32_t magnitude = b & 0x7FFFFFFFu;
    const float scaled = static_cast<float>(static_cast<std::int32_t>(magnitude)) * 0x1p-85f;
    std::uint32_t subnormal;
    std::memcpy(&subnormal, &scaled, sizeof subnormal);
    const std::uint32_t v = magnitude < 0x800000u ? subnormal | (b & 0x80000000u) : b + (64u << 23);
    std::memcpy(x, &v, sizeof v);
    return magnitude < (191u << 23);
}

bool ScaleUp(const float* in, float* x, std::int32_t n) {
    const __m128i magnitudeMask = _mm_set1_epi32(0x7FFFFFFF), sign = _mm_set1_epi32(INT32_MIN);
    const __m128i raise = _mm_set1_epi32(64 << 23), smallest = _mm_set1_epi32(0x800000);
    const __m128i largest = _mm_set1_epi32((191 << 23) - 1);
    const __m128 down = _mm_set1_ps(0x1p-85f);
    __m128i big = _mm_setzero_si128();
    std::int32_t k = 0;
    const auto four = [&](const __m128i b) {
        const __m128i magnitude = _mm_and_si128(b, magnitudeMask);
        const __m128i normal = _mm_add_epi32(b, raise);
        const __m128i subnormal = _mm_or_si128(
            _mm_castps_si128(_mm_mul_ps(_mm_cvtepi32_ps(magnitude), down)), _mm_and_si128(b, sign));
        const __m128i small = _mm_cmpgt_epi32(smallest, magnitude);
        big = _mm_or_si128(big, _mm_cmpgt_epi32(magnitude, largest));
        return _mm_or_si128(_mm_and_si128(small, subnormal), _mm_andnot_si128(small, normal));
    };
    for (; k + 4 <= n; k += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(x + k),
                         four(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k))));
    bool small = true;
    for (; k < n; ++k) // the same, one at a time
        small = ScaleOne(in + k, x + k) && small;
    return _mm_movemask_epi8(big) == 0 && small;
}

// The start of each store below: v scaled by 2^85 in place, n = v rounded to a 32-bit integer
// (the integer indefinite where it does not fit, which lies above 2^23), and the flags of
// n + 2^23 against 2^24 (unsigned): at or below where |n| ≤ 2^23, the float's bits being |n| with
// v's sign. A normal output is v·2^-149, exact.
#define VURNEL_TAIL_SIZE_TEST                                                                      \
    "fmull 80(%[fr])\n\t"                                                                          \
    "fistl 96(%[fr])\n\t"                                                                          \
    "movslq 96(%[fr]), %%rdx\n\t"                                                                  \
    "lea 0x800000(%%rdx), %%rcx\n\t"                                                               \
    "cmpq $0x1000000, %%rcx\n\t"
// |n| into rdx, n's sign spread over rax.
#define VURNEL_TAIL_MAGNITUDE                                                                      \
    "movq %%rdx, %%rax\n\t"                                                                        \
    "sarq $63, %%rax\n\t"                                                                          \
    "xorq %%rax, %%rdx\n\t"                                                                        \
    "subq %%rax, %%rdx\n\t"
// The store of an output v (scaled), by one of three means of the same bits, each counting in r8
// the outputs below the normal floats (and the branching ones in r9 those that round to zeros),
// from which the next stretches choose (TailFrame::store). Chosen: the factor (2^-64 or +0) and
// the bytes' place chosen by cmov (no branch: outputs that cross 2^-126 to and fro cost nothing
// more; forming both products and choosing by fcmov took five x87 operations more an output, 3-5%
// of a block of 16 or 32 on this AMD core). Branch: only the candidate that is stored, behind a
// branch on n, which a tail whose outputs cross 2^-126 would mispredict. Whole: as Branch, the
// float's bits stored by the integer registers alone where n is not a zero (three x87 operations
// fewer an output, a tenth of a tail's block of 8 frames on this AMD core), which a tail whose
// outputs round to zeros now and then would mispredict.
#define VURNEL_TAIL_STORE_CHOSEN                                                                   \
    VURNEL_TAIL_SIZE_TEST                                                                          \
    "lea 136(%[fr]), %%rax\n\t"                                                                    \
    "lea 112(%[fr]), %%rcx\n\t"                                                                    \
    "cmovbe %%rcx, %%rax\n\t"                                                                      \
    "fmull (%%rax)\n\t"                                                                            \
    "fstps (%[out],%[i],4)\n\t"                                                                    \
    "lea (%[out],%[i],4), %%r11\n\t"                                                               \
    "lea 104(%[fr]), %%rax\n\t"                                                                    \
    "cmova %%rax, %%r11\n\t"                                                                       \
    "adcq $0, %%r8\n\t" VURNEL_TAIL_MAGNITUDE "movw %%dx, (%%r11)\n\t"                             \
    "shrl $16, %%edx\n\t"                                                                          \
    "movb %%dl, 2(%%r11)\n\t"
#define VURNEL_TAIL_STORE_BRANCH                                                                   \
    VURNEL_TAIL_SIZE_TEST                                                                          \
    "ja 3f\n\t"                                                                                    \
    "incq %%r8\n\t"                                                                                \
    "cmpq $1, %%rdx\n\t"                                                                           \
    "adcq $0, %%r9\n\t"                                                                            \
    "fmull 112(%[fr])\n\t"                                                                         \
    "fstps (%[out],%[i],4)\n\t" VURNEL_TAIL_MAGNITUDE "movw %%dx, (%[out],%[i],4)\n\t"             \
    "shrl $16, %%edx\n\t"                                                                          \
    "movb %%dl, 2(%[out],%[i],4)\n\t"                                                              \
    "jmp 4f\n\t"                                                                                   \
    "3:\n\t"                                                                                       \
    "fmull 136(%[fr])\n\t"                                                                         \
    "fstps (%[out],%[i],4)\n\t"                                                                    \
    "4:\n\t"
// As VURNEL_TAIL_STORE_BRANCH, below the normal floats: a nonzero n has v's sign, and the float's
// bits (sign and |n|) are stored whole by the integer registers while the x87 only drops v; n = 0
// (the zero of v's sign, by the x87) behind a second branch.
#define VURNEL_TAIL_STORE_WHOLE                                                                    \
    VURNEL_TAIL_SIZE_TEST                                                                          \
    "ja 3f\n\t"                                                                                    \
    "incq %%r8\n\t"                                                                                \
    "testq %%rdx, %%rdx\n\t"                                                                       \
    "jz 8f\n\t"                                                                                    \
    "fstp %%st(0)\n\t" VURNEL_TAIL_MAGNITUDE "andl $0x80000000, %%eax\n\t"                         \
    "orl %%eax, %%edx\n\t"                                                                         \
    "movl %%edx, (%[out],%[i],4)\n\t"                                                              \
    "jmp 4f\n\t"                                                                                   \
    "8:\n\t"                                                                                       \
    "incq %%r9\n\t"                                                                                \
    "fmull 112(%[fr])\n\t"                                                                         \
    "fstps (%[out],%[i],4)\n\t"                                                                    \
    "jmp 4f\n\t"                                                                                   \
    "3:\n\t"                                                                                       \
    "fmull 136(%[fr])\n\t"                                                                         \
    "fstps (%[out],%[i],4)\n\t"                                                                    \
    "4:\n\t"
// The store where both tone gains are zeros (the flat setting) and, accumulating, every old output
// is a zero: each product by a gain is then a zero (the filters' outputs are finite), so v is
// exactly x·2^64 where x is not a zero, and a zero of the plain computation's sign where it is.
// The x87 stores v·(+0), a zero of v's sign (exact: no flag), and the integer registers store x's
// own bits over it where x is not a zero (else to a spare slot): the same bits as the narrowing,
// without its fistp read back. x's bits are read before the x87's store (in may be out).
#define VURNEL_TAIL_STORE_FLAT                                                                     \
    "movl (%[src],%[i],4), %%edx\n\t"                                                              \
    "fmull 112(%[fr])\n\t"                                                                         \
    "fstps (%[out],%[i],4)\n\t"                                                                    \
    "lea (%[out],%[i],4), %%r11\n\t"                                                               \
    "lea 104(%[fr]), %%rax\n\t"                                                                    \
    "testl $0x7FFFFFFF, %%edx\n\t"                                                                 \
    "cmovz %%rax, %%r11\n\t"                                                                       \
    "movl %%edx, (%%r11)\n\t"
// One sample, the register plan of VURNEL_TONE_SAMPLE, x read from the scaled doubles.
#define VURNEL_TAIL_SAMPLE(U_BASS, U_TREBLE, T_FORM, STORE)                                        \
    "flds (%[x],%[i],4)\n\t"                                                                       \
    "fmul %%st(1), %%st\n\t" U_BASS "faddp %%st, %%st(1)\n\t"                                      \
    "fxch %%st(3)\n\t"                                                                             \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "faddp %%st, %%st(3)\n\t"                                                                      \
    "flds (%[x],%[i],4)\n\t"                                                                       \
    "fmul %%st(4), %%st\n\t" U_TREBLE "fsubrp %%st, %%st(1)\n\t"                                   \
    "fxch %%st(6)\n\t"                                                                             \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "faddp %%st, %%st(6)\n\t"                                                                      \
    "flds 88(%[fr])\n\t"                                                                           \
    "fmul %%st(3), %%st\n\t" T_FORM "flds 92(%[fr])\n\t"                                           \
    "fmul %%st(7), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t" STORE "inc %[i]\n\t"
// u₋₁ through its pointer, scaled, for the first sample; x₋₁·g for the others.
#define VURNEL_TAIL_STORED_U(OFFSET)                                                               \
    "movq " OFFSET "(%[fr]), %%rcx\n\t"                                                            \
    "fldt (%%rcx)\n\t"                                                                             \
    "fmull 64(%[fr])\n\t"
#define VURNEL_TAIL_FORMED_U(G_SLOT)                                                               \
    "flds -4(%[x],%[i],4)\n\t"                                                                     \
    "fmul %%st(" G_SLOT "), %%st\n\t"
#define VURNEL_TAIL_REPLACE_T "fadds (%[x],%[i],4)\n\t"
#define VURNEL_TAIL_ACCUMULATE_T                                                                   \
    "flds (%[old],%[i],4)\n\t"                                                                     \
    "fadds (%[x],%[i],4)\n\t"                                                                      \
    "faddp %%st, %%st(1)\n\t"
#define VURNEL_TAIL_LOAD(OFFSET)                                                                   \
    "movq " OFFSET "(%[fr]), %%rax\n\t"                                                            \
    "fldt (%%rax)\n\t"
// Whether st0, a state scaled by 2^64, is at least 2^-836 in size, into %al (1 or 0): it then
// fits (TailStateFits; with input below 2^64, stable filters keep it far below the upper end). A
// state that is a zero fits too, but is not vouched for here (the next block looks at it).
#define VURNEL_TAIL_FITS                                                                           \
    "fld %%st(0)\n\t"                                                                              \
    "fabs\n\t"                                                                                     \
    "fldl %[low]\n\t"                                                                              \
    "fcomip %%st(1), %%st\n\t"                                                                     \
    "fstp %%st(0)\n\t"                                                                             \
    "setbe %%al\n\t"
// (The stored u₋₁ of each filter, the last input times its gain factor, as the plain code leaves
// it, is formed in VURNEL_TAIL_END from the scaled input, (x·2^64·g)·2^-64 (exact scalings of x·g),
// while g is in its register (formed after the statement instead, from memory, it cost a block of 4
// frames a tenth of its time on this AMD core). The end of a stretch, its last output v computed
// and not yet stored (stack: v, gB, ycB, yB, gT, ycT, yT): the stored u₋₁ of each filter, the
// states checked and stored, and only then v (the states' 80-bit stores leave before the output's
// fistp and its read back into the integer registers, which the last output's store waits on: the
// next block reads them back sooner).
#define VURNEL_TAIL_END(STORE)                                                                     \
    "flds -4(%[x])\n\t"                                                                            \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fmull 72(%[fr])\n\t"                                                                          \
    "movq 24(%[fr]), %%rax\n\t"                                                                    \
    "fstpt (%%rax)\n\t"                                                                            \
    "flds -4(%[x])\n\t"                                                                            \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "fmull 72(%[fr])\n\t"                                                                          \
    "movq 56(%[fr]), %%rax\n\t"                                                                    \
    "fstpt (%%rax)\n\t"                                                                            \
    "fstp %%st(1)\n\t"                                                                             \
    "fstp %%st(1)\n\t"                                                                             \
    "fxch %%st(1)\n\t" VURNEL_TAIL_FITS "movb %%al, %%dl\n\t"                                      \
    "fmull 72(%[fr])\n\t"                                                                          \
    "movq 16(%[fr]), %%rax\n\t"                                                                    \
    "fstpt (%%rax)\n\t"                                                                            \
    "fstp %%st(1)\n\t"                                                                             \
    "fstp %%st(1)\n\t"                                                                             \
    "fxch %%st(1)\n\t" VURNEL_TAIL_FITS "andb %%al, %%dl\n\t"                                      \
    "fmull 72(%[fr])\n\t"                                                                          \
    "movq 48(%[fr]), %%rax\n\t"                                                                    \
    "fstpt (%%rax)\n\t"                                                                            \
    "movzbl %%dl, %%edx\n\t"                                                                       \
    "movl %%edx, 108(%[fr])\n\t"                                                                   \
    "dec %[i]\n\t" STORE "movq %%r8, 120(%[fr])\n\t"                                               \
    "movq %%r9, 128(%[fr])\n\t"
// A stretch: every sample but the last stored as it comes, the last by VURNEL_TAIL_END.
#define VURNEL_TAIL_BLOCK(T_FORM, STORE)                                                           \
    VURNEL_TAIL_LOAD("48")                                                                         \
    "fmull 64(%[fr])\n\t" VURNEL_TAIL_LOAD("32") VURNEL_TAIL_LOAD("40")                            \
        VURNEL_TAIL_LOAD("16") "fmull 64(%[fr])\n\t" VURNEL_TAIL_LOAD("0") VURNEL_TAIL_LOAD(       \
            "8") "cmpq $-1, %[i]\n\t"                                                              \
                 "je 5f\n\t" VURNEL_TAIL_SAMPLE(                                                   \
                     VURNEL_TAIL_STORED_U("24"), VURNEL_TAIL_STORED_U("56"), T_FORM,               \
                     STORE) "cmpq $-1, %[i]\n\t"                                                   \
                            "je 6f\n\t"                                                            \
                            "1:\n\t" VURNEL_TAIL_SAMPLE(                                           \
                                VURNEL_TAIL_FORMED_U("2"), VURNEL_TAIL_FORMED_U("5"), T_FORM,      \
                                STORE) "cmpq $-1, %[i]\n\t"                                        \
                                       "jne 1b\n\t"                                                \
                                       "6:\n\t" VURNEL_TAIL_SAMPLE(                                \
                                           VURNEL_TAIL_FORMED_U("2"), VURNEL_TAIL_FORMED_U("5"),   \
                                           T_FORM, "") "jmp 7f\n\t"                                \
                                                       "5:\n\t" VURNEL_TAIL_SAMPLE(                \
                                                           VURNEL_TAIL_STORED_U("24"),             \
                                                           VURNEL_TAIL_STORED_U("56"), T_FORM,     \
                                                           "") "7:\n\t" VURNEL_TAIL_END(STORE)

template <bool Accumulate>
int ToneTailStretch(TailFrame& frame, const float* in, float* out, std::int32_t n) {
    // x[0] stands before the stretch (x₋₁ for the formed u₋₁ reads one back).
    float x[kTailStretch + 1], old[Accumulate ? kTailStretch : 1];
    // A block of one frame, as hosts give thousands a second: without the call.
    if (n == 1 ? !ScaleOne(in, x + 1) : !ScaleUp(in, x + 1, n)) return -1;
    // The flat setting (both gains zeros) onto old outputs that are all zeros, as a host that
    // clears its buffers gives: VURNEL_TAIL_STORE_FLAT, the zeros read as they stand.
    std::uint32_t gains[2];
    std::memcpy(&gains[0], &frame.bassGain, sizeof gains[0]);
    std::memcpy(&gains[1], &frame.trebleGain, sizeof gains[1]);
    bool flat = ((gains[0] | gains[1]) & 0x7FFFFFFFu) == 0;
    if constexpr (Accumulate) {
        if (flat) {
            std::uint32_t any = 0;
            for (std::int32_t k = 0; k < n; ++k) {
                std::uint32_t b;
                std::memcpy(&b, out + k, sizeof b);
                any |= b;
            }
            flat = (any & 0x7FFFFFFFu) == 0;
        }
        if (!flat && (n == 1 ? !ScaleOne(out, old) : !ScaleUp(out, old, n))) return -1;
    }
    std::intptr_t i = -static_cast<std::intptr_t>(n);
    TailFrame* const fr = &frame;
// The statement for a stretch: replacing, or (OLD) reading the scaled old outputs too.
#define VURNEL_TAIL_OLD , [old] "r"(old + n)
#define VURNEL_TAIL_NO_OLD
#define VURNEL_TAIL_FLAT_OLD , [old] "r"(out + n), [src] "r"(in + n)
#define VURNEL_TAIL_FLAT_NO_OLD , [src] "r"(in + n)
#define VURNEL_TAIL_STATEMENT(T_FORM, STORE, OLD)                                                  \
    __asm__ volatile(                                                                              \
        "xorl %%r8d, %%r8d\n\txorl %%r9d, %%r9d\n\t" VURNEL_TAIL_BLOCK(T_FORM, STORE)              \
        : [i] "+r"(i)                                                                              \
        : [x] "r"(x + 1 + n), [out] "r"(out + n), [fr] "r"(fr), [low] "m"(kTailFitLow)OLD          \
        : "memory", "cc", "rax", "rcx", "rdx", "r8", "r9", "r11", "st", "st(1)", "st(2)", "st(3)", \
          "st(4)", "st(5)", "st(6)", "st(7)")
    // The store the outputs of the last stretches asked for (see VURNEL_TAIL_STORE_CHOSEN).
    if constexpr (Accumulate) {
        if (flat)
            VURNEL_TAIL_STATEMENT(VURNEL_TAIL_ACCUMULATE_T, VURNEL_TAIL_STORE_FLAT,
                                  VURNEL_TAIL_FLAT_OLD);
        else if (frame.store == TailStore::Whole)
            VURNEL_TAIL_STATEMENT(VURNEL_TAIL_ACCUMULATE_T, VURNEL_TAIL_STORE_WHOLE,
                                  VURNEL_TAIL_OLD);
        else if (frame.store == TailStore::Branch)
            VURNEL_TAIL_STATEMENT(VURNEL_TAIL_ACCUMULATE_T, VURNEL_TAIL_STORE_BRANCH,
                                  VURNEL_TAIL_OLD);
        else
            VURNEL_TAIL_STATEMENT(VURNEL_TAIL_ACCUMULATE_T, VURNEL_TAIL_STORE_CHOSEN,
                                  VURNEL_TAIL_OLD);
    } else {
        if (flat)
            VURNEL_TAIL_STATEMENT(VURNEL_TAIL_REPLACE_T, VURNEL_TAIL_STORE_FLAT,
                                  VURNEL_TAIL_FLAT_NO_OLD);
        else if (frame.store == TailStore::Whole)
            VURNEL_TAIL_STATEMENT(VURNEL_TAIL_REPLACE_T, VURNEL_TAIL_STORE_WHOLE,
                                  VURNEL_TAIL_NO_OLD);
        else if (frame.store == TailStore::Branch)
            VURNEL_TAIL_STATEMENT(VURNEL_TAIL_REPLACE_T, VURNEL_TAIL_STORE_BRANCH,
                                  VURNEL_TAIL_NO_OLD);
        else
            VURNEL_TAIL_STATEMENT(VURNEL_TAIL_REPLACE_T, VURNEL_TAIL_STORE_CHOSEN,
                                  VURNEL_TAIL_NO_OLD);
    }
    // Which store the next stretches take, from the outputs of the last 16 or more.
    frame.seen += n;
    frame.low += static_cast<std::int32_t>(frame.lowOutputs);
    frame.zeros += static_cast<std::int32_t>(frame.zeroOutputs);
    if (frame.seen >= 16) {
        frame.store = frame.low != 0 && frame.low != frame.seen
                          ? TailStore::Chosen
                          : (frame.zeros != 0 ? TailStore::Branch : TailStore::Whole);
        frame.seen = frame.low = frame.zeros = 0;
    }
#undef VURNEL_TAIL_STATEMENT
#undef VURNEL_TAIL_OLD
#undef VURNEL_TAIL_NO_OLD
#undef VURNEL_TAIL_FLAT_OLD
#undef VURNEL_TAIL_FLAT_NO_OLD
    return fr->fits != 0 ? 1 : 0;
}

template <bool Accumulate, ToneStore Store>
void ToneChannelBlock(const FirstOrderFilter& bass, const FirstOrderFilter& treble, const float* in,
                      float* out, std::int32_t frames, float bassGain, float trebleGain) {
    static_assert(Store != ToneStore::Tail, "the Tail kernel is ToneTailBlock");
    if (frames <= 0) return;
    std::intptr_t i = -static_cast<std::intptr_t>(frames);
    float xp;
    // The filters' numbers as the statement reads them. Without optimisation every memory
    // operand reached through a reference takes a register of its own, more than there are:
    // there they are copies on the stack, the states written back after it. Optimised builds
    // read and write them in place.
#if defined(__OPTIMIZE__)
    const long double &gB = bass.g, &ycB = bass.yc, &gT = treble.g, &ycT = treble.yc;
    const long double &uB = bass.prevT, &uT = treble.prevT;
    long double &yB = bass.prevY, &yT = treble.prevY;
#else
    const long double gB = bass.g, ycB = bass.yc, gT = treble.g, ycT = treble.yc;
    const long double uB = bass.prevT, uT = treble.prevT;
    long double yB = bass.prevY, yT = treble.prevY;
#endif
    if constexpr (Accumulate && Store == ToneStore::Float)
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

// The plain computation with the Tail store, with the same look at the states after it.
template <bool Accumulate>
int ToneTailStretch(TailFrame& frame, const float* in, float* out, std::int32_t n) {
    ToneChannelBlock<Accumulate, ToneStore::Tail>({*frame.gB, *frame.ycB, *frame.uB, *frame.yB},
                                                  {*frame.gT, *frame.ycT, *frame.uT, *frame.yT}, in,
                                                  out, n, frame.bassGain, frame.trebleGain);
    return TailStateFits(*frame.yB) && TailStateFits(*frame.uB) && TailStateFits(*frame.yT) &&
                   TailStateFits(*frame.uT)
               ? 1
               : 0;
}

#endif

void BindTail(TailFrame& frame, const FirstOrderFilter& bass, const FirstOrderFilter& treble) {
    frame.ycB = InRegister(&bass.yc), frame.gB = InRegister(&bass.g);
    frame.yB = InRegister(&bass.prevY), frame.uB = InRegister(&bass.prevT);
    frame.ycT = InRegister(&treble.yc), frame.gT = InRegister(&treble.g);
    frame.yT = InRegister(&treble.prevY), frame.uT = InRegister(&treble.prevT);
}

template <bool Accumulate>
void ToneUsualBlock(const TailFrame& frame, const float* in, float* out, std::int32_t frames) {
    ToneChannelBlock<Accumulate, ToneStore::Float>({*frame.gB, *frame.ycB, *frame.uB, *frame.yB},
                                                   {*frame.gT, *frame.ycT, *frame.uT, *frame.yT},
                                                   in, out, frames, frame.bassGain,
                                                   frame.trebleGain);
}

template <bool Accumulate>
std::int32_t ToneTailBlock(const FirstOrderFilter& bass, const FirstOrderFilter& treble,
                           const float* in, float* out, std::int32_t frames, float bassGain,
                           float trebleGain, bool& fits) {
    TailFrame frame;
    BindTail(frame, bass, treble);
    return ToneTailBlock<Accumulate>(frame, in, out, frames, bassGain, trebleGain, fits);
}

template int ToneTailStretch<false>(TailFrame&, const float*, float*, std::int32_t);
template int ToneTailStretch<true>(TailFrame&, const float*, float*, std::int32_t);
template void ToneUsualBlock<false>(const TailFrame&, const float*, float*, std::int32_t);
template void ToneUsualBlock<true>(const TailFrame&, const float*, float*, std::int32_t);
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
template std::int32_t ToneTailBlock<false>(const FirstOrderFilter&, const FirstOrderFilter&,
                                           const float*, float*, std::int32_t, float, float, bool&);
template std::int32_t ToneTailBlock<true>(const FirstOrderFilter&, const FirstOrderFilter&,
                                          const float*, float*, std::int32_t, float, float, bool&);
#if !defined(__x86_64__) || !defined(__GNUC__) || defined(VURNEL_PORTABLE_KERNEL)
template void ToneChannelBlock<false, ToneStore::Tail>(const FirstOrderFilter&,
                                                       const FirstOrderFilter&, const float*,
                                                       float*, std::int32_t, float, float);
template void ToneChannelBlock<true, ToneStore::Tail>(const FirstOrderFilter&,
                                                      const FirstOrderFilter&, const float*, float*,
                                                      std::int32_t, float, float);
#endif

} // namespace vurnel
