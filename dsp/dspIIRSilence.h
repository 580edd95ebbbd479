// The recursion of TdspIIRFilter on silence, without the x87's slow paths, every bit kept.
//
// When the input falls silent a stable recursion decays towards the extended format's subnormal
// range (below 2^-16382), where every x87 operation on such a value, and every product that lands
// there, takes a microcode assist hundreds of cycles long; the narrowing of small outputs to
// double or float takes one too. A block of zeros (of either sign, in any pattern) runs instead on
// paths that give the bits of the plain computation without an assist:
//
// - Normal: the usual loop, where every operand is certain to be a zero or safely normal. Each
//   product of a nonzero history value by a nonzero coefficient is at least 2^kSafe (the bound
//   is checked on the histories as the block starts, and on each new output before it is used),
//   so every product and every partial sum is normal or zero: a sum of values that are multiples
//   of 2^(kSafe − 63) is zero or at least that. The outputs are narrowed from the extended values,
//   by the x87 where they are normal in the buffer's type and by integer means where not.
// - Integer: below that bound, the recursion carried on by integer means, which give the x87's
//   bits: in whole units of 2^-16445 as 64-bit integers where the input histories are zeros and
//   the outputs small (a branch-free loop by tap count, a 128-bit product a tap rounded to
//   nearest even), else MulBits and AddBits; a section fed by silent sections while its own
//   outputs are still large computes on the x87 from its safe operands alone (the small
//   products cannot change its sum); the outputs narrowed by integer means.
// - Frozen: the integer recursion at a fixed point or in a cycle of at most MaxSilentCycle
//   samples, its input histories all zeros and every output holding a nonzero product (so the
//   zeros' signs change nothing but those histories): the outputs repeat, the block is filled and
//   the histories are set by integer stores.
#pragma once

#include <cstdint>
#include <cstring>

#include "dspExtendedBits.h"

namespace vurnel::dsp {

enum class TdspSilentPath : std::uint8_t { Normal = 0, Integer, Frozen, Count };

// The longest cycle the frozen path fills; the most taps the silent paths run.
constexpr int MaxSilentCycle = 64;
constexpr int MaxSilentTaps = 16;

// What the silent paths keep between calls: one filter's, on its audio thread.
struct TdspSilentState {
    // The design the bounds belong to (a design count), and the bounds: a nonzero input history
    // value is safe at exponent field xLimit + 1 and above, an output history value at yLimit + 1.
    std::uint64_t design = ~std::uint64_t{0};
    bool usable = false;
    // No product of a value of at most unitsMost units by a feedback coefficient can be a tie
    // (too few trailing zeros): the block calls' whole-unit loop rounds half up (UnitsRunNear).
    bool unitsNear = false;
    unsigned xLimit = 0, yLimit = 0;
    // The whole-unit loop's feedback coefficients: significand, right shift back to units (0:
    // the product rounds to a zero), sign as 0 or −1; it runs while every output history lies
    // below 2^unitsBits units (0: it does not run).
    std::uint64_t unitsMantissa[MaxSilentTaps];
    std::uint8_t unitsShift[MaxSilentTaps];
    std::int64_t unitsSign[MaxSilentTaps];
    int unitsBits = 0;
    // The largest output magnitude, in units, that the whole-unit loop and step carry below the
    // Wide loop: every product then below 2^64 units and the sum of their magnitudes below 2^63,
    // so that every partial sum in any order is exact (at least 2^unitsBits − 1).
    std::int64_t unitsMost = 0;
    // The loop above those bounds, on the x87 in units (ScaledRun): for each feedback tap, values
    // below scaledLow units have products below 2^63 − 1/2 units (rounded to whole units by
    // integer means), values from scaledHigh on products of 2^63 units or more (the x87's).
    std::uint64_t scaledLow[MaxSilentTaps], scaledHigh[MaxSilentTaps];
    // The search for a cycle in the integer recursion: the output window `since` samples ago (−1:
    // none) and the outputs after it; valid while the histories are the ones the search left.
    int since = -1;
    TExtendedBits reference[MaxSilentTaps];
    TExtendedBits recent[MaxSilentCycle];
    TExtendedBits left[MaxSilentTaps + 1];
    // Frozen: the outputs repeat with this period; the next one is cycle[MaxSilentTaps + 1 +
    // phase], and the MaxSilentTaps + 1 before it are the cycle's outputs before that.
    bool frozen = false;
    int period = 0, phase = 0;
    TExtendedBits cycle[MaxSilentTaps + 1 + MaxSilentCycle];
    float cycleFloat[MaxSilentCycle];
    double cycleDouble[MaxSilentCycle];
    // Samples run on each path, for tests and benchmarks.
    std::uint64_t samples[static_cast<int>(TdspSilentPath::Count)] = {};
};

// Whether every sample is a zero (of either sign), read as bits.
bool AllZeros(const long double* v, int count);
bool AllZeros(const double* v, int count);
bool AllZeros(const float* v, int count);

// Runs count > 0 samples of zeros through the recursion (IIRFilterStep's arguments) on the silent
// paths and returns true, or returns false having touched nothing where they do not apply (more
// than MaxSilentTaps taps, histories not finite, coefficients subnormal, an x87 control word
// other than rounding to nearest with 64-bit significands). design identifies the coefficients
// (it changes whenever they do). Output may be the input. Audio thread; allocates nothing.
bool IIRSilentBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const long double* input, long double* output, int count, std::uint64_t design,
                    TdspSilentState& state);
