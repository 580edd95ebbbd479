// The filter library on silence after sound: every stable design run as the recursion, through the
// block calls (long double, double and float buffers, blocks of several sizes) and ProcessSample,
// on zeros of one sign, of random signs and of alternating signs, keeps the plain computation's
// bits (outputs and histories) down to the states' fixed points and cycles, and no silent block
// takes one of the x87's slow paths: the unit records those in its sticky status flags (an
// operation on a subnormal sets the denormal-operand flag, a result below the normal range the
// underflow flag), so the proof holds on any CPU.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "dspSections.h"

using namespace vurnel::dsp;

namespace {

constexpr unsigned kSlowFlags = 0x02 | 0x10; // denormal operand, underflow

void ClearFlags() {
#if defined(__i386__) || defined(__x86_64__)
    __asm__ volatile("fnclex");
#endif
}

unsigned SlowFlags() {
#if defined(__i386__) || defined(__x86_64__)
    std::uint16_t status;
    __asm__ volatile("fnstsw %0" : "=m"(status));
    return status & kSlowFlags;
#else
    return 0;
#endif
}

bool SameBits(const long double& a, const long double& b) {
    return std::memcmp(&a, &b, 10) == 0;
}
template <typename T> bool SameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// A filter whose histories the test may move: after noise, scaled towards the subnormal range
// (by the exponent field, exactly; what would fall below the normal range becomes a zero), so the
// silence reaches the paths near and in that range within a few thousand samples.
struct Probe : TdspIIRFilter {
    void Lower(int by) {
        for (long double* v : {XV, YV})
            for (int i = 0; i <= NumTaps; ++i) {
                TExtendedBits b = ToBits(v[i]);
                const int e = b.Exponent() - by;
                b = b.IsZero() || e <= 0
                        ? TExtendedBits{0, static_cast<std::uint16_t>(b.signExponent & 0x8000u)}
                        : TExtendedBits{b.mantissa,
                                        static_cast<std::uint16_t>((b.signExponent & 0x8000u) | e)};
                v[i] = FromBits(b);
            }
    }
    long double* X() { return XV; }
    long double* Y() { return YV; }
    long double* D() { return YCoeffs; }
};

// The plain computation: IIRFilterStep on copies of the design and histories.
struct Plain {
    int n;
    long double g, c[MaxPoleZero], d[MaxPoleZero], xv[MaxPoleZero], yv[MaxPoleZero];
    explicit Plain(Probe& f) : n(f.GetNumTaps()), g(f.GetGainFactor()) {
        std::memcpy(c, f.GetXCoeffs(), sizeof c);
        std::memcpy(d, f.GetYCoeffs(), sizeof d);
        std::memcpy(xv, f.X(), sizeof xv);
        std::memcpy(yv, f.Y(), sizeof yv);
    }
    long double Step(long double x) { return IIRFilterStep(n, g, c, d, xv, yv, x); }
};

// The sections' plain computation: Cascade on copies of the sections and histories.
struct PlainCascade {
    int k;
    TdspBiquad s[MaxSections];
    long double h[MaxSections + 1][2] = {};
    explicit PlainCascade(const TdspIIRSections& c) : k(c.GetNumSections()) {
        for (int i = 0; i < k; ++i)
            s[i] = c.GetSection(i);
    }
    long double Step(long double x) {
        for (int i = 0; i < k; ++i) {
            const long double y =
                (((s[i].B0 * x + s[i].B1 * h[i][0]) + s[i].B2 * h[i][1]) - s[i].A1 * h[i + 1][0]) -
                s[i].A2 * h[i + 1][1];
            h[i][1] = h[i][0];
            h[i][0] = x;
            x = y;
        }
        h[k][1] = h[k][0];
        h[k][0] = x;
        return x;
    }
};

bool SameHistories(const TdspIIRFilter& f, const Plain& p) {
    for (int i = 0; i <= p.n; ++i)
        if (!SameBits(f.GetXV()[i], p.xv[i]) || !SameBits(f.GetYV()[i], p.yv[i])) return false;
    return true;
}
bool SameHistories(const TdspIIRSections& c, const PlainCascade& p) {
    for (int i = 0; i <= p.k; ++i)
        if (!SameBits(c.GetHistory(i)[0], p.h[i][0]) || !SameBits(c.GetHistory(i)[1], p.h[i][1]))
            return false;
    return true;
}

template <typename F> std::uint64_t Silent(const F& f) {
    std::uint64_t n = 0;
    for (int p = 0; p < static_cast<int>(TdspSilentPath::Count); ++p)
        n += f.GetSilentSamples(static_cast<TdspSilentPath>(p));
    return n;
}

// Silence in blocks of random sizes (or sample by sample): every block flag-free, on the silent
// paths, with the plain computation's bits.
template <typename T, typename F, typename P>
void Silence(F& f, P& plain, int total, int zeros, bool perSample, std::mt19937& rng) {
    static const int kSizes[] = {1, 5, 64, 300, 1024};
    for (int done = 0; done < total;) {
        const int n = kSizes[rng() % 5];
        std::vector<T> in(n), out(n), expected(n);
        for (int i = 0; i < n; ++i) {
            const bool negative = zeros == 0   ? false
                                  : zeros == 1 ? (rng() & 1) != 0
                                               : ((done + i) & 1) != 0;
            in[i] = negative ? -T(0) : T(0);
            expected[i] = static_cast<T>(plain.Step(in[i]));
        }
        std::vector<long double> ys(n);
        const std::uint64_t before = Silent(f);
        ClearFlags();
        if (perSample) {
            for (int i = 0; i < n; ++i)
                ys[i] = f.ProcessSample(in[i]);
        } else if (n == 300) { // in place
            out = in;
            f.ProcessBlock(out.data(), out.data(), n);
        } else {
            f.ProcessBlock(in.data(), out.data(), n);
        }
        ASSERT_EQ(SlowFlags(), 0u) << "a slow path at sample " << done;
        ASSERT_EQ(Silent(f) - before, static_cast<std::uint64_t>(n)) << "at " << done;
        for (int i = 0; i < n; ++i) {
            if (perSample) out[i] = static_cast<T>(ys[i]);
            ASSERT_TRUE(SameBits(out[i], expected[i])) << "output " << done + i;
        }
        ASSERT_TRUE(SameHistories(f, plain)) << "after " << done + n;
        done += n;
    }
}

// One design: noise, silence; then histories near the subnormal range (the recursion's lowered,
// the sections fed noise that small from rest) and a longer silence; the recursion if it is stable,
// the sections always.
template <typename T>
void RunSilence(const TdspIIRFilterKind kind, TdspIIRFilterResponse response, int order,
                long double rate, int zeros, bool perSample, std::mt19937& rng,
                std::uint64_t (&paths)[2][3]) {
    Probe f;
    f.SetSampleRate(rate);
    f.SetKind(kind);
    f.SetResponse(response);
    f.SetOrder(static_cast<TdspIIRFilterOrder>(order));
    f.SetRipple(1);
    f.SetAttenuation(60);
    f.SetGain(-9);
    f.SetFrequency(1, 700);
    f.SetFrequency(2, 2500);
    TdspIIRSections c(f);
    PlainCascade pc(c);
    SCOPED_TRACE(testing::Message()
                 << "kind " << int(kind) << ", response " << int(response) << ", order " << order
                 << ", " << rate << " Hz, zeros " << zeros << ", " << sizeof(T) << "-byte buffers"
                 << (perSample ? ", ProcessSample" : ""));
    std::uniform_real_distribution<float> noise(-1, 1);
    std::vector<T> sound(300);
    for (T& v : sound)
        v = noise(rng);
    std::vector<long double> faint(64);
    for (long double& v : faint)
        v = noise(rng) * 0x1p-16250L;
    if (f.IsStable()) {
        f.ProcessBlock(sound.data(), sound.data(), 300);
        Plain plain(f);
        Silence<T>(f, plain, 600, zeros, perSample, rng);
        f.Lower(BinaryExponent(f.GetYV()[f.GetNumTaps()]) + 16250);
        Plain lowered(f);
        Silence<T>(f, lowered, 9000, zeros, perSample, rng);
        for (int p = 0; p < 3; ++p)
            paths[0][p] += f.GetSilentSamples(static_cast<TdspSilentPath>(p));
    }
    if (testing::Test::HasFatalFailure()) return;
    std::vector<T> in = sound;
    for (T v : sound)
        pc.Step(v);
    c.ProcessBlock(in.data(), in.data(), 300);
    Silence<T>(c, pc, 600, zeros, perSample, rng);
    c.Reset(); // from rest, as small as the faint noise
    pc = PlainCascade(c);
    for (long double v : faint)
        pc.Step(v);
    c.ProcessBlock(faint.data(), faint.data(), 64);
    Silence<T>(c, pc, 9000, zeros, perSample, rng);
    if (testing::Test::HasFatalFailure()) return;
    c.Reset(); // from rest, within whole units: the first sections fall to zeros, the rest cycle
    pc = PlainCascade(c);
    for (long double& v : faint)
        v = noise(rng) * 0x1p-16420L;
    for (long double v : faint)
        pc.Step(v);
    c.ProcessBlock(faint.data(), faint.data(), 64);
    Silence<T>(c, pc, 3000, zeros, perSample, rng);
    if (testing::Test::HasFatalFailure()) return;
    if (c.GetNumSections() == 2) { // the first section in whole units, the second far larger
        c.Reset();
        pc = PlainCascade(c);
        // Outputs in float's normal range, below it, far below it and double's the same way.
        const int exponents[] = {-100, -160, -700, -1050, -3000};
        const long double scale = std::ldexp(1.0L, exponents[rng() % 5]);
        for (int j = 0; j < 2; ++j) {
            const long double units = FromBits(
                {rng() % (1u << 30) + 1, static_cast<std::uint16_t>(rng() & 1 ? 0x8000u : 0u)});
            const long double large = noise(rng) * scale;
            pc.h[1][j] = units, pc.h[2][j] = large;
            const_cast<long double*>(c.GetHistory(1))[j] = units;
            const_cast<long double*>(c.GetHistory(2))[j] = large;
        }
        Silence<T>(c, pc, 3000, zeros, perSample, rng);
    }
    for (int p = 0; p < 3; ++p)
        paths[1][p] += c.GetSilentSamples(static_cast<TdspSilentPath>(p));
}

} // namespace

