// The tone control's channel loop, and its paths for silent input that take none of the x87's
// slow paths.
//
// When the input falls silent the filters' states decay geometrically. On the way down the
// x87 takes microcode assists, hundreds of cycles each, in two places: a float store whose
// result is smaller than the smallest normal float (an underflow), and any operation on a
// value below 2^-16382, the extended format's subnormal range, where a state that has stopped
// decaying (the nearest value to y·yc is y itself) stays for good. Each block of zeros is looked
// at (its input, the states, the gains, the x87 control word) and runs on a path certain to
// give the bits of the plain computation without an assist:
//
// - Usual: the usual kernel, where every output is certain to be a normal float or zero.
// - Narrowed: where outputs may be float subnormals, the plain computation with each output
//   narrowed by integer means (v·2^149 rounded to an integer).
// - Signs: the usual kernel where every output is certain to round to a zero, storing only
//   the zero's sign.
// - Fill: the same where that zero is certain not to change: only the states move (one
//   multiply a sample each), and the block is filled.
// - Untouched: neither filter contributing (zero gains, or states that are zero for good):
//   every output is +0 on +0 input, or its sign follows the input's, and only the states move,
//   on the x87 or in integers.
// - Mixed: one filter's state at or near the subnormal range while the other's is normal. The
//   low one runs on integers (MulBits) beside the other on the x87, its contribution entering
//   the sums as a zero of its sign, which gives the exact sum since it is too small to change
//   any nonzero value it is added to (where the sum is exactly zero, its integer value
//   decides); once it has stopped moving, the paths above run with a zero in its place.
// - Integer: both states low: the recursions carried on by MulBits, only the sign of each
//   output formed, since every output rounds to a zero.
// - Frozen: the integer recursions at a fixed point, or a pair of values they alternate
//   between: the outputs repeat, and the block is filled with them.
// - Tail: input below 2^-64 that is not all zeros, as a decaying signal gives on its way through
//   the float subnormals (or, accumulating, old outputs there), and zeros among a tail's last
//   samples: the usual kernel with each input sample (an x87 operand that takes the slow path
//   when a float subnormal) read without the x87, exactly, and each output narrowed by integer
//   means (ToneStore::Tail). The channel loop sends such blocks straight to it (TailApplies).
// - Decayed: input below kTinyInput that is not all zeros, where one filter's states lie below
//   the Tail kernel's range (down to the extended subnormals, or at their fixed point) and the
//   other's within it, as a constant tiny input gives the treble highpass and one alternating at
//   the Nyquist rate the bass lowpass (the feed-forward sum is then exactly zero): the Tail
//   kernel itself while the low state is certain to stay far above the extended subnormals; below
//   that, the filter in range on the x87 and the low one's products by MulBits, its values entering
//   each sum exactly (a zero or subnormal one is outweighed by any nonzero value far above it),
//   inputs read and outputs narrowed by integer means.
//
// Zeros need not share one sign: a zero's sign changes nothing but the previous scaled inputs,
// the states that are zeros, and outputs of which every term is a zero. A block of zeros runs
// with +0 standing for its zeros wherever a contribution stays nonzero, its signs carried
// through the rest in integers; where every term is a zero (zero gains, zero states), the
// outputs' signs follow the input's sample by sample (the Untouched path). So the plans hold
// for zeros of either sign, sample by sample.
//
// Anything else, sound above all, runs the usual kernel.
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>

#include "ToneKernel.h"
#include "dspExtendedBits.h"