bool IIRSilentBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const double* input, double* output, int count, std::uint64_t design,
                    TdspSilentState& state);
bool IIRSilentBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const float* input, float* output, int count, std::uint64_t design,
                    TdspSilentState& state);

// The sign bit of a zero held in an x87 register: stored as a float (a zero converts exactly, with
// no flag) and read back as bits; a 4-byte store forwards to a 4-byte load. (fxam's C1 needs
// fnstsw, which waits for every x87 operation before it: per sample, for the last sample's whole
// chain, about twice the plain step's time on the AMD EPYC measured.)
inline bool SignOfZero(long double v) {
#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
    std::uint32_t bits;
    __asm__("fsts %0" : "=m"(bits) : "t"(v));
    return (bits >> 31) != 0;
#else
    return ToBits(v).IsNegative();
#endif
}

// ProcessSample's Normal path, decided where the caller's plain step is inlined (the same decision
// IIRSilentSample makes first, without its calls): true, the sample counted as Normal, where the
// state is this design's, not frozen, and every history value the step reads (xv and yv at 1 to
// numTaps) is a zero or lies above its bound. Reads the values as integers from memory, so that
// no x87 operation touches one that is not safe.
inline bool IIRSilentSampleIsNormal(int numTaps, const long double* xv, const long double* yv,
                                    std::uint64_t design, TdspSilentState& s) {
    if (numTaps < 1 || numTaps > MaxSilentTaps || s.design != design || !s.usable || s.frozen)
        return false;
    const auto unsafe = [](const long double* v, unsigned limit) {
        std::uint64_t mantissa;
        std::uint16_t signExponent;
        std::memcpy(&mantissa, v, 8);
        std::memcpy(&signExponent, reinterpret_cast<const unsigned char*>(v) + 8, 2);
        return mantissa != 0 && static_cast<unsigned>(signExponent & 0x7FFFu) <= limit;
    };
    for (int i = 1; i <= numTaps; ++i)
        if (unsafe(xv + i, s.xLimit) || unsafe(yv + i, s.yLimit)) return false;
    ++s.samples[static_cast<int>(TdspSilentPath::Normal)];
    return true;
}