TEST(FilterSilence, EveryDesignKeepsThePlainBitsOnSilenceAndTakesNoSlowPath) {
    std::mt19937 rng(35);
    const long double rates[] = {22050, 44100, 48000, 96000};
    std::uint64_t paths[2][3] = {};
    int run = 0;
    for (int kind = fkButterworth; kind <= fkElliptic; ++kind)
        for (int response = ftLowpass; response <= ftHighShelf; ++response)
            for (int order = 1; order <= 8; ++order) {
                if (response >= ftLowShelf && kind != fkButterworth) continue;
                const auto k = static_cast<TdspIIRFilterKind>(kind);
                const auto r = static_cast<TdspIIRFilterResponse>(response);
                const long double rate = rates[run % 4];
                const int zeros = run / 3 % 3;
                const bool perSample = run % 5 == 0;
                if (run % 3 == 0)
                    RunSilence<float>(k, r, order, rate, zeros, perSample, rng, paths);
                if (run % 3 == 1)
                    RunSilence<double>(k, r, order, rate, zeros, perSample, rng, paths);
                if (run % 3 == 2)
                    RunSilence<long double>(k, r, order, rate, zeros, perSample, rng, paths);
                if (HasFatalFailure()) return;
                ++run;
            }
    // Sample by sample on zeros of random sign, a cascade whose first section has only zeros while
    // the next ones repeat and the last still decays: the zeros' signs within a repeating run.
    RunSilence<long double>(fkChebyshev, ftBandstop, 8, 22050, 1, true, rng, paths);
    if (HasFatalFailure()) return;
    // Every silent path ran, for the recursion and the sections: the usual loop on safe
    // histories, the integers, the cycles.
    for (int p = 0; p < 3; ++p)
        EXPECT_TRUE(paths[0][p] > 0 && paths[1][p] > 0) << "path " << p;
}

