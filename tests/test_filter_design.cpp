// The design: documented worked values and the structure of every design.
#include <gtest/gtest.h>

#include <cmath>

#include "filter_helpers.h"

using namespace vurnel::dsp;
using namespace vurnel::test;

constexpr double kPi = 3.14159265358979323846;
namespace {

void ExpectDesign(const TdspIIRFilter& f, std::vector<long double> x, std::vector<long double> y,
                  long double gain) {
    ASSERT_EQ(f.GetNumTaps(), static_cast<int>(y.size()));
    for (std::size_t i = 0; i < x.size(); ++i)
        EXPECT_EQ(SixDigits(f.GetXCoeffs()[i]), SixDigits(x[i])) << "XCoeffs[" << i << "]";
    for (std::size_t i = 0; i < y.size(); ++i)
        EXPECT_EQ(SixDigits(f.GetYCoeffs()[i]), SixDigits(y[i])) << "YCoeffs[" << i << "]";
    EXPECT_EQ(SixDigits(f.GetGainFactor()), SixDigits(gain));
}

TdspIIRFilter& Make(TdspIIRFilter& f, const Design& d) {
    Configure(f, d);
    return f;
}

} // namespace

TEST(Design, DefaultFilterIsAFirstOrderButterworthLowpassAt300Hz) {
    TdspIIRFilter f;
    EXPECT_EQ(f.GetNumTaps(), 1);
    EXPECT_EQ(SixDigits(f.GetZPoles()[0].re), SixDigits(0.958145L));
    EXPECT_EQ(f.GetZZeros()[0].re, -1);
    EXPECT_EQ(f.GetZZeros()[0].im, 0);
    EXPECT_EQ(f.GetXCoeffs()[0], 1); // exactly
    ExpectDesign(f, {1}, {0.958145L}, 0.0209273L);
    EXPECT_EQ(f.GetRoutine(), TdspSampleRoutine::FilterSample);
    EXPECT_TRUE(f.GetErrorText().empty());
}

TEST(Design, DocumentedWorkedValues) {
    TdspIIRFilter f;
    ExpectDesign(Make(f, {fkButterworth, ftHighpass, 1, 3000}), {-1}, {0.643348L}, 0.821674L);
    EXPECT_EQ(f.GetZZeros()[0].re, 1);
    EXPECT_EQ(f.GetXCoeffs()[0], -1);

    TdspIIRFilter b2;
    ExpectDesign(Make(b2, {fkButterworth, ftLowpass, 2, 1000}), {1, 2}, {-0.817512L, 1.79910L},
                 0.00460400L);
    TdspIIRFilter c2;
    ExpectDesign(Make(c2, {fkChebyshev, ftLowpass, 2, 1000, 3000, 44100, 0.5L}), {1, 2},
                 {-0.816611L, 1.78878L}, 0.00695893L);
    TdspIIRFilter be;
    ExpectDesign(Make(be, {fkBessel, ftLowpass, 3, 1000}), {1, 3, 3},
                 {0.614265L, -2.15364L, 2.53302L}, 0.000793260L);
    TdspIIRFilter bp;
    ExpectDesign(Make(bp, {fkButterworth, ftBandpass, 2, 1000, 3000}), {1, 0, -2, 0},
                 {-0.668369L, 2.84822L, -4.67415L, 3.49125L}, 0.0168487L);
    TdspIIRFilter bs;
    ExpectDesign(Make(bs, {fkButterworth, ftBandstop, 2, 1000, 3000}),
                 {1, -3.87799L, 5.75971L, -3.87799L}, {-0.668369L, 2.84822L, -4.67415L, 3.49125L},
                 0.817365L);
    TdspIIRFilter cbp;
    ExpectDesign(Make(cbp, {fkChebyshev, ftBandpass, 2, 1000, 3000, 44100, 1}), {1, 0, -2, 0},
                 {-0.733141L, 3.02729L, -4.84203L, 3.54473L}, 0.0187769L);
    TdspIIRFilter cbs;
    ExpectDesign(Make(cbs, {fkChebyshev, ftBandstop, 2, 1000, 3000, 44100, 1}),
                 {1, -3.87799L, 5.75971L, -3.87799L}, {-0.754064L, 3.10037L, -4.92676L, 3.57724L},
                 0.860963L);
}

