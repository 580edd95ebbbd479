// The tone control's innermost loop: the bass and the treble first-order filter of one channel
// over a block, in one pass. These are the same operations, in the same order and precision, as
// the plain per-sample code, so every output and every filter state keeps its bits; on x86-64
// the loop keeps every extended value in the x87 registers (see ToneKernel.cpp).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace vurnel {

struct FirstOrderDesign {
    long double g, xc, yc; // y = (x·g + xc·u₋₁) + yc·y₋₁, u₋₁ the previous x·g
};
struct FirstOrderState {
    long double prevT, prevY;
};

// One first-order step: u = x·g; y = (u + xc·u₋₁) + yc·y₋₁. Sign is the feed-forward coefficient
// xc when it is exactly +1 or −1 (a product by it is exact, so an add or subtract gives the same
// bits), or 0 for any other coefficient, applied as written.
template <int Sign>
inline long double FirstOrderStep(long double g, long double xc, long double yc, long double& prevT,
                                  long double& prevY, long double x) {
    const long double t = x * g;
    long double acc;
    if constexpr (Sign > 0)
        acc = t + prevT;
    else if constexpr (Sign < 0)
        acc = t - prevT;
    else
        acc = t + prevT * xc;
    acc = acc + prevY * yc;
    prevT = t;
    prevY = acc;
    return acc;
}

// How an output reaches its buffer. Float: narrowed to float. Narrow: the same bits, without
// the assist the x87 takes on a store whose result is below the normal floats: there the result
// is a multiple of 2^-149, v·2^149 (exact) rounded to an integer by the current rounding mode,
// with v's sign. Sign: the output is certain to round to a zero (it lies below half the smallest
// float and the rounding is to nearest), and only its sign is taken; accumulating, a nonzero old
// output, which such a sum cannot change, is left as it is. Tail: stored as Narrow does, and the
// input samples (and old outputs) read exactly without loading them on the x87 as floats, since
// a float subnormal is an x87 operand that takes the slow path (a signal decaying through the
// float subnormals); it holds for any input, on states in TailStateFits's range (ToneTailBlock).
enum class ToneStore { Float, Narrow, Sign, Tail };

// Whether an extended value lies where the Tail kernel may take it as a state: a zero, or from
// 2^-900 to 2^16000, so that every value the kernel forms from it (scaled by 2^64) stays far
// from the extended format's subnormals and its overflow. Read from the sign-and-exponent field
// and the significand as integers: an x87 look at a subnormal takes the slow path.
inline bool TailStateFits(const long double& v) {
    std::uint64_t mantissa;
    std::uint16_t signExponent;
    std::memcpy(&mantissa, &v, 8);
    std::memcpy(&signExponent, reinterpret_cast<const unsigned char*>(&v) + 8, 2);
    constexpr unsigned kLow = 16383 - 900, kHigh = 16383 + 16000;
    const unsigned e = signExponent & 0x7FFFu;
    return (e - kLow < kHigh - kLow) | ((e | mantissa) == 0);
}

// The current rounding mode's nearest integer to v, |v| < 2^62, by the x87 itself.
inline long long RoundToInteger(long double v) {
#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
    long long n;
    __asm__("fistpll %0" : "=m"(n) : "t"(v) : "st");
    return n;
#else
    return std::llrint(v);
#endif
}

// A float's value in the extended format, made from its bits by integer means: a normal float's
// exponent rebased, a subnormal's significand normalised, zeros, infinities and NaNs kept.
inline long double ExactValue(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    const std::uint32_t magnitude = b & 0x7FFFFFFFu, e = magnitude >> 23, m = magnitude & 0x7FFFFFu;
    std::uint64_t mantissa;
    std::uint32_t exponent;
    if (e == 255) {
        exponent = 0x7FFF, mantissa = (1ull << 63) | (static_cast<std::uint64_t>(m) << 40);
    } else if (e != 0) {
        exponent = e + 16383 - 127, mantissa = (static_cast<std::uint64_t>(m) | 0x800000u) << 40;
    } else if (m != 0) {
        const int high = 31 - __builtin_clz(m); // m = 1.f·2^high
        exponent = static_cast<std::uint32_t>(high + 16383 - 149);
        mantissa = static_cast<std::uint64_t>(m) << (63 - high);
    } else {
        exponent = 0, mantissa = 0;
    }
    unsigned char raw[sizeof(long double)] = {};
    const std::uint16_t signExponent = static_cast<std::uint16_t>((b >> 16 & 0x8000u) | exponent);
    std::memcpy(raw, &mantissa, 8);
    std::memcpy(raw + 8, &signExponent, 2);
    long double v;
    std::memcpy(&v, raw, sizeof v);
    return v;
}