// The narrowing by integer means against the x87's own stores: values above, within and below
// the float and double ranges, ties included.
TEST(FilterSilence, IntegerNarrowingGivesTheX87sStores) {
    std::mt19937_64 rng(36);
    int differ = 0;
    for (int i = 0; i < 200000; ++i) {
        const int e = i % 2 ? 16383 - 1100 + static_cast<int>(rng() % 2140) // double's range
                            : 16383 - 160 + static_cast<int>(rng() % 300);  // float's
        TExtendedBits b{rng() | (std::uint64_t{1} << 63),
                        static_cast<std::uint16_t>(e | ((rng() & 1) << 15))};
        if (i % 3 == 0) b.mantissa &= ~((std::uint64_t{1} << (rng() % 63)) - 1); // ties, exact
        const long double v = FromBits(b);
        const float f = static_cast<float>(v);
        const double d = static_cast<double>(v);
        std::uint32_t fb;
        std::uint64_t db;
        std::memcpy(&fb, &f, 4);
        std::memcpy(&db, &d, 8);
        differ += fb != NarrowedFloatBits(b) || db != NarrowedDoubleBits(b);
    }
    EXPECT_EQ(differ, 0);
}

// Three sections (a Butterworth lowpass of order 6) for a test to set by hand.
TdspIIRSections ThreeSections() {
    TdspIIRFilter f;
    f.SetSampleRate(48000);
    f.SetOrder(static_cast<TdspIIRFilterOrder>(6));
    return TdspIIRSections(f);
}

