#include "dspIIRSilence.h"

#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#if defined(__x86_64__) && defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dspIIRBlock.h"
#include "dspIIRFilters.h"
#include "dspSections.h"

namespace vurnel::dsp {
namespace {

constexpr int kBias = 16383;
// A product at or above 2^kSafe is normal, and so is every nonzero sum of such products (each a
// multiple of 2^(kSafe − 63), the smallest normal value's unit).
constexpr int kSafe = -16382 + 63;
// The outputs before a cycle's first that the frozen path keeps in front of it (its histories).
constexpr int kLead = MaxSilentTaps + 1;
// Samples per chunk of the normal path (its outputs pass through a buffer of long doubles).
constexpr int kChunk = 256;

std::uint16_t ControlWord() {
#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
    std::uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
#else
    return 0; // not known: no silent path
#endif
}

// Writes an extended value from its bits with integer stores (an x87 load and store of a
// subnormal is an x87 operation on it).
inline void SetBits(long double& v, TExtendedBits b) {
    unsigned char raw[10];
    std::memcpy(raw, &b.mantissa, 8);
    raw[8] = static_cast<unsigned char>(b.signExponent);
    raw[9] = static_cast<unsigned char>(b.signExponent >> 8);
    std::memcpy(&v, raw, sizeof raw);
}

// SetBits as one 8-byte and one 2-byte store, for a value integer loads take next.
inline void StoreBits(long double& v, TExtendedBits b) {
    std::memcpy(&v, &b.mantissa, 8);
    std::memcpy(reinterpret_cast<unsigned char*>(&v) + 8, &b.signExponent, 2);
}

// SetBits for a value the x87 is about to load: one 16-byte store where long double takes 16
// bytes (an x87 load of bytes stored in two parts waits for both stores to retire).
inline void SetBitsForLoad(long double& v, TExtendedBits b) {
#if defined(__x86_64__) && defined(__SSE2__)
    static_assert(sizeof(long double) == 16, "x86-64 long double");
    const __m128i image =
        _mm_set_epi64x(static_cast<long long>(b.signExponent), static_cast<long long>(b.mantissa));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&v), image);
#else
    SetBits(v, b);
#endif
}

// The value of b for the x87 (stored as SetBitsForLoad stores it).
inline long double LoadBits(TExtendedBits b) {
    long double v;
    SetBitsForLoad(v, b);
    return v;
}

// A value the x87 holds rounded to an integer below 2^63 in magnitude, as the control word rounds
// (to nearest, where the silent paths run; no change of the control word, as a cast would make).
inline std::int64_t WholeOf(long double v) {
#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
    std::int64_t r;
    __asm__("fistpll %0" : "=m"(r) : "t"(v) : "st");
    return r;
#else
    return static_cast<std::int64_t>(std::nearbyint(v));
#endif
}

// BinaryExponent of a nonzero finite value, inline.
inline int ExponentOf(TExtendedBits b) {
    return b.Exponent() ? b.Exponent() - kBias : -16382 - __builtin_clzll(b.mantissa);
}

inline bool IsZeroBits(const long double& v) {
    return ToBits(v).IsZero();
}

// The sign bit of a zero of the buffer's type.
inline unsigned SignOf(float v) {
    std::uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b >> 31;
}
inline unsigned SignOf(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return static_cast<unsigned>(b >> 63);
}
inline unsigned SignOf(const long double& v) {
    unsigned char top; // read from memory (a copy through the x87 would be stored and reloaded)
    std::memcpy(&top, reinterpret_cast<const unsigned char*>(&v) + 9, 1);
    return top >> 7;
}

// The smallest exponent of the nonzero values among v[0..n), against which the bounds are set
// (a large value when there are none); false if one is subnormal or not finite.
bool SmallestExponent(const long double* v, int n, int& smallest) {
    smallest = 1 << 20;
    for (int i = 0; i < n; ++i) {
        const TExtendedBits b = ToBits(v[i]);
        if (b.IsZero()) continue;
        if (b.Exponent() == 0 || !b.IsFinite()) return false;
        const int e = b.Exponent() - kBias;
        smallest = e < smallest ? e : smallest;
    }
    return true;
}

// The bound for history values multiplied by coefficients whose smallest exponent is e: a
// nonzero value is safe at exponent field limit + 1 and above.
unsigned Limit(int e) {
    const int field = kSafe - e + kBias;
    return field <= 1 ? 0u : static_cast<unsigned>(field - 1);
}

// The whole-unit products in UnitsRunNear's form: the rounding point of every product in the upper
// half of a 128-bit one, a = v·2^pre below 2^62 for |v| ≤ unitsMost, tap k's shift
// 64 + post − pre. A product below half a unit for every such v (post above 62) takes m = 2^63,
// post 63, which gives 0. A tie needs the product's lowest nonzero bit at 2^-1 units, so
// tz(v) + tz(m) = shift − 1 with tz(v) below the bit length of unitsMost: returns whether
// tz(m) + that length < shift for every tap (no tie). m, half and post may be null.
#if defined(__SIZEOF_INT128__)
bool NearForm(int n, const TdspSilentState& s, std::int64_t* m, std::int64_t* half, unsigned* post);
std::int64_t UnitsMost(int n, const TdspSilentState& s);
#endif

#if defined(__SIZEOF_INT128__)
// The scaled loop's bounds on |v| for each feedback tap d = m·2^-shift in units' terms (see
// ScaledRun): below scaledLow the product lies below 2^63 − 1/2 units, from scaledHigh on at or
// above 2^63; 2^63 where no value below 2^63 gets there. A coefficient whose products UnitProduct
// takes as zeros (shift 127 or more) has them below half a unit only for |v| < 2^62.
void ScaledBounds(int n, const long double* yCoeffs, TdspSilentState& s) {
    __extension__ typedef unsigned __int128 Wide;
    const std::uint64_t top = std::uint64_t{1} << 63;
    for (int k = 0; k < n; ++k) {
        const TExtendedBits d = ToBits(yCoeffs[k]);
        const int shift = 16446 - d.Exponent();
        std::uint64_t low = top, high = top;
        if (d.mantissa != 0 && shift < 1) {
            low = high = 0; // every product of a nonzero value at least 2^63 units
        } else if (d.mantissa != 0 && shift >= 127) {
            low = top >> 1;
        } else if (d.mantissa != 0 && shift >= 1 && shift <= 64) {
            const Wide m = d.mantissa, edge = static_cast<Wide>(1) << (63 + shift);
            const Wide h = (edge + m - 1) / m,
                       l = (edge - (static_cast<Wide>(1) << (shift - 1)) + m - 1) / m;
            high = h < top ? static_cast<std::uint64_t>(h) : top;
            low = l < top ? static_cast<std::uint64_t>(l) : top;
        }
        s.scaledLow[k] = low, s.scaledHigh[k] = high;
    }
}
#endif

// The whole-unit loop's coefficients (see UnitsRun): d·v for v in units of 2^-16445 is
// v·mantissa·2^-shift in those units. Its bound keeps every product below 2^58 units and so
// every sum of at most 16 below 2^62: exact in 64 bits, a subnormal of exponent field 0.
void PrepareUnits(int n, const long double* yCoeffs, TdspSilentState& s) {
    int smallest = 127;
    for (int k = 0; k < n; ++k) {
        const TExtendedBits d = ToBits(yCoeffs[k]);
        const int shift = 16446 - d.Exponent();
        // A product below half a unit (|v| < 2^62, shift ≥ 127) rounds to a zero, whose sign
        // only a zero sum would show: the loop leaves on those.
        const bool zero = d.mantissa == 0 || shift >= 127;
        s.unitsMantissa[k] = zero ? 0 : d.mantissa;
        s.unitsShift[k] = static_cast<std::uint8_t>(zero ? 1 : (shift < 1 ? 1 : shift));
        s.unitsSign[k] = d.IsNegative() ? -1 : 0;
        if (!zero) smallest = shift < smallest ? shift : smallest;
        if (d.Exponent() == 0 && d.mantissa != 0) smallest = -1; // not a normal coefficient
    }
    const int bits = smallest - 6;
    s.unitsBits = bits < 1 ? 0 : (bits > 62 ? 62 : bits);
#if defined(__SIZEOF_INT128__)
    s.unitsMost = s.unitsBits > 0 ? UnitsMost(n, s) : 0;
    s.unitsNear = s.unitsBits > 0 && NearForm(n, s, nullptr, nullptr, nullptr);
    ScaledBounds(n, yCoeffs, s);
#else
    s.unitsMost = 0;
    s.unitsNear = false; // no whole-unit loop without 128-bit products
#endif
}

void Prepare(int n, long double g, const long double* xCoeffs, const long double* yCoeffs,
             std::uint64_t design, TdspSilentState& s) {
    s.design = design;
    s.frozen = false;
    s.since = -1;
    int ex = 0, ey = 0, eg = 0;
    s.usable = SmallestExponent(xCoeffs, n, ex) && SmallestExponent(yCoeffs, n, ey) &&
               SmallestExponent(&g, 1, eg);
    s.xLimit = Limit(ex);
    s.yLimit = Limit(ey);
    PrepareUnits(n, yCoeffs, s);
}

// Whether a nonzero value lies below its bound (subnormals and the wrong kinds of value too).
inline bool Unsafe(const long double& v, unsigned limit) {
    const TExtendedBits b = ToBits(v);
    return b.mantissa != 0 && static_cast<unsigned>(b.Exponent()) <= limit;
}

bool HistoriesSafe(int n, const long double* xv, const long double* yv, const TdspSilentState& s) {
    for (int i = 1; i <= n; ++i)
        if (Unsafe(xv[i], s.xLimit) || Unsafe(yv[i], s.yLimit)) return false;
    return true;
}

// An output given as bits, narrowed by integer means (a zero's sign at once where it is far below
// the buffer's range).
inline void PutBits(TExtendedBits b, long double& out) {
    SetBits(out, b);
}
inline void PutBits(TExtendedBits b, double& out) {
    const std::uint64_t bits = b.Exponent() < kBias - 1100 // rounds to a zero
                                   ? (b.IsNegative() ? std::uint64_t{1} << 63 : 0)
                                   : NarrowedDoubleBits(b);
    std::memcpy(&out, &bits, sizeof out);
}
inline void PutBits(TExtendedBits b, float& out) {
    const std::uint32_t bits = b.Exponent() < kBias - 200 // rounds to a zero
                                   ? (b.IsNegative() ? 0x80000000u : 0u)
                                   : NarrowedFloatBits(b);
    std::memcpy(&out, &bits, sizeof out);
}

// One output narrowed to the buffer's type without an x87 store below its normal range.
template <typename T> inline void Put(const long double& y, T& out);
template <> inline void Put(const long double& y, long double& out) {
    std::memcpy(&out, &y, 10);
}
template <> inline void Put(const long double& y, double& out) {
    const TExtendedBits b = ToBits(y);
    if (b.Exponent() >= kBias - 1022 && b.Exponent() <= kBias + 1023) {
        out = static_cast<double>(y);
    } else {
        PutBits(b, out);
    }
}
template <> inline void Put(const long double& y, float& out) {
    const TExtendedBits b = ToBits(y);
    if (b.Exponent() >= kBias - 126 && b.Exponent() <= kBias + 127) {
        out = static_cast<float>(y);
    } else {
        PutBits(b, out);
    }
}

// The frozen path's outputs, narrowed once.
inline const TExtendedBits* CycleOf(const TdspSilentState& s, const long double*) {
    return s.cycle + kLead;
}
inline const double* CycleOf(const TdspSilentState& s, const double*) {
    return s.cycleDouble;
}
inline const float* CycleOf(const TdspSilentState& s, const float*) {
    return s.cycleFloat;
}
inline void PutCycle(TExtendedBits b, long double& out) {
    SetBits(out, b);
}
inline void PutCycle(double v, double& out) {
    out = v;
}
inline void PutCycle(float v, float& out) {
    out = v;
}

// The output of `ago` samples before the next (1: the last) on the frozen path.
inline TExtendedBits Past(const TdspSilentState& s, int ago) {
    return s.cycle[kLead + s.phase - ago];
}

// Whether the histories are where the frozen path left them: the outputs of the cycle, the input
// histories zeros.
bool FrozenHolds(int n, const long double* xv, const long double* yv, const TdspSilentState& s) {
    for (int j = n; j >= 0; --j)
        if (ToBits(yv[j]) != Past(s, n + 1 - j) || !IsZeroBits(xv[j])) return false;
    return true;
}

// The input history after the zeros in[0..count) (scaled by g: zeros of the product's sign).
template <typename T>
void ShiftZeros(int n, long double* xv, const T* in, int count, unsigned gSign) {
    const int kept = count > n + 1 ? 0 : n + 1 - count;
    for (int j = 0; j < kept; ++j)
        std::memcpy(&xv[j], &xv[j + count], 10);
    for (int j = kept; j <= n; ++j)
        SetBits(xv[j],
                {0, static_cast<std::uint16_t>((SignOf(in[count - (n + 1 - j)]) ^ gSign) << 15)});
}

template <typename T>
void RunFrozen(int n, long double* xv, long double* yv, const T* in, T* out, int count,
               unsigned gSign, TdspSilentState& s) {
    ShiftZeros(n, xv, in, count, gSign); // before the outputs: they may overwrite the input
    const auto* cycle = CycleOf(s, out);
    int k = s.phase;
    for (int i = 0; i < count; ++i) {
        PutCycle(cycle[k], out[i]);
        k = k + 1 == s.period ? 0 : k + 1;
    }
    s.phase = k;
    for (int j = 0; j <= n; ++j)
        SetBits(yv[j], Past(s, n + 1 - j));
    s.samples[static_cast<int>(TdspSilentPath::Frozen)] += static_cast<std::uint64_t>(count);
}

// A feedback coefficient for UnitsStep: its significand, the shift that takes its product with a
// value in units of the smallest subnormal (2^-16445) back to those units, its sign.
struct Units {
    std::uint64_t mantissa;
    int shift;
    bool negative;
};

Units UnitsOf(TExtendedBits d) {
    return {d.mantissa, 16446 - d.Exponent(), d.IsNegative()};
}

#if defined(__SIZEOF_INT128__)
// d·m in whole units, rounded to nearest even: m a value in units (below 2^64), d's product
// brought back to units by a right shift of u.shift (at least 1). Shifts below 64, the usual case
// (|d| ≥ 1), take 64-bit operations.
inline std::uint64_t ProductUnits(const Units& u, std::uint64_t m, bool& large) {
    __extension__ typedef unsigned __int128 Wide;
    const Wide p = static_cast<Wide>(u.mantissa) * m;
    const int s = u.shift;
    const std::uint64_t hi = static_cast<std::uint64_t>(p >> 64),
                        lo = static_cast<std::uint64_t>(p);
    std::uint64_t q;
    if (s < 64) {
        if (hi >> s) { // the product is 2^64 units or more
            large = true;
            return 0;
        }
        q = (lo >> s) | (s ? hi << (64 - s) : 0);
        const std::uint64_t rest = lo & ((std::uint64_t{1} << s) - 1),
                            half = std::uint64_t{1} << (s - 1);
        q += (rest > half || (rest == half && (q & 1))) ? 1 : 0;
    } else if (s < 128) {
        const int t = s - 64;
        q = t ? hi >> t : hi;
        // The part shifted out against half a unit: hi's low t bits, then lo.
        const std::uint64_t outHi = t ? hi & ((std::uint64_t{1} << t) - 1) : 0;
        const std::uint64_t halfHi = t ? std::uint64_t{1} << (t - 1) : 0;
        const bool above =
            t ? (outHi > halfHi || (outHi == halfHi && lo != 0)) : lo > (std::uint64_t{1} << 63);
        const bool tie = t ? (outHi == halfHi && lo == 0) : lo == (std::uint64_t{1} << 63);
        q += (above || (tie && (q & 1))) ? 1 : 0;
    } else {
        q = 0; // below half a unit
    }
    large = (q >> 58) != 0;
    return q;
}
#endif

// One step of the recursion in units of 2^-16445, where the input histories are zeros and the
// output histories below 2^64 units (exponent field 0 or 1, the same scale): each product is
// rounded to a whole unit as the x87 rounds a subnormal result (to nearest even), and the sum of
// whole units below 2^62 is exact, in any order; the zeros change nothing in a sum that is not
// zero. False, acc untouched, where that does not hold (a product at or above 2^58 units, a zero
// sum, whose sign the zeros decide): the general step runs.
bool UnitsStep(int n, const TExtendedBits* y, const Units* u, TExtendedBits& acc) {
#if defined(__SIZEOF_INT128__)
    __extension__ typedef unsigned __int128 Wide;
    __extension__ typedef __int128 SignedWide;
    SignedWide sum = 0;
    for (int k = 0; k < n; ++k) {
        const TExtendedBits b = y[k];
        if (b.mantissa == 0 || u[k].mantissa == 0) continue;
        if (b.Exponent() > 1 || u[k].shift < 1) return false;
        bool large = false;
        const std::uint64_t q = ProductUnits(u[k], b.mantissa, large);
        if (large) return false;
        sum += b.IsNegative() != u[k].negative ? -static_cast<SignedWide>(q)
                                               : static_cast<SignedWide>(q);
    }
    if (sum == 0) return false;
    const Wide magnitude = sum < 0 ? static_cast<Wide>(-sum) : static_cast<Wide>(sum);
    acc = {static_cast<std::uint64_t>(magnitude),
           static_cast<std::uint16_t>(sum < 0 ? 0x8000u : 0u)};
    return true;
#else
    (void)n, (void)y, (void)u, (void)acc;
    return false;
#endif
}

// Records a cycle of s.since outputs, s.recent[0..since), and freezes.
void Freeze(TdspSilentState& s) {
    s.frozen = true;
    s.period = s.since;
    s.phase = 0;
    for (int k = -kLead; k < s.period; ++k)
        s.cycle[kLead + k] = s.recent[(k % s.period + s.period) % s.period];
    for (int k = 0; k < s.period; ++k) {
        PutBits(s.recent[k], s.cycleFloat[k]);
        PutBits(s.recent[k], s.cycleDouble[k]);
    }
    s.since = -1;
}

#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 UWide;

// round(d·v) in whole units, to nearest even, as the x87 rounds a subnormal product: v signed,
// |v| < 2^63; d = m·2^-shift in units' terms, negative where sign is −1. Branch-free.
inline std::int64_t UnitProduct(std::int64_t v, std::uint64_t m, unsigned shift,
                                std::int64_t sign) {
    const std::int64_t sv = v >> 63;
    const std::uint64_t a = static_cast<std::uint64_t>((v ^ sv) - sv);
    const UWide p = static_cast<UWide>(a) * m;
    const UWide half = (static_cast<UWide>(1) << (shift - 1)) - 1;
    const std::uint64_t q = static_cast<std::uint64_t>((p + half + ((p >> shift) & 1)) >> shift);
    const std::int64_t sg = sv ^ sign;
    return (static_cast<std::int64_t>(q) ^ sg) - sg;
}

// |v|·2^pre times m, the 128-bit product the whole-unit roundings start from; sv: v's sign as a
// mask.
__attribute__((always_inline)) inline UWide MagnitudeProduct(std::int64_t v, std::uint64_t m,
                                                             unsigned pre, std::int64_t& sv) {
    sv = v >> 63;
    return static_cast<UWide>(static_cast<std::uint64_t>((v ^ sv) - sv) << pre) * m;
}

// A rounded magnitude q given v's sign (the mask sv) times the coefficient's (sign).
__attribute__((always_inline)) inline std::int64_t WithSigns(std::uint64_t q, std::int64_t sv,
                                                             std::int64_t sign) {
    const std::int64_t sg = sv ^ sign;
    return (static_cast<std::int64_t>(q) ^ sg) - sg;
}

// UnitProduct with 64-bit shifts only: (|v|·2^pre)·m rounded at bit 64 + post of the 128-bit
// product (64 + post − pre the coefficient's shift, post ≥ 1, |v|·2^pre < 2^64): the upper half
// plus 2^(post−1) − 1, plus one where the lower half is not zero or the quotient is odd, shifted
// right by post: rounding to nearest even. Branch-free.
__attribute__((always_inline)) inline std::int64_t UnitProductAt64(std::int64_t v, std::uint64_t m,
                                                                   unsigned pre, unsigned post,
                                                                   std::uint64_t halfLess,
                                                                   std::int64_t sign) {
    std::int64_t sv;
    const UWide p = MagnitudeProduct(v, m, pre, sv);
    const std::uint64_t hi = static_cast<std::uint64_t>(p >> 64),
                        lo = static_cast<std::uint64_t>(p);
    const std::uint64_t up = static_cast<std::uint64_t>(lo != 0) | ((hi >> post) & 1);
    const std::uint64_t q = (hi + halfLess + up) >> post;
    return WithSigns(q, sv, sign);
}

// UnitProductAt64 with fewer instructions, for the sections' whole-unit loops, whose products'
// instructions bound them: v·2^pre times m as one signed 128-bit product (m's top bit set: the
// product of its two's complement value plus v·2^pre·2^64), so that no magnitude is taken and no
// sign of v applied after; the upper half plus 2^(post−1), shifted right by post, rounds half up
// (floor(x + 1/2): nearest for a product that is not a tie, of either sign) and takes the lower
// half's bits as a sticky bit for free. Only at an exact tie (the discarded upper bits exactly
// half and the lower half zero, tested as one: the upper bits alone are half for most products
// of small values) is the quotient made even, k + 1/2 going to whichever of k and k + 1 is even,
// as the x87 rounds the magnitude. Then the coefficient's sign. The operands from NearOperands;
// the same bits as UnitProductAt64.
// Ties false: the caller knows no product of its operands is a tie (TieFree), and the test goes.
template <bool Ties = true>
__attribute__((always_inline)) inline std::int64_t
UnitProductNear(std::int64_t v, std::uint64_t m, unsigned pre, unsigned post,
                std::uint64_t halfLess, std::int64_t sign) {
    __extension__ typedef __int128 SignedWide;
    const std::int64_t a = static_cast<std::int64_t>(static_cast<std::uint64_t>(v) << pre);
    const SignedWide p = static_cast<SignedWide>(a) * static_cast<std::int64_t>(m);
    const std::int64_t hi = static_cast<std::int64_t>(p >> 64) + a;
    std::int64_t q = (hi + static_cast<std::int64_t>(halfLess + 1)) >> post;
    if constexpr (Ties) {
        const std::uint64_t off =
            ((static_cast<std::uint64_t>(hi) & (2 * halfLess + 1)) ^ (halfLess + 1)) |
            static_cast<std::uint64_t>(p);
        if (__builtin_expect(off == 0, 0)) q &= ~std::int64_t{1};
    }
    return (q ^ sign) - sign;
}

// Whether no operand v below 2^bits makes UnitProductNear's product an exact tie. A tie needs the
// product's lowest set bit at 63 + post, and that bit lies at ctz(v) + pre + ctz(m), with ctz(v)
// from 0 to bits − 1: outside that gap (with a bit to spare above it) there is none. Most of a
// design's coefficients are so: their significands end in about one zero bit.
inline bool TieFree(std::uint64_t m, unsigned pre, unsigned post, int bits) {
    const int gap = 63 + static_cast<int>(post) - static_cast<int>(pre) - __builtin_ctzll(m);
    return gap < 0 || gap > bits;
}

// UnitProductAt64 on the signed operand, for the recursion's loop, where the product's latency
// is the loop's: v·2^pre times m as a 128-bit product of two's complement values (the unsigned
// product's upper half less m where v is negative), rounded to nearest even at bit 64 + post by
// the same floor formula (the x87's rounding of the magnitude is symmetric in sign), then the
// coefficient's sign. Branch-free.
inline std::int64_t UnitProductSigned(std::int64_t v, std::uint64_t m, unsigned pre, unsigned post,
                                      std::uint64_t halfLess, std::int64_t sign) {
    const std::uint64_t a = static_cast<std::uint64_t>(v) << pre;
    const UWide p = static_cast<UWide>(a) * m;
    const std::uint64_t lo = static_cast<std::uint64_t>(p);
    const std::int64_t hi = static_cast<std::int64_t>(static_cast<std::uint64_t>(p >> 64) -
                                                      (m & static_cast<std::uint64_t>(v >> 63)));
    const std::int64_t up = static_cast<std::int64_t>(lo != 0) | ((hi >> post) & 1);
    const std::int64_t q = (hi + static_cast<std::int64_t>(halfLess) + up) >> post;
    return (q ^ sign) - sign;
}

inline TExtendedBits UnitBits(std::int64_t v) {
    const std::int64_t sv = v >> 63;
    return {static_cast<std::uint64_t>((v ^ sv) - sv), static_cast<std::uint16_t>(sv & 0x8000)};
}

// One zero output narrowed: a value below 2^62 units is a zero in float and double.
inline void PutUnits(std::int64_t v, float& out) {
    const std::uint32_t bits = static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 63)
                               << 31;
    std::memcpy(&out, &bits, sizeof out);
}
inline void PutUnits(std::int64_t v, double& out) {
    const std::uint64_t bits = static_cast<std::uint64_t>(v) & (std::uint64_t{1} << 63);
    std::memcpy(&out, &bits, sizeof out);
}
inline void PutUnits(std::int64_t v, long double& out) {
    SetBits(out, UnitBits(v));
}

// The cycle search of the whole-unit loops after an output, window() the window the next sample
// reads (v[N] the newest, also in a register as newest): a new reference window where none is
// kept or the longest cycle has gone by, else the output recorded (record(since)) and the window
// compared with the reference, the newest first (it differs most often). True where the cycle
// closed. The window is formed only where it is read: passed as a pointer formed before the
// call, the three-tap loops ran 3–7% slower.
template <int N, typename Window, typename Record>
__attribute__((always_inline)) inline bool CycleClosed(int& since, std::int64_t* ref, Window window,
                                                       std::int64_t newest, Record record) {
    if (since < 0 || since == MaxSilentCycle) {
        since = 0;
        const std::int64_t* v = window();
        for (int k = 0; k < N; ++k)
            ref[k] = v[k + 1];
        return false;
    }
    record(since++);
    bool same = false;
    if (ref[N - 1] == newest) {
        const std::int64_t* v = window();
        same = true;
        for (int k = N - 2; k >= 0 && same; --k)
            same = ref[k] == v[k + 1];
    }
    return same;
}

// After an output r of a whole-unit loop: r onto the ring (twice, the window's start t moving on),
// then the cycle search, unless a zero from before (its sign not kept in units) is still in the
// window. True where the cycle closed (frozen then).
template <int N, unsigned kRing>
__attribute__((always_inline)) inline bool PushOutput(TdspSilentState& s, std::int64_t* ring,
                                                      unsigned& t, std::int64_t r, int& blocked,
                                                      int& since, std::int64_t* ref) {
    const unsigned at = (t + N + 1) & (kRing - 1);
    ring[at] = ring[at + kRing] = r;
    ++t;
    blocked -= blocked > 0 ? 1 : 0;
    if (blocked > 0) {
        since = -1;
        return false;
    }
    if (!CycleClosed<N>(
            since, ref, [&] { return ring + (t & (kRing - 1)); }, r,
            [&](int j) { s.recent[j] = UnitBits(r); }))
        return false;
    s.since = since;
    Freeze(s);
    since = -1;
    return true;
}