namespace vurnel {

enum class SilentPath : std::uint8_t {
    Usual = 0,
    Narrowed,
    Signs,
    Fill,
    Untouched,
    Mixed,
    Integer,
    Frozen,
    Tail,
    Decayed,
    Count
};

// One first-order filter of a channel as the silent paths see it: the bass filter's
// feed-forward coefficient is +1, the treble filter's −1 (the Butterworth lowpass and
// highpass); the state is where the audio thread keeps it.
struct SilentFilter {
    const long double& g;
    const long double& yc;
    std::uint32_t decay;  // DecayBound(yc)
    std::uint64_t design; // which design g and yc belong to
    long double& prevT;
    long double& prevY;
};

// What the silent paths found on one block, kept to run the next blocks of the same zero
// without looking again: with blocks of a few frames, looking would cost more than running. A
// plan holds for `left` samples, as long as the input is that zero and the gains, the designs
// and the x87 control word stay as they were. A channel's own, on the audio thread; Forget() it
// whenever anything else moves the channel's states.
struct SilentPlan {
    bool valid = false;
    SilentPath path = SilentPath::Usual; // Usual, Signs, Fill or Frozen
    std::uint16_t control = 0;
    std::uint32_t zero = 0, bassGain = 0, trebleGain = 0;
    std::uint64_t bassDesign = 0, trebleDesign = 0;
    std::int64_t left = 0;
    bool bassMoving = false, trebleMoving = false; // Fill: the states that move on the x87
    // Fill: a moving state whose sign changes every sample, outweighed by the other filter's
    // contribution (bit 0 bass, bit 1 treble), which the horizon must keep outweighed.
    std::uint8_t outweighedMoving = 0;
    bool bassStill = false, trebleStill = false; // states this plan does not move
    float value[2][2] = {};                      // Fill, Frozen: [phase][old output zero's sign]
    unsigned phase = 0;                          // Frozen: the next sample's phase
    dsp::TExtendedBits state[2][2] = {};         // Frozen: [phase][bass, treble] states
    // A low filter that has stopped moving, its state replaced by a zero in the x87 paths
    // (0: none, 1: bass, 2: treble), and its states now and after one step (it may alternate).
    int standIn = 0;
    bool outweighed = false; // the stand-in's contribution is outweighed (else it is a zero)
    dsp::TExtendedBits lowState[2] = {};
    // The plan holds for zeros of any signs: its outputs and its nonzero states are the same
    // whatever the signs, and the signs are carried through the rest (the previous scaled
    // inputs, the states that are zeros) after each block.
    bool signFree = false;
    bool signsFollow = false; // Fill: every term of every output a zero, its sign formed per sample
    // Fill with signs that follow: the signs of the states it moves on the x87 (bit 0 bass, bit 1
    // treble), kept here since reading the states' bits just after the x87 stored them stalls.
    std::uint8_t movingSigns = 0;
    // Frames since the last block of a tail through the float subnormals (TailApplies), up to
    // kTailLinger: a decaying signal's last subnormal samples come between zeros, and blocks of
    // zeros among them run the Tail path too, rather than look afresh each time.
    std::int32_t sinceTail = INT32_MAX;
    // The Tail kernel ran the channel's last block and left states that fit (TailStateFits):
    // the next tail block need not read them back. Anything else that moves the states clears it.
    bool tailFits = false;
    void Forget() { valid = false, tailFits = false; }
};

// An upper bound of the binary orders a state loses per sample, −log2 |yc|, in units of 2^-16;
// 0 when |yc| is not below 1 (no decay to count on).
std::uint32_t DecayBound(long double yc);

// How long zeros after a tail's last subnormal sample stay on the Tail path, in frames.
constexpr std::int32_t kTailLinger = 512;

// Input samples below this size (2^-64) may be a tail into the float subnormals.
constexpr float kTinyInput = 0x1p-64f;

// An extended value's bits, read where it lies in memory with integer loads: taken by value, it
// would be copied through the x87 (an 80-bit load and store) and read back at once, which this
// AMD core forwards only after a stall.
inline dsp::TExtendedBits BitsOf(const long double& v) {
    dsp::TExtendedBits b;
    std::memcpy(&b.mantissa, &v, 8);
    std::memcpy(&b.signExponent, reinterpret_cast<const unsigned char*>(&v) + 8, 2);
    return b;
}

// Whether the Tail kernel may run on a filter's coefficients (ToneTailBlock): a gain factor g
// that is a zero or from 2^-700 to 2^15000, a feedback coefficient that is a zero or from 2^-32
// to 2^16000 in size. Read from the sign-and-exponent fields alone (an x87 look at a subnormal
// takes the slow path).
inline bool TailCoefficientsFit(const long double& g, const long double& yc) {
    const auto within = [](const long double& v, unsigned low, unsigned high) {
        const dsp::TExtendedBits b = BitsOf(v);
        const unsigned e = b.signExponent & 0x7FFFu;
        return (e - low <= high - low) | ((e | b.mantissa) == 0);
    };
    constexpr unsigned kOne = 16383;
    return within(g, kOne - 700, kOne + 15000) & within(yc, kOne - 32, kOne + 16000);
}

// Whether the gains are finite (the Tail kernel takes them as they are).
inline bool TailGainsFit(float bassGain, float trebleGain) {
    std::uint32_t gains[2];
    std::memcpy(&gains[0], &bassGain, sizeof gains[0]);
    std::memcpy(&gains[1], &trebleGain, sizeof gains[1]);
    return ((gains[0] & 0x7F800000u) != 0x7F800000u) & ((gains[1] & 0x7F800000u) != 0x7F800000u);
}

// Whether the Tail path may run a block on these filters: the coefficients and gains above, and
// states that fit (TailStateFits: zeros or from 2^-900 to 2^16000, so that the kernel may scale
// every value it forms by 2^64).
inline bool TailApplies(const SilentFilter& bass, const SilentFilter& treble, float bassGain,
                        float trebleGain) {
    return TailStateFits(bass.prevY) & TailStateFits(bass.prevT) & TailStateFits(treble.prevY) &
           TailStateFits(treble.prevT) & TailCoefficientsFit(bass.g, bass.yc) &
           TailCoefficientsFit(treble.g, treble.yc) & TailGainsFit(bassGain, trebleGain);
}

// Runs one channel's block of `frames` samples (frames > 0) and returns the path it took (a
// block of sound too, though the caller sends one whose first sample is sound, at or above
// kTinyInput, straight to the usual kernel). The bass filter's feed-forward coefficient is +1 and
// the treble filter's −1. in and out may be the same buffer. Audio thread; no allocation.
template <bool Accumulate>
SilentPath ChannelBlock(const SilentFilter& bass, const SilentFilter& treble, const float* in,
                        float* out, std::int32_t frames, float bassGain, float trebleGain,
                        SilentPlan& plan);

// Both channels position by position, left then right, for buffers where one channel's output
// may be the other channel's input: the paths that read each input sample as it comes and
// write nothing but zeros (or an accumulated old output unchanged), Signs and Integer, in plain
// code. Returns SilentPath::Usual, touching nothing, where neither applies (the caller runs
// its position-by-position loop). filters: bass left, treble left, bass right, treble right.
// Audio thread; no allocation.
template <bool Accumulate>
SilentPath SilentInterleavedBlock(const SilentFilter* const filters[4], float** inputs,
                                  float** outputs, std::int32_t frames, float bassGain,
                                  float trebleGain);

extern template SilentPath ChannelBlock<false>(const SilentFilter&, const SilentFilter&,
                                               const float*, float*, std::int32_t, float, float,
                                               SilentPlan&);
extern template SilentPath ChannelBlock<true>(const SilentFilter&, const SilentFilter&,
                                              const float*, float*, std::int32_t, float, float,
                                              SilentPlan&);
extern template SilentPath SilentInterleavedBlock<false>(const SilentFilter* const[4], float**,
                                                         float**, std::int32_t, float, float);
extern template SilentPath SilentInterleavedBlock<true>(const SilentFilter* const[4], float**,
                                                        float**, std::int32_t, float, float);

} // namespace vurnel