// ProcessSample's: one zero x (−0 where negative). Returns true with y set where it ran on the
// silent paths, false where the caller's plain step is to run: the silent paths do not apply, or
// the histories are safe, so that the plain step takes no slow path (counted as Normal).
bool IIRSilentSample(int numTaps, const long double& gainFactor, const long double* xCoeffs,
                     const long double* yCoeffs, long double* xv, long double* yv, bool negative,
                     long double& y, std::uint64_t design, TdspSilentState& state);

// The same for a cascade of second-order sections (TdspIIRSections), where the histories are
// each section's input and output pairs. While some history value is above whole units (or all
// are zeros), a block runs a section at a time over chunks of samples, each section on the path
// its own operands allow for as long as they allow it (the x87 where they are safe, whole units,
// the zeros' signs, the absorbing sum, a fixed point's output repeated; the general step for a
// sample where none does); below, the cascade runs in whole units sample by sample, with the search
// for cycles. Frozen: the sections that carry a cycle (the first of them with a nonzero product
// every sample, so that the input zeros' signs change nothing behind it; a later one may have
// none, its zero outputs' signs then part of the cycle) come after sections whose histories are
// all zeros (their outputs zeros, whose signs are formed from the input's sample by sample).
// Sections in whole units whose inputs are zeros repeat their outputs once their histories come
// again, within a chunk or a block, even where the cascade's own cycle is longer.
constexpr int MaxSilentSections = 8;
// The longest cycle a cascade's frozen path fills: at 96 kHz the whole-unit cycles of band
// designs and of high-order lowpass and highpass cascades run to a few hundred samples.
constexpr int MaxSilentSectionsCycle = 512;
struct TdspBiquad;

struct TdspSilentSectionsState {
    std::uint64_t design = ~std::uint64_t{0};
    bool usable = false;
    unsigned limit = 0;
    int since = -1, dead = 0;
    TExtendedBits reference[2 * MaxSilentSections];
    TExtendedBits left[2 * (MaxSilentSections + 1)];
    // The live sections' outputs, sample by sample, since the reference; once frozen, the cycle.
    // Each value kept as its significand and its sign and exponent, in two arrays (10 bytes a
    // value, where the pair would take 16).
    std::uint64_t stepMantissa[MaxSilentSectionsCycle][MaxSilentSections];
    std::uint16_t stepSignExponent[MaxSilentSectionsCycle][MaxSilentSections];
    bool frozen = false;
    int period = 0, phase = 0;
    float cycleFloat[MaxSilentSectionsCycle];
    double cycleDouble[MaxSilentSectionsCycle];
    std::uint64_t samples[static_cast<int>(TdspSilentPath::Count)] = {};
    // The coefficients taken apart for the integer paths when the design changes (an object of
    // dspIIRSilence.cpp's own, kept here so that nothing is allocated).
    alignas(16) unsigned char cascade[2816];
};

// As IIRSilentBlock, for `sections` sections and their histories (count + 1 pairs).
bool SectionsSilentBlock(int sections, const TdspBiquad* biquads, long double (*history)[2],
                         const long double* input, long double* output, int count,
                         std::uint64_t design, TdspSilentSectionsState& state);
bool SectionsSilentBlock(int sections, const TdspBiquad* biquads, long double (*history)[2],
                         const double* input, double* output, int count, std::uint64_t design,
                         TdspSilentSectionsState& state);
bool SectionsSilentBlock(int sections, const TdspBiquad* biquads, long double (*history)[2],
                         const float* input, float* output, int count, std::uint64_t design,
                         TdspSilentSectionsState& state);

bool SectionsSilentSample(int sections, const TdspBiquad* biquads, long double (*history)[2],
                          long double x, long double& y, std::uint64_t design,
                          TdspSilentSectionsState& state);