// The recursion in whole units of 2^-16445 as 64-bit integers, from sample i on, while the input
// histories are zeros and each output has a nonzero product and lies below 2^unitsBits units
// (a zero output is then +0, as units 0; each product
// rounded as the x87 rounds a subnormal product, the sum exact in any order; the zeros add
// nothing to a nonzero sum). y[0..N] are the output histories as units (y[N] the last); signs
// collects the inputs' sign bits (the zeros of in·g), newest in bit 0. Returns the sample it
// stopped at: count, a sample it cannot run (no nonzero product, an output at or above the bound),
// or the one after the sample that closed a cycle (frozen then). The cycle search is UnitsStep's.
//
// The chain from one output to the next is kept short: where the output window lived in an array
// that the compiler shifted through vector registers every sample, the newest output went from a
// general register to a vector one and back before its product. Here the outputs run along a ring
// of 2·32 entries written twice (so that a sample's window is contiguous wherever it starts), the
// older taps read theirs from it, and the newest output stays in a register: its chain is its
// product (shift, multiply, rounding) and one addition into a sum that already holds the other
// taps' products and the coefficient's sign, which is then applied by an exclusive or alone ((q ⊕
// s) − s added as (q ⊕ s) after −s).
//
// Wide: the outputs below 2^62 units rather than below the bound (a design whose largest feedback
// coefficient is far above 1 can settle into a cycle above its bound, where each sample then ran
// the general step; on an AMD EPYC an inverse Chebyshev bandstop of order 8 at 48 kHz cost about
// five times the filter on noise): the bound is the one of the tap's own coefficient, about
// 2^(58 + shift)/m units, checked on the value the tap multiplies, which keeps its product below
// 2^58 units and so every partial sum exact (and the operand's left shift below 2^64); the loop
// leaves before a sample where a value is not.
template <int N, typename T, bool Wide = false>
int UnitsRun(TdspSilentState& s, std::int64_t* y, const T* in, T* out, int i, int count,
             std::uint32_t& signsOut, int& blockedInOut, const std::uint64_t* limits) {
    constexpr unsigned kRing = 32;
    static_assert(N + 1 <= static_cast<int>(kRing), "the window fits the ring");
    std::uint32_t signs = signsOut; // kept in registers, not read and written through references
    int blocked = blockedInOut;
    std::int64_t ring[2 * kRing], ref[N] = {};
    std::uint64_t m[N], half[N];
    unsigned pre[N], post[N];
    std::int64_t sg[N];
    for (int k = 0; k <= N; ++k)
        ring[k] = ring[k + kRing] = y[k];
    // The products with 64-bit shifts only (UnitProductAt64): a shift of at most 64 is made 65 by
    // the operand's left shift, exact below the bound (|v|·2^pre < 2^59); a shift of 6 or less
    // (the loop does not run) or of a zero coefficient gets harmless ones.
    for (int k = 0; k < N; ++k) {
        const unsigned shift = s.unitsShift[k];
        m[k] = s.unitsMantissa[k], sg[k] = s.unitsSign[k];
        pre[k] = shift <= 6 || shift > 64 ? 0 : 65 - shift;
        post[k] = shift <= 64 ? 1 : shift - 64;
        half[k] = (std::uint64_t{1} << (post[k] - 1)) - 1;
    }
    const std::int64_t bound = std::int64_t{1} << (Wide ? 62 : s.unitsBits);
    [[maybe_unused]] const std::uint64_t* lim = limits; // Wide: each tap's bound (UnitsLimits)
    int since = s.since;
    if (since >= 0)
        for (int k = 0; k < N; ++k) {
            const TExtendedBits r = s.reference[k];
            // In units where they are nonzero values below the bound, else a new search.
            if (r.mantissa == 0 || r.Exponent() != 0 || r.mantissa >= std::uint64_t{1} << 62)
                since = -1;
            ref[k] = r.IsNegative() ? -static_cast<std::int64_t>(r.mantissa)
                                    : static_cast<std::int64_t>(r.mantissa);
        }
    // While a zero history from before (its sign not kept in units) is in the window, no search.
    // The newest tap's coefficient in registers.
    const std::uint64_t mN = m[N - 1], halfN = half[N - 1];
    const unsigned preN = pre[N - 1], postN = post[N - 1];
    const std::int64_t sgN = sg[N - 1];
    std::int64_t last = y[N];
    unsigned t = 0; // the window's start in the ring
    for (; i < count; ++i) {
        const std::int64_t* w = ring + (t & (kRing - 1));
        std::int64_t acc = -sgN, any = 0;
        if constexpr (Wide) {
            std::uint64_t outside = 0;
            acc = 0;
            for (int k = 0; k < N; ++k) {
                const std::int64_t v = w[k + 1];
                outside |= static_cast<std::uint64_t>(v) + lim[k] >= 2 * lim[k] ? 1u : 0u;
                const std::int64_t q = UnitProductSigned(v, m[k], pre[k], post[k], half[k], sg[k]);
                acc += q;
                any |= q;
            }
            if (outside != 0) break;
        } else {
#pragma GCC unroll 16
            for (int k = 0; k < N - 1; ++k) {
                const std::int64_t q =
                    UnitProductSigned(w[k + 1], m[k], pre[k], post[k], half[k], sg[k]);
                acc += q;
                any |= q;
            }
            // The newest: UnitProductSigned before the coefficient's sign.
            const std::uint64_t a = static_cast<std::uint64_t>(last) << preN;
            const UWide p = static_cast<UWide>(a) * mN;
            const std::int64_t hi =
                static_cast<std::int64_t>(static_cast<std::uint64_t>(p >> 64) -
                                          (mN & static_cast<std::uint64_t>(last >> 63)));
            const std::int64_t up =
                static_cast<std::int64_t>(static_cast<std::uint64_t>(p) != 0) | ((hi >> postN) & 1);
            const std::int64_t qN = (hi + static_cast<std::int64_t>(halfN) + up) >> postN;
            acc += qN ^ sgN;
            any |= qN;
        }
        // A zero sum with a nonzero product is +0 (an exact cancellation, then zeros added);
        // with none, the zeros' signs decide: the general step.
        if (any == 0 || acc >= bound || acc <= -bound) break;
        last = acc;
        signs = (signs << 1) | SignOf(in[i]);
        PutUnits(acc, out[i]);
        if (PushOutput<N, kRing>(s, ring, t, acc, blocked, since, ref)) {
            ++i;
            break;
        }
    }
    const std::int64_t* v = ring + (t & (kRing - 1));
    for (int k = 0; k <= N; ++k)
        y[k] = v[k];
    signsOut = signs, blockedInOut = blocked;
    if (!s.frozen) {
        s.since = since;
        if (since >= 0)
            for (int k = 0; k < N; ++k)
                s.reference[k] = UnitBits(ref[k]);
    }
    return i;
}

// 2^unitsBits units is 2^(smallest shift − 6), up to 2^62: pre = 65 − smallest shift, or 0.
inline unsigned NearPre(const TdspSilentState& s) {
    return s.unitsBits < 59 ? static_cast<unsigned>(59 - s.unitsBits) : 0u;
}

// The outputs the whole-unit loop carries, |v| ≤ most: v·2^pre below 2^62 (so each product's
// upper half and its rounding's addend stay within 63 bits), and M·D + N/2 < 2^63, D the sum of
// the coefficients' magnitudes in units' terms: each rounded product is at most |v·d| + 1/2, so
// the sum of their magnitudes, and every partial sum in any order, lies below 2^63 units, where
// the x87's sum of whole units is exact too. D is taken from above, in units of 2^-58 (each term
// rounded up). At least about 2^(smallest shift − 5), twice 2^unitsBits (every product below
// 2^58 units); a band design of 14–16 taps whose outputs wander in whole units just above
// 2^unitsBits ran the general step before.
std::int64_t UnitsMost(int n, const TdspSilentState& s) {
    const unsigned pre = NearPre(s);
    std::int64_t most = (std::int64_t{1} << (62 - pre)) - 1;
    UWide d = 0;
    for (int k = 0; k < n; ++k) {
        const std::uint64_t m = s.unitsMantissa[k];
        const int shift = s.unitsShift[k];
        if (m == 0) continue;
        d += shift <= 58
                 ? static_cast<UWide>(m) << (58 - shift)
                 : (shift - 58 >= 64 ? 1 : ((static_cast<UWide>(m) - 1) >> (shift - 58)) + 1);
    }
    if (d != 0) {
        const UWide room =
            static_cast<UWide>((std::uint64_t{1} << 63) - 1 - static_cast<std::uint64_t>(n)) << 58;
        const UWide q = room / d;
        if (q < static_cast<UWide>(most)) most = static_cast<std::int64_t>(q);
    }
    return most;
}

bool NearForm(int n, const TdspSilentState& s, std::int64_t* m, std::int64_t* half,
              unsigned* post) {
    const int pre = static_cast<int>(NearPre(s));
    const int bits = 64 - __builtin_clzll(static_cast<std::uint64_t>(s.unitsMost) | 1);
    bool near = true;
    for (int k = 0; k < n; ++k) {
        const std::uint64_t mk = s.unitsMantissa[k];
        const int shift = s.unitsShift[k], p = shift - 64 + pre;
        const bool zero = mk == 0 || p > 62;
        if (!zero && __builtin_ctzll(mk) + bits >= shift) near = false;
        if (!m) continue;
        const std::uint64_t used = zero ? std::uint64_t{1} << 63 : mk;
        std::memcpy(&m[k], &used, sizeof m[k]); // m − 2^64 as a signed value
        post[k] = zero ? 63u : static_cast<unsigned>(p);
        half[k] = std::int64_t{1} << (post[k] - 1);
    }
    return near;
}

// Tap k of UnitsRunNear on a = v·2^pre: the rounded product with the coefficient's sign
// as a mask applied by exclusive or alone (the loop's sum starts from minus the masks). Ties:
// where a product can be an exact half (the lower half zero, rare, and the bits below the
// rounding point 100…0; tested in that order, the second being true half the time at post 1), the
// result of rounding half up made even, as the x87 rounds the magnitude
// (k + 1/2 goes to whichever of k and k + 1 is even, of either sign).
template <bool Ties>
__attribute__((always_inline)) inline std::int64_t
NearTap(std::int64_t a, std::int64_t m, std::int64_t half, unsigned post, std::int64_t sign) {
    __extension__ typedef __int128 SignedWide;
    const SignedWide p = static_cast<SignedWide>(a) * static_cast<SignedWide>(m);
    const std::int64_t hi = static_cast<std::int64_t>(p >> 64) + a;
    std::int64_t q = (hi + half) >> post;
    if constexpr (Ties)
        if (__builtin_expect(static_cast<std::uint64_t>(p) == 0, 0) &&
            (hi & (2 * half - 1)) == half)
            q &= ~std::int64_t{1};
    return q ^ sign;
}

// UnitsRun's recursion below the bound (the Wide loop takes the outputs above it) with fewer
// instructions a tap, on which that loop was bound; the same bits. The outputs run along the ring
// as a = v·2^pre (an exact shift), so that each product's rounding point lies in the upper
// half of one signed 128-bit product without a shift per tap; rounding half up, floor(x + 1/2), is
// rounding to nearest for a product that is not a tie, of either sign, and where the design makes
// ties possible (Ties: unitsNear false) they are made even off the common path. No test for a
// nonzero product per tap: a sum of products that are all zeros is a zero, so the products are
// formed again only where the sum is.
template <int N, typename T, bool Ties>
int UnitsRunNear(TdspSilentState& s, std::int64_t* y, const T* in, T* out, int i, int count,
                 std::uint32_t& signsOut, int& blockedInOut, const std::uint64_t*) {
    constexpr unsigned kRing = 32;
    static_assert(N + 1 <= static_cast<int>(kRing), "the window fits the ring");
    std::uint32_t signs = signsOut;
    int blocked = blockedInOut;
    const unsigned pre = NearPre(s);
    const auto up = [pre](std::int64_t v) {
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(v) << pre);
    };
    std::int64_t ring[2 * kRing], ref[N] = {}, recent[MaxSilentCycle];
    std::int64_t m[N], half[N], sg[N], start = 0;
    unsigned post[N];
    for (int k = 0; k <= N; ++k)
        ring[k] = ring[k + kRing] = up(y[k]);
    NearForm(N, s, m, half, post);
    for (int k = 0; k < N; ++k) {
        sg[k] = s.unitsSign[k];
        start -= sg[k];
    }
    const std::int64_t most = s.unitsMost; // |sum| at most this
    int since = s.since;
    if (since >= 0) {
        for (int k = 0; k < N; ++k) {
            const TExtendedBits r = s.reference[k];
            if (r.mantissa == 0 || r.Exponent() != 0 || r.mantissa >= std::uint64_t{1} << 62)
                since = -1;
            ref[k] = up(r.IsNegative() ? -static_cast<std::int64_t>(r.mantissa)
                                       : static_cast<std::int64_t>(r.mantissa));
        }
        for (int k = 0; k < since; ++k) {
            const TExtendedBits r = s.recent[k];
            recent[k] = r.IsNegative() ? -static_cast<std::int64_t>(r.mantissa)
                                       : static_cast<std::int64_t>(r.mantissa);
        }
    }
    const std::int64_t mN = m[N - 1], halfN = half[N - 1], sgN = sg[N - 1];
    const unsigned postN = post[N - 1];
    std::int64_t last = ring[N];
    unsigned t = 0;
    for (; i < count; ++i) {
        const std::int64_t* w = ring + (t & (kRing - 1));
        std::int64_t acc = start;
#pragma GCC unroll 16
        for (int k = 0; k < N - 1; ++k)
            acc += NearTap<Ties>(w[k + 1], m[k], half[k], post[k], sg[k]);
        acc += NearTap<Ties>(last, mN, halfN, postN, sgN);
        if (static_cast<std::uint64_t>(acc + most) > static_cast<std::uint64_t>(2 * most)) break;
        if (acc == 0) { // +0 where some product is not a zero; else the zeros' signs decide
            std::int64_t any = 0;
            for (int k = 0; k < N; ++k)
                any |= NearTap<Ties>(w[k + 1], m[k], half[k], post[k], 0);
            if (any == 0) break;
        }
        const unsigned at = (t + N + 1) & (kRing - 1);
        last = up(acc);
        ring[at] = ring[at + kRing] = last;
        ++t;
        signs = (signs << 1) | SignOf(in[i]);
        PutUnits(acc, out[i]);
        if (blocked > 0) {
            --blocked;
            since = -1;
        } else if (CycleClosed<N>(
                       since, ref, [&] { return ring + (t & (kRing - 1)); }, last,
                       [&](int j) { recent[j] = acc; })) {
            for (int k = 0; k < since; ++k)
                s.recent[k] = UnitBits(recent[k]);
            s.since = since;
            Freeze(s);
            since = -1;
            ++i;
            break;
        }
    }
    const std::int64_t* v = ring + (t & (kRing - 1));
    for (int k = 0; k <= N; ++k)
        y[k] = v[k] >> pre; // exact: the shift took in zeros
    signsOut = signs, blockedInOut = blocked;
    if (!s.frozen) {
        s.since = since;
        if (since >= 0) {
            for (int k = 0; k < N; ++k)
                s.reference[k] = UnitBits(ref[k] >> pre);
            for (int k = 0; k < since; ++k)
                s.recent[k] = UnitBits(recent[k]);
        }
    }
    return i;
}

template <typename T>
using UnitsRoutine = int (*)(TdspSilentState&, std::int64_t*, const T*, T*, int, int,
                             std::uint32_t&, int&, const std::uint64_t*);

// The Wide loop's bound for each tap: the values v whose products v·m·2^-shift are at most
// 2^58 − 1 units before rounding (and so after), at most 2^62 (a zero coefficient's products are
// zeros; from a shift of 70 on every product of a value below 2^62 is below 2^56). Worked out once
// a block, where the Wide loop is first wanted (the divisions cost about as much as a sample).
void UnitsLimits(int n, const TdspSilentState& s, std::uint64_t* lim) {
    for (int k = 0; k < n; ++k) {
        const std::uint64_t m = s.unitsMantissa[k];
        const unsigned shift = s.unitsShift[k];
        const UWide most = m == 0 || shift >= 70
                               ? UWide{1} << 62
                               : ((((static_cast<UWide>(1) << 58) - 1) << shift) / m) + 1;
        lim[k] =
            most > (UWide{1} << 62) ? std::uint64_t{1} << 62 : static_cast<std::uint64_t>(most);
    }
}

template <typename T, bool Wide, int... K>
UnitsRoutine<T> SelectUnits(int n, std::integer_sequence<int, K...>) {
    constexpr UnitsRoutine<T> table[] = {&UnitsRun<K + 1, T, Wide>...};
    return table[n - 1];
}

template <typename T, bool Ties, int... K>
UnitsRoutine<T> SelectUnitsNear(int n, std::integer_sequence<int, K...>) {
    constexpr UnitsRoutine<T> table[] = {&UnitsRunNear<K + 1, T, Ties>...};
    return table[n - 1];
}

// The histories after `ran` samples of a whole-unit loop: the older bits moved down, the new
// outputs from units (w, the window the loop left), the new inputs the zeros of the signs given
// (newest in bit 0) times g's.
void AdvanceHistories(int n, TExtendedBits* h, TExtendedBits* y, const std::int64_t* w, int ran,
                      std::uint32_t signs, unsigned gSign) {
    const int kept = ran > n + 1 ? 0 : n + 1 - ran;
    for (int k = 0; k < kept; ++k)
        h[k] = h[k + ran], y[k] = y[k + ran];
    for (int k = kept; k <= n; ++k) {
        y[k] = UnitBits(w[k]);
        const unsigned sign = ((signs >> (n - k)) & 1u) ^ gSign;
        h[k] = {0, static_cast<std::uint16_t>(sign << 15)};
    }
}

// Runs UnitsRun from sample i where the histories allow it (input histories zeros, output
// histories below the bound), keeping h and y, the bits, in step; returns the sample it stopped
// at (i where it did not run).
template <typename T>
int RunUnits(int n, TExtendedBits* h, TExtendedBits* y, const T* in, T* out, int i, int count,
             unsigned gSign, TdspSilentState& s, std::uint64_t* limits, int& wideState) {
    if (s.unitsBits == 0) return i;
    std::int64_t w[MaxSilentTaps + 1];
    int blocked = 0;
    bool wide = false; // some output at or above the bound: the Wide loop
    for (int k = 0; k <= n; ++k) {
        if (!h[k].IsZero()) return i;
        const TExtendedBits b = y[k];
        if (b.Exponent() != 0 || b.mantissa >= std::uint64_t{1} << 62) return i;
        wide = wide || b.mantissa > static_cast<std::uint64_t>(s.unitsMost);
        w[k] = b.IsNegative() ? -static_cast<std::int64_t>(b.mantissa)
                              : static_cast<std::int64_t>(b.mantissa);
        if (b.mantissa == 0) blocked = k + 1; // a zero's sign: kept as bits below
    }
    std::uint32_t signs = 0;
    const int from = i;
    // wideState: 0 the bounds not worked out yet, 1 ready, 2 the Wide loop not run again this block
    // (a run of a few samples between general steps costs more than it saves).
    if (wide) {
        if (wideState == 2) return i;
        if (wideState == 0) UnitsLimits(n, s, limits), wideState = 1;
        // Not where the first sample would leave at once (the loop's setup costs about a sample).
        for (int k = 0; k < n; ++k)
            if (static_cast<std::uint64_t>(w[k + 1]) + limits[k] >= 2 * limits[k]) return i;
    }
    constexpr auto taps = std::make_integer_sequence<int, MaxSilentTaps>{};
    i = (wide ? SelectUnits<T, true>(n, taps)
         : s.unitsNear
             ? SelectUnitsNear<T, false>(n, taps)
             : SelectUnitsNear<T, true>(n, taps))(s, w, in, out, i, count, signs, blocked, limits);
    const int ran = i - from;
    if (wide && ran < 8) wideState = 2;
    if (ran == 0) return i;
    AdvanceHistories(n, h, y, w, ran, signs, gSign);
    return i;
}

// A tap's product in ScaledRun's form: |v|·2^pre times m rounded at bit 64 + post of the 128-bit
// product (the coefficient's shift is 64 + post − pre). A shift of at most 64 (|d| ≥ 1/2) takes
// pre = 64 − shift, post 0: |v| lies below scaledLow ≤ 2^shift, so |v|·2^pre < 2^64. A larger one
// takes pre 0.
void ScaledForm(const TdspSilentState& s, int k, std::uint64_t& m, unsigned& pre, unsigned& post,
                std::int64_t& sign) {
    const unsigned shift = s.unitsShift[k];
    m = s.unitsMantissa[k], sign = s.unitsSign[k];
    pre = shift <= 64 ? 64 - shift : 0;
    post = shift <= 64 ? 0 : shift - 64;
}

// round(d·v) in whole units, to nearest even, in ScaledForm's terms, from |v| and v's sign as a
// mask sv: UnitProductAt64's rounding, or at post 0 the upper half plus the lower half's top bit
// (half up), an exact tie (the lower half 2^63, rare) made even.
__attribute__((always_inline)) inline std::int64_t ScaledProduct(std::uint64_t magnitude,
                                                                 std::int64_t sv, std::uint64_t m,
                                                                 unsigned pre, unsigned post,
                                                                 std::int64_t sign) {
    const std::uint64_t a = magnitude << pre;
    std::uint64_t hi, lo;
#if defined(__x86_64__) && defined(__GNUC__)
    // The two halves in registers (the compiler kept a 128-bit product in memory here).
    __asm__("mulq %3" : "=a"(lo), "=d"(hi) : "a"(a), "rm"(m) : "cc");
#else
    const UWide p = static_cast<UWide>(a) * m;
    hi = static_cast<std::uint64_t>(p >> 64), lo = static_cast<std::uint64_t>(p);
#endif
    std::uint64_t q;
    if (post == 0) {
        q = hi + (lo >> 63);
        if (__builtin_expect(lo == std::uint64_t{1} << 63, 0)) q = hi + (hi & 1);
    } else {
        const std::uint64_t up = static_cast<std::uint64_t>(lo != 0) | ((hi >> post) & 1);
        q = (hi + (std::uint64_t{1} << (post - 1)) - 1 + up) >> post;
    }
    return WithSigns(q, sv, sign);
}

// An integer from memory onto the x87 (fild from where it lies: the compiler's conversion of a
// value it had loaded stored it again first).
inline long double LoadWhole(const std::int64_t& v) {
#if defined(__x86_64__) && defined(__GNUC__)
    long double r;
    __asm__("fildll %1" : "=t"(r) : "m"(v));
    return r;
#else
    return static_cast<long double>(v);
#endif
}

// The recursion in units of 2^-16445 above the whole-unit loops' bounds, while the input histories
// are zeros and every output lies below 2^63 units (a subnormal): a design whose feedback
// coefficients reach 2^11 (a Bessel bandstop of order 7 at 96 kHz) settles into outputs that
// wander at 2^51–2^53 units, where its products reach 2^65 and its partial sums round, and each
// sample ran the general step (MulBits and AddBits) at about 14 times the filter on noise.
//
// The values in units are integers the x87 holds exactly as normal numbers, and the x87 computes
// on them as it does on the subnormals they stand for wherever the true result is normal: a
// product of at least 2^63 units is rounded to 64 bits in either scale, and so is a sum, while a
// sum below 2^63 units is a sum of whole units, exact in either. Only a product below 2^63 units
// differs (the x87 rounds it to a whole unit): those come from the integers, exactly
// (UnitProduct), below scaledLow; from scaledHigh on the x87 multiplies the value by the
// coefficient itself; in between (a product within half a unit below 2^63 rounds to 2^63 units,
// at most one value for a coefficient of at least 1) the loop leaves. So each sum is formed on the
// x87 in the order that defines it, from operands and results that are normal or zero: no slow
// path, no flag. A zero output (whose sign the zeros decide) or one of 2^63 units or more ends
// the loop, and so do N + 1 outputs in a row within unitsMost, where the whole-unit loop is
// faster. Outputs go to outs as units; the cycle search is UnitsRun's. Returns the samples run.
template <int N>
int ScaledRun(TdspSilentState& s, const long double* yCoeffs, std::int64_t* y, std::int64_t* outs,
              int count, int& sinceInOut, std::int64_t* ref, int& blockedInOut) {
    int since = sinceInOut, blocked = blockedInOut; // in registers, not through references
    constexpr unsigned kRing = 32;
    static_assert(N + 1 <= static_cast<int>(kRing), "the window fits the ring");
    std::int64_t ring[2 * kRing];
    for (int k = 0; k <= N; ++k)
        ring[k] = ring[k + kRing] = y[k];
    const std::int64_t most = s.unitsBits > 0 ? s.unitsMost : -1;
    const std::uint64_t* low = s.scaledLow;
    const std::uint64_t* high = s.scaledHigh;
    std::uint64_t m[N];
    unsigned pre[N], post[N];
    std::int64_t sg[N];
    for (int k = 0; k < N; ++k)
        ScaledForm(s, k, m[k], pre[k], post[k], sg[k]);
    int calm = 0, j = 0;
    unsigned t = 0;
    for (; j < count; ++j) {
        const std::int64_t* w = ring + (t & (kRing - 1));
        long double acc = 0.0L;
        bool between = false;
#pragma GCC unroll 16
        for (int k = 0; k < N; ++k) {
            const std::int64_t v = w[k + 1], sv = v >> 63;
            const std::uint64_t a = static_cast<std::uint64_t>((v ^ sv) - sv);
            if (a >= high[k])
                acc += LoadWhole(w[k + 1]) * yCoeffs[k];
            else if (a < low[k])
                acc += static_cast<long double>(ScaledProduct(a, sv, m[k], pre[k], post[k], sg[k]));
            else
                between = true;
        }
        if (between || !(std::fabs(acc) < 0x1p63L) || acc == 0) break;
        const std::int64_t r = WholeOf(acc);
        outs[j] = r;
        if (PushOutput<N, kRing>(s, ring, t, r, blocked, since, ref)) {
            ++j;
            break;
        }
        calm = (r <= most && r >= -most) ? calm + 1 : 0;
        if (calm > N) {
            ++j;
            break;
        }
    }
    const std::int64_t* v = ring + (t & (kRing - 1));
    for (int k = 0; k <= N; ++k)
        y[k] = v[k];
    sinceInOut = since, blockedInOut = blocked;
    return j;
}

using ScaledRoutine = int (*)(TdspSilentState&, const long double*, std::int64_t*, std::int64_t*,
                              int, int&, std::int64_t*, int&);

template <int... K> ScaledRoutine SelectScaled(int n, std::integer_sequence<int, K...>) {
    constexpr ScaledRoutine table[] = {&ScaledRun<K + 1>...};
    return table[n - 1];
}

// Runs ScaledRun from sample i where the histories allow it (input histories zeros, output
// histories below 2^63 units), keeping h and y in step as RunUnits does; returns the sample it
// stopped at (i where it did not run).
template <typename T>
int RunScaled(int n, TExtendedBits* h, TExtendedBits* y, const long double* yCoeffs, const T* in,
              T* out, int i, int count, unsigned gSign, TdspSilentState& s) {
    std::int64_t w[MaxSilentTaps + 1], ref[MaxSilentTaps] = {};
    int blocked = 0;
    for (int k = 0; k <= n; ++k) {
        if (!h[k].IsZero()) return i;
        const TExtendedBits b = y[k];
        if (b.Exponent() != 0) return i;
        w[k] = b.IsNegative() ? -static_cast<std::int64_t>(b.mantissa)
                              : static_cast<std::int64_t>(b.mantissa);
        if (b.mantissa == 0) blocked = k + 1; // a zero's sign: kept as bits below
    }
    int since = s.since;
    if (since >= 0)
        for (int k = 0; k < n; ++k) {
            const TExtendedBits r = s.reference[k];
            if (r.mantissa == 0 || r.Exponent() != 0) since = -1;
            ref[k] = r.IsNegative() ? -static_cast<std::int64_t>(r.mantissa)
                                    : static_cast<std::int64_t>(r.mantissa);
        }
    const ScaledRoutine run = SelectScaled(n, std::make_integer_sequence<int, MaxSilentTaps>{});
    constexpr int kPart = 256;
    std::int64_t outs[kPart];
    std::uint32_t signs = 0; // the inputs' sign bits, newest in bit 0
    const int from = i;
    while (i < count) {
        const int part = count - i < kPart ? count - i : kPart;
        const int ran = run(s, yCoeffs, w, outs, part, since, ref, blocked);
        for (int j = 0; j < ran; ++j) { // each input's sign read before its output (in place)
            signs = (signs << 1) | SignOf(in[i + j]);
            PutUnits(outs[j], out[i + j]);
        }
        i += ran;
        if (ran < part || s.frozen) break;
    }
    const int ran = i - from;
    if (!s.frozen) {
        s.since = since;
        if (since >= 0)
            for (int k = 0; k < n; ++k)
                s.reference[k] = UnitBits(ref[k]);
    }
    if (ran == 0) return i;
    AdvanceHistories(n, h, y, w, ran, signs, gSign);
    return i;
}

// A value as ScaledRun holds it: in units of 2^-16445 on the x87, a normal number or zero (an
// exponent field e ≥ 1 stands for mantissa·2^(e − 1) units).
inline long double ScaledOf(TExtendedBits b) {
    const int e = b.Exponent();
    if (e == 0) {
        const std::int64_t v = static_cast<std::int64_t>(b.mantissa); // below 2^63
        return static_cast<long double>(b.IsNegative() ? -v : v);
    }
    return LoadBits(
        {b.mantissa, static_cast<std::uint16_t>((b.signExponent & 0x8000u) | (e + 16445))});
}

// The bits of the value a nonzero sum in units stands for (below 2^63 units a subnormal).
inline TExtendedBits BitsOfScaled(long double acc) {
    if (std::fabs(acc) < 0x1p63L) return UnitBits(WholeOf(acc));
    const TExtendedBits a = ToBits(acc);
    return {a.mantissa,
            static_cast<std::uint16_t>((a.signExponent & 0x8000u) | (a.Exponent() - 16445))};
}

