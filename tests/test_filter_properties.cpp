// The filter's properties, its setters, and what a running filter must do.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "filter_helpers.h"

using namespace vurnel::dsp;
using namespace vurnel::test;

namespace {
const long double kNaN = std::numeric_limits<long double>::quiet_NaN();

// Puts something in the histories so that a redesign shows.
void Dirty(TdspIIRFilter& f) {
    f.ProcessSample(1);
    f.ProcessSample(0.5L);
}
bool HistoriesClear(const TdspIIRFilter& f) {
    for (int i = 0; i < MaxPoleZero; ++i)
        if (f.GetXV()[i] != 0 || f.GetYV()[i] != 0) return false;
    return true;
}
} // namespace

TEST(Properties, NewFilterReadsBackItsDefaults) {
    TdspIIRFilter f;
    EXPECT_EQ(f.GetKind(), fkButterworth);
    EXPECT_EQ(f.GetResponse(), ftLowpass);
    EXPECT_EQ(f.GetOrder(), 1);
    EXPECT_EQ(f.GetFrequency(1), 300);
    EXPECT_EQ(f.GetFrequency(2), 300); // a lowpass reads Frequency1 for both
    EXPECT_EQ(f.GetSampleRate(), 44100);
    EXPECT_EQ(f.GetRipple(), 0);
    EXPECT_EQ(f.GetDesignCount(), 1u);
}

TEST(Properties, InvalidEnumerationsAndOrdersChangeNothing) {
    TdspIIRFilter f;
    Dirty(f);
    f.SetKind(static_cast<TdspIIRFilterKind>(fkElliptic + 1));
    f.SetResponse(static_cast<TdspIIRFilterResponse>(ftHighShelf + 1));
    f.SetOrder(0);
    f.SetOrder(9);
    EXPECT_EQ(f.GetKind(), fkButterworth);
    EXPECT_EQ(f.GetResponse(), ftLowpass);
    EXPECT_EQ(f.GetOrder(), 1);
    EXPECT_EQ(f.GetDesignCount(), 1u);
    EXPECT_FALSE(HistoriesClear(f));
}

TEST(Properties, ASetterThatStoresNothingKeepsTheHistories) {
    TdspIIRFilter f;
    Dirty(f);
    f.SetKind(fkButterworth);
    f.SetResponse(ftLowpass);
    f.SetOrder(1);
    f.SetFrequency(1, 300);
    f.SetSampleRate(44100);
    f.SetRipple(0);
    f.SetRipple(-0.0L);
    f.SetSampleRate(kNaN);
    EXPECT_EQ(f.GetDesignCount(), 1u);
    EXPECT_FALSE(HistoriesClear(f));
}

TEST(Properties, FrequenciesAreClampedBelowNyquistAndAboveEpsilon) {
    TdspIIRFilter f;
    const long double upper = 44100.0L / 2 - 0.0001L;
    f.SetFrequency(1, 30000);
    EXPECT_EQ(f.GetFrequency(1), upper);
    const auto designs = f.GetDesignCount();
    f.SetFrequency(1, 40000); // clamps to what is already held: no redesign
    EXPECT_EQ(f.GetDesignCount(), designs);
    f.SetFrequency(1, 0);
    EXPECT_EQ(f.GetFrequency(1), Epsilon);
    f.SetFrequency(1, -5);
    EXPECT_EQ(f.GetFrequency(1), Epsilon);
    f.SetFrequency(1, kNaN);
    EXPECT_EQ(f.GetFrequency(1), upper);
}

TEST(Properties, SecondFrequencyIsReadOnlyForBandResponses) {
    TdspIIRFilter f;
    f.SetFrequency(2, 1000);
    EXPECT_EQ(f.GetFrequency(2), 300);
    f.SetResponse(ftBandpass);
    EXPECT_EQ(f.GetFrequency(2), 1000);
    f.SetFrequency(7, 1200); // any index but 1 writes Frequency2
    EXPECT_EQ(f.GetFrequency(2), 1200);
}

TEST(Properties, SampleRateIgnoresNonPositiveValuesAndLowersFrequencies) {
    TdspIIRFilter f;
    f.SetResponse(ftBandpass);
    for (long double bad : {0.0L, -44100.0L, kNaN})
        f.SetSampleRate(bad);
    EXPECT_EQ(f.GetSampleRate(), 44100);
    f.SetSampleRate(4000);
    EXPECT_EQ(f.GetFrequency(2), 4000.0L / 2 - 0.0001L);
    EXPECT_EQ(f.GetFrequency(1), 300);
    f.SetSampleRate(44100); // a lowered frequency stays lowered
    EXPECT_EQ(f.GetFrequency(2), 4000.0L / 2 - 0.0001L);
    const auto designs = f.GetDesignCount();
    f.SetSampleRate(48000); // a new rate redesigns even when no frequency moves
    EXPECT_EQ(f.GetDesignCount(), designs + 1);
}