// Coefficients of few significant bits make products of whole units exact halves (ties), which
// designs seldom do: the whole-unit loops of the sections and of the recursion round them to even
// as the x87 does.
TEST(FilterSilence, WholeUnitTiesRoundToEvenAsTheX87Does) {
    std::mt19937 rng(37);
    TdspIIRSections c = ThreeSections();
    ASSERT_EQ(c.GetNumSections(), 3);
    for (int i = 0; i < 3; ++i) { // poles at 0.75, twice; products of 0.5, 0.75, 1.5 and 9/16
        TdspBiquad& s = const_cast<TdspBiquad&>(c.GetSection(i));
        s.B0 = 0.5L, s.B1 = 0.75L, s.B2 = 0.5L, s.A1 = -1.5L, s.A2 = 0.5625L;
    }
    PlainCascade pc(c);
    for (int i = 1; i <= 3; ++i)
        for (int j = 0; j < 2; ++j) {
            const long double units = FromBits(
                {(rng() % (1u << 30)) | 1u, static_cast<std::uint16_t>(rng() & 1 ? 0x8000u : 0u)});
            pc.h[i][j] = units;
            const_cast<long double*>(c.GetHistory(i))[j] = units;
        }
    Silence<float>(c, pc, 3000, 1, false, rng);
    EXPECT_GT(c.GetSilentSamples(TdspSilentPath::Integer), 0u);
    // One coefficient that can make a tie (A2 = 0.5: odd values) among ones that cannot: the
    // loops still round it to even.
    c = ThreeSections();
    for (int i = 0; i < 3; ++i) {
        TdspBiquad& s = const_cast<TdspBiquad&>(c.GetSection(i));
        s.B0 = 0.3L, s.B1 = 0.6L, s.B2 = 0.3L, s.A1 = -1.3L, s.A2 = 0.5L;
    }
    pc = PlainCascade(c);
    for (int i = 1; i <= 3; ++i)
        for (int j = 0; j < 2; ++j)
            pc.h[i][j] = const_cast<long double*>(c.GetHistory(i))[j] = FromBits(
                {(rng() % (1u << 30)) | 1u, static_cast<std::uint16_t>(rng() & 1 ? 0x8000u : 0u)});
    Silence<float>(c, pc, 3000, 1, false, rng);
    // The recursion of two taps with the same poles (1.5 and −9/16 as its feedback coefficients).
    Probe r;
    r.SetSampleRate(48000);
    r.SetOrder(static_cast<TdspIIRFilterOrder>(2));
    ASSERT_EQ(r.GetNumTaps(), 2);
    r.D()[0] = -0.5625L, r.D()[1] = 1.5L;
    for (int i = 0; i <= 2; ++i)
        r.Y()[i] = FromBits(
            {(rng() % (1u << 30)) | 1u, static_cast<std::uint16_t>(rng() & 1 ? 0x8000u : 0u)});
    Plain pr(r);
    Silence<float>(r, pr, 3000, 1, false, rng);
    EXPECT_GT(r.GetSilentSamples(TdspSilentPath::Integer), 0u);
}