// One step of the recursion as ScaledRun computes it, for output histories y[0..n) of any exponent
// field up to 64 (the descent from the usual loop's bound into whole units, where every sample
// ran MulBits and AddBits): each product of at least 2^63 units from the x87, each below 2^63 − 1
// units rounded to a whole unit by integers from the value's significand, the few between by
// MulBits; the sum on the x87 in order. The input histories are zeros. False, acc untouched,
// where the sum is a zero (its sign the zeros' to decide) or a value lies outside that range.
bool ScaledStep(int n, const TExtendedBits* y, const long double* yCoeffs, const TExtendedBits* d,
                TExtendedBits& out) {
    long double acc = 0.0L;
    for (int k = 0; k < n; ++k) {
        const TExtendedBits b = y[k];
        if (b.mantissa == 0 || d[k].mantissa == 0) continue; // a zero adds nothing to a nonzero sum
        const int e = b.Exponent();
        if (e > 64) return false;
        const long double p = ScaledOf(b) * yCoeffs[k];
        const long double a = std::fabs(p);
        if (a >= 0x1p63L) {
            acc += p;
        } else if (a <= 0x1p63L - 1) {
            // |p| ≤ 2^63 − 1: the exact product lies below 2^63 − 1/2 units, the significands'
            // product below 2^(63 + s).
            const int s = 16446 - d[k].Exponent() - (e == 0 ? 0 : e - 1);
            if (s < 1 || s > 127) return false;
            const UWide prod = static_cast<UWide>(b.mantissa) * d[k].mantissa;
            std::uint64_t q = static_cast<std::uint64_t>(prod >> s);
            const UWide rest = prod & ((static_cast<UWide>(1) << s) - 1),
                        half = static_cast<UWide>(1) << (s - 1);
            q += rest > half || (rest == half && (q & 1)) ? 1 : 0;
            const std::int64_t v = static_cast<std::int64_t>(q);
            acc += static_cast<long double>(b.IsNegative() != d[k].IsNegative() ? -v : v);
        } else {
            acc += ScaledOf(MulBits(b, d[k]));
        }
    }
    if (acc == 0) return false;
    out = BitsOfScaled(acc);
    return true;
}
#else
template <typename T>
int RunUnits(int, TExtendedBits*, TExtendedBits*, const T*, T*, int i, int, unsigned,
             TdspSilentState&, std::uint64_t*, int&) {
    return i; // no 128-bit products: the general step carries these samples, with the same bits
}
template <typename T>
int RunScaled(int, TExtendedBits*, TExtendedBits*, const long double*, const T*, T*, int i, int,
              unsigned, TdspSilentState&) {
    return i;
}
bool ScaledStep(int, const TExtendedBits*, const long double*, const TExtendedBits*,
                TExtendedBits&) {
    return false;
}
#endif

// The integer recursion from sample `at` on; returns the sample it stopped at (count, or where it
// found a cycle and froze).
template <typename T>
int RunIntegers(int n, long double g, const long double* xCoeffs, const long double* yCoeffs,
                long double* xv, long double* yv, const T* in, T* out, int at, int count,
                TdspSilentState& s) {
    TExtendedBits h[MaxSilentTaps + 1], y[MaxSilentTaps + 1], c[MaxSilentTaps], d[MaxSilentTaps];
    for (int i = 0; i <= n; ++i)
        h[i] = ToBits(xv[i]), y[i] = ToBits(yv[i]);
    for (int i = 0; i < n; ++i)
        c[i] = ToBits(xCoeffs[i]), d[i] = ToBits(yCoeffs[i]);
    const TExtendedBits gb = ToBits(g);
    Units units[MaxSilentTaps];
    for (int k = 0; k < n; ++k)
        units[k] = UnitsOf(d[k]);
    // The search goes on only from the histories it left.
    for (int i = 0; i <= n && s.since >= 0; ++i)
        if (s.left[i] != y[i]) s.since = -1;
    const unsigned gSign = gb.IsNegative() ? 1u : 0u;
    std::uint64_t limits[MaxSilentTaps];
    int wideState = 0;
    int i = at;
    for (; i < count;) {
        const int was = i;
        i = RunUnits(n, h, y, in, out, i, count, gSign, s, limits, wideState);
        if (i == count || s.frozen) break;
        i = RunScaled(n, h, y, yCoeffs, in, out, i, count, gSign, s);
        if (i == count || s.frozen) break;
        if (i != was) continue; // back to the whole-unit loop first (it leaves where it cannot run)
        for (int k = 0; k < n; ++k)
            h[k] = h[k + 1], y[k] = y[k + 1];
        const TExtendedBits t = MulBits(ToBits(static_cast<long double>(in[i])), gb);
        h[n] = t;
        bool zeros = true;
        for (int k = 0; k < n; ++k)
            zeros = zeros && h[k].IsZero();
        TExtendedBits acc = t;
        bool live = true;
        if (!zeros || !(UnitsStep(n, y, units, acc) || ScaledStep(n, y, yCoeffs, d, acc))) {
            live = false;
            for (int k = 0; k < n; ++k) {
                acc = AddBits(acc, MulBits(h[k], c[k]));
                const TExtendedBits p = MulBits(y[k], d[k]);
                live = live || p.mantissa != 0;
                acc = AddBits(acc, p);
            }
        }
        y[n] = acc;
        PutBits(acc, out[i]);
        ++i;
        // A cycle: the window the next sample reads equals the one `since` samples ago, every
        // sample between held a nonzero product and read input histories of zeros.
        if (!live || !zeros) {
            s.since = -1;
        } else if (s.since < 0 || s.since == MaxSilentCycle) {
            s.since = 0;
            for (int k = 0; k < n; ++k)
                s.reference[k] = y[k + 1];
        } else {
            s.recent[s.since++] = acc;
            bool same = true;
            for (int k = n - 1; k >= 0 && same; --k)
                same = s.reference[k] == y[k + 1];
            if (same) {
                Freeze(s);
                break;
            }
        }
    }
    for (int k = 0; k <= n; ++k) {
        SetBits(xv[k], h[k]);
        SetBits(yv[k], y[k]);
        s.left[k] = y[k];
    }
    s.samples[static_cast<int>(TdspSilentPath::Integer)] += static_cast<std::uint64_t>(i - at);
    return i;
}

// A zero of the given sign in the buffer's type, by an integer store.
inline void PutZero(bool negative, float& out) {
    const std::uint32_t bits = static_cast<std::uint32_t>(negative) << 31;
    std::memcpy(&out, &bits, sizeof out);
}
inline void PutZero(bool negative, double& out) {
    const std::uint64_t bits = static_cast<std::uint64_t>(negative) << 63;
    std::memcpy(&out, &bits, sizeof out);
}

// An output a (its magnitude, negative its sign) below the buffer's smallest normal value and
// above the far bound, narrowed by integer means: scaled to units of the smallest subnormal (exact)
// and rounded to nearest by the x87's integer store, as the conversion rounds it (2^23 or 2^52
// units make the smallest normal value's bits). No flag: every operand is normal.
inline void PutNarrowed(bool negative, long double a, float& out) {
    const std::uint32_t bits = (static_cast<std::uint32_t>(negative) << 31) |
                               static_cast<std::uint32_t>(WholeOf(a * 0x1p149L));
    std::memcpy(&out, &bits, sizeof out);
}
inline void PutNarrowed(bool negative, long double a, double& out) {
    const std::uint64_t bits = (static_cast<std::uint64_t>(negative) << 63) |
                               static_cast<std::uint64_t>(WholeOf(a * 0x1p1074L));
    std::memcpy(&out, &bits, sizeof out);
}

// The Normal path of one and two taps where the input history is all zeros: a recursion whose poles
// lie near the unit circle (inverse Chebyshev designs of order 1) stays there for minutes. The
// feed-forward products are zeros, and so is t + x·c; a zero added to a value that is not one
// gives that value. So each output is y(n−1)·d₀ (one tap) or y(n−2)·d₀ + y(n−1)·d₁ (two taps,
// neither output a zero: the loop stops before a zero output, and an exact cancellation gives +0
// either way): the same bits with one addition fewer on the chain and no 80-bit store of each
// output for a check. Each output is compared on the x87 with the safe bound, FAR and the buffer's
// smallest normal value (y and the bounds are zeros or normal values: no flag): below FAR it is
// the zero of its sign, at or above that normal value the x87's conversion, between the two
// narrowed by integer means (a pole at 0.99995 takes ten seconds at 96 kHz to cross float's
// subnormal range, where the caller's loop ran at 1.6 times noise); the loop stops before the
// first output that is not above the safe bound, which the caller's loops then run. Returns the
// samples run, the histories left as the per-sample routine leaves them.
template <typename T>
int DecayBlock(int n, long double g, const long double* yCoeffs, long double* xv, long double* yv,
               const T* in, T* out, int count, const TdspSilentState& s) {
    if constexpr (sizeof(T) == sizeof(long double)) {
        return 0;
    } else {
        if (n > 2) return 0;
        for (int k = 1; k <= n; ++k)
            if (!IsZeroBits(xv[k]) || IsZeroBits(yv[k])) return 0;
        const long double lim =
            FromBits({std::uint64_t{1} << 63, static_cast<std::uint16_t>(s.yLimit + 1)});
        const long double far = sizeof(T) == 4 ? 0x1p-200L : 0x1p-1100L;
        const long double normal = sizeof(T) == 4 ? 0x1p-126L : 0x1p-1022L;
        const long double d0 = yCoeffs[0], d1 = yCoeffs[n - 1];
        long double oldest = yv[0], older = yv[n - 1], last = yv[n];
        std::uint32_t signs = 0; // the inputs' sign bits, newest in bit 0
        int i = 0;
        // y's sign from y = |y| (a nonzero normal value): no zero to compare with in a register.
        const auto put = [&](long double y, long double a) {
            signs = (signs << 1) | SignOf(in[i]);
            if (a < far)
                PutZero(!(y == a), out[i]);
            else if (a >= normal)
                out[i] = static_cast<T>(y);
            else
                PutNarrowed(!(y == a), a, out[i]);
        };
        if (n == 1) {
            for (; i < count; ++i) {
                const long double y = last * d0;
                const long double a = std::fabs(y);
                if (!(a >= lim)) break;
                put(y, a);
                older = last, last = y;
            }
        } else {
            for (; i < count; ++i) {
                const long double y = older * d0 + last * d1;
                const long double a = std::fabs(y);
                if (!(a >= lim)) break;
                put(y, a);
                oldest = older, older = last, last = y;
            }
        }
        if (i == 0) return 0;
        // The histories: the last n + 1 outputs, and the zeros of the last n + 1 inputs (times g).
        const unsigned gSign = ToBits(g).IsNegative() ? 1u : 0u;
        const int kept = i > n ? 0 : n + 1 - i; // entries from before the block, moved down
        for (int k = 0; k < kept; ++k)
            xv[k] = xv[k + i], yv[k] = yv[k + i];
        const long double outputs[3] = {oldest, older, last};
        for (int k = kept; k <= n; ++k) {
            const unsigned sign = ((signs >> (n - k)) & 1u) ^ gSign;
            SetBits(xv[k], {0, static_cast<std::uint16_t>(sign << 15)});
            yv[k] = outputs[3 - (n + 1) + k];
        }
        return i;
    }
}

// The Normal path's loop that narrows as it goes (float or double buffers), or −1.
inline int Narrowed(int, long double, const long double*, const long double*, long double*,
                    long double*, const long double*, long double*, int, unsigned) {
    return -1;
}
template <typename T>
int Narrowed(int n, long double g, const long double* xCoeffs, const long double* yCoeffs,
             long double* xv, long double* yv, const T* in, T* out, int count, unsigned limit) {
    return IIRFilterNarrowedBlock(n, g, xCoeffs, yCoeffs, xv, yv, in, out, count, limit);
}