TEST(Properties, RippleIsStoredAsItsMagnitudeAndDesignsOnlyChebyshev) {
    TdspIIRFilter f;
    Dirty(f);
    f.SetRipple(-3);
    EXPECT_EQ(f.GetRipple(), 3);
    EXPECT_EQ(f.GetDesignCount(), 1u); // Butterworth ignores the ripple
    EXPECT_FALSE(HistoriesClear(f));
    f.SetKind(fkChebyshev);
    TdspIIRFilter c;
    Configure(c, {fkChebyshev, ftLowpass, 1, 300, 3000, 44100, 3});
    EXPECT_EQ(f.GetYCoeffs()[0], c.GetYCoeffs()[0]);
    const auto designs = f.GetDesignCount();
    f.SetRipple(-3);
    EXPECT_EQ(f.GetDesignCount(), designs);
    f.SetRipple(2);
    EXPECT_EQ(f.GetDesignCount(), designs + 1);
}

TEST(Properties, AttenuationIsClampedIgnoresNonFiniteAndDesignsOnlyItsKinds) {
    TdspIIRFilter f;
    EXPECT_EQ(f.GetAttenuation(), 40);
    Dirty(f);
    f.SetAttenuation(-60); // stored as its magnitude; Butterworth does not use it
    EXPECT_EQ(f.GetAttenuation(), 60);
    EXPECT_EQ(f.GetDesignCount(), 1u);
    EXPECT_FALSE(HistoriesClear(f));
    for (long double bad : {kNaN, std::numeric_limits<long double>::infinity()})
        f.SetAttenuation(bad);
    EXPECT_EQ(f.GetAttenuation(), 60);
    f.SetAttenuation(1000);
    EXPECT_EQ(f.GetAttenuation(), MaxAttenuation);
    f.SetAttenuation(0.01L);
    EXPECT_EQ(f.GetAttenuation(), MinAttenuation);
    for (auto kind : {fkChebyshev2, fkElliptic}) {
        f.SetKind(kind);
        const auto designs = f.GetDesignCount();
        f.SetAttenuation(50);
        f.SetRipple(kind == fkElliptic ? 0.5L : 0.25L); // only the elliptic filter uses it
        EXPECT_EQ(f.GetDesignCount(), designs + (kind == fkElliptic ? 2u : 1u)) << kind;
        f.SetAttenuation(50);
        EXPECT_EQ(f.GetDesignCount(), designs + (kind == fkElliptic ? 2u : 1u)) << kind;
        f.SetAttenuation(1);
    }
}

TEST(Properties, EllipticNeedsAttenuationAboveRippleElseItIsButterworth) {
    TdspIIRFilter f, butterworth;
    f.SetRipple(3);
    f.SetAttenuation(3);
    f.SetOrder(4);
    butterworth.SetOrder(4);
    f.SetKind(fkElliptic);
    EXPECT_EQ(f.GetErrorText(), "Elliptic filter error: attenuation 3 dB must exceed ripple 3 dB");
    EXPECT_EQ(Coeffs(f.GetYCoeffs(), 4), Coeffs(butterworth.GetYCoeffs(), 4));
}

TEST(Properties, ShelvesAreButterworthOnlyAndGainIsClamped) {
    TdspIIRFilter f;
    EXPECT_EQ(f.GetGain(), 0);
    f.SetGain(12); // no shelf yet: stored, no design
    EXPECT_EQ(f.GetDesignCount(), 1u);
    f.SetResponse(ftLowShelf);
    EXPECT_EQ(f.GetDesignCount(), 2u);
    f.SetGain(99);
    EXPECT_EQ(f.GetGain(), MaxShelfGain);
    f.SetGain(-99);
    EXPECT_EQ(f.GetGain(), -MaxShelfGain);
    f.SetGain(kNaN);
    EXPECT_EQ(f.GetGain(), -MaxShelfGain);
    EXPECT_EQ(f.GetDesignCount(), 4u);
    EXPECT_TRUE(f.GetErrorText().empty());
    f.SetKind(fkChebyshev); // refused while the response is a shelf
    EXPECT_EQ(f.GetKind(), fkButterworth);
    EXPECT_NE(f.GetErrorText().find("Butterworth filters only"), std::string::npos);
    TdspIIRFilter e;
    e.SetKind(fkElliptic);
    const auto designs = e.GetDesignCount();
    e.SetResponse(ftHighShelf); // refused for any kind but Butterworth
    EXPECT_EQ(e.GetResponse(), ftLowpass);
    EXPECT_EQ(e.GetDesignCount(), designs);
    EXPECT_NE(e.GetErrorText().find("Butterworth filters only"), std::string::npos);
}