inline float NarrowWithoutUnderflow(long double v) {
    if (!(std::fabs(v) < 0x1p-126L)) return static_cast<float>(v);
    const long long n = RoundToInteger(v * 0x1p149L);
    const auto bits =
        (std::signbit(v) ? 0x80000000u : 0u) | static_cast<std::uint32_t>(n < 0 ? -n : n);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

template <bool Accumulate, ToneStore Store> inline float StoreOutput(long double v, float old) {
    if constexpr (Store == ToneStore::Float) {
        return static_cast<float>(v);
    } else if constexpr (Store == ToneStore::Narrow || Store == ToneStore::Tail) {
        return NarrowWithoutUnderflow(v);
    } else {
        std::uint32_t bits;
        std::memcpy(&bits, &old, sizeof bits);
        if (Accumulate && (bits & 0x7FFFFFFFu) != 0) return old;
        return std::signbit(v) ? -0.0f : 0.0f;
    }
}

// One sample of one channel: a = bass step, t = a·bassGain + x (accumulating: + (out + x)),
// b = treble step, out = b·trebleGain + t narrowed to float.
template <bool Accumulate, int BassSign, int TrebleSign, ToneStore Store = ToneStore::Float>
inline float ToneStep(const FirstOrderDesign& bd, FirstOrderState& bs, const FirstOrderDesign& td,
                      FirstOrderState& ts, float in, float out, float bassGain, float trebleGain) {
    const long double x = Store == ToneStore::Tail ? ExactValue(in) : in;
    const long double a = FirstOrderStep<BassSign>(bd.g, bd.xc, bd.yc, bs.prevT, bs.prevY, x);
    long double t;
    if constexpr (Accumulate && Store == ToneStore::Tail)
        t = a * bassGain + (ExactValue(out) + x);
    else if constexpr (Accumulate)
        t = a * bassGain + (out + x);
    else
        t = a * bassGain + x;
    const long double b = FirstOrderStep<TrebleSign>(td.g, td.xc, td.yc, ts.prevT, ts.prevY, x);
    return StoreOutput<Accumulate, Store>(b * trebleGain + t, out);
}

// A block of one channel the plain way, sample by sample, the states in locals.
template <bool Accumulate, int BassSign, int TrebleSign, ToneStore Store = ToneStore::Float>
inline void PlainToneBlock(const FirstOrderDesign& bassDesign, FirstOrderState& bassState,
                           const FirstOrderDesign& trebleDesign, FirstOrderState& trebleState,
                           const float* in, float* out, std::int32_t frames, float bassGain,
                           float trebleGain) {
    const FirstOrderDesign bd = bassDesign, td = trebleDesign;
    FirstOrderState bs = bassState, ts = trebleState;
    for (std::int32_t i = 0; i < frames; ++i)
        out[i] = ToneStep<Accumulate, BassSign, TrebleSign, Store>(bd, bs, td, ts, in[i], out[i],
                                                                   bassGain, trebleGain);
    bassState = bs;
    trebleState = ts;
}

// One filter as the block loop sees it: its coefficients where the design keeps them, its
// state where the audio thread keeps it (nothing is copied per block).
struct FirstOrderFilter {
    const long double& g;
    const long double& yc;
    long double& prevT;
    long double& prevY;
};

// A block of one channel whose bass design has feed-forward +1 and treble design −1 (the
// first-order Butterworth lowpass and highpass). in and out may be the same buffer. The states
// are read at the start and written back at the end.
template <bool Accumulate, ToneStore Store = ToneStore::Float>
void ToneChannelBlock(const FirstOrderFilter& bass, const FirstOrderFilter& treble, const float* in,
                      float* out, std::int32_t frames, float bassGain, float trebleGain);

// Where the Tail kernel finds a channel's two filters (their coefficients and states), the gains,
// its constants, and room for its own use. A caller that runs the kernel block after block keeps
// one per channel and binds it again only when the filters' numbers move (TailBound): filling it
// anew costs a block of a few frames a good part of its time.
enum class TailStore : std::uint8_t { Whole, Branch, Chosen };

struct TailFrame {
    // In another order than FirstOrderFilter's references: copied from there as they stand,
    // they would be read 16 bytes at a time from two 8-byte stores just made, which stalls.
    const long double *ycB = nullptr, *gB = nullptr;
    long double* yB = nullptr;
    long double* uB = nullptr;
    const long double *ycT = nullptr, *gT = nullptr;
    long double* yT = nullptr;
    long double* uT = nullptr;
    double up = 0x1p64, down = 0x1p-64, toInteger = 0x1p85;
    float bassGain = 0.0f, trebleGain = 0.0f; // set by each block
    std::int64_t n = 0;                       // the kernel's own
    float spare = 0.0f;                       // the kernel's own
    std::uint32_t fits = 0;                   // the kernel's own
    double zero = 0.0;
    // The kernel's own: the last stretch's outputs below 2^-126, and of those the zeros.
    std::int64_t lowOutputs = 0, zeroOutputs = 0;
    double back = 0x1p-149; // an output scaled by 2^85 (toInteger) back to its own size

    // How the stretches store their outputs, chosen from the last 16 or more (counted in `seen`,
    // `low` and `zeros`): without a branch on their size where they crossed 2^-126 to and fro,
    // else behind one, and where none rounded to a zero, the float's bits stored whole.
    std::int32_t seen = 0, low = 0, zeros = 0;
    TailStore store = TailStore::Whole;
};

// Points the frame at the two filters.
void BindTail(TailFrame& frame, const FirstOrderFilter& bass, const FirstOrderFilter& treble);

// Whether the frame points at these filters.
inline bool TailBound(const TailFrame& frame, const FirstOrderFilter& bass,
                      const FirstOrderFilter& treble) {
    return (frame.gB == &bass.g) & (frame.ycB == &bass.yc) & (frame.yB == &bass.prevY) &
           (frame.uB == &bass.prevT) & (frame.gT == &treble.g) & (frame.ycT == &treble.yc) &
           (frame.yT == &treble.prevY) & (frame.uT == &treble.prevT);
}

// The Tail kernel's longest stretch: the states are looked at after each.
constexpr std::int32_t kTailStretch = 256;

// One stretch of the Tail kernel (0 < n ≤ kTailStretch) on the frame's filters and gains:
// returns 1 where the states it left fit (TailStateFits), 0 where they do not, and −1, having
// run nothing, where some input (or, accumulating, old output) is at or above 2^64 (sound).
template <bool Accumulate>
int ToneTailStretch(TailFrame& frame, const float* in, float* out, std::int32_t n);

// The usual kernel on the frame's filters.
template <bool Accumulate>
void ToneUsualBlock(const TailFrame& frame, const float* in, float* out, std::int32_t frames);

// ToneTailBlock (below) on a bound frame.
template <bool Accumulate>
inline std::int32_t ToneTailBlock(TailFrame& frame, const float* in, float* out,
                                  std::int32_t frames, float bassGain, float trebleGain,
                                  bool& fits) {
    frame.bassGain = bassGain, frame.trebleGain = trebleGain;
    std::int32_t at = 0;
    while (at < frames) {
        const std::int32_t n = frames - at < kTailStretch ? frames - at : kTailStretch;
        const int ran = ToneTailStretch<Accumulate>(frame, in + at, out + at, n);
        if (ran < 0) break;
        at += n;
        if (ran == 0) {
            fits = false;
            return at;
        }
    }
    fits = at == frames;
    // Sound from here on: the usual kernel.
    if (at < frames) ToneUsualBlock<Accumulate>(frame, in + at, out + at, frames - at);
    return frames;
}

// The Tail kernel (ToneStore::Tail) on a block, in stretches of 256 samples, for as long as the
// states it leaves at the end of each stretch fit (TailStateFits). The caller makes sure that
// they fit at the start, that the gain factors g are zeros or from 2^-700 to 2^15000 (so that
// every previous scaled input x·g fits), and that each feedback coefficient is a zero or at
// least 2^-32 in size (a state then shrinks by at most 2^-8192 within one stretch: every value
// stays far above the extended subnormals, whatever the input). Returns the frames it ran: all
// of them, but where the states stopped fitting (a long run of zeros decays them) and the
// caller runs the rest another way. Input at or above 2^64 (sound) runs the usual kernel from
// there on. fits: whether the states it left fit (the next block may run without looking).
// in and out may be the same buffer.
template <bool Accumulate>
std::int32_t ToneTailBlock(const FirstOrderFilter& bass, const FirstOrderFilter& treble,
                           const float* in, float* out, std::int32_t frames, float bassGain,
                           float trebleGain, bool& fits);

extern template void ToneChannelBlock<false, ToneStore::Float>(const FirstOrderFilter&,
                                                               const FirstOrderFilter&,
                                                               const float*, float*, std::int32_t,
                                                               float, float);
extern template void ToneChannelBlock<true, ToneStore::Float>(const FirstOrderFilter&,
                                                              const FirstOrderFilter&, const float*,
                                                              float*, std::int32_t, float, float);
extern template void ToneChannelBlock<false, ToneStore::Sign>(const FirstOrderFilter&,
                                                              const FirstOrderFilter&, const float*,
                                                              float*, std::int32_t, float, float);
extern template void ToneChannelBlock<true, ToneStore::Sign>(const FirstOrderFilter&,
                                                             const FirstOrderFilter&, const float*,
                                                             float*, std::int32_t, float, float);
extern template int ToneTailStretch<false>(TailFrame&, const float*, float*, std::int32_t);
extern template int ToneTailStretch<true>(TailFrame&, const float*, float*, std::int32_t);
extern template void ToneUsualBlock<false>(const TailFrame&, const float*, float*, std::int32_t);
extern template void ToneUsualBlock<true>(const TailFrame&, const float*, float*, std::int32_t);
extern template std::int32_t ToneTailBlock<false>(const FirstOrderFilter&, const FirstOrderFilter&,
                                                  const float*, float*, std::int32_t, float, float,
                                                  bool&);
extern template std::int32_t ToneTailBlock<true>(const FirstOrderFilter&, const FirstOrderFilter&,
                                                 const float*, float*, std::int32_t, float, float,
                                                 bool&);

} // namespace vurnel