template <typename T>
bool Silent(int n, long double g, const long double* xCoeffs, const long double* yCoeffs,
            long double* xv, long double* yv, const T* in, T* out, int count, std::uint64_t design,
            TdspSilentState& s) {
    if (n < 1 || n > MaxSilentTaps || count <= 0) return false;
    if ((ControlWord() & 0x0F00u) != 0x0300u) return false; // nearest, 64-bit significands
    if (s.design != design) Prepare(n, g, xCoeffs, yCoeffs, design, s);
    if (!s.usable) return false;
    for (int i = 0; i <= n; ++i)
        if (!ToBits(xv[i]).IsFinite() || !ToBits(yv[i]).IsFinite()) return false;
    const unsigned gSign = ToBits(g).IsNegative() ? 1u : 0u;
    for (int done = 0; done < count;) {
        if (s.frozen && FrozenHolds(n, xv, yv, s)) {
            RunFrozen(n, xv, yv, in + done, out + done, count - done, gSign, s);
            return true;
        }
        s.frozen = false;
        if (HistoriesSafe(n, xv, yv, s)) {
            const int decayed =
                DecayBlock(n, g, yCoeffs, xv, yv, in + done, out + done, count - done, s);
            if (decayed > 0) {
                done += decayed;
                s.since = -1;
                s.samples[static_cast<int>(TdspSilentPath::Normal)] +=
                    static_cast<std::uint64_t>(decayed);
                if (done == count) break;
            }
            // Float and double buffers narrow inside the loop (no 80-bit output stores, no
            // second pass); long double buffers and the portable build go through a buffer.
            const int narrowed = Narrowed(n, g, xCoeffs, yCoeffs, xv, yv, in + done, out + done,
                                          count - done, s.yLimit);
            if (narrowed >= 0) {
                done += narrowed;
                s.since = -1;
                s.samples[static_cast<int>(TdspSilentPath::Normal)] +=
                    static_cast<std::uint64_t>(narrowed);
                continue;
            }
            long double ys[kChunk];
            const int chunk = count - done < kChunk ? count - done : kChunk;
            const int ran = IIRFilterCheckedBlock(n, g, xCoeffs, yCoeffs, xv, yv, in + done, ys,
                                                  chunk, s.yLimit);
            for (int i = 0; i < ran; ++i)
                Put(ys[i], out[done + i]);
            done += ran;
            s.since = -1;
            s.samples[static_cast<int>(TdspSilentPath::Normal)] += static_cast<std::uint64_t>(ran);
        } else {
            done = RunIntegers(n, g, xCoeffs, yCoeffs, xv, yv, in, out, done, count, s);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Sections

struct BiquadBits {
    TExtendedBits b0, b1, b2, a1, a2;
};

inline TExtendedBits Negated(TExtendedBits v) {
    v.signExponent = static_cast<std::uint16_t>(v.signExponent ^ 0x8000u);
    return v;
}

// What a cascade sample needs besides the histories: the coefficients as values, as bits, and for
// whole units (the subtracted ones negated), and each section's bound of safe operands (from its
// own coefficients: a section on the x87 multiplies its operands by those alone).
struct CascadeCoefficients {
    const TdspBiquad* values;
    BiquadBits bits[MaxSilentSections];
    Units units[MaxSilentSections][5];
    unsigned limit[MaxSilentSections]; // each section's own bound of safe operands
    // For SectionUnitsFast: each coefficient's significand (0: its product rounds to a zero),
    // shift and sign (0 or −1), and the bound 2^bits on the operands (0: not run); the binary
    // exponent of each coefficient (for Absorbed).
    std::uint64_t fastMantissa[MaxSilentSections][5];
    unsigned fastShift[MaxSilentSections][5];
    std::int64_t fastSign[MaxSilentSections][5];
    int fastBits[MaxSilentSections];
    int exponent[MaxSilentSections][5];
    // For SectionsUnitsRun's products (UnitProductAt64): the operand's left shift, the right shift
    // of the product's upper half and 2^(that − 1) − 1 (a product's shift of at most 64 is made
    // 65 by the operand's shift, exact below the bound).
    std::uint8_t preShift[MaxSilentSections][5], postShift[MaxSilentSections][5];
    std::uint64_t halfLess[MaxSilentSections][5];
    // For SectionAbsorbingRun: the exponent field at and above which a last output absorbs
    // inputs below 2^62 units (0: none does).
    unsigned absorbing[MaxSilentSections];
};

#if defined(__SIZEOF_INT128__)
// Coefficient t of section i as UnitProductNear takes it: a zero coefficient (whose significand
// has no top bit) as 2^63 with a right shift of 63, whose products of values below 2^62 units
// are zeros.
void NearOperands(const CascadeCoefficients& c, int i, int t, std::uint64_t& m, unsigned& pre,
                  unsigned& post, std::uint64_t& halfLess, std::int64_t& sign) {
    m = c.fastMantissa[i][t], sign = c.fastSign[i][t];
    pre = c.preShift[i][t], post = c.postShift[i][t], halfLess = c.halfLess[i][t];
    if (m == 0)
        m = std::uint64_t{1} << 63, pre = 0, post = 63, halfLess = (std::uint64_t{1} << 62) - 1;
}
#endif

// One section in whole units of 2^-16445 (see UnitsStep), every operand below 2^64 units: each
// product rounded to a whole unit, the sum exact; a zero sum is +0 where a nonzero product
// cancelled, else the zero the signs of its zero terms make (a − b is a + (−b)). False where a
// product lies at or above 2^58 units.
bool SectionUnits(const Units* u, const TExtendedBits* v, TExtendedBits& y, bool& live) {
#if defined(__SIZEOF_INT128__)
    __extension__ typedef unsigned __int128 Wide;
    __extension__ typedef __int128 SignedWide;
    SignedWide sum = 0;
    bool zeros = true;
    unsigned negative = 1;
    for (int t = 0; t < 5; ++t) {
        const Units& c = u[t];
        const unsigned sign = (v[t].IsNegative() != c.negative) ? 1u : 0u;
        std::uint64_t q = 0;
        if (v[t].mantissa != 0 && c.mantissa != 0) {
            if (c.shift < 1) return false;
            bool large = false;
            q = ProductUnits(c, v[t].mantissa, large);
            if (large) return false;
        }
        zeros = zeros && q == 0;
        negative &= sign;
        sum += sign ? -static_cast<SignedWide>(q) : static_cast<SignedWide>(q);
    }
    live = !zeros;
    const Wide magnitude = sum < 0 ? static_cast<Wide>(-sum) : static_cast<Wide>(sum);
    y = {static_cast<std::uint64_t>(magnitude),
         static_cast<std::uint16_t>(sum < 0 || (zeros && negative) ? 0x8000u : 0u)};
    return true;
#else
    (void)u, (void)v, (void)y, (void)live;
    return false;
#endif
}

// One section in whole units with 64-bit integers (see UnitsRun), where every operand is a
// subnormal of exponent field 0 below 2^fastBits units and some product is not zero (a zero sum
// is then +0); false otherwise (SectionUnits then decides).
bool SectionUnitsFast(const CascadeCoefficients& c, int i, const TExtendedBits* v,
                      TExtendedBits& y) {
#if defined(__SIZEOF_INT128__)
    const int bits = c.fastBits[i];
    if (bits == 0) return false;
    std::int64_t sum = 0, any = 0;
    for (int t = 0; t < 5; ++t) {
        if (v[t].Exponent() != 0 || (v[t].mantissa >> bits) != 0) return false;
        const std::int64_t w = v[t].IsNegative() ? -static_cast<std::int64_t>(v[t].mantissa)
                                                 : static_cast<std::int64_t>(v[t].mantissa);
        const std::int64_t q =
            UnitProductAt64(w, c.fastMantissa[i][t], c.preShift[i][t], c.postShift[i][t],
                            c.halfLess[i][t], c.fastSign[i][t]);
        sum += q;
        any |= q;
    }
    if (any == 0) return false; // a sum of zeros: their signs decide
    // else a zero sum is +0 (an exact cancellation, then zeros added)
    y = UnitBits(sum);
    return true;
#else
    (void)c, (void)i, (void)v, (void)y;
    return false;
#endif
}

// One section whose operands are zeros or safe but for some small ones (below the section's
// bound) whose products are too small to change the sum: the x87 computes the sum of the safe
// products (normal, or zero), and each small product p, however rounded, is below a quarter of
// the spacing of the partial sum it meets (|p| < 2^(e − 66) for a partial sum in [2^e, 2^(e+1))),
// so rounding to nearest gives that partial sum unchanged; a run of small products before the
// first safe one, bounded together, gives way to it the same way. False (nothing computed)
// where a bound does not hold, or a partial sum or the result is a zero or would be small.
bool Absorbed(const CascadeCoefficients& c, int i, const TExtendedBits* v, TExtendedBits& y) {
    const TdspBiquad& q = c.values[i];
    const long double* coefficient[5] = {&q.B0, &q.B1, &q.B2, &q.A1, &q.A2};
    const unsigned limit = c.limit[i];
    bool normal = false; // sum holds a nonzero normal value; else the small terms' bound
    long double sum = 0;
    int small = -(1 << 20); // the terms so far are below 2^small (a zero: no bound)
    for (int t = 0; t < 5; ++t) {
        const TExtendedBits b = v[t];
        // A zero product (a zero operand or coefficient) leaves a nonzero partial sum as it is,
        // and adds nothing to the small terms' bound; the result is nonzero or not taken.
        if (b.mantissa == 0 || c.exponent[i][t] < -(1 << 19)) continue;
        if (static_cast<unsigned>(b.Exponent()) > limit) {
            // Safe: the x87 product is normal, at least 2^kSafe, and at least 2^least (the
            // operands' binary exponents added); the subtracted ones negated, exactly.
            long double p = *coefficient[t] * LoadBits(b);
            if (t >= 3) p = -p;
            const int least = b.Exponent() - kBias + c.exponent[i][t];
            if (normal) {
                sum = sum + p;
                if (ToBits(sum).IsZero()) return false;
            } else {
                if (small > least - 66) return false;
                sum = p;
                normal = true;
            }
        } else {
            const int bound = ExponentOf(b) + c.exponent[i][t] + 3;
            if (normal) {
                if (bound > ExponentOf(ToBits(sum)) - 66) return false;
            } else {
                small = (small > bound ? small : bound) + 1;
            }
        }
    }
    if (!normal) return false;
    y = ToBits(sum);
    return true;
}

inline bool SafeBits(TExtendedBits b, unsigned limit) {
    return b.mantissa == 0 || static_cast<unsigned>(b.Exponent()) > limit;
}

// Inputs an absorbing section takes (see SectionAbsorbingRun): exponent field 0, below 2^62 units.
inline bool AbsorbedInput(TExtendedBits b) {
    return b.Exponent() == 0 && (b.mantissa >> 62) == 0;
}

// One sample of SectionAbsorbingRun (the bound checked on the operands, not on the output): false
// where it does not apply.
bool AbsorbingSample(const CascadeCoefficients& c, int i, const TExtendedBits* v,
                     TExtendedBits& y) {
    const unsigned absorbing = c.absorbing[i];
    if (absorbing == 0 || !AbsorbedInput(v[0]) || !AbsorbedInput(v[1]) || !AbsorbedInput(v[2]) ||
        v[3].mantissa == 0 || static_cast<unsigned>(v[3].Exponent()) < absorbing ||
        !SafeBits(v[4], c.limit[i]))
        return false;
    const TdspBiquad& q = c.values[i];
    y = ToBits(-(q.A1 * LoadBits(v[3])) - q.A2 * LoadBits(v[4]));
    return true;
}

// One sample of section i, v its operands (the input, its history, the output history), on the
// cheapest exact path they allow: the x87 where each is a zero or safe (no slow path), whole
// units where each lies below 2^64 units, else MulBits and AddBits. Returns whether it had a
// nonzero product; absorbed: set where the section absorbed small inputs (see Absorbed).
bool SectionSample(const CascadeCoefficients& c, int i, const TExtendedBits* v, TExtendedBits& y,
                   bool& absorbed) {
    bool safe = true, units = true;
    for (int t = 0; t < 5; ++t) {
        const TExtendedBits& b = v[t];
        safe = safe && (b.mantissa == 0 || static_cast<unsigned>(b.Exponent()) > c.limit[i]);
        units = units && b.Exponent() <= 1;
    }
    bool alive = false;
    absorbed = false;
    const BiquadBits& cb = c.bits[i];
    if (v[0].IsZero() && v[1].IsZero() && v[2].IsZero() && v[3].IsZero() && v[4].IsZero()) {
        // A sum of zeros, the subtracted ones negated: −0 only when every term is.
        const bool negative = (cb.b0.IsNegative() != v[0].IsNegative()) &&
                              (cb.b1.IsNegative() != v[1].IsNegative()) &&
                              (cb.b2.IsNegative() != v[2].IsNegative()) &&
                              (cb.a1.IsNegative() == v[3].IsNegative()) &&
                              (cb.a2.IsNegative() == v[4].IsNegative());
        y = {0, static_cast<std::uint16_t>(negative ? 0x8000u : 0u)};
    } else if (safe) {
        const TdspBiquad& s = c.values[i];
        const long double r =
            (((s.B0 * LoadBits(v[0]) + s.B1 * LoadBits(v[1])) + s.B2 * LoadBits(v[2])) -
             s.A1 * LoadBits(v[3])) -
            s.A2 * LoadBits(v[4]);
        y = ToBits(r);
        const TExtendedBits* cc[5] = {&cb.b0, &cb.b1, &cb.b2, &cb.a1, &cb.a2};
        for (int t = 0; t < 5; ++t)
            alive = alive || (v[t].mantissa != 0 && cc[t]->mantissa != 0);
    } else if (units && SectionUnitsFast(c, i, v, y)) {
        alive = true; // a nonzero sum
    } else if (!units && (AbsorbingSample(c, i, v, y) || Absorbed(c, i, v, y))) {
        alive = true;
        absorbed = true;
    } else if (!units || !SectionUnits(c.units[i], v, y, alive)) {
        const TExtendedBits p0 = MulBits(cb.b0, v[0]), p1 = MulBits(cb.b1, v[1]),
                            p2 = MulBits(cb.b2, v[2]), q1 = MulBits(cb.a1, v[3]),
                            q2 = MulBits(cb.a2, v[4]);
        alive = (p0.mantissa | p1.mantissa | p2.mantissa | q1.mantissa | q2.mantissa) != 0;
        y = AddBits(AddBits(AddBits(AddBits(p0, p1), p2), Negated(q1)), Negated(q2));
    }
    return alive;
}

// One sample of the cascade from section `from` on, x that section's input, as Cascade computes
// it (each section as SectionSample runs it); returns the output. live: bit i set where section
// i had a nonzero product; absorbed: the first section that absorbed small inputs.
TExtendedBits CascadeSample(int k, const CascadeCoefficients& c, TExtendedBits (*h)[2], int from,
                            TExtendedBits x, unsigned& live, int* absorbed = nullptr) {
    live = 0;
    for (int i = from; i < k; ++i) {
        const TExtendedBits v[5] = {x, h[i][0], h[i][1], h[i + 1][0], h[i + 1][1]};
        TExtendedBits y;
        bool took = false;
        if (SectionSample(c, i, v, y, took)) live |= 1u << i;
        if (took && absorbed && *absorbed < 0) *absorbed = i;
        h[i][1] = h[i][0];
        h[i][0] = x;
        x = y;
    }
    h[k][1] = h[k][0];
    h[k][0] = x;
    return x;
}

static_assert(sizeof(CascadeCoefficients) <= sizeof(TdspSilentSectionsState::cascade) &&
                  alignof(CascadeCoefficients) <= 16,
              "the state's room for the coefficients");

// The state's coefficients (made by PrepareCascade), pointing at the caller's sections.
CascadeCoefficients& CoefficientsOf(TdspSilentSectionsState& s, const TdspBiquad* bq) {
    CascadeCoefficients& c = *std::launder(reinterpret_cast<CascadeCoefficients*>(s.cascade));
    c.values = bq;
    return c;
}

void LoadHistories(int k, long double (*hist)[2], TExtendedBits (*h)[2]) {
    for (int i = 0; i <= k; ++i)
        h[i][0] = ToBits(hist[i][0]), h[i][1] = ToBits(hist[i][1]);
}

void PrepareCascade(int k, const TdspBiquad* bq, TdspSilentSectionsState& s) {
    CascadeCoefficients& c = *new (s.cascade) CascadeCoefficients{};
    c.values = bq;
    for (int i = 0; i < k; ++i) {
        const long double v[5] = {bq[i].B0, bq[i].B1, bq[i].B2, bq[i].A1, bq[i].A2};
        int e = 0;
        SmallestExponent(v, 5, e); // the design checked them: normal or zero
        c.limit[i] = Limit(e);
        const BiquadBits b = {ToBits(bq[i].B0), ToBits(bq[i].B1), ToBits(bq[i].B2),
                              ToBits(bq[i].A1), ToBits(bq[i].A2)};
        c.bits[i] = b;
        c.units[i][0] = UnitsOf(b.b0), c.units[i][1] = UnitsOf(b.b1);
        c.units[i][2] = UnitsOf(b.b2), c.units[i][3] = UnitsOf(Negated(b.a1));
        c.units[i][4] = UnitsOf(Negated(b.a2));
        int smallest = 127;
        for (int t = 0; t < 5; ++t) {
            const Units& u = c.units[i][t];
            const bool zero = u.mantissa == 0 || u.shift >= 127;
            c.fastMantissa[i][t] = zero ? 0 : u.mantissa;
            c.fastShift[i][t] = static_cast<unsigned>(zero || u.shift < 1 ? 1 : u.shift);
            c.fastSign[i][t] = u.negative ? -1 : 0;
            // (A zero coefficient, or one too large for the loop, gets harmless shifts.)
            const int shift = static_cast<int>(c.fastShift[i][t]);
            c.preShift[i][t] =
                static_cast<std::uint8_t>(zero || shift <= 6 || shift > 64 ? 0 : 65 - shift);
            c.postShift[i][t] = static_cast<std::uint8_t>(shift <= 64 ? 1 : shift - 64);
            c.halfLess[i][t] = (std::uint64_t{1} << (c.postShift[i][t] - 1)) - 1;
            if (!zero) smallest = u.shift < smallest ? u.shift : smallest;
        }
        const int bits = smallest - 6; // products below 2^58 units, sums of five below 2^62
        c.fastBits[i] = bits < 1 ? 0 : (bits > 62 ? 62 : bits);
        const TExtendedBits* cb[5] = {&b.b0, &b.b1, &b.b2, &b.a1, &b.a2};
        for (int t = 0; t < 5; ++t)
            c.exponent[i][t] = cb[t]->mantissa ? BinaryExponent(*cb[t]) : -(1 << 20);
        int eB = -(1 << 20);
        for (int t = 0; t < 3; ++t)
            eB = c.exponent[i][t] > eB ? c.exponent[i][t] : eB;
        const int field = eB - c.exponent[i][3] + 69, least = static_cast<int>(c.limit[i]) + 1;
        c.absorbing[i] =
            b.a1.mantissa == 0 ? 0u : static_cast<unsigned>(field > least ? field : least);
        if (c.absorbing[i] >= 0x7FFF) c.absorbing[i] = 0;
    }
}

void StoreSections(int k, long double (*hist)[2], TExtendedBits (*h)[2],
                   TdspSilentSectionsState& s) {
    for (int i = 0; i <= k; ++i) {
        SetBits(hist[i][0], h[i][0]);
        SetBits(hist[i][1], h[i][1]);
        s.left[2 * i] = h[i][0], s.left[2 * i + 1] = h[i][1];
    }
}

inline TExtendedBits StepBits(const TdspSilentSectionsState& s, int q, int section) {
    return {s.stepMantissa[q][section], s.stepSignExponent[q][section]};
}

inline void SetStep(TdspSilentSectionsState& s, int q, int section, TExtendedBits b) {
    s.stepMantissa[q][section] = b.mantissa;
    s.stepSignExponent[q][section] = b.signExponent;
}

inline TExtendedBits Step(const TdspSilentSectionsState& s, int ago, int section) {
    int q = s.phase - ago; // ago is 1 or 2
    q += q < 0 ? s.period : 0;
    q += q < 0 ? s.period : 0;
    return StepBits(s, q, section);
}

bool SectionsFrozenHolds(int k, long double (*hist)[2], const TdspSilentSectionsState& s) {
    for (int i = 0; i <= s.dead; ++i)
        if (!IsZeroBits(hist[i][0]) || !IsZeroBits(hist[i][1])) return false;
    for (int j = s.dead; j < k; ++j)
        if (ToBits(hist[j + 1][0]) != Step(s, 1, j) || ToBits(hist[j + 1][1]) != Step(s, 2, j))
            return false;
    return true;
}

inline const double* CycleOf(const TdspSilentSectionsState& s, const double*) {
    return s.cycleDouble;
}
inline const float* CycleOf(const TdspSilentSectionsState& s, const float*) {
    return s.cycleFloat;
}

template <typename T>
void RunSectionsFrozen(int k, const TdspBiquad* bq, long double (*hist)[2], const T* in, T* out,
                       int count, TdspSilentSectionsState& s) {
    // The zero sections' histories as sign bits (1: −0) and their coefficients' signs.
    const int dead = s.dead;
    unsigned h0[MaxSilentSections + 1], h1[MaxSilentSections + 1];
    unsigned sb0[MaxSilentSections], sb1[MaxSilentSections], sb2[MaxSilentSections],
        sa1[MaxSilentSections], sa2[MaxSilentSections];
    for (int i = 0; i <= dead; ++i)
        h0[i] = SignOf(hist[i][0]), h1[i] = SignOf(hist[i][1]);
    for (int i = 0; i < dead; ++i) {
        sb0[i] = SignOf(bq[i].B0), sb1[i] = SignOf(bq[i].B1), sb2[i] = SignOf(bq[i].B2);
        sa1[i] = SignOf(bq[i].A1), sa2[i] = SignOf(bq[i].A2);
    }
    const T* cycle = nullptr;
    if constexpr (sizeof(T) <= 8) cycle = CycleOf(s, out);
    int q = s.phase;
    for (int n = 0; n < count; ++n) {
        unsigned x = SignOf(in[n]);
        for (int i = 0; i < dead; ++i) {
            // A sum of zeros, the subtracted ones negated: −0 only when every term is.
            const unsigned y = (sb0[i] ^ x) & (sb1[i] ^ h0[i]) & (sb2[i] ^ h1[i]) &
                               (sa1[i] ^ h0[i + 1] ^ 1u) & (sa2[i] ^ h1[i + 1] ^ 1u);
            h1[i] = h0[i];
            h0[i] = x;
            x = y;
        }
        if (dead < k) {
            h1[dead] = h0[dead];
            h0[dead] = x;
        }
        if constexpr (sizeof(T) > 8)
            PutCycle(StepBits(s, q, k - 1), out[n]);
        else
            PutCycle(cycle[q], out[n]);
        q = q + 1 == s.period ? 0 : q + 1;
    }
    s.phase = q;
    for (int i = 0; i <= dead; ++i) {
        SetBits(hist[i][0], {0, static_cast<std::uint16_t>(h0[i] << 15)});
        SetBits(hist[i][1], {0, static_cast<std::uint16_t>(h1[i] << 15)});
    }
    for (int j = dead; j < k; ++j) {
        SetBits(hist[j + 1][0], Step(s, 1, j));
        SetBits(hist[j + 1][1], Step(s, 2, j));
    }
    s.samples[static_cast<int>(TdspSilentPath::Frozen)] += static_cast<std::uint64_t>(count);
}

// The cycle search after a cascade sample whose sections with a nonzero product are `live`, h
// the histories after it: true where it closed a cycle (frozen then).
bool TrackCycle(int k, TExtendedBits (*h)[2], unsigned live, TdspSilentSectionsState& s) {
    // Regular: a run of sections with histories all zeros, then a section with a nonzero
    // product, whose output does not depend on the signs of the zeros it takes. The sections
    // behind it may have none (a zero output whose sign its own operands' signs make): their
    // operands are in the histories compared, signs and all.
    const int dead = live ? __builtin_ctz(live) : k;
    bool regular = live != 0;
    for (int i = 0; i <= dead && regular; ++i)
        regular = h[i][0].IsZero() && h[i][1].IsZero();
    if (!regular) {
        s.since = -1;
    } else if (s.since < 0 || s.since == MaxSilentSectionsCycle || dead != s.dead) {
        s.since = 0;
        s.dead = dead;
        for (int j = dead; j < k; ++j)
            s.reference[2 * j] = h[j + 1][0], s.reference[2 * j + 1] = h[j + 1][1];
    } else {
        for (int j = dead; j < k; ++j)
            SetStep(s, s.since, j, h[j + 1][0]);
        ++s.since;
        bool same = true;
        for (int j = k - 1; j >= dead && same; --j)
            same = s.reference[2 * j] == h[j + 1][0] && s.reference[2 * j + 1] == h[j + 1][1];
        if (same) {
            s.frozen = true;
            s.period = s.since;
            s.phase = 0;
            for (int q = 0; q < s.period; ++q) {
                PutBits(StepBits(s, q, k - 1), s.cycleFloat[q]);
                PutBits(StepBits(s, q, k - 1), s.cycleDouble[q]);
            }
            s.since = -1;
            return true;
        }
    }
    return false;
}

// The bound on the values in whole units that history pair j carries (section j − 1's outputs,
// section j's inputs), from the fast bounds of the sections that multiply them (0: none).
inline int PairBits(const CascadeCoefficients& c, int k, int j) {
    int bits = 62;
    if (j > 0) bits = c.fastBits[j - 1] < bits ? c.fastBits[j - 1] : bits;
    if (j < k) bits = c.fastBits[j] < bits ? c.fastBits[j] : bits;
    return bits;
}

// Whether the whole cascade can run in whole units (RunSectionsUnits): the input history zeros,
// every other history value of exponent field 0 below its pair's bound; or, d > 0, the k
// sections from section d on, h their histories.
bool CascadeInUnits(int k, const CascadeCoefficients& c, const TExtendedBits (*h)[2], int d = 0) {
    if (h[0][0].mantissa != 0 || h[0][1].mantissa != 0) return false;
    for (int j = 1; j <= k; ++j) {
        const int bits = PairBits(c, d + k, d + j);
        if (bits == 0) return false;
        for (int t = 0; t < 2; ++t)
            if (h[j][t].Exponent() != 0 || (h[j][t].mantissa >> bits) != 0) return false;
    }
    return true;
}

#if defined(__SIZEOF_INT128__)
inline std::int64_t SignedUnits(TExtendedBits b) {
    return b.IsNegative() ? -static_cast<std::int64_t>(b.mantissa)
                          : static_cast<std::int64_t>(b.mantissa);
}

// K sections in whole units of 2^-16445 as 64-bit integers, a sample at a time, for the
// sample-major loops (SectionsUnitsRun, SectionsUnitsChunk): sections d..d+K−1 of the cascade,
// the first one's input terms zeros, while each section has a nonzero product (its zero sum then
// +0) and each output lies below its pair's bound (PairBits: each product below 2^58 units, each
// sum of five below 2^62, exact), branch-free within a sample.
//
// Leading sections in a cycle of their own: sections 0..j−1 take zeros, so their outputs are a
// function of their histories alone. Brent's search (the reference moves on at each power of
// two, up to kRing) finds the first lag at which some of them come again; from there those
// `lead` sections repeat their outputs `period` samples back, kept in a ring, and only the
// sections behind them compute. (The cascade's own cycle may be far longer.) The first of those
// takes its input from the lead, so its input terms repeat too: their sum (exact) and whether any
// was not zero come from rings of their own, two products a sample in place of five.
template <int K> struct UnitCascade {
    std::uint64_t m[K][5], half[K][5];
    unsigned pre[K][5], post[K][5];
    std::int64_t sg[K][5], bound[K];
    std::int64_t h0[K + 1], h1[K + 1]; // the histories in units (pair 0 the input's zeros)
    static constexpr int kRing = 128;
    std::int64_t ring[kRing][K], inputSum[kRing][K], inputAny[kRing][K];
    std::int64_t b0[K], b1[K];
    int power = 1, lambda = 0, lead = 0, period = 0;
    bool ties = false; // some product of the operands below their bounds may be an exact tie

    // h: the histories from section d's input pair on.
    UnitCascade(const CascadeCoefficients& c, int d, const TExtendedBits (*h)[2]) {
        for (int j = 0; j < K; ++j) {
            const int inputBits = PairBits(c, d + K, d + j),
                      outputBits = PairBits(c, d + K, d + j + 1);
            for (int t = 0; t < 5; ++t) {
                NearOperands(c, d + j, t, m[j][t], pre[j][t], post[j][t], half[j][t], sg[j][t]);
                if (t < 3 && j == 0) continue; // the first section's inputs are zeros
                ties = ties ||
                       !TieFree(m[j][t], pre[j][t], post[j][t], t < 3 ? inputBits : outputBits);
            }
            bound[j] = std::int64_t{1} << outputBits;
        }
        for (int j = 0; j <= K; ++j)
            h0[j] = SignedUnits(h[j][0]), h1[j] = SignedUnits(h[j][1]);
        for (int j = 0; j < K; ++j)
            b0[j] = h0[j + 1], b1[j] = h1[j + 1];
    }

    // Sample n (the input a zero): the outputs y, the histories moved on, the search a step
    // further. False, nothing kept, where a section has no nonzero product or an output reaches
    // its bound.
    __attribute__((always_inline)) bool Step(int n, std::int64_t* y) {
        return ties ? StepWith<true>(n, y) : StepWith<false>(n, y);
    }
    template <bool Ties> __attribute__((always_inline)) bool StepWith(int n, std::int64_t* y) {
        bool ok = true;
        std::int64_t x = 0;
#define VURNEL_PRODUCT(v, j, t)                                                                    \
    UnitProductNear<Ties>(v, m[j][t], pre[j][t], post[j][t], half[j][t], sg[j][t])
#pragma GCC unroll 8
        for (int j = 0; j < K; ++j) {
            if (j < lead) {
                y[j] = x = ring[(n - period) & (kRing - 1)][j];
                continue;
            }
            std::int64_t sum = VURNEL_PRODUCT(h0[j + 1], j, 3);
            std::int64_t any = sum;
            const std::int64_t q2 = VURNEL_PRODUCT(h1[j + 1], j, 4);
            sum += q2, any |= q2;
            if (j > 0) { // the first section's input terms are zeros
                std::int64_t f, fa;
                if (j == lead) {
                    f = inputSum[(n - period) & (kRing - 1)][j];
                    fa = inputAny[(n - period) & (kRing - 1)][j];
                } else {
                    const std::int64_t p0 = VURNEL_PRODUCT(x, j, 0),
                                       p1 = VURNEL_PRODUCT(h0[j], j, 1),
                                       p2 = VURNEL_PRODUCT(h1[j], j, 2);
                    f = p0 + p1 + p2, fa = p0 | p1 | p2;
                }
                inputSum[n & (kRing - 1)][j] = f, inputAny[n & (kRing - 1)][j] = fa;
                sum += f;
                any |= fa;
            }
            ok = ok && any != 0 && sum < bound[j] && sum > -bound[j];
            y[j] = sum;
            x = ok ? sum : 0; // within its bound for the next section's products
        }
#undef VURNEL_PRODUCT
        if (!ok) return false;
        h1[0] = h0[0], h0[0] = 0;
#pragma GCC unroll 8
        for (int j = 0; j < K; ++j)
            h1[j + 1] = h0[j + 1], h0[j + 1] = y[j], ring[n & (kRing - 1)][j] = y[j];
        if (K > 1 && power <= kRing) {
            ++lambda;
            int match = 0;
            while (match < K - 1 && h0[match + 1] == b0[match] && h1[match + 1] == b1[match])
                ++match;
            if (match > 0) {
                lead = match, period = lambda;
                power = kRing + 1; // found: no search after this
            } else if (lambda == power) {
                for (int j = 0; j < K; ++j)
                    b0[j] = h0[j + 1], b1[j] = h1[j + 1];
                power *= 2, lambda = 0;
            }
        }
        return true;
    }

    // From here every section computes (samples not run here are not in the rings).
    void StopLead() {
        lead = 0, power = kRing + 1;
    }
};

// The whole cascade of K sections in whole units of 2^-16445 as 64-bit integers, branch-free
// within a sample, from sample `at` on, while each section has a nonzero product (its zero sum
// then +0) and each output lies below its pair's bound (each product below 2^58 units, each sum of
// five below 2^62: exact); as SectionUnitsFast section by section, the first section's input
// terms zeros. The histories h (bits) are kept in step: the values made here from units, the
// input's zeros with their signs, a value from before kept as its bits while it is in the window.
// The cycle search is TrackCycle's. These are sections d..d+K−1 of the cascade (h their
// histories, from section d's input pair on), behind d sections whose histories are all zeros
// (their outputs, section d's inputs, are the zeros `in` gives). Returns the sample it stopped at.
template <int K, typename T>
int SectionsUnitsRun(const CascadeCoefficients& c, TExtendedBits (*h)[2], const T* in, T* out,
                     int at, int count, TdspSilentSectionsState& s, int d) {
    UnitCascade<K> u(c, d, h);
    std::int64_t *h0 = u.h0, *h1 = u.h1;
    // The search goes on from the state's reference where it has no dead section and its values
    // are units here (a zero's sign is not kept in units: a zero there starts a new search).
    std::int64_t r0[K] = {}, r1[K] = {};
    int since = s.since >= 0 && s.dead == d ? s.since : -1;
    for (int j = 0; j < K && since >= 0; ++j) {
        const TExtendedBits a = s.reference[2 * (d + j)], b = s.reference[2 * (d + j) + 1];
        if (a.mantissa == 0 || b.mantissa == 0 || a.Exponent() != 0 || b.Exponent() != 0)
            since = -1;
        r0[j] = SignedUnits(a), r1[j] = SignedUnits(b);
    }
    // The last two inputs' signs, read before the outputs overwrite them (in may be out).
    unsigned sign0 = 0, sign1 = 0;
    int n = at;
    for (; n < count; ++n) {
        std::int64_t y[K];
        if (!u.Step(n, y)) break;
        sign1 = sign0, sign0 = SignOf(in[n]);
        PutUnits(y[K - 1], out[n]);
        // The cycle search (TrackCycle's): the live histories against the reference.
        if (n - at < 2) {
            since = -1; // a value from before is in the window
        } else if (since < 0 || since == MaxSilentSectionsCycle) {
            since = 0;
            for (int j = 0; j < K; ++j)
                r0[j] = h0[j + 1], r1[j] = h1[j + 1];
        } else {
            for (int j = 0; j < K; ++j)
                SetStep(s, since, d + j, UnitBits(y[j]));
            ++since;
            bool same = true;
            for (int j = K - 1; j >= 0 && same; --j)
                same = r0[j] == h0[j + 1] && r1[j] == h1[j + 1];
            if (same) {
                s.frozen = true;
                s.period = since;
                s.phase = 0;
                s.dead = d;
                for (int q = 0; q < s.period; ++q) {
                    PutBits(StepBits(s, q, d + K - 1), s.cycleFloat[q]);
                    PutBits(StepBits(s, q, d + K - 1), s.cycleDouble[q]);
                }
                since = -1;
                ++n;
                break;
            }
        }
    }
    const int ran = n - at;
    if (ran == 0) return n; // nothing run: the search as it was
    {
        // The input history: the last inputs' zeros (or one from before).
        h[0][1] = ran >= 2 ? TExtendedBits{0, static_cast<std::uint16_t>(sign1 << 15)} : h[0][0];
        h[0][0] = {0, static_cast<std::uint16_t>(sign0 << 15)};
        for (int j = 1; j <= K; ++j) {
            h[j][1] = ran >= 2 ? UnitBits(h1[j]) : h[j][0];
            h[j][0] = UnitBits(h0[j]);
        }
    }
    if (!s.frozen) {
        s.since = since;
        s.dead = d;
        if (since >= 0)
            for (int j = 0; j < K; ++j) {
                s.reference[2 * (d + j)] = UnitBits(r0[j]);
                s.reference[2 * (d + j) + 1] = UnitBits(r1[j]);
            }
    }
    return n;
}

template <typename T>
using SectionsUnitsRoutine = int (*)(const CascadeCoefficients&, TExtendedBits (*)[2], const T*, T*,
                                     int, int, TdspSilentSectionsState&, int);

template <typename T, int... K>
SectionsUnitsRoutine<T> SelectSectionsUnits(int k, std::integer_sequence<int, K...>) {
    constexpr SectionsUnitsRoutine<T> table[] = {&SectionsUnitsRun<K + 1, T>...};
    return table[k - 1];
}
#endif

#if defined(__SIZEOF_INT128__)
// One sample of SectionsUnitsRun on the histories h (bits) in place, x the input's zero, without
// the cycle search (the caller's TrackCycle compares the bits): false, h untouched, where a
// section has no nonzero product or an output reaches its bound.
template <int K>
bool SectionsUnitsSample(const CascadeCoefficients& c, TExtendedBits (*h)[2], TExtendedBits x,
                         TExtendedBits& out) {
    std::int64_t y[K], in = 0;
    bool ok = true;
#define VURNEL_PRODUCT(v, j, t)                                                                    \
    UnitProductAt64(v, c.fastMantissa[j][t], c.preShift[j][t], c.postShift[j][t],                  \
                    c.halfLess[j][t], c.fastSign[j][t])
#pragma GCC unroll 8
    for (int j = 0; j < K; ++j) {
        std::int64_t sum = VURNEL_PRODUCT(SignedUnits(h[j + 1][0]), j, 3);
        std::int64_t any = sum;
        const std::int64_t q2 = VURNEL_PRODUCT(SignedUnits(h[j + 1][1]), j, 4);
        sum += q2, any |= q2;
        if (j > 0) {
            const std::int64_t p0 = VURNEL_PRODUCT(in, j, 0),
                               p1 = VURNEL_PRODUCT(SignedUnits(h[j][0]), j, 1),
                               p2 = VURNEL_PRODUCT(SignedUnits(h[j][1]), j, 2);
            sum += p0 + p1 + p2;
            any |= p0 | p1 | p2;
        }
        const std::int64_t bound = std::int64_t{1} << PairBits(c, K, j + 1);
        ok = ok && any != 0 && sum < bound && sum > -bound;
        y[j] = sum;
        in = ok ? sum : 0;
    }
#undef VURNEL_PRODUCT
    if (!ok) return false;
    h[0][1] = h[0][0], h[0][0] = x;
    for (int j = 0; j < K; ++j)
        h[j + 1][1] = h[j + 1][0], h[j + 1][0] = UnitBits(y[j]);
    out = h[K][0];
    return true;
}

template <int... K>
bool SectionsUnitsSampleOf(int k, const CascadeCoefficients& c, TExtendedBits (*h)[2],
                           TExtendedBits x, TExtendedBits& out, std::integer_sequence<int, K...>) {
    using Step =
        bool (*)(const CascadeCoefficients&, TExtendedBits(*)[2], TExtendedBits, TExtendedBits&);
    constexpr Step table[] = {&SectionsUnitsSample<K + 1>...};
    return table[k - 1](c, h, x, out);
}
#endif

// Runs SectionsUnitsRun from sample `at` where the histories allow it; returns the sample it
// stopped at (at where it did not run).
template <typename T>
int RunSectionsUnits(int k, const CascadeCoefficients& c, TExtendedBits (*h)[2], const T* in,
                     T* out, int at, int count, TdspSilentSectionsState& s) {
#if defined(__SIZEOF_INT128__)
    if (!CascadeInUnits(k, c, h)) return at;
    return SelectSectionsUnits<T>(k, std::make_integer_sequence<int, MaxSilentSections>{})(
        c, h, in, out, at, count, s, 0);
#else
    (void)k, (void)c, (void)h, (void)in, (void)out, (void)count, (void)s;
    return at; // no 128-bit products: CascadeSample carries these samples, with the same bits
#endif
}

// Whether the section-major loop (RunSectionsMixed) takes the cascade: some history value lies
// above whole units (exponent field above 0), or all are zeros; else the integers below take it.
bool CascadeMixed(int k, const TExtendedBits (*h)[2]) {
    bool zeros = true;
    for (int j = 0; j <= k; ++j)
        for (int t = 0; t < 2; ++t) {
            if (h[j][t].Exponent() != 0) return true;
            zeros = zeros && h[j][t].mantissa == 0;
        }
    return zeros;
}

// The cascade in integers, every history value of exponent field 0 and some not a zero: the
// whole-unit loop where it applies, else CascadeSample sample by sample, with the search for
// cycles; leaves where the section-major loop takes over.
// The number d of leading sections (at most k − 1) whose histories are all zeros.
int ZeroSections(int k, const TExtendedBits (*h)[2]) {
    int d = 0;
    while (d < k - 1 && h[d][0].IsZero() && h[d][1].IsZero() && h[d + 1][0].IsZero() &&
           h[d + 1][1].IsZero())
        ++d;
    return d;
}

// The outputs of d sections whose histories are all zeros (sign bits h0, h1 of pairs 0..d),
// over n samples of zeros in: each a zero, −0 only where every term of its sum is (the subtracted
// ones negated). zeros: section d's inputs, as zeros of the buffer's type (nullptr: not kept).
template <typename T>
void ZeroSectionsRun(const CascadeCoefficients& c, int d, unsigned* h0, unsigned* h1, const T* in,
                     int n, T* zeros) {
    for (int t = 0; t < n; ++t) {
        unsigned x = SignOf(in[t]);
        for (int i = 0; i < d; ++i) {
            const BiquadBits& b = c.bits[i];
            const unsigned y = (b.b0.IsNegative() ^ x) & (b.b1.IsNegative() ^ h0[i]) &
                               (b.b2.IsNegative() ^ h1[i]) & (b.a1.IsNegative() ^ h0[i + 1] ^ 1u) &
                               (b.a2.IsNegative() ^ h1[i + 1] ^ 1u);
            h1[i] = h0[i], h0[i] = x;
            x = y;
        }
        h1[d] = h0[d], h0[d] = x;
        if (zeros) PutBits({0, static_cast<std::uint16_t>(x << 15)}, zeros[t]);
    }
}

// The sections behind d ≥ 1 sections whose histories are all zeros, from sample `at`, a chunk at a
// time: the resting sections' zero outputs, their signs formed from the input's (read before the
// chunk runs: in may be out), go to run(zeros, from, n), which runs the sections behind them from
// sample `from` and returns how far it got; the resting sections' histories are then set as far as
// that. Stops where a run falls short of its chunk or stop() says so; returns the sample it
// stopped at.
template <typename T, typename Run, typename Stop>
int BehindZeroSections(int d, const CascadeCoefficients& c, TExtendedBits (*h)[2], const T* in,
                       int at, int count, Run run, Stop stop) {
    int done = at;
    while (done < count) {
        const int n = count - done < kChunk ? count - done : kChunk;
        unsigned h0[MaxSilentSections + 1], h1[MaxSilentSections + 1], g0[MaxSilentSections + 1],
            g1[MaxSilentSections + 1];
        for (int j = 0; j <= d; ++j)
            g0[j] = h0[j] = h[j][0].IsNegative(), g1[j] = h1[j] = h[j][1].IsNegative();
        T signs[kChunk], zeros[kChunk]; // the input's zeros, section d's inputs
        for (int t = 0; t < n; ++t)
            signs[t] = in[done + t];
        ZeroSectionsRun(c, d, g0, g1, signs, n, zeros);
        const int ran = run(static_cast<const T*>(zeros), done, n);
        if (ran == 0) break;
        ZeroSectionsRun(c, d, h0, h1, signs, ran, static_cast<T*>(nullptr));
        for (int j = 0; j < d; ++j) // (pair d: set by the run, from the same zeros)
            h[j][0] = {0, static_cast<std::uint16_t>(h0[j] << 15)},
            h[j][1] = {0, static_cast<std::uint16_t>(h1[j] << 15)};
        done += ran;
        if (ran < n || stop()) break;
    }
    return done;
}

// SectionsUnitsRun on sections d..k−1 (d ≥ 1) behind d sections whose histories are all zeros,
// from sample `at`, chunk by chunk, where the histories allow it; returns the sample it stopped at
// (at where it did not run).
template <typename T>
int RunSectionsUnitsBehindZeros(int k, int d, const CascadeCoefficients& c, TExtendedBits (*h)[2],
                                const T* in, T* out, int at, int count,
                                TdspSilentSectionsState& s) {
#if defined(__SIZEOF_INT128__)
    if (!CascadeInUnits(k - d, c, h + d, d)) return at;
    return BehindZeroSections(
        d, c, h, in, at, count,
        [&](const T* zeros, int from, int n) {
            return SelectSectionsUnits<T>(k - d,
                                          std::make_integer_sequence<int, MaxSilentSections>{})(
                c, h + d, zeros, out + from, 0, n, s, d);
        },
        [&] { return s.frozen; });
#else
    (void)k, (void)d, (void)c, (void)h, (void)in, (void)out, (void)count, (void)s;
    return at;
#endif
}

template <typename T>
int RunSectionsIntegers(int k, const TdspBiquad* bq, long double (*hist)[2], const T* in, T* out,
                        int at, int count, TdspSilentSectionsState& s) {
    CascadeCoefficients& cc = CoefficientsOf(s, bq);
    TExtendedBits h[MaxSilentSections + 1][2];
    LoadHistories(k, hist, h);
    for (int i = 0; i <= k && s.since >= 0; ++i)
        if (s.left[2 * i] != h[i][0] || s.left[2 * i + 1] != h[i][1]) s.since = -1;
    int n = at;
    while (n < count) {
        const int d = ZeroSections(k, h);
        if (d == 0 ? CascadeInUnits(k, cc, h) : CascadeInUnits(k - d, cc, h + d, d)) {
            const int from = n;
            n = d == 0 ? RunSectionsUnits(k, cc, h, in, out, n, count, s)
                       : RunSectionsUnitsBehindZeros(k, d, cc, h, in, out, n, count, s);
            if (n > from) {
                if (s.frozen) break;
                continue;
            }
        }
        if (CascadeMixed(k, h)) {
            s.since = -1;
            break;
        }
        unsigned live;
        const TExtendedBits x = ToBits(static_cast<long double>(in[n]));
        const TExtendedBits y = CascadeSample(k, cc, h, 0, x, live);
        PutBits(y, out[n]);
        ++n;
        if (TrackCycle(k, h, live, s)) break;
    }
    StoreSections(k, hist, h, s);
    s.samples[static_cast<int>(TdspSilentPath::Integer)] += static_cast<std::uint64_t>(n - at);
    return n;
}

// The bits of a value in memory, read with integer loads (ToBits takes the value, which the
// compiler may load on the x87 and store again, and an integer load of that store waits for it).
inline TExtendedBits BitsAt(const long double& v) {
    TExtendedBits b;
    std::memcpy(&b.mantissa, &v, 8);
    std::memcpy(&b.signExponent, reinterpret_cast<const unsigned char*>(&v) + 8, 2);
    return b;
}

// One section's histories as bits: its last two inputs and outputs.
struct SectionHistory {
    TExtendedBits x1, x2, y1, y2;
};

// The histories after samples n..m−1 of a run that read src and wrote dst.
inline void Advance(SectionHistory& r, const long double* src, const long double* dst, int n,
                    int m) {
    if (m - n >= 2) {
        r = {BitsAt(src[m - 1]), BitsAt(src[m - 2]), BitsAt(dst[m - 1]), BitsAt(dst[m - 2])};
    } else if (m > n) {
        r = {BitsAt(src[m - 1]), r.x1, BitsAt(dst[m - 1]), r.y1};
    }
}

// c as two doubles whose sum, formed on the x87 (64-bit significands), is c exactly: false where
// they would not be normal doubles (or zeros) or their sum not c.
inline bool SplitCoefficient(long double c, double* pair) {
    const double hi = static_cast<double>(c);
    double lo = static_cast<double>(c - static_cast<long double>(hi));
    if (lo == 0.0) lo = std::signbit(hi) ? -0.0 : 0.0; // a zero c keeps its sign
    pair[0] = hi, pair[1] = lo;
    const auto normal = [](double v) { return v == 0.0 || std::fabs(v) >= 0x1p-1022; };
    return normal(hi) && normal(lo) && std::fabs(hi) < 0x1p1023 &&
           ToBits(static_cast<long double>(hi) + static_cast<long double>(lo)) == ToBits(c);
}

// Section i on the x87 from sample n (inputs src, outputs dst) while every operand is a zero or
// safe; the output that is not (a zero or normal value: the sum of safe products) is the last it
// makes. Returns the sample it stopped at.
int SectionSafeRun(const CascadeCoefficients& c, int i, const long double* src, long double* dst,
                   int n, int count, const SectionHistory& r) {
    const unsigned limit = c.limit[i];
    if (!SafeBits(r.x1, limit) || !SafeBits(r.x2, limit) || !SafeBits(r.y1, limit) ||
        !SafeBits(r.y2, limit))
        return n;
    const TdspBiquad& q = c.values[i];
    // The subtracted terms added negated (the same bits: a − b is a + (−b), and (−a)·b is −(a·b)).
    const long double co[5] = {q.B0, q.B1, q.B2, -q.A1, -q.A2};
#if defined(__x86_64__) && defined(__GNUC__)
    // Each as hi + lo (two doubles: an addition in place of an 80-bit load, whose throughput
    // bounds the loop).
    double split[10];
    for (int t = 0; t < 5; ++t)
        if (!SplitCoefficient(co[t], split + 2 * t)) return n;
#endif
    // Outputs are zeros or normal here: the x87 compares them with the bound without a flag.
    long double hs[5] = {LoadBits(r.y1), LoadBits(r.y2), LoadBits(r.x1), LoadBits(r.x2),
                         LoadBits({std::uint64_t{1} << 63, static_cast<std::uint16_t>(limit + 1)})};
#if defined(__x86_64__) && defined(__GNUC__)
    // The histories stay in the x87's registers (an 80-bit value stored and loaded again at once
    // waits for the store), two samples a turn with the stack in two orders: A is y1 y2 x1 x2
    // bound, B y2 y1 x2 x1 bound. Each input's bits are checked first (stored a section earlier:
    // the read waits for nothing), each output is compared with the bound (below it but for a
    // zero: the last sample).
    const long double* p = src + n;
    long double* o = dst + n;
    std::uint64_t t1;
    std::uint32_t t2;
    __asm__ volatile("fldt 64(%[hs])\n\t"
                     "fldt 48(%[hs])\n\t"
                     "fldt 32(%[hs])\n\t"
                     "fldt 16(%[hs])\n\t"
                     "fldt (%[hs])\n\t"
                     ".p2align 4\n"
                     "1:\n\t" // A
                     "cmp %[end], %[p]\n\t"
                     "jae 8f\n\t"
                     "mov (%[p]), %[t1]\n\t"
                     "test %[t1], %[t1]\n\t"
                     "jz 2f\n\t"
                     "movzwl 8(%[p]), %[t2]\n\t"
                     "and $0x7fff, %[t2]\n\t"
                     "cmp %[lim], %[t2]\n\t"
                     "jbe 8f\n"
                     "2:\n\t"
                     "fldt (%[p])\n\t"
                     "fldl 0(%[co])\n\t"
                     "faddl 8(%[co])\n\t"
                     "fmul %%st(1), %%st\n\t"
                     "fldl 16(%[co])\n\t"
                     "faddl 24(%[co])\n\t"
                     "fmul %%st(5), %%st\n\t"
                     "faddp\n\t"
                     "fldl 32(%[co])\n\t"
                     "faddl 40(%[co])\n\t"
                     "fmul %%st(6), %%st\n\t"
                     "faddp\n\t"
                     "fldl 48(%[co])\n\t"
                     "faddl 56(%[co])\n\t"
                     "fmul %%st(3), %%st\n\t"
                     "faddp\n\t"
                     "fldl 64(%[co])\n\t"
                     "faddl 72(%[co])\n\t"
                     "fmul %%st(4), %%st\n\t"
                     "faddp\n\t"
                     "fld %%st(0)\n\t"
                     "fstpt (%[o])\n\t"
                     "fld %%st(0)\n\t"
                     "fabs\n\t"
                     "fcomip %%st(7), %%st\n\t"
                     "fstp %%st(3)\n\t"
                     "fstp %%st(4)\n\t"
                     "lea 16(%[p]), %[p]\n\t"
                     "lea 16(%[o]), %[o]\n\t"
                     "jb 5f\n"
                     "3:\n\t" // B
                     "cmp %[end], %[p]\n\t"
                     "jae 9f\n\t"
                     "mov (%[p]), %[t1]\n\t"
                     "test %[t1], %[t1]\n\t"
                     "jz 4f\n\t"
                     "movzwl 8(%[p]), %[t2]\n\t"
                     "and $0x7fff, %[t2]\n\t"
                     "cmp %[lim], %[t2]\n\t"
                     "jbe 9f\n"
                     "4:\n\t"
                     "fldt (%[p])\n\t"
                     "fldl 0(%[co])\n\t"
                     "faddl 8(%[co])\n\t"
                     "fmul %%st(1), %%st\n\t"
                     "fldl 16(%[co])\n\t"
                     "faddl 24(%[co])\n\t"
                     "fmul %%st(6), %%st\n\t"
                     "faddp\n\t"
                     "fldl 32(%[co])\n\t"
                     "faddl 40(%[co])\n\t"
                     "fmul %%st(5), %%st\n\t"
                     "faddp\n\t"
                     "fldl 48(%[co])\n\t"
                     "faddl 56(%[co])\n\t"
                     "fmul %%st(4), %%st\n\t"
                     "faddp\n\t"
                     "fldl 64(%[co])\n\t"
                     "faddl 72(%[co])\n\t"
                     "fmul %%st(3), %%st\n\t"
                     "faddp\n\t"
                     "fld %%st(0)\n\t"
                     "fstpt (%[o])\n\t"
                     "fld %%st(0)\n\t"
                     "fabs\n\t"
                     "fcomip %%st(7), %%st\n\t"
                     "fstp %%st(2)\n\t"
                     "fstp %%st(3)\n\t"
                     "lea 16(%[p]), %[p]\n\t"
                     "lea 16(%[o]), %[o]\n\t"
                     "jae 1b\n\t"
                     "fldz\n\t" // below the bound, in order A: a zero goes on
                     "fucomip %%st(1), %%st\n\t"
                     "je 1b\n\t"
                     "jmp 8f\n"
                     "5:\n\t" // below the bound, in order B
                     "fldz\n\t"
                     "fucomip %%st(2), %%st\n\t"
                     "je 3b\n\t"
                     "jmp 9f\n"
                     "8:\n\t"
                     "fstp %%st(0)\n\t"
                     "fstp %%st(0)\n\t"
                     "fstp %%st(0)\n\t"
                     "fstp %%st(0)\n\t"
                     "fstp %%st(0)\n\t"
                     "jmp 10f\n"
                     "9:\n\t"
                     "fstp %%st(0)\n\t"
                     "fstp %%st(0)\n\t"
                     "fstp %%st(0)\n\t"
                     "fstp %%st(0)\n\t"
                     "fstp %%st(0)\n"
                     "10:"
                     : [p] "+r"(p), [o] "+r"(o), [t1] "=&r"(t1), [t2] "=&r"(t2)
                     : [end] "r"(src + count), [co] "r"(split), [hs] "r"(hs), [lim] "r"(limit)
                     : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)",
                       "st(7)");
    return static_cast<int>(p - src);
#else
    const long double bound = hs[4];
    long double x1 = hs[2], x2 = hs[3], y1 = hs[0], y2 = hs[1];
    int m = n;
    while (m < count) {
        if (!SafeBits(ToBits(src[m]), limit)) break;
        const long double x = src[m];
        const long double y = (((co[0] * x + co[1] * x1) + co[2] * x2) + co[3] * y1) + co[4] * y2;
        dst[m++] = y;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        if (std::fabs(y) < bound && y != 0.0L) break;
    }
    return m;
#endif
}

#if defined(__SIZEOF_INT128__)
// Section i in whole units (as SectionUnitsFast, products by UnitProductAt64) from sample n while
// every operand has exponent field 0 and lies below 2^fastBits units (a zero sum +0 where some
// product is not zero, else the zero the terms' signs make); the output at or beyond the bound is
// the last it makes. Returns the sample it stopped at.
int SectionUnitsRun(const CascadeCoefficients& c, int i, const long double* src, long double* dst,
                    int n, int count, const SectionHistory& r) {
    const int bits = c.fastBits[i];
    if (bits == 0) return n;
    const auto fits = [bits](TExtendedBits b) {
        return b.Exponent() == 0 && (b.mantissa >> bits) == 0;
    };
    if (!fits(r.x1) || !fits(r.x2) || !fits(r.y1) || !fits(r.y2)) return n;
    std::uint64_t mt[5], half[5];
    unsigned pre[5], post[5];
    std::int64_t sg[5];
    for (int t = 0; t < 5; ++t)
        NearOperands(c, i, t, mt[t], pre[t], post[t], half[t], sg[t]);
    const std::int64_t bound = std::int64_t{1} << bits;
    std::int64_t x1 = SignedUnits(r.x1), x2 = SignedUnits(r.x2), y1 = SignedUnits(r.y1),
                 y2 = SignedUnits(r.y2);
    int m = n;
    if (x1 == 0 && x2 == 0) {
        // Zero inputs (of either sign): their products are zeros, and a sum with a nonzero term
        // does not depend on the zeros' signs, so the section is y1, y2 alone; where that pair
        // comes again (Brent's search: the reference moves on at each power of two), the outputs
        // repeat with its period, copied for as long as the inputs stay zeros. A nonzero input
        // goes on below.
        std::int64_t r1 = y1, r2 = y2;
        int power = 1, lambda = 0;
        while (m < count && BitsAt(src[m]).mantissa == 0) {
            const std::int64_t q1 = UnitProductNear(y1, mt[3], pre[3], post[3], half[3], sg[3]),
                               q2 = UnitProductNear(y2, mt[4], pre[4], post[4], half[4], sg[4]);
            if ((q1 | q2) == 0) return m; // a sum of zeros: their signs decide
            const std::int64_t y = q1 + q2;
            SetBits(dst[m++], UnitBits(y));
            y2 = y1, y1 = y;
            if (y >= bound || y <= -bound) return m;
            ++lambda;
            if (y1 == r1 && y2 == r2) {
                for (; m < count && BitsAt(src[m]).mantissa == 0; ++m)
                    std::memcpy(&dst[m], &dst[m - lambda], sizeof(long double));
                return m;
            }
            if (lambda == power) r1 = y1, r2 = y2, power *= 2, lambda = 0;
        }
    }
    // The input terms' sum (exact) and whether any was not zero, kept for the inputs of the last
    // two samples: where the section before repeats with a period of one or two (a fixed point,
    // a cycle of two), the same three inputs come again and their products are not formed anew.
    struct InputTerms {
        std::int64_t x, x1, x2, sum, any;
        bool valid;
    } memo[2] = {};
    int slot = 0;
    // A sum of zeros: −0 only where every term is, each product's sign that of its operands
    // (the subtracted ones negated), read where the operands are (n is where the run began).
    const auto sign = [](TExtendedBits b) { return static_cast<unsigned>(b.signExponent) >> 15u; };
    const auto signOf = [&](const long double* v, int j, TExtendedBits h1, TExtendedBits h2) {
        return j >= n ? sign(BitsAt(v[j])) : sign(j == n - 1 ? h1 : h2);
    };
    const auto zeroSign = [&](int at) {
        const BiquadBits& cb = c.bits[i];
        return (sign(cb.b0) ^ sign(BitsAt(src[at]))) &
               (sign(cb.b1) ^ signOf(src, at - 1, r.x1, r.x2)) &
               (sign(cb.b2) ^ signOf(src, at - 2, r.x1, r.x2)) &
               (sign(cb.a1) ^ signOf(dst, at - 1, r.y1, r.y2) ^ 1u) &
               (sign(cb.a2) ^ signOf(dst, at - 2, r.y1, r.y2) ^ 1u);
    };
    while (m < count) {
        const TExtendedBits xb = BitsAt(src[m]);
        if (!fits(xb)) break;
        const std::int64_t x = SignedUnits(xb);
#define VURNEL_PRODUCT(v, t) UnitProductNear(v, mt[t], pre[t], post[t], half[t], sg[t])
        InputTerms& e = memo[slot];
        slot ^= 1;
        if (!(e.valid && e.x == x && e.x1 == x1 && e.x2 == x2)) {
            const std::int64_t p0 = VURNEL_PRODUCT(x, 0), p1 = VURNEL_PRODUCT(x1, 1),
                               p2 = VURNEL_PRODUCT(x2, 2);
            e = {x, x1, x2, p0 + p1 + p2, p0 | p1 | p2, true};
        }
        const std::int64_t q1 = VURNEL_PRODUCT(y1, 3), q2 = VURNEL_PRODUCT(y2, 4);
#undef VURNEL_PRODUCT
        const std::int64_t y = e.sum + q1 + q2;
        TExtendedBits out = UnitBits(y); // (a zero sum of nonzero terms +0)
        if ((e.any | q1 | q2) == 0)
            out.signExponent = static_cast<std::uint16_t>(zeroSign(m) << 15u);
        SetBits(dst[m++], out);
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        if (y >= bound || y <= -bound) break;
    }
    return m;
}
#endif

// Whether section i sits at a fixed point or in a cycle of two with x0 its next input: its last
// two inputs and x0 one value X (or, X a zero, zeros of either sign), and the step from X and its
// last two outputs Y1 (the last), Y2 gives Y2 with a nonzero product, and the step after it
// (from Y2, Y1) gives Y1 with a nonzero product. A zero operand's product is a zero whatever its
// sign, and a sum with a nonzero term does not depend on the signs of its zero terms; so while
// the input is X the outputs repeat Y2, Y1 (Y1 = Y2: a fixed point).
bool AtShortCycle(const CascadeCoefficients& c, int i, TExtendedBits x0, const SectionHistory& r) {
    if (r.x1.IsZero() ? !r.x2.IsZero() || !x0.IsZero() : r.x2 != r.x1 || x0 != r.x1) return false;
    TExtendedBits y;
    bool absorbed;
    const TExtendedBits v[5] = {x0, r.x1, r.x2, r.y1, r.y2};
    if (!SectionSample(c, i, v, y, absorbed) || y != r.y2) return false;
    if (r.y1 == r.y2) return true;
    const TExtendedBits w[5] = {x0, r.x1, r.x2, r.y2, r.y1};
    return SectionSample(c, i, w, y, absorbed) && y == r.y1;
}

// Section i at a fixed point or in a cycle of two (AtShortCycle) from sample n: the outputs Y2,
// Y1, Y2, ... while the input is X (a zero of either sign where X is one). Returns the sample it
// stopped at.
int SectionCycleRun(const CascadeCoefficients& c, int i, const long double* src, long double* dst,
                    int n, int count, const SectionHistory& r) {
    if (n >= count || !AtShortCycle(c, i, BitsAt(src[n]), r)) return n;
    const TExtendedBits x = r.x1, y[2] = {r.y2, r.y1};
    const bool zero = x.IsZero();
    int m = n;
    while (m < count) {
        const TExtendedBits xb = BitsAt(src[m]);
        if (zero ? !xb.IsZero() : xb != x) break;
        SetBits(dst[m], y[(m - n) & 1]);
        ++m;
    }
    return m;
}

// Section i where every operand is a zero: each output a zero, −0 only where every term of its
// sum is (the subtracted ones negated), from sample n while the inputs are zeros. Returns the
// sample it stopped at.
int SectionZerosRun(const CascadeCoefficients& c, int i, const long double* src, long double* dst,
                    int n, int count, const SectionHistory& r) {
    if (!r.x1.IsZero() || !r.x2.IsZero() || !r.y1.IsZero() || !r.y2.IsZero()) return n;
    const BiquadBits& cb = c.bits[i];
    const unsigned sb0 = cb.b0.IsNegative(), sb1 = cb.b1.IsNegative(), sb2 = cb.b2.IsNegative(),
                   sa1 = cb.a1.IsNegative() ? 0u : 1u, sa2 = cb.a2.IsNegative() ? 0u : 1u;
    unsigned x1 = r.x1.IsNegative(), x2 = r.x2.IsNegative(), y1 = r.y1.IsNegative(),
             y2 = r.y2.IsNegative();
    int m = n;
    while (m < count) {
        const TExtendedBits xb = BitsAt(src[m]);
        if (!xb.IsZero()) break;
        const unsigned x = xb.IsNegative();
        const unsigned y = (sb0 ^ x) & (sb1 ^ x1) & (sb2 ^ x2) & (sa1 ^ y1) & (sa2 ^ y2);
        SetBits(dst[m++], {0, static_cast<std::uint16_t>(y << 15)});
        x2 = x1, x1 = x, y2 = y1, y1 = y;
    }
    return m;
}

// Section i absorbing small inputs (see Absorbed) from sample n: its inputs of exponent field 0
// below 2^62 units, its last output at or above 2^(absorbing − 16383) and the one before a zero
// or safe. The three feed-forward products, below 2^(eB − 16380) together (eB the largest of
// their coefficients' binary exponents), are then below a quarter of the spacing at a1·y1 (at
// least 2^(eA1 + absorbing − 16383), absorbing ≥ eB − eA1 + 69), so the sum is −a1·y1 − a2·y2
// on the x87 from safe operands. The output below the bound (or a zero) is the last it makes.
// Returns the sample it stopped at.
int SectionAbsorbingRun(const CascadeCoefficients& c, int i, const long double* src,
                        long double* dst, int n, int count, const SectionHistory& r) {
    const unsigned absorbing = c.absorbing[i];
    const auto small = [](TExtendedBits b) { return b.Exponent() == 0 && (b.mantissa >> 62) == 0; };
    if (absorbing == 0 || !small(r.x1) || !small(r.x2) || r.y1.mantissa == 0 ||
        static_cast<unsigned>(r.y1.Exponent()) < absorbing || !SafeBits(r.y2, c.limit[i]))
        return n;
    const long double co[2] = {-c.values[i].A1, -c.values[i].A2};
#if defined(__x86_64__) && defined(__GNUC__)
    double split[4]; // as in SectionSafeRun
    if (!SplitCoefficient(co[0], split) || !SplitCoefficient(co[1], split + 2)) return n;
#endif
    long double hs[3] = {LoadBits(r.y1), LoadBits(r.y2),
                         LoadBits({std::uint64_t{1} << 63, static_cast<std::uint16_t>(absorbing)})};
#if defined(__x86_64__) && defined(__GNUC__)
    // As SectionSafeRun's loop: A is y1 y2 bound, B y2 y1 bound; the inputs are not loaded.
    const long double* p = src + n;
    long double* o = dst + n;
    std::uint64_t t1;
    std::uint32_t t2;
    __asm__ volatile("fldt 32(%[hs])\n\t"
                     "fldt 16(%[hs])\n\t"
                     "fldt (%[hs])\n\t"
                     ".p2align 4\n"
                     "1:\n\t" // A
                     "cmp %[end], %[p]\n\t"
                     "jae 8f\n\t"
                     "movzwl 8(%[p]), %[t2]\n\t"
                     "mov (%[p]), %[t1]\n\t"
                     "shr $62, %[t1]\n\t"
                     "and $0x7fff, %[t2]\n\t"
                     "or %k[t1], %[t2]\n\t"
                     "jnz 8f\n\t"
                     "fldl (%[co])\n\t"
                     "faddl 8(%[co])\n\t"
                     "fmul %%st(1), %%st\n\t"
                     "fldl 16(%[co])\n\t"
                     "faddl 24(%[co])\n\t"
                     "fmul %%st(3), %%st\n\t"
                     "faddp\n\t"
                     "fld %%st(0)\n\t"
                     "fstpt (%[o])\n\t"
                     "fld %%st(0)\n\t"
                     "fabs\n\t"
                     "fcomip %%st(4), %%st\n\t"
                     "fstp %%st(2)\n\t"
                     "lea 16(%[p]), %[p]\n\t"
                     "lea 16(%[o]), %[o]\n\t"
                     "jb 9f\n"
                     // B
                     "cmp %[end], %[p]\n\t"
                     "jae 9f\n\t"
                     "movzwl 8(%[p]), %[t2]\n\t"
                     "mov (%[p]), %[t1]\n\t"
                     "shr $62, %[t1]\n\t"
                     "and $0x7fff, %[t2]\n\t"
                     "or %k[t1], %[t2]\n\t"
                     "jnz 9f\n\t"
                     "fldl (%[co])\n\t"
                     "faddl 8(%[co])\n\t"
                     "fmul %%st(2), %%st\n\t"
                     "fldl 16(%[co])\n\t"
                     "faddl 24(%[co])\n\t"
                     "fmul %%st(2), %%st\n\t"
                     "faddp\n\t"
                     "fld %%st(0)\n\t"
                     "fstpt (%[o])\n\t"
                     "fld %%st(0)\n\t"
                     "fabs\n\t"
                     "fcomip %%st(4), %%st\n\t"
                     "fstp %%st(1)\n\t"
                     "lea 16(%[p]), %[p]\n\t"
                     "lea 16(%[o]), %[o]\n\t"
                     "jae 1b\n"
                     "8:\n"
                     "9:\n\t"
                     "fstp %%st(0)\n\t"
                     "fstp %%st(0)\n\t"
                     "fstp %%st(0)"
                     : [p] "+r"(p), [o] "+r"(o), [t1] "=&r"(t1), [t2] "=&r"(t2)
                     : [end] "r"(src + count), [co] "r"(split), [hs] "r"(hs)
                     : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)",
                       "st(7)");
    return static_cast<int>(p - src);
#else
    const long double bound = hs[2];
    long double y1 = hs[0], y2 = hs[1];
    int m = n;
    while (m < count) {
        if (!AbsorbedInput(ToBits(src[m]))) break;
        const long double y = co[0] * y1 + co[1] * y2;
        dst[m++] = y;
        y2 = y1, y1 = y;
        if (!(std::fabs(y) >= bound)) break; // a zero too
    }
    return m;
#endif
}

#if defined(__SIZEOF_INT128__)
// Sections a..a+K−1 of a chunk sample-major in whole units (SectionsUnitsRun's loop without its
// cycle search): src holds section a's inputs, dst takes section a+K−1's outputs, from sample 0
// while each input is a zero, each section has a nonzero product (its zero sum then +0) and each
// output lies below its pair's bound (PairBits over sections up to a+K: each product below 2^58
// units, each sum of five below 2^62, exact), the histories h (bits, pairs a..a+K) kept in step.
// Section a's input history is zeros (UnitSections). Returns the sample it stopped at.
template <int K>
int SectionsUnitsChunk(const CascadeCoefficients& c, TExtendedBits (*h)[2], int a,
                       const long double* src, long double* dst, int count) {
    UnitCascade<K> u(c, a, h + a);
    std::int64_t *h0 = u.h0, *h1 = u.h1;
    unsigned sign0 = h[a][0].IsNegative(), sign1 = h[a][1].IsNegative();
    // The search for a cycle of the sections' outputs (Brent's: the reference moves on at each
    // power of two). The inputs are zeros, whose signs change no sum with a nonzero term, so
    // where the outputs come again the samples repeat with that period.
    std::int64_t r0[K], r1[K];
    for (int j = 0; j < K; ++j)
        r0[j] = h0[j + 1], r1[j] = h1[j + 1];
    int power = 1, lambda = 0;
    int n = 0;
    for (; n < count; ++n) {
        const TExtendedBits xb = BitsAt(src[n]);
        if (xb.mantissa != 0) break;
        std::int64_t y[K];
        if (!u.Step(n, y)) break;
        sign1 = sign0, sign0 = xb.IsNegative();
        SetBits(dst[n], UnitBits(y[K - 1]));
        ++lambda;
        bool same = true;
#pragma GCC unroll 8
        for (int j = 0; j < K; ++j)
            same = same & (r0[j] == h0[j + 1]) & (r1[j] == h1[j + 1]);
        if (same) {
            // Whole periods of zeros from n + 1 on: their outputs copied, the histories then
            // as they are now; the rest of the chunk runs on without the search.
            // (src may be dst: each period's inputs are read before its outputs are stored.)
            int end = n + 1;
            while (end + lambda <= count) {
                unsigned s0 = sign0, s1 = sign1;
                int j = end;
                for (; j < end + lambda; ++j) {
                    const TExtendedBits zero = BitsAt(src[j]);
                    if (zero.mantissa != 0) break;
                    s1 = s0, s0 = zero.IsNegative();
                }
                if (j < end + lambda) break;
                for (j = end; j < end + lambda; ++j)
                    std::memcpy(&dst[j], &dst[j - lambda], sizeof(long double));
                sign0 = s0, sign1 = s1;
                end += lambda;
            }
            n = end - 1;
            power = count; // no search after this
            lambda = 0;
            u.StopLead(); // the copied samples are not in its rings
        } else if (lambda == power) {
            for (int j = 0; j < K; ++j)
                r0[j] = h0[j + 1], r1[j] = h1[j + 1];
            power *= 2, lambda = 0;
        }
    }
    if (n == 0) return 0;
    // A value from before stays its bits while it is in the window (a zero keeps its sign).
    h[a][1] = {0, static_cast<std::uint16_t>(sign1 << 15)};
    h[a][0] = {0, static_cast<std::uint16_t>(sign0 << 15)};
    for (int j = 1; j <= K; ++j) {
        h[a + j][1] = n >= 2 ? UnitBits(h1[j]) : h[a + j][0];
        h[a + j][0] = UnitBits(h0[j]);
    }
    return n;
}

using SectionsUnitsChunkRoutine = int (*)(const CascadeCoefficients&, TExtendedBits (*)[2], int,
                                          const long double*, long double*, int);

template <int... K>
SectionsUnitsChunkRoutine SelectSectionsUnitsChunk(int k, std::integer_sequence<int, K...>) {
    constexpr SectionsUnitsChunkRoutine table[] = {&SectionsUnitsChunk<K + 1>...};
    return table[k - 1];
}

// The sections a..b−1 (b returned; b ≤ a + 1 where the sample-major run would not pay) a chunk
// runs in whole units sample-major (SectionsUnitsChunk): a the first section behind those whose
// histories are all zeros (ZeroSections; SectionZerosRun runs those), its input history zeros,
// and each section from a on with fast products (fastBits) and its histories of exponent field 0
// below the bounds of the sections that multiply them (the last pair below its own section's).
int UnitSections(int k, const CascadeCoefficients& c, const TExtendedBits (*h)[2], int& a) {
    a = ZeroSections(k, h);
    if (!h[a][0].IsZero() || !h[a][1].IsZero()) return a;
    const auto fits = [](TExtendedBits v, int bits) {
        return v.Exponent() == 0 && (v.mantissa >> bits) == 0;
    };
    int b = a;
    while (b < k) {
        const int bits = c.fastBits[b];
        if (bits == 0 || !fits(h[b + 1][0], bits) || !fits(h[b + 1][1], bits)) break;
        if (b > a && (!fits(h[b][0], bits) || !fits(h[b][1], bits))) break;
        ++b;
    }
    return b;
}
#endif

// Put for a value in memory, its bits read by BitsAt; below the buffer's normal range but not far
// below it (a subnormal of the buffer's type, or its smallest normal by rounding up), the
// significand shifted to units of the type's smallest subnormal and rounded to nearest even, as
// NarrowedFloatBits and NarrowedDoubleBits do it, inline.
template <typename T> inline void PutStored(const long double& y, T& out) {
    const TExtendedBits b = BitsAt(y);
    if constexpr (std::is_same_v<T, long double>) {
        SetBits(out, b);
    } else {
        using Word = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
        // The normal range, the far-below bound (PutBits') and the exponent field at which the
        // significand's unit is the smallest subnormal (16383 + 63 − 149, 16383 + 63 − 1074).
        constexpr int least = sizeof(T) == 4 ? 126 : 1022, most = sizeof(T) == 4 ? 127 : 1023,
                      far = sizeof(T) == 4 ? 200 : 1100, unit = sizeof(T) == 4 ? 16297 : 15372;
        const int e = b.Exponent();
        if (e >= kBias - least && e <= kBias + most) {
            out = static_cast<T>(y);
        } else if (e >= kBias - far && e < kBias - least) {
            const int s = unit - e; // at least 64 − 23 (float), 64 − 52 (double)
            std::uint64_t q = 0;
            if (s <= 64) { // (further down, below half a unit: a zero)
                const std::uint64_t rest = s == 64 ? b.mantissa
                                                   : b.mantissa & ((std::uint64_t{1} << s) - 1),
                                    half = std::uint64_t{1} << (s - 1);
                if (rest == half) { // a tie: the general narrowing
                    PutBits(b, out);
                    return;
                }
                q = (s == 64 ? 0 : b.mantissa >> s) + (rest > half ? 1 : 0);
            }
            const Word bits =
                static_cast<Word>(q) | (static_cast<Word>(b.IsNegative()) << (sizeof(T) * 8 - 1));
            std::memcpy(&out, &bits, sizeof out);
        } else {
            PutBits(b, out);
        }
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// The loops of LeadingSectionsRun, K sections (one or two) from o to end, the histories in the
// x87's registers, two samples a turn with the stack in two orders (see SectionSafeRun): A is
// y1 y2 (and z1 z2, the second section's outputs), B y2 y1 (z2 z1). co: the first section's −a1,
// −a2, then the second's b0, b1, b2, −a1, −a2, each as hi + lo; hs: y1 y2 z1 z2, loaded and
// stored back; b: the bounds of the last section's output (below the first or at or above the
// second: not taken), then the safe bound (the first section's output where there are two). A
// sample whose check fails is not taken. Direct: each output stored to the buffer, nm nonzero by
// the x87 (b then the buffer's normal range: no underflow), else as the zero of its sign (b the
// safe bound and the bound far below the buffer's range); the last two inputs' bits kept in s0, s1
// (in may be out: each is read before its output is stored; d the distance from out to in). Returns
// where o stopped.
template <int K, typename T, typename Word>
T* LeadingDirectLoop(T* o, T* end, std::intptr_t d, const double* co, long double* hs,
                     const long double* b, const long double* cb, unsigned nm, Word& s0, Word& s1) {
    Word v;
    unsigned char f1, f2;
    if constexpr (K == 1) {
        // All in registers: A is y1 y2 lo hi −a1 −a2, B y2 y1 lo hi −a1 −a2 (cb: −a1, −a2).
        __asm__ volatile("fldt 16(%[cb])\n\t"
                         "fldt (%[cb])\n\t"
                         "fldt 16(%[b])\n\t"
                         "fldt (%[b])\n\t"
                         "fldt 16(%[hs])\n\t"
                         "fldt (%[hs])\n\t"
                         ".p2align 4\n"
                         "1:\n\t"
                         "cmp %[end], %[o]\n\t"
                         "jae 7f\n\t"
                         "fld %%st(4)\n\t"
                         "fmul %%st(1), %%st\n\t"
                         "fld %%st(6)\n\t"
                         "fmul %%st(3), %%st\n\t"
                         "faddp\n\t"
                         "fld %%st(0)\n\t"
                         "fabs\n\t"
                         "fcomi %%st(4), %%st\n\t"
                         "setb %[f1]\n\t"
                         "fcomip %%st(5), %%st\n\t"
                         "setae %[f2]\n\t"
                         "or %[f1], %[f2]\n\t"
                         "jnz 5f\n\t"
                         "mov %[s0], %[s1]\n\t"
                         "mov (%[o],%[d]), %[s0]\n\t"
                         "cmpl $0, %[nm]\n\t"
                         "jz 10f\n\t"
                         ".if %c[step] == 4\n\t"
                         "fsts (%[o])\n\t"
                         ".else\n\t"
                         "fstl (%[o])\n\t"
                         ".endif\n\t"
                         "jmp 11f\n\t"
                         "10:\n\t"
                         "fldz\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "setae %b[v]\n\t"
                         "movzbl %b[v], %k[v]\n\t"
                         "shl %[sh], %[v]\n\t"
                         "mov %[v], (%[o])\n\t"
                         "11:\n\t"
                         "add %[step], %[o]\n\t"
                         "fstp %%st(2)\n\t"
                         "cmp %[end], %[o]\n\t"
                         "jae 8f\n\t"
                         "fld %%st(4)\n\t"
                         "fmul %%st(2), %%st\n\t"
                         "fld %%st(6)\n\t"
                         "fmul %%st(2), %%st\n\t"
                         "faddp\n\t"
                         "fld %%st(0)\n\t"
                         "fabs\n\t"
                         "fcomi %%st(4), %%st\n\t"
                         "setb %[f1]\n\t"
                         "fcomip %%st(5), %%st\n\t"
                         "setae %[f2]\n\t"
                         "or %[f1], %[f2]\n\t"
                         "jnz 6f\n\t"
                         "mov %[s0], %[s1]\n\t"
                         "mov (%[o],%[d]), %[s0]\n\t"
                         "cmpl $0, %[nm]\n\t"
                         "jz 12f\n\t"
                         ".if %c[step] == 4\n\t"
                         "fsts (%[o])\n\t"
                         ".else\n\t"
                         "fstl (%[o])\n\t"
                         ".endif\n\t"
                         "jmp 13f\n\t"
                         "12:\n\t"
                         "fldz\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "setae %b[v]\n\t"
                         "movzbl %b[v], %k[v]\n\t"
                         "shl %[sh], %[v]\n\t"
                         "mov %[v], (%[o])\n\t"
                         "13:\n\t"
                         "add %[step], %[o]\n\t"
                         "fstp %%st(1)\n\t"
                         "jmp 1b\n\t"
                         "5:\n\t"
                         "fstp %%st(0)\n\t"
                         "7:\n\t"
                         "fstpt (%[hs])\n\t"
                         "fstpt 16(%[hs])\n\t"
                         "jmp 9f\n\t"
                         "6:\n\t"
                         "fstp %%st(0)\n\t"
                         "8:\n\t"
                         "fstpt 16(%[hs])\n\t"
                         "fstpt (%[hs])\n\t"
                         "9:\n\t"
                         "fstp %%st(0)\n\t"
                         "fstp %%st(0)\n\t"
                         "fstp %%st(0)\n\t"
                         "fstp %%st(0)"

                         : [o] "+r"(o), [v] "=&q"(v), [f1] "=&q"(f1), [f2] "=&q"(f2), [s0] "+r"(s0),
                           [s1] "+r"(s1)
                         : [nm] "m"(nm), [end] "r"(end), [d] "r"(d), [cb] "r"(cb), [hs] "r"(hs),
                           [b] "r"(b), [sh] "i"(sizeof(T) * 8 - 1), [step] "i"(sizeof(T))
                         : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)",
                           "st(6)", "st(7)");
    } else {
        __asm__ volatile("fldt 48(%[hs])\n\t"
                         "fldt 32(%[hs])\n\t"
                         "fldt 16(%[hs])\n\t"
                         "fldt 0(%[hs])\n\t"
                         ".p2align 4\n"
                         "1:\n\t"
                         "cmp %[end], %[o]\n\t"
                         "jae 7f\n\t"
                         "fldl 0(%[co])\n\t"
                         "faddl 8(%[co])\n\t"
                         "fmul %%st(1), %%st\n\t"
                         "fldl 16(%[co])\n\t"
                         "faddl 24(%[co])\n\t"
                         "fmul %%st(3), %%st\n\t"
                         "faddp\n\t"
                         "fld %%st(0)\n\t"
                         "fabs\n\t"
                         "fldt 32(%[b])\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "fstp %%st(0)\n\t"
                         "ja 5f\n\t"
                         "fldl 32(%[co])\n\t"
                         "faddl 40(%[co])\n\t"
                         "fmul %%st(1), %%st\n\t"
                         "fldl 48(%[co])\n\t"
                         "faddl 56(%[co])\n\t"
                         "fmul %%st(3), %%st\n\t"
                         "faddp\n\t"
                         "fldl 64(%[co])\n\t"
                         "faddl 72(%[co])\n\t"
                         "fmul %%st(4), %%st\n\t"
                         "faddp\n\t"
                         "fldl 80(%[co])\n\t"
                         "faddl 88(%[co])\n\t"
                         "fmul %%st(5), %%st\n\t"
                         "faddp\n\t"
                         "fldl 96(%[co])\n\t"
                         "faddl 104(%[co])\n\t"
                         "fmul %%st(6), %%st\n\t"
                         "faddp\n\t"
                         "fld %%st(0)\n\t"
                         "fabs\n\t"
                         "fldt (%[b])\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "seta %[f1]\n\t"
                         "fldt 16(%[b])\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "setbe %[f2]\n\t"
                         "fstp %%st(0)\n\t"
                         "or %[f1], %[f2]\n\t"
                         "jnz 3f\n\t"
                         "mov %[s0], %[s1]\n\t"
                         "mov (%[o],%[d]), %[s0]\n\t"
                         "cmpl $0, %[nm]\n\t"
                         "jz 10f\n\t"
                         ".if %c[step] == 4\n\t"
                         "fsts (%[o])\n\t"
                         ".else\n\t"
                         "fstl (%[o])\n\t"
                         ".endif\n\t"
                         "jmp 11f\n\t"
                         "10:\n\t"
                         "fldz\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "setae %b[v]\n\t"
                         "movzbl %b[v], %k[v]\n\t"
                         "shl %[sh], %[v]\n\t"
                         "mov %[v], (%[o])\n\t"
                         "11:\n\t"
                         "add %[step], %[o]\n\t"
                         "fstp %%st(5)\n\t"
                         "fstp %%st(2)\n\t"
                         "cmp %[end], %[o]\n\t"
                         "jae 8f\n\t"
                         "fldl 0(%[co])\n\t"
                         "faddl 8(%[co])\n\t"
                         "fmul %%st(2), %%st\n\t"
                         "fldl 16(%[co])\n\t"
                         "faddl 24(%[co])\n\t"
                         "fmul %%st(2), %%st\n\t"
                         "faddp\n\t"
                         "fld %%st(0)\n\t"
                         "fabs\n\t"
                         "fldt 32(%[b])\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "fstp %%st(0)\n\t"
                         "ja 6f\n\t"
                         "fldl 32(%[co])\n\t"
                         "faddl 40(%[co])\n\t"
                         "fmul %%st(1), %%st\n\t"
                         "fldl 48(%[co])\n\t"
                         "faddl 56(%[co])\n\t"
                         "fmul %%st(4), %%st\n\t"
                         "faddp\n\t"
                         "fldl 64(%[co])\n\t"
                         "faddl 72(%[co])\n\t"
                         "fmul %%st(3), %%st\n\t"
                         "faddp\n\t"
                         "fldl 80(%[co])\n\t"
                         "faddl 88(%[co])\n\t"
                         "fmul %%st(6), %%st\n\t"
                         "faddp\n\t"
                         "fldl 96(%[co])\n\t"
                         "faddl 104(%[co])\n\t"
                         "fmul %%st(5), %%st\n\t"
                         "faddp\n\t"
                         "fld %%st(0)\n\t"
                         "fabs\n\t"
                         "fldt (%[b])\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "seta %[f1]\n\t"
                         "fldt 16(%[b])\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "setbe %[f2]\n\t"
                         "fstp %%st(0)\n\t"
                         "or %[f1], %[f2]\n\t"
                         "jnz 4f\n\t"
                         "mov %[s0], %[s1]\n\t"
                         "mov (%[o],%[d]), %[s0]\n\t"
                         "cmpl $0, %[nm]\n\t"
                         "jz 12f\n\t"
                         ".if %c[step] == 4\n\t"
                         "fsts (%[o])\n\t"
                         ".else\n\t"
                         "fstl (%[o])\n\t"
                         ".endif\n\t"
                         "jmp 13f\n\t"
                         "12:\n\t"
                         "fldz\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "setae %b[v]\n\t"
                         "movzbl %b[v], %k[v]\n\t"
                         "shl %[sh], %[v]\n\t"
                         "mov %[v], (%[o])\n\t"
                         "13:\n\t"
                         "add %[step], %[o]\n\t"
                         "fstp %%st(4)\n\t"
                         "fstp %%st(1)\n\t"
                         "jmp 1b\n\t"
                         "3:\n\t"
                         "fstp %%st(0)\n\t"
                         "5:\n\t"
                         "fstp %%st(0)\n\t"
                         "7:\n\t"
                         "fstpt 0(%[hs])\n\t"
                         "fstpt 16(%[hs])\n\t"
                         "fstpt 32(%[hs])\n\t"
                         "fstpt 48(%[hs])\n\t"
                         "jmp 9f\n\t"
                         "4:\n\t"
                         "fstp %%st(0)\n\t"
                         "6:\n\t"
                         "fstp %%st(0)\n\t"
                         "8:\n\t"
                         "fstpt 16(%[hs])\n\t"
                         "fstpt 0(%[hs])\n\t"
                         "fstpt 48(%[hs])\n\t"
                         "fstpt 32(%[hs])\n\t"
                         "9:"
                         : [o] "+r"(o), [v] "=&q"(v), [f1] "=&q"(f1), [f2] "=&q"(f2), [s0] "+r"(s0),
                           [s1] "+r"(s1)
                         : [nm] "m"(nm), [end] "r"(end), [d] "r"(d), [co] "r"(co), [hs] "r"(hs),
                           [b] "r"(b), [sh] "i"(sizeof(T) * 8 - 1), [step] "i"(sizeof(T))
                         : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)",
                           "st(6)", "st(7)");
    }
    return o;
}

// As LeadingDirectLoop, each output stored as its 80 bits (the caller narrows them).
template <int K>
long double* LeadingStoreLoop(long double* o, long double* end, const double* co, long double* hs,
                              const long double* b) {
    if constexpr (K == 1) {
        __asm__ volatile("fldt 16(%[hs])\n\t"
                         "fldt 0(%[hs])\n\t"
                         ".p2align 4\n"
                         "1:\n\t"
                         "cmp %[end], %[o]\n\t"
                         "jae 7f\n\t"
                         "fldl 0(%[co])\n\t"
                         "faddl 8(%[co])\n\t"
                         "fmul %%st(1), %%st\n\t"
                         "fldl 16(%[co])\n\t"
                         "faddl 24(%[co])\n\t"
                         "fmul %%st(3), %%st\n\t"
                         "faddp\n\t"
                         "fld %%st(0)\n\t"
                         "fabs\n\t"
                         "fldt 32(%[b])\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "fstp %%st(0)\n\t"
                         "ja 5f\n\t"
                         "fld %%st(0)\n\t"
                         "fstpt (%[o])\n\t"
                         "lea 16(%[o]), %[o]\n\t"
                         "fstp %%st(2)\n\t"
                         "cmp %[end], %[o]\n\t"
                         "jae 8f\n\t"
                         "fldl 0(%[co])\n\t"
                         "faddl 8(%[co])\n\t"
                         "fmul %%st(2), %%st\n\t"
                         "fldl 16(%[co])\n\t"
                         "faddl 24(%[co])\n\t"
                         "fmul %%st(2), %%st\n\t"
                         "faddp\n\t"
                         "fld %%st(0)\n\t"
                         "fabs\n\t"
                         "fldt 32(%[b])\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "fstp %%st(0)\n\t"
                         "ja 6f\n\t"
                         "fld %%st(0)\n\t"
                         "fstpt (%[o])\n\t"
                         "lea 16(%[o]), %[o]\n\t"
                         "fstp %%st(1)\n\t"
                         "jmp 1b\n\t"
                         "5:\n\t"
                         "fstp %%st(0)\n\t"
                         "7:\n\t"
                         "fstpt 0(%[hs])\n\t"
                         "fstpt 16(%[hs])\n\t"
                         "jmp 9f\n\t"
                         "6:\n\t"
                         "fstp %%st(0)\n\t"
                         "8:\n\t"
                         "fstpt 16(%[hs])\n\t"
                         "fstpt 0(%[hs])\n\t"
                         "9:"
                         : [o] "+r"(o)
                         : [end] "r"(end), [co] "r"(co), [hs] "r"(hs), [b] "r"(b)
                         : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)",
                           "st(6)", "st(7)");
    } else {
        __asm__ volatile("fldt 48(%[hs])\n\t"
                         "fldt 32(%[hs])\n\t"
                         "fldt 16(%[hs])\n\t"
                         "fldt 0(%[hs])\n\t"
                         ".p2align 4\n"
                         "1:\n\t"
                         "cmp %[end], %[o]\n\t"
                         "jae 7f\n\t"
                         "fldl 0(%[co])\n\t"
                         "faddl 8(%[co])\n\t"
                         "fmul %%st(1), %%st\n\t"
                         "fldl 16(%[co])\n\t"
                         "faddl 24(%[co])\n\t"
                         "fmul %%st(3), %%st\n\t"
                         "faddp\n\t"
                         "fld %%st(0)\n\t"
                         "fabs\n\t"
                         "fldt 32(%[b])\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "fstp %%st(0)\n\t"
                         "ja 5f\n\t"
                         "fldl 32(%[co])\n\t"
                         "faddl 40(%[co])\n\t"
                         "fmul %%st(1), %%st\n\t"
                         "fldl 48(%[co])\n\t"
                         "faddl 56(%[co])\n\t"
                         "fmul %%st(3), %%st\n\t"
                         "faddp\n\t"
                         "fldl 64(%[co])\n\t"
                         "faddl 72(%[co])\n\t"
                         "fmul %%st(4), %%st\n\t"
                         "faddp\n\t"
                         "fldl 80(%[co])\n\t"
                         "faddl 88(%[co])\n\t"
                         "fmul %%st(5), %%st\n\t"
                         "faddp\n\t"
                         "fldl 96(%[co])\n\t"
                         "faddl 104(%[co])\n\t"
                         "fmul %%st(6), %%st\n\t"
                         "faddp\n\t"
                         "fld %%st(0)\n\t"
                         "fabs\n\t"
                         "fldt 32(%[b])\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "fstp %%st(0)\n\t"
                         "ja 3f\n\t"
                         "fld %%st(0)\n\t"
                         "fstpt (%[o])\n\t"
                         "lea 16(%[o]), %[o]\n\t"
                         "fstp %%st(5)\n\t"
                         "fstp %%st(2)\n\t"
                         "cmp %[end], %[o]\n\t"
                         "jae 8f\n\t"
                         "fldl 0(%[co])\n\t"
                         "faddl 8(%[co])\n\t"
                         "fmul %%st(2), %%st\n\t"
                         "fldl 16(%[co])\n\t"
                         "faddl 24(%[co])\n\t"
                         "fmul %%st(2), %%st\n\t"
                         "faddp\n\t"
                         "fld %%st(0)\n\t"
                         "fabs\n\t"
                         "fldt 32(%[b])\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "fstp %%st(0)\n\t"
                         "ja 6f\n\t"
                         "fldl 32(%[co])\n\t"
                         "faddl 40(%[co])\n\t"
                         "fmul %%st(1), %%st\n\t"
                         "fldl 48(%[co])\n\t"
                         "faddl 56(%[co])\n\t"
                         "fmul %%st(4), %%st\n\t"
                         "faddp\n\t"
                         "fldl 64(%[co])\n\t"
                         "faddl 72(%[co])\n\t"
                         "fmul %%st(3), %%st\n\t"
                         "faddp\n\t"
                         "fldl 80(%[co])\n\t"
                         "faddl 88(%[co])\n\t"
                         "fmul %%st(6), %%st\n\t"
                         "faddp\n\t"
                         "fldl 96(%[co])\n\t"
                         "faddl 104(%[co])\n\t"
                         "fmul %%st(5), %%st\n\t"
                         "faddp\n\t"
                         "fld %%st(0)\n\t"
                         "fabs\n\t"
                         "fldt 32(%[b])\n\t"
                         "fcomip %%st(1), %%st\n\t"
                         "fstp %%st(0)\n\t"
                         "ja 4f\n\t"
                         "fld %%st(0)\n\t"
                         "fstpt (%[o])\n\t"
                         "lea 16(%[o]), %[o]\n\t"
                         "fstp %%st(4)\n\t"
                         "fstp %%st(1)\n\t"
                         "jmp 1b\n\t"
                         "3:\n\t"
                         "fstp %%st(0)\n\t"
                         "5:\n\t"
                         "fstp %%st(0)\n\t"
                         "7:\n\t"
                         "fstpt 0(%[hs])\n\t"
                         "fstpt 16(%[hs])\n\t"
                         "fstpt 32(%[hs])\n\t"
                         "fstpt 48(%[hs])\n\t"
                         "jmp 9f\n\t"
                         "4:\n\t"
                         "fstp %%st(0)\n\t"
                         "6:\n\t"
                         "fstp %%st(0)\n\t"
                         "8:\n\t"
                         "fstpt 16(%[hs])\n\t"
                         "fstpt 0(%[hs])\n\t"
                         "fstpt 48(%[hs])\n\t"
                         "fstpt 32(%[hs])\n\t"
                         "9:"
                         : [o] "+r"(o)
                         : [end] "r"(end), [co] "r"(co), [hs] "r"(hs), [b] "r"(b)
                         : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)",
                           "st(6)", "st(7)");
    }
    return o;
}