// ProcessSample's Normal path for a cascade, decided where the caller's plain cascade is inlined
// (SectionsSilentSample's first decision, without its calls): true, the sample counted as Normal,
// where the state is this design's, usable and not frozen, and every history value is a zero or
// lies above the bound. Reads the values as integers from memory, so that no x87 operation
// touches one that is not safe.
inline bool SectionsSilentSampleIsNormal(int sections, const long double (*history)[2],
                                         std::uint64_t design, TdspSilentSectionsState& s) {
    if (sections < 1 || sections > MaxSilentSections || s.design != design || !s.usable || s.frozen)
        return false;
    const unsigned limit = s.limit;
    bool unsafe = false;
    for (int j = 0; j <= sections; ++j)
        for (int t = 0; t < 2; ++t) {
            std::uint64_t mantissa;
            std::uint16_t signExponent;
            std::memcpy(&mantissa, &history[j][t], 8);
            std::memcpy(&signExponent, reinterpret_cast<const unsigned char*>(&history[j][t]) + 8,
                        2);
            unsafe |= (mantissa != 0) & (static_cast<unsigned>(signExponent & 0x7FFFu) <= limit);
        }
    if (unsafe) return false;
    ++s.samples[static_cast<int>(TdspSilentPath::Normal)];
    return true;
}

// The last two nonzero results SectionsSilentStep computed for each section but the last, with
// the operands they came from: a section that holds a fixed point or a cycle of two in the
// subnormal range (as lowpass sections do while a later one still decays) takes its output from
// here instead of its products. A nonzero result does not depend on the signs of zero operands,
// so those are left out of the comparison.
struct TdspSectionsStepMemo {
    std::uint64_t design = ~std::uint64_t{0};
    struct Entry {
        std::uint64_t m[5];
        std::uint16_t e[5];
        std::uint16_t ye;
        bool alive, valid;
        std::uint64_t ym;
    };
    Entry entries[MaxSilentSections][2] = {};
    unsigned char next[MaxSilentSections] = {};
    // Two for a miss, less one for a hit; from 8 the section runs without the memo, counting on
    // to 255, then tries it again.
    unsigned char misses[MaxSilentSections] = {};

    // A long silence run ahead: the sections' outputs for the next samples, worked out a section
    // at a time over all of them as the block calls work them out (on zeros of one sign: a nonzero
    // output does not depend on the zeros' signs, a zero's sign is worked out sample by sample),
    // then replayed while the histories are the run's. Section i's output history before the run
    // is outputs[i][0..1], its outputs follow; as long as the silence so far, at most MaxAhead.
    static constexpr int MaxAhead = 64;
    int ahead = 0, taken = 0;    // outputs worked out, replayed
    int steps = 0;               // consecutive steps (the silence so far, up to MaxAhead)
    std::uint64_t stepCount = 0; // the silent paths' samples at the last step
    // Replayed samples before the step runs alone again (for `searching` samples, its cycle
    // search): the gap doubles each time, up to MaxSearchGap.
    static constexpr int FirstSearchGap = 4096, MaxSearchGap = 1 << 18;
    int gap = FirstSearchGap, untilSearch = FirstSearchGap, searching = 0;
    long double outputs[MaxSilentSections][MaxAhead + 2];
};

// ProcessSample's step on a zero (−0 where negative) where the cascade's histories are not all
// safe: the frozen cycle by integer stores; in a silence that goes on, the run worked out ahead
// (memo); or the cascade a section at a time, each section on the cheapest exact path its own
// operands allow (zeros, the x87, whole units, else SectionsSilentSample's general step), on the
// histories in place, with the search for cycles.
// Returns where the output lies: y, or the run in memo (a replayed output is loaded from there,
// long after its store, not copied through y); null, nothing touched, where it does not apply
// (the caller then runs SectionsSilentSample). memo keeps the sections' repeated results (the
// caller's, one per cascade). Audio thread; allocates nothing.
const long double* SectionsSilentStep(int sections, const TdspBiquad* biquads,
                                      long double (*history)[2], bool negative, long double& y,
                                      std::uint64_t design, TdspSilentSectionsState& state,
                                      TdspSectionsStepMemo& memo);

} // namespace vurnel::dsp
