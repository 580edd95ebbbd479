// Complex arithmetic in the extended format.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dspcomplex.h"

using namespace vurnel::dsp;

namespace {
void ExpectComplex(TComplex z, long double re, long double im) {
    EXPECT_EQ(z.re, re);
    EXPECT_EQ(z.im, im);
}
} // namespace

TEST(Complex, ArgumentsAreRealThenImaginary) {
    ExpectComplex(Complex(2, 0), 2, 0);
    ExpectComplex(CSub(Complex(1, 2), Complex(3, 5)), -2, -3);
    ExpectComplex(CConj(Complex(1, 2)), 1, -2);
    ExpectComplex(CNeg(Complex(1, -2)), -1, 2);
    ExpectComplex(CMul(Complex(1, 2), Complex(3, 4)), -5, 10);
    ExpectComplex(CScale(Complex(1, -2), 0.5L), 0.5L, -1);
    ExpectComplex(CSqr(Complex(1, 2)), -3, 4);
    ExpectComplex(CFromAngle(0), 1, 0);
}

TEST(Complex, DivisionDividesByTheSecondOperand) {
    ExpectComplex(CDiv(Complex(1, 0), Complex(0, 1)), 0, -1);
    ExpectComplex(CDiv(Complex(-5, 10), Complex(3, 4)), 1, 2);
    const TComplex q = CDiv(Complex(1, 1), Complex(0, 0));
    EXPECT_TRUE(std::isnan(q.re));
    EXPECT_TRUE(std::isnan(q.im));
}

TEST(Complex, SquareRootIsPrincipalAndTakesTheSignOfTheImaginaryPart) {
    ExpectComplex(CSqrt(Complex(3, 4)), 2, 1);
    ExpectComplex(CSqrt(Complex(3, -4)), 2, -1);
    ExpectComplex(CSqrt(Complex(-4, 0)), 0, 2);
    ExpectComplex(CSqrt(Complex(-4, -0.0L)), 0, 2); // -0 counts as non-negative
    ExpectComplex(CSqrt(Complex(4, 0)), 2, 0);
    ExpectComplex(CSqrt(Complex(0, 0)), 0, 0);
    const TComplex n = CSqrt(Complex(std::numeric_limits<long double>::quiet_NaN(), 1));
    EXPECT_TRUE(std::isnan(n.re) && std::isnan(n.im));
    // The real part is never negative, even where rounding leaves r + re slightly below 0.
    for (long double im : {1e-30L, -1e-30L, 1e-300L})
        EXPECT_GE(CSqrt(Complex(-1, im)).re, 0);
}

TEST(Complex, ModulusIsFiniteWheneverRepresentable) {
    EXPECT_EQ(CAbs(Complex(3, 4)), 5);
    EXPECT_EQ(CAbs(Complex(-3, 0)), 3);
    const long double big = std::numeric_limits<long double>::max() / 4;
    const long double m = CAbs(Complex(big, big));
    EXPECT_TRUE(std::isfinite(m));
    EXPECT_NEAR(static_cast<double>(m / big), std::sqrt(2.0), 1e-15);
    const long double tiny = std::numeric_limits<long double>::denorm_min();
    EXPECT_GT(CAbs(Complex(tiny, tiny)), 0);
}

TEST(Complex, SqrtNonNegClampsNegativesOnly) {
    EXPECT_EQ(SqrtNonNeg(-1), 0);
    EXPECT_EQ(SqrtNonNeg(9), 3);
    EXPECT_FALSE(std::signbit(SqrtNonNeg(-0.0L)));
    EXPECT_TRUE(std::isnan(SqrtNonNeg(std::numeric_limits<long double>::quiet_NaN())));
}

TEST(Complex, ResultMayOverwriteAnOperand) {
    TComplex z = Complex(1, 2);
    z = CMul(z, z);
    ExpectComplex(z, -3, 4);
    TComplex a = Complex(1, 2), b = Complex(3, 5);
    a = CSub(a, b);
    ExpectComplex(a, -2, -3);
    TComplex d = Complex(-5, 10);
    d = CDiv(d, Complex(3, 4));
    ExpectComplex(d, 1, 2);
}
