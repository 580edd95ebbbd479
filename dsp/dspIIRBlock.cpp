#include "dspIIRBlock.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "dspExtendedBits.h"
#include "dspIIRFilters.h"

namespace vurnel::dsp {

namespace {

// N taps over a block, the plain way: the compiler keeps what fits of the histories in
// registers and the shift is a renaming in the unrolled loop. With one or two taps everything
// fits in the x87 registers; beyond that g++ spills extended values to memory on every sample,
// which the hand-written loop below avoids. It is also the portable path.
template <int N, typename T>
void PlainBlock(long double g, const long double* xCoeffs, const long double* yCoeffs,
                long double* xv, long double* yv, const T* input, T* output, int count) {
    long double h[N + 1], y[N + 1], c[N], d[N];
    for (int i = 0; i <= N; ++i)
        h[i] = xv[i], y[i] = yv[i];
    for (int i = 0; i < N; ++i)
        c[i] = xCoeffs[i], d[i] = yCoeffs[i];
    for (int n = 0; n < count; ++n) {
#pragma GCC unroll 32
        for (int i = 0; i < N; ++i) {
            h[i] = h[i + 1];
            y[i] = y[i + 1];
        }
        const long double t = static_cast<long double>(input[n]) * g;
        h[N] = t;
        long double acc = t;
#pragma GCC unroll 32
        for (int i = 0; i < N; ++i)
            acc = (acc + h[i] * c[i]) + y[i] * d[i];
        y[N] = acc;
        output[n] = static_cast<T>(acc);
    }
    for (int i = 0; i <= N; ++i)
        xv[i] = h[i], yv[i] = y[i];
}

// The biased exponent field of an extended value, read as bits (an x87 operation on a subnormal
// takes the slow path).
inline unsigned ExponentField(long double v) {
    unsigned char raw[sizeof(long double)];
    std::memcpy(raw, &v, sizeof raw);
    return (raw[8] | (raw[9] << 8)) & 0x7FFFu;
}

// PlainBlock with the outputs as long double, leaving after the first sample whose output is
// neither a zero nor of exponent field above limit; returns the samples run.
template <int N, typename T>
int PlainChecked(long double g, const long double* xCoeffs, const long double* yCoeffs,
                 long double* xv, long double* yv, const T* input, long double* ys, int count,
                 unsigned limit) {
    long double h[N + 1], y[N + 1], c[N], d[N];
    for (int i = 0; i <= N; ++i)
        h[i] = xv[i], y[i] = yv[i];
    for (int i = 0; i < N; ++i)
        c[i] = xCoeffs[i], d[i] = yCoeffs[i];
    // The smallest value above the limit: exponent field limit + 1, significand 1.
    const long double smallest =
        FromBits({std::uint64_t{1} << 63, static_cast<std::uint16_t>(limit + 1)});
    int n = 0;
    while (n < count) {
#pragma GCC unroll 32
        for (int i = 0; i < N; ++i) {
            h[i] = h[i + 1];
            y[i] = y[i + 1];
        }
        const long double t = static_cast<long double>(input[n]) * g;
        h[N] = t;
        long double acc = t;
#pragma GCC unroll 32
        for (int i = 0; i < N; ++i)
            acc = (acc + h[i] * c[i]) + y[i] * d[i];
        y[N] = acc;
        ys[n++] = acc;
        // An x87 comparison: acc is a zero or normal here (no slow path), and it stays in its
        // register (an integer look at its bits would copy it through memory, and g++ would load
        // it back on the recursion's chain).
        if (std::fabs(acc) < smallest && acc != 0.0L) break;
    }
    for (int i = 0; i <= N; ++i)
        xv[i] = h[i], yv[i] = y[i];
    return n;
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(VURNEL_PORTABLE_KERNEL)

// Samples per chunk of the loop below.
constexpr int kChunk = 256;

// Why this loop is written by hand
// --------------------------------
// x87 arithmetic takes extended operands only from its eight registers, and N taps need 4·N + 1
// extended values a sample. Where they cannot all stay in registers, the next best is to load
// each once where it is used (an 80-bit load costs about two multiplies' issue slots on the
// cores measured, a store a little more) and to store each new history value once, never to
// shift or spill. So the histories run along one linear array of (input, output) pairs that
// starts as XV and YV: sample n reads its history at entries n+1 .. n+N and appends its own at
// n+N+1. The gain factor and the newest outputs stay in registers. Feed-forward coefficients
// that are doubles exactly (the integers of lowpass, highpass and bandpass designs) enter as
// double memory operands, which cost no load; the product is the same. At the end of a chunk
// the last N+1 pairs move to the front; at the end of the block they are XV and YV as the
// per-sample routine leaves them. The order of the operations is the recursion's: t = x·g, then
// (acc + h·c) + y·d for each tap, oldest first.
//
// Registers between samples: st0 g, then the last R outputs, newest first (R = 3 for three taps,
// 4 for more: the most that leaves room for the sum and two operands). The chain from one output
// to the next runs through these registers only; an 80-bit store forwarded to a load takes tens
// of cycles on these cores, so an output is read back from memory only R + 1 or more samples
// after it was stored. LOAD pushes the sample, STORE writes st0 to the output without popping
// it; XC multiplies st0 by tap vurnel_k's feed-forward value (at vurnel_k·32 from %[c]; its
// feedback value at +16). Each tap adds its input's product, then its output's.
#define VURNEL_IIR_LOOP(LOAD, STORE, XC, R, LOAD_Y, REGISTER_TAPS, ROTATE, POP_Y, NEXT)            \
    LOAD_Y "fldt %[g]\n\t"                                                                         \
           ".p2align 6\n\t1:\n\t" LOAD "fmul %%st(1), %%st\n\t"                                    \
           "fld %%st(0)\n\t"                                                                       \
           "fstpt %c[newT](%[h])\n\t"                                                              \
           ".set vurnel_k, 0\n\t"                                                                  \
           ".rept %c[taps] - " #R "\n\t"                                                           \
           "fldt 32+vurnel_k*32(%[h])\n\t" XC "faddp %%st, %%st(1)\n\t"                            \
           "fldt 48+vurnel_k*32(%[h])\n\t"                                                         \
           "fldt 16+vurnel_k*32(%[c])\n\t"                                                         \
           "fmulp %%st, %%st(1)\n\t"                                                               \
           "faddp %%st, %%st(1)\n\t"                                                               \
           ".set vurnel_k, vurnel_k+1\n\t"                                                         \
           ".endr\n\t" REGISTER_TAPS STORE "fld %%st(0)\n\t"                                       \
           "fstpt %c[newY](%[h])\n\t" ROTATE "add $32, %[h]\n\t"                                   \
           "add %[step], %[in]\n\t"                                                                \
           "add %[ostep], %[out]\n\t" NEXT "fstp %%st(0)\n\t" POP_Y
// A tap whose output is in register st(P) (P = 1 + its age in samples, with the sum in st0).
#define VURNEL_REGISTER_TAP(XC, P)                                                                 \
    "fldt 32+vurnel_k*32(%[h])\n\t" XC "faddp %%st, %%st(1)\n\t"                                   \
    "fld %%st(" #P ")\n\t"                                                                         \
    "fldt 16+vurnel_k*32(%[c])\n\t"                                                                \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    ".set vurnel_k, vurnel_k+1\n\t"
#define VURNEL_LOAD_Y1 "fldt %c[y1](%[h])\n\t"
#define VURNEL_LOAD_Y2 "fldt %c[y2](%[h])\n\t" VURNEL_LOAD_Y1
#define VURNEL_LOAD_Y3                                                                             \
    "fldt %c[y3](%[h])\n\t"                                                                        \
    "fldt %c[y2](%[h])\n\t"                                                                        \
    "fldt %c[y1](%[h])\n\t"
#define VURNEL_LOAD_Y4 "fldt %c[y4](%[h])\n\t" VURNEL_LOAD_Y3
#define VURNEL_TAPS1(XC) VURNEL_REGISTER_TAP(XC, 2)
#define VURNEL_TAPS2(XC) VURNEL_REGISTER_TAP(XC, 3) VURNEL_TAPS1(XC)
#define VURNEL_TAPS3(XC)                                                                           \
    VURNEL_REGISTER_TAP(XC, 4) VURNEL_REGISTER_TAP(XC, 3) VURNEL_REGISTER_TAP(XC, 2)
#define VURNEL_TAPS4(XC) VURNEL_REGISTER_TAP(XC, 5) VURNEL_TAPS3(XC)
// The new output replaces the oldest, and the registers turn round to g, newest, …, oldest.
#define VURNEL_ROTATE1 "fstp %%st(2)\n\t"
#define VURNEL_ROTATE2                                                                             \
    "fstp %%st(3)\n\t"                                                                             \
    "fxch %%st(1)\n\t"                                                                             \
    "fxch %%st(2)\n\t"                                                                             \
    "fxch %%st(1)\n\t"
#define VURNEL_ROTATE3                                                                             \
    "fstp %%st(4)\n\t"                                                                             \
    "fxch %%st(1)\n\t"                                                                             \
    "fxch %%st(2)\n\t"                                                                             \
    "fxch %%st(3)\n\t"                                                                             \
    "fxch %%st(1)\n\t"
#define VURNEL_ROTATE4                                                                             \
    "fstp %%st(5)\n\t"                                                                             \
    "fxch %%st(1)\n\t"                                                                             \
    "fxch %%st(2)\n\t"                                                                             \
    "fxch %%st(3)\n\t"                                                                             \
    "fxch %%st(4)\n\t"                                                                             \
    "fxch %%st(1)\n\t"
#define VURNEL_POP_Y1 "fstp %%st(0)\n\t"
#define VURNEL_POP_Y2 "fstp %%st(0)\n\t" VURNEL_POP_Y1
#define VURNEL_POP_Y3                                                                              \
    "fstp %%st(0)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fstp %%st(0)\n\t"
#define VURNEL_POP_Y4 "fstp %%st(0)\n\t" VURNEL_POP_Y3
#define VURNEL_IIR_LOOP_FOR(LOAD, STORE, XC, R, NEXT)                                              \
    VURNEL_IIR_LOOP(LOAD, STORE, XC, R, VURNEL_LOAD_Y##R, VURNEL_TAPS##R(XC), VURNEL_ROTATE##R,    \
                    VURNEL_POP_Y##R, NEXT)
// The next sample, or the end of the chunk.
#define VURNEL_NEXT_USUAL                                                                          \
    "dec %[n]\n\t"                                                                                 \
    "jnz 1b\n\t"
// The same, but leaving early after a sample whose output is neither a zero nor of exponent field
// at least %[lim] + 1 (it has just been stored at %c[yExp] − 8 from the advanced %[h]).
#define VURNEL_NEXT_CHECKED                                                                        \
    "dec %[n]\n\t"                                                                                 \
    "jz 3f\n\t"                                                                                    \
    "movzwl %c[yExp](%[h]), %k[e]\n\t"                                                             \
    "and $0x7fff, %k[e]\n\t"                                                                       \
    "dec %k[e]\n\t"                                                                                \
    "cmp %k[lim], %k[e]\n\t"                                                                       \
    "jae 1b\n\t"                                                                                   \
    "3:\n\t"
// The same, with the output narrowed to the buffer (at -%[ostep] from the advanced %[out]) first,
// by its exponent field e: e >= NORMAL (a normal value of the buffer's type, or larger) by the x87
// store of the output (st1), e < FAR (far below the buffer's range, or a zero) as the zero of its
// sign, by integer stores; in between as the x87's store would round it, by integer means: |y|
// scaled by SCALE into units of the buffer's smallest subnormal (exact), rounded by FIST, with
// y's sign (a result of 2^23 or 2^52 units is the smallest normal value, the same bits).
#define VURNEL_NEXT_NARROWED(NORMAL, FAR, STORE, SCALE, FIST, SHIFT, S)                            \
    "movzwl %c[yExp](%[h]), %k[e]\n\t"                                                             \
    "mov %k[e], %k[s]\n\t"                                                                         \
    "and $0x8000, %k[s]\n\t"                                                                       \
    "shl $" SHIFT ", %" S "[s]\n\t"                                                                \
    "and $0x7fff, %k[e]\n\t"                                                                       \
    "cmp $" NORMAL ", %k[e]\n\t"                                                                   \
    "jb 4f\n\t"                                                                                    \
    "fld %%st(1)\n\t" STORE "jmp 5f\n\t"                                                           \
    "4:\n\t"                                                                                       \
    "cmp $" FAR ", %k[e]\n\t"                                                                      \
    "jb 6f\n\t"                                                                                    \
    "fld %%st(1)\n\t"                                                                              \
    "fabs\n\t" SCALE FIST "or %" S "[s], -%c[ostep](%[out])\n\t"                                   \
    "jmp 5f\n\t"                                                                                   \
    "6:\n\t"                                                                                       \
    "mov %" S "[s], -%c[ostep](%[out])\n\t"                                                        \
    "5:\n\t"                                                                                       \
    "dec %[n]\n\t"                                                                                 \
    "jz 3f\n\t"                                                                                    \
    "dec %k[e]\n\t"                                                                                \
    "cmp %k[lim], %k[e]\n\t"                                                                       \
    "jae 1b\n\t"                                                                                   \
    "3:\n\t"
#define VURNEL_NEXT_NARROWED_FLOAT                                                                 \
    VURNEL_NEXT_NARROWED("16257", "16183", "fstps -%c[ostep](%[out])\n\t", "fmull %[scale]\n\t",   \
                         "fistpl -%c[ostep](%[out])\n\t", "16", "k")
#define VURNEL_NEXT_NARROWED_DOUBLE                                                                \
    VURNEL_NEXT_NARROWED("15361", "15283", "fstpl -%c[ostep](%[out])\n\t",                         \
                         "fmull %[scale]\n\tfmull %[scale]\n\t", "fistpll -%c[ostep](%[out])\n\t", \
                         "48", "q")
#define VURNEL_XC_EXTENDED                                                                         \
    "fldt vurnel_k*32(%[c])\n\t"                                                                   \
    "fmulp %%st, %%st(1)\n\t"
#define VURNEL_XC_DOUBLE "fmull vurnel_k*32(%[c])\n\t"
#define VURNEL_IIR_INPUTS                                                                          \
    [c] "r"(coefficients), [g] "m"(g), [taps] "i"(N), [y1] "i"(16 + 32 * N),                       \
        [y2] "i"(16 + 32 * (N - 1)), [y3] "i"(16 + 32 * (N - 2)), [y4] "i"(16 + 32 * (N - 3)),     \
        [newT] "i"(32 * (N + 1)), [newY] "i"(16 + 32 * (N + 1)),                                   \
        [step] "i"(static_cast<int>(sizeof(T))), [ostep] "i"(static_cast<int>(sizeof(O)))
#define VURNEL_IIR_CLOBBERS                                                                        \
    "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)"
#define VURNEL_IIR_OPERANDS                                                                        \
    [h] "+r"(h), [in] "+r"(in), [out] "+r"(out),                                                   \
        [n] "+r"(n) : VURNEL_IIR_INPUTS : VURNEL_IIR_CLOBBERS
#define VURNEL_IIR_NARROWED_OPERANDS                                                               \
    [h] "+r"(h), [in] "+r"(in), [out] "+r"(out), [n] "+r"(n), [e] "=&r"(scratch),                  \
        [s] "=&r"(sign)                                                                            \
        : VURNEL_IIR_INPUTS, [lim] "r"(limit), [yExp] "i"(32 * N + 24), [scale] "m"(scale)         \
        : VURNEL_IIR_CLOBBERS
#define VURNEL_IIR_CHECKED_OPERANDS                                                                \
    [h] "+r"(h), [in] "+r"(in), [out] "+r"(out), [n] "+r"(n),                                      \
        [e] "=&r"(scratch)                                                                         \
        : VURNEL_IIR_INPUTS, [lim] "r"(limit), [yExp] "i"(32 * N + 24) : VURNEL_IIR_CLOBBERS

// A tap's feed-forward coefficient (extended, or a double with 8 bytes of padding) and its
// feedback coefficient.
template <typename C> struct Tap {
    C x;
    alignas(16) long double y;
};
static_assert(sizeof(Tap<long double>) == 32 && sizeof(Tap<double>) == 32, "32-byte taps");

// One chunk: n samples, the history pairs from h on, the outputs as O. Checked: no outputs but
// the history's, and it leaves early (see VURNEL_NEXT_CHECKED) with n the samples not run;
// Narrowed: the same, with the outputs narrowed to O, float or double (VURNEL_NEXT_NARROWED).
template <int N, int R, bool Doubles, bool Checked, bool Narrowed, typename T, typename O,
          typename Taps>
void RunLoop(long double (*h)[2], const T* in, O* out, long& n, const Taps* coefficients,
             long double g, unsigned limit) {
    [[maybe_unused]] unsigned scratch = 0;
    [[maybe_unused]] std::uint64_t sign = 0;
    [[maybe_unused]] const double scale = sizeof(O) == 4 ? 0x1p149 : 0x1p537;
#define VURNEL_IIR_ASM(LOAD, STORE, XC, RR)                                                        \
    if constexpr (Narrowed && sizeof(O) == 4)                                                      \
        __asm__ volatile(VURNEL_IIR_LOOP_FOR(LOAD, "", XC, RR, VURNEL_NEXT_NARROWED_FLOAT)         \
                         : VURNEL_IIR_NARROWED_OPERANDS);                                          \
    else if constexpr (Narrowed)                                                                   \
        __asm__ volatile(VURNEL_IIR_LOOP_FOR(LOAD, "", XC, RR, VURNEL_NEXT_NARROWED_DOUBLE)        \
                         : VURNEL_IIR_NARROWED_OPERANDS);                                          \
    else if constexpr (Checked)                                                                    \
        __asm__ volatile(VURNEL_IIR_LOOP_FOR(LOAD, "", XC, RR, VURNEL_NEXT_CHECKED)                \
                         : VURNEL_IIR_CHECKED_OPERANDS);                                           \
    else                                                                                           \
        __asm__ volatile(VURNEL_IIR_LOOP_FOR(LOAD, STORE, XC, RR, VURNEL_NEXT_USUAL)               \
                         : VURNEL_IIR_OPERANDS);
#define VURNEL_IIR_FOR_TYPES(XC, RR)                                                               \
    if constexpr (sizeof(T) == 4) {                                                                \
        if constexpr (sizeof(O) == 4) {                                                            \
            VURNEL_IIR_ASM("flds (%[in])\n\t", "fsts (%[out])\n\t", XC, RR)                        \
        } else {                                                                                   \
            VURNEL_IIR_ASM("flds (%[in])\n\t", "fld %%st(0)\n\tfstpt (%[out])\n\t", XC, RR)        \
        }                                                                                          \
    } else if constexpr (sizeof(T) == 8) {                                                         \
        if constexpr (sizeof(O) == 8) {                                                            \
            VURNEL_IIR_ASM("fldl (%[in])\n\t", "fstl (%[out])\n\t", XC, RR)                        \
        } else {                                                                                   \
            VURNEL_IIR_ASM("fldl (%[in])\n\t", "fld %%st(0)\n\tfstpt (%[out])\n\t", XC, RR)        \
        }                                                                                          \
    } else {                                                                                       \
        VURNEL_IIR_ASM("fldt (%[in])\n\t", "fld %%st(0)\n\tfstpt (%[out])\n\t", XC, RR)            \
    }
    if constexpr (R == 1) {
        if constexpr (Doubles) {
            VURNEL_IIR_FOR_TYPES(VURNEL_XC_DOUBLE, 1)
        } else {
            VURNEL_IIR_FOR_TYPES(VURNEL_XC_EXTENDED, 1)
        }
    } else if constexpr (R == 2) {
        if constexpr (Doubles) {
            VURNEL_IIR_FOR_TYPES(VURNEL_XC_DOUBLE, 2)
        } else {
            VURNEL_IIR_FOR_TYPES(VURNEL_XC_EXTENDED, 2)
        }
    } else if constexpr (R == 3) {
        if constexpr (Doubles) {
            VURNEL_IIR_FOR_TYPES(VURNEL_XC_DOUBLE, 3)
        } else {
            VURNEL_IIR_FOR_TYPES(VURNEL_XC_EXTENDED, 3)
        }
    } else {
        if constexpr (Doubles) {
            VURNEL_IIR_FOR_TYPES(VURNEL_XC_DOUBLE, 4)
        } else {
            VURNEL_IIR_FOR_TYPES(VURNEL_XC_EXTENDED, 4)
        }
    }
#undef VURNEL_IIR_FOR_TYPES
#undef VURNEL_IIR_ASM
}

// The block (Checked: outputs as long double, leaving early as RunLoop does; Narrowed: narrowed to
// O, leaving early the same way); returns the samples run.
template <int N, typename C, bool Checked, typename T, typename O, bool Narrowed = false>
int FastLoop(long double g, const long double* xCoeffs, const long double* yCoeffs, long double* xv,
             long double* yv, const T* input, O* output, int count, unsigned limit) {
    Tap<C> coefficients[N];
    long double history[kChunk + N + 1][2];
    for (int i = 0; i < N; ++i)
        coefficients[i].x = static_cast<C>(xCoeffs[i]), coefficients[i].y = yCoeffs[i];
    for (int i = 0; i <= N; ++i)
        history[i][0] = xv[i], history[i][1] = yv[i];
    int done = 0;
    while (done < count) {
        const int chunk = count - done < kChunk ? count - done : kChunk;
        long n = chunk;
        constexpr bool doubles = sizeof(C) == sizeof(double);
        RunLoop < N, N<4 ? N : 4, doubles, Checked, Narrowed, T>(
                         history, input + done, output + done, n, coefficients, g, limit);
        const int ran = chunk - static_cast<int>(n);
        if constexpr (Checked &&
                      !Narrowed) // the outputs, from the history (the loop stores them only there)
            for (int i = 0; i < ran; ++i)
                std::memcpy(&output[done + i], &history[N + 1 + i][1], sizeof(long double));
        done += ran;
        for (int i = 0; i <= N; ++i)
            history[i][0] = history[ran + i][0], history[i][1] = history[ran + i][1];
        if (n != 0) break;
    }
    for (int i = 0; i <= N; ++i)
        xv[i] = history[i][0], yv[i] = history[i][1];
    return done;
}

// One and two taps: everything in registers, no copy on the chain
// ----------------------------------------------------------------
// With one or two taps every history value and coefficient fits in the x87 registers, and the
// loop is bound by the chain from one output to the next: the product of the newest output and
// its feedback coefficient, and the addition that makes the next output. g++'s loop copies the
// output out of its register and back (`fld`, `fstp %st(i)`), about 0.6 ns a copy on an AMD
// EPYC, so these loops are written by hand: each value that is used for the last time is
// multiplied where it stands, a value still needed later is multiplied from a copy of its
// coefficient, and the registers turn round by exchanges (renamings) only. The order of the
// operations is the recursion's: t = x·g, then (acc + h·c) + y·d for each tap, oldest first
// (IEEE products and sums do not depend on the order of their two operands). The last sample of
// a block runs PlainBlock, so that the histories end as the per-sample routine leaves them.
//
// One tap, registers between samples: g, c, d, t(n−1), y(n−1).
#define VURNEL_ONE_TAP_LOOP(LOAD, STORE)                                                           \
    "fldt %[y]\n\t"                                                                                \
    "fldt %[t]\n\t"                                                                                \
    "fldt %[d]\n\t"                                                                                \
    "fldt %[c]\n\t"                                                                                \
    "fldt %[g]\n\t"                                                                                \
    ".p2align 6\n\t1:\n\t" LOAD "fmul %%st(1), %%st\n\t"                                           \
    "fxch %%st(4)\n\t"                                                                             \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fadd %%st(4), %%st\n\t"                                                                       \
    "fld %%st(3)\n\t"                                                                              \
    "fmul %%st(6), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t" STORE "fxch %%st(5)\n\t"                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "add %[step], %[in]\n\t"                                                                       \
    "add %[step], %[out]\n\t"                                                                      \
    "dec %[n]\n\t"                                                                                 \
    "jnz 1b\n\t"                                                                                   \
    "fstp %%st(0)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fstpt %[t]\n\t"                                                                               \
    "fstpt %[y]\n\t"
// Two taps, registers between samples: t(n−2), d0, d1, g, t(n−1), y(n−2), y(n−1); c0 and c1
// pushed from memory (PUSHC: fldl of a double, fldt of an extended value) and multiplied by t.
#define VURNEL_TWO_TAP_LOOP(LOAD, STORE, PUSHC)                                                    \
    "fldt %[yb]\n\t"                                                                               \
    "fldt %[ya]\n\t"                                                                               \
    "fldt %[tb]\n\t"                                                                               \
    "fldt %[g]\n\t"                                                                                \
    "fldt %[d1]\n\t"                                                                               \
    "fldt %[d0]\n\t"                                                                               \
    "fldt %[ta]\n\t"                                                                               \
    ".p2align 6\n\t1:\n\t" PUSHC " (%[c])\n\t"                                                     \
    "fmulp %%st, %%st(1)\n\t" LOAD "fmul %%st(4), %%st\n\t"                                        \
    "fadd %%st, %%st(1)\n\t"                                                                       \
    "fxch %%st(6)\n\t"                                                                             \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t" PUSHC " %c[c1](%[c])\n\t"                                            \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fld %%st(2)\n\t"                                                                              \
    "fmul %%st(7), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t" STORE "fxch %%st(6)\n\t"                                             \
    "fxch %%st(5)\n\t"                                                                             \
    "fxch %%st(4)\n\t"                                                                             \
    "add %[step], %[in]\n\t"                                                                       \
    "add %[step], %[out]\n\t"                                                                      \
    "dec %[n]\n\t"                                                                                 \
    "jnz 1b\n\t"                                                                                   \
    "fstpt %[ta]\n\t"                                                                              \
    "fstp %%st(0)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fstpt %[tb]\n\t"                                                                              \
    "fstpt %[ya]\n\t"                                                                              \
    "fstpt %[yb]\n\t"

// N = 1 or 2 taps over count ≥ 1 samples (see above).
template <int N, typename C, typename T>
void SmallBlock(long double g, const long double* xCoeffs, const long double* yCoeffs,
                long double* xv, long double* yv, const T* input, T* output, int count) {
    static_assert(N == 1 || N == 2, "one or two taps");
    if (count > 1) {
        const T* in = input;
        T* out = output;
        long n = count - 1;
#define VURNEL_TWO_TAP_OPERANDS                                                                    \
    [in] "+r"(in), [out] "+r"(out), [n] "+r"(n), [ta] "+m"(xv[1]), [tb] "+m"(xv[2]),               \
        [ya] "+m"(yv[1]),                                                                          \
        [yb] "+m"(yv[2])                                                                           \
        : [g] "m"(g), [c] "r"(cs), [c1] "i"(static_cast<int>(sizeof(C))), [d0] "m"(d0),            \
          [d1] "m"(d1), [step] "i"(static_cast<int>(sizeof(T))) : VURNEL_IIR_CLOBBERS
#define VURNEL_SMALL_ASM(LOAD, STORE)                                                              \
    if constexpr (N == 1) {                                                                        \
        const long double c = xCoeffs[0], d = yCoeffs[0];                                          \
        __asm__ volatile(                                                                          \
            VURNEL_ONE_TAP_LOOP(LOAD, STORE)                                                       \
            : [in] "+r"(in), [out] "+r"(out), [n] "+r"(n), [t] "+m"(xv[1]), [y] "+m"(yv[1])        \
            : [g] "m"(g), [c] "m"(c), [d] "m"(d), [step] "i"(static_cast<int>(sizeof(T)))          \
            : VURNEL_IIR_CLOBBERS);                                                                \
    } else {                                                                                       \
        const C cs[2] = {static_cast<C>(xCoeffs[0]), static_cast<C>(xCoeffs[1])};                  \
        const long double d0 = yCoeffs[0], d1 = yCoeffs[1];                                        \
        if constexpr (sizeof(C) == sizeof(double))                                                 \
            __asm__ volatile(VURNEL_TWO_TAP_LOOP(LOAD, STORE, "fldl") : VURNEL_TWO_TAP_OPERANDS);  \
        else                                                                                       \
            __asm__ volatile(VURNEL_TWO_TAP_LOOP(LOAD, STORE, "fldt") : VURNEL_TWO_TAP_OPERANDS);  \
    }
        if constexpr (sizeof(T) == 4) {
            VURNEL_SMALL_ASM("flds (%[in])\n\t", "fsts (%[out])\n\t")
        } else if constexpr (sizeof(T) == 8) {
            VURNEL_SMALL_ASM("fldl (%[in])\n\t", "fstl (%[out])\n\t")
        } else {
            VURNEL_SMALL_ASM("fldt (%[in])\n\t", "fld %%st(0)\n\tfstpt (%[out])\n\t")
        }
#undef VURNEL_SMALL_ASM
#undef VURNEL_TWO_TAP_OPERANDS
    }
    PlainBlock<N, T>(g, xCoeffs, yCoeffs, xv, yv, input + count - 1, output + count - 1, 1);
}

#undef VURNEL_TWO_TAP_LOOP
#undef VURNEL_ONE_TAP_LOOP

// The usual block on float and double buffers from three taps up: the feed-forward terms formed
// again from the input instead of loaded
// ----------------------------------------------------------------------------------------------
// On the AMD cores measured (Zen 5 class) an 80-bit load or store does not take an x87 issue slot
// but has a throughput of its own, about one every 1.1–1.4 ns, four or five arithmetic slots: the
// loop above, which moves three extended values through memory per tap, is bound by them at two
// to three times the arithmetic's time. Each history value of the feed-forward side is x·g, the
// input (a float or double, a free memory operand) times the gain factor, which stays in st0; so
// tap k's product (x·g)·c is formed again from the input where it is needed, one multiply (one
// slot) instead of an 80-bit load, and the products of the per-sample routine come out with the
// same bits (x·g rounds once, as it did when it was stored; IEEE products do not depend on the
// order of their operands). Some feedback coefficients d enter as the exact sum of two doubles
// (hi + lo, free memory operands, one addition) instead of an 80-bit load: the masks below
// balance the two resources per tap count; feed-forward coefficients that are not doubles enter
// the same way. What still moves through memory: the other feedback coefficients, the outputs older
// than the R in registers and, where there are such, one 80-bit store of each output (otherwise
// the outputs are stored from the registers at the end of a run). The first N samples of a block
// still need the stored products of the block before, so they run the loop above.
//
// Registers between samples: st0 g, then the last R outputs, newest first. %[x] points at the
// sample's input in a copy of the block's inputs (the buffer may be the output too) with the N
// before it, %[y] at its entry in the output history (16 bytes an entry, the N before it filled).
// Taps are 64 bytes: the feed-forward value c as a double (or c's hi) at 0, d's hi and lo at 8 and
// 16, c's lo at 24 (zero where c is a double), c as extended at 32, d at 48.
#define VURNEL_RC_XC_DOUBLE "fmull vurnel_k*64(%[c])\n\t"
// A feed-forward coefficient that is not a double: hi + lo (at 0 and 24), like d.
#define VURNEL_RC_XC_EXTENDED                                                                      \
    "fldl vurnel_k*64(%[c])\n\t"                                                                   \
    "faddl 24+vurnel_k*64(%[c])\n\t"                                                               \
    "fmulp %%st, %%st(1)\n\t"
// d pushed: from hi + lo where the mask has tap vurnel_k's bit, else by an 80-bit load.
#define VURNEL_RC_D                                                                                \
    ".if (%c[mask] >> vurnel_k) & 1\n\t"                                                           \
    "fldl 8+vurnel_k*64(%[c])\n\t"                                                                 \
    "faddl 16+vurnel_k*64(%[c])\n\t"                                                               \
    ".else\n\t"                                                                                    \
    "fldt 48+vurnel_k*64(%[c])\n\t"                                                                \
    ".endif\n\t"
// acc += (x·g)·c for tap vurnel_k (g in st1 under the sum).
#define VURNEL_RC_H(LOADX, XC) LOADX "fmul %%st(2), %%st\n\t" XC "faddp %%st, %%st(1)\n\t"
// A tap whose output is in register st(P) once d is pushed (P = 2 + its age).
#define VURNEL_RC_REGISTER_TAP(LOADX, XC, P)                                                       \
    VURNEL_RC_H(LOADX, XC)                                                                         \
    VURNEL_RC_D "fmul %%st(" #P "), %%st\n\t"                                                      \
                "faddp %%st, %%st(1)\n\t"                                                          \
                ".set vurnel_k, vurnel_k+1\n\t"
#define VURNEL_RC_TAPS3(LX, XC)                                                                    \
    VURNEL_RC_REGISTER_TAP(LX, XC, 5)                                                              \
    VURNEL_RC_REGISTER_TAP(LX, XC, 4) VURNEL_RC_REGISTER_TAP(LX, XC, 3)
#define VURNEL_RC_TAPS4(LX, XC) VURNEL_RC_REGISTER_TAP(LX, XC, 6) VURNEL_RC_TAPS3(LX, XC)
#define VURNEL_RC_TAPS5(LX, XC) VURNEL_RC_REGISTER_TAP(LX, XC, 7) VURNEL_RC_TAPS4(LX, XC)
#define VURNEL_ROTATE5                                                                             \
    "fstp %%st(6)\n\t"                                                                             \
    "fxch %%st(1)\n\t"                                                                             \
    "fxch %%st(2)\n\t"                                                                             \
    "fxch %%st(3)\n\t"                                                                             \
    "fxch %%st(4)\n\t"                                                                             \
    "fxch %%st(5)\n\t"                                                                             \
    "fxch %%st(1)\n\t"
#define VURNEL_POP_Y5 "fstp %%st(0)\n\t" VURNEL_POP_Y4
// The last R outputs pushed, oldest first.
#define VURNEL_RC_LOAD_Y3                                                                          \
    "fldt -48(%[y])\n\t"                                                                           \
    "fldt -32(%[y])\n\t"                                                                           \
    "fldt -16(%[y])\n\t"
#define VURNEL_RC_LOAD_Y4 "fldt -64(%[y])\n\t" VURNEL_RC_LOAD_Y3
#define VURNEL_RC_LOAD_Y5 "fldt -80(%[y])\n\t" VURNEL_RC_LOAD_Y4
// The rotation of VURNEL_ROTATE##R with no register copy on the recursion's chain: the sum is
// exchanged into the oldest output's register and that output dropped (`fstp %st(R+1)` copies
// the sum, which adds about 0.6 ns to every link of the chain on an AMD EPYC; an exchange is a
// renaming).
#define VURNEL_RC_XROTATE(R) "fxch %%st(" #R ")\n\tfstp %%st(0)\n\t"
#define VURNEL_RC_XROTATE3                                                                         \
    VURNEL_RC_XROTATE(4)                                                                           \
    "fxch %%st(1)\n\t"                                                                             \
    "fxch %%st(2)\n\t"                                                                             \
    "fxch %%st(3)\n\t"                                                                             \
    "fxch %%st(1)\n\t"
#define VURNEL_RC_XROTATE4                                                                         \
    VURNEL_RC_XROTATE(5)                                                                           \
    "fxch %%st(1)\n\t"                                                                             \
    "fxch %%st(2)\n\t"                                                                             \
    "fxch %%st(3)\n\t"                                                                             \
    "fxch %%st(4)\n\t"                                                                             \
    "fxch %%st(1)\n\t"
#define VURNEL_RC_XROTATE5                                                                         \
    VURNEL_RC_XROTATE(6)                                                                           \
    "fxch %%st(1)\n\t"                                                                             \
    "fxch %%st(2)\n\t"                                                                             \
    "fxch %%st(3)\n\t"                                                                             \
    "fxch %%st(4)\n\t"                                                                             \
    "fxch %%st(5)\n\t"                                                                             \
    "fxch %%st(1)\n\t"
// With no output history in memory (N ≤ R) the outputs are stored from the registers only at
// the end of the chunk; otherwise each once, as it is made.
#define VURNEL_RC_LOOP(LOADX, LOADT, STORE, XC, R)                                                 \
    VURNEL_RC_LOAD_Y##R                                                                            \
        "fldt %[g]\n\t"                                                                            \
        ".p2align 6\n\t1:\n\t" LOADT "fmul %%st(1), %%st\n\t.set vurnel_k, 0\n\t"                  \
        ".rept %c[taps] - " #R                                                                     \
        "\n\t" VURNEL_RC_H(LOADX, XC) "fldt vurnel_k*16-%c[taps]*16(%[y])\n\t" VURNEL_RC_D         \
                                      "fmulp %%st, %%st(1)\n\t"                                    \
                                      "faddp %%st, %%st(1)\n\t"                                    \
                                      ".set vurnel_k, vurnel_k+1\n\t"                              \
                                      ".endr\n\t" VURNEL_RC_TAPS##R(LOADX, XC) STORE               \
        ".if %c[taps] > " #R "\n\t"                                                                \
        "fld %%st(0)\n\t"                                                                          \
        "fstpt (%[y])\n\t"                                                                         \
        ".endif\n\t" VURNEL_RC_XROTATE##R "add %[step], %[x]\n\t"                                  \
                                          "add $16, %[y]\n\t"                                      \
                                          "add %[step], %[out]\n\t"                                \
                                          "dec %[n]\n\t"                                           \
                                          "jnz 1b\n\t"                                             \
                                          "fstp %%st(0)\n\t"                                       \
                                          ".if %c[taps] > " #R "\n\t" VURNEL_POP_Y##R              \
        ".else\n\t"                                                                                \
        ".set vurnel_k, 1\n\t"                                                                     \
        ".rept " #R "\n\t"                                                                         \
        "fstpt -16*vurnel_k(%[y])\n\t"                                                             \
        ".set vurnel_k, vurnel_k+1\n\t"                                                            \
        ".endr\n\t"                                                                                \
        ".endif\n\t"

using SplitTap = TdspIIRBlockTap; // c: the feed-forward value as a double, or its hi's
static_assert(sizeof(SplitTap) == 64, "64-byte taps");

// The feedback coefficients split into hi + lo per tap count, spread evenly: one up to four taps,
// two of five or six, three of seven or eight (measured best on an AMD EPYC: none gave 1.26–2.37
// times the limit, all 1.56–1.57 from four taps up).
constexpr unsigned SplitMask(int n) {
    const int p = n <= 4 ? 1 : n <= 6 ? 2 : 3;
    unsigned mask = 0;
    for (int k = 0; k < n; ++k)
        if ((k * p) / n != ((k + 1) * p) / n) mask |= 1u << k;
    return mask;
}

// The outputs kept in registers. Five leave room for one operand only: where there are no older
// outputs in memory and the feed-forward coefficients are doubles (memory operands).
constexpr int RegisterOutputs(int n, bool doubles) {
    return n == 5 && doubles ? 5 : n < 4 ? n : 4;
}

// One chunk of n ≥ 1 samples (see above).
template <int N, bool Doubles, typename T>
void RunRecompute(const T* x, long double* y, T* out, long n, const SplitTap* taps, long double g) {
    constexpr int R = RegisterOutputs(N, Doubles);
    static constexpr unsigned kMask = SplitMask(N);
#define VURNEL_RC_OPERANDS                                                                         \
    [x] "+r"(x), [y] "+r"(y), [out] "+r"(out),                                                     \
        [n] "+r"(n)                                                                                \
        : [c] "r"(taps), [g] "m"(g), [taps] "i"(N), [mask] "i"(kMask), [step] "i"(                 \
                                                                           static_cast<int>(       \
                                                                               sizeof(T)))         \
        : VURNEL_IIR_CLOBBERS
#define VURNEL_RC_FOR(LX, LT, ST)                                                                  \
    if constexpr (R == 3) {                                                                        \
        if constexpr (Doubles)                                                                     \
            __asm__ volatile(VURNEL_RC_LOOP(LX, LT, ST, VURNEL_RC_XC_DOUBLE, 3)                    \
                             : VURNEL_RC_OPERANDS);                                                \
        else                                                                                       \
            __asm__ volatile(VURNEL_RC_LOOP(LX, LT, ST, VURNEL_RC_XC_EXTENDED, 3)                  \
                             : VURNEL_RC_OPERANDS);                                                \
    } else if constexpr (R == 5) {                                                                 \
        __asm__ volatile(VURNEL_RC_LOOP(LX, LT, ST, VURNEL_RC_XC_DOUBLE, 5) : VURNEL_RC_OPERANDS); \
    } else {                                                                                       \
        if constexpr (Doubles)                                                                     \
            __asm__ volatile(VURNEL_RC_LOOP(LX, LT, ST, VURNEL_RC_XC_DOUBLE, 4)                    \
                             : VURNEL_RC_OPERANDS);                                                \
        else                                                                                       \
            __asm__ volatile(VURNEL_RC_LOOP(LX, LT, ST, VURNEL_RC_XC_EXTENDED, 4)                  \
                             : VURNEL_RC_OPERANDS);                                                \
    }
    if constexpr (sizeof(T) == 4) {
        VURNEL_RC_FOR("flds vurnel_k*4-%c[taps]*4(%[x])\n\t", "flds (%[x])\n\t",
                      "fsts (%[out])\n\t")
    } else {
        VURNEL_RC_FOR("fldl vurnel_k*8-%c[taps]*8(%[x])\n\t", "fldl (%[x])\n\t",
                      "fstl (%[out])\n\t")
    }
#undef VURNEL_RC_FOR
#undef VURNEL_RC_OPERANDS
}

// Two samples in flight: n and n + 1 share each coefficient and each x·g
// ----------------------------------------------------------------------
// The sum of sample n runs oldest tap first, so the feedback term in y(n−1) is its very last;
// everything sample n + 1 adds before its own last term is known before y(n) is. So the loop
// runs a pair of samples through the taps together, each on its own sum (A for n, B for n + 1,
// every sum in its own order): tap k's coefficients are brought in once for both, and the
// products of tap k for n + 1 are those of tap k + 1 for n, x(n−N+k+1)·g and y(n−N+k+1), which
// are carried in registers from one tap to the next (formed or loaded once for two uses). Only
// B's last term waits for y(n), taken from A's register. A tap costs about 4.5 slots a sample
// against the arithmetic's 4, and half an 80-bit load (y) besides the coefficients d that do not
// split; the single-sample loop above needs 5 slots and one or two loads a tap.
//
// Registers between pairs: st0 g. Within a tap, [Xc, Yc, B, A, g] on entry: Xc = x(n−N+k)·g and
// Yc = y(n−N+k), the operands tap k gives to A (B's are the next tap's). %[x], %[y] and %[out]
// as in RunRecompute, at sample n; %[n] counts pairs.
// A += Xc·c; Xn = x(n−N+k+1)·g; B += Xn·c, leaving [Xn, Yc, B, A, g] (LAST: [Yc, B, A, g]).
#define VURNEL_RP_XNEW(LD) LD " (vurnel_k+1-%c[taps])*%c[step](%[x])\n\t"
#define VURNEL_RP_H_DOUBLE(LD, LAST)                                                               \
    "fmull vurnel_k*64(%[c])\n\t"                                                                  \
    "faddp %%st, %%st(3)\n\t" VURNEL_RP_XNEW(LD) "fmul %%st(4), %%st\n\t"                          \
                                                 ".if " #LAST "\n\t"                               \
                                                 "fmull vurnel_k*64(%[c])\n\t"                     \
                                                 "faddp %%st, %%st(2)\n\t"                         \
                                                 ".else\n\t"                                       \
                                                 "fld %%st(0)\n\t"                                 \
                                                 "fmull vurnel_k*64(%[c])\n\t"                     \
                                                 "faddp %%st, %%st(3)\n\t"                         \
                                                 ".endif\n\t"
// The same with c = hi + lo pushed once for both.
#define VURNEL_RP_H_EXTENDED(LD, LAST)                                                             \
    "fldl vurnel_k*64(%[c])\n\t"                                                                   \
    "faddl 24+vurnel_k*64(%[c])\n\t"                                                               \
    "fmul %%st, %%st(1)\n\t"                                                                       \
    "fxch %%st(1)\n\t"                                                                             \
    "faddp %%st, %%st(4)\n\t" VURNEL_RP_XNEW(LD) "fmul %%st(5), %%st\n\t"                          \
                                                 ".if " #LAST "\n\t"                               \
                                                 "fmulp %%st, %%st(1)\n\t"                         \
                                                 "faddp %%st, %%st(2)\n\t"                         \
                                                 ".else\n\t"                                       \
                                                 "fxch %%st(1)\n\t"                                \
                                                 "fmul %%st(1), %%st\n\t"                          \
                                                 "faddp %%st, %%st(3)\n\t"                         \
                                                 ".endif\n\t"
// d pushed once: A += Yc·d; Yn = y(n−N+k+1); B += Yn·d, leaving [Xn, Yn, B, A, g].
#define VURNEL_RP_D                                                                                \
    VURNEL_RC_D "fmul %%st, %%st(2)\n\t"                                                           \
                "fxch %%st(2)\n\t"                                                                 \
                "faddp %%st, %%st(4)\n\t"                                                          \
                "fldt (vurnel_k+1-%c[taps])*16(%[y])\n\t"                                          \
                "fxch %%st(2)\n\t"                                                                 \
                "fmul %%st(2), %%st\n\t"                                                           \
                "faddp %%st, %%st(3)\n\t"
// The last tap's: A += Yc·d makes y(n), and B += y(n)·d makes y(n + 1), leaving [B, A, g].
#define VURNEL_RP_D_LAST                                                                           \
    VURNEL_RC_D "fmul %%st, %%st(1)\n\t"                                                           \
                "fxch %%st(1)\n\t"                                                                 \
                "faddp %%st, %%st(3)\n\t"                                                          \
                "fmul %%st(2), %%st\n\t"                                                           \
                "faddp %%st, %%st(1)\n\t"
// Tap k's H, but where %[one] says the oldest tap's feed-forward coefficient is 1, tap 0's
// products are Xc and Xn themselves: A += Xc; Xn = x(n−N+1)·g; B += Xn (Xn kept, B at st2).
#define VURNEL_RP_H_FIRST(H, LD)                                                                   \
    ".if %c[one] == 1 && vurnel_k == 0\n\t"                                                        \
    "faddp %%st, %%st(3)\n\t" VURNEL_RP_XNEW(LD) "fmul %%st(4), %%st\n\t"                          \
                                                 "fadd %%st, %%st(2)\n\t"                          \
                                                 ".else\n\t" H(LD, 0) ".endif\n\t"
#define VURNEL_RP_LOOP(LD, ST, H)                                                                  \
    "fldt %[g]\n\t"                                                                                \
    ".p2align 6\n\t1:\n\t" LD " (%[x])\n\t"                                                        \
    "fmul %%st(1), %%st\n\t" LD " %c[step](%[x])\n\t"                                              \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fldt -%c[taps]*16(%[y])\n\t" LD " -%c[taps]*%c[step](%[x])\n\t"                               \
    "fmul %%st(4), %%st\n\t"                                                                       \
    ".set vurnel_k, 0\n\t"                                                                         \
    ".rept %c[taps] - 1\n\t" VURNEL_RP_H_FIRST(H, LD) VURNEL_RP_D                                  \
        ".set vurnel_k, vurnel_k+1\n\t"                                                            \
        ".endr\n\t" H(LD, 1) VURNEL_RP_D_LAST ST " %c[step](%[out])\n\t"                           \
                                                 "fstpt 16(%[y])\n\t" ST " (%[out])\n\t"           \
                                                 "fstpt (%[y])\n\t"                                \
                                                 "add $2*%c[step], %[x]\n\t"                       \
                                                 "add $32, %[y]\n\t"                               \
                                                 "add $2*%c[step], %[out]\n\t"                     \
                                                 "dec %[n]\n\t"                                    \
                                                 "jnz 1b\n\t"                                      \
                                                 "fstp %%st(0)\n\t"

// `pairs` ≥ 1 pairs of samples (see above), every output stored to the history. ONE: the oldest
// tap's feed-forward coefficient is 1.
template <int N, bool Doubles, bool One, typename T>
void RunPairsLoop(const T* x, long double* y, T* out, long pairs, const SplitTap* taps,
                  long double g) {
    static constexpr unsigned kMask = SplitMask(N);
#define VURNEL_RP_ASM(LD, ST)                                                                      \
    if constexpr (Doubles)                                                                         \
        __asm__ volatile(VURNEL_RP_LOOP(LD, ST, VURNEL_RP_H_DOUBLE)                                \
                         : [x] "+r"(x), [y] "+r"(y), [out] "+r"(out), [n] "+r"(pairs)              \
                         : [c] "r"(taps), [g] "m"(g), [taps] "i"(N), [mask] "i"(kMask),            \
                           [one] "i"(One ? 1 : 0), [step] "i"(static_cast<int>(sizeof(T)))         \
                         : VURNEL_IIR_CLOBBERS);                                                   \
    else                                                                                           \
        __asm__ volatile(VURNEL_RP_LOOP(LD, ST, VURNEL_RP_H_EXTENDED)                              \
                         : [x] "+r"(x), [y] "+r"(y), [out] "+r"(out), [n] "+r"(pairs)              \
                         : [c] "r"(taps), [g] "m"(g), [taps] "i"(N), [mask] "i"(kMask),            \
                           [one] "i"(One ? 1 : 0), [step] "i"(static_cast<int>(sizeof(T)))         \
                         : VURNEL_IIR_CLOBBERS);
    if constexpr (sizeof(T) == 4) {
        VURNEL_RP_ASM("flds", "fsts")
    } else {
        VURNEL_RP_ASM("fldl", "fstl")
    }
#undef VURNEL_RP_ASM
}

template <int N, bool Doubles, typename T>
void RunPairs(const T* x, long double* y, T* out, long pairs, const SplitTap* taps, long double g) {
    if (taps[0].c == 1.0 && taps[0].cLo == 0.0)
        RunPairsLoop<N, Doubles, true, T>(x, y, out, pairs, taps, g);
    else
        RunPairsLoop<N, Doubles, false, T>(x, y, out, pairs, taps, g);
}

#undef VURNEL_RP_LOOP
#undef VURNEL_RP_H_FIRST
#undef VURNEL_RP_D_LAST
#undef VURNEL_RP_D
#undef VURNEL_RP_H_EXTENDED
#undef VURNEL_RP_H_DOUBLE
#undef VURNEL_RP_XNEW

inline std::uint16_t ControlWord() {
    std::uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

// Whether the taps' coefficients split exactly into two normal doubles (or zeros) and the x87
// rounds to 64-bit significands (hi + lo is then exact, whatever the rounding direction).
bool SplitTaps(int n, const long double* xCoeffs, const long double* yCoeffs, SplitTap* taps);
template <int N>
bool Split(const long double* xCoeffs, const long double* yCoeffs, SplitTap* taps) {
    return (ControlWord() & 0x0300u) == 0x0300u && SplitTaps(N, xCoeffs, yCoeffs, taps);
}
// Split's work for n taps, whatever the rounding precision.
bool SplitTaps(int n, const long double* xCoeffs, const long double* yCoeffs, SplitTap* taps) {
    const auto normal = [](double v) {
        return v == 0.0 || (std::fabs(v) >= 0x1p-1022 && std::fabs(v) <= 0x1p1020);
    };
    for (int k = 0; k < n; ++k) {
        const double hi = static_cast<double>(yCoeffs[k]);
        const long double rest = yCoeffs[k] - static_cast<long double>(hi);
        const double lo = static_cast<double>(rest);
        if (!normal(hi) || !normal(lo) || static_cast<long double>(lo) != rest) return false;
        const double cHi = static_cast<double>(xCoeffs[k]);
        const long double cRest = xCoeffs[k] - static_cast<long double>(cHi);
        const double cLo = static_cast<double>(cRest);
        if (!normal(cHi) || !normal(cLo) || static_cast<long double>(cLo) != cRest) return false;
        taps[k] = {cHi, hi, lo, cLo, xCoeffs[k], yCoeffs[k]};
    }
    return true;
}

// Three and four taps with every output in registers: products first, sums in order
// ------------------------------------------------------------------------------------------
// The x87 units of the AMD cores measured do about one multiply or addition a cycle, so at three
// and four taps the loop above is bound by its operation count: it forms every x·g again (one
// multiply each). Only the sums have an order that defines the bits; a product can be formed
// whenever its operands are there. So these loops keep the newest one (four taps) or two (three
// taps) x·g in registers besides g and the outputs, form the oldest tap's products first, where
// they stand (its x·g and its output are not needed again: each is multiplied in its own
// register, no copy), and only then push the new sample: the registers then have room for it and
// for the sum. The chain from one output to the next is the last product and its addition, with
// no register copy. Four taps need the feed-forward coefficients as doubles (memory operands: no
// room to push one); three take either form. Registers between samples: g, then t(n−1) and
// t(n−2) (three taps) or t(n−1) (four taps), then the outputs y(n−N) … y(n−1) in an order that
// turns with the sample (below). %[x], %[y] and %[out] as in RunRecompute. Measured on an AMD
// EPYC (float blocks of 512, with RecoverInputs): three taps 1.42 to 1.23 times the limit, four
// 1.40 to 1.30–1.33 (the feed-forward products and the split coefficient still take 21 slots a
// sample against the limit's 17; splitting one d more, or one fewer, was slower); with the exits
// from any sample, the block cache and c₀ = 1 not multiplied (20 slots), 1.12–1.13 and 1.22–1.24.
#define VURNEL_RT_LD(LD, OFF) LD " " #OFF "*%c[step](%[x])\n\t"
#define VURNEL_RT_XC_DOUBLE(K) "fmull " #K "*64(%[c])\n\t"
#define VURNEL_RT_XC_EXTENDED(K)                                                                   \
    "fldl " #K "*64(%[c])\n\t"                                                                     \
    "faddl 24+" #K "*64(%[c])\n\t"                                                                 \
    "fmulp %%st, %%st(1)\n\t"
#define VURNEL_RT_D(K) ".set vurnel_k, " #K "\n\t" VURNEL_RC_D
// The new sample's t = x·g, the sum t + p0 (p0 under it), then + q0 (at st(Q) once the sum is
// on top), leaving t, g, … with the sum where q0 was.
#define VURNEL_RT_NEW(LD, Q)                                                                       \
    LD " (%[x])\n\t"                                                                               \
       "fmul %%st(2), %%st\n\t"                                                                    \
       "fadd %%st, %%st(1)\n\t"                                                                    \
       "fxch %%st(1)\n\t"                                                                          \
       "faddp %%st, %%st(" #Q ")\n\t"
// Advances to the next sample.
#define VURNEL_RT_NEXT                                                                             \
    "add %[step], %[x]\n\t"                                                                        \
    "add $16, %[y]\n\t"                                                                            \
    "add %[step], %[out]\n\t"
// The outputs are not turned round: the new one takes the register of the oldest, which the
// sample consumed, and the loop runs as many samples as there are outputs in registers, each
// with its own register numbers (A, B, C, D: where the outputs y(n−N) … y(n−1) stand between
// samples; A1 = A + 1 and so on). The output is stored from a copy. Where the oldest tap's
// feed-forward coefficient is 1 (%[one]: the designs whose numerators are palindromic, lowpass
// among them), its product is x·g itself and is not formed.
#define VURNEL_RT_XC0(XC) ".if %c[one] == 0\n\t" XC(0) ".endif\n\t"
// Three taps, between samples: g, t(n−1), t(n−2) and the outputs.
#define VURNEL_RT3_SAMPLE(LD, STP, XC, A, A1, A2, B1, C1)                                          \
    VURNEL_RT_LD(LD, -3)                                                                           \
    "fmul %%st(1), %%st\n\t" VURNEL_RT_XC0(XC)                                                     \
        VURNEL_RT_D(0) "fmulp %%st, %%st(" #A2 ")\n\t" VURNEL_RT_NEW(                              \
            LD, A2) "fxch %%st(2)\n\t"                                                             \
                    "fxch %%st(3)\n\t" XC(1) "faddp %%st, %%st(" #A1 ")\n\t" VURNEL_RT_D(          \
                        1) "fmul %%st(" #B1 "), %%st\n\t"                                          \
                           "faddp %%st, %%st(" #A1 ")\n\t"                                         \
                           "fld %%st(2)\n\t" XC(2) "faddp %%st, %%st(" #A1 ")\n\t" VURNEL_RT_D(    \
                               2) "fmul %%st(" #C1 "), %%st\n\t"                                   \
                                  "faddp %%st, %%st(" #A1 ")\n\t"                                  \
                                  "fld %%st(" #A ")\n\t" STP " (%[out])\n\t" VURNEL_RT_NEXT
// Four taps, between samples: g, t(n−1) and the outputs.
#define VURNEL_RT4_SAMPLE(LD, STP, A, A1, A2, B2, C2, D1)                                          \
    VURNEL_RT_LD(LD, -4)                                                                           \
    "fmul %%st(1), %%st\n\t" VURNEL_RT_XC0(VURNEL_RT_XC_DOUBLE) VURNEL_RT_D(                       \
        0) "fmulp %%st, %%st(" #A2 ")\n\t" VURNEL_RT_NEW(LD, A2)                                   \
        VURNEL_RT_LD(LD, -3) "fmul %%st(2), %%st\n\t" VURNEL_RT_XC_DOUBLE(                         \
            1) "faddp %%st, %%st(" #A2                                                             \
               ")\n\t" VURNEL_RT_D(                                                                \
                   1) "fmul %%st(" #B2 "), %%st\n\t"                                               \
                      "faddp %%st, %%st(" #A2                                                      \
                      ")\n\t" VURNEL_RT_LD(LD, -2) "fmul %%st(2), %%st\n\t" VURNEL_RT_XC_DOUBLE(   \
                          2) "faddp %%st, %%st(" #A2                                               \
                             ")\n\t" VURNEL_RT_D(2) "fmul %%st(" #C2 "), %%st\n\t"                 \
                                                    "faddp %%st, %%st(" #A2 ")\n\t"                \
                                                    "fxch %%st(2)\n\t" VURNEL_RT_XC_DOUBLE(        \
                                                        3) "faddp %%st, %%st(" #A1                 \
                                                           ")\n\t" VURNEL_RT_D(                    \
                                                               3) "fmul %%st(" #D1 "), %%st\n\t"   \
                                                                  "faddp %%st, %%st(" #A1 ")\n\t"  \
                                                                  "fld %%st(" #A ")\n\t" STP       \
                                                                  " (%[out])\n\t" VURNEL_RT_NEXT
// The loop counts samples and may leave after any of them (no other loop runs the rest of a
// turn). After sample P: one left, the oldest output (the last sample consumes it) is stored to
// its history entry first, so that the history ends with N + 1 outputs, and the loop goes on at
// sample NP; none left, the exit below. %[n] ≥ 1.
#define VURNEL_RT_STEP(P)                                                                          \
    "dec %[n]\n\t"                                                                                 \
    "cmp $1, %[n]\n\t"                                                                             \
    "jbe .Lvurnel_rt_x" #P "_%=\n\t"
#define VURNEL_RT_LABEL(P) ".Lvurnel_rt_s" #P "_%=:\n\t"
// OLDEST: the oldest output's register before sample NP; POPS: g and the t in registers popped;
// then the outputs stored, register st0 first (the output of sample 0 of a turn), each to its own
// history entry (O0 … O3, offsets from %[y]).
#define VURNEL_RT_EXIT(P, NP, OLDEST, N, POPS, STORES)                                             \
    ".Lvurnel_rt_x" #P "_%=:\n\t"                                                                  \
    "jb .Lvurnel_rt_e" #P "_%=\n\t"                                                                \
    "fld %%st(" #OLDEST ")\n\t"                                                                    \
    "fstpt -16*" #N "(%[y])\n\t"                                                                   \
    "jmp .Lvurnel_rt_s" #NP "_%=\n\t"                                                              \
    ".Lvurnel_rt_e" #P "_%=:\n\t" POPS STORES "jmp .Lvurnel_rt_end_%=\n\t"
#define VURNEL_RT_ST(O) "fstpt " #O "(%[y])\n\t"
#define VURNEL_RT3_POPS "fstp %%st(0)\n\tfstp %%st(0)\n\tfstp %%st(0)\n\t"
#define VURNEL_RT4_POPS "fstp %%st(0)\n\tfstp %%st(0)\n\t"
#define VURNEL_RT3_LOOP(LD, STP, XC)                                                               \
    "fldt -16(%[y])\n\t"                                                                           \
    "fldt -32(%[y])\n\t"                                                                           \
    "fldt -48(%[y])\n\t"                                                                           \
    "fldt %[g]\n\t" VURNEL_RT_LD(                                                                  \
        LD, -2) "fmul %%st(1), %%st\n\t"                                                           \
                "fxch %%st(1)\n\t" VURNEL_RT_LD(                                                   \
                    LD,                                                                            \
                    -1) "fmul %%st(1), %%st\n\t"                                                   \
                        "fxch %%st(1)\n\t"                                                         \
                        "cmp $1, %[n]\n\t"                                                         \
                        "jbe .Lvurnel_rt_x2_%=\n\t"                                                \
                        ".p2align 6\n\t" VURNEL_RT_LABEL(0) VURNEL_RT3_SAMPLE(                     \
                            LD, STP, XC, 3, 4, 5, 5, 6) VURNEL_RT_STEP(0) VURNEL_RT_LABEL(1)       \
                            VURNEL_RT3_SAMPLE(LD, STP, XC, 4, 5, 6, 6, 4) VURNEL_RT_STEP(1)        \
                                VURNEL_RT_LABEL(2) VURNEL_RT3_SAMPLE(LD, STP, XC, 5, 6, 7, 4, 5)   \
                                    VURNEL_RT_STEP(2) "jmp .Lvurnel_rt_s0_%=\n\t" VURNEL_RT_EXIT(  \
                                        0, 1, 4, 3, VURNEL_RT3_POPS,                               \
                                        VURNEL_RT_ST(-16) VURNEL_RT_ST(-48) VURNEL_RT_ST(-32))     \
                                        VURNEL_RT_EXIT(1, 2, 5, 3, VURNEL_RT3_POPS,                \
                                                       VURNEL_RT_ST(-32) VURNEL_RT_ST(-16)         \
                                                           VURNEL_RT_ST(-48))                      \
                                            VURNEL_RT_EXIT(                                        \
                                                2, 0, 3, 3, VURNEL_RT3_POPS,                       \
                                                VURNEL_RT_ST(-48) VURNEL_RT_ST(-32)                \
                                                    VURNEL_RT_ST(-16)) ".Lvurnel_rt_end_%=:\n\t"
#define VURNEL_RT4_LOOP(LD, STP)                                                                   \
    "fldt -16(%[y])\n\t"                                                                           \
    "fldt -32(%[y])\n\t"                                                                           \
    "fldt -48(%[y])\n\t"                                                                           \
    "fldt -64(%[y])\n\t"                                                                           \
    "fldt %[g]\n\t" VURNEL_RT_LD(                                                                  \
        LD, -1) "fmul %%st(1), %%st\n\t"                                                           \
                "fxch %%st(1)\n\t"                                                                 \
                "cmp $1, %[n]\n\t"                                                                 \
                "jbe .Lvurnel_rt_x3_%=\n\t"                                                        \
                ".p2align 6\n\t" VURNEL_RT_LABEL(0) VURNEL_RT4_SAMPLE(LD, STP, 2, 3, 4, 5, 6, 6)   \
                    VURNEL_RT_STEP(0) VURNEL_RT_LABEL(1) VURNEL_RT4_SAMPLE(                        \
                        LD, STP, 3, 4, 5, 6, 7, 3) VURNEL_RT_STEP(1) VURNEL_RT_LABEL(2)            \
                        VURNEL_RT4_SAMPLE(LD, STP, 4, 5, 6, 7, 4, 4) VURNEL_RT_STEP(2)             \
                            VURNEL_RT_LABEL(3) VURNEL_RT4_SAMPLE(LD, STP, 5, 6, 7, 4, 5, 5)        \
                                VURNEL_RT_STEP(3) "jmp .Lvurnel_rt_s0_%=\n\t" VURNEL_RT_EXIT(      \
                                    0, 1, 3, 4, VURNEL_RT4_POPS,                                   \
                                    VURNEL_RT_ST(-16) VURNEL_RT_ST(-64) VURNEL_RT_ST(-48)          \
                                        VURNEL_RT_ST(-32))                                         \
                                    VURNEL_RT_EXIT(1, 2, 4, 4, VURNEL_RT4_POPS,                    \
                                                   VURNEL_RT_ST(-32) VURNEL_RT_ST(-16)             \
                                                       VURNEL_RT_ST(-64) VURNEL_RT_ST(-48))        \
                                        VURNEL_RT_EXIT(2, 3, 5, 4, VURNEL_RT4_POPS,                \
                                                       VURNEL_RT_ST(-48) VURNEL_RT_ST(-32)         \
                                                           VURNEL_RT_ST(-16) VURNEL_RT_ST(-64))    \
                                            VURNEL_RT_EXIT(3, 0, 2, 4, VURNEL_RT4_POPS,            \
                                                           VURNEL_RT_ST(-64) VURNEL_RT_ST(-48)     \
                                                               VURNEL_RT_ST(-32) VURNEL_RT_ST(     \
                                                                   -16)) ".Lvurnel_rt_end_%=:\n\t"

// Whether there is a register loop for N taps (three, or four with feed-forward doubles).
template <int N, bool Doubles> constexpr bool kRegisterTaps = N == 3 || (N == 4 && Doubles);

// n ≥ 1 samples at three or four taps (see above), every output kept in registers and stored to
// the history at the end only (the oldest before the last sample too: the history keeps N + 1
// outputs). ONE: the oldest tap's feed-forward coefficient is 1.
template <int N, bool Doubles, bool One, typename T>
void RunRegisterLoop(const T* x, long double* y, T* out, long n, const SplitTap* taps,
                     long double g) {
    static constexpr unsigned kMask = SplitMask(N);
#define VURNEL_RT_OPERANDS                                                                         \
    [x] "+r"(x), [y] "+r"(y), [out] "+r"(out),                                                     \
        [n] "+r"(n)                                                                                \
        : [c] "r"(taps), [g] "m"(g), [mask] "i"(kMask), [one] "i"(One ? 1 : 0),                    \
          [step] "i"(static_cast<int>(sizeof(T))) : VURNEL_IIR_CLOBBERS
#define VURNEL_RT_ASM(LD, STP)                                                                     \
    if constexpr (N == 3 && Doubles)                                                               \
        __asm__ volatile(VURNEL_RT3_LOOP(LD, STP, VURNEL_RT_XC_DOUBLE) : VURNEL_RT_OPERANDS);      \
    else if constexpr (N == 3)                                                                     \
        __asm__ volatile(VURNEL_RT3_LOOP(LD, STP, VURNEL_RT_XC_EXTENDED) : VURNEL_RT_OPERANDS);    \
    else                                                                                           \
        __asm__ volatile(VURNEL_RT4_LOOP(LD, STP) : VURNEL_RT_OPERANDS);
    if constexpr (sizeof(T) == 4) {
        VURNEL_RT_ASM("flds", "fstps")
    } else {
        VURNEL_RT_ASM("fldl", "fstpl")
    }
#undef VURNEL_RT_ASM
#undef VURNEL_RT_OPERANDS
}

// RunRegisterLoop where there is one (true), else nothing run (false).
template <int N, bool Doubles, typename T>
bool RunRegisterTaps(const T* x, long double* y, T* out, long n, const SplitTap* taps,
                     long double g) {
    if constexpr (kRegisterTaps<N, Doubles>) {
        if (taps[0].c == 1.0 && taps[0].cLo == 0.0)
            RunRegisterLoop<N, Doubles, true, T>(x, y, out, n, taps, g);
        else
            RunRegisterLoop<N, Doubles, false, T>(x, y, out, n, taps, g);
        return true;
    } else {
        return false;
    }
}

#undef VURNEL_RT4_LOOP
#undef VURNEL_RT3_POPS
#undef VURNEL_RT4_POPS
#undef VURNEL_RT_ST
#undef VURNEL_RT_EXIT
#undef VURNEL_RT_LABEL
#undef VURNEL_RT_STEP
#undef VURNEL_RT_XC0
#undef VURNEL_RT4_SAMPLE
#undef VURNEL_RT3_LOOP
#undef VURNEL_RT3_SAMPLE
#undef VURNEL_RT_NEXT
#undef VURNEL_RT_NEW
#undef VURNEL_RT_D
#undef VURNEL_RT_XC_EXTENDED
#undef VURNEL_RT_XC_DOUBLE
#undef VURNEL_RT_LD

// RunRecompute, or RunRegisterTaps where there is one.
template <int N, bool Doubles, typename T>
void RunSound(const T* x, long double* y, T* out, long n, const SplitTap* taps, long double g) {
    if (!RunRegisterTaps<N, Doubles, T>(x, y, out, n, taps, g))
        RunRecompute<N, Doubles, T>(x, y, out, n, taps, g);
}

// The tap counts that run in pairs (four taps keep all their outputs in registers and stay
// faster on their own).
constexpr int kPairsFrom = 5;

// The loops above form each x·g again from the inputs, so a block's first N samples need the
// N inputs before it, which the filter does not keep (only their products, xv[1] … xv[N]). Where
// each product is x·g for some x of the buffer's type, that x serves: x = t / g rounded to T (as t
// · (1 / g)), taken only where x·g gives t's bits again (then every product formed from it is the
// stored one). Where the block before came from the same buffer type this is the input itself (t ·
// (1 / g) is within about 2^-62 of it relatively, well inside half a unit of T). Only quotients
// well inside T's normal range are tried, and zeros by their signs, so that no operation meets a
// subnormal or raises a flag; false (xs untouched but for a prefix) otherwise. A block call then
// saves the older loop's N samples and its setup (on an AMD EPYC a call's fixed cost went from
// 190–450 ns to 110–260 at orders 3–8).
template <int N, typename T> bool RecoverInputs(long double g, const long double* xv, T* xs) {
    const TExtendedBits gb = ToBits(g);
    constexpr int kRange = sizeof(T) == 4 ? 120 : 1000;
    if (gb.Exponent() < 64 || gb.Exponent() > 0x7FFF - 64 || (gb.mantissa >> 63) == 0) return false;
    const long double inverse = 1.0L / g;
    for (int k = 0; k < N; ++k) {
        // The stored product's bits read from memory (not through an x87 register: a store
        // forwarded to integer loads costs tens of cycles).
        TExtendedBits tb;
        std::memcpy(&tb.mantissa, &xv[k + 1], 8);
        std::memcpy(&tb.signExponent, reinterpret_cast<const unsigned char*>(&xv[k + 1]) + 8, 2);
        if (tb.IsZero()) {
            // ±0 · g is the zero of the product's sign: the stored bits by construction.
            xs[k] = tb.IsNegative() != gb.IsNegative() ? -T(0) : T(0);
            continue;
        }
        const int q = tb.Exponent() - gb.Exponent();
        if (tb.Exponent() < 64 || tb.Exponent() > 0x7FFF - 64 || (tb.mantissa >> 63) == 0 ||
            q < -kRange || q > kRange)
            return false;
        const T x = static_cast<T>(xv[k + 1] * inverse);
        // Both sides normal values (t normalised, x normal): equal values have equal bits, and the
        // x87's comparison says so without a trip through memory.
        if (static_cast<long double>(x) * g != xv[k + 1]) return false;
        xs[k] = x;
    }
    return true;
}

// FastLoop's block for float and double buffers of more than N samples, through RunRecompute after
// the first N; false (nothing run) where the coefficients do not split.
// `split`: the taps already split (a block cache's), or null.
template <int N, typename C, typename T>
bool RecomputeBlock(long double g, const long double* xCoeffs, const long double* yCoeffs,
                    long double* xv, long double* yv, const T* input, T* output, int count,
                    const SplitTap* split = nullptr) {
    SplitTap own[N];
    if (!split && !Split<N>(xCoeffs, yCoeffs, own)) return false;
    const SplitTap* taps = split ? split : own;
    T xs[N + kChunk];
    long double ys[N + kChunk];
    int done = 0, m = 0;
    if (!RecoverInputs<N>(g, xv, xs)) {
        std::memcpy(xs, input, N * sizeof(T)); // before the first outputs overwrite them
        FastLoop<N, C, false>(g, xCoeffs, yCoeffs, xv, yv, input, output, N, 0);
        done = N;
    }
    for (int i = 0; i < N; ++i)
        ys[i] = yv[i + 1];
    for (;;) {
        m = count - done < kChunk ? count - done : kChunk;
        std::memcpy(xs + N, input + done, static_cast<std::size_t>(m) * sizeof(T));
        constexpr bool doubles = sizeof(C) == sizeof(double);
        if constexpr (N >= kPairsFrom) {
            // Pairs store every output; an odd last sample runs on its own.
            if (m > 1) RunPairs<N, doubles, T>(xs + N, ys + N, output + done, m / 2, taps, g);
            if (m % 2)
                RunRecompute<N, doubles, T>(xs + N + m - 1, ys + N + m - 1, output + done + m - 1,
                                            1, taps, g);
        } else if (kRegisterTaps<N, doubles>) {
            // The register loops store the oldest output before the last sample themselves.
            RunRegisterTaps<N, doubles, T>(xs + N, ys + N, output + done, m, taps, g);
        } else if (N <= RegisterOutputs(N, doubles) && done + m == count && m > 1) {
            // Outputs in registers are stored at the end of a run: the last sample runs on its
            // own, so that the one before the last N is stored too (the history keeps N + 1).
            RunSound<N, doubles, T>(xs + N, ys + N, output + done, m - 1, taps, g);
            RunSound<N, doubles, T>(xs + N + m - 1, ys + N + m - 1, output + done + m - 1, 1, taps,
                                    g);
        } else {
            RunSound<N, doubles, T>(xs + N, ys + N, output + done, m, taps, g);
        }
        done += m;
        if (done == count) break;
        std::memmove(xs, xs + m, N * sizeof(T));
        std::memmove(ys, ys + m, N * sizeof(long double));
    }
    // The histories as the per-sample routine leaves them: the last N + 1 entries.
    for (int i = 0; i <= N; ++i) {
        xv[i] = static_cast<long double>(xs[m - 1 + i]) * g;
        yv[i] = ys[m - 1 + i];
    }
    return true;
}

// An output stored at ADDR: its exponent field in e, its sign moved to the buffer's sign bit in s;
// on to label 6 where the field is FAR or more.
#define VURNEL_FIELD_SIGN(ADDR, FAR, SHIFT, S)                                                     \
    "movzwl " ADDR ", %k[e]\n\t"                                                                   \
    "mov %k[e], %k[s]\n\t"                                                                         \
    "and $0x8000, %k[s]\n\t"                                                                       \
    "shl $" SHIFT ", %" S "[s]\n\t"                                                                \
    "and $0x7fff, %k[e]\n\t"                                                                       \
    "cmp $" FAR ", %k[e]\n\t"                                                                      \
    "jae 6f\n\t"
// The silent paths' narrowing loop on float and double buffers, any tap count: RunRecompute's
// sample (the feed-forward terms formed again from the inputs, coefficients as hi + lo), each
// output stored to the history, then narrowed to the buffer and checked by its exponent field e,
// read back from that store with an integer load (on the cores measured the wait for the store is
// hidden behind the next sample's arithmetic, and the check takes no x87 slot; y is a zero or a
// normal value here, a sum of products of safe operands): e < FAR (2^-200 for float, 2^-1100
// for double: far below the buffer's range, or a zero) as the zero of y's sign, by an integer
// store, the common case on silence, tested first; then, as VURNEL_NEXT_CHECKED, the sample
// leaves the loop, counted, when 1 <= e <= %[lim], which only an output below FAR can be. Above
// FAR: at least %[normal] (the buffer's smallest normal value) by the x87 store of y, in between
// by integer means as VURNEL_NEXT_NARROWED does. EXIT runs right after the zero's store (nothing
// here; the loop below leaves there on an output that is exactly a zero).
#define VURNEL_RC_NEXT_EXIT(EXIT, FAR, STORE, SCALE, FIST, SHIFT, S)                               \
    VURNEL_FIELD_SIGN("-8(%[y])", FAR, SHIFT, S)                                                   \
    "mov %" S "[s], -%c[step](%[out])\n\t" EXIT "dec %k[e]\n\t"                                    \
    "cmp %k[lim], %k[e]\n\t"                                                                       \
    "jb 10f\n\t"                                                                                   \
    "11:\n\t"                                                                                      \
    "dec %[n]\n\t"                                                                                 \
    "jnz 1b\n\t"                                                                                   \
    "jmp 3f\n\t"                                                                                   \
    "6:\n\t"                                                                                       \
    "fld %%st(1)\n\t"                                                                              \
    "fabs\n\t"                                                                                     \
    "fldl %[normal]\n\t"                                                                           \
    "fcomip %%st(1)\n\t"                                                                           \
    "jbe 7f\n\t" SCALE FIST "or %" S "[s], -%c[step](%[out])\n\t"                                  \
    "jmp 11b\n\t"                                                                                  \
    "7:\n\t"                                                                                       \
    "fstp %%st(0)\n\t"                                                                             \
    "fld %%st(1)\n\t" STORE "jmp 11b\n\t"                                                          \
    "10:\n\t"                                                                                      \
    "dec %[n]\n\t"                                                                                 \
    "3:\n\t"
#define VURNEL_RCN_NEXT(FAR, STORE, SCALE, FIST, SHIFT, S)                                         \
    VURNEL_RC_NEXT_EXIT("", FAR, STORE, SCALE, FIST, SHIFT, S)
#define VURNEL_RCN_NEXT_FLOAT                                                                      \
    VURNEL_RCN_NEXT("16183", "fstps -%c[step](%[out])\n\t", "fmull %[scale]\n\t",                  \
                    "fistpl -%c[step](%[out])\n\t", "16", "k")
#define VURNEL_RCN_NEXT_DOUBLE                                                                     \
    VURNEL_RCN_NEXT("15283", "fstpl -%c[step](%[out])\n\t",                                        \
                    "fmull %[scale]\n\tfmull %[scale]\n\t", "fistpll -%c[step](%[out])\n\t", "48", \
                    "q")
// One and two taps keep all their outputs in registers too (the RC loop's shapes for R = 1, 2).
#define VURNEL_RCN_LOAD_Y1 "fldt -16(%[y])\n\t"
#define VURNEL_RCN_LOAD_Y2 "fldt -32(%[y])\n\t" VURNEL_RCN_LOAD_Y1
#define VURNEL_RCN_LOAD_Y3 VURNEL_RC_LOAD_Y3
#define VURNEL_RCN_LOAD_Y4 VURNEL_RC_LOAD_Y4
#define VURNEL_RCN_LOAD_Y5 VURNEL_RC_LOAD_Y5
#define VURNEL_RCN_TAPS1(LX, XC) VURNEL_RC_REGISTER_TAP(LX, XC, 3)
#define VURNEL_RCN_TAPS2(LX, XC) VURNEL_RC_REGISTER_TAP(LX, XC, 4) VURNEL_RCN_TAPS1(LX, XC)
#define VURNEL_RCN_TAPS3(LX, XC) VURNEL_RC_TAPS3(LX, XC)
#define VURNEL_RCN_TAPS4(LX, XC) VURNEL_RC_TAPS4(LX, XC)
#define VURNEL_RCN_TAPS5(LX, XC) VURNEL_RC_TAPS5(LX, XC)
#define VURNEL_RCN_LOOP(LOADX, LOADT, XC, R, NEXT)                                                 \
    VURNEL_RCN_LOAD_Y##R                                                                           \
        "fldt %[g]\n\t"                                                                            \
        ".p2align 6\n\t1:\n\t" LOADT "fmul %%st(1), %%st\n\t.set vurnel_k, 0\n\t"                  \
        ".rept %c[taps] - " #R                                                                     \
        "\n\t" VURNEL_RC_H(LOADX, XC) "fldt vurnel_k*16-%c[taps]*16(%[y])\n\t" VURNEL_RC_D         \
                                      "fmulp %%st, %%st(1)\n\t"                                    \
                                      "faddp %%st, %%st(1)\n\t"                                    \
                                      ".set vurnel_k, vurnel_k+1\n\t"                              \
                                      ".endr\n\t" VURNEL_RCN_TAPS##R(                              \
                                          LOADX, XC) "fld %%st(0)\n\t"                             \
                                                     "fstpt (%[y])\n\t" VURNEL_ROTATE##R           \
        "add %[step], %[x]\n\t"                                                                    \
        "add $16, %[y]\n\t"                                                                        \
        "add %[step], %[out]\n\t" NEXT "fstp %%st(0)\n\t" VURNEL_POP_Y##R

// One chunk of n ≥ 1 samples (see above), n left as the samples not run.
template <int N, bool Doubles, typename T>
void RunRecomputeNarrowed(const T* x, long double* y, T* out, long& n, const SplitTap* taps,
                          long double g, unsigned limit) {
    constexpr int R = RegisterOutputs(N, Doubles);
    static constexpr unsigned kMask = SplitMask(N);
    [[maybe_unused]] std::uint64_t sign = 0;
    const double scale = sizeof(T) == 4 ? 0x1p149 : 0x1p537;
    const double normal = sizeof(T) == 4 ? 0x1p-126 : 0x1p-1022;
    [[maybe_unused]] unsigned scratch = 0;
#define VURNEL_RCN_OPERANDS                                                                        \
    [x] "+r"(x), [y] "+r"(y), [out] "+r"(out), [n] "+r"(n), [s] "=&r"(sign),                       \
        [e] "=&r"(scratch)                                                                         \
        : [c] "r"(taps), [g] "m"(g), [taps] "i"(N), [mask] "i"(kMask), [step] "i"(                 \
                                                                           static_cast<int>(       \
                                                                               sizeof(T))),        \
          [lim] "r"(limit), [scale] "m"(scale), [normal] "m"(normal) : VURNEL_IIR_CLOBBERS
#define VURNEL_RCN_R(LX, LT, NEXT, RR)                                                             \
    if constexpr (Doubles)                                                                         \
        __asm__ volatile(VURNEL_RCN_LOOP(LX, LT, VURNEL_RC_XC_DOUBLE, RR, NEXT)                    \
                         : VURNEL_RCN_OPERANDS);                                                   \
    else                                                                                           \
        __asm__ volatile(VURNEL_RCN_LOOP(LX, LT, VURNEL_RC_XC_EXTENDED, RR, NEXT)                  \
                         : VURNEL_RCN_OPERANDS);
#define VURNEL_RCN_FOR(LX, LT, NEXT)                                                               \
    if constexpr (R == 1) {                                                                        \
        VURNEL_RCN_R(LX, LT, NEXT, 1)                                                              \
    } else if constexpr (R == 2) {                                                                 \
        VURNEL_RCN_R(LX, LT, NEXT, 2)                                                              \
    } else if constexpr (R == 3) {                                                                 \
        VURNEL_RCN_R(LX, LT, NEXT, 3)                                                              \
    } else if constexpr (R == 5) {                                                                 \
        __asm__ volatile(VURNEL_RCN_LOOP(LX, LT, VURNEL_RC_XC_DOUBLE, 5, NEXT)                     \
                         : VURNEL_RCN_OPERANDS);                                                   \
    } else {                                                                                       \
        VURNEL_RCN_R(LX, LT, NEXT, 4)                                                              \
    }
    if constexpr (sizeof(T) == 4) {
        VURNEL_RCN_FOR("flds vurnel_k*4-%c[taps]*4(%[x])\n\t", "flds (%[x])\n\t",
                       VURNEL_RCN_NEXT_FLOAT)
    } else {
        VURNEL_RCN_FOR("fldl vurnel_k*8-%c[taps]*8(%[x])\n\t", "fldl (%[x])\n\t",
                       VURNEL_RCN_NEXT_DOUBLE)
    }
#undef VURNEL_RCN_FOR
#undef VURNEL_RCN_R
#undef VURNEL_RCN_OPERANDS
}

// The same loop where every input in play is a zero and every output in play is not: the
// feed-forward products are zeros then, and so is the sum t + p₀, and a zero added to a sum that is
// not zero, or a sum that is a zero added to a product that is not (q = y·d, y and d not zeros, no
// underflow above the limit), gives that sum or product: (acc + p) + q is acc + q, in any rounding
// mode. So the sum is +0 + q₀ + q₁ + … (the feed-forward side dropped: half the arithmetic, the
// same bits), for as long as no output is a zero: the loop leaves after a zero output too (stored),
// and its caller goes on with the loop above.
#define VURNEL_RCZ_NEXT(FAR, STORE, SCALE, FIST, SHIFT, S)                                         \
    VURNEL_RC_NEXT_EXIT("test %k[e], %k[e]\n\t"                                                    \
                        "jz 10f\n\t",                                                              \
                        FAR, STORE, SCALE, FIST, SHIFT, S)
#define VURNEL_RCZ_NEXT_FLOAT                                                                      \
    VURNEL_RCZ_NEXT("16183", "fstps -%c[step](%[out])\n\t", "fmull %[scale]\n\t",                  \
                    "fistpl -%c[step](%[out])\n\t", "16", "k")
#define VURNEL_RCZ_NEXT_DOUBLE                                                                     \
    VURNEL_RCZ_NEXT("15283", "fstpl -%c[step](%[out])\n\t",                                        \
                    "fmull %[scale]\n\tfmull %[scale]\n\t", "fistpll -%c[step](%[out])\n\t", "48", \
                    "q")
// A tap whose output is in register st(P) once d is pushed, without the feed-forward product.
#define VURNEL_RCZ_REGISTER_TAP(P)                                                                 \
    VURNEL_RC_D "fmul %%st(" #P "), %%st\n\t"                                                      \
                "faddp %%st, %%st(1)\n\t"                                                          \
                ".set vurnel_k, vurnel_k+1\n\t"
#define VURNEL_RCZ_TAPS1 VURNEL_RCZ_REGISTER_TAP(3)
#define VURNEL_RCZ_TAPS2 VURNEL_RCZ_REGISTER_TAP(4) VURNEL_RCZ_TAPS1
#define VURNEL_RCZ_TAPS3 VURNEL_RCZ_REGISTER_TAP(5) VURNEL_RCZ_TAPS2
#define VURNEL_RCZ_TAPS4 VURNEL_RCZ_REGISTER_TAP(6) VURNEL_RCZ_TAPS3
#define VURNEL_RCZ_TAPS5 VURNEL_RCZ_REGISTER_TAP(7) VURNEL_RCZ_TAPS4
#define VURNEL_RCZ_LOOP(R, NEXT)                                                                   \
    VURNEL_RCN_LOAD_Y##R "fldt %[g]\n\t"                                                           \
                         ".p2align 6\n\t1:\n\t"                                                    \
                         "fldz\n\t"                                                                \
                         ".set vurnel_k, 0\n\t"                                                    \
                         ".rept %c[taps] - " #R "\n\t"                                             \
                         "fldt vurnel_k*16-%c[taps]*16(%[y])\n\t" VURNEL_RC_D                      \
                         "fmulp %%st, %%st(1)\n\t"                                                 \
                         "faddp %%st, %%st(1)\n\t"                                                 \
                         ".set vurnel_k, vurnel_k+1\n\t"                                           \
                         ".endr\n\t" VURNEL_RCZ_TAPS##R "fld %%st(0)\n\t"                          \
                                                        "fstpt (%[y])\n\t" VURNEL_ROTATE##R        \
        "add $16, %[y]\n\t"                                                                        \
        "add %[step], %[out]\n\t" NEXT "fstp %%st(0)\n\t" VURNEL_POP_Y##R

// One chunk of n ≥ 1 samples on zeros (see above), n left as the samples not run.
template <int N, bool Doubles, typename T>
void RunSilentNarrowed(long double* y, T* out, long& n, const SplitTap* taps, long double g,
                       unsigned limit) {
    constexpr int R = RegisterOutputs(N, Doubles);
    static constexpr unsigned kMask = SplitMask(N);
    [[maybe_unused]] std::uint64_t sign = 0;
    const double scale = sizeof(T) == 4 ? 0x1p149 : 0x1p537;
    const double normal = sizeof(T) == 4 ? 0x1p-126 : 0x1p-1022;
    [[maybe_unused]] unsigned scratch = 0;
#define VURNEL_RCZ_ASM(RR, NEXT)                                                                   \
    __asm__ volatile(                                                                              \
        VURNEL_RCZ_LOOP(RR, NEXT)                                                                  \
        : [y] "+r"(y), [out] "+r"(out), [n] "+r"(n), [s] "=&r"(sign), [e] "=&r"(scratch)           \
        : [c] "r"(taps), [g] "m"(g), [taps] "i"(N), [mask] "i"(kMask),                             \
          [step] "i"(static_cast<int>(sizeof(T))), [lim] "r"(limit), [scale] "m"(scale),           \
          [normal] "m"(normal)                                                                     \
        : VURNEL_IIR_CLOBBERS);
#define VURNEL_RCZ_FOR(NEXT)                                                                       \
    if constexpr (R == 1) {                                                                        \
        VURNEL_RCZ_ASM(1, NEXT)                                                                    \
    } else if constexpr (R == 2) {                                                                 \
        VURNEL_RCZ_ASM(2, NEXT)                                                                    \
    } else if constexpr (R == 3) {                                                                 \
        VURNEL_RCZ_ASM(3, NEXT)                                                                    \
    } else if constexpr (R == 5) {                                                                 \
        VURNEL_RCZ_ASM(5, NEXT)                                                                    \
    } else {                                                                                       \
        VURNEL_RCZ_ASM(4, NEXT)                                                                    \
    }
    if constexpr (sizeof(T) == 4) {
        VURNEL_RCZ_FOR(VURNEL_RCZ_NEXT_FLOAT)
    } else {
        VURNEL_RCZ_FOR(VURNEL_RCZ_NEXT_DOUBLE)
    }
#undef VURNEL_RCZ_FOR
#undef VURNEL_RCZ_ASM
}

// The silent loop two samples at a time (from kSilentPairsFrom taps): with the feed-forward side
// dropped a sample is all feedback products, and each takes its output y(n−N+k) by an 80-bit load
// (besides the coefficients d that do not split), about one every 1.1–1.4 ns on the cores
// measured: the single-sample loop above is bound by them, up to twice the time of the same filter
// on sound. Samples n and n + 1 run through the taps together, each on its own sum (A for n, B for
// n + 1, each in its own order, as in RunPairs): tap k's d is pushed once for both (from hi + lo
// for every tap: the additions are cheaper here than the loads; measured on an AMD EPYC, 0.63–0.68
// times the filter on sound at 10 to 16 taps, against 0.9 with RunRecompute's mask and 1.0 with
// none split), and the output tap k gives to B is the one tap k + 1 gives to A, loaded once for
// two uses. The last two outputs stay in registers from one pair to the next (the operands of the
// last taps, copied where they are used; each output is still stored once, for the taps that load
// it later). Only B's last product waits for y(n), and only after y(n) has been checked: it is
// stored to the history and read back by an integer load (VURNEL_SP_NEXT, the checks of
// VURNEL_RC_NEXT_EXIT), and the loop leaves after y(n) (B's terms dropped, no operation on y(n))
// where y(n) is a zero or not above the bound; then y(n + 1) the same way, before the next pair
// takes it. So every operand is safe and every sum keeps the bits of the per-sample routine.
//
// Registers between pairs: [P1, P2] = y(n−1), y(n−2). Within a tap: [Yc, B, A, P1, P2] on entry,
// Yc = y(n−N+k) (A's operand; B's is the next tap's). %[y] at sample n's entry of the history (16
// bytes an entry, the N before it filled), %[out] at its output; %[n] counts pairs; %[left] says
// how the loop ended (0: every pair run; 1: after y(n), 2: after y(n + 1) of the pair at %[y]).
// A += Yc·d; Yn = y(n−N+k+1) (P2 or P1 for the last two taps that load one); B += Yn·d, leaving
// [Yn, B, A, P1, P2].
#define VURNEL_SP_TAP                                                                              \
    VURNEL_RC_D "fmul %%st, %%st(1)\n\t"                                                           \
                "fxch %%st(1)\n\t"                                                                 \
                "faddp %%st, %%st(3)\n\t"                                                          \
                ".if vurnel_k == %c[taps] - 3\n\t"                                                 \
                "fld %%st(4)\n\t"                                                                  \
                ".elseif vurnel_k == %c[taps] - 2\n\t"                                             \
                "fld %%st(3)\n\t"                                                                  \
                ".else\n\t"                                                                        \
                "fldt (vurnel_k+1-%c[taps])*16(%[y])\n\t"                                          \
                ".endif\n\t"                                                                       \
                "fmul %%st, %%st(1)\n\t"                                                           \
                "fxch %%st(1)\n\t"                                                                 \
                "faddp %%st, %%st(2)\n\t"
// The output stored at OFF(%[y]) narrowed to the buffer at OOFF(%[out]) as VURNEL_RC_NEXT_EXIT
// does (LOADY pushes a copy of it for the outputs at or above FAR), leaving to label EXIT where it
// is a zero or not above the bound.
#define VURNEL_SP_NEXT(OFF, OOFF, LOADY, EXIT, FAR, STORE, SCALE, FIST, SHIFT, S)                  \
    VURNEL_FIELD_SIGN("8+" OFF "(%[y])", FAR, SHIFT, S)                                            \
    "mov %" S "[s], " OOFF "(%[out])\n\t"                                                          \
    "test %k[e], %k[e]\n\t"                                                                        \
    "jz " EXIT "\n\t"                                                                              \
    "dec %k[e]\n\t"                                                                                \
    "cmp %k[lim], %k[e]\n\t"                                                                       \
    "jb " EXIT "\n\t"                                                                              \
    "jmp 8f\n\t"                                                                                   \
    "6:\n\t" LOADY "fabs\n\t"                                                                      \
    "fldl %[normal]\n\t"                                                                           \
    "fcomip %%st(1)\n\t"                                                                           \
    "jbe 7f\n\t" SCALE FIST "or %" S "[s], " OOFF "(%[out])\n\t"                                   \
    "jmp 8f\n\t"                                                                                   \
    "7:\n\t"                                                                                       \
    "fstp %%st(0)\n\t" LOADY STORE "8:\n\t"
#define VURNEL_SP_NEXT_FLOAT(OFF, OOFF, LOADY, EXIT)                                               \
    VURNEL_SP_NEXT(OFF, OOFF, LOADY, EXIT, "16183", "fstps " OOFF "(%[out])\n\t",                  \
                   "fmull %[scale]\n\t", "fistpl " OOFF "(%[out])\n\t", "16", "k")
#define VURNEL_SP_NEXT_DOUBLE(OFF, OOFF, LOADY, EXIT)                                              \
    VURNEL_SP_NEXT(OFF, OOFF, LOADY, EXIT, "15283", "fstpl " OOFF "(%[out])\n\t",                  \
                   "fmull %[scale]\n\tfmull %[scale]\n\t", "fistpll " OOFF "(%[out])\n\t", "48",   \
                   "q")
// Tap 0 makes A and B from their first products, leaving [Y1, B, A, P1, P2].
#define VURNEL_SP_FIRST                                                                            \
    "fldt -%c[taps]*16(%[y])\n\t"                                                                  \
    ".set vurnel_k, 0\n\t" VURNEL_RC_D "fmul %%st, %%st(1)\n\t"                                    \
    "fldt (1-%c[taps])*16(%[y])\n\t"                                                               \
    "fmul %%st, %%st(1)\n\t"
// The last tap: A += Yc·d makes y(n), stored and checked (leaving to 4 with [d, B, A, P1, P2]);
// then B += y(n)·d makes y(n + 1), stored, and the two turn into the next pair's [P1, P2] (P1 and
// P2 dropped) before y(n + 1) is checked (leaving to 5).
#define VURNEL_SP_LAST(NEXT, OSTEP)                                                                \
    VURNEL_RC_D "fmul %%st, %%st(1)\n\t"                                                           \
                "fxch %%st(1)\n\t"                                                                 \
                "faddp %%st, %%st(3)\n\t"                                                          \
                "fld %%st(2)\n\t"                                                                  \
                "fstpt (%[y])\n\t" NEXT("0", "0", "fld %%st(2)\n\t",                               \
                                        "4f") "fmul %%st(2), %%st\n\t"                             \
                                              "faddp %%st, %%st(1)\n\t"                            \
                                              "fld %%st(0)\n\t"                                    \
                                              "fstpt 16(%[y])\n\t"                                 \
                                              "fstp %%st(3)\n\t"                                   \
                                              "fstp %%st(1)\n\t"                                   \
                                              "fxch %%st(1)\n\t" NEXT("16", OSTEP,                 \
                                                                      "fld %%st(0)\n\t", "5f")
#define VURNEL_SP_LOOP(NEXT, OSTEP)                                                                \
    "fldt -32(%[y])\n\t"                                                                           \
    "fldt -16(%[y])\n\t"                                                                           \
    ".p2align 6\n\t1:\n\t" VURNEL_SP_FIRST ".set vurnel_k, 1\n\t"                                  \
    ".rept %c[taps] - 2\n\t" VURNEL_SP_TAP ".set vurnel_k, vurnel_k+1\n\t"                         \
    ".endr\n\t" VURNEL_SP_LAST(NEXT, OSTEP) "add $32, %[y]\n\t"                                    \
                                            "add $2*" OSTEP ", %[out]\n\t"                         \
                                            "dec %[n]\n\t"                                         \
                                            "jnz 1b\n\t"                                           \
                                            "xor %k[left], %k[left]\n\t"                           \
                                            "jmp 9f\n\t"                                           \
                                            "4:\n\t"                                               \
                                            "fstp %%st(0)\n\t"                                     \
                                            "fstp %%st(0)\n\t"                                     \
                                            "fstp %%st(0)\n\t"                                     \
                                            "mov $1, %k[left]\n\t"                                 \
                                            "jmp 9f\n\t"                                           \
                                            "5:\n\t"                                               \
                                            "mov $2, %k[left]\n\t"                                 \
                                            "9:\n\t"                                               \
                                            "fstp %%st(0)\n\t"                                     \
                                            "fstp %%st(0)\n\t"

// The silent loop's tap counts that run in pairs (see above). At four taps the single loop keeps
// every output in registers, but the pairs still gained (measured on an AMD EPYC: 1.35–1.56 times
// the filter on sound down to 1.08–1.20 for a Chebyshev lowpass of order 4); at three they lost
// (1.34–1.52 against 1.47–1.66), where tap 0 loads the output the pair before has just stored.
constexpr int kSilentPairsFrom = 4;

// The feedback coefficients the pairs loop takes as hi + lo: all of them (a split d costs one
// addition, which a pair shares; its 80-bit load would be the loop's bound).
constexpr unsigned SilentPairsMask(int n) {
    return n >= 32 ? ~0u : (1u << n) - 1u;
}

// floor(n / 2) pairs of samples on zeros (see above), from ys at sample n's entry (the N entries
// before it safe), n left as the samples not run; true where the loop left early (after an output
// that is a zero or not above the bound, counted).
template <int N, typename T>
bool RunSilentPairs(long double* y, T* out, long& n, const SplitTap* taps, unsigned limit) {
    static constexpr unsigned kMask = SilentPairsMask(N);
    long pairs = n / 2;
    if (pairs == 0) return false;
    const long before = pairs;
    std::uint64_t sign = 0;
    unsigned scratch = 0, left = 0;
    const double scale = sizeof(T) == 4 ? 0x1p149 : 0x1p537;
    const double normal = sizeof(T) == 4 ? 0x1p-126 : 0x1p-1022;
#define VURNEL_SP_ASM(NEXT, OSTEP)                                                                 \
    __asm__ volatile(VURNEL_SP_LOOP(NEXT, OSTEP)                                                   \
                     : [y] "+r"(y), [out] "+r"(out), [n] "+r"(pairs), [s] "=&r"(sign),             \
                       [e] "=&r"(scratch), [left] "=&r"(left)                                      \
                     : [c] "r"(taps), [taps] "i"(N), [mask] "i"(kMask), [lim] "r"(limit),          \
                       [scale] "m"(scale), [normal] "m"(normal)                                    \
                     : VURNEL_IIR_CLOBBERS);
    if constexpr (sizeof(T) == 4) {
        VURNEL_SP_ASM(VURNEL_SP_NEXT_FLOAT, "4")
    } else {
        VURNEL_SP_ASM(VURNEL_SP_NEXT_DOUBLE, "8")
    }
#undef VURNEL_SP_ASM
    n -= 2 * (before - pairs) + left;
    return left != 0;
}

#undef VURNEL_SP_LOOP
#undef VURNEL_SP_LAST
#undef VURNEL_SP_FIRST
#undef VURNEL_SP_NEXT_DOUBLE
#undef VURNEL_SP_NEXT_FLOAT
#undef VURNEL_SP_NEXT
#undef VURNEL_SP_TAP

#undef VURNEL_RCZ_LOOP
#undef VURNEL_RCZ_TAPS5
#undef VURNEL_RCZ_TAPS4
#undef VURNEL_RCZ_TAPS3
#undef VURNEL_RCZ_TAPS2
#undef VURNEL_RCZ_TAPS1
#undef VURNEL_RCZ_REGISTER_TAP
#undef VURNEL_RCZ_NEXT_DOUBLE
#undef VURNEL_RCZ_NEXT_FLOAT
#undef VURNEL_RCZ_NEXT
#undef VURNEL_RCN_LOOP
#undef VURNEL_RCN_TAPS5
#undef VURNEL_RCN_TAPS4
#undef VURNEL_RCN_TAPS3
#undef VURNEL_RCN_TAPS2
#undef VURNEL_RCN_TAPS1
#undef VURNEL_RCN_LOAD_Y5
#undef VURNEL_RCN_LOAD_Y4
#undef VURNEL_RCN_LOAD_Y3
#undef VURNEL_RCN_LOAD_Y2
#undef VURNEL_RCN_LOAD_Y1
#undef VURNEL_RCN_NEXT_DOUBLE
#undef VURNEL_RCN_NEXT_FLOAT
#undef VURNEL_RCN_NEXT
#undef VURNEL_RC_NEXT_EXIT

// Whether the n values are all zeros (of either sign), as bits.
template <typename T> bool Zeros(const T* v, int n) {
    using U = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    U any = 0;
    for (int i = 0; i < n; ++i) {
        U bits;
        std::memcpy(&bits, &v[i], sizeof bits);
        any |= bits << 1;
    }
    return any == 0;
}

// Whether the n values all have exponent fields above limit.
inline bool Above(const long double* v, int n, unsigned limit) {
    for (int i = 0; i < n; ++i)
        if (ExponentField(v[i]) <= limit) return false;
    return true;
}

// The narrowing block of the silent paths (FastLoop's, narrowed and checked) for float and double
// buffers of more than N samples, through RunRecomputeNarrowed after the first N; returns the
// samples run, or −1 (nothing run) where the coefficients do not split.
template <int N, typename C, typename T>
int RecomputeNarrowed(long double g, const long double* xCoeffs, const long double* yCoeffs,
                      long double* xv, long double* yv, const T* input, T* output, int count,
                      unsigned limit) {
    // The bound lies below FAR (coefficients below about 2^-16000 could lift it above).
    if (limit + 1 >= (sizeof(T) == 4 ? 16183u : 15283u)) return -1;
    SplitTap taps[N];
    if (!Split<N>(xCoeffs, yCoeffs, taps)) return -1;
    bool silentTaps = true; // every feedback coefficient not a zero (RunSilentNarrowed)
    for (int k = 0; k < N; ++k)
        silentTaps = silentTaps && ExponentField(taps[k].d) != 0;
    T xs[N + kChunk];
    long double ys[N + kChunk];
    int done = 0;
    // The inputs before the block found again (zeros by their signs on silence), or its first N
    // samples on the older loop.
    if (!RecoverInputs<N>(g, xv, xs)) {
        std::memcpy(xs, input, N * sizeof(T)); // before the first outputs overwrite them
        done =
            FastLoop<N, C, true, T, T, true>(g, xCoeffs, yCoeffs, xv, yv, input, output, N, limit);
        if (done < N || done == count) return done;
    }
    for (int i = 0; i < N; ++i)
        ys[i] = yv[i + 1];
    int ran = 0;
    for (;;) {
        const int m = count - done < kChunk ? count - done : kChunk;
        std::memcpy(xs + N, input + done, static_cast<std::size_t>(m) * sizeof(T));
        long n = m;
        constexpr bool doubles = sizeof(C) == sizeof(double);
        int ahead = 0;
        if (silentTaps && Zeros(xs, N + m) && Above(ys, N, limit)) {
            // In pairs where the tap count runs so; an odd last sample runs on its own.
            bool left = false;
            if constexpr (N >= kSilentPairsFrom)
                left = RunSilentPairs<N, T>(ys + N, output + done, n, taps, limit);
            const int paired = m - static_cast<int>(n);
            if (!left && n != 0)
                RunSilentNarrowed<N, doubles, T>(ys + N + paired, output + done + paired, n, taps,
                                                 g, limit);
            ahead = m - static_cast<int>(n);
        }
        // Where the silent loop did not run, or left after a zero output, the rest of the chunk
        // runs on the loop that forms the zeros' signs.
        if (n != 0 && (ahead == 0 || ExponentField(ys[N + ahead - 1]) == 0))
            RunRecomputeNarrowed<N, doubles, T>(xs + N + ahead, ys + N + ahead,
                                                output + done + ahead, n, taps, g, limit);
        ran = m - static_cast<int>(n);
        done += ran;
        if (n != 0 || done == count) break;
        // A chunk's last sample may be the one to leave after.
        if (ExponentField(ys[N + ran - 1]) - 1u < limit) break;
        std::memmove(xs, xs + m, N * sizeof(T));
        std::memmove(ys, ys + m, N * sizeof(long double));
    }
    // The histories as the per-sample routine leaves them: the last N + 1 entries.
    for (int i = 0; i <= N; ++i) {
        xv[i] = static_cast<long double>(xs[ran - 1 + i]) * g;
        yv[i] = ys[ran - 1 + i];
    }
    return done;
}

#undef VURNEL_RC_LOOP
#undef VURNEL_RC_XROTATE5
#undef VURNEL_RC_XROTATE4
#undef VURNEL_RC_XROTATE3
#undef VURNEL_RC_XROTATE
#undef VURNEL_RC_LOAD_Y4
#undef VURNEL_RC_LOAD_Y3
#undef VURNEL_RC_TAPS5
#undef VURNEL_RC_TAPS4
#undef VURNEL_ROTATE5
#undef VURNEL_POP_Y5
#undef VURNEL_RC_LOAD_Y5
#undef VURNEL_RC_TAPS3
#undef VURNEL_RC_REGISTER_TAP
#undef VURNEL_RC_H
#undef VURNEL_RC_D
#undef VURNEL_RC_XC_EXTENDED
#undef VURNEL_RC_XC_DOUBLE

template <int N, typename C, typename T>
void FastBlock(long double g, const long double* xCoeffs, const long double* yCoeffs,
               long double* xv, long double* yv, const T* input, T* output, int count) {
    if constexpr (sizeof(T) < sizeof(long double))
        if (count > N && RecomputeBlock<N, C, T>(g, xCoeffs, yCoeffs, xv, yv, input, output, count))
            return;
    FastLoop<N, C, false>(g, xCoeffs, yCoeffs, xv, yv, input, output, count, 0);
}

// FastBlock with the taps already split (where they split: null otherwise).
template <int N, typename C, typename T>
void SplitBlock(long double g, const long double* xCoeffs, const long double* yCoeffs,
                long double* xv, long double* yv, const T* input, T* output, int count,
                const SplitTap* taps) {
    if constexpr (N <= 2)
        SmallBlock<N, C, T>(g, xCoeffs, yCoeffs, xv, yv, input, output, count);
    else if (taps && count > N &&
             RecomputeBlock<N, C, T>(g, xCoeffs, yCoeffs, xv, yv, input, output, count, taps))
        return;
    else
        FastLoop<N, C, false>(g, xCoeffs, yCoeffs, xv, yv, input, output, count, 0);
}

template <int N, typename C, typename T>
int FastChecked(long double g, const long double* xCoeffs, const long double* yCoeffs,
                long double* xv, long double* yv, const T* input, long double* ys, int count,
                unsigned limit) {
    return FastLoop<N, C, true>(g, xCoeffs, yCoeffs, xv, yv, input, ys, count, limit);
}

// FastChecked with the outputs narrowed to T (float or double) in the loop.
template <int N, typename C, typename T>
int FastNarrowed(long double g, const long double* xCoeffs, const long double* yCoeffs,
                 long double* xv, long double* yv, const T* input, T* output, int count,
                 unsigned limit) {
    if (count > N) {
        const int done =
            RecomputeNarrowed<N, C, T>(g, xCoeffs, yCoeffs, xv, yv, input, output, count, limit);
        if (done >= 0) return done;
    }
    return FastLoop<N, C, true, T, T, true>(g, xCoeffs, yCoeffs, xv, yv, input, output, count,
                                            limit);
}

#undef VURNEL_IIR_LOOP
#undef VURNEL_XC_EXTENDED
#undef VURNEL_XC_DOUBLE
#undef VURNEL_IIR_OPERANDS
#undef VURNEL_IIR_CHECKED_OPERANDS
#undef VURNEL_IIR_INPUTS
#undef VURNEL_IIR_CLOBBERS

// Whether every feed-forward coefficient is a double exactly.
bool DoubleCoefficients(const long double* xCoeffs, int numTaps) {
    for (int i = 0; i < numTaps; ++i)
        if (static_cast<long double>(static_cast<double>(xCoeffs[i])) != xCoeffs[i]) return false;
    return true;
}

constexpr bool kFastLoop = true;

// The block cache for these coefficients, worked out again where they changed; false where the
// tap count has no specialised loop.
bool Refresh(TdspIIRBlockCache& cache, int numTaps, const long double* xCoeffs,
             const long double* yCoeffs) {
    if (numTaps < 1 || numTaps > MaxSpecialisedTaps) return false;
    bool same = cache.numTaps == numTaps;
    for (int k = 0; same && k < numTaps; ++k)
        same = std::memcmp(&cache.taps[k].cx, &xCoeffs[k], 10) == 0 &&
               std::memcmp(&cache.taps[k].d, &yCoeffs[k], 10) == 0;
    if (!same) {
        cache.split = SplitTaps(numTaps, xCoeffs, yCoeffs, cache.taps);
        cache.doubles = DoubleCoefficients(xCoeffs, numTaps);
        for (int k = 0; k < numTaps; ++k) {
            std::memcpy(&cache.taps[k].cx, &xCoeffs[k], sizeof(long double));
            std::memcpy(&cache.taps[k].d, &yCoeffs[k], sizeof(long double));
        }
        cache.numTaps = numTaps;
    }
    return true;
}

template <typename T>
using SplitRoutine = void (*)(long double, const long double*, const long double*, long double*,
                              long double*, const T*, T*, int, const SplitTap*);

template <typename T, int... N>
SplitRoutine<T> SelectSplit(bool doubles, int numTaps, std::integer_sequence<int, N...>) {
    static constexpr SplitRoutine<T> extended[] = {&SplitBlock<N + 1, long double, T>...};
    static constexpr SplitRoutine<T> exact[] = {&SplitBlock<N + 1, double, T>...};
    return doubles ? exact[numTaps - 1] : extended[numTaps - 1];
}

// The block through the cache; false (nothing run) where there is no specialised loop.
template <typename T>
bool CachedBlock(int numTaps, long double g, const long double* xCoeffs, const long double* yCoeffs,
                 long double* xv, long double* yv, const T* input, T* output, int count,
                 TdspIIRBlockCache& cache) {
    if (!Refresh(cache, numTaps, xCoeffs, yCoeffs)) return false;
    // The split is exact only where the x87 rounds to 64-bit significands.
    const SplitTap* taps =
        cache.split && (ControlWord() & 0x0300u) == 0x0300u ? cache.taps : nullptr;
    SelectSplit<T>(cache.doubles, numTaps, std::make_integer_sequence<int, MaxSpecialisedTaps>{})(
        g, xCoeffs, yCoeffs, xv, yv, input, output, count, taps);
    return true;
}

#else

constexpr bool kFastLoop = false;
template <typename T>
bool CachedBlock(int, long double, const long double*, const long double*, long double*,
                 long double*, const T*, T*, int, TdspIIRBlockCache&) {
    return false;
}

template <int N, typename C, typename T>
void FastBlock(long double g, const long double* xCoeffs, const long double* yCoeffs,
               long double* xv, long double* yv, const T* input, T* output, int count) {
    PlainBlock<N, T>(g, xCoeffs, yCoeffs, xv, yv, input, output, count);
}
template <int N, typename C, typename T>
void SmallBlock(long double g, const long double* xCoeffs, const long double* yCoeffs,
                long double* xv, long double* yv, const T* input, T* output, int count) {
    PlainBlock<N, T>(g, xCoeffs, yCoeffs, xv, yv, input, output, count);
}
template <int N, typename C, typename T>
int FastChecked(long double g, const long double* xCoeffs, const long double* yCoeffs,
                long double* xv, long double* yv, const T* input, long double* ys, int count,
                unsigned limit) {
    return PlainChecked<N, T>(g, xCoeffs, yCoeffs, xv, yv, input, ys, count, limit);
}
bool DoubleCoefficients(const long double*, int) {
    return false;
}
template <int N, typename C, typename T>
int FastNarrowed(long double, const long double*, const long double*, long double*, long double*,
                 const T*, T*, int, unsigned) {
    return -1; // not instantiated: the portable build has no narrowing loop
}

#endif

template <typename T>
void GenericBlock(int numTaps, long double g, const long double* xCoeffs,
                  const long double* yCoeffs, long double* xv, long double* yv, const T* input,
                  T* output, int count) {
    for (int n = 0; n < count; ++n)
        output[n] = static_cast<T>(IIRFilterStep(numTaps, g, xCoeffs, yCoeffs, xv, yv, input[n]));
}

template <typename T>
using BlockRoutine = void (*)(long double, const long double*, const long double*, long double*,
                              long double*, const T*, T*, int);

// One or two taps run SmallBlock (everything in registers), more the hand-written loops above.
// Only the routines chosen here are instantiated (FastBlock needs three taps or more).
constexpr int kLargestPlain = 2;

template <int N, typename C, typename T> constexpr BlockRoutine<T> Loop() {
    if constexpr (!kFastLoop)
        return &PlainBlock<N, T>;
    else if constexpr (N <= kLargestPlain)
        return &SmallBlock<N, C, T>;
    else
        return &FastBlock<N, C, T>;
}

template <typename T, int... N>
BlockRoutine<T> Select(int numTaps, bool doubles, std::integer_sequence<int, N...>) {
    constexpr BlockRoutine<T> extended[] = {Loop<N + 1, long double, T>()...};
    constexpr BlockRoutine<T> exact[] = {Loop<N + 1, double, T>()...};
    if (numTaps < 1 || numTaps > static_cast<int>(sizeof...(N))) return nullptr;
    return doubles ? exact[numTaps - 1] : extended[numTaps - 1];
}

template <typename T>
using CheckedRoutine = int (*)(long double, const long double*, const long double*, long double*,
                               long double*, const T*, long double*, int, unsigned);

// The checked loop is hand-written for every tap count (g++ keeps the histories of one or two
// taps in registers, but the 80-bit output stores cost more than the hand-written loop's loads).
template <int N, typename C, typename T> constexpr CheckedRoutine<T> CheckedLoop() {
    if constexpr (!kFastLoop)
        return &PlainChecked<N, T>;
    else
        return &FastChecked<N, C, T>;
}

template <typename T, int... N>
CheckedRoutine<T> SelectChecked(int numTaps, bool doubles, std::integer_sequence<int, N...>) {
    constexpr CheckedRoutine<T> extended[] = {CheckedLoop<N + 1, long double, T>()...};
    constexpr CheckedRoutine<T> exact[] = {CheckedLoop<N + 1, double, T>()...};
    if (numTaps < 1 || numTaps > static_cast<int>(sizeof...(N))) return nullptr;
    return doubles ? exact[numTaps - 1] : extended[numTaps - 1];
}

template <typename T>
int Checked(int numTaps, long double g, const long double* xCoeffs, const long double* yCoeffs,
            long double* xv, long double* yv, const T* input, long double* ys, int count,
            unsigned limit) {
    if (count <= 0) return 0;
    const CheckedRoutine<T> routine =
        SelectChecked<T>(numTaps, DoubleCoefficients(xCoeffs, numTaps),
                         std::make_integer_sequence<int, MaxSpecialisedTaps>{});
    if (routine) return routine(g, xCoeffs, yCoeffs, xv, yv, input, ys, count, limit);
    int n = 0;
    while (n < count) {
        const long double y = IIRFilterStep(numTaps, g, xCoeffs, yCoeffs, xv, yv, input[n]);
        ys[n++] = y;
        if (ExponentField(y) - 1u < limit) break;
    }
    return n;
}

template <typename T>
using NarrowedRoutine = int (*)(long double, const long double*, const long double*, long double*,
                                long double*, const T*, T*, int, unsigned);

template <typename T, int... N>
NarrowedRoutine<T> SelectNarrowed(int numTaps, bool doubles, std::integer_sequence<int, N...>) {
    if constexpr (kFastLoop) {
        constexpr NarrowedRoutine<T> extended[] = {&FastNarrowed<N + 1, long double, T>...};
        constexpr NarrowedRoutine<T> exact[] = {&FastNarrowed<N + 1, double, T>...};
        if (numTaps < 1 || numTaps > static_cast<int>(sizeof...(N))) return nullptr;
        return doubles ? exact[numTaps - 1] : extended[numTaps - 1];
    } else {
        return nullptr;
    }
}

template <typename T>
int Narrowed(int numTaps, long double g, const long double* xCoeffs, const long double* yCoeffs,
             long double* xv, long double* yv, const T* input, T* output, int count,
             unsigned limit) {
    if (count <= 0) return 0;
    const NarrowedRoutine<T> routine =
        SelectNarrowed<T>(numTaps, DoubleCoefficients(xCoeffs, numTaps),
                          std::make_integer_sequence<int, MaxSpecialisedTaps>{});
    return routine ? routine(g, xCoeffs, yCoeffs, xv, yv, input, output, count, limit) : -1;
}

template <typename T>
void Block(int numTaps, long double g, const long double* xCoeffs, const long double* yCoeffs,
           long double* xv, long double* yv, const T* input, T* output, int count) {
    if (count <= 0) return;
    const BlockRoutine<T> routine =
        Select<T>(numTaps, DoubleCoefficients(xCoeffs, numTaps),
                  std::make_integer_sequence<int, MaxSpecialisedTaps>{});
    if (routine)
        routine(g, xCoeffs, yCoeffs, xv, yv, input, output, count);
    else
        GenericBlock(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count);
}

template <typename T>
void BlockWithCache(int numTaps, long double g, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv, const T* input,
                    T* output, int count, TdspIIRBlockCache& cache) {
    if (count <= 0) return;
    if (!CachedBlock(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count, cache))
        Block(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count);
}

} // namespace