// One or two sections (the whole cascade) on a block of zeros, while the first section's input
// history is zeros and every output is safe and not a zero (at or above the sections' larger
// bound). A zero input makes the first section's feed-forward sum a zero, which leaves
// −a1·y1 − a2·y2 as it is where that is not a zero: the first section is (−a1)·y1 + (−a2)·y2,
// the same bits; the second runs its whole sum. Both on the x87 with the histories in its
// registers: where the last output lies in the buffer's normal range, each output is stored by
// the x87; where it lies far below it, as the zero of its sign (LeadingDirectLoop); between, the
// outputs go through an 80-bit buffer and PutStored, a chunk at a time (LeadingStoreLoop).
// Returns the sample it stopped at. f: the sections are the cascade's f and f + 1 (h is theirs).
template <typename T>
int LeadingSectionsRun(int k, const CascadeCoefficients& c, TExtendedBits (*h)[2], const T* in,
                       T* out, int at, int count, int f = 0) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8, "float or double outputs");
    if (k > 2 || count <= at || !h[0][0].IsZero() || !h[0][1].IsZero()) return at;
    const unsigned limit = k == 2 && c.limit[f + 1] > c.limit[f] ? c.limit[f + 1] : c.limit[f];
    for (int j = 1; j <= k; ++j)
        if (!SafeBits(h[j][0], limit) || !SafeBits(h[j][1], limit)) return at;
    if (h[1][0].IsZero() && h[1][1].IsZero()) return at;
    double co[14];
    const TdspBiquad& q0 = c.values[f];
    const long double cb[2] = {-q0.A1, -q0.A2};
    if (!SplitCoefficient(-q0.A1, co) || !SplitCoefficient(-q0.A2, co + 2)) return at;
    if (k == 2) {
        const TdspBiquad& q1 = c.values[f + 1];
        const long double v[5] = {q1.B0, q1.B1, q1.B2, -q1.A1, -q1.A2};
        for (int t = 0; t < 5; ++t)
            if (!SplitCoefficient(v[t], co + 4 + 2 * t)) return at;
    }
    // The buffer's normal range [2^-least, 2^(most + 1)) and far-below bound (as PutBits).
    constexpr unsigned least = sizeof(T) == 4 ? 126 : 1022, most = sizeof(T) == 4 ? 127 : 1023,
                       far = kBias - (sizeof(T) == 4 ? 200 : 1100);
    const auto power = [](unsigned field) {
        return LoadBits({std::uint64_t{1} << 63, static_cast<std::uint16_t>(field)});
    };
    const long double safe = power(limit + 1);
    const long double normalBounds[3] = {power(kBias - least), power(kBias + most + 1), safe},
                      farBounds[3] = {safe, power(far), safe};
    long double hs[4] = {LoadBits(h[1][0]), LoadBits(h[1][1]), 0.0L, 0.0L};
    if (k == 2) hs[2] = LoadBits(h[2][0]), hs[3] = LoadBits(h[2][1]);
    using Word = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    constexpr int top = sizeof(T) * 8 - 1;
    unsigned sign0 = h[0][0].IsNegative(), sign1 = h[0][1].IsNegative(); // the input history
    const std::intptr_t d = reinterpret_cast<const char*>(in) - reinterpret_cast<const char*>(out);
    int n = at;
    while (n < count) {
        int m = n;
        const unsigned e = static_cast<unsigned>(BitsAt(hs[2 * (k - 1)]).Exponent());
        const bool normal = e >= kBias - least && e <= kBias + most && limit < kBias - least;
        if (normal || e < far) {
            Word s0 = 0, s1 = 0;
            const long double* b = normal ? normalBounds : farBounds;
            const unsigned nm = normal ? 1 : 0;
            T* const o =
                k == 1 ? LeadingDirectLoop<1>(out + n, out + count, d, co, hs, b, cb, nm, s0, s1)
                       : LeadingDirectLoop<2>(out + n, out + count, d, co, hs, b, cb, nm, s0, s1);
            m = static_cast<int>(o - out);
            if (m > n) {
                sign1 = m - n >= 2 ? static_cast<unsigned>(s1 >> top) : sign0;
                sign0 = static_cast<unsigned>(s0 >> top);
            }
        }
        if (m == n) {
            long double ys[kChunk];
            const int chunk = count - n < kChunk ? count - n : kChunk;
            long double* const o = k == 1 ? LeadingStoreLoop<1>(ys, ys + chunk, co, hs, farBounds)
                                          : LeadingStoreLoop<2>(ys, ys + chunk, co, hs, farBounds);
            const int ran = static_cast<int>(o - ys);
            if (ran == 0) break;
            m = n + ran;
            sign1 = ran >= 2 ? SignOf(in[m - 2]) : sign0; // read before the outputs (in may be out)
            sign0 = SignOf(in[m - 1]);
            for (int j = 0; j < ran; ++j)
                PutStored(ys[j], out[n + j]);
        }
        n = m;
    }
    if (n == at) return at;
    h[0][0] = {0, static_cast<std::uint16_t>(sign0 << 15)};
    h[0][1] = {0, static_cast<std::uint16_t>(sign1 << 15)};
    h[1][0] = BitsAt(hs[0]), h[1][1] = BitsAt(hs[1]);
    if (k == 2) h[2][0] = BitsAt(hs[2]), h[2][1] = BitsAt(hs[3]);
    return n;
}