// The whole-unit loop and step carry outputs up to the bound where the sum of the products'
// magnitudes could reach 2^63 units, and no further: sixteen feedback coefficients near 2 (their
// magnitudes' sum D about 24), histories of one magnitude v whose products all take one sign, with
// v·D from 2^61 to just below 2^64 (a sum a 64-bit integer would wrap into the loop's range); and a
// coefficient whose products at 2^57 units are exact halves (ties), which whole units below
// 2^(smallest shift − 6) cannot make.
TEST(FilterSilence, WholeUnitsUpToTheirBoundKeepTheX87sBits) {
    std::mt19937 rng(38);
    std::mt19937_64 wide(38);
    for (int j = -2; j <= 12; ++j)
        for (const bool perSample : {false, true}) {
            Probe r;
            r.SetSampleRate(48000);
            r.SetResponse(ftBandpass);
            r.SetOrder(static_cast<TdspIIRFilterOrder>(8));
            ASSERT_EQ(r.GetNumTaps(), 16);
            long double sum = 0;
            for (int k = 0; k < 16; ++k) {
                r.D()[k] = FromBits({(wide() >> 1) | (std::uint64_t{1} << 63),
                                     static_cast<std::uint16_t>(16383 | (wide() & 0x8000u))});
                sum += std::fabs(r.D()[k]);
            }
            r.ProcessSample(0.0L); // the silent state set up for this design
            // v·D = 2^64·(1 − 2^-j) (2^61 and 2^62 for j = −2, −1).
            const long double target =
                j < 0 ? std::ldexp(1.0L, 63 + j) : 0x1p64L - std::ldexp(0x1p64L, -j);
            const std::uint64_t v = static_cast<std::uint64_t>(target / sum);
            for (int k = 0; k < 16; ++k)
                r.Y()[k + 1] = FromBits(
                    {v, ToBits(r.D()[k]).IsNegative() ? std::uint16_t{0x8000} : std::uint16_t{0}});
            Plain pr(r);
            Silence<float>(r, pr, 64, 1, perSample, rng);
            if (HasFatalFailure()) return;
        }
    Probe r;
    r.SetSampleRate(48000);
    r.SetOrder(static_cast<TdspIIRFilterOrder>(2));
    r.D()[0] = -0.3L, r.D()[1] = 1.0625L + 0x1p-58L; // 1 and 5 trailing zero bits
    r.Y()[1] = 0x3p-16388L, r.Y()[2] = 0x1p-16388L;  // 3·2^57 and 2^57 units
    Plain pr(r);
    const float zero = 0;
    float out;
    ClearFlags();
    r.ProcessBlock(&zero, &out, 1); // the tie's sample alone: later ones decay to the same bits
    EXPECT_EQ(SlowFlags(), 0u);
    pr.Step(0.0L);
    EXPECT_TRUE(SameHistories(r, pr));
    EXPECT_EQ(r.GetSilentSamples(TdspSilentPath::Integer), 1u);
}

// A section whose products all round to zeros makes a zero whose sign its own operands' signs
// decide (a Bessel bandpass's second section settles so, its input one unit). Behind a live
// section it still takes part in a cycle: here a first section at a fixed point of −1 unit, a
// second whose products of it are −0 and whose outputs alternate −0 and +0, and a third at a
// fixed point of 1 unit. The cascade freezes, and the zeros' signs stay the plain computation's.
TEST(FilterSilence, ACascadeWithASectionOfZeroProductsBehindALiveOneFreezes) {
    std::mt19937 rng(38);
    TdspIIRSections c = ThreeSections();
    ASSERT_EQ(c.GetNumSections(), 3);
    const TdspBiquad sections[3] = {{0.5L, 0.75L, 0.5L, -1.5L, 0.5625L},
                                    {0.25L, 0.25L, 0.25L, 0.5L, -0.25L},
                                    {0.5L, 0.75L, 0.5L, -1.5L, 0.5625L}};
    const long double unit = FromBits({1, 0}),
                      history[4][2] = {{0.0L, 0.0L}, {-unit, -unit}, {0.0L, -0.0L}, {unit, unit}};
    for (int i = 0; i < 3; ++i)
        const_cast<TdspBiquad&>(c.GetSection(i)) = sections[i];
    PlainCascade pc(c);
    for (int i = 0; i <= 3; ++i)
        for (int j = 0; j < 2; ++j)
            pc.h[i][j] = const_cast<long double*>(c.GetHistory(i))[j] = history[i][j];
    Silence<float>(c, pc, 3000, 1, false, rng);
    Silence<float>(c, pc, 3000, 1, true, rng);
    EXPECT_GT(c.GetSilentSamples(TdspSilentPath::Frozen), 0u);
    // The same ahead of a third section still far above whole units: the block calls then run
    // the cascade a section at a time, the second section's zeros too.
    c.Reset();
    pc = PlainCascade(c);
    for (int i = 0; i <= 3; ++i)
        for (int j = 0; j < 2; ++j)
            pc.h[i][j] = const_cast<long double*>(c.GetHistory(i))[j] =
                i < 3 ? history[i][j] : std::ldexp(j == 0 ? -0.5L : 0.75L, -16000);
    Silence<float>(c, pc, 3000, 1, false, rng);
}