int IIRFilterCheckedBlock(int numTaps, long double g, const long double* xCoeffs,
                          const long double* yCoeffs, long double* xv, long double* yv,
                          const long double* input, long double* ys, int count, unsigned limit) {
    return Checked(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, ys, count, limit);
}
int IIRFilterCheckedBlock(int numTaps, long double g, const long double* xCoeffs,
                          const long double* yCoeffs, long double* xv, long double* yv,
                          const double* input, long double* ys, int count, unsigned limit) {
    return Checked(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, ys, count, limit);
}
int IIRFilterCheckedBlock(int numTaps, long double g, const long double* xCoeffs,
                          const long double* yCoeffs, long double* xv, long double* yv,
                          const float* input, long double* ys, int count, unsigned limit) {
    return Checked(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, ys, count, limit);
}

int IIRFilterNarrowedBlock(int numTaps, long double g, const long double* xCoeffs,
                           const long double* yCoeffs, long double* xv, long double* yv,
                           const double* input, double* output, int count, unsigned limit) {
    return Narrowed(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count, limit);
}
int IIRFilterNarrowedBlock(int numTaps, long double g, const long double* xCoeffs,
                           const long double* yCoeffs, long double* xv, long double* yv,
                           const float* input, float* output, int count, unsigned limit) {
    return Narrowed(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count, limit);
}

void IIRFilterBlock(int numTaps, long double g, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const long double* input, long double* output, int count) {
    Block(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count);
}
void IIRFilterBlock(int numTaps, long double g, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const double* input, double* output, int count) {
    Block(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count);
}
void IIRFilterBlock(int numTaps, long double g, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const float* input, float* output, int count) {
    Block(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count);
}

void IIRFilterBlock(int numTaps, long double g, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const double* input, double* output, int count, TdspIIRBlockCache& cache) {
    BlockWithCache(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count, cache);
}
void IIRFilterBlock(int numTaps, long double g, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const float* input, float* output, int count, TdspIIRBlockCache& cache) {
    BlockWithCache(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count, cache);
}

} // namespace vurnel::dsp
