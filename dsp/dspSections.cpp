#include "dspSections.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "dspExtendedBits.h"

namespace vurnel::dsp {

namespace {

__extension__ typedef __float128 Quad;

constexpr long double kFloorPerOrder = 1e-4L; // as the design floors its frequencies

long double Larger(long double a, long double b) {
    return a > b ? a : b;
}

// A pole or zero of the cascade: a real root, or one member of a conjugate pair (im > 0).
struct Root {
    TComplex v;
    bool real;
};

// The roots of one kind, conjugate pairs collapsed to their upper member (the mean of the two,
// as the design's pairs agree only to rounding), real ones kept; fixed capacity.
struct RootSet {
    Root items[MaxPoleZero + 1];
    int count = 0;
    int reals = 0;

    void Collect(const TComplex* roots, int n) {
        bool used[MaxPoleZero + 1] = {};
        for (int i = 0; i < n; ++i) {
            if (used[i]) continue;
            used[i] = true;
            const TComplex z = roots[i];
            if (std::fabs(z.im) <= 1e-12L * Larger(1.0L, CAbs(z))) {
                Add({{z.re, 0.0L}, true});
                continue;
            }
            // Its partner: the unused root nearest the conjugate, on the other side.
            int best = -1;
            long double distance = 0;
            for (int j = i + 1; j < n; ++j) {
                if (used[j] || (roots[j].im > 0) == (z.im > 0)) continue;
                const long double d = CAbs(CSub(roots[j], CConj(z)));
                if (best < 0 || d < distance) best = j, distance = d;
            }
            if (best < 0) { // no partner: keep the real part, as the recursion does
                Add({{z.re, 0.0L}, true});
                continue;
            }
            used[best] = true;
            const TComplex upper = z.im > 0 ? z : roots[best];
            const TComplex lower = z.im > 0 ? roots[best] : z;
            Add({{(upper.re + lower.re) * 0.5L, (upper.im - lower.im) * 0.5L}, false});
        }
    }
    void Add(Root r) {
        items[count++] = r;
        if (r.real) ++reals;
    }
    Root Take(int i) {
        const Root r = items[i];
        for (int j = i + 1; j < count; ++j)
            items[j - 1] = items[j];
        --count;
        if (r.real) --reals;
        return r;
    }
    // The index of the root nearest to p among the real ones (wantReal), the complex ones
    // (wantComplex) or all; −1 if there is none of that kind.
    int Nearest(TComplex p, bool wantReal, bool wantComplex) const {
        int best = -1;
        long double distance = 0;
        for (int i = 0; i < count; ++i) {
            if ((items[i].real && !wantReal) || (!items[i].real && !wantComplex)) continue;
            const long double d = CAbs(CSub(items[i].v, p));
            if (best < 0 || d < distance) best = i, distance = d;
        }
        return best;
    }
};

// (1 − r1·z⁻¹)(1 − r2·z⁻¹) = 1 + c1·z⁻¹ + c2·z⁻²; a missing root is 0.
struct Quadratic {
    long double c1 = 0, c2 = 0;
};
Quadratic PairOf(const Root& r) { // a conjugate pair
    return {-2.0L * r.v.re, r.v.re * r.v.re + r.v.im * r.v.im};
}
Quadratic RealsOf(long double a, long double b) {
    return {-(a + b), a * b};
}

// (1 + b1 e^−jw + b2 e^−2jw) / (1 + a1 e^−jw + a2 e^−2jw) at the three points the design
// normalises at, written so that DC and Nyquist involve no rounding of cos and sin.
long double SectionMagnitude(const Quadratic& b, const Quadratic& a, TComplex z1, TComplex z2) {
    const TComplex num = {(1.0L + b.c1 * z1.re) + b.c2 * z2.re, b.c1 * z1.im + b.c2 * z2.im};
    const TComplex den = {(1.0L + a.c1 * z1.re) + a.c2 * z2.re, a.c1 * z1.im + a.c2 * z2.im};
    return CAbs(num) / CAbs(den);
}

// Σ c_k e^−jwk and Σ k·c_k e^−jwk over one section's three coefficients, with Σ |c_k|.
struct Sums {
    long double re = 0, im = 0, kre = 0, kim = 0, absolute = 0;
    void Add(int k, long double c, TComplex e) {
        const long double cr = c * e.re, ci = c * e.im;
        re += cr, im += ci, absolute += std::fabs(c);
        kre += static_cast<long double>(k) * cr, kim += static_cast<long double>(k) * ci;
    }
    long double Condition() const { return absolute / std::hypot(re, im); }
    long double Delay() const { return (kre * re + kim * im) / (re * re + im * im); }
};

} // namespace

void TdspIIRSections::Design(const TdspCustomIIRFilter& f) {
    FRoutine = f.GetRoutine();
    FNumSections = 0;

    // The poles and zeros, an odd count completed by a pole and a zero at the origin, and the
    // zeros padded to the number of poles at the origin.
    const int numPoles = f.GetZNumPoles();
    int numZeros = f.GetZNumZeros() < numPoles ? f.GetZNumZeros() : numPoles;
    TComplex poles[MaxPoleZero + 1], zeros[MaxPoleZero + 1];
    for (int i = 0; i < numPoles; ++i)
        poles[i] = f.GetZPoles()[i];
    for (int i = 0; i < numZeros; ++i)
        zeros[i] = f.GetZZeros()[i];
    int total = numPoles;
    if (total % 2 == 1) poles[total++] = Complex(0.0L, 0.0L);
    while (numZeros < total)
        zeros[numZeros++] = Complex(0.0L, 0.0L);
    RootSet p, z;
    p.Collect(poles, total);
    z.Collect(zeros, numZeros);

    // Sections, worst pole (nearest the unit circle) first, then reversed so that it runs last.
    Quadratic num[MaxSections], den[MaxSections];
    int n = 0;
    while (p.count > 0 && n < MaxSections) {
        int worst = 0;
        for (int i = 1; i < p.count; ++i)
            if (std::fabs(1.0L - CAbs(p.items[i].v)) < std::fabs(1.0L - CAbs(p.items[worst].v)))
                worst = i;
        const Root p1 = p.Take(worst);
        if (p1.real) {
            const int other = p.Nearest(p1.v, true, false);
            const long double p2 = other >= 0 ? p.Take(other).v.re : 0.0L;
            den[n] = RealsOf(p1.v.re, p2);
        } else {
            den[n] = PairOf(p1);
        }
        if (!p1.real && p.count + 1 == z.count && p.reals == 1 && z.reals == 1 &&
            z.Nearest(p1.v, false, true) >= 0) {
            // One real pole and one real zero are left for a section of their own: this one
            // takes a complex pair of zeros.
            num[n] = PairOf(z.Take(z.Nearest(p1.v, false, true)));
        } else if (z.count > 0) {
            const Root z1 = z.Take(z.Nearest(p1.v, true, true));
            if (!z1.real) {
                num[n] = PairOf(z1);
            } else {
                const int other = z.Nearest(p1.v, true, false);
                num[n] = RealsOf(z1.v.re, other >= 0 ? z.Take(other).v.re : 0.0L);
            }
        }
        ++n;
    }

    // Unit gain of every section at the design's reference point.
    const long double floor = f.GetOrder() * kFloorPerOrder;
    long double nf1 = Larger(f.GetFrequency(1) / f.GetSampleRate(), floor);
    long double nf2 = Larger(f.GetFrequency(2) / f.GetSampleRate(), floor);
    if (f.GetResponse() != ftBandpass && f.GetResponse() != ftBandstop) nf2 = nf1;
    const TComplex one = Complex(1.0L, 0.0L), minusOne = Complex(-1.0L, 0.0L);
    const TComplex centre = CConj(CFromAngle(Pi * (nf1 + nf2))); // e^−jw
    const TComplex centre2 = CMul(centre, centre);
    FNumSections = n;
    for (int k = 0; k < n; ++k) {
        const int i = n - 1 - k; // reversed
        long double gain;
        switch (f.GetResponse()) {
        case ftLowpass:
            gain = SectionMagnitude(num[i], den[i], one, one);
            break;
        case ftHighpass:
        case ftLowShelf: // 0 dB at Nyquist
            gain = SectionMagnitude(num[i], den[i], minusOne, one);
            break;
        case ftHighShelf: // 0 dB at DC
            gain = SectionMagnitude(num[i], den[i], one, one);
            break;
        case ftBandpass:
            gain = SectionMagnitude(num[i], den[i], centre, centre2);
            break;
        case ftBandstop:
        default:
            gain = std::sqrt(SectionMagnitude(num[i], den[i], one, one) *
                             SectionMagnitude(num[i], den[i], minusOne, one));
            break;
        }
        const long double g = 1.0L / gain;
        FSections[k] = {g, g * num[i].c1, g * num[i].c2, den[i].c1, den[i].c2};
    }
    Reset();
    ++FDesignCount;
}

void TdspIIRSections::Reset() {
    for (auto& h : FHistory)
        h[0] = h[1] = 0.0L;
}

namespace {

// K sections over a block, as Cascade runs them sample by sample. The compiler keeps what fits
// of the histories in the x87 registers; the coefficients come from a local copy.
template <int K, typename T>
void SectionsBlock(const TdspBiquad* sections, long double (*history)[2], const T* input, T* output,
                   int count) {
    long double b0[K], b1[K], b2[K], a1[K], a2[K], h0[K + 1], h1[K + 1];
    for (int i = 0; i < K; ++i) {
        b0[i] = sections[i].B0, b1[i] = sections[i].B1, b2[i] = sections[i].B2;
        a1[i] = sections[i].A1, a2[i] = sections[i].A2;
    }
    for (int i = 0; i <= K; ++i)
        h0[i] = history[i][0], h1[i] = history[i][1];
    for (int n = 0; n < count; ++n) {
        long double x = input[n];
#pragma GCC unroll 16
        for (int i = 0; i < K; ++i) {
            const long double y =
                (((b0[i] * x + b1[i] * h0[i]) + b2[i] * h1[i]) - a1[i] * h0[i + 1]) -
                a2[i] * h1[i + 1];
            h1[i] = h0[i];
            h0[i] = x;
            x = y;
        }
        h1[K] = h0[K];
        h0[K] = x;
        output[n] = static_cast<T>(x);
    }
    for (int i = 0; i <= K; ++i)
        history[i][0] = h0[i], history[i][1] = h1[i];
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(VURNEL_PORTABLE_KERNEL)

// Two to four sections on float and double buffers, by hand
// ---------------------------------------------------------
// The loop above lets g++ keep what it can in registers; with two sections or more it moves
// extended values through memory several times per section and sample, and on the AMD cores
// measured (Zen 5 class) an 80-bit load or store has a throughput of its own, about one every
// 1.1–1.4 ns (four or five x87 arithmetic slots), so the cascade ran at 3–4.5 times its
// arithmetic's time. The loop below keeps each section's last output in a register (and the one
// before it where registers remain), takes the first section's inputs from a copy of the block's
// inputs as float or double memory operands (free), and takes most of the coefficients as
// the exact sum of two doubles (one addition, no 80-bit load) where they split exactly, with the
// rest as 80-bit loads: the two resources in balance. Every product and sum is the one Cascade
// computes, in its order: IEEE products and sums do not depend on the order of their operands, and
// acc − A·y is `fsubrp`.
//
// The instruction sequences are written out by a small generator that tracks the x87 stack
// (which value sits in which register after each push, pop and exchange), for K sections, the
// stages whose older output stays in a register, and the coefficients taken as hi + lo:
//   VURNEL_SECTIONS_LOOP_2: older outputs of both stages in registers, 6 of 10 split;
//   VURNEL_SECTIONS_LOOP_3: stage 2's in a register, 12 of 15 split;
//   VURNEL_SECTIONS_LOOP_4: none (stored once, loaded where used), 18 of 20 split
// (the counts measured best on an AMD EPYC; the split ones are spread evenly over the list).
// Operands: %[c] the coefficients (32 bytes each, section by section, B0 B1 B2 A1 A2: the
// extended value, then hi and lo as doubles), %[s] the stages' histories (stage k at 32·k: last
// output, the one before), %[m] the older outputs kept in memory (stage k at 16·k), %[x] the
// sample's input in the copy (the two before it in place), %[out] its output, %[n] the samples.
#define VURNEL_SECTIONS_LOOP_2(T, STEP)                                                            \
    "fldt 80(%[s])\n\t"                                                                            \
    "fldt 64(%[s])\n\t"                                                                            \
    "fldt 48(%[s])\n\t"                                                                            \
    "fldt 32(%[s])\n\t"                                                                            \
    ".p2align 6\n\t1:\n\t"                                                                         \
    "fldt 0(%[c])\n\t"                                                                             \
    "fmul" T " (%[x])\n\t"                                                                         \
    "fldl 48(%[c])\n\t"                                                                            \
    "faddl 56(%[c])\n\t"                                                                           \
    "fmul" T " -1*" STEP "(%[x])\n\t"                                                              \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldt 64(%[c])\n\t"                                                                            \
    "fmul" T " -2*" STEP "(%[x])\n\t"                                                              \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 112(%[c])\n\t"                                                                           \
    "faddl 120(%[c])\n\t"                                                                          \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fldl 144(%[c])\n\t"                                                                           \
    "faddl 152(%[c])\n\t"                                                                          \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fldt 160(%[c])\n\t"                                                                           \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fldl 208(%[c])\n\t"                                                                           \
    "faddl 216(%[c])\n\t"                                                                          \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldt 224(%[c])\n\t"                                                                           \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 272(%[c])\n\t"                                                                           \
    "faddl 280(%[c])\n\t"                                                                          \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fldl 304(%[c])\n\t"                                                                           \
    "faddl 312(%[c])\n\t"                                                                          \
    "fmul %%st(6), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fxch %%st(3)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fxch %%st(2)\n\t"                                                                             \
    "fst" T " (%[out])\n\t"                                                                        \
    "fxch %%st(4)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fxch %%st(2)\n\t"                                                                             \
    "fxch %%st(3)\n\t"                                                                             \
    "fxch %%st(2)\n\t"                                                                             \
    "fxch %%st(1)\n\t"                                                                             \
    "add $" STEP ", %[x]\n\t"                                                                      \
    "add $" STEP ", %[out]\n\t"                                                                    \
    "dec %[n]\n\t"                                                                                 \
    "jnz 1b\n\t"                                                                                   \
    "fstpt 32(%[s])\n\t"                                                                           \
    "fstpt 48(%[s])\n\t"                                                                           \
    "fstpt 64(%[s])\n\t"                                                                           \
    "fstpt 80(%[s])\n\t"
#define VURNEL_SECTIONS_LOOP_3(T, STEP)                                                            \
    "fldt 96(%[s])\n\t"                                                                            \
    "fldt 80(%[s])\n\t"                                                                            \
    "fldt 64(%[s])\n\t"                                                                            \
    "fldt 32(%[s])\n\t"                                                                            \
    ".p2align 6\n\t1:\n\t"                                                                         \
    "fldt 0(%[c])\n\t"                                                                             \
    "fmul" T " (%[x])\n\t"                                                                         \
    "fldl 48(%[c])\n\t"                                                                            \
    "faddl 56(%[c])\n\t"                                                                           \
    "fmul" T " -1*" STEP "(%[x])\n\t"                                                              \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 80(%[c])\n\t"                                                                            \
    "faddl 88(%[c])\n\t"                                                                           \
    "fmul" T " -2*" STEP "(%[x])\n\t"                                                              \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 112(%[c])\n\t"                                                                           \
    "faddl 120(%[c])\n\t"                                                                          \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fldl 144(%[c])\n\t"                                                                           \
    "faddl 152(%[c])\n\t"                                                                          \
    "fldt 16(%[m])\n\t"                                                                            \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fldt 160(%[c])\n\t"                                                                           \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fldl 208(%[c])\n\t"                                                                           \
    "faddl 216(%[c])\n\t"                                                                          \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 240(%[c])\n\t"                                                                           \
    "faddl 248(%[c])\n\t"                                                                          \
    "fldt 16(%[m])\n\t"                                                                            \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 272(%[c])\n\t"                                                                           \
    "faddl 280(%[c])\n\t"                                                                          \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fldl 304(%[c])\n\t"                                                                           \
    "faddl 312(%[c])\n\t"                                                                          \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fld %%st(2)\n\t"                                                                              \
    "fstpt 16(%[m])\n\t"                                                                           \
    "fxch %%st(2)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fldt 320(%[c])\n\t"                                                                           \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fldl 368(%[c])\n\t"                                                                           \
    "faddl 376(%[c])\n\t"                                                                          \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 400(%[c])\n\t"                                                                           \
    "faddl 408(%[c])\n\t"                                                                          \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 432(%[c])\n\t"                                                                           \
    "faddl 440(%[c])\n\t"                                                                          \
    "fmul %%st(6), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fldl 464(%[c])\n\t"                                                                           \
    "faddl 472(%[c])\n\t"                                                                          \
    "fldt 48(%[m])\n\t"                                                                            \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fxch %%st(4)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fxch %%st(3)\n\t"                                                                             \
    "fst" T " (%[out])\n\t"                                                                        \
    "fld %%st(4)\n\t"                                                                              \
    "fstpt 48(%[m])\n\t"                                                                           \
    "fxch %%st(4)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fxch %%st(1)\n\t"                                                                             \
    "fxch %%st(2)\n\t"                                                                             \
    "add $" STEP ", %[x]\n\t"                                                                      \
    "add $" STEP ", %[out]\n\t"                                                                    \
    "dec %[n]\n\t"                                                                                 \
    "jnz 1b\n\t"                                                                                   \
    "fstpt 32(%[s])\n\t"                                                                           \
    "fstpt 64(%[s])\n\t"                                                                           \
    "fstpt 80(%[s])\n\t"                                                                           \
    "fstpt 96(%[s])\n\t"
#define VURNEL_SECTIONS_LOOP_4(T, STEP)                                                            \
    "fldt 128(%[s])\n\t"                                                                           \
    "fldt 96(%[s])\n\t"                                                                            \
    "fldt 64(%[s])\n\t"                                                                            \
    "fldt 32(%[s])\n\t"                                                                            \
    ".p2align 6\n\t1:\n\t"                                                                         \
    "fldt 0(%[c])\n\t"                                                                             \
    "fmul" T " (%[x])\n\t"                                                                         \
    "fldl 48(%[c])\n\t"                                                                            \
    "faddl 56(%[c])\n\t"                                                                           \
    "fmul" T " -1*" STEP "(%[x])\n\t"                                                              \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 80(%[c])\n\t"                                                                            \
    "faddl 88(%[c])\n\t"                                                                           \
    "fmul" T " -2*" STEP "(%[x])\n\t"                                                              \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 112(%[c])\n\t"                                                                           \
    "faddl 120(%[c])\n\t"                                                                          \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fldl 144(%[c])\n\t"                                                                           \
    "faddl 152(%[c])\n\t"                                                                          \
    "fldt 16(%[m])\n\t"                                                                            \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fldl 176(%[c])\n\t"                                                                           \
    "faddl 184(%[c])\n\t"                                                                          \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fldl 208(%[c])\n\t"                                                                           \
    "faddl 216(%[c])\n\t"                                                                          \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 240(%[c])\n\t"                                                                           \
    "faddl 248(%[c])\n\t"                                                                          \
    "fldt 16(%[m])\n\t"                                                                            \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 272(%[c])\n\t"                                                                           \
    "faddl 280(%[c])\n\t"                                                                          \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fldl 304(%[c])\n\t"                                                                           \
    "faddl 312(%[c])\n\t"                                                                          \
    "fldt 32(%[m])\n\t"                                                                            \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fld %%st(2)\n\t"                                                                              \
    "fstpt 16(%[m])\n\t"                                                                           \
    "fxch %%st(2)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fldt 320(%[c])\n\t"                                                                           \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fldl 368(%[c])\n\t"                                                                           \
    "faddl 376(%[c])\n\t"                                                                          \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 400(%[c])\n\t"                                                                           \
    "faddl 408(%[c])\n\t"                                                                          \
    "fldt 32(%[m])\n\t"                                                                            \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 432(%[c])\n\t"                                                                           \
    "faddl 440(%[c])\n\t"                                                                          \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fldl 464(%[c])\n\t"                                                                           \
    "faddl 472(%[c])\n\t"                                                                          \
    "fldt 48(%[m])\n\t"                                                                            \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fld %%st(3)\n\t"                                                                              \
    "fstpt 32(%[m])\n\t"                                                                           \
    "fxch %%st(3)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fldl 496(%[c])\n\t"                                                                           \
    "faddl 504(%[c])\n\t"                                                                          \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "fldl 528(%[c])\n\t"                                                                           \
    "faddl 536(%[c])\n\t"                                                                          \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 560(%[c])\n\t"                                                                           \
    "faddl 568(%[c])\n\t"                                                                          \
    "fldt 48(%[m])\n\t"                                                                            \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 592(%[c])\n\t"                                                                           \
    "faddl 600(%[c])\n\t"                                                                          \
    "fmul %%st(6), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fldl 624(%[c])\n\t"                                                                           \
    "faddl 632(%[c])\n\t"                                                                          \
    "fldt 64(%[m])\n\t"                                                                            \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fld %%st(4)\n\t"                                                                              \
    "fstpt 48(%[m])\n\t"                                                                           \
    "fxch %%st(4)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fxch %%st(3)\n\t"                                                                             \
    "fst" T " (%[out])\n\t"                                                                        \
    "fld %%st(4)\n\t"                                                                              \
    "fstpt 64(%[m])\n\t"                                                                           \
    "fxch %%st(4)\n\t"                                                                             \
    "fstp %%st(0)\n\t"                                                                             \
    "fxch %%st(1)\n\t"                                                                             \
    "fxch %%st(2)\n\t"                                                                             \
    "add $" STEP ", %[x]\n\t"                                                                      \
    "add $" STEP ", %[out]\n\t"                                                                    \
    "dec %[n]\n\t"                                                                                 \
    "jnz 1b\n\t"                                                                                   \
    "fstpt 32(%[s])\n\t"                                                                           \
    "fstpt 64(%[s])\n\t"                                                                           \
    "fstpt 96(%[s])\n\t"                                                                           \
    "fstpt 128(%[s])\n\t"

struct SplitCoefficient {
    long double v;
    double hi, lo;
};
static_assert(sizeof(SplitCoefficient) == 32, "32-byte coefficients");

// The stages (1..K) whose older output the loop keeps in a register.
constexpr bool OlderInRegister(int sections, int stage) {
    return sections == 2 || (sections == 3 && stage == 2);
}

template <int K, typename T>
void RunSections(const T* x, T* out, long n, const SplitCoefficient* c, long double (*s)[2],
                 long double* m) {
#define VURNEL_SECTIONS_ASM(LOOP)                                                                  \
    __asm__ volatile(LOOP                                                                          \
                     : [x] "+r"(x), [out] "+r"(out), [n] "+r"(n)                                   \
                     : [c] "r"(c), [s] "r"(s), [m] "r"(m)                                          \
                     : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", \
                       "st(7)")
    if constexpr (K == 2 && sizeof(T) == 4)
        VURNEL_SECTIONS_ASM(VURNEL_SECTIONS_LOOP_2("s", "4"));
    else if constexpr (K == 2)
        VURNEL_SECTIONS_ASM(VURNEL_SECTIONS_LOOP_2("l", "8"));
    else if constexpr (K == 3 && sizeof(T) == 4)
        VURNEL_SECTIONS_ASM(VURNEL_SECTIONS_LOOP_3("s", "4"));
    else if constexpr (K == 3)
        VURNEL_SECTIONS_ASM(VURNEL_SECTIONS_LOOP_3("l", "8"));
    else if constexpr (sizeof(T) == 4)
        VURNEL_SECTIONS_ASM(VURNEL_SECTIONS_LOOP_4("s", "4"));
    else
        VURNEL_SECTIONS_ASM(VURNEL_SECTIONS_LOOP_4("l", "8"));
#undef VURNEL_SECTIONS_ASM
}

#undef VURNEL_SECTIONS_LOOP_2
#undef VURNEL_SECTIONS_LOOP_3
#undef VURNEL_SECTIONS_LOOP_4

// Two samples at once
// -------------------
// Each section's sum for sample n + 1 needs y(n) of that section only in its last two terms; so a
// pair of samples runs through each section together, each sum in Cascade's order (A for n, then
// B's feedback terms once A is complete), and each coefficient is brought in once for both (hi +
// lo: one addition for two products). A section's outputs and its two older ones stay in
// registers as the next section's inputs and their history; each section's history is loaded and
// stored once a pair. About 11.5 slots a section and sample against the arithmetic's 9, and one
// 80-bit load and one store; the loop above needs more of either. Written out by the same
// generator ("3 0 15", "4 0 20"), every coefficient as hi + lo. No register is held between pairs.
#define VURNEL_SECTION_PAIRS_3(T, STEP)                                                            \
    ".p2align 6\n\t1:\n\t"                                                                         \
    "fldl 16(%[c])\n\t"                                                                            \
    "faddl 24(%[c])\n\t"                                                                           \
    "fld %%st(0)\n\t"                                                                              \
    "fmul" T " (%[x])\n\t"                                                                         \
    "fxch %%st(1)\n\t"                                                                             \
    "fmul" T " 1*" STEP "(%[x])\n\t"                                                               \
    "fldl 48(%[c])\n\t"                                                                            \
    "faddl 56(%[c])\n\t"                                                                           \
    "fld %%st(0)\n\t"                                                                              \
    "fmul" T " -1*" STEP "(%[x])\n\t"                                                              \
    "faddp %%st, %%st(3)\n\t"                                                                      \
    "fmul" T " (%[x])\n\t"                                                                         \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 80(%[c])\n\t"                                                                            \
    "faddl 88(%[c])\n\t"                                                                           \
    "fld %%st(0)\n\t"                                                                              \
    "fmul" T " -2*" STEP "(%[x])\n\t"                                                              \
    "faddp %%st, %%st(3)\n\t"                                                                      \
    "fmul" T " -1*" STEP "(%[x])\n\t"                                                              \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldt 48(%[s])\n\t"                                                                            \
    "fldt 32(%[s])\n\t"                                                                            \
    "fldl 112(%[c])\n\t"                                                                           \
    "faddl 120(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(5)\n\t"                                                                     \
    "fldl 144(%[c])\n\t"                                                                           \
    "faddl 152(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(6)\n\t"                                                                     \
    "fxch %%st(1)\n\t"                                                                             \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(4)\n\t"                                                                     \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(3)\n\t"                                                                     \
    "fld %%st(2)\n\t"                                                                              \
    "fstpt 32(%[s])\n\t"                                                                           \
    "fld %%st(3)\n\t"                                                                              \
    "fstpt 48(%[s])\n\t"                                                                           \
    "fldl 176(%[c])\n\t"                                                                           \
    "faddl 184(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "fxch %%st(1)\n\t"                                                                             \
    "fmulp %%st, %%st(4)\n\t"                                                                      \
    "fxch %%st(3)\n\t"                                                                             \
    "fldl 208(%[c])\n\t"                                                                           \
    "faddl 216(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "faddp %%st, %%st(5)\n\t"                                                                      \
    "fmulp %%st, %%st(5)\n\t"                                                                      \
    "fxch %%st(4)\n\t"                                                                             \
    "faddp %%st, %%st(4)\n\t"                                                                      \
    "fldl 240(%[c])\n\t"                                                                           \
    "faddl 248(%[c])\n\t"                                                                          \
    "fxch %%st(2)\n\t"                                                                             \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "faddp %%st, %%st(3)\n\t"                                                                      \
    "fxch %%st(1)\n\t"                                                                             \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "faddp %%st, %%st(2)\n\t"                                                                      \
    "fldt 80(%[s])\n\t"                                                                            \
    "fldt 64(%[s])\n\t"                                                                            \
    "fldl 272(%[c])\n\t"                                                                           \
    "faddl 280(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(4)\n\t"                                                                     \
    "fldl 304(%[c])\n\t"                                                                           \
    "faddl 312(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(5)\n\t"                                                                     \
    "fxch %%st(1)\n\t"                                                                             \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(5)\n\t"                                                                     \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(4)\n\t"                                                                     \
    "fld %%st(3)\n\t"                                                                              \
    "fstpt 64(%[s])\n\t"                                                                           \
    "fld %%st(2)\n\t"                                                                              \
    "fstpt 80(%[s])\n\t"                                                                           \
    "fldl 336(%[c])\n\t"                                                                           \
    "faddl 344(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "fxch %%st(1)\n\t"                                                                             \
    "fmulp %%st, %%st(5)\n\t"                                                                      \
    "fxch %%st(4)\n\t"                                                                             \
    "fldl 368(%[c])\n\t"                                                                           \
    "faddl 376(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "faddp %%st, %%st(6)\n\t"                                                                      \
    "fmulp %%st, %%st(4)\n\t"                                                                      \
    "fxch %%st(3)\n\t"                                                                             \
    "faddp %%st, %%st(3)\n\t"                                                                      \
    "fldl 400(%[c])\n\t"                                                                           \
    "faddl 408(%[c])\n\t"                                                                          \
    "fxch %%st(2)\n\t"                                                                             \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "faddp %%st, %%st(4)\n\t"                                                                      \
    "fxch %%st(1)\n\t"                                                                             \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldt 112(%[s])\n\t"                                                                           \
    "fldt 96(%[s])\n\t"                                                                            \
    "fldl 432(%[c])\n\t"                                                                           \
    "faddl 440(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(5)\n\t"                                                                     \
    "fldl 464(%[c])\n\t"                                                                           \
    "faddl 472(%[c])\n\t"                                                                          \
    "fxch %%st(3)\n\t"                                                                             \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(5)\n\t"                                                                     \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(3)\n\t"                                                                     \
    "fxch %%st(1)\n\t"                                                                             \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "fsubrp %%st, %%st(1)\n\t"                                                                     \
    "fst" T " " STEP "(%[out])\n\t"                                                                \
    "fstpt 96(%[s])\n\t"                                                                           \
    "fst" T " (%[out])\n\t"                                                                        \
    "fstpt 112(%[s])\n\t"                                                                          \
    "add $2*" STEP ", %[x]\n\t"                                                                    \
    "add $2*" STEP ", %[out]\n\t"                                                                  \
    "dec %[n]\n\t"                                                                                 \
    "jnz 1b\n\t"
#define VURNEL_SECTION_PAIRS_4(T, STEP)                                                            \
    ".p2align 6\n\t1:\n\t"                                                                         \
    "fldl 16(%[c])\n\t"                                                                            \
    "faddl 24(%[c])\n\t"                                                                           \
    "fld %%st(0)\n\t"                                                                              \
    "fmul" T " (%[x])\n\t"                                                                         \
    "fxch %%st(1)\n\t"                                                                             \
    "fmul" T " 1*" STEP "(%[x])\n\t"                                                               \
    "fldl 48(%[c])\n\t"                                                                            \
    "faddl 56(%[c])\n\t"                                                                           \
    "fld %%st(0)\n\t"                                                                              \
    "fmul" T " -1*" STEP "(%[x])\n\t"                                                              \
    "faddp %%st, %%st(3)\n\t"                                                                      \
    "fmul" T " (%[x])\n\t"                                                                         \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldl 80(%[c])\n\t"                                                                            \
    "faddl 88(%[c])\n\t"                                                                           \
    "fld %%st(0)\n\t"                                                                              \
    "fmul" T " -2*" STEP "(%[x])\n\t"                                                              \
    "faddp %%st, %%st(3)\n\t"                                                                      \
    "fmul" T " -1*" STEP "(%[x])\n\t"                                                              \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldt 48(%[s])\n\t"                                                                            \
    "fldt 32(%[s])\n\t"                                                                            \
    "fldl 112(%[c])\n\t"                                                                           \
    "faddl 120(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(5)\n\t"                                                                     \
    "fldl 144(%[c])\n\t"                                                                           \
    "faddl 152(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(6)\n\t"                                                                     \
    "fxch %%st(1)\n\t"                                                                             \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(4)\n\t"                                                                     \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(3)\n\t"                                                                     \
    "fld %%st(2)\n\t"                                                                              \
    "fstpt 32(%[s])\n\t"                                                                           \
    "fld %%st(3)\n\t"                                                                              \
    "fstpt 48(%[s])\n\t"                                                                           \
    "fldl 176(%[c])\n\t"                                                                           \
    "faddl 184(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "fxch %%st(1)\n\t"                                                                             \
    "fmulp %%st, %%st(4)\n\t"                                                                      \
    "fxch %%st(3)\n\t"                                                                             \
    "fldl 208(%[c])\n\t"                                                                           \
    "faddl 216(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "faddp %%st, %%st(5)\n\t"                                                                      \
    "fmulp %%st, %%st(5)\n\t"                                                                      \
    "fxch %%st(4)\n\t"                                                                             \
    "faddp %%st, %%st(4)\n\t"                                                                      \
    "fldl 240(%[c])\n\t"                                                                           \
    "faddl 248(%[c])\n\t"                                                                          \
    "fxch %%st(2)\n\t"                                                                             \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "faddp %%st, %%st(3)\n\t"                                                                      \
    "fxch %%st(1)\n\t"                                                                             \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "faddp %%st, %%st(2)\n\t"                                                                      \
    "fldt 80(%[s])\n\t"                                                                            \
    "fldt 64(%[s])\n\t"                                                                            \
    "fldl 272(%[c])\n\t"                                                                           \
    "faddl 280(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(4)\n\t"                                                                     \
    "fldl 304(%[c])\n\t"                                                                           \
    "faddl 312(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(5)\n\t"                                                                     \
    "fxch %%st(1)\n\t"                                                                             \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(5)\n\t"                                                                     \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(4)\n\t"                                                                     \
    "fld %%st(3)\n\t"                                                                              \
    "fstpt 64(%[s])\n\t"                                                                           \
    "fld %%st(2)\n\t"                                                                              \
    "fstpt 80(%[s])\n\t"                                                                           \
    "fldl 336(%[c])\n\t"                                                                           \
    "faddl 344(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "fxch %%st(1)\n\t"                                                                             \
    "fmulp %%st, %%st(5)\n\t"                                                                      \
    "fxch %%st(4)\n\t"                                                                             \
    "fldl 368(%[c])\n\t"                                                                           \
    "faddl 376(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "faddp %%st, %%st(6)\n\t"                                                                      \
    "fmulp %%st, %%st(4)\n\t"                                                                      \
    "fxch %%st(3)\n\t"                                                                             \
    "faddp %%st, %%st(3)\n\t"                                                                      \
    "fldl 400(%[c])\n\t"                                                                           \
    "faddl 408(%[c])\n\t"                                                                          \
    "fxch %%st(2)\n\t"                                                                             \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "faddp %%st, %%st(4)\n\t"                                                                      \
    "fxch %%st(1)\n\t"                                                                             \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "faddp %%st, %%st(1)\n\t"                                                                      \
    "fldt 112(%[s])\n\t"                                                                           \
    "fldt 96(%[s])\n\t"                                                                            \
    "fldl 432(%[c])\n\t"                                                                           \
    "faddl 440(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(5)\n\t"                                                                     \
    "fldl 464(%[c])\n\t"                                                                           \
    "faddl 472(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(4), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(6)\n\t"                                                                     \
    "fxch %%st(1)\n\t"                                                                             \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(4)\n\t"                                                                     \
    "fmul %%st(1), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(3)\n\t"                                                                     \
    "fld %%st(2)\n\t"                                                                              \
    "fstpt 96(%[s])\n\t"                                                                           \
    "fld %%st(3)\n\t"                                                                              \
    "fstpt 112(%[s])\n\t"                                                                          \
    "fldl 496(%[c])\n\t"                                                                           \
    "faddl 504(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(5), %%st\n\t"                                                                       \
    "fxch %%st(1)\n\t"                                                                             \
    "fmulp %%st, %%st(4)\n\t"                                                                      \
    "fxch %%st(3)\n\t"                                                                             \
    "fldl 528(%[c])\n\t"                                                                           \
    "faddl 536(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "faddp %%st, %%st(5)\n\t"                                                                      \
    "fmulp %%st, %%st(5)\n\t"                                                                      \
    "fxch %%st(4)\n\t"                                                                             \
    "faddp %%st, %%st(4)\n\t"                                                                      \
    "fldl 560(%[c])\n\t"                                                                           \
    "faddl 568(%[c])\n\t"                                                                          \
    "fxch %%st(2)\n\t"                                                                             \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "faddp %%st, %%st(3)\n\t"                                                                      \
    "fxch %%st(1)\n\t"                                                                             \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "faddp %%st, %%st(2)\n\t"                                                                      \
    "fldt 144(%[s])\n\t"                                                                           \
    "fldt 128(%[s])\n\t"                                                                           \
    "fldl 592(%[c])\n\t"                                                                           \
    "faddl 600(%[c])\n\t"                                                                          \
    "fld %%st(0)\n\t"                                                                              \
    "fmul %%st(2), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(4)\n\t"                                                                     \
    "fldl 624(%[c])\n\t"                                                                           \
    "faddl 632(%[c])\n\t"                                                                          \
    "fxch %%st(3)\n\t"                                                                             \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(4)\n\t"                                                                     \
    "fmul %%st(3), %%st\n\t"                                                                       \
    "fsubrp %%st, %%st(4)\n\t"                                                                     \
    "fxch %%st(1)\n\t"                                                                             \
    "fmulp %%st, %%st(1)\n\t"                                                                      \
    "fsubrp %%st, %%st(2)\n\t"                                                                     \
    "fxch %%st(1)\n\t"                                                                             \
    "fst" T " " STEP "(%[out])\n\t"                                                                \
    "fstpt 128(%[s])\n\t"                                                                          \
    "fst" T " (%[out])\n\t"                                                                        \
    "fstpt 144(%[s])\n\t"                                                                          \
    "add $2*" STEP ", %[x]\n\t"                                                                    \
    "add $2*" STEP ", %[out]\n\t"                                                                  \
    "dec %[n]\n\t"                                                                                 \
    "jnz 1b\n\t"

template <int K, typename T>
void RunSectionPairs(const T* x, T* out, long pairs, const SplitCoefficient* c,
                     long double (*s)[2]) {
#define VURNEL_SECTIONS_ASM(LOOP)                                                                  \
    __asm__ volatile(LOOP                                                                          \
                     : [x] "+r"(x), [out] "+r"(out), [n] "+r"(pairs)                               \
                     : [c] "r"(c), [s] "r"(s)                                                      \
                     : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", \
                       "st(7)")
    if constexpr (K == 3 && sizeof(T) == 4)
        VURNEL_SECTIONS_ASM(VURNEL_SECTION_PAIRS_3("s", "4"));
    else if constexpr (K == 3)
        VURNEL_SECTIONS_ASM(VURNEL_SECTION_PAIRS_3("l", "8"));
    else if constexpr (sizeof(T) == 4)
        VURNEL_SECTIONS_ASM(VURNEL_SECTION_PAIRS_4("s", "4"));
    else
        VURNEL_SECTIONS_ASM(VURNEL_SECTION_PAIRS_4("l", "8"));
#undef VURNEL_SECTIONS_ASM
}

#undef VURNEL_SECTION_PAIRS_3
#undef VURNEL_SECTION_PAIRS_4

// The section counts that run in pairs (two sections keep their older outputs in registers in the
// loop above and are faster there: 1.45 against 1.78 times the limit on an AMD EPYC).
constexpr bool InPairs(int sections) {
    return sections >= 3 && sections <= 4;
}

std::uint16_t ControlWord() {
    std::uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

// Every coefficient as hi + lo, two normal doubles (or zeros) whose sum is exact, and the x87
// rounding to 64-bit significands (the sum is then exact in any rounding direction).
template <int K> bool SplitSections(const TdspBiquad* sections, SplitCoefficient* c) {
    if ((ControlWord() & 0x0300u) != 0x0300u) return false;
    const auto normal = [](double v) {
        return v == 0.0 || (std::fabs(v) >= 0x1p-1022 && std::fabs(v) <= 0x1p1020);
    };
    for (int k = 0; k < K; ++k) {
        const long double v[5] = {sections[k].B0, sections[k].B1, sections[k].B2, sections[k].A1,
                                  sections[k].A2};
        for (int j = 0; j < 5; ++j) {
            const double hi = static_cast<double>(v[j]);
            const long double rest = v[j] - static_cast<long double>(hi);
            const double lo = static_cast<double>(rest);
            if (!normal(hi) || !normal(lo) || static_cast<long double>(lo) != rest) return false;
            c[5 * k + j] = {v[j], hi, lo};
        }
    }
    return true;
}

// SectionsBlock through RunSections after the first two samples (the first section's input
// history is then the block's own inputs, which the loop reads from a copy); false, having run
// nothing, where the coefficients do not split.
template <int K, typename T>
bool FastSections(const TdspBiquad* sections, long double (*history)[2], const T* input, T* output,
                  int count) {
    SplitCoefficient c[5 * K];
    if (count <= 2 || !SplitSections<K>(sections, c)) return false;
    constexpr int kChunk = 256;
    T xs[2 + kChunk];
    xs[0] = input[0], xs[1] = input[1]; // before the first outputs overwrite them
    SectionsBlock<K, T>(sections, history, input, output, 2);
    if constexpr (InPairs(K)) {
        long double s[K + 1][2];
        for (int k = 1; k <= K; ++k)
            s[k][0] = history[k][0], s[k][1] = history[k][1];
        const int end = count - (count - 2) % 2; // where the pairs end (kChunk is even)
        for (int done = 2; done < end;) {
            const int n = end - done < kChunk ? end - done : kChunk;
            for (int i = 0; i < n; ++i)
                xs[2 + i] = input[done + i];
            RunSectionPairs<K, T>(xs + 2, output + done, n / 2, c, s);
            done += n;
            xs[0] = xs[n], xs[1] = xs[n + 1];
        }
        history[0][0] = xs[1], history[0][1] = xs[0];
        for (int k = 1; k <= K; ++k)
            history[k][0] = s[k][0], history[k][1] = s[k][1];
        if (end < count) SectionsBlock<K, T>(sections, history, input + end, output + end, 1);
        return true;
    }
    long double s[K + 1][2], m[K + 1];
    for (int k = 1; k <= K; ++k)
        s[k][0] = history[k][0], s[k][1] = m[k] = history[k][1];
    int done = 2, n = 0;
    for (;;) {
        n = count - done < kChunk ? count - done : kChunk;
        for (int i = 0; i < n; ++i)
            xs[2 + i] = input[done + i];
        RunSections<K, T>(xs + 2, output + done, n, c, s, m);
        done += n;
        if (done == count) break;
        xs[0] = xs[n], xs[1] = xs[n + 1];
    }
    history[0][0] = xs[n + 1], history[0][1] = xs[n];
    for (int k = 1; k <= K; ++k)
        history[k][0] = s[k][0], history[k][1] = OlderInRegister(K, k) ? s[k][1] : m[k];
    return true;
}

#endif

// The loop for K sections: by hand for two to four on float and double buffers, where it applies.
template <int K, typename T>
void Sections(const TdspBiquad* sections, long double (*history)[2], const T* input, T* output,
              int count) {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(VURNEL_PORTABLE_KERNEL)
    if constexpr (K >= 2 && K <= 4 && sizeof(T) < sizeof(long double))
        if (FastSections<K, T>(sections, history, input, output, count)) return;
#endif
    SectionsBlock<K, T>(sections, history, input, output, count);
}

template <typename T>
using SectionsRoutine = void (*)(const TdspBiquad*, long double (*)[2], const T*, T*, int);

// The largest section count with a loop of its own (an order-8 band design has 8 sections).
constexpr int kSpecialisedSections = 8;

template <typename T, int... K>
SectionsRoutine<T> SelectSections(int count, std::integer_sequence<int, K...>) {
    constexpr SectionsRoutine<T> table[] = {&Sections<K + 1, T>...};
    return count >= 1 && count <= static_cast<int>(sizeof...(K)) ? table[count - 1] : nullptr;
}

} // namespace

template <typename T> void TdspIIRSections::Block(const T* input, T* output, int count) {
    if (count <= 0) return;
    const SectionsRoutine<T> routine =
        FRoutine == TdspSampleRoutine::FilterSample
            ? SelectSections<T>(FNumSections,
                                std::make_integer_sequence<int, kSpecialisedSections>{})
            : nullptr;
    // Zeros (of either sign) run on the silent paths where they apply: the same bits, none of
    // the x87's slow paths.
    const bool silent = routine && AllZeros(input, count) &&
                        SectionsSilentBlock(FNumSections, FSections, FHistory, input, output, count,
                                            FDesignCount, FSilent);
    if (silent) return; // its histories stay finite
    if (routine)
        routine(FSections, FHistory, input, output, count);
    else
        for (int i = 0; i < count; ++i)
            output[i] = static_cast<T>(ProcessSample(input[i]));
    // A value that is not finite stays in the cascade for good: start it again from rest.
    // Looked at as bits, so that no operation touches the values.
    for (int i = 0; i <= FNumSections; ++i)
        if (!ToBits(FHistory[i][0]).IsFinite() || !ToBits(FHistory[i][1]).IsFinite()) {
            Reset();
            break;
        }
}

namespace {

// TdspIIRSections::Cascade with the section count fixed: the histories move by a few loads and
// stores the compiler places, and the loop leaves no branch behind.
template <int K>
long double CascadeOf(const TdspBiquad* sections, long double (*history)[2], long double x) {
#pragma GCC unroll 8
    for (int i = 0; i < K; ++i) {
        const TdspBiquad& s = sections[i];
        long double* in = history[i];
        long double* out = history[i + 1];
        const long double y =
            (((s.B0 * x + s.B1 * in[0]) + s.B2 * in[1]) - s.A1 * out[0]) - s.A2 * out[1];
        in[1] = in[0];
        in[0] = x;
        x = y;
    }
    long double* last = history[K];
    last[1] = last[0];
    last[0] = x;
    return x;
}

} // namespace

long double TdspIIRSections::SilentSample(bool negative) {
    // The zero by a load, not a branch: the signs of silence are often random. (Loaded where it
    // is used: the x87 would carry it across the calls below through memory.)
    static constexpr long double kZeros[2] = {0.0L, -0.0L};
    // The Normal path (every history value safe) decided inline and the plain cascade run with
    // the section count fixed, no further call made.
    if (SectionsSilentSampleIsNormal(FNumSections, FHistory, FDesignCount, FSilent)) {
        const long double x = kZeros[negative ? 1 : 0];
        switch (FNumSections) {
        case 1:
            return CascadeOf<1>(FSections, FHistory, x);
        case 2:
            return CascadeOf<2>(FSections, FHistory, x);
        case 3:
            return CascadeOf<3>(FSections, FHistory, x);
        case 4:
            return CascadeOf<4>(FSections, FHistory, x);
        default:
            return Cascade(x);
        }
    }
    long double y;
    if (const long double* from = SectionsSilentStep(FNumSections, FSections, FHistory, negative, y,
                                                     FDesignCount, FSilent, FStepMemo))
        return *from;
    const long double x = kZeros[negative ? 1 : 0];
    if (SectionsSilentSample(FNumSections, FSections, FHistory, x, y, FDesignCount, FSilent))
        return y;
    return Cascade(x);
}

void TdspIIRSections::ProcessBlock(const long double* input, long double* output, int count) {
    Block(input, output, count);
}
void TdspIIRSections::ProcessBlock(const double* input, double* output, int count) {
    Block(input, output, count);
}
void TdspIIRSections::ProcessBlock(const float* input, float* output, int count) {
    Block(input, output, count);
}

long double TdspIIRSections::GetGain() const {
    long double g = 1.0L;
    for (int i = 0; i < FNumSections; ++i)
        g *= FSections[i].B0;
    return g;
}

bool TdspIIRSections::IsStable() const {
    for (int i = 0; i < FNumSections; ++i) {
        const Quad a1 = FSections[i].A1, a2 = FSections[i].A2;
        const Quad m1 = a1 < 0 ? -a1 : a1, m2 = a2 < 0 ? -a2 : a2;
        if (!(m2 < 1 && m1 < 1 + a2)) return false;
    }
    return true;
}

TdspResponseValue SectionsResponse(const TdspIIRSections& s, long double w) {
    switch (s.GetRoutine()) {
    case TdspSampleRoutine::Silence:
        return {{0.0L, 0.0L}, 0.0L, 1.0L};
    case TdspSampleRoutine::PassThrough:
        return {{1.0L, 0.0L}, 0.0L, 1.0L};
    case TdspSampleRoutine::FilterSample:
        break;
    }
    const TComplex e1 = {std::cos(w), -std::sin(w)}, e2 = {std::cos(2.0L * w), -std::sin(2.0L * w)};
    const TComplex e0 = {1.0L, 0.0L};
    TComplex h = {1.0L, 0.0L};
    long double delay = 0.0L, condition = 0.0L;
    for (int i = 0; i < s.GetNumSections(); ++i) {
        const TdspBiquad& q = s.GetSection(i);
        Sums b, a;
        b.Add(0, q.B0, e0), b.Add(1, q.B1, e1), b.Add(2, q.B2, e2);
        a.Add(0, 1.0L, e0), a.Add(1, q.A1, e1), a.Add(2, q.A2, e2);
        h = CMul(h, CDiv(Complex(b.re, b.im), Complex(a.re, a.im)));
        delay += b.Delay() - a.Delay();
        condition += b.Condition() + a.Condition();
    }
    return {h, delay, condition};
}

} // namespace vurnel::dsp
