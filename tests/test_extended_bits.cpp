// MulBits against the x87 itself: the same bits for products of normal and subnormal operands,
// results normal, subnormal, rounded up into the normal range or down to zero.
#include <gtest/gtest.h>

#include <random>

#include "dspExtendedBits.h"

using namespace vurnel::dsp;

TEST(ExtendedBits, MulBitsGivesTheX87sProductBitForBit) {
    std::mt19937_64 rng(80);
    // A random value with a biased exponent in [low, high]; below 1 it is a subnormal.
    auto value = [&](int low, int high) {
        TExtendedBits b{rng() | (std::uint64_t{1} << 63), 0};
        int e = low + static_cast<int>(rng() % static_cast<std::uint64_t>(high - low + 1));
        if (e <= 0) {
            const int shift = 1 - e + static_cast<int>(rng() % 64);
            b.mantissa = shift < 64 ? b.mantissa >> shift : 0;
            e = 0;
        }
        b.signExponent = static_cast<std::uint16_t>(e | ((rng() & 1) << 15));
        return b;
    };
    int differ = 0, subnormal = 0;
    for (int i = 0; i < 300000; ++i) {
        // States near or in the subnormal range, times coefficients and gains of any size.
        const TExtendedBits a = i % 3 ? value(-70, 200) : value(1, 32766 - 16); // no overflow
        const TExtendedBits c = value(16383 - 40, 16383 + 10);
        volatile long double x = FromBits(a), y = FromBits(c);
        const long double product = x * y;
        const TExtendedBits expected = ToBits(product);
        subnormal += expected.Exponent() == 0 && expected.mantissa != 0;
        differ += MulBits(a, c) != expected;
    }
    EXPECT_EQ(differ, 0);
    EXPECT_GT(subnormal, 1000); // the subnormal results were exercised
}

// AddBits against the x87: sums and differences of operands far apart, close (cancellation,
// exact zeros), subnormal, and at ties of the rounding, including results that overflow.
TEST(ExtendedBits, AddBitsGivesTheX87sSumBitForBit) {
    std::mt19937_64 rng(81);
    auto value = [&](int e, std::uint64_t mantissa) {
        if (e <= 0) {
            const int shift = 1 - e;
            mantissa = shift < 64 ? mantissa >> shift : 0;
            e = 0;
        } else {
            mantissa |= std::uint64_t{1} << 63; // a normal value has its integer bit
        }
        return TExtendedBits{mantissa, static_cast<std::uint16_t>(e | ((rng() & 1) << 15))};
    };
    int differ = 0, subnormal = 0, zero = 0, infinite = 0;
    for (int i = 0; i < 400000; ++i) {
        const std::uint64_t m = rng() | (std::uint64_t{1} << 63);
        const int kind = i % 4;
        const int ea = kind == 3 ? 32766 - static_cast<int>(rng() % 3)
                                 : (kind == 0 ? -70 : 1) + static_cast<int>(rng() % 200);
        const TExtendedBits a = value(ea, m);
        int eb = ea - static_cast<int>(rng() % 140) + 2;
        std::uint64_t mb = rng() | (std::uint64_t{1} << 63);
        if (kind == 1) mb = m ^ (rng() >> (rng() % 64));       // close to a: cancellation
        if (kind == 2) mb = (m & ~std::uint64_t{0xFF}) | 0x80; // ties at some shifts
        if (kind == 1) eb = ea;
        const TExtendedBits b = value(eb > 32766 ? 32766 : eb, mb);
        if (!a.IsFinite() || !b.IsFinite()) continue;
        volatile long double x = FromBits(a), y = FromBits(b);
        const long double sum = x + y;
        const TExtendedBits expected = ToBits(sum);
        subnormal += expected.Exponent() == 0 && expected.mantissa != 0;
        zero += expected.IsZero();
        infinite += !expected.IsFinite();
        differ += AddBits(a, b) != expected;
    }
    // Operands 62 to 70 places apart, at the edges of the significand: where the bits b loses
    // below the sum decide its rounding.
    const std::uint64_t edges[] = {std::uint64_t{1} << 63, (std::uint64_t{1} << 63) | 1,
                                   ~std::uint64_t{0}};
    for (int d = 62; d <= 70; ++d)
        for (std::uint64_t ma : edges)
            for (std::uint64_t mb : edges)
                for (int negative = 0; negative <= 1; ++negative) {
                    const TExtendedBits a{ma, 16383},
                        b{mb, static_cast<std::uint16_t>((16383 - d) | (negative << 15))};
                    volatile long double x = FromBits(a), y = FromBits(b);
                    const long double sum = x + y;
                    differ += AddBits(a, b) != ToBits(sum);
                }
    // Zeros with zeros and with nonzero values.
    const TExtendedBits pz{0, 0}, nz{0, 0x8000}, one = ToBits(1.0L);
    differ += AddBits(nz, nz) != nz;
    differ += AddBits(pz, nz) != pz;
    differ += AddBits(nz, one) != one;
    EXPECT_EQ(differ, 0);
    EXPECT_GT(subnormal, 1000);
    EXPECT_GT(zero, 100);
    EXPECT_GT(infinite, 100);
}
