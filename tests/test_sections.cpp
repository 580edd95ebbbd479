// The stability verdict of the recursion and the second-order sections that run every design.
// The verdict over the whole design space, the sections' response and impulse response are
// checked against mpmath and scipy in test_sections.py; these are the behaviours a caller sees.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dspSections.h"
#include "filter_helpers.h"

using namespace vurnel::dsp;
using namespace vurnel::test;

namespace {

// Butterworth bandpass, order 8, 200–400 Hz at 48 kHz: the z-plane poles lie inside the unit
// circle, the rounded recursion's largest root at |z| ≈ 1.09.
void MakeUnstableBandpass(TdspIIRFilter& f) {
    Configure(f, {fkButterworth, ftBandpass, 8, 200, 400, 48000});
}

} // namespace

TEST(Sections, UnstableRecursionIsReportedWhileItLastsAndItsSectionsStayBounded) {
    TdspIIRFilter f;
    MakeUnstableBandpass(f);
    ASSERT_FALSE(f.IsStable());
    EXPECT_NEAR(static_cast<double>(f.LargestRootMagnitude()), 1.0903, 1e-4);
    const std::string line = "Recursion unstable: its largest root has |z| = 1.090342354; run "
                             "this design as second-order sections (TdspIIRSections), which are "
                             "stable\r\n";
    EXPECT_EQ(f.GetErrorText(), line);
    f.DesignFilter(); // the same settings again: no second line
    EXPECT_EQ(f.GetErrorText(), line);
    TdspIIRFilter later; // a stable design takes the line back
    MakeUnstableBandpass(later);
    later.SetOrder(2);
    EXPECT_TRUE(later.IsStable());
    EXPECT_TRUE(later.GetErrorText().empty()) << later.GetErrorText();

    TdspIIRSections sections(f);
    EXPECT_TRUE(sections.IsStable());
    EXPECT_EQ(sections.GetNumSections(), 8);
    std::mt19937 rng(23);
    std::uniform_real_distribution<double> noise(-1, 1);
    long double sectionsPeak = 0, recursionPeak = 0;
    for (int i = 0; i < 10 * 48000; ++i) { // ten seconds of full-scale noise
        const long double x = noise(rng);
        sectionsPeak = std::fmax(sectionsPeak, std::fabs(sections.ProcessSample(x)));
        const long double y = f.ProcessSample(x);
        recursionPeak = std::isfinite(y) ? std::fmax(recursionPeak, std::fabs(y)) : INFINITY;
    }
    EXPECT_LT(sectionsPeak, 4); // a unit-gain band of full-scale noise
    EXPECT_GT(sectionsPeak, 0.1);
    EXPECT_GT(recursionPeak, 1e6); // what the recursion does with the same input
}

TEST(Sections, StableDesignsSayStableAndKeepTheirErrorTextEmpty) {
    TdspIIRFilter tone; // the tone control's kind: first order
    EXPECT_TRUE(tone.IsStable());
    EXPECT_EQ(tone.LargestRootMagnitude(), std::fabs(tone.GetYCoeffs()[0]));
    TdspIIRFilter band;
    Configure(band, {fkChebyshev, ftBandstop, 8, 1000, 5000, 44100, 1});
    EXPECT_TRUE(band.IsStable());
    EXPECT_LT(band.LargestRootMagnitude(), 1);
    EXPECT_TRUE(band.GetErrorText().empty()) << band.GetErrorText();
}

TEST(Sections, SilenceAndPassThroughDesignsBehaveAsTheFilterDoes) {
    TdspIIRFilter bp, bs;
    Configure(bp, {fkButterworth, ftBandpass, 2, 1000, 1000});
    Configure(bs, {fkButterworth, ftBandstop, 2, 1000, 1000});
    TdspIIRSections silence(bp), pass(bs);
    EXPECT_TRUE(bp.IsStable());
    EXPECT_EQ(silence.ProcessSample(0.5L), 0);
    EXPECT_EQ(pass.ProcessSample(0.5L), 0.5L);
    EXPECT_EQ(SectionsResponse(silence, 1).H.re, 0);
    EXPECT_EQ(SectionsResponse(pass, 1).H.re, 1);
    TdspIIRSections none; // default: passes through
    EXPECT_EQ(none.ProcessSample(0.25L), 0.25L);
}

TEST(Sections, BlockProcessingEqualsSampleBySample) {
    TdspIIRFilter f;
    MakeUnstableBandpass(f);
    TdspIIRSections a(f), b(f);
    std::vector<float> in(1000), out(1000);
    std::mt19937 rng(1);
    for (float& x : in)
        x = std::uniform_real_distribution<float>(-1, 1)(rng);
    a.ProcessBlock(in.data(), out.data(), 1000);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(out[i], static_cast<float>(b.ProcessSample(in[i]))) << i;
}
