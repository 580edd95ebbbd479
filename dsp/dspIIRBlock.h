// The recursion of TdspIIRFilter over a block of samples.
//
// IIRFilterBlock runs IIRFilterStep once per sample, in the same order of operations and
// precision, so every output and every history entry keeps the bits of the per-sample routine;
// what changes is where the values live. A per-sample call shifts both histories through
// memory and loads every coefficient each time, and an 80-bit value moved through memory costs
// several cycles (a store forwarded to the next sample's load far more). The block routine is
// specialised by tap count: the histories are locals that rotate by renaming in an unrolled
// loop, the coefficients are loaded once per use from a local copy, and the input enters the
// first multiply as a memory operand.
#pragma once

#include <cstdint>

namespace vurnel::dsp {

// The largest tap count with a specialised loop (an order-8 band design has 16); larger counts
// run IIRFilterStep sample by sample.
constexpr int MaxSpecialisedTaps = 16;

// For each of count samples: y = IIRFilterStep(numTaps, gainFactor, xCoeffs, yCoeffs, xv, yv,
// input[i]) and output[i] = y converted to the buffer's type (a plain conversion: rounded to
// nearest by the current rounding mode). input and output may be the same buffer; other overlaps
// are not allowed. Allocates nothing, locks nothing.
void IIRFilterBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const long double* input, long double* output, int count);
void IIRFilterBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const double* input, double* output, int count);
void IIRFilterBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const float* input, float* output, int count);

// IIRFilterBlock with every output y stored as long double in ys[i], leaving after the first
// sample whose y is neither a zero nor of biased exponent field above `limit` (field − 1 < limit,
// unsigned); returns the samples run (1 to count; 0 when count ≤ 0). The histories end after the
// last sample run. The silent paths run it on zeros with histories they know to be safe: each
// check comes before the output is used. Allocates nothing, locks nothing.
int IIRFilterCheckedBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                          const long double* yCoeffs, long double* xv, long double* yv,
                          const long double* input, long double* ys, int count, unsigned limit);
int IIRFilterCheckedBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                          const long double* yCoeffs, long double* xv, long double* yv,
                          const double* input, long double* ys, int count, unsigned limit);
int IIRFilterCheckedBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                          const long double* yCoeffs, long double* xv, long double* yv,
                          const float* input, long double* ys, int count, unsigned limit);

// IIRFilterCheckedBlock with every output narrowed to the buffer inside the loop instead of
// stored as long double (the 80-bit stores and the second pass cost the silent paths about as
// much as the recursion itself at one or two taps): a plain x87 store where y is a normal value
// of the buffer's type or larger (it raises no flag), the zero of y's sign where y lies far below
// the buffer's range (below 2^-200 for float, 2^-1100 for double), and for the outputs in between
// |y| scaled into units of the buffer's smallest subnormal and rounded to an integer by the x87
// (exact scaling, no flag), with y's sign: the bits of a plain conversion, without an x87 store
// below the normal range. Leaves as IIRFilterCheckedBlock does (the output of the sample it leaves
// after is written); returns the samples run, or −1, having touched nothing, where there is no
// such loop (more than MaxSpecialisedTaps taps, or the portable build). input and output may be
// the same buffer. Allocates nothing, locks nothing.
int IIRFilterNarrowedBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                           const long double* yCoeffs, long double* xv, long double* yv,
                           const double* input, double* output, int count, unsigned limit);
int IIRFilterNarrowedBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                           const long double* yCoeffs, long double* xv, long double* yv,
                           const float* input, float* output, int count, unsigned limit);

// One tap's coefficients as the block loops read them: the feed-forward value c as a double (or
// its hi), the feedback value d as hi + lo doubles, c's lo (zero where c is a double), then c and
// d as extended values.
struct TdspIIRBlockTap {
    double c, dHi, dLo, cLo;
    long double cx, d;
};

// What a block call works out from the coefficients alone (their split into doubles, whether the
// feed-forward ones are doubles), kept by the caller between calls: on an AMD EPYC it cost about
// 80 ns a call, an eighth of a 64-sample block at four taps. Each call checks it against the
// coefficients' bits and works it out again where they changed, whatever changed them. One
// filter's, used by one thread at a time.
struct TdspIIRBlockCache {
    TdspIIRBlockTap taps[MaxSpecialisedTaps] = {};
    std::int32_t numTaps = 0; // the coefficients' tap count (cx and d filled); 0: none yet
    bool split = false;       // whether every coefficient split exactly (the rest of taps filled)
    bool doubles = false;     // whether every feed-forward coefficient is a double
};

// IIRFilterBlock with the cache above (the same outputs and histories).
void IIRFilterBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const double* input, double* output, int count, TdspIIRBlockCache& cache);
void IIRFilterBlock(int numTaps, long double gainFactor, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const float* input, float* output, int count, TdspIIRBlockCache& cache);

} // namespace vurnel::dsp