TEST(Design, ButterworthPrototypePolesRunByIncreasingAngle) {
    TdspIIRFilter f;
    Make(f, {fkButterworth, ftLowpass, 2, 1000});
    // The lowpass scales the prototype by the pre-warped frequency: compare angles.
    const TComplex* p = f.GetSPoles();
    EXPECT_NEAR(static_cast<double>(std::atan2(p[0].im, p[0].re)), 3 * kPi / 4, 1e-15);
    EXPECT_NEAR(static_cast<double>(std::atan2(p[1].im, p[1].re)), -3 * kPi / 4, 1e-15);
    // Odd orders have one pole at angle π: −1 up to the rounding of π itself.
    for (int order : {1, 3, 5, 7}) {
        TdspIIRFilter odd;
        Make(odd, {fkChebyshev, ftLowpass, order, 1000, 3000, 44100, 0.5L});
        int real = 0;
        for (int i = 0; i < odd.GetSNumPoles(); ++i)
            real += std::fabs(odd.GetSPoles()[i].im) < 1e-15L * std::fabs(odd.GetSPoles()[i].re);
        EXPECT_EQ(real, 1) << order;
    }
}

TEST(Design, BesselStartsWithTheRealPoleThenConjugatePairs) {
    TdspIIRFilter f;
    Make(f, {fkBessel, ftLowpass, 3, 1000});
    const TComplex* p = f.GetSPoles();
    const long double w = 2 * std::tan(Pi * 1000 / 44100);
    EXPECT_EQ(p[0].im, 0);
    EXPECT_EQ(p[0].re, -1.32267579991L * w);
    EXPECT_EQ(p[1].re, -1.04740916101L * w);
    EXPECT_EQ(p[1].im, 0.999264436281L * w);
    EXPECT_EQ(p[2].im, -p[1].im);
}

TEST(Design, ChebyshevRippleFaultFallsBackToButterworthAndKeepsItsText) {
    TdspIIRFilter c, b;
    Make(c, {fkChebyshev, ftLowpass, 2, 1000, 3000, 44100, 1000});
    Make(b, {fkButterworth, ftLowpass, 2, 1000});
    EXPECT_EQ(c.GetErrorText(), "Chebyshev filter error y=0; must be .gt. 0.0");
    EXPECT_EQ(Coeffs(c.GetYCoeffs(), 2), Coeffs(b.GetYCoeffs(), 2));
    EXPECT_EQ(c.GetGainFactor(), b.GetGainFactor());
    c.SetKind(fkButterworth); // a later design without a fault leaves the text
    EXPECT_EQ(c.GetErrorText(), "Chebyshev filter error y=0; must be .gt. 0.0");

    TdspIIRFilter zero; // ripple 0: eps floors at 1e-10, no fault
    Make(zero, {fkChebyshev, ftLowpass, 4, 1000});
    EXPECT_TRUE(zero.GetErrorText().empty());
    TdspIIRFilter butter4;
    Make(butter4, {fkButterworth, ftLowpass, 4, 1000});
    // y = asinh(1e10)/4 ≈ 5.93: the poles are stretched, unlike Butterworth's.
    EXPECT_NE(zero.GetSPoles()[0].re, butter4.GetSPoles()[0].re);
    const long double y = 23.7189981105L / 4;
    EXPECT_NEAR(static_cast<double>(zero.GetSPoles()[0].re / butter4.GetSPoles()[0].re),
                static_cast<double>(std::sinh(y)), 1e-6 * static_cast<double>(std::sinh(y)));
}

TEST(Design, BandEdgesInEitherOrderGiveTheSameFilter) {
    for (auto response : {ftBandpass, ftBandstop}) {
        TdspIIRFilter a, b;
        Make(a, {fkButterworth, response, 3, 1000, 3000});
        Make(b, {fkButterworth, response, 3, 3000, 1000});
        EXPECT_EQ(Coeffs(a.GetXCoeffs(), 6), Coeffs(b.GetXCoeffs(), 6));
        EXPECT_EQ(Coeffs(a.GetYCoeffs(), 6), Coeffs(b.GetYCoeffs(), 6));
        EXPECT_EQ(a.GetGainFactor(), b.GetGainFactor());
    }
}