// LeadingSectionsRun on the one or two sections behind d ≥ 1 leading sections whose histories are
// all zeros (ZeroSections: their outputs zeros, whose signs ZeroSectionsRun forms from the
// input's), a chunk at a time: a section decayed to rest ahead of one still ringing. Returns the
// sample it stopped at.
template <typename T>
int LeadingSectionsBehindZeros(int k, const CascadeCoefficients& c, TExtendedBits (*h)[2],
                               const T* in, T* out, int at, int count) {
    const int d = ZeroSections(k, h);
    if (d == 0 || k - d > 2) return at;
    return BehindZeroSections(
        d, c, h, in, at, count,
        [&](const T* zeros, int from, int n) {
            return LeadingSectionsRun(k - d, c, h + d, zeros, out + from, 0, n, d);
        },
        [] { return false; });
}
#endif

#if defined(__x86_64__) && defined(__GNUC__) && defined(__SIZEOF_INT128__)
// The cascade on a block of zeros, its first K sections in whole units, the next one absorbing
// their outputs (see SectionAbsorbingRun) and S − 1 (none or one) full sections behind it, run side
// by side: the first K sample-major as SectionsUnitsRun runs them (UnitCascade: its first
// section's inputs zeros, each section with some product not a zero, each output below its pair's
// bound, so below 2^62 units), only their states kept, since the sums behind them do not depend on
// them; the other S on the x87 as LeadingDirectLoop and LeadingStoreLoop run the leading sections
// (the absorbing one −a1·y1 − a2·y2 with every output at or above its absorbing bound, and safe
// for the section behind it), the outputs stored by the x87 in the buffer's normal range and as
// their zeros' signs far below it. Returns the sample it stopped at.
template <int K, int S, typename T>
int UnitsAbsorbingRun(const CascadeCoefficients& c, TExtendedBits (*h)[2], const T* in, T* out,
                      int at, int count) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8, "float or double outputs");
    static_assert(S == 1 || S == 2, "one or two sections on the x87");
    if (count <= at || !CascadeInUnits(K, c, h)) return at;
    const unsigned absorbing = c.absorbing[K];
    unsigned limit = c.limit[K]; // of the sections on the x87
    if (S == 2) limit = c.limit[K + 1] > limit ? c.limit[K + 1] : limit;
    // The absorbing section's outputs: at or above its bound, and safe behind it.
    const unsigned low = S == 2 && limit + 1 > absorbing ? limit + 1 : absorbing;
    if (absorbing == 0 || h[K + 1][0].mantissa == 0 ||
        static_cast<unsigned>(h[K + 1][0].Exponent()) < low || !SafeBits(h[K + 1][1], limit))
        return at;
    if (S == 2 && (!SafeBits(h[K + 2][0], limit) || !SafeBits(h[K + 2][1], limit))) return at;
    double co[14];
    const TdspBiquad& q = c.values[K];
    if (!SplitCoefficient(-q.A1, co) || !SplitCoefficient(-q.A2, co + 2)) return at;
    if constexpr (S == 2) {
        const TdspBiquad& r = c.values[K + 1];
        const long double v[5] = {r.B0, r.B1, r.B2, -r.A1, -r.A2};
        for (int t = 0; t < 5; ++t)
            if (!SplitCoefficient(v[t], co + 4 + 2 * t)) return at;
    }
    const long double cb[2] = {-q.A1, -q.A2};
    constexpr unsigned least = sizeof(T) == 4 ? 126 : 1022, most = sizeof(T) == 4 ? 127 : 1023,
                       far = kBias - (sizeof(T) == 4 ? 200 : 1100);
    const auto power = [](unsigned field) {
        return LoadBits({std::uint64_t{1} << 63, static_cast<std::uint16_t>(field)});
    };
    // The last section's output range, then the absorbing one's bound (S = 2); the store loop
    // holds both to the last entry.
    const unsigned last = S == 2 ? limit + 1 : low;
    const long double normalBounds[3] = {power(kBias - least), power(kBias + most + 1), power(low)},
                      farBounds[3] = {power(last), power(far), power(low)};
    long double hs[4] = {LoadBits(h[K + 1][0]), LoadBits(h[K + 1][1]), 0.0L, 0.0L};
    if (S == 2) hs[2] = LoadBits(h[K + 2][0]), hs[3] = LoadBits(h[K + 2][1]);
    UnitCascade<K> u(c, 0, h);
    using Word = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    constexpr int top = sizeof(T) * 8 - 1;
    unsigned sign0 = h[0][0].IsNegative(), sign1 = h[0][1].IsNegative(); // the input history
    const std::intptr_t d = reinterpret_cast<const char*>(in) - reinterpret_cast<const char*>(out);
    int n = at;
    while (n < count) {
        const int chunk = count - n < kChunk ? count - n : kChunk;
        std::int64_t was0[K + 1], was1[K + 1], y[K];
        std::memcpy(was0, u.h0, sizeof was0);
        std::memcpy(was1, u.h1, sizeof was1);
        int n0 = 0;
        while (n0 < chunk && u.Step(n + n0, y))
            ++n0;
        if (n0 == 0) break;
        int m = n;
        const unsigned e = static_cast<unsigned>(BitsAt(hs[2 * (S - 1)]).Exponent());
        const bool normal = e >= kBias - least && e <= kBias + most && low <= kBias - least &&
                            last <= kBias - least;
        if (normal || e < far) {
            Word s0 = 0, s1 = 0;
            const long double* bb = normal ? normalBounds : farBounds;
            T* const o = LeadingDirectLoop<S>(out + n, out + n + n0, d, co, hs, bb, cb,
                                              normal ? 1u : 0u, s0, s1);
            m = static_cast<int>(o - out);
            if (m > n) {
                sign1 = m - n >= 2 ? static_cast<unsigned>(s1 >> top) : sign0;
                sign0 = static_cast<unsigned>(s0 >> top);
            }
        }
        if (m == n) {
            long double ys[kChunk];
            const long double storeBounds[3] = {farBounds[2], farBounds[2],
                                                power(low > last ? low : last)};
            long double* const o = LeadingStoreLoop<S>(ys, ys + n0, co, hs, storeBounds);
            const int ran = static_cast<int>(o - ys);
            m = n + ran;
            if (ran > 0) {
                sign1 = ran >= 2 ? SignOf(in[m - 2]) : sign0; // read before the outputs (in may
                sign0 = SignOf(in[m - 1]);                    // be out)
                for (int j = 0; j < ran; ++j)
                    PutStored(ys[j], out[n + j]);
            }
        }
        if (m - n < n0) { // the x87's sections stopped first: the others as far as they went
            std::memcpy(u.h0, was0, sizeof was0);
            std::memcpy(u.h1, was1, sizeof was1);
            u.StopLead();
            for (int j = n; j < m; ++j)
                u.Step(j, y);
            n = m;
            break;
        }
        n = m;
    }
    if (n == at) return at;
    h[0][0] = {0, static_cast<std::uint16_t>(sign0 << 15)};
    h[0][1] = {0, static_cast<std::uint16_t>(sign1 << 15)};
    for (int j = 1; j <= K; ++j) { // a value from before stays its bits while in the window
        h[j][1] = n - at >= 2 ? UnitBits(u.h1[j]) : h[j][0];
        h[j][0] = UnitBits(u.h0[j]);
    }
    h[K + 1][0] = BitsAt(hs[0]), h[K + 1][1] = BitsAt(hs[1]);
    if (S == 2) h[K + 2][0] = BitsAt(hs[2]), h[K + 2][1] = BitsAt(hs[3]);
    return n;
}

