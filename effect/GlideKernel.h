// The tone control's loop while its controls glide: the bass and the treble first-order filter
// of one channel over a run of samples, as in ToneKernel, but with the coefficients of either
// band moving by a fixed step after every sample and the two gains read per sample from tables.
// A band whose step is zero and gains that hold still give the bits of the kernel at rest.
#pragma once

#include <cstdint>

namespace vurnel {

// One band's first-order coefficients from sample to sample, the same for the band's left and
// right filter: the gain factor g and feedback coefficient yc the next sample uses, and the
// steps added to them after it. A first-order Butterworth lowpass at K = tan(π·fc/fs) has
// g = G and yc = 1 − 2G with G = K/(1 + K), the highpass g = 1 − G and the same yc: both are
// affine in G, so coefficients moving on a straight line between two such designs stay such a
// design all the way, with the pole yc inside (−1, 1).
struct GlideCoefficients {
    long double g, yc;
    double dg, dyc; // stored steps: the same values on every target
};

// One filter's history where its owner keeps it: the previous scaled input u₋₁ and output y₋₁.
struct GlideHistory {
    long double& prevT;
    long double& prevY;
};

// The coefficients of the first-order Butterworth lowpass (highpass false) or highpass at
// `hertz` and `rate`, formed as above from the cutoff the library would design: limited to
// [1e-10, rate / 2 − 0.0001] Hz and to at least 0.0001·rate. Within a few units in the last place
// of the library's design; no allocation.
GlideCoefficients FirstOrderAt(long double hertz, long double rate, bool highpass);

// Per sample, for one channel: u = x·g, a = (u + u₋₁) + y₋₁·yc with the bass coefficients,
// t = a·bassGains[i] + x (accumulating: + (out + x)); the same with − u₋₁ for the treble, b; out
// = b·trebleGains[i] + t, narrowed to float; then each moving band's g and yc take their steps.
// u₋₁ is prevT for the first sample and x₋₁·g with the sample's own g after it, as the kernel at
// rest forms it; at the end prevT is left as x₋₁·g with the next sample's g. in and out may be
// the same buffer. The bands come back with the coefficients of the sample after the run.
template <bool Accumulate, bool BassMoves, bool TrebleMoves>
void GlideChannelBlock(GlideCoefficients& bass, const GlideHistory& bassHistory,
                       GlideCoefficients& treble, const GlideHistory& trebleHistory,
                       const float* in, float* out, std::int32_t frames, const float* bassGains,
                       const float* trebleGains);

// The same for both channels position by position (left, then right, then the steps), for
// buffers where one channel's output is another's input. history is bass left, treble left,
// bass right, treble right.
template <bool Accumulate, bool BassMoves, bool TrebleMoves>
void GlideInterleavedBlock(GlideCoefficients& bass, GlideCoefficients& treble,
                           const GlideHistory* history, float* const* in, float* const* out,
                           std::int32_t frames, const float* bassGains, const float* trebleGains);

#define VURNEL_GLIDE_EXTERN(A, B, T)                                                               \
    extern template void GlideChannelBlock<A, B, T>(                                               \
        GlideCoefficients&, const GlideHistory&, GlideCoefficients&, const GlideHistory&,          \
        const float*, float*, std::int32_t, const float*, const float*);                           \
    extern template void GlideInterleavedBlock<A, B, T>(                                           \
        GlideCoefficients&, GlideCoefficients&, const GlideHistory*, float* const*, float* const*, \
        std::int32_t, const float*, const float*);
#define VURNEL_GLIDE_EXTERN_ALL(A)                                                                 \
    VURNEL_GLIDE_EXTERN(A, false, false)                                                           \
    VURNEL_GLIDE_EXTERN(A, true, false)                                                            \
    VURNEL_GLIDE_EXTERN(A, false, true)                                                            \
    VURNEL_GLIDE_EXTERN(A, true, true)
VURNEL_GLIDE_EXTERN_ALL(false)
VURNEL_GLIDE_EXTERN_ALL(true)
#undef VURNEL_GLIDE_EXTERN_ALL
#undef VURNEL_GLIDE_EXTERN

} // namespace vurnel