TEST(Design, FrequencyBelowTheFloorIsDesignedAtTheFloor) {
    TdspIIRFilter low, floor;
    Make(low, {fkButterworth, ftLowpass, 8, 10});
    Make(floor, {fkButterworth, ftLowpass, 8, 0.0008L * 44100});
    EXPECT_EQ(Coeffs(low.GetYCoeffs(), 8), Coeffs(floor.GetYCoeffs(), 8));
    EXPECT_EQ(low.GetFrequency(1), 10); // the property keeps what was set
}

TEST(Design, EqualBandEdgesSilenceABandpassAndPassABandstop) {
    TdspIIRFilter bp, bs, bpLow;
    Make(bp, {fkButterworth, ftBandpass, 2, 2000, 2000});
    Make(bs, {fkButterworth, ftBandstop, 2, 2000, 2000});
    Make(bpLow, {fkButterworth, ftBandpass, 2, 1, 5}); // both below the floor
    EXPECT_EQ(bp.GetRoutine(), TdspSampleRoutine::Silence);
    EXPECT_EQ(bs.GetRoutine(), TdspSampleRoutine::PassThrough);
    EXPECT_EQ(bpLow.GetRoutine(), TdspSampleRoutine::Silence);
    EXPECT_EQ(bp.GetNumTaps(), 4); // designed all the same
    EXPECT_TRUE(std::isfinite(bp.GetGainFactor()));
    for (long double x : {1.0L, -3.5L, std::numeric_limits<long double>::infinity()}) {
        EXPECT_EQ(bp.ProcessSample(x), 0);
        EXPECT_FALSE(std::signbit(bp.ProcessSample(x)));
        EXPECT_EQ(bs.ProcessSample(x), x);
    }
    EXPECT_EQ(bp.ProcessSample(std::nanl("")), 0);
    EXPECT_TRUE(std::isnan(bs.ProcessSample(std::nanl(""))));
    for (int i = 0; i < MaxPoleZero; ++i)
        EXPECT_EQ(bs.GetXV()[i], 0);
}

TEST(Design, LargestDesignFitsTheArrays) {
    for (auto kind : {fkButterworth, fkChebyshev, fkBessel}) {
        for (auto response : {ftBandpass, ftBandstop}) {
            TdspIIRFilter f;
            Make(f, {kind, response, 8, 1000, 5000, 44100, 1});
            EXPECT_EQ(f.GetSNumPoles(), 16);
            EXPECT_EQ(f.GetNumTaps(), 16);
            EXPECT_EQ(f.GetZNumZeros(), 16);
            EXPECT_TRUE(f.GetErrorText().empty()) << f.GetErrorText();
        }
    }
}

TEST(Design, BandstopZerosLieOnTheUnitCircleAtTheCentre) {
    TdspIIRFilter f;
    Make(f, {fkButterworth, ftBandstop, 2, 1000, 3000});
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(static_cast<double>(CAbs(f.GetZZeros()[i])), 1, 1e-17);
    EXPECT_GT(f.GetZZeros()[0].im, 0);
    EXPECT_EQ(f.GetZZeros()[1].im, f.GetZZeros()[0].im);
    EXPECT_EQ(f.GetZZeros()[2].im, -f.GetZZeros()[0].im);
}

TEST(Design, NonRealCoefficientsAreReportedLineByLine) {
    // A design never produces them; the expansion step reports roots that are not conjugates.
    struct Probe : TdspIIRFilter {
        void Expand(std::vector<TComplex> roots) {
            TComplex a[MaxPoleZero];
            ExpandPolynomial(roots.data(), static_cast<int>(roots.size()), a);
        }
    } f;
    f.Expand({Complex(0, 1), Complex(0, -1)}); // z² + 1: real
    EXPECT_TRUE(f.GetErrorText().empty());
    f.Expand({Complex(1, 1), Complex(2, 0)}); // z² − (3 + j)z + 2 + 2j
    EXPECT_EQ(f.GetErrorText(),
              "Coeff of z^0 is not real; poles/zeros are not complex conjugates\r\n"
              "Coeff of z^1 is not real; poles/zeros are not complex conjugates\r\n");
    f.Expand({Complex(0, 1e-11L)}); // within Epsilon: no fault, and the old text stays
    EXPECT_EQ(f.GetErrorText().size(), 2 * 66u);
    f.Expand({Complex(0, 1), Complex(0, 1)}); // z² − 2jz − 1: only z^1
    EXPECT_EQ(f.GetErrorText(),
              "Coeff of z^1 is not real; poles/zeros are not complex conjugates\r\n");
}