// Above the whole-unit loops' bounds the recursion runs on the x87 in units, its products below
// 2^63 units rounded to whole units by integers: a Bessel bandstop of order 7 at 96 kHz (feedback
// coefficients up to 2^11.5) from histories of 2^50 to 2^55 units, whose products fall on both
// sides of 2^63 units; then two taps of −1.5 and 3/8 from histories of 2^59 to 2^62 units, whose
// products of odd values, and of values of 4 modulo 8, are exact halves (ties). Block calls and
// ProcessSample.
TEST(FilterSilence, ProductsOnBothSidesOfTheNormalRangeKeepTheX87sBits) {
    std::mt19937 rng(39);
    for (const bool perSample : {false, true}) {
        SCOPED_TRACE(perSample ? "ProcessSample" : "blocks");
        Probe r;
        r.SetSampleRate(96000);
        r.SetKind(fkBessel);
        r.SetResponse(ftBandstop);
        r.SetOrder(static_cast<TdspIIRFilterOrder>(7));
        r.SetFrequency(1, 700);
        r.SetFrequency(2, 2500);
        ASSERT_EQ(r.GetNumTaps(), 14);
        for (int k = 0; k <= 14; ++k)
            r.Y()[k] = FromBits({(std::uint64_t{1} << (50 + rng() % 5)) | rng(),
                                 static_cast<std::uint16_t>(rng() & 1 ? 0x8000u : 0u)});
        Plain pr(r);
        Silence<float>(r, pr, 20000, 1, perSample, rng);
        if (HasFatalFailure()) return;
    }
    std::mt19937_64 wide(39);
    for (int trial = 0; trial < 400; ++trial) {
        Probe r;
        r.SetSampleRate(48000);
        r.SetOrder(static_cast<TdspIIRFilterOrder>(2));
        r.D()[0] = 0.375L, r.D()[1] = -1.5L;
        for (int k = 0; k <= 2; ++k)
            r.Y()[k] = FromBits({(std::uint64_t{1} << (59 + wide() % 3)) | (wide() >> 5),
                                 static_cast<std::uint16_t>(wide() & 1 ? 0x8000u : 0u)});
        Plain pr(r);
        Silence<float>(r, pr, 16, 1, trial % 2 != 0, rng);
        if (HasFatalFailure()) return;
    }
}

