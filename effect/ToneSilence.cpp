#include "ToneSilence.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "ToneKernel.h"
#include "dspExtendedBits.h"

namespace vurnel {
namespace {

using dsp::AddZeros;
using dsp::MulBits;
using dsp::SumIsNegative;
using dsp::TExtendedBits;

// The loops live in functions of their own, so the compiler allocates the x87 registers for
// each loop alone (inlined into the large dispatcher, their values would go through memory).
#if defined(__GNUC__)
#define VURNEL_LOOP __attribute__((noinline))
#else
#define VURNEL_LOOP
#endif

// Values at or above 2^kSafe, their products by values of the same kind, and the nonzero
// differences of two of them (at least a unit in the last place of the smaller) are normal.
constexpr int kSafe = -16382 + 64;
// The binary exponent given to a zero: below every other.
constexpr int kZeroExponent = INT_MIN / 4;
// Outputs below 2^kZeroOutput round to a zero (half the smallest float is 2^-150).
constexpr int kZeroOutput = -151;
// Outputs at or above 2^kNormalOutput are normal floats.
constexpr int kNormalOutput = -126;

// These helpers read values as bits: an x87 comparison or classification of a subnormal takes
// the same microcode assist as arithmetic on it.
bool IsZero(const long double& v) {
    return BitsOf(v).IsZero();
}

int ExponentOf(const long double& v) {
    const TExtendedBits b = BitsOf(v);
    return b.IsZero() ? kZeroExponent : dsp::BinaryExponent(b);
}

std::uint32_t FloatBits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

bool IsNegative(float f) {
    return (FloatBits(f) >> 31) != 0;
}

bool IsZero(float f) {
    return (FloatBits(f) & 0x7FFFFFFFu) == 0;
}

// Writes an extended value from its bits with integer stores: loading it on the x87 to store it
// costs an 80-bit load and store, and a subnormal one the slow path.
void SetBits(long double& v, TExtendedBits b) {
    unsigned char raw[10];
    std::memcpy(raw, &b.mantissa, 8);
    raw[8] = static_cast<unsigned char>(b.signExponent);
    raw[9] = static_cast<unsigned char>(b.signExponent >> 8);
    std::memcpy(&v, raw, sizeof raw);
}

float FloatOfBits(std::uint32_t b) {
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

int ExponentOf(float v) {
    return IsZero(v) ? kZeroExponent : dsp::BinaryExponent(static_cast<long double>(v));
}

// A value certain to round to a zero under rounding to nearest: the zero of its sign.
inline float ZeroOfSign(long double v) {
    return std::signbit(v) ? -0.0f : 0.0f;
}

struct ControlWord {
    bool nearest;  // rounding to nearest even
    bool extended; // 64-bit significands (what MulBits reproduces)
};

std::uint16_t ControlWordBits() {
#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
    std::uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
#else
    return 0x0C00; // not known: no path that needs rounding to nearest
#endif
}

ControlWord ReadControlWord() {
    const std::uint16_t word = ControlWordBits();
    return {(word & 0x0C00u) == 0, (word & 0x0300u) == 0x0300u};
}

// What the block's input is: all zeros, and whether all the same zero; or, not all zeros,
// whether every sample lies below kTinyInput.
struct InputKind {
    bool zero;
    bool same;
    std::uint32_t bits; // the first sample's
    bool tiny = false;
};

constexpr std::uint32_t kTinyBits = 0x1F800000u; // kTinyInput's bits

// Whether any of the values is a float subnormal (an x87 operand that takes the slow path).
bool AnySubnormal(const float* v, std::int32_t frames) {
    std::uint32_t found = 0;
    for (std::int32_t i = 0; i < frames; ++i) {
        const std::uint32_t b = FloatBits(v[i]);
        found |= static_cast<std::uint32_t>((b & 0x7F800000u) == 0) & ((b & 0x7FFFFFu) != 0);
    }
    return found != 0;
}

InputKind Scan(const float* in, std::int32_t frames) {
    const std::uint32_t first = FloatBits(in[0]);
    std::uint32_t any = 0, differ = 0, largest = 0;
    for (std::int32_t i = 0; i < frames; ++i) {
        const std::uint32_t b = FloatBits(in[i]);
        const std::uint32_t magnitude = b & 0x7FFFFFFFu;
        any |= magnitude;
        differ |= b ^ first;
        largest = magnitude > largest ? magnitude : largest;
    }
    return {any == 0, differ == 0, first, largest < kTinyBits};
}

// How one filter's state can move over a block of zeros: |state| < 2^high throughout, and,
// unless it stays zero, |state| ≥ 2^low or it is zero.
struct Outlook {
    int low, high;
    bool zero; // the state is zero and stays zero
};

Outlook Foresee(const SilentFilter& f, std::int32_t frames) {
    const int ey = ExponentOf(f.prevY), eu = ExponentOf(f.prevT);
    if (IsZero(f.prevY) && IsZero(f.prevT)) return {kZeroExponent, kZeroExponent, true};
    if (f.decay == 0) return {kZeroExponent, INT_MAX / 4, false}; // it may not shrink at all
    const int loss =
        static_cast<int>(
            (static_cast<std::uint64_t>(f.decay) * static_cast<std::uint64_t>(frames) + 0xFFFFu) >>
            16) +
        1;
    const int high = (ey > eu ? ey : eu) + 2;
    int start;
    if (IsZero(f.prevT))
        start = ey; // the feedback product alone: it only shrinks
    else if (IsZero(f.prevY))
        start = eu; // the first state is ±prevT
    else            // a sum that may cancel down to a unit in its last place
        start = (eu < ey + ExponentOf(f.yc) ? eu : ey + ExponentOf(f.yc)) - 64;
    return {start - loss, high, false};
}

// Whether the plain x87 computation meets no subnormal on this block: each state zero or
// safely normal, and so each product by a gain.
bool StaysNormal(const Outlook& o, float gain) {
    if (o.zero) return true;
    if (o.low < kSafe) return false;
    return gain == 0.0f || o.low + ExponentOf(gain) >= kSafe;
}

// A filter's contribution to the output, |state · gain| < 2^ContributionHigh throughout.
int ContributionHigh(const Outlook& o, float gain) {
    return o.zero || gain == 0.0f ? kZeroExponent : o.high + ExponentOf(gain) + 1;
}

// |output| < 2^OutputBound (the sum of the two filters' contributions; the dry input is zero).
int OutputBound(const Outlook& bass, float bassGain, const Outlook& treble, float trebleGain) {
    const int b = ContributionHigh(bass, bassGain), t = ContributionHigh(treble, trebleGain);
    return (b > t ? b : t) + 1;
}

// Whether a filter contributes to the output at all (a nonzero gain and a state that is not
// zero for good).
bool Contributes(const Outlook& o, float gain) {
    return !o.zero && !IsZero(gain);
}

// Whether a contribution stays at or above 2^floor.
bool StaysAbove(const Outlook& o, float gain, int floor) {
    return o.low + ExponentOf(gain) - 1 >= floor;
}

// Whether one contribution stays below half the other's smallest size, and that half is at
// least 2^kNormalOutput: their sum, |big| − |small| at the least, then stays at or above it.
bool Outweighs(const Outlook& big, float bigGain, const Outlook& small, float smallGain) {
    const int floor = big.low + ExponentOf(bigGain) - 1; // |big contribution| ≥ 2^floor
    return floor - 1 >= kNormalOutput && ContributionHigh(small, smallGain) <= floor - 1;
}

// Whether every nonzero output of the block is certain to be a normal float (the usual
// kernel's stores then take no assist). The dry input is zero, so with one contribution the
// output is that contribution; with two, a sum of values at or above 2^(kNormalOutput + 64),
// each with 64 significant bits, is zero or at least 2^kNormalOutput, and so is one whose
// larger contribution outweighs the smaller (a filter with a faster decay falls far below the
// other long before the outputs leave the normal floats).
bool OutputsStayNormal(const Outlook& bass, float bassGain, const Outlook& treble,
                       float trebleGain) {
    const bool b = Contributes(bass, bassGain), t = Contributes(treble, trebleGain);
    if (b && t)
        return (StaysAbove(bass, bassGain, kNormalOutput + 64) &&
                StaysAbove(treble, trebleGain, kNormalOutput + 64)) ||
               Outweighs(bass, bassGain, treble, trebleGain) ||
               Outweighs(treble, trebleGain, bass, bassGain);
    if (b) return StaysAbove(bass, bassGain, kNormalOutput);
    if (t) return StaysAbove(treble, trebleGain, kNormalOutput);
    return true;
}

// ---------------------------------------------------------------------------------------------
// The x87 paths beside the usual kernel.

// The plain computation, its outputs narrowed without underflow (ToneStore::Narrow) or, when
// every output rounds to a zero, only their signs taken (ToneStore::Sign).
template <bool Accumulate, ToneStore Store>
VURNEL_LOOP void PlainBlock(const SilentFilter& bass, const SilentFilter& treble, const float* in,
                            float* out, std::int32_t frames, float bassGain, float trebleGain) {
    FirstOrderState bs{bass.prevT, bass.prevY}, ts{treble.prevT, treble.prevY};
    PlainToneBlock<Accumulate, 1, -1, Store>({bass.g, 1.0L, bass.yc}, bs,
                                             {treble.g, -1.0L, treble.yc}, ts, in, out, frames,
                                             bassGain, trebleGain);
    bass.prevT = bs.prevT, bass.prevY = bs.prevY, treble.prevT = ts.prevT, treble.prevY = ts.prevY;
}

// The Fill path: every input the same zero x and each filter's previous scaled input x·g, so
// the sums s = x·g ± u₋₁ are the same zero every sample and a nonzero state moves as
// y := yc·y exactly (a zero added to a nonzero product changes nothing), one multiply a sample;
// every output rounds to a zero, and its sign does not change within the block. Only the states
// move, and the block is filled.
template <bool BassMoving, bool TrebleMoving>
VURNEL_LOOP void Advance(const SilentFilter& bass, const SilentFilter& treble,
                         std::int32_t frames) {
    const long double cB = bass.yc, cT = treble.yc;
    long double yB = bass.prevY, yT = treble.prevY;
    for (std::int32_t i = 0; i < frames; ++i) {
        if constexpr (BassMoving) yB = yB * cB;
        if constexpr (TrebleMoving) yT = yT * cT;
    }
    if constexpr (BassMoving) bass.prevY = yB;
    if constexpr (TrebleMoving) treble.prevY = yT;
}

// The outputs of a plan on a block: value[phase] for each sample, the phase alternating when
// the two phases differ; accumulating, only over zero old outputs, by the old zero's sign.
template <bool Accumulate>
VURNEL_LOOP void FillOutputs(const float (&value)[2][2], unsigned phase, float* out,
                             std::int32_t frames) {
    if constexpr (Accumulate) {
        for (std::int32_t i = 0; i < frames; ++i)
            if (IsZero(out[i]))
                out[i] = value[(phase + static_cast<unsigned>(i)) & 1][IsNegative(out[i]) ? 1 : 0];
    } else if (FloatBits(value[0][0]) == FloatBits(value[1][0])) {
        const float v = value[0][0];
        for (std::int32_t i = 0; i < frames; ++i)
            out[i] = v;
    } else {
        for (std::int32_t i = 0; i < frames; ++i)
            out[i] = value[(phase + static_cast<unsigned>(i)) & 1][0];
    }
}

// Runs a Fill plan on a block: its moving states advance, its outputs fill the block.
template <bool Accumulate>
void RunFill(const SilentPlan& plan, const SilentFilter& bass, const SilentFilter& treble,
             float* out, std::int32_t frames) {
    if (plan.bassMoving && plan.trebleMoving)
        Advance<true, true>(bass, treble, frames);
    else if (plan.bassMoving)
        Advance<true, false>(bass, treble, frames);
    else if (plan.trebleMoving)
        Advance<false, true>(bass, treble, frames);
    FillOutputs<Accumulate>(plan.value, 0, out, frames);
}

// Runs the Fill path if it applies, and makes it the plan; false otherwise, with nothing
// touched. With anySigns, the block's zeros may have any signs (zero stands for them): a
// contribution must then stay nonzero, and the caller carries the signs.
bool Dominated(const Outlook& low, float lowGain, const Outlook& normal, float normalGain);

template <bool Accumulate>
bool Fill(const SilentFilter& bass, const Outlook& ob, const SilentFilter& treble,
          const Outlook& ot, float zero, float* out, std::int32_t frames, float bassGain,
          float trebleGain, SilentPlan& plan, bool anySigns) {
    const long double x = zero;
    const bool bassMoving = !IsZero(bass.prevY), trebleMoving = !IsZero(treble.prevY);
    // A moving state with a nonzero gain contributes a nonzero value to every output.
    const bool signFree =
        (bassMoving && !IsZero(bassGain)) || (trebleMoving && !IsZero(trebleGain));
    if (anySigns) {
        if (!signFree || !IsZero(bass.prevT) || !IsZero(treble.prevT)) return false;
    } else if (BitsOf(x * bass.g) != BitsOf(bass.prevT) ||
               BitsOf(x * treble.g) != BitsOf(treble.prevT)) {
        return false;
    }
    const long double sB = x * bass.g + bass.prevT, sT = x * treble.g - treble.prevT;
    // A moving state keeps its sign (yc > 0), or changes it every sample (yc < 0, a treble
    // cutoff near the Nyquist frequency) under the other's contribution that outweighs its own
    // throughout, so that it changes no sum it enters; a zero state must stay the zero it is
    // (with any signs its sign is carried instead).
    const bool bassOutweighed = bassMoving && Dominated(ob, bassGain, ot, trebleGain);
    const bool trebleOutweighed = trebleMoving && Dominated(ot, trebleGain, ob, bassGain);
    if (bassMoving ? !(bass.yc > 0) && !bassOutweighed
                   : !anySigns && BitsOf(sB + bass.prevY * bass.yc) != BitsOf(bass.prevY))
        return false;
    if (trebleMoving ? !(treble.yc > 0) && !trebleOutweighed
                     : !anySigns && BitsOf(sT + treble.prevY * treble.yc) != BitsOf(treble.prevY))
        return false;
    // Two nonzero contributions of opposite signs: their sizes decide the sign, sample by sample,
    // unless one outweighs the other.
    if (bassMoving && !IsZero(bassGain) && trebleMoving && !IsZero(trebleGain) && !bassOutweighed &&
        !trebleOutweighed &&
        (std::signbit(bass.prevY) != IsNegative(bassGain)) !=
            (std::signbit(treble.prevY) != IsNegative(trebleGain)))
        return false;
    const long double yB = bassMoving ? bass.prevY * bass.yc : bass.prevY;
    const long double yT = trebleMoving ? treble.prevY * treble.yc : treble.prevY;
    // The dry part is x, or the old output plus x: for a zero old output, one of two zeros (a
    // nonzero old output stays as it is).
    const long double w[2] = {Accumulate ? 0.0L + x : x, Accumulate ? -0.0L + x : x};
    plan.valid = true;
    plan.path = SilentPath::Fill;
    plan.signFree = signFree;
    plan.bassMoving = bassMoving, plan.trebleMoving = trebleMoving;
    plan.bassStill = !bassMoving, plan.trebleStill = !trebleMoving;
    // Outweighed for as long as the plan holds (its horizon checks it): only where it must be.
    plan.outweighedMoving =
        static_cast<std::uint8_t>((bassOutweighed && !(bass.yc > 0) ? 1u : 0u) |
                                  (trebleOutweighed && !(treble.yc > 0) ? 2u : 0u));
    for (int k = 0; k < 2; ++k)
        plan.value[0][k] = plan.value[1][k] = ZeroOfSign(yT * trebleGain + (yB * bassGain + w[k]));
    RunFill<Accumulate>(plan, bass, treble, out, frames);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Tails through the float subnormals.

// The Tail path (TailApplies): the plain computation in one pass over the block, its input (and,
// accumulating, old outputs) read by integer means and its outputs narrowed by them
// (ToneStore::Tail): no operand or store meets the float subnormals. It holds for any input, sound
// included, so nothing is scanned. The states must be safely normal or zeros, far from the extended
// format's subnormals, as they are after sound and on a tail's tiny input; where a long run of
// zeros has decayed them out of that range, the rest of the block runs as any other block does.
template <bool Accumulate>
void TailBlock(const SilentFilter& bass, const SilentFilter& treble, const float* in, float* out,
               std::int32_t frames, float bassGain, float trebleGain, SilentPlan& plan) {
    bool fits = false;
    const std::int32_t done =
        ToneTailBlock<Accumulate>({bass.g, bass.yc, bass.prevT, bass.prevY},
                                  {treble.g, treble.yc, treble.prevT, treble.prevY}, in, out,
                                  frames, bassGain, trebleGain, fits);
    if (done < frames)
        ChannelBlock<Accumulate>(bass, treble, in + done, out + done, frames - done, bassGain,
                                 trebleGain, plan);
}

// ---------------------------------------------------------------------------------------------
// Tiny input beside a decayed filter.
//
// A tail may leave one filter below the Tail kernel's range while the input is not zeros: on a
// constant input (a float subnormal another filter has settled at, fed back by the host) the
// treble highpass's feed-forward sum x·g − x₋₁·g is exactly zero, and on one alternating at the
// Nyquist rate the bass lowpass's x·g + x₋₁·g; that filter's state decays as on silence, into the
// extended subnormals, while the other follows the input. The Decayed path runs such a block with
// the plain computation's bits and no operand or result in the subnormals. While the low state is
// certain to stay at or above 2^-15000, the Tail kernel runs it (DecayedKernelFrames); below, the
// Decayed stretch, sample by sample:
// - each input (and old output) is read as its integer significand times a power of two (an
//   integer load and a product by an extended constant: exact, and no float subnormal operand);
// - the filter in range runs on the x87 in the plain code's order: over a stretch of at most
//   kTailStretch samples from states in TailStateFits's range, every value it forms stays far
//   above the extended subnormals, as in the Tail kernel (a zero or at least 2^-9500: a state
//   loses at most 33 binary orders a sample, and a cancellation leaves at least 2^-975);
// - the low filter's feed-forward sum is formed on the x87 too (its operands are x·g, zeros or
//   at least 2^-849), its state on the x87 down to 2^-16000 and below by MulBits;
// - each sum a low value q enters, v + q, is formed by AddTo: with v a zero, it is q (two zeros:
//   AddZeros); with v nonzero (at least 2^-16254 in size), a zero or extended subnormal q lies
//   below half a unit of v even where v is a power of two, so the sum is v; a normal q is added
//   on the x87, and no such sum is subnormal;
// - the outputs are narrowed by integer means, those below the normal extended values being the
//   zero of their sign (they lie far below half the smallest float).
// It asks for rounding to nearest with 64-bit significands (MulBits, AddZeros and the bounds).

// 2^(max(e, 1) − 150): the unit of a float's significand in exponent field e.
struct FloatUnits {
    long double unit[256];
};
constexpr FloatUnits MakeFloatUnits() {
    FloatUnits t{};
    long double p = 0x1p-149L;
    t.unit[0] = p;
    for (int e = 1; e < 256; ++e) {
        t.unit[e] = p;
        p = p * 2;
    }
    return t;
}
constexpr FloatUnits kFloatUnits = MakeFloatUnits();

// A finite float's value, exactly, without loading it on the x87 as a float: its significand
// loaded as an integer, times its unit (a zero keeps its sign).
inline long double ExactFloat(const float* f) {
    std::uint32_t b;
    std::memcpy(&b, f, sizeof b);
    const std::uint32_t e = b >> 23 & 0xFFu, m = b & 0x7FFFFFu;
    const auto significand = static_cast<std::int32_t>(e != 0 ? m | 0x800000u : m);
    const long double v = static_cast<long double>(significand) * kFloatUnits.unit[e];
    return b >> 31 ? -v : v;
}

// A value of the Decayed path: on the x87 (a zero, or at least 2^-16254 in size), or as bits
// (anything finite).
struct DecayedValue {
    long double value;
    TExtendedBits bits;
    bool onX87;
};

// v + q as the x87 rounds it to nearest, for v a zero or at least 2^-16254 in size and q finite.
inline DecayedValue AddTo(long double v, TExtendedBits q) {
    if (v == 0) {
        if (q.IsZero()) {
            const TExtendedBits zero{0, static_cast<std::uint16_t>(std::signbit(v) ? 0x8000u : 0u)};
            return {0.0L, AddZeros(zero, q), false};
        }
        return {0.0L, q, false};
    }
    if (q.Exponent() == 0) return {v, {}, true};
    return {v + dsp::FromBits(q), {}, true};
}

// An output's float.
inline float DecayedOutput(const DecayedValue& v) {
    if (v.onX87) return NarrowWithoutUnderflow(v.value);
    if (v.bits.Exponent() == 0) return v.bits.IsNegative() ? -0.0f : 0.0f;
    return NarrowWithoutUnderflow(dsp::FromBits(v.bits));
}

// Up to kTailStretch samples on the Decayed path; the low filter is the bass one or the treble one.
// Its state runs on the x87 as the plain code runs it while it is a zero or at least 2^-16000 in
// size (its products by the feedback coefficient, at least 2^-32, and by a gain, at least 2^-149,
// are then normal or zeros), and in integers below that. There its contribution, below 2^-15871
// (a gain is below 2^128), cannot change a sum with any nonzero value the x87 side forms (the
// bass contribution plus the dry part, zeros or at least 2^-10000; the dry part, a zero or at
// least 2^-149): it is formed only where that value is a zero.
template <bool Accumulate, bool BassLow>
VURNEL_LOOP void DecayedStretch(const SilentFilter& bass, const SilentFilter& treble,
                                const float* in, float* out, std::int32_t frames, float bassGain,
                                float trebleGain) {
    constexpr long double kOnX87 = 0x1p-16000L;
    const SilentFilter& low = BassLow ? bass : treble;
    const SilentFilter& normal = BassLow ? treble : bass;
    const long double bg = ExactFloat(&bassGain), tg = ExactFloat(&trebleGain);
    const long double gainL = BassLow ? bg : tg;
    const TExtendedBits lowGain = dsp::ToBits(gainL), c = BitsOf(low.yc);
    const long double gL = low.g, cL = low.yc, gN = normal.g, cN = normal.yc;
    long double uL = low.prevT, uN = normal.prevT, yN = normal.prevY;
    TExtendedBits y = BitsOf(low.prevY);
    bool onX87 = y.IsZero() || (y.Exponent() != 0 && dsp::BinaryExponent(y) >= -16000);
    long double yx = onX87 ? low.prevY : 0.0L;
    // The integer products of the low state, formed again only when it moves (at its fixed
    // point, not).
    TExtendedBits pOf = y, p = MulBits(y, c), qOf = y, q = MulBits(y, lowGain);
    for (std::int32_t i = 0; i < frames; ++i) {
        const long double x = ExactFloat(in + i);
        const long double ul = x * gL;
        const long double s = BassLow ? ul + uL : ul - uL;
        uL = ul;
        if (onX87) {
            yx = s + yx * cL;
            if (yx != 0 && std::fabs(yx) < kOnX87) y = dsp::ToBits(yx), onX87 = false;
        } else {
            if (y != pOf) pOf = y, p = MulBits(y, c);
            const DecayedValue next = AddTo(s, p);
            if (next.onX87) // s + p, with s nonzero: at least 2^-975
                yx = next.value, onX87 = true;
            else
                y = next.bits;
        }
        const long double un = x * gN;
        long double r = BassLow ? un - uN : un + uN;
        r = r + yN * cN;
        uN = un;
        yN = r;
        long double w;
        if constexpr (Accumulate)
            w = ExactFloat(out + i) + x;
        else
            w = x;
        if (onX87) {
            const long double z = yx * gainL;
            if constexpr (BassLow)
                out[i] = NarrowWithoutUnderflow(r * tg + (z + w));
            else
                out[i] = NarrowWithoutUnderflow(z + (r * bg + w));
            continue;
        }
        if constexpr (BassLow) {
            const long double b = r * tg;
            if (w != 0) {
                out[i] = NarrowWithoutUnderflow(b + w);
                continue;
            }
            if (y != qOf) qOf = y, q = MulBits(y, lowGain);
            out[i] = DecayedOutput(AddTo(b, AddTo(w, q).bits));
        } else {
            const long double t = r * bg + w;
            if (t != 0) {
                out[i] = NarrowWithoutUnderflow(t);
                continue;
            }
            if (y != qOf) qOf = y, q = MulBits(y, lowGain);
            out[i] = DecayedOutput(AddTo(t, q));
        }
    }
    low.prevT = uL;
    if (onX87)
        low.prevY = yx;
    else
        SetBits(low.prevY, y);
    normal.prevT = uN;
    normal.prevY = yN;
}

// Which filter the Decayed path would carry as the low one (1 bass, 2 treble), or 0 where it does
// not apply: rounding to nearest with 64-bit significands, coefficients and gains the Tail kernel
// takes, both previous scaled inputs and one state in its range (TailStateFits) and the other
// state below it, every input below kTinyInput and every old output finite.
template <bool Accumulate>
int DecayedLow(const SilentFilter& bass, const SilentFilter& treble, const float* in,
               const float* out, std::int32_t frames, float bassGain, float trebleGain) {
    if (!TailCoefficientsFit(bass.g, bass.yc) || !TailCoefficientsFit(treble.g, treble.yc) ||
        !TailGainsFit(bassGain, trebleGain) || !TailStateFits(bass.prevT) ||
        !TailStateFits(treble.prevT))
        return 0;
    const bool bassFits = TailStateFits(bass.prevY), trebleFits = TailStateFits(treble.prevY);
    if (bassFits == trebleFits) return 0;
    constexpr int kTailLow = 16383 - 900; // TailStateFits's lower end, as an exponent field
    if ((BitsOf(bassFits ? treble.prevY : bass.prevY).signExponent & 0x7FFF) >= kTailLow) return 0;
    std::uint32_t largest = 0, old = 0;
    for (std::int32_t i = 0; i < frames; ++i) {
        const std::uint32_t m = FloatBits(in[i]) & 0x7FFFFFFFu;
        largest = m > largest ? m : largest;
        if constexpr (Accumulate) {
            const std::uint32_t o = FloatBits(out[i]) & 0x7F800000u;
            old = o > old ? o : old;
        }
    }
    if (largest >= kTinyBits || old == 0x7F800000u) return 0;
    const ControlWord cw = ReadControlWord();
    if (!cw.nearest || !cw.extended) return 0;
    return bassFits ? 2 : 1;
}

// How many of n frames the Tail kernel may run with the low filter's state below its range: as
// many as keep that state certain to stay at or above 2^-15000 (or a zero), where every value the
// kernel forms, scaled by 2^64 or not, is far from the extended subnormals and it gives the plain
// bits as it does in its range (what the range buys it is that certainty over a whole stretch). A
// state loses at most DecayBound's orders a sample on zeros; a nonzero feed-forward sum s (at least
// 2^-912, as x·g at least 2^-849 is) leaves it at least a unit of s, 2^-975, even where it cancels
// it. 0 where fewer than 16 (the Decayed stretch runs them).
std::int32_t DecayedKernelFrames(const SilentFilter& low, std::int32_t n) {
    if (low.decay == 0) return n;
    const TExtendedBits y = BitsOf(low.prevY);
    int e = y.IsZero() ? -975 : dsp::BinaryExponent(y);
    e = e < -975 ? e : -975;
    const std::int64_t room = static_cast<std::int64_t>(e + 15000) * 65536;
    if (room <= 0) return 0;
    const std::int64_t k = room / (static_cast<std::int64_t>(low.decay) + 65536);
    return k < 16 ? 0 : (k < n ? static_cast<std::int32_t>(k) : n);
}

// The hook for a block of tiny input that is not all zeros which the Tail path does not take: runs
// it on the Decayed path (the Tail kernel where the low state is certain to stay far above the
// extended subnormals, else the Decayed stretch), stretch by stretch, for as long as that applies,
// and the rest as any other block; false, with nothing touched, where it does not apply.
template <bool Accumulate>
bool DecayedBlock(const SilentFilter& bass, const SilentFilter& treble, const float* in, float* out,
                  std::int32_t frames, float bassGain, float trebleGain, SilentPlan& plan) {
    std::int32_t done = 0;
    while (done < frames) {
        const std::int32_t n = frames - done < kTailStretch ? frames - done : kTailStretch;
        const int low =
            DecayedLow<Accumulate>(bass, treble, in + done, out + done, n, bassGain, trebleGain);
        if (low == 0) break;
        const std::int32_t fast = DecayedKernelFrames(low == 1 ? bass : treble, n);
        if (fast > 0) {
            TailFrame frame;
            BindTail(frame, {bass.g, bass.yc, bass.prevT, bass.prevY},
                     {treble.g, treble.yc, treble.prevT, treble.prevY});
            frame.bassGain = bassGain, frame.trebleGain = trebleGain;
            // Old outputs at or above 2^64 (sound), which it does not scale: the usual kernel.
            if (ToneTailStretch<Accumulate>(frame, in + done, out + done, fast) < 0) break;
            done += fast;
        } else {
            if (low == 1)
                DecayedStretch<Accumulate, true>(bass, treble, in + done, out + done, n, bassGain,
                                                 trebleGain);
            else
                DecayedStretch<Accumulate, false>(bass, treble, in + done, out + done, n, bassGain,
                                                  trebleGain);
            done += n;
        }
    }
    if (done == 0) return false;
    plan.Forget();
    if (done < frames)
        ChannelBlock<Accumulate>(bass, treble, in + done, out + done, frames - done, bassGain,
                                 trebleGain, plan);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Zeros of any signs. On a zero input x every term of the recursion y = (x·g ± u₋₁) + yc·y₋₁
// but the feedback product is a zero, and a zero added to a nonzero value changes nothing: a
// state whose product yc·y₋₁ is not a zero is the same whatever the inputs' signs. A state that
// is a zero stays a zero (yc·0 is one), and its sign follows the signs: under rounding to
// nearest a sum of two zeros is −0 only when both are. The same holds for the outputs: where one
// of the two contributions y·gain is not a zero, the output is the same for any signs of the
// zeros added to it (x, or the old output plus x when accumulating); only where every term is a
// zero does its sign follow the input's. So a block of zeros whose signs vary runs on the paths
// for one zero wherever a contribution stays nonzero, and the signs are then carried, in a few
// integer operations a sample, through what they can change: the previous scaled inputs (x·g,
// a zero of x's sign times g's) and the states that are zeros.

// One filter's signs through a block of zeros, each a bit (1: negative), so that a block is
// carried without a branch on the signs.
struct SignTrack {
    std::uint32_t zero; // the state is a zero (its sign follows the inputs')
    std::uint32_t yNeg; // the state's sign (a nonzero state's flips with yc's each step)
    std::uint32_t uNeg; // the previous scaled input's sign
    std::uint32_t gNeg, ycNeg;
};

// Read as bits: an x87 classification of a subnormal state takes the slow path. Inlined: a
// SignTrack returned through memory, written field by field and copied 16 bytes at a time, is a
// failed store forwarding on every block (with blocks of one frame, a fifth of their cost).
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline SignTrack
Track(const SilentFilter& f) {
    const TExtendedBits y = BitsOf(f.prevY);
    return {y.IsZero() ? 1u : 0u, y.IsNegative() ? 1u : 0u, BitsOf(f.prevT).IsNegative() ? 1u : 0u,
            BitsOf(f.g).IsNegative() ? 1u : 0u, BitsOf(f.yc).IsNegative() ? 1u : 0u};
}

// Track for a state known to be nonzero (one a plan moves on the x87), where carrying the signs
// reads neither its bits nor its previous scaled input's: both were just stored by the x87, and
// read back at once as integers they would stall this AMD core every block.
inline SignTrack TrackNonzero(const SilentFilter& f) {
    return {0u, 0u, 0u, BitsOf(f.g).IsNegative() ? 1u : 0u, BitsOf(f.yc).IsNegative() ? 1u : 0u};
}

// One step on a zero input of sign x: u = x·g, s = u ± u₋₁ (the treble filter's feed-forward
// is −1), y = s + yc·y₋₁: for a zero state a sum of zeros, else the product alone.
template <bool Treble> inline void StepSign(SignTrack& t, std::uint32_t x) {
    const std::uint32_t u = x ^ t.gNeg;
    const std::uint32_t s = Treble ? (u & (t.uNeg ^ 1u)) : (u & t.uNeg);
    const std::uint32_t p = t.yNeg ^ t.ycNeg;
    t.yNeg = p & (s | (t.zero ^ 1u));
    t.uNeg = u;
}

inline std::uint32_t SignBit(float f) {
    return FloatBits(f) >> 31;
}

// Writes what the signs changed: the previous scaled input, and a state that is a zero.
void Put(const SignTrack& t, const SilentFilter& f) {
    SetBits(f.prevT, {0, static_cast<std::uint16_t>(t.uNeg << 15)});
    if (t.zero) SetBits(f.prevY, {0, static_cast<std::uint16_t>(t.yNeg << 15)});
}

// One filter's signs after a block of zeros (all the same zero when `same`), from its state
// before the block; taken before the block runs, since an output may overwrite its input. A
// state that is a zero comes back to itself within two steps on one zero (from the second step
// on its sum s is the same zero), so a block of one zero needs at most three steps.
template <bool Treble>
VURNEL_LOOP void CarryZeroState(SignTrack& t, const float* in, std::int32_t frames, bool same) {
    if (!t.ycNeg && frames >= 2) {
        // y = s + yc·y₋₁ with yc > 0 is −0 only when y₋₁ and s are: after the block, only when
        // the state and every s were. The treble filter's s = u − u₋₁ is −0 only when u is −0
        // and u₋₁ +0, which two samples in a row cannot both be; the bass filter's s = u + u₋₁
        // only when both are −0: every u, and the one before the block.
        if (Treble) {
            t.yNeg = 0;
        } else {
            std::uint32_t all = 0xFFFFFFFFu;
            for (std::int32_t i = 0; i < frames; ++i)
                all &= FloatBits(in[i]);
            t.yNeg &= t.uNeg & ((all >> 31) ^ t.gNeg);
        }
        return;
    }
    const std::int32_t steps = same && frames > 3 ? 2 + ((frames - 2) & 1) : frames;
    for (std::int32_t i = 0; i < steps; ++i)
        StepSign<Treble>(t, SignBit(in[i]));
}

template <bool Treble>
inline SignTrack Carried(SignTrack t, const float* in, std::int32_t frames, bool same) {
    if (t.zero) CarryZeroState<Treble>(t, in, frames, same);
    t.uNeg = SignBit(in[frames - 1]) ^ t.gNeg;
    return t;
}

// The outputs of a block of zeros on which every term of every output is a zero (both
// contributions zeros: zero gains, or states that are zeros): out = cT + (cB + w), w = x or,
// accumulating onto a zero, old + x; a nonzero old output stays. The signs of both filters are
// carried and written; a nonzero state's magnitude is moved elsewhere.
template <bool Accumulate>
VURNEL_LOOP void FollowSigns(SignTrack b, const SilentFilter& bass, bool bassGainNeg, SignTrack t,
                             const SilentFilter& treble, bool trebleGainNeg, const float* in,
                             float* out, std::int32_t frames) {
    const std::uint32_t gB = bassGainNeg ? 1u : 0u, gT = trebleGainNeg ? 1u : 0u;
    if (!b.zero && !t.zero && !b.ycNeg && !t.ycNeg) {
        // Nonzero states that keep their signs: both contributions are zeros of fixed signs, and
        // the output is −0 only where x (and, accumulating onto a zero, the old output) is, and
        // both contributions are −0.
        const std::uint32_t mask = ((b.yNeg ^ gB) & (t.yNeg ^ gT)) << 31;
        for (std::int32_t i = 0; i < frames; ++i) {
            const std::uint32_t x = FloatBits(in[i]) & mask;
            if constexpr (Accumulate) {
                const std::uint32_t old = FloatBits(out[i]);
                out[i] = FloatOfBits((old & 0x7FFFFFFFu) ? old : (x & old));
            } else {
                out[i] = FloatOfBits(x);
            }
        }
        b.uNeg = SignBit(in[frames - 1]) ^ b.gNeg;
        t.uNeg = SignBit(in[frames - 1]) ^ t.gNeg;
        Put(b, bass);
        Put(t, treble);
        return;
    }
    for (std::int32_t i = 0; i < frames; ++i) {
        const std::uint32_t x = SignBit(in[i]);
        StepSign<false>(b, x);
        StepSign<true>(t, x);
        const std::uint32_t contributions = (b.yNeg ^ gB) & (t.yNeg ^ gT);
        if constexpr (Accumulate) {
            const std::uint32_t old = FloatBits(out[i]);
            const std::uint32_t zero = ((x & (old >> 31) & contributions) << 31);
            out[i] = FloatOfBits((old & 0x7FFFFFFFu) ? old : zero);
        } else {
            out[i] = FloatOfBits((x & contributions) << 31);
        }
    }
    Put(b, bass);
    Put(t, treble);
}

// ---------------------------------------------------------------------------------------------
// The integer paths: states anywhere down to zero, every input and every output a zero.

inline TExtendedBits ZeroBits(bool negative) {
    return {0, static_cast<std::uint16_t>(negative ? 0x8000u : 0u)};
}

inline TExtendedBits Negated(TExtendedBits v) {
    v.signExponent ^= 0x8000u;
    return v;
}

struct IntegerFilter {
    TExtendedBits c, y, u; // feedback coefficient, state, previous scaled input (a zero)
    bool gNegative;
};

struct IntegerChannel {
    IntegerFilter bass, treble;
    TExtendedBits bassGain, trebleGain;
};

IntegerFilter Load(const SilentFilter& f) {
    return {BitsOf(f.yc), BitsOf(f.prevY), BitsOf(f.prevT), std::signbit(f.g)};
}

void Store(const IntegerFilter& i, const SilentFilter& f) {
    SetBits(f.prevY, i.y);
    SetBits(f.prevT, i.u);
}

// One recursion step on a zero input of the given sign: u = x·g, s = u ± u₋₁, y = s + yc·y₋₁.
template <bool Treble> inline void Step(IntegerFilter& f, bool xNegative) {
    const TExtendedBits u = ZeroBits(xNegative != f.gNegative);
    const TExtendedBits s = AddZeros(u, Treble ? Negated(f.u) : f.u);
    const TExtendedBits p = MulBits(f.y, f.c);
    f.y = p.IsZero() ? AddZeros(s, p) : p;
    f.u = u;
}

// The sign of one output, from the states after this sample's step and the zero w the dry
// part contributes (x, or the old output plus x when accumulating): t = a·bassGain + w,
// out = b·trebleGain + t.
inline bool OutputNegative(const IntegerChannel& ch, TExtendedBits w) {
    const TExtendedBits p = MulBits(ch.bass.y, ch.bassGain);
    const TExtendedBits t = p.IsZero() ? AddZeros(p, w) : p;
    return SumIsNegative(MulBits(ch.treble.y, ch.trebleGain), t);
}

// One sample: steps both filters; returns the output (the old one when accumulating onto a
// nonzero value, which the tiny sum cannot change).
template <bool Accumulate> inline float IntegerSample(IntegerChannel& ch, float x, float old) {
    const bool xNegative = IsNegative(x);
    Step<false>(ch.bass, xNegative);
    Step<true>(ch.treble, xNegative);
    TExtendedBits w = ZeroBits(xNegative);
    if constexpr (Accumulate) {
        if (!IsZero(old)) return old;
        w = AddZeros(ZeroBits(IsNegative(old)), w);
    }
    return OutputNegative(ch, w) ? -0.0f : 0.0f;
}

IntegerChannel LoadChannel(const SilentFilter& bass, const SilentFilter& treble, float bassGain,
                           float trebleGain) {
    return {Load(bass), Load(treble), BitsOf(static_cast<long double>(bassGain)),
            BitsOf(static_cast<long double>(trebleGain))};
}

// The Frozen path: the same zero on every input, the previous scaled inputs that zero times
// the gain factors, and states that come back to themselves within two steps. The outputs then
// alternate between two values (or repeat one). Returns false when the states do not.
template <bool Accumulate>
bool FrozenBlock(IntegerChannel& ch, float zero, float* out, std::int32_t frames, SilentPlan& plan,
                 bool anySigns) {
    const bool xNegative = IsNegative(zero);
    IntegerChannel one = ch;
    Step<false>(one.bass, xNegative);
    Step<true>(one.treble, xNegative);
    IntegerChannel two = one;
    Step<false>(two.bass, xNegative);
    Step<true>(two.treble, xNegative);
    // With any signs, zero states come back as zeros of whatever sign (carried by the caller),
    // and every output must have a nonzero contribution, on either phase.
    const auto back = [anySigns](TExtendedBits after, TExtendedBits before) {
        return after == before || (anySigns && after.IsZero() && before.IsZero());
    };
    if (!back(two.bass.y, ch.bass.y) || !back(two.treble.y, ch.treble.y) ||
        (!anySigns && (one.bass.u != ch.bass.u || one.treble.u != ch.treble.u)))
        return false;
    bool signFree = true;
    const IntegerChannel* const phases[2] = {&one, &two};
    for (const IntegerChannel* c : phases)
        signFree = signFree && (!MulBits(c->bass.y, ch.bassGain).IsZero() ||
                                !MulBits(c->treble.y, ch.trebleGain).IsZero());
    if (anySigns && !signFree) return false;
    // Sample k runs on the states after k + 1 steps: one, two (= ch), one, two, ... A block
    // that starts on phase 0 has ch's states, one on phase 1 one's.
    const IntegerChannel* after[2] = {&one, &two};
    plan.valid = true;
    plan.path = SilentPath::Frozen;
    plan.signFree = signFree;
    plan.phase = 0;
    for (int p = 0; p < 2; ++p)
        for (int k = 0; k < 2; ++k) {
            const TExtendedBits w =
                Accumulate ? AddZeros(ZeroBits(k != 0), ZeroBits(xNegative)) : ZeroBits(xNegative);
            plan.value[p][k] = OutputNegative(*after[p], w) ? -0.0f : 0.0f;
        }
    plan.state[0][0] = ch.bass.y, plan.state[0][1] = ch.treble.y;
    plan.state[1][0] = one.bass.y, plan.state[1][1] = one.treble.y;
    FillOutputs<Accumulate>(plan.value, 0, out, frames);
    plan.phase = static_cast<unsigned>(frames) & 1;
    if (frames & 1) ch = one;
    return true;
}

// The Mixed path: one filter's state low (at or near the subnormal range) while the other's
// stays safely normal, every input a zero and both previous scaled inputs zeros. The low filter
// runs on integers and stands in the x87 computation as a zero of its contribution's sign. That
// gives the exact sum when its contribution is a zero (a zero gain), or too small to change any
// nonzero value it meets (MixedApplies); and where the x87 sum it would join is exactly zero,
// its integer value decides the output's sign. Low: the bass filter, or the treble filter.
template <bool Accumulate, bool BassLow>
VURNEL_LOOP void MixedBlock(const SilentFilter& bass, const SilentFilter& treble, const float* in,
                            float* out, std::int32_t frames, float bassGain, float trebleGain,
                            bool lowFrozen) {
    const SilentFilter& low = BassLow ? bass : treble;
    const SilentFilter& normal = BassLow ? treble : bass;
    IntegerFilter li = Load(low);
    const TExtendedBits lowGain = BitsOf(static_cast<long double>(BassLow ? bassGain : trebleGain));
    const bool lowGainNegative = lowGain.IsNegative();
    const long double g = normal.g, c = normal.yc;
    long double u = normal.prevT, y = normal.prevY;
    for (std::int32_t i = 0; i < frames; ++i) {
        const float xf = in[i];
        const long double x = xf;
        if (!lowFrozen) Step<!BassLow>(li, IsNegative(xf));
        const long double proxy = li.y.IsNegative() != lowGainNegative ? -0.0L : 0.0L;
        long double w;
        if constexpr (Accumulate)
            w = out[i] + x;
        else
            w = x;
        if constexpr (BassLow) {
            const long double t = proxy + w;
            const long double tt = x * g;
            long double b = tt - u;
            b = b + y * c;
            u = tt;
            y = b;
            out[i] = NarrowWithoutUnderflow(b * trebleGain + t);
        } else {
            const long double tb = x * g;
            long double a = tb + u;
            a = a + y * c;
            u = tb;
            y = a;
            const long double t = a * bassGain + w;
            if (t != 0) {
                out[i] = NarrowWithoutUnderflow(proxy + t);
            } else {
                const TExtendedBits q = MulBits(li.y, lowGain);
                out[i] = q.IsZero() ? ZeroOfSign(proxy + t) : (q.IsNegative() ? -0.0f : 0.0f);
            }
        }
    }
    Store(li, low);
    normal.prevT = u;
    normal.prevY = y;
}

// Whether the Mixed path gives the exact sums: the low filter's contribution is a zero, or the
// normal filter's contribution is never zero and the low one stays below it, and below the
// smallest float, by more than the 64 bits of a sum and the 64 of a cancellation in it.
bool MixedApplies(const Outlook& low, float lowGain, const Outlook& normal, float normalGain) {
    if (lowGain == 0.0f) return true;
    if (normalGain == 0.0f || normal.zero) return false;
    const int normalLow = normal.low + ExponentOf(normalGain) - 1;
    const int floor = normalLow < -149 ? normalLow : -149;
    return ContributionHigh(low, lowGain) <= floor - 130;
}

// What the integer paths need besides zero inputs: rounding to nearest with 64-bit
// significands, previous scaled inputs that are zeros, outputs that all round to zeros.
// The usual kernel, its outputs narrowed or (ToneStore::Sign) only their signs taken.
template <bool Accumulate, ToneStore Store>
void Usual(const SilentFilter& bass, const SilentFilter& treble, const float* in, float* out,
           std::int32_t frames, float bassGain, float trebleGain) {
    ToneChannelBlock<Accumulate, Store>({bass.g, bass.yc, bass.prevT, bass.prevY},
                                        {treble.g, treble.yc, treble.prevT, treble.prevY}, in, out,
                                        frames, bassGain, trebleGain);
}

// A block of zeros on which no x87 operation meets a subnormal: the usual kernel where every
// output is a normal float or zero, its sign-taking store where every output rounds to a zero
// (the Fill path where that zero does not change), and between the two, where outputs may be
// float subnormals, the plain computation with outputs narrowed by integer means.
template <bool Accumulate>
SilentPath X87Block(const SilentFilter& bass, const Outlook& ob, const SilentFilter& treble,
                    const Outlook& ot, const InputKind& input, const ControlWord& cw,
                    const float* in, float* out, std::int32_t frames, float bassGain,
                    float trebleGain, SilentPlan& plan, bool anySigns, const InputKind& real) {
    // The usual kernel, with or without the sign-taking store, runs the block's own zeros.
    plan.valid = true;
    plan.signFree = true;
    plan.bassStill = plan.trebleStill = false;
    if (OutputsStayNormal(ob, bassGain, ot, trebleGain)) {
        Usual<Accumulate, ToneStore::Float>(bass, treble, in, out, frames, bassGain, trebleGain);
        plan.path = SilentPath::Usual;
        return SilentPath::Usual;
    }
    if (cw.nearest && OutputBound(ob, bassGain, ot, trebleGain) <= kZeroOutput) {
        if (input.same && Fill<Accumulate>(bass, ob, treble, ot, FloatOfBits(input.bits), out,
                                           frames, bassGain, trebleGain, plan, anySigns))
            return SilentPath::Fill;
        // One zero throughout, with no contribution to stand for any signs: that zero's plan.
        if (anySigns && real.same &&
            Fill<Accumulate>(bass, ob, treble, ot, FloatOfBits(real.bits), out, frames, bassGain,
                             trebleGain, plan, false))
            return SilentPath::Fill;
        Usual<Accumulate, ToneStore::Sign>(bass, treble, in, out, frames, bassGain, trebleGain);
        plan.path = SilentPath::Signs;
        plan.signFree = true;
        return SilentPath::Signs;
    }
    plan.valid = false;
    PlainBlock<Accumulate, ToneStore::Narrow>(bass, treble, in, out, frames, bassGain, trebleGain);
    return SilentPath::Narrowed;
}

// The Untouched path: every input +0 and neither filter contributing (each gain zero, or each
// state zero for good), so every output is +0 (the sum of +0 and zeros), and an accumulated
// nonzero old output stays as it is. Only the states move: on the x87 where they are safely
// normal (one multiply a sample), in integers where they are low. False, with nothing touched,
// where a state would move otherwise.
template <bool Treble> int Period(const IntegerFilter& f, bool xNegative, IntegerFilter& next);
// How a state moves in the Untouched path: not at all, by x87 multiplies, between two values,
// step by step in integers, or (Stuck) in none of these ways.
enum class Motion { Stuck, Still, X87, Alternating, Integers };

template <bool Treble>
Motion MoveState(const SilentFilter& f, const Outlook& o, bool safe, std::int32_t frames,
                 bool dryRun) {
    if (o.zero) {
        // Zeros stay zeros, but their signs may change once: one step on the x87 (zeros take
        // no assist), then no more if that step led to a fixed point.
        const long double u = 0.0L * f.g;
        const long double y = (Treble ? u - f.prevT : u + f.prevT) + f.prevY * f.yc;
        const long double again = (Treble ? u - u : u + u) + y * f.yc;
        if (BitsOf(again) != BitsOf(y)) return Motion::Stuck;
        if (!dryRun) f.prevT = u, f.prevY = y;
        return Motion::Still;
    }
    if (safe) {
        // A nonzero state moves as y := yc·y; a zero one must stay the zero it is.
        const long double s = Treble ? 0.0L * f.g - f.prevT : 0.0L * f.g + f.prevT;
        if (BitsOf(0.0L * f.g) != BitsOf(f.prevT)) return Motion::Stuck;
        if (IsZero(f.prevY))
            return BitsOf(s + f.prevY * f.yc) == BitsOf(f.prevY) ? Motion::Still : Motion::Stuck;
        if (dryRun) return Motion::X87;
        const SilentFilter none{f.g, f.yc, 0, 0, f.prevT, f.prevY};
        if constexpr (Treble)
            Advance<false, true>(none, f, frames);
        else
            Advance<true, false>(f, none, frames);
        return Motion::X87;
    }
    IntegerFilter i = Load(f), next = i;
    const int period = Period<Treble>(i, false, next);
    if (period == 1) return Motion::Still;
    if (period == 2) {
        if (dryRun) return Motion::Alternating;
        if (frames & 1) Store(next, f);
        return Motion::Alternating;
    }
    if (dryRun) return Motion::Integers;
    for (std::int32_t k = 0; k < frames; ++k)
        Step<Treble>(i, false);
    Store(i, f);
    return Motion::Integers;
}

template <bool Accumulate>
bool Untouched(const SilentFilter& bass, const Outlook& ob, bool bassSafe,
               const SilentFilter& treble, const Outlook& ot, bool trebleSafe, float* out,
               std::int32_t frames, SilentPlan& plan) {
    const Motion b = MoveState<false>(bass, ob, bassSafe, frames, true);
    const Motion t = MoveState<true>(treble, ot, trebleSafe, frames, true);
    if (b == Motion::Stuck || t == Motion::Stuck) return false;
    // A plan as Fill's, its value +0, unless a state moves step by step in integers; one that
    // alternates stands in as a zero, its two values kept.
    plan.valid = b != Motion::Integers && t != Motion::Integers &&
                 !(b == Motion::Alternating && t == Motion::Alternating);
    if (b == Motion::Alternating || t == Motion::Alternating) {
        const SilentFilter& low = b == Motion::Alternating ? bass : treble;
        IntegerFilter i = Load(low), next = i;
        if (b == Motion::Alternating)
            Period<false>(i, false, next);
        else
            Period<true>(i, false, next);
        plan.standIn = b == Motion::Alternating ? 1 : 2;
        plan.outweighed = false;
        const bool odd = (frames & 1) != 0;
        plan.lowState[0] = odd ? next.y : i.y, plan.lowState[1] = odd ? i.y : next.y;
    }
    MoveState<false>(bass, ob, bassSafe, frames, false);
    MoveState<true>(treble, ot, trebleSafe, frames, false);
    plan.path = SilentPath::Fill;
    plan.bassMoving = b == Motion::X87, plan.trebleMoving = t == Motion::X87;
    plan.bassStill = b == Motion::Still, plan.trebleStill = t == Motion::Still;
    for (auto& phase : plan.value)
        phase[0] = phase[1] = 0.0f;
    FillOutputs<Accumulate>(plan.value, 0, out, frames);
    return true;
}

// How many steps on the zero x bring a filter's integer state (and previous scaled input) back
// to itself: 1, 2, or 0 for neither; next is the state after one step.
template <bool Treble> int Period(const IntegerFilter& f, bool xNegative, IntegerFilter& next) {
    next = f;
    Step<Treble>(next, xNegative);
    if (next.y == f.y && next.u == f.u) return 1;
    IntegerFilter two = next;
    Step<Treble>(two, xNegative);
    return two.y == f.y && two.u == f.u ? 2 : 0;
}

// Whether the other filter's contribution is never zero and outweighs the low one's by more
// than the 64 bits of a sum and the 64 of a cancellation in it (and the smallest float too), so
// the low one, a zero in its place included, changes no sum it enters.
bool Dominated(const Outlook& low, float lowGain, const Outlook& normal, float normalGain) {
    if (IsZero(normalGain) || normal.zero) return false;
    if (IsZero(lowGain)) return true;
    const int normalLow = normal.low + ExponentOf(normalGain) - 1;
    const int floor = normalLow < -149 ? normalLow : -149;
    return ContributionHigh(low, lowGain) <= floor - 130;
}

bool IntegerPathsApply(const ControlWord& cw, const SilentFilter& bass, const Outlook& ob,
                       float bassGain, const SilentFilter& treble, const Outlook& ot,
                       float trebleGain) {
    return cw.nearest && cw.extended && IsZero(bass.prevT) && IsZero(treble.prevT) &&
           OutputBound(ob, bassGain, ot, trebleGain) <= kZeroOutput;
}

bool Finite(const SilentFilter& f) {
    return BitsOf(f.g).IsFinite() && BitsOf(f.yc).IsFinite() && BitsOf(f.prevT).IsFinite() &&
           BitsOf(f.prevY).IsFinite();
}

} // namespace

std::uint32_t DecayBound(long double yc) {
    const long double magnitude = std::fabs(yc);
    if (!(magnitude < 1.0L)) return 0;
    if (magnitude == 0) return 0xFFFFFFu;
    // Above the logarithm by one part in 2^20 and one unit (the roundings of the products
    // shrink a state by far less, a relative 2^-64 a step).
    const long double bits = -std::log2(magnitude);
    const long double units = std::ceil(bits * 65536.0L * (1.0L + 0x1p-20L)) + 1.0L;
    return units > 0xFFFFFFL ? 0xFFFFFFu : static_cast<std::uint32_t>(units);
}

// How a nonzero state that contributes nothing moves over a block of zeros of any signs (a
// zero added to its nonzero product changes nothing): by x87 multiplies while safely normal, or
// in integers not at all, or between two values, where its recursion has come to rest (both
// values nonzero), or step by step (Integers: `after` holds the state at the block's end, the
// caller stores it), on its way down through the extended subnormals to that rest. |yc| < 1
// never lets a magnitude grow and a zero stays a zero, so a state nonzero at the block's end
// was nonzero throughout. Stuck: none of these (it reaches a zero, whose sign the signs decide).
template <bool Treble>
Motion MoveMagnitude(const SilentFilter& f, bool safe, std::int32_t frames, bool dryRun,
                     TExtendedBits& after) {
    if (safe) {
        if (!dryRun) {
            const SilentFilter none{f.g, f.yc, 0, 0, f.prevT, f.prevY};
            if constexpr (Treble)
                Advance<false, true>(none, f, frames);
            else
                Advance<true, false>(f, none, frames);
        }
        return Motion::X87;
    }
    IntegerFilter one = Load(f);
    const TExtendedBits y = one.y;
    Step<Treble>(one, false);
    if (one.y.IsZero()) return Motion::Stuck;
    if (one.y == y) return Motion::Still;
    IntegerFilter two = one;
    Step<Treble>(two, false);
    if (two.y != y) {
        if (!dryRun) return Motion::Integers;
        if (f.decay == 0) return Motion::Stuck; // |yc| not below 1
        for (std::int32_t k = 2; k < frames; ++k)
            Step<Treble>(two, false);
        if (frames == 1) two = one;
        if (two.y.IsZero()) return Motion::Stuck;
        after = two.y;
        return Motion::Integers;
    }
    if (!dryRun && (frames & 1)) SetBits(f.prevY, one.y);
    return Motion::Alternating;
}

// The Untouched path on zeros of any signs: neither filter contributes (zero gains, or states
// that are zeros), so every term of every output is a zero and its sign follows the input's,
// sample by sample (FollowSigns); a nonzero state moves as MoveMagnitude says. False, with
// nothing touched, where a state would move otherwise.
template <bool Accumulate>
bool SignsFollow(const SilentFilter& bass, bool bassSafe, const SilentFilter& treble,
                 bool trebleSafe, const float* in, float* out, std::int32_t frames, float bassGain,
                 float trebleGain, SilentPlan& plan) {
    const SignTrack b = Track(bass), t = Track(treble);
    TExtendedBits bassAfter{}, trebleAfter{};
    const Motion mb =
        b.zero ? Motion::Still : MoveMagnitude<false>(bass, bassSafe, frames, true, bassAfter);
    const Motion mt =
        t.zero ? Motion::Still : MoveMagnitude<true>(treble, trebleSafe, frames, true, trebleAfter);
    if (mb == Motion::Stuck || mt == Motion::Stuck) return false;
    // A state that alternates between two values is kept as the plan's pair.
    const bool bassAlternates = mb == Motion::Alternating;
    const bool trebleAlternates = mt == Motion::Alternating;
    const SilentFilter& alternating = bassAlternates ? bass : treble;
    const TExtendedBits before = BitsOf(alternating.prevY);
    if (!b.zero) MoveMagnitude<false>(bass, bassSafe, frames, false, bassAfter);
    if (!t.zero) MoveMagnitude<true>(treble, trebleSafe, frames, false, trebleAfter);
    FollowSigns<Accumulate>(b, bass, IsNegative(bassGain), t, treble, IsNegative(trebleGain), in,
                            out, frames);
    // A state moving step by step: its end, once the signs (which a nonzero state keeps through
    // the block) are written. Every block is looked at afresh until it comes to rest (a plan that
    // stepped it on block after block measured slower where blocks are short).
    if (mb == Motion::Integers) SetBits(bass.prevY, bassAfter);
    if (mt == Motion::Integers) SetBits(treble.prevY, trebleAfter);
    if (mb == Motion::Integers || mt == Motion::Integers) {
        plan.valid = false;
        return true;
    }
    plan.valid = !(bassAlternates && trebleAlternates);
    if (bassAlternates || trebleAlternates) {
        IntegerFilter one = Load(alternating);
        Step<false>(one, false); // the other value (the step's sum is a zero: either filter)
        plan.standIn = bassAlternates ? 1 : 2;
        plan.outweighed = false;
        plan.lowState[0] = BitsOf(alternating.prevY);
        plan.lowState[1] = plan.lowState[0] == before ? one.y : before;
    }
    plan.path = SilentPath::Fill;
    plan.signsFollow = true;
    plan.movingSigns = static_cast<std::uint8_t>((BitsOf(bass.prevY).IsNegative() ? 1u : 0u) |
                                                 (BitsOf(treble.prevY).IsNegative() ? 2u : 0u));
    plan.bassMoving = mb == Motion::X87, plan.trebleMoving = mt == Motion::X87;
    plan.bassStill = !plan.bassMoving, plan.trebleStill = !plan.trebleMoving;
    return true;
}

// The period of a low filter's state on zeros of any signs: a zero stays a zero (1); a nonzero
// state's values do not depend on the signs, and must stay nonzero. next: after one step.
template <bool Treble> int PeriodAnySigns(const IntegerFilter& f, IntegerFilter& next) {
    next = f;
    if (f.y.IsZero()) return 1;
    Step<Treble>(next, false);
    if (next.y.IsZero()) return 0;
    if (next.y == f.y) return 1;
    IntegerFilter two = next;
    Step<Treble>(two, false);
    return two.y == f.y ? 2 : 0;
}

// Looks at a block of zeros and runs it. On zeros whose signs vary (anySigns), the paths for
// one zero run with +0 standing for them wherever the signs cannot change what they compute;
// the caller carries the signs through the rest.
template <bool Accumulate>
SilentPath Look(const SilentFilter& bass, const SilentFilter& treble, const InputKind& realInput,
                const float* in, float* out, std::int32_t frames, float bassGain, float trebleGain,
                SilentPlan& plan) {
    if (!Finite(bass) || !Finite(treble) || !std::isfinite(bassGain) ||
        !std::isfinite(trebleGain)) {
        Usual<Accumulate, ToneStore::Float>(bass, treble, in, out, frames, bassGain, trebleGain);
        return SilentPath::Usual;
    }
    if (!realInput.zero && realInput.tiny && TailApplies(bass, treble, bassGain, trebleGain)) {
        plan.valid = false;
        TailBlock<Accumulate>(bass, treble, in, out, frames, bassGain, trebleGain, plan);
        return SilentPath::Tail;
    }
    if (!realInput.zero && realInput.tiny &&
        DecayedBlock<Accumulate>(bass, treble, in, out, frames, bassGain, trebleGain, plan))
        return SilentPath::Decayed;
    if (!realInput.zero) {
        Usual<Accumulate, ToneStore::Float>(bass, treble, in, out, frames, bassGain, trebleGain);
        return SilentPath::Usual;
    }
    const ControlWord cw = ReadControlWord();
    const bool integers = cw.nearest && cw.extended && IsZero(bass.prevT) && IsZero(treble.prevT);
    // Zeros (of one sign or of varying signs) stand as +0 where the signs can be carried:
    // rounding to nearest, and previous scaled inputs that are zeros. So a plan made here holds
    // for zeros of either sign, wherever the signs cannot change what it computes.
    const bool anySigns = cw.nearest && IsZero(bass.prevT) && IsZero(treble.prevT);
    const InputKind input = anySigns ? InputKind{true, true, 0u} : realInput;
    const Outlook ob = Foresee(bass, frames), ot = Foresee(treble, frames);
    const bool bassSafe = StaysNormal(ob, bassGain), trebleSafe = StaysNormal(ot, trebleGain);
    if (integers && !Contributes(ob, bassGain) && !Contributes(ot, trebleGain)) {
        if (realInput.same && realInput.bits == 0 &&
            Untouched<Accumulate>(bass, ob, bassSafe, treble, ot, trebleSafe, out, frames, plan))
            return SilentPath::Untouched;
        if (anySigns && SignsFollow<Accumulate>(bass, bassSafe, treble, trebleSafe, in, out, frames,
                                                bassGain, trebleGain, plan))
            return SilentPath::Untouched;
    }
    if (bassSafe && trebleSafe)
        return X87Block<Accumulate>(bass, ob, treble, ot, input, cw, in, out, frames, bassGain,
                                    trebleGain, plan, anySigns, realInput);
    if (bassSafe != trebleSafe && integers) {
        const bool bassLow = !bassSafe;
        const SilentFilter& low = bassLow ? bass : treble;
        const Outlook& lowO = bassLow ? ob : ot;
        const Outlook& normalO = bassLow ? ot : ob;
        const float lowGain = bassLow ? bassGain : trebleGain;
        const float normalGain = bassLow ? trebleGain : bassGain;
        const bool xNegative = (input.bits >> 31) != 0;
        const IntegerFilter li = Load(low);
        IntegerFilter next = li;
        int period = 0;
        if (anySigns)
            period = bassLow ? PeriodAnySigns<false>(li, next) : PeriodAnySigns<true>(li, next);
        else if (input.same)
            period =
                bassLow ? Period<false>(li, xNegative, next) : Period<true>(li, xNegative, next);
        // A low filter that has stopped moving, under a contribution that outweighs it: the
        // x87 paths run with a zero state in its place, and its own state comes back after.
        // Accumulating onto a low treble filter, only where every output rounds to a zero: an
        // old output could otherwise cancel the bass contribution exactly, and the treble one
        // would decide the zero's sign.
        const Outlook zero{kZeroExponent, kZeroExponent, true};
        const bool zeros =
            cw.nearest && (bassLow ? OutputBound(zero, bassGain, ot, trebleGain)
                                   : OutputBound(ob, bassGain, zero, trebleGain)) <= kZeroOutput;
        if (period != 0 && (!Accumulate || bassLow || zeros) &&
            Dominated(lowO, lowGain, normalO, normalGain)) {
            long double standInY = 0.0L, standInU = low.prevT;
            const SilentFilter standIn{low.g, low.yc, low.decay, low.design, standInU, standInY};
            if (bassLow)
                X87Block<Accumulate>(standIn, zero, treble, ot, input, cw, in, out, frames,
                                     bassGain, trebleGain, plan, anySigns, realInput);
            else
                X87Block<Accumulate>(bass, ob, standIn, zero, input, cw, in, out, frames, bassGain,
                                     trebleGain, plan, anySigns, realInput);
            plan.standIn = bassLow ? 1 : 2;
            plan.outweighed = true;
            plan.lowState[0] = li.y, plan.lowState[1] = next.y;
            if (period == 2 && (frames & 1)) {
                Store(next, low);
                plan.lowState[0] = next.y, plan.lowState[1] = li.y;
            }
            return SilentPath::Mixed;
        }
        if (MixedApplies(lowO, lowGain, normalO, normalGain)) {
            plan.valid = false;
            if (bassLow)
                MixedBlock<Accumulate, true>(bass, treble, in, out, frames, bassGain, trebleGain,
                                             period == 1 && !anySigns);
            else
                MixedBlock<Accumulate, false>(bass, treble, in, out, frames, bassGain, trebleGain,
                                              period == 1 && !anySigns);
            return SilentPath::Mixed;
        }
    }
    if (integers && OutputBound(ob, bassGain, ot, trebleGain) <= kZeroOutput) {
        IntegerChannel ch = LoadChannel(bass, treble, bassGain, trebleGain);
        SilentPath path = SilentPath::Integer;
        if ((input.same &&
             FrozenBlock<Accumulate>(ch, FloatOfBits(input.bits), out, frames, plan, anySigns)) ||
            (anySigns && realInput.same &&
             FrozenBlock<Accumulate>(ch, FloatOfBits(realInput.bits), out, frames, plan, false))) {
            path = SilentPath::Frozen;
        } else {
            plan.valid = false;
            for (std::int32_t i = 0; i < frames; ++i)
                out[i] = IntegerSample<Accumulate>(ch, in[i], out[i]);
        }
        Store(ch.bass, bass);
        Store(ch.treble, treble);
        return path;
    }
    plan.valid = false;
    if (realInput.zero && frames > 1) {
        // No one path holds over the whole block: a long block in which a state decays from the
        // normal range into the subnormals, or the first zeros after sound (the previous scaled
        // inputs not yet zeros, which the integer paths ask for). Its halves are looked at
        // afresh, each carrying its own signs (so this block reports the usual path: the caller
        // must not carry them again).
        const std::int32_t half = frames / 2;
        ChannelBlock<Accumulate>(bass, treble, in, out, half, bassGain, trebleGain, plan);
        ChannelBlock<Accumulate>(bass, treble, in + half, out + half, frames - half, bassGain,
                                 trebleGain, plan);
        plan.valid = false;
        return SilentPath::Usual;
    }
    Usual<Accumulate, ToneStore::Float>(bass, treble, in, out, frames, bassGain, trebleGain);
    return SilentPath::Usual;
}

// How many samples a plan made on this block holds for: the largest of a few horizons over
// which its conditions hold (the states, but for those it leaves still, safely normal; for the
// usual stores, outputs that stay normal floats; a stand-in still outweighed).
std::int64_t Horizon(const SilentPlan& plan, const SilentFilter& bass, const SilentFilter& treble,
                     float bassGain, float trebleGain) {
    if (plan.path == SilentPath::Frozen) return INT64_MAX; // it holds its states as its key
    const Outlook zero{kZeroExponent, kZeroExponent, true};
    for (std::int32_t h = 1 << 16; h >= 16; h >>= 3) {
        const Outlook ob = plan.standIn == 1 || plan.bassStill ? zero : Foresee(bass, h);
        const Outlook ot = plan.standIn == 2 || plan.trebleStill ? zero : Foresee(treble, h);
        bool holds = StaysNormal(ob, bassGain) && StaysNormal(ot, trebleGain);
        if (plan.path == SilentPath::Usual)
            holds = holds && OutputsStayNormal(ob, bassGain, ot, trebleGain);
        if (plan.standIn == 1 && plan.outweighed)
            holds = holds && Dominated(Foresee(bass, h), bassGain, ot, trebleGain);
        if (plan.standIn == 2 && plan.outweighed)
            holds = holds && Dominated(Foresee(treble, h), trebleGain, ob, bassGain);
        if (plan.outweighedMoving & 1u) holds = holds && Dominated(ob, bassGain, ot, trebleGain);
        if (plan.outweighedMoving & 2u) holds = holds && Dominated(ot, trebleGain, ob, bassGain);
        if (holds) return h;
    }
    return 0;
}

// Two states alike for a plan: the same bits, or (where the plan holds for any signs) zeros.
bool Alike(TExtendedBits a, TExtendedBits b, bool anySigns) {
    return a == b || (anySigns && a.IsZero() && b.IsZero());
}

// Whether the plan holds for this block: every sample the plan's zero (any zero, for a plan
// that holds for any signs), the same gains, designs and control word, frames within its
// horizon, and the states it expects. same: every sample the same zero.
bool PlanHolds(const SilentPlan& plan, const SilentFilter& bass, const SilentFilter& treble,
               const float* in, std::int32_t frames, float bassGain, float trebleGain, bool& same) {
    if (!plan.valid || frames > plan.left || (FloatBits(in[0]) & 0x7FFFFFFFu)) return false;
    if (FloatBits(bassGain) != plan.bassGain || FloatBits(trebleGain) != plan.trebleGain ||
        bass.design != plan.bassDesign || treble.design != plan.trebleDesign ||
        ControlWordBits() != plan.control)
        return false;
    const bool anySigns = plan.signFree || plan.signsFollow;
    if (plan.path == SilentPath::Frozen &&
        (!Alike(BitsOf(bass.prevY), plan.state[plan.phase][0], anySigns) ||
         !Alike(BitsOf(treble.prevY), plan.state[plan.phase][1], anySigns)))
        return false;
    if (plan.standIn != 0 &&
        !Alike(BitsOf((plan.standIn == 1 ? bass : treble).prevY), plan.lowState[0], anySigns))
        return false;
    const std::uint32_t first = FloatBits(in[0]);
    std::uint32_t differ = 0, any = 0;
    for (std::int32_t i = 0; i < frames; ++i) {
        const std::uint32_t b = FloatBits(in[i]);
        differ |= b ^ first;
        any |= b;
    }
    same = differ == 0;
    if (anySigns) return (any & 0x7FFFFFFFu) == 0;
    return same && first == plan.zero;
}

// A plan's path on a block: b and t are the filters it runs (a stand-in in place of a stopped
// low one), bass and treble the channel's own.
template <bool Accumulate>
void RunPlanPath(SilentPlan& plan, const SilentFilter& b, const SilentFilter& t,
                 const SilentFilter& bass, const SilentFilter& treble, const float* in, float* out,
                 std::int32_t frames, float bassGain, float trebleGain) {
    switch (plan.path) {
    case SilentPath::Usual:
        Usual<Accumulate, ToneStore::Float>(b, t, in, out, frames, bassGain, trebleGain);
        break;
    case SilentPath::Signs:
        Usual<Accumulate, ToneStore::Sign>(b, t, in, out, frames, bassGain, trebleGain);
        break;
    case SilentPath::Fill:
        if (plan.signsFollow) {
            // Every term a zero: the real states' signs (an alternating one is moved below); those
            // moving on the x87 are nonzero, their signs the plan's.
            SignTrack sb = plan.bassMoving ? TrackNonzero(bass) : Track(bass);
            SignTrack st = plan.trebleMoving ? TrackNonzero(treble) : Track(treble);
            const std::uint32_t odd = static_cast<std::uint32_t>(frames) & 1u;
            if (plan.bassMoving) {
                sb.yNeg = plan.movingSigns & 1u, sb.uNeg = BitsOf(bass.prevT).IsNegative();
                plan.movingSigns ^= static_cast<std::uint8_t>(sb.ycNeg & odd);
            }
            if (plan.trebleMoving) {
                st.yNeg = (plan.movingSigns >> 1) & 1u, st.uNeg = BitsOf(treble.prevT).IsNegative();
                plan.movingSigns ^= static_cast<std::uint8_t>((st.ycNeg & odd) << 1);
            }
            if (plan.bassMoving && plan.trebleMoving)
                Advance<true, true>(bass, treble, frames);
            else if (plan.bassMoving)
                Advance<true, false>(bass, treble, frames);
            else if (plan.trebleMoving)
                Advance<false, true>(bass, treble, frames);
            FollowSigns<Accumulate>(sb, bass, IsNegative(bassGain), st, treble,
                                    IsNegative(trebleGain), in, out, frames);
        } else {
            RunFill<Accumulate>(plan, b, t, out, frames);
        }
        break;
    default: { // Frozen
        FillOutputs<Accumulate>(plan.value, plan.phase, out, frames);
        plan.phase = (plan.phase + static_cast<unsigned>(frames)) & 1;
        SetBits(bass.prevY, plan.state[plan.phase][0]);
        SetBits(treble.prevY, plan.state[plan.phase][1]);
        break;
    }
    }
}

// Runs a plan on a block.
template <bool Accumulate>
void RunPlan(SilentPlan& plan, const SilentFilter& bass, const SilentFilter& treble,
             const float* in, float* out, std::int32_t frames, float bassGain, float trebleGain,
             bool same) {
    // A plan that holds for any signs leaves the previous scaled inputs, and the states that
    // are zeros, to be carried (the usual kernel runs them itself, but for a stand-in).
    const bool carry =
        plan.signFree && !plan.signsFollow &&
        (plan.standIn != 0 || (plan.path != SilentPath::Usual && plan.path != SilentPath::Signs));
    SignTrack tb{}, tt{};
    if (carry) {
        tb = Carried<false>(plan.bassMoving ? TrackNonzero(bass) : Track(bass), in, frames, same);
        tt = Carried<true>(plan.trebleMoving ? TrackNonzero(treble) : Track(treble), in, frames,
                           same);
    }
    if (plan.standIn == 0 || plan.signsFollow) { // signs that follow run the real states
        RunPlanPath<Accumulate>(plan, bass, treble, bass, treble, in, out, frames, bassGain,
                                trebleGain);
    } else {
        // A stopped low filter runs as a zero state beside its own previous scaled input.
        const SilentFilter& low = plan.standIn == 1 ? bass : treble;
        long double standInY = 0.0L, standInU = low.prevT;
        const SilentFilter standIn{low.g, low.yc, low.decay, low.design, standInU, standInY};
        RunPlanPath<Accumulate>(plan, plan.standIn == 1 ? standIn : bass,
                                plan.standIn == 2 ? standIn : treble, bass, treble, in, out, frames,
                                bassGain, trebleGain);
    }
    if (plan.standIn != 0 && (frames & 1) && plan.lowState[1] != plan.lowState[0]) {
        const dsp::TExtendedBits now = plan.lowState[1];
        plan.lowState[1] = plan.lowState[0];
        plan.lowState[0] = now;
        SetBits((plan.standIn == 1 ? bass : treble).prevY, now);
    }
    if (carry) {
        Put(tb, bass);
        Put(tt, treble);
    }
    plan.left -= frames;
}

template <bool Accumulate>
SilentPath ChannelBlock(const SilentFilter& bass, const SilentFilter& treble, const float* in,
                        float* out, std::int32_t frames, float bassGain, float trebleGain,
                        SilentPlan& plan) {
    bool same = false;
    if ((FloatBits(in[0]) & 0x7FFFFFFFu) != 0) {
        // Not silence: tiny input (the caller sends sound to the usual kernel), a tail.
        plan.Forget();
        if (TailApplies(bass, treble, bassGain, trebleGain)) {
            TailBlock<Accumulate>(bass, treble, in, out, frames, bassGain, trebleGain, plan);
            return SilentPath::Tail;
        }
        if (DecayedBlock<Accumulate>(bass, treble, in, out, frames, bassGain, trebleGain, plan))
            return SilentPath::Decayed;
        Usual<Accumulate, ToneStore::Float>(bass, treble, in, out, frames, bassGain, trebleGain);
        return SilentPath::Usual;
    }
    // Accumulating onto old outputs that are float subnormals (another tail): the Tail path,
    // which reads them without the x87's slow path.
    const bool subnormalOld = Accumulate && AnySubnormal(out, frames);
    if (!subnormalOld && PlanHolds(plan, bass, treble, in, frames, bassGain, trebleGain, same)) {
        RunPlan<Accumulate>(plan, bass, treble, in, out, frames, bassGain, trebleGain, same);
        return plan.signsFollow ? SilentPath::Untouched
                                : (plan.standIn != 0 ? SilentPath::Mixed : plan.path);
    }
    plan.Forget();
    plan.standIn = 0;
    plan.signFree = plan.signsFollow = false;
    plan.bassMoving = plan.trebleMoving = false;
    plan.outweighedMoving = 0;
    InputKind input = Scan(in, frames);
    if (subnormalOld && (input.zero || input.tiny)) input = {false, false, input.bits, true};
    // Zeros, previous scaled inputs that are zeros, rounding to nearest: the signs are taken
    // before the block runs (an output may overwrite its input) and carried after it, exact
    // whatever path runs (+0 may have stood for them).
    const bool carry =
        input.zero && IsZero(bass.prevT) && IsZero(treble.prevT) && ReadControlWord().nearest;
    SignTrack tb{}, tt{};
    if (carry) {
        tb = Carried<false>(Track(bass), in, frames, input.same);
        tt = Carried<true>(Track(treble), in, frames, input.same);
    }
    const SilentPath path =
        Look<Accumulate>(bass, treble, input, in, out, frames, bassGain, trebleGain, plan);
    if (carry && path != SilentPath::Usual) {
        Put(tb, bass);
        Put(tt, treble);
    }
    const bool plannable =
        plan.valid && input.zero && (input.same || plan.signFree || plan.signsFollow) &&
        (path == SilentPath::Usual || path == SilentPath::Signs || path == SilentPath::Fill ||
         path == SilentPath::Untouched || path == SilentPath::Frozen ||
         (path == SilentPath::Mixed && plan.standIn));
    if (!plannable) {
        plan.Forget();
        return path;
    }
    plan.zero = input.bits;
    plan.bassGain = FloatBits(bassGain), plan.trebleGain = FloatBits(trebleGain);
    plan.bassDesign = bass.design, plan.trebleDesign = treble.design;
    plan.control = ControlWordBits();
    plan.left = Horizon(plan, bass, treble, bassGain, trebleGain);
    if (plan.left == 0) plan.Forget();
    return path;
}

template <bool Accumulate>
SilentPath SilentInterleavedBlock(const SilentFilter* const filters[4], float** inputs,
                                  float** outputs, std::int32_t frames, float bassGain,
                                  float trebleGain) {
    // Every output these paths write is a zero, or (accumulating) the old output unchanged, so
    // an input that is another channel's output stays what it was or a zero: the scan before
    // the block holds for the whole block.
    if (!Scan(inputs[0], frames).zero || !Scan(inputs[1], frames).zero) return SilentPath::Usual;
    for (int f = 0; f < 4; ++f)
        if (!Finite(*filters[f])) return SilentPath::Usual;
    if (!std::isfinite(bassGain) || !std::isfinite(trebleGain)) return SilentPath::Usual;
    const ControlWord cw = ReadControlWord();
    Outlook o[4];
    for (int f = 0; f < 4; ++f)
        o[f] = Foresee(*filters[f], frames);
    bool normal = true, zeros = cw.nearest;
    for (int c = 0; c < 2; ++c) {
        normal = normal && StaysNormal(o[2 * c], bassGain) && StaysNormal(o[2 * c + 1], trebleGain);
        zeros = zeros && OutputBound(o[2 * c], bassGain, o[2 * c + 1], trebleGain) <= kZeroOutput;
    }
    if (!zeros) return SilentPath::Usual;
    if (normal) {
        // Accumulating, an old output that is not zero stays; the store narrows it back.
        constexpr ToneStore kStore = Accumulate ? ToneStore::Narrow : ToneStore::Sign;
        FirstOrderDesign design[4];
        FirstOrderState state[4];
        for (int f = 0; f < 4; ++f) {
            design[f] = {filters[f]->g, f % 2 ? -1.0L : 1.0L, filters[f]->yc};
            state[f] = {filters[f]->prevT, filters[f]->prevY};
        }
        for (std::int32_t i = 0; i < frames; ++i)
            for (int c = 0; c < 2; ++c)
                outputs[c][i] = ToneStep<Accumulate, 1, -1, kStore>(
                    design[2 * c], state[2 * c], design[2 * c + 1], state[2 * c + 1], inputs[c][i],
                    outputs[c][i], bassGain, trebleGain);
        for (int f = 0; f < 4; ++f)
            filters[f]->prevT = state[f].prevT, filters[f]->prevY = state[f].prevY;
        return SilentPath::Signs;
    }
    for (int c = 0; c < 2; ++c)
        if (!IntegerPathsApply(cw, *filters[2 * c], o[2 * c], bassGain, *filters[2 * c + 1],
                               o[2 * c + 1], trebleGain))
            return SilentPath::Usual;
    IntegerChannel ch[2] = {LoadChannel(*filters[0], *filters[1], bassGain, trebleGain),
                            LoadChannel(*filters[2], *filters[3], bassGain, trebleGain)};
    for (std::int32_t i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c)
            outputs[c][i] = IntegerSample<Accumulate>(ch[c], inputs[c][i], outputs[c][i]);
    for (int c = 0; c < 2; ++c) {
        Store(ch[c].bass, *filters[2 * c]);
        Store(ch[c].treble, *filters[2 * c + 1]);
    }
    return SilentPath::Integer;
}

template SilentPath ChannelBlock<false>(const SilentFilter&, const SilentFilter&, const float*,
                                        float*, std::int32_t, float, float, SilentPlan&);
template SilentPath ChannelBlock<true>(const SilentFilter&, const SilentFilter&, const float*,
                                       float*, std::int32_t, float, float, SilentPlan&);
template SilentPath SilentInterleavedBlock<false>(const SilentFilter* const[4], float**, float**,
                                                  std::int32_t, float, float);
template SilentPath SilentInterleavedBlock<true>(const SilentFilter* const[4], float**, float**,
                                                 std::int32_t, float, float);

} // namespace vurnel
