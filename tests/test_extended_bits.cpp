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