// The usual silent loop on float and double buffers (two samples at a time from five taps; the
// checked loop where there is none) leaves right after the first output that is a zero or not
// above the bound it is given, whichever sample of a pair that is, with the plain computation's
// outputs and histories up to there and no flag: band designs of 4 to 16 taps after sound,
// their outputs moved far below float's and double's ranges, inputs silent, the bound the
// exponent field of an output further on.
TEST(FilterSilence, TheUsualLoopLeavesAfterTheFirstOutputNotAboveTheBound) {
    std::mt19937 rng(39);
    int leftAfter[2] = {}; // exits at an even and at an odd sample of the block
    const auto run = [&](auto zero, int order) {
        using T = decltype(zero);
        constexpr int kCount = 4000;
        Probe f;
        f.SetSampleRate(48000);
        f.SetResponse(ftBandpass);
        f.SetOrder(static_cast<TdspIIRFilterOrder>(order));
        f.SetFrequency(1, 700);
        f.SetFrequency(2, 2500);
        const int n = f.GetNumTaps();
        std::vector<T> in(kCount), out(kCount), expected(kCount);
        for (T& v : in)
            v = std::uniform_real_distribution<float>(-1, 1)(rng);
        f.ProcessBlock(in.data(), out.data(), kCount);
        f.Lower(BinaryExponent(f.GetYV()[n]) + 2000);
        for (int i = 0; i <= n; ++i)
            f.X()[i] = 0;
        unsigned lowest = 0x7fff; // the histories' smallest exponent field
        for (int i = 1; i <= n; ++i)
            lowest = std::min(lowest, ToBits(f.GetYV()[i]).signExponent & 0x7fffu);
        for (int trial = 0; trial < 6; ++trial) {
            Plain plain(f), start(f);
            std::vector<unsigned> field(kCount);
            for (int i = 0; i < kCount; ++i) {
                in[i] = rng() & 1 ? -T(0) : T(0);
                const long double y = plain.Step(in[i]);
                expected[i] = static_cast<T>(y);
                field[i] = ToBits(y).signExponent & 0x7fffu;
            }
            // The bound: the field of an output below every history's, from a random sample on.
            int at = static_cast<int>(rng() % 2000);
            while (at < kCount && field[at] >= lowest)
                ++at;
            ASSERT_LT(at, kCount);
            const unsigned limit = field[at];
            int leaves = 0;
            while (field[leaves] - 1u >= limit)
                ++leaves;
            plain = start;
            for (int i = 0; i <= leaves; ++i)
                plain.Step(in[i]);
            SCOPED_TRACE(testing::Message() << n << " taps, " << sizeof(T) << "-byte buffers");
            ClearFlags();
            int ran = IIRFilterNarrowedBlock(n, start.g, start.c, start.d, start.xv, start.yv,
                                             in.data(), out.data(), kCount, limit);
            std::vector<long double> ys(kCount);
            const bool checked = ran < 0; // no such loop here: the checked block, narrowed after
            if (checked)
                ran = IIRFilterCheckedBlock(n, start.g, start.c, start.d, start.xv, start.yv,
                                            in.data(), ys.data(), kCount, limit);
            ASSERT_EQ(SlowFlags(), 0u);
            for (int i = 0; checked && i < ran; ++i)
                out[i] = static_cast<T>(ys[i]);
            ASSERT_EQ(ran, leaves + 1);
            for (int i = 0; i < ran; ++i)
                ASSERT_TRUE(SameBits(out[i], expected[i])) << "output " << i;
            for (int i = 0; i <= n; ++i)
                ASSERT_TRUE(SameBits(start.xv[i], plain.xv[i]) &&
                            SameBits(start.yv[i], plain.yv[i]))
                    << "history " << i;
            ++leftAfter[leaves % 2];
        }
    };
    for (int order = 2; order <= 8; ++order) {
        run(0.0f, order);
        run(0.0, order);
        if (HasFatalFailure()) return;
    }
    EXPECT_TRUE(leftAfter[0] > 0 && leftAfter[1] > 0);
}

// A long silence through the sections' block calls in place keeps the bits of separate buffers,
// outputs and histories, where the first sections fall to rest ahead of ones still ringing (the
// designs of three cascades where in-place blocks once left the input history's zeros with the
// outputs' signs).
TEST(FilterSilence, InPlaceBlocksKeepTheBitsOfSeparateBuffersBehindSectionsAtRest) {
    struct Design {
        TdspIIRFilterKind kind;
        TdspIIRFilterResponse response;
        int order;
    };
    for (const Design d : {Design{fkBessel, ftBandpass, 2}, Design{fkBessel, ftBandpass, 3},
                           Design{fkChebyshev2, ftBandstop, 4}}) {
        TdspIIRFilter f;
        f.SetSampleRate(22050);
        f.SetKind(d.kind);
        f.SetResponse(d.response);
        f.SetOrder(static_cast<TdspIIRFilterOrder>(d.order));
        f.SetAttenuation(60);
        f.SetFrequency(1, 700);
        f.SetFrequency(2, 2500);
        TdspIIRSections separate(f), inPlace(f);
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> noise(-1, 1);
        std::vector<float> in(512), out(512), both(512);
        bool same = true;
        for (int block = 0; block < 1000 && same; ++block) {
            for (float& v : in)
                v = block < 20 ? noise(rng) : (rng() & 1) ? -0.0f : 0.0f;
            both = in;
            separate.ProcessBlock(in.data(), out.data(), 512);
            inPlace.ProcessBlock(both.data(), both.data(), 512);
            same = std::memcmp(out.data(), both.data(), sizeof(float) * 512) == 0;
            for (int i = 0; i <= separate.GetNumSections(); ++i)
                for (int j = 0; j < 2; ++j)
                    same = same && SameBits(separate.GetHistory(i)[j], inPlace.GetHistory(i)[j]);
            EXPECT_TRUE(same) << "kind " << int(d.kind) << ", response " << int(d.response)
                              << ", order " << d.order << ", block " << block;
        }
    }
}