template <int S, typename T, int... K>
int UnitsAbsorbingRun(int k, const CascadeCoefficients& c, TExtendedBits (*h)[2], const T* in,
                      T* out, int at, int count, std::integer_sequence<int, K...>) {
    using Routine =
        int (*)(const CascadeCoefficients&, TExtendedBits(*)[2], const T*, T*, int, int);
    constexpr Routine table[] = {&UnitsAbsorbingRun<K + 1, S, T>...};
    return table[k - S - 1](c, h, in, out, at, count);
}

// The first K sections in whole units and the rest (one or two) on the x87 (k ≥ 2; one section
// absorbs nothing).
template <typename T>
int UnitsAbsorbingRun(int k, const CascadeCoefficients& c, TExtendedBits (*h)[2], const T* in,
                      T* out, int at, int count) {
    int m = UnitsAbsorbingRun<1>(k, c, h, in, out, at, count,
                                 std::make_integer_sequence<int, MaxSilentSections - 1>{});
    if (m == at && k >= 3)
        m = UnitsAbsorbingRun<2>(k, c, h, in, out, at, count,
                                 std::make_integer_sequence<int, MaxSilentSections - 2>{});
    return m;
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
// The first two of three or more sections over up to `chunk` samples of zeros (in), fused as
// LeadingSectionsRun runs a pair (LeadingStoreLoop<2>: the first section's two-term form, the
// histories in the x87's registers), the second section's outputs stored to dst as their 80 bits
// for the sections behind it, while the first section's input history is zeros and both outputs
// are safe for every section that multiplies them (at or above the bound of sections 0 to 2) and
// not zeros. Moves pairs 0 to 2 of h on; returns the samples it ran (0: none).
template <typename T>
int LeadingPairChunk(const CascadeCoefficients& c, TExtendedBits (*h)[2], const T* in,
                     long double* dst, int chunk) {
    if (!h[0][0].IsZero() || !h[0][1].IsZero()) return 0;
    unsigned limit = c.limit[0];
    for (int j = 1; j <= 2; ++j)
        limit = c.limit[j] > limit ? c.limit[j] : limit;
    for (int j = 1; j <= 2; ++j)
        if (!SafeBits(h[j][0], limit) || !SafeBits(h[j][1], limit)) return 0;
    if (h[1][0].IsZero() && h[1][1].IsZero()) return 0;
    double co[14];
    const TdspBiquad &q0 = c.values[0], &q1 = c.values[1];
    const long double v[7] = {-q0.A1, -q0.A2, q1.B0, q1.B1, q1.B2, -q1.A1, -q1.A2};
    for (int t = 0; t < 7; ++t)
        if (!SplitCoefficient(v[t], co + 2 * t)) return 0;
    const long double safe =
        LoadBits({std::uint64_t{1} << 63, static_cast<std::uint16_t>(limit + 1)});
    const long double bounds[3] = {safe, safe, safe}; // (the store loop reads the last)
    long double hs[4] = {LoadBits(h[1][0]), LoadBits(h[1][1]), LoadBits(h[2][0]),
                         LoadBits(h[2][1])};
    const int ran = static_cast<int>(LeadingStoreLoop<2>(dst, dst + chunk, co, hs, bounds) - dst);
    if (ran == 0) return 0;
    h[0][1] = ran >= 2 ? TExtendedBits{0, static_cast<std::uint16_t>(SignOf(in[ran - 2]) << 15)}
                       : h[0][0];
    h[0][0] = {0, static_cast<std::uint16_t>(SignOf(in[ran - 1]) << 15)};
    h[1][0] = BitsAt(hs[0]), h[1][1] = BitsAt(hs[1]);
    h[2][0] = BitsAt(hs[2]), h[2][1] = BitsAt(hs[3]);
    return ran;
}
#endif

// Section i over samples n..chunk−1 of src into dst, each stretch on the cheapest exact path its
// operands allow, r its histories, carried along. False where a stretch took a path other than the
// zeros' and the x87's safe loop.
inline bool SectionChunk(const CascadeCoefficients& c, int i, const long double* src,
                         long double* dst, int n, int chunk, SectionHistory& r) {
    bool plain = true;
    while (n < chunk) {
        int m = SectionZerosRun(c, i, src, dst, n, chunk, r);
        if (m == n) m = SectionSafeRun(c, i, src, dst, n, chunk, r);
        if (m == n) plain = false;
        if (m == n) m = SectionCycleRun(c, i, src, dst, n, chunk, r);
#if defined(__SIZEOF_INT128__)
        if (m == n) m = SectionUnitsRun(c, i, src, dst, n, chunk, r);
#endif
        if (m == n) m = SectionAbsorbingRun(c, i, src, dst, n, chunk, r);
        if (m == n) { // none applies to this sample
            const TExtendedBits v[5] = {BitsAt(src[n]), r.x1, r.x2, r.y1, r.y2};
            TExtendedBits y;
            bool absorbed;
            SectionSample(c, i, v, y, absorbed);
            SetBits(dst[n], y);
            m = n + 1;
        }
        Advance(r, src, dst, n, m);
        n = m;
    }
    return plain;
}

// Runs the cascade of k sections a section at a time over chunks from sample `at`, the
// histories h as bits, while CascadeMixed holds (else the whole-unit loop and the cycle search
// take over); returns the sample it stopped at (at where it did not run). normal: the samples of
// the chunks that ran on the x87's safe loop and the zeros alone.
template <typename T>
int RunSectionsMixed(int k, const CascadeCoefficients& c, TExtendedBits (*h)[2], const T* in,
                     T* out, int at, int count, int& normal) {
    long double buffers[2][kChunk];
    int done = at;
    normal = 0;
    while (done < count && CascadeMixed(k, h)) {
#if defined(__x86_64__) && defined(__GNUC__)
        if constexpr (!std::is_same_v<T, long double>) { // one or two sections: their own loops
            int m = LeadingSectionsRun(k, c, h, in, out, done, count);
            if (m == done) m = LeadingSectionsBehindZeros(k, c, h, in, out, done, count);
            if (m > done) normal += m - done;
#if defined(__SIZEOF_INT128__)
            if (m == done && k >= 2)
                m = UnitsAbsorbingRun(k, c, h, in, out, done, count); // (integers)
#endif
            if (m > done) {
                done = m;
                continue;
            }
        }
#endif
        bool plain = true; // the safe loop and the zeros only
        int chunk = count - done < kChunk ? count - done : kChunk;
        long double* src = buffers[0];
        long double* dst = buffers[1];
        // Three or more sections: the first two fused where they are safe (the chunk then ends
        // where they stopped), the rest section by section behind them.
        int first = 0;
        TExtendedBits inputs[2] = {h[0][0], h[0][1]}; // section i's input history
#if defined(__x86_64__) && defined(__GNUC__)
        if (k >= 3) {
            const TExtendedBits pair[2] = {h[2][0], h[2][1]}; // section 2's, as the chunk found it
            const int ran = LeadingPairChunk(c, h, in + done, src, chunk);
            if (ran > 0) first = 2, chunk = ran, inputs[0] = pair[0], inputs[1] = pair[1];
        }
#endif
        if (first == 0)
            for (int n = 0; n < chunk; ++n) // the input's zeros (in may be out)
                SetBits(src[n], {0, static_cast<std::uint16_t>(SignOf(in[done + n]) << 15)});
        // Unit sections a..b−1 (two or more) run sample-major first; each then goes on a section
        // at a time from the sample where that stopped.
        int a = 0, b = 0, start = 0;
        TExtendedBits last[2] = {}; // pair b as the chunk found it
#if defined(__SIZEOF_INT128__)
        if (first == 0) b = UnitSections(k, c, h, a);
        // Not where section a sits at a fixed point or in a cycle of two (its inputs zeros): it
        // then runs alone, at no cost, and the sections behind it a section at a time.
        if (b - a >= 2 &&
            AtShortCycle(c, a, BitsAt(src[0]), {h[a][0], h[a][1], h[a + 1][0], h[a + 1][1]}))
            b = a;
#endif
        for (int i = first; i < k; ++i) {
#if defined(__SIZEOF_INT128__)
            if (i == a && b - a >= 2) {
                h[a][0] = inputs[0], h[a][1] = inputs[1]; // pair a as the chunk found it
                last[0] = h[b][0], last[1] = h[b][1];
                start = SelectSectionsUnitsChunk(
                    b - a, std::make_integer_sequence<int, MaxSilentSections>{})(
                    c, h, a, src, buffers[b % 2], chunk);
                inputs[0] = h[a][0], inputs[1] = h[a][1];
                plain = plain && start == 0;
            }
#endif
            SectionHistory r = {inputs[0], inputs[1], h[i + 1][0], h[i + 1][1]};
            inputs[0] = h[i + 1][0], inputs[1] = h[i + 1][1];
            if (i + 1 == b && b - a >= 2) // section b runs the chunk from its first sample
                inputs[0] = last[0], inputs[1] = last[1];
            plain = SectionChunk(c, i, src, dst, i >= a && i < b ? start : 0, chunk, r) && plain;
            h[i][0] = r.x1, h[i][1] = r.x2;
            h[i + 1][0] = r.y1, h[i + 1][1] = r.y2;
            std::swap(src, dst);
        }
        for (int n = 0; n < chunk; ++n)
            PutStored(src[n], out[done + n]);
        done += chunk;
        normal += plain ? chunk : 0;
    }
    return done;
}

bool SectionsSafe(int k, long double (*hist)[2], unsigned limit) {
    for (int i = 0; i <= k; ++i)
        if (Unsafe(hist[i][0], limit) || Unsafe(hist[i][1], limit)) return false;
    return true;
}

template <typename T>
bool SilentSections(int k, const TdspBiquad* bq, long double (*hist)[2], const T* in, T* out,
                    int count, std::uint64_t design, TdspSilentSectionsState& s) {
    if (k < 1 || k > MaxSilentSections || count <= 0) return false;
    if ((ControlWord() & 0x0F00u) != 0x0300u) return false;
    if (s.design != design) {
        s.design = design;
        s.frozen = false;
        s.since = -1;
        int smallest = 1 << 20;
        s.usable = true;
        for (int i = 0; i < k; ++i) {
            const long double v[5] = {bq[i].B0, bq[i].B1, bq[i].B2, bq[i].A1, bq[i].A2};
            int e = 0;
            s.usable = s.usable && SmallestExponent(v, 5, e);
            smallest = e < smallest ? e : smallest;
        }
        s.limit = Limit(smallest);
        if (s.usable) PrepareCascade(k, bq, s);
    }
    if (!s.usable) return false;
    for (int i = 0; i <= k; ++i)
        if (!ToBits(hist[i][0]).IsFinite() || !ToBits(hist[i][1]).IsFinite()) return false;
    for (int done = 0; done < count;) {
        if (s.frozen && SectionsFrozenHolds(k, hist, s)) {
            RunSectionsFrozen(k, bq, hist, in + done, out + done, count - done, s);
            return true;
        }
        s.frozen = false;
        TExtendedBits h[MaxSilentSections + 1][2];
        LoadHistories(k, hist, h);
        if (CascadeMixed(k, h)) {
            int normal = 0;
            const int to =
                RunSectionsMixed(k, CoefficientsOf(s, bq), h, in, out, done, count, normal);
            StoreSections(k, hist, h, s);
            s.since = -1;
            s.samples[static_cast<int>(TdspSilentPath::Normal)] +=
                static_cast<std::uint64_t>(normal);
            s.samples[static_cast<int>(TdspSilentPath::Integer)] +=
                static_cast<std::uint64_t>(to - done - normal);
            done = to;
            continue;
        }
        done = RunSectionsIntegers(k, bq, hist, in, out, done, count, s);
    }
    return true;
}

#if defined(__SIZEOF_INT128__)
// The histories in place after a step of ProcessSample whose output is v units (the input the
// zero of its sign times g's), and y that output; the sample counted, the cycle search restarted.
void TakeUnitsSample(int n, const long double& g, long double* xv, long double* yv, bool negative,
                     long double& y, TdspSilentState& s, std::int64_t v) {
    std::memmove(&xv[0], &xv[1], static_cast<std::size_t>(n) * sizeof(long double));
    std::memmove(&yv[0], &yv[1], static_cast<std::size_t>(n) * sizeof(long double));
    SetBits(xv[n], {0, static_cast<std::uint16_t>(((negative ? 1u : 0u) ^ SignOf(g)) << 15)});
    SetBits(yv[n], UnitBits(v));
    SetBitsForLoad(y, UnitBits(v));
    s.frozen = false;
    s.since = -1;
    ++s.samples[static_cast<int>(TdspSilentPath::Integer)];
}
#endif

#if defined(__SIZEOF_INT128__)
// UnitsRun's product of feedback tap k and an output history value b in whole units (exponent
// field 0), with 64-bit shifts only (its pre- and post-shifts derived here).
inline std::int64_t UnitsTapProduct(const TdspSilentState& s, int k, TExtendedBits b) {
    const std::int64_t v = b.IsNegative() ? -static_cast<std::int64_t>(b.mantissa)
                                          : static_cast<std::int64_t>(b.mantissa);
    const unsigned shift = s.unitsShift[k];
    const unsigned pre = shift <= 6 || shift > 64 ? 0 : 65 - shift;
    const unsigned post = shift <= 64 ? 1 : shift - 64;
    return UnitProductAt64(v, s.unitsMantissa[k], pre, post, (std::uint64_t{1} << (post - 1)) - 1,
                           s.unitsSign[k]);
}
#endif

// ProcessSample's whole-unit step (UnitsRun's, one sample, on the histories in place): false,
// nothing touched, where it does not apply. The cycle search starts again after it (a frozen
// cycle too: the step gives the same bits).
bool UnitsSample(int n, const long double& g, long double* xv, long double* yv, bool negative,
                 long double& y, TdspSilentState& s) {
#if defined(__SIZEOF_INT128__)
    if (s.unitsBits == 0 || (ControlWord() & 0x0F00u) != 0x0300u) return false;
    for (int k = 1; k <= n; ++k)
        if (!IsZeroBits(xv[k])) return false;
    const std::int64_t most = s.unitsMost; // see UnitsMost: every partial sum exact
    std::int64_t acc = 0, any = 0;
    for (int k = 0; k < n; ++k) {
        const TExtendedBits b = ToBits(yv[k + 1]);
        if (b.Exponent() != 0 || b.mantissa > static_cast<std::uint64_t>(most)) return false;
        const std::int64_t q = UnitsTapProduct(s, k, b);
        acc += q;
        any |= q;
    }
    // A zero product's sign would count only in a sum of zeros; a zero history's too.
    if (any == 0 || acc > most || acc < -most) return false;
    TakeUnitsSample(n, g, xv, yv, negative, y, s, acc);
    return true;
#else
    (void)n, (void)g, (void)xv, (void)yv, (void)negative, (void)y, (void)s;
    return false;
#endif
}

// UnitsSample with the tap count fixed (one or two), for the filters where the calls and loops
// around its arithmetic cost as much as the arithmetic: the histories read once as bits and moved
// by integer stores of those bits, the output stored before them, so that the caller's x87 load
// of it comes as late after its store as it can.
template <int N>
bool UnitsSampleTaps(const long double& g, long double* xv, long double* yv, bool negative,
                     long double& y, TdspSilentState& s) {
#if defined(__SIZEOF_INT128__)
    if (s.unitsBits == 0 || (ControlWord() & 0x0F00u) != 0x0300u) return false;
    TExtendedBits xs[N], ys[N];
    std::uint64_t nonzero = 0;
    for (int k = 0; k < N; ++k) {
        xs[k] = BitsAt(xv[k + 1]), ys[k] = BitsAt(yv[k + 1]);
        nonzero |= xs[k].mantissa | (xs[k].signExponent & 0x7FFFu) | ys[k].Exponent();
    }
    const std::int64_t most = s.unitsMost; // see UnitsMost: every partial sum exact
    std::int64_t acc = 0, any = 0;
    for (int k = 0; k < N; ++k) {
        if (ys[k].mantissa > static_cast<std::uint64_t>(most)) return false;
        const std::int64_t q = UnitsTapProduct(s, k, ys[k]);
        acc += q;
        any |= q;
    }
    if (nonzero != 0 || any == 0 || acc > most || acc < -most) return false;
    const TExtendedBits out = UnitBits(acc);
    SetBitsForLoad(y, out);
    for (int k = 0; k < N; ++k)
        StoreBits(xv[k], xs[k]), StoreBits(yv[k], ys[k]);
    StoreBits(xv[N], {0, static_cast<std::uint16_t>(((negative ? 1u : 0u) ^ SignOf(g)) << 15)});
    StoreBits(yv[N], out);
    s.frozen = false;
    s.since = -1;
    ++s.samples[static_cast<int>(TdspSilentPath::Integer)];
    return true;
#else
    (void)g, (void)xv, (void)yv, (void)negative, (void)y, (void)s;
    return false;
#endif
}

// ProcessSample's step above the whole-unit bounds (ScaledRun's, one sample, on the histories in
// place): false, nothing touched, where it does not apply.
bool ScaledSample(int n, const long double& g, const long double* yCoeffs, long double* xv,
                  long double* yv, bool negative, long double& y, TdspSilentState& s) {
#if defined(__SIZEOF_INT128__)
    if ((ControlWord() & 0x0F00u) != 0x0300u) return false;
    for (int k = 1; k <= n; ++k)
        if (!IsZeroBits(xv[k])) return false;
    long double acc = 0.0L;
    for (int k = 0; k < n; ++k) {
        const TExtendedBits b = ToBits(yv[k + 1]);
        if (b.Exponent() != 0) return false;
        const std::int64_t v = b.IsNegative() ? -static_cast<std::int64_t>(b.mantissa)
                                              : static_cast<std::int64_t>(b.mantissa);
        if (b.mantissa >= s.scaledHigh[k])
            acc += static_cast<long double>(v) * yCoeffs[k];
        else if (b.mantissa < s.scaledLow[k])
            acc += static_cast<long double>(
                UnitProduct(v, s.unitsMantissa[k], s.unitsShift[k], s.unitsSign[k]));
        else
            return false;
    }
    if (!(std::fabs(acc) < 0x1p63L) || acc == 0) return false;
    const std::int64_t r = WholeOf(acc);
    TakeUnitsSample(n, g, xv, yv, negative, y, s, r);
    return true;
#else
    (void)n, (void)g, (void)yCoeffs, (void)xv, (void)yv, (void)negative, (void)y, (void)s;
    return false;
#endif
}

// ProcessSample's integer step for a cascade: one sample of RunSectionsIntegers on the histories
// in place, without the block call's dispatch around it (the caller has found the histories
// unsafe and nothing frozen). False, nothing touched, where the x87 does not round as the
// integers do or a history is not finite.
bool SectionsIntegerSample(int k, const TdspBiquad* bq, long double (*hist)[2], long double x,
                           long double& y, TdspSilentSectionsState& s) {
    if ((ControlWord() & 0x0F00u) != 0x0300u) return false;
    TExtendedBits h[MaxSilentSections + 1][2];
    for (int i = 0; i <= k; ++i) {
        h[i][0] = ToBits(hist[i][0]), h[i][1] = ToBits(hist[i][1]);
        if (!h[i][0].IsFinite() || !h[i][1].IsFinite()) return false;
    }
    // The cycle search goes on where the histories are those the last integer sample left.
    for (int i = 0; i <= k && s.since >= 0; ++i)
        if (s.left[2 * i] != h[i][0] || s.left[2 * i + 1] != h[i][1]) s.since = -1;
    unsigned live;
    int absorbed = -1;
    const CascadeCoefficients& cc = CoefficientsOf(s, bq);
    TExtendedBits out;
#if defined(__SIZEOF_INT128__)
    // The whole cascade in whole units where it can run there (every section then live).
    if (CascadeInUnits(k, cc, h) &&
        SectionsUnitsSampleOf(k, cc, h, ToBits(x), out,
                              std::make_integer_sequence<int, MaxSilentSections>{}))
        live = (1u << k) - 1;
    else
#endif
        out = CascadeSample(k, cc, h, 0, ToBits(x), live, &absorbed);
    SetBitsForLoad(y, out);
    StoreSections(k, hist, h, s);
    if (absorbed >= 1)
        s.since = -1; // its outputs still decay from large values: no cycle yet
    else
        TrackCycle(k, h, live, s);
    ++s.samples[static_cast<int>(TdspSilentPath::Integer)];
    return true;
}

// ProcessSample's frozen step: one sample of RunSectionsFrozen on the histories in place, x the
// input zero's sign bit. False, nothing touched, where the histories are not the cycle's.
bool FrozenSectionsSample(int k, const CascadeCoefficients& c, long double (*hist)[2], unsigned x,
                          long double& y, TdspSilentSectionsState& s) {
    if (!SectionsFrozenHolds(k, hist, s)) return false;
    const int dead = s.dead;
    for (int i = 0; i < dead; ++i) {
        // A sum of zeros, the subtracted ones negated: −0 only when every term is.
        const BiquadBits& b = c.bits[i];
        const unsigned h0 = SignOf(hist[i][0]), h1 = SignOf(hist[i][1]);
        const unsigned out = (b.b0.IsNegative() ^ x) & (b.b1.IsNegative() ^ h0) &
                             (b.b2.IsNegative() ^ h1) &
                             (b.a1.IsNegative() ^ SignOf(hist[i + 1][0]) ^ 1u) &
                             (b.a2.IsNegative() ^ SignOf(hist[i + 1][1]) ^ 1u);
        SetBitsForLoad(hist[i][1], {0, static_cast<std::uint16_t>(h0 << 15)});
        SetBitsForLoad(hist[i][0], {0, static_cast<std::uint16_t>(x << 15)});
        x = out;
    }
    // dead < k: the live sections' input pair takes the dead sections' output.
    SetBitsForLoad(hist[dead][1], {0, static_cast<std::uint16_t>(SignOf(hist[dead][0]) << 15)});
    SetBitsForLoad(hist[dead][0], {0, static_cast<std::uint16_t>(x << 15)});
    const int q = s.phase;
    SetBitsForLoad(y, StepBits(s, q, k - 1));
    s.phase = q + 1 == s.period ? 0 : q + 1;
    for (int j = dead; j < k; ++j) {
        SetBitsForLoad(hist[j + 1][0], Step(s, 1, j));
        SetBitsForLoad(hist[j + 1][1], Step(s, 2, j));
    }
    ++s.samples[static_cast<int>(TdspSilentPath::Frozen)];
    return true;
}

// ProcessSample's step keeps each value's significand and sign-and-exponent apart, in
// registers: a value built in memory by two stores and read back by one wider load waits for both
// stores to retire.

#if defined(__SIZEOF_INT128__)
// UnitProductAt64 for ProcessSample's step, the same result: "the lower half is not zero" taken
// by arithmetic rather than a comparison (which the compiler, short of registers around the
// 128-bit product, set as a byte in memory and read back as 8 bytes: a store-forwarding stall
// per product).
__attribute__((always_inline)) inline std::int64_t StepProduct(std::int64_t v, std::uint64_t m,
                                                               unsigned pre, unsigned post,
                                                               std::uint64_t halfLess,
                                                               std::int64_t sign) {
    const std::int64_t sv = v >> 63;
    const std::uint64_t a = static_cast<std::uint64_t>((v ^ sv) - sv) << pre;
    const UWide p = static_cast<UWide>(a) * m;
    const std::uint64_t hi = static_cast<std::uint64_t>(p >> 64),
                        lo = static_cast<std::uint64_t>(p);
    const std::uint64_t up = ((lo | (0 - lo)) >> 63) | ((hi >> post) & 1);
    const std::uint64_t q = (hi + halfLess + up) >> post;
    const std::int64_t sg = sv ^ sign;
    return (static_cast<std::int64_t>(q) ^ sg) - sg;
}
#endif

// SectionUnitsFast inline for ProcessSample's step, its checks without branches: 0 where an
// operand is not a subnormal of exponent field 0 below 2^fastBits units; else 1 with the
// nonzero sum's bits, or 2 where every product is a zero (a unit input by a small feed-forward
// coefficient: a section that passes nothing on), the sum then the zero their signs make, as
// for zero operands: each product's sign that of its operands, the subtracted ones negated, −0
// only when every term is.
__attribute__((always_inline)) inline int StepUnits(const CascadeCoefficients& c, int i,
                                                    const std::uint64_t* m, const unsigned* e,
                                                    std::uint64_t& ym, unsigned& ye) {
#if defined(__SIZEOF_INT128__)
    const int bits = c.fastBits[i];
    std::uint64_t outside = bits == 0 ? 1u : 0u;
#pragma GCC unroll 5
    for (int t = 0; t < 5; ++t)
        outside |= static_cast<std::uint64_t>(e[t] & 0x7FFFu) | (m[t] >> bits);
    if (outside != 0) return 0;
    std::int64_t sum = 0, any = 0;
#pragma GCC unroll 5
    for (int t = 0; t < 5; ++t) {
        const std::int64_t v =
            (e[t] & 0x8000u) ? -static_cast<std::int64_t>(m[t]) : static_cast<std::int64_t>(m[t]);
        const std::int64_t q = StepProduct(v, c.fastMantissa[i][t], c.preShift[i][t],
                                           c.postShift[i][t], c.halfLess[i][t], c.fastSign[i][t]);
        sum += q;
        any |= q;
    }
    if (any == 0) {
        const BiquadBits& cb = c.bits[i];
        ym = 0;
        ye = ((cb.b0.signExponent ^ e[0]) & (cb.b1.signExponent ^ e[1]) &
              (cb.b2.signExponent ^ e[2]) & ~(cb.a1.signExponent ^ e[3]) &
              ~(cb.a2.signExponent ^ e[4])) &
             0x8000u;
        return 2;
    }
    // A zero sum is +0 (an exact cancellation, then zeros added).
    const std::int64_t sv = sum >> 63;
    ym = static_cast<std::uint64_t>((sum ^ sv) - sv);
    ye = static_cast<unsigned>(sv & 0x8000);
    return 1;
#else
    (void)c, (void)i, (void)m, (void)e, (void)ym, (void)ye;
    return 0;
#endif
}

// A history value's bits, read from memory.
inline void HistoryBits(const long double& v, std::uint64_t& m, unsigned& e) {
    std::uint16_t se;
    std::memcpy(&m, &v, 8);
    std::memcpy(&se, reinterpret_cast<const unsigned char*>(&v) + 8, 2);
    e = se;
}

// An x87 result's bits for ProcessSample's step.
inline void SplitBits(long double v, std::uint64_t& m, unsigned& e) {
    const TExtendedBits b = ToBits(v);
    m = b.mantissa, e = b.signExponent;
}

// One sample of section i for ProcessSample's step (SectionSample's paths, the common ones
// decided here from the operands' bits without branches): h its input and output pairs as they
// were before the sample (the x87 reads the safe ones there), m and e the operands; the input's
// value also in x where inX87 (the section before computed it on the x87: the multiply takes it
// from there, not from its bits, which would wait for their trip through memory). Returns whether
// it had a nonzero product; absorbed as SectionSample sets it. Where the output comes from the x87
// it is also r, and onX87 is set (the last section's only there, not in ym and ye).
template <bool Last>
__attribute__((always_inline)) inline bool
StepSection(const CascadeCoefficients& c, int i, const long double (*h)[2], const std::uint64_t* m,
            const unsigned* e, bool inX87, long double x, std::uint64_t& ym, unsigned& ye,
            bool& absorbed, long double& r, bool& onX87) {
    const BiquadBits& cb = c.bits[i];
    const TExtendedBits* cc[5] = {&cb.b0, &cb.b1, &cb.b2, &cb.a1, &cb.a2};
    absorbed = false;
    const unsigned limit = c.limit[i];
    unsigned nonzero = 0, unsafe = 0, live = 0;
#pragma GCC unroll 5
    for (int t = 0; t < 5; ++t) {
        const unsigned n = m[t] != 0 ? 1u : 0u;
        nonzero |= n;
        unsafe |= n & ((e[t] & 0x7FFFu) <= limit ? 1u : 0u);
        live |= n & (cc[t]->mantissa != 0 ? 1u : 0u);
    }
    if (nonzero == 0) {
        // A sum of zeros, the subtracted ones negated: −0 only when every term is.
        const unsigned negative = ((cb.b0.signExponent ^ e[0]) & (cb.b1.signExponent ^ e[1]) &
                                   (cb.b2.signExponent ^ e[2]) & ~(cb.a1.signExponent ^ e[3]) &
                                   ~(cb.a2.signExponent ^ e[4])) &
                                  0x8000u;
        ym = 0, ye = negative;
        return false;
    }
    const TdspBiquad& q = c.values[i];
    if (unsafe == 0) {
        const long double in = inX87 ? x : LoadBits({m[0], static_cast<std::uint16_t>(e[0])});
        const long double y =
            (((q.B0 * in + q.B1 * h[0][0]) + q.B2 * h[0][1]) - q.A1 * h[1][0]) - q.A2 * h[1][1];
        r = y, onX87 = true;
        if (!Last) SplitBits(y, ym, ye);
        return live != 0;
    }
    if (const int units = StepUnits(c, i, m, e, ym, ye)) return units == 1;
    // AbsorbingSample's case (the inputs small, the last output large), its operands from hist.
    const unsigned absorbing = c.absorbing[i];
    const std::uint64_t inputs =
        static_cast<std::uint64_t>((e[0] | e[1] | e[2]) & 0x7FFFu) | ((m[0] | m[1] | m[2]) >> 62);
    if ((absorbing != 0) & (inputs == 0) & (m[3] != 0) & ((e[3] & 0x7FFFu) >= absorbing) &
        ((m[4] == 0) | ((e[4] & 0x7FFFu) > limit))) {
        const long double y = -(q.A1 * h[1][0]) - q.A2 * h[1][1];
        r = y, onX87 = true;
        if (!Last) SplitBits(y, ym, ye);
        absorbed = true;
        return true;
    }
    TExtendedBits v[5], y;
    for (int t = 0; t < 5; ++t)
        v[t] = {m[t], static_cast<std::uint16_t>(e[t])};
    const bool alive = SectionSample(c, i, v, y, absorbed);
    ym = y.mantissa, ye = y.signExponent;
    return alive;
}

// StepSection for a section that is not the last, its result taken from the memo where the
// operands are those of one of the section's last two nonzero results (their zeros' signs aside:
// they do not change a nonzero sum), and kept there otherwise.
__attribute__((always_inline)) inline bool
StepSectionMemo(const CascadeCoefficients& c, int i, const long double (*h)[2],
                const std::uint64_t* m, const unsigned* e, bool inX87, long double x,
                std::uint64_t& ym, unsigned& ye, bool& absorbed, long double& r, bool& onX87,
                TdspSectionsStepMemo& memo) {
    unsigned char& misses = memo.misses[i];
    TdspSectionsStepMemo::Entry* entry = memo.entries[i];
    const bool tracking = misses < 8; // else a section that does not repeat: no memo's cost
    if (tracking) {
#pragma GCC unroll 2
        for (int slot = 0; slot < 2; ++slot) {
            const TdspSectionsStepMemo::Entry& d = entry[slot];
            std::uint64_t differ = d.valid ? 0u : 1u;
#pragma GCC unroll 5
            for (int t = 0; t < 5; ++t)
                differ |= (m[t] ^ d.m[t]) | ((e[t] ^ d.e[t]) & (m[t] != 0 ? 0xFFFFu : 0x7FFFu));
            if (differ == 0) {
                misses = misses != 0 ? misses - 1 : 0;
                ym = d.ym, ye = d.ye, absorbed = false, onX87 = false;
                return d.alive;
            }
        }
    }
    const bool alive = StepSection<false>(c, i, h, m, e, inX87, x, ym, ye, absorbed, r, onX87);
    // Tracked, a miss counts twice a hit: a section that hits less than two times in three
    // reaches 8 and leaves the memo; then it counts on to 255 and round to 0, tried again.
    misses = static_cast<unsigned char>(misses + (tracking ? 2 : 1));
    if (tracking && !absorbed && ym != 0) {
        TdspSectionsStepMemo::Entry& d = entry[memo.next[i]];
        memo.next[i] ^= 1u;
        for (int t = 0; t < 5; ++t)
            d.m[t] = m[t], d.e[t] = static_cast<std::uint16_t>(e[t]);
        d.ym = ym, d.ye = static_cast<std::uint16_t>(ye), d.alive = alive, d.valid = true;
    }
    return alive;
}

// ProcessSample's step for K sections (see SectionsSilentStep), the state not frozen: as
// SectionsIntegerSample, with each section's path decided by StepSection, the input (xm, xe). 0,
// nothing touched, where a history is not finite; else 2 where the last section's output came
// from the x87 (normal or zero), 1 where from its bits.
template <int K, bool Memo>
int SectionsStepSample(const CascadeCoefficients& c, long double (*hist)[2], std::uint64_t xm,
                       unsigned xe, long double& out, TdspSilentSectionsState& s,
                       TdspSectionsStepMemo& memo) {
    std::uint64_t m[K + 1][2];
    unsigned e[K + 1][2];
    bool finite = true;
    for (int j = 0; j <= K; ++j)
        for (int t = 0; t < 2; ++t) {
            HistoryBits(hist[j][t], m[j][t], e[j][t]);
            finite = finite && (e[j][t] & 0x7FFFu) != 0x7FFFu;
        }
    if (!finite) return 0;
    // The cycle search goes on where the histories are those the last integer sample left.
    for (int j = 0; j <= K && s.since >= 0; ++j)
        for (int t = 0; t < 2; ++t)
            if (s.left[2 * j + t].mantissa != m[j][t] || s.left[2 * j + t].signExponent != e[j][t])
                s.since = -1;
    unsigned live = 0;
    int absorbed = -1;
    // The last output computed on the x87 (onX87), for the next section or the caller.
    long double r = 0;
    bool onX87 = false;
#pragma GCC unroll 8
    for (int i = 0; i < K; ++i) {
        const std::uint64_t vm[5] = {xm, m[i][0], m[i][1], m[i + 1][0], m[i + 1][1]};
        const unsigned ve[5] = {xe, e[i][0], e[i][1], e[i + 1][0], e[i + 1][1]};
        std::uint64_t ym = 0;
        unsigned ye = 0;
        bool took;
        const bool inX87 = onX87;
        onX87 = false;
        const bool alive =
            i + 1 < K ? (Memo ? StepSectionMemo(c, i, hist + i, vm, ve, inX87, r, ym, ye, took, r,
                                                onX87, memo)
                              : StepSection<false>(c, i, hist + i, vm, ve, inX87, r, ym, ye, took,
                                                   r, onX87))
                      : StepSection<true>(c, i, hist + i, vm, ve, inX87, r, ym, ye, took, r, onX87);
        if (alive) live |= 1u << i;
        if (took && absorbed < 0) absorbed = i;
        m[i][1] = m[i][0], e[i][1] = e[i][0];
        m[i][0] = xm, e[i][0] = xe;
        xm = ym, xe = ye;
    }
    m[K][1] = m[K][0], e[K][1] = e[K][0];
    if (onX87) {
        // The last section's output came from the x87 (normal or zero): it stays there, for the
        // caller and the output history, without a trip through its bits. Such an output ends
        // no cycle the search would find (it restarts).
        for (int j = 0; j < K; ++j)
            for (int t = 0; t < 2; ++t)
                SetBitsForLoad(hist[j][t], {m[j][t], static_cast<std::uint16_t>(e[j][t])});
        SetBitsForLoad(hist[K][1], {m[K][1], static_cast<std::uint16_t>(e[K][1])});
        hist[K][0] = r;
        out = r;
        s.since = -1;
        ++s.samples[static_cast<int>(TdspSilentPath::Integer)];
        return 2;
    }
    m[K][0] = xm, e[K][0] = xe;
    SetBitsForLoad(out, {xm, static_cast<std::uint16_t>(xe)});
    for (int j = 0; j <= K; ++j)
        for (int t = 0; t < 2; ++t)
            SetBitsForLoad(hist[j][t], {m[j][t], static_cast<std::uint16_t>(e[j][t])});
    if (absorbed >= 1) {
        s.since = -1; // its outputs still decay from large values: no cycle yet
    } else {
        TExtendedBits h[K + 1][2];
        for (int j = 0; j <= K; ++j)
            for (int t = 0; t < 2; ++t)
                h[j][t] = {m[j][t], static_cast<std::uint16_t>(e[j][t])};
        TrackCycle(K, h, live, s);
    }
    if (s.since >= 0) // what the next sample's search compares with
        for (int j = 0; j <= K; ++j)
            for (int t = 0; t < 2; ++t)
                s.left[2 * j + t] = {m[j][t], static_cast<std::uint16_t>(e[j][t])};
    ++s.samples[static_cast<int>(TdspSilentPath::Integer)];
    return 1;
}

template <typename T, typename Bits> bool Zeros(const T* v, int count, Bits mask) {
    Bits any = 0;
    if (count > 0) { // sound: at once
        std::memcpy(&any, &v[0], sizeof any);
        if (any & mask) return false;
    }
    any = 0;
    for (int i = 0; i < count; ++i) {
        Bits b;
        std::memcpy(&b, &v[i], sizeof b);
        any |= b & mask;
    }
    return any == 0;
}

} // namespace

