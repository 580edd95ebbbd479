#include "dspStability.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dspIIRFilters.h"

namespace vurnel::dsp {

namespace {

__extension__ typedef __float128 Quad;

Quad Abs(Quad x) {
    return x < 0 ? -x : x;
}

template <typename T> struct Cx { T re, im; };
template <typename T> Cx<T> operator+(Cx<T> a, Cx<T> b) {
    return {a.re + b.re, a.im + b.im};
}
template <typename T> Cx<T> operator-(Cx<T> a, Cx<T> b) {
    return {a.re - b.re, a.im - b.im};
}
template <typename T> Cx<T> operator*(Cx<T> a, Cx<T> b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
template <typename T> Cx<T> operator/(Cx<T> a, Cx<T> b) {
    const T d = b.re * b.re + b.im * b.im;
    return {(a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d};
}
template <typename T> T Norm(Cx<T> z) {
    return z.re * z.re + z.im * z.im;
}

// Aberth steps on the monic polynomial with coefficients c[0..n] (c[n] = 1): each root moves by
// δ = (p/p′) / (1 − (p/p′)·Σ 1/(z_i − z_j)). Only p itself needs the precision of T (the roots
// it converges to are where p vanishes); p′, the sum and the division are carried in the
// extended format. A root is found when |p| is within the rounding of its own evaluation
// (`unit` per operation of Horner's scheme); true when all are, false after `steps`.
template <typename T> bool Aberth(const T* c, int n, Cx<T>* z, int steps, long double unit) {
    using L = long double;
    Cx<L> zl[MaxPoleZero];
    for (int i = 0; i < n; ++i)
        zl[i] = {static_cast<L>(z[i].re), static_cast<L>(z[i].im)};
    for (int step = 0; step < steps; ++step) {
        bool settled = true;
        for (int i = 0; i < n; ++i) {
            Cx<T> p{c[n], 0};
            Cx<L> dp{0, 0};
            const L radius = std::sqrt(Norm(zl[i]));
            L bound = 1; // Σ |c_k|·|z|^k
            for (int k = n - 1; k >= 0; --k) {
                dp = dp * zl[i] + Cx<L>{static_cast<L>(p.re), static_cast<L>(p.im)};
                p = p * z[i] + Cx<T>{c[k], 0};
                bound = bound * radius + std::fabs(static_cast<L>(c[k]));
            }
            const Cx<L> pl{static_cast<L>(p.re), static_cast<L>(p.im)};
            const L noise = 8 * n * unit * bound;
            if (Norm(pl) <= noise * noise) continue; // as near a root as T can tell
            settled = false;
            const Cx<L> ratio = pl / dp; // p/p′
            Cx<L> sum{0, 0};
            for (int j = 0; j < n; ++j)
                if (j != i) sum = sum + Cx<L>{1, 0} / (zl[i] - zl[j]);
            const Cx<L> delta = ratio / (Cx<L>{1, 0} - ratio * sum);
            if (!(Norm(delta) == Norm(delta))) return false; // a NaN: give up
            z[i] = z[i] - Cx<T>{static_cast<T>(delta.re), static_cast<T>(delta.im)};
            zl[i] = {static_cast<L>(z[i].re), static_cast<L>(z[i].im)};
        }
        if (settled) return true;
    }
    return false;
}

// Whether z^n − Σ yCoeffs[k]·z^k vanishes exactly at z = s (s = +1 or −1). The rounding of the
// expansion can leave a root exactly on the unit circle there, where the Schur–Cohn steps in 113
// bits cannot tell it from one just inside. A sum in the extended format that stays clear of 0 by
// far more than its rounding (even at the 24-bit precision a host may set) settles it at once;
// otherwise the coefficients are summed exactly on integers, each extended value being its 64-bit
// significand times a power of two. Coefficients whose exponents span more than the
// accumulator's 1984 bits are taken not to cancel.
bool VanishesAt(const long double* yCoeffs, int n, int s) {
    long double terms[MaxPoleZero];
    long double sum = 0.0L, magnitude = 0.0L;
    for (int k = 0; k <= n; ++k) {
        const long double c = k == n ? 1.0L : -yCoeffs[k];
        terms[k] = (s < 0 && k % 2 == 1) ? -c : c;
        if (!std::isfinite(terms[k])) return false;
        sum += terms[k];
        magnitude += std::fabs(terms[k]);
    }
    if (std::fabs(sum) > magnitude * (n + 1) * 0x1p-20L) return false;

    // The significand, the biased exponent and the sign of each term (x87 extended layout:
    // 64-bit significand with its integer bit, then sign and 15-bit exponent).
    constexpr int kLimbs = 34;
    std::uint64_t significand[MaxPoleZero];
    int exponent[MaxPoleZero];
    bool negative[MaxPoleZero];
    int lowest = 0x7fff;
    for (int k = 0; k <= n; ++k) {
        unsigned char bytes[sizeof(long double)];
        std::memcpy(bytes, &terms[k], sizeof bytes);
        std::memcpy(&significand[k], bytes, 8);
        const unsigned top = bytes[8] | (static_cast<unsigned>(bytes[9]) << 8);
        negative[k] = (top & 0x8000u) != 0;
        exponent[k] = static_cast<int>(top & 0x7fffu);
        if (exponent[k] == 0) exponent[k] = 1; // subnormal: the same scale as the smallest normal
        if (significand[k] != 0 && exponent[k] < lowest) lowest = exponent[k];
    }
    // The positive terms and the magnitudes of the negative ones, summed apart; the sum
    // vanishes when the two agree.
    std::uint64_t sums[2][kLimbs] = {};
    bool any = false;
    for (int k = 0; k <= n; ++k) {
        const std::uint64_t m = significand[k];
        if (m == 0) continue;
        any = true;
        const int shift = exponent[k] - lowest;
        if (shift > 64 * (kLimbs - 3)) return false;
        std::uint64_t* acc = sums[negative[k] ? 1 : 0];
        const int limb = shift / 64, bit = shift % 64;
        const std::uint64_t low = m << bit, high = bit ? m >> (64 - bit) : 0;
        acc[limb] += low;
        const std::uint64_t before = acc[limb + 1];
        acc[limb + 1] += high + (acc[limb] < low ? 1 : 0); // high < 2^63: no overflow here
        std::uint64_t carry = acc[limb + 1] < before ? 1 : 0;
        for (int i = limb + 2; carry != 0 && i < kLimbs; ++i)
            carry = (acc[i] += carry) == 0 ? 1 : 0;
    }
    for (int i = 0; i < kLimbs; ++i)
        if (sums[0][i] != sums[1][i]) return false;
    return any;
}

} // namespace

bool RecursionIsStable(const long double* yCoeffs, int n) {
    if (n <= 0) return true;
    if (n >= MaxPoleZero) return false;
    if (n == 1) return std::fabs(yCoeffs[0]) < 1.0L; // the root is yCoeffs[0] itself
    // Step down: p(z) of degree m with leading c[m]; r = c[0]/c[m] must lie inside the unit
    // circle, and then (p(z) − r·z^m·p(1/z)) / z, of degree m − 1, must have its roots inside.
    Quad a[MaxPoleZero], b[MaxPoleZero];
    Quad* c = a;
    Quad* next = b;
    for (int k = 0; k < n; ++k)
        c[k] = -static_cast<Quad>(yCoeffs[k]);
    c[n] = 1;
    for (int m = n; m >= 1; --m) {
        const Quad r = c[0] / c[m];
        if (!(Abs(r) < 1)) return false; // also for a NaN
        for (int j = 0; j < m; ++j)
            next[j] = c[j + 1] - r * c[m - 1 - j];
        Quad* t = c;
        c = next;
        next = t;
    }
    return !VanishesAt(yCoeffs, n, 1) && !VanishesAt(yCoeffs, n, -1);
}

bool RecursionRoots(const long double* yCoeffs, int n, const TComplex* seeds, TComplex* roots) {
    if (n <= 0) return true;
    if (n >= MaxPoleZero) return false;
    long double cl[MaxPoleZero];
    Quad cq[MaxPoleZero];
    for (int k = 0; k < n; ++k) {
        cl[k] = -yCoeffs[k];
        cq[k] = -static_cast<Quad>(yCoeffs[k]);
    }
    cl[n] = 1;
    cq[n] = 1;
    // The iteration needs distinct starting points: move each seed a little, each its own way.
    Cx<long double> zl[MaxPoleZero];
    for (int i = 0; i < n; ++i) {
        const long double turn = 0.4L + 0.1L * static_cast<long double>(i);
        const long double nudge = 1e-7L * (1.0L + static_cast<long double>(i) / n);
        zl[i] = {seeds[i].re + nudge * std::cos(turn), seeds[i].im + nudge * std::sin(turn)};
    }
    Aberth(cl, n, zl, 60, 0x1p-64L);
    Cx<Quad> zq[MaxPoleZero];
    for (int i = 0; i < n; ++i)
        zq[i] = {static_cast<Quad>(zl[i].re), static_cast<Quad>(zl[i].im)};
    const bool settled = Aberth(cq, n, zq, 100, 0x1p-113L);
    for (int i = 0; i < n; ++i)
        roots[i] = {static_cast<long double>(zq[i].re), static_cast<long double>(zq[i].im)};
    return settled;
}

} // namespace vurnel::dsp