TEST(Processing, FirstOutputAfterADesignIsTheGainFactor) {
    TdspIIRFilter f;
    const long double g = f.GetGainFactor();
    const long double b = f.GetYCoeffs()[0];
    EXPECT_EQ(f.ProcessSample(1), g);
    EXPECT_EQ(f.ProcessSample(0), g * (1 + b));
    EXPECT_EQ(f.ProcessSample(0), b * (g * (1 + b)));
    EXPECT_EQ(SixDigits(g), SixDigits(0.0209273L));
    f.SetFrequency(1, 400); // a change mid-stream restarts from silence
    EXPECT_TRUE(HistoriesClear(f));
    EXPECT_EQ(f.ProcessSample(2), 2 * f.GetGainFactor());
}

TEST(Processing, LowpassSettlesAtUnityForDC) {
    for (auto kind : {fkButterworth, fkChebyshev, fkBessel}) {
        for (int order = 1; order <= 8; ++order) {
            TdspIIRFilter f;
            Configure(f, {kind, ftLowpass, order, 2000, 3000, 44100, 1});
            const long double y = Settle(f, 20000, [](int) { return 1.0L; });
            EXPECT_NEAR(static_cast<double>(y), 1.0, 1e-9) << kind << " order " << order;
        }
    }
}

TEST(Processing, HighpassSettlesAtUnityForANyquistAlternation) {
    for (auto kind : {fkButterworth, fkChebyshev, fkBessel}) {
        for (int order = 1; order <= 8; ++order) {
            TdspIIRFilter f;
            Configure(f, {kind, ftHighpass, order, 2000, 3000, 44100, 1});
            const long double y = Settle(f, 20000, [](int i) { return i % 2 ? -1.0L : 1.0L; });
            EXPECT_NEAR(static_cast<double>(std::fabs(y)), 1.0, 1e-9) << kind << " " << order;
        }
    }
}

TEST(Processing, BandpassPassesItsCentreAndStopsDC) {
    TdspIIRFilter f;
    Configure(f, {fkButterworth, ftBandpass, 4, 1000, 3000});
    // Unity gain at the mean of the two normalised edges, where the design normalises.
    const long double w = Pi * (1000 + 3000) / 44100;
    long double peak = 0;
    for (int i = 0; i < 40000; ++i) {
        const long double y = f.ProcessSample(std::cos(w * i));
        if (i > 30000) peak = std::fmax(peak, std::fabs(y));
    }
    EXPECT_NEAR(static_cast<double>(peak), 1.0, 1e-3);
    const long double dc = Settle(f, 40000, [](int) { return 1.0L; });
    EXPECT_NEAR(static_cast<double>(dc), 0.0, 1e-9);
}

TEST(Processing, NaNPoisonsTheHistoriesUntilTheNextDesign) {
    TdspIIRFilter f;
    f.ProcessSample(1);
    EXPECT_TRUE(std::isnan(f.ProcessSample(kNaN)));
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(std::isnan(f.ProcessSample(0)));
    f.SetFrequency(1, 1000);
    EXPECT_TRUE(std::isfinite(f.ProcessSample(1)));
}

TEST(Ownership, AnOwnerDestroysTheFiltersItOwns) {
    struct Counted : TdspIIRFilter {
        explicit Counted(TComponent* owner, int* count) : TdspIIRFilter(owner), count(count) {}
        ~Counted() override { ++*count; }
        int* count;
    };
    int destroyed = 0;
    {
        TComponent owner(nullptr);
        new Counted(&owner, &destroyed);
        auto* early = new Counted(&owner, &destroyed);
        EXPECT_EQ(owner.ComponentCount(), 2);
        delete early; // leaves its owner's list
        EXPECT_EQ(owner.ComponentCount(), 1);
        EXPECT_EQ(destroyed, 1);
    }
    EXPECT_EQ(destroyed, 2);
}