bool AllZeros(const long double* v, int count) {
    if (count > 0 && !IsZeroBits(v[0])) return false; // sound: at once
    for (int i = 0; i < count; ++i)
        if (!IsZeroBits(v[i])) return false;
    return true;
}
bool AllZeros(const double* v, int count) {
    return Zeros(v, count, ~(std::uint64_t{1} << 63));
}
bool AllZeros(const float* v, int count) {
    return Zeros(v, count, 0x7FFFFFFFu);
}

bool IIRSilentBlock(int numTaps, long double g, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const long double* input, long double* output, int count, std::uint64_t design,
                    TdspSilentState& state) {
    return Silent(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count, design, state);
}
bool IIRSilentBlock(int numTaps, long double g, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const double* input, double* output, int count, std::uint64_t design,
                    TdspSilentState& state) {
    return Silent(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count, design, state);
}
bool IIRSilentBlock(int numTaps, long double g, const long double* xCoeffs,
                    const long double* yCoeffs, long double* xv, long double* yv,
                    const float* input, float* output, int count, std::uint64_t design,
                    TdspSilentState& state) {
    return Silent(numTaps, g, xCoeffs, yCoeffs, xv, yv, input, output, count, design, state);
}

bool IIRSilentSample(int numTaps, const long double& g, const long double* xCoeffs,
                     const long double* yCoeffs, long double* xv, long double* yv, bool negative,
                     long double& y, std::uint64_t design, TdspSilentState& s) {
    if (numTaps >= 1 && numTaps <= MaxSilentTaps && s.design == design && s.usable) {
        // The whole-unit step first at one and two taps: where it applies, some output history
        // lies below its bound, so the histories are not safe.
        if (numTaps == 1 ? UnitsSampleTaps<1>(g, xv, yv, negative, y, s)
                         : numTaps == 2 && UnitsSampleTaps<2>(g, xv, yv, negative, y, s))
            return true;
        if (!s.frozen && HistoriesSafe(numTaps, xv, yv, s)) {
            ++s.samples[static_cast<int>(TdspSilentPath::Normal)];
            return false;
        }
        if ((numTaps > 2 && UnitsSample(numTaps, g, xv, yv, negative, y, s)) ||
            ScaledSample(numTaps, g, yCoeffs, xv, yv, negative, y, s))
            return true;
    }
    long double x;
    SetBits(x, {0, static_cast<std::uint16_t>(negative ? 0x8000u : 0u)});
    return Silent(numTaps, g, xCoeffs, yCoeffs, xv, yv, &x, &y, 1, design, s);
}

bool SectionsSilentSample(int sections, const TdspBiquad* biquads, long double (*history)[2],
                          long double x, long double& y, std::uint64_t design,
                          TdspSilentSectionsState& s) {
    if (sections >= 1 && sections <= MaxSilentSections && s.design == design && s.usable &&
        !s.frozen) {
        if (SectionsSafe(sections, history, s.limit)) {
            ++s.samples[static_cast<int>(TdspSilentPath::Normal)];
            return false;
        }
        if (SectionsIntegerSample(sections, biquads, history, x, y, s)) return true;
    }
    return SilentSections(sections, biquads, history, &x, &y, 1, design, s);
}

namespace {

template <bool Memo>
int SilentStep(int k, const CascadeCoefficients& c, long double (*hist)[2], std::uint64_t xm,
               unsigned xe, long double& y, TdspSilentSectionsState& s,
               TdspSectionsStepMemo& memo) {
    switch (k) {
    case 1:
        return SectionsStepSample<1, Memo>(c, hist, xm, xe, y, s, memo);
    case 2:
        return SectionsStepSample<2, Memo>(c, hist, xm, xe, y, s, memo);
    case 3:
        return SectionsStepSample<3, Memo>(c, hist, xm, xe, y, s, memo);
    case 4:
        return SectionsStepSample<4, Memo>(c, hist, xm, xe, y, s, memo);
    case 5:
        return SectionsStepSample<5, Memo>(c, hist, xm, xe, y, s, memo);
    case 6:
        return SectionsStepSample<6, Memo>(c, hist, xm, xe, y, s, memo);
    case 7:
        return SectionsStepSample<7, Memo>(c, hist, xm, xe, y, s, memo);
    default:
        return SectionsStepSample<8, Memo>(c, hist, xm, xe, y, s, memo);
    }
}

// Works out the outputs of the k sections for the next n samples of silence, from the histories
// hist, into memo.outputs: a section at a time over all n, on the block calls' paths, each input a
// +0.
void WorkAhead(int k, const CascadeCoefficients& c, const long double (*hist)[2], int n,
               TdspSectionsStepMemo& memo) {
    long double zeros[TdspSectionsStepMemo::MaxAhead];
    for (int t = 0; t < n; ++t)
        SetBits(zeros[t], {0, 0});
    const long double* src = zeros;
    for (int i = 0; i < k; ++i) {
        long double* out = memo.outputs[i];
        SectionHistory r = {BitsAt(hist[i][0]), BitsAt(hist[i][1]), BitsAt(hist[i + 1][0]),
                            BitsAt(hist[i + 1][1])};
        SetBits(out[0], r.y2), SetBits(out[1], r.y1);
        SectionChunk(c, i, src, out + 2, 0, n, r);
        src = out + 2;
    }
    memo.ahead = n, memo.taken = 0;
}

// The next sample of the run worked out ahead: where its output lies (the run's, or y), or null,
// nothing touched, where the histories are not the run's at that sample (sound or a block call
// came between), their zeros' signs aside.
const long double* AheadSample(int k, const CascadeCoefficients& c, long double (*hist)[2],
                               unsigned x, long double& y, TdspSilentSectionsState& s,
                               TdspSectionsStepMemo& memo) {
    const int n = memo.taken;
    std::uint64_t m0, m1;
    unsigned e0, e1;
    HistoryBits(hist[0][0], m0, e0), HistoryBits(hist[0][1], m1, e1);
    std::uint64_t differ = m0 | m1 | ((e0 | e1) & 0x7FFFu);
    for (int j = 1; j <= k; ++j) {
        const long double* run = memo.outputs[j - 1];
#pragma GCC unroll 2
        for (int t = 0; t < 2; ++t) {
            std::uint64_t m, rm;
            unsigned e, re;
            HistoryBits(hist[j][t], m, e), HistoryBits(run[n + 1 - t], rm, re);
            differ |= (m ^ rm) | ((e ^ re) & (m != 0 ? 0xFFFFu : 0x7FFFu));
        }
    }
    if (differ != 0) return nullptr;
    TExtendedBits out[MaxSilentSections];
    TExtendedBits in = {0, static_cast<std::uint16_t>(x << 15)};
    for (int i = 0; i < k; ++i) {
        out[i] = BitsAt(memo.outputs[i][n + 2]);
        if (out[i].mantissa == 0) { // a zero: its sign from this sample's operands
            std::uint64_t m[5] = {in.mantissa};
            unsigned e[5] = {in.signExponent};
            HistoryBits(hist[i][0], m[1], e[1]), HistoryBits(hist[i][1], m[2], e[2]);
            HistoryBits(hist[i + 1][0], m[3], e[3]), HistoryBits(hist[i + 1][1], m[4], e[4]);
            std::uint64_t ym;
            unsigned ye;
            bool absorbed, onX87 = false;
            long double unused;
            StepSection<false>(c, i, hist + i, m, e, false, 0.0L, ym, ye, absorbed, unused, onX87);
            if (ym != 0) return nullptr; // (not the run's zero)
            out[i] = {0, static_cast<std::uint16_t>(ye & 0x8000u)};
        }
        in = out[i];
    }
    // The histories move by integer stores, which the next sample's integer loads take as they
    // are; the output, where nonzero, is the run's, where the caller loads it (long stored: the
    // x87 loads it at once, with no copy through y).
    for (int j = k; j >= 1; --j) {
        StoreBits(hist[j][1], BitsAt(hist[j][0]));
        StoreBits(hist[j][0], out[j - 1]);
    }
    StoreBits(hist[0][1], BitsAt(hist[0][0]));
    StoreBits(hist[0][0], {0, static_cast<std::uint16_t>(x << 15)});
    memo.taken = n + 1;
    ++s.samples[static_cast<int>(TdspSilentPath::Integer)];
    if (out[k - 1].mantissa != 0) return &memo.outputs[k - 1][n + 2];
    SetBitsForLoad(y, out[k - 1]);
    return &y;
}

} // namespace

const long double* SectionsSilentStep(int k, const TdspBiquad* bq, long double (*hist)[2],
                                      bool negative, long double& y, std::uint64_t design,
                                      TdspSilentSectionsState& s, TdspSectionsStepMemo& memo) {
    if (k < 1 || k > MaxSilentSections || s.design != design || !s.usable ||
        (ControlWord() & 0x0F00u) != 0x0300u)
        return nullptr;
    const CascadeCoefficients& c = CoefficientsOf(s, bq);
    const unsigned x = negative ? 1u : 0u;
    if (s.frozen) return FrozenSectionsSample(k, c, hist, x, y, s) ? &y : nullptr;
    if (memo.design != design) { // results of another design's coefficients
        for (auto& section : memo.entries)
            section[0].valid = section[1].valid = false;
        for (unsigned char& n : memo.misses)
            n = 0;
        memo.ahead = 0, memo.steps = 0, memo.searching = 0;
        memo.gap = memo.untilSearch = TdspSectionsStepMemo::FirstSearchGap;
        memo.design = design;
    }
    // A silence that goes on is worked out ahead, as long as it has lasted so far (what sound
    // cuts short was no more work than the silence before it), and replayed.
    const std::uint64_t count = s.samples[0] + s.samples[1] + s.samples[2];
    const bool goesOn = count == memo.stepCount + 1 && IsZeroBits(hist[0][0]);
    memo.steps = !goesOn                                       ? 0
                 : memo.steps < TdspSectionsStepMemo::MaxAhead ? memo.steps + 1
                                                               : memo.steps;
    memo.stepCount = count;
    // Now and then the sample-by-sample step runs for a while instead, long enough for its
    // search to find a cycle of the whole cascade, which then freezes (cheaper still); less
    // often each time it finds none.
    if (memo.searching > 0) {
        --memo.searching;
    } else {
        if (const long double* from =
                memo.taken < memo.ahead ? AheadSample(k, c, hist, x, y, s, memo) : nullptr) {
            if (--memo.untilSearch <= 0) {
                memo.gap = memo.gap < TdspSectionsStepMemo::MaxSearchGap ? 2 * memo.gap : memo.gap;
                memo.untilSearch = memo.gap, memo.searching = 2 * MaxSilentSectionsCycle + 2;
                memo.ahead = 0;
            }
            return from;
        }
        memo.ahead = 0;
        if (k >= 2 && memo.steps >= 8) {
            s.since = -1; // the replay keeps no cycle search: the step's starts afresh
            WorkAhead(k, c, hist, memo.steps, memo);
            if (const long double* from = AheadSample(k, c, hist, x, y, s, memo)) return from;
            memo.ahead = 0;
        }
    }
    // Where no section is tracked (none repeated of late), the step without the memo's code.
    unsigned tracked = 0;
    for (int i = 0; i + 1 < k; ++i)
        tracked |= memo.misses[i] < 8 ? 1u : 0u;
    int took;
    if (tracked != 0) {
        took = SilentStep<true>(k, c, hist, 0, x << 15, y, s, memo);
    } else {
        for (int i = 0; i + 1 < k; ++i)
            ++memo.misses[i]; // as the memo's step counts them
        took = SilentStep<false>(k, c, hist, 0, x << 15, y, s, memo);
    }
    return took != 0 ? &y : nullptr;
}

bool SectionsSilentBlock(int sections, const TdspBiquad* biquads, long double (*history)[2],
                         const long double* input, long double* output, int count,
                         std::uint64_t design, TdspSilentSectionsState& state) {
    return SilentSections(sections, biquads, history, input, output, count, design, state);
}
bool SectionsSilentBlock(int sections, const TdspBiquad* biquads, long double (*history)[2],
                         const double* input, double* output, int count, std::uint64_t design,
                         TdspSilentSectionsState& state) {
    return SilentSections(sections, biquads, history, input, output, count, design, state);
}
bool SectionsSilentBlock(int sections, const TdspBiquad* biquads, long double (*history)[2],
                         const float* input, float* output, int count, std::uint64_t design,
                         TdspSilentSectionsState& state) {
    return SilentSections(sections, biquads, history, input, output, count, design, state);
}

} // namespace vurnel::dsp
