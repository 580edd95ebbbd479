// The editor's model without a window: its axes, and its values clamped as the ports clamp them
// whatever the input.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Lv2ToneControl.h"
#include "ToneEditorModel.h"

using vurnel::Lv2ToneControl;
using vurnel::ToneEditorModel;

TEST(EditorModel, AxesMapPixelsToHertzAndDecibelsBothWays) {
    ToneEditorModel m(44100.0);
    for (double scale : {1.0, 1.5, 2.0}) {
        m.Layout(static_cast<int>(640 * scale), static_cast<int>(380 * scale), scale);
        const auto& g = m.Graph();
        EXPECT_DOUBLE_EQ(m.XOfHz(20.0), g.x);
        EXPECT_NEAR(m.XOfHz(20000.0), g.x + g.w, 1e-9);
        EXPECT_DOUBLE_EQ(m.YOfDb(20.0), g.y);
        EXPECT_DOUBLE_EQ(m.YOfDb(-20.0), g.y + g.h);
        for (double hz : {31.0, 440.0, 9000.0})
            EXPECT_NEAR(m.HzOfX(m.XOfHz(hz)), hz, 1e-9 * hz);
        for (double db : {-13.0, 0.0, 7.5})
            EXPECT_NEAR(m.DbOfY(m.YOfDb(db)), db, 1e-12);
        // The curve stops below half the sample rate.
        const auto& curve = m.CurveDb();
        EXPECT_LT(m.HzOfX(g.x + curve.size() - 0.5), 22050.0);
        EXPECT_GT(curve.size(), g.w * 0.95);
    }
}

TEST(EditorModel, ValuesStayWhereThePortsWouldClampThem) {
    ToneEditorModel m(48000.0);
    const float odd[] = {std::numeric_limits<float>::quiet_NaN(), -1e30f, 1e30f,
                         std::numeric_limits<float>::infinity(), 123.0f};
    for (int c = 0; c < 4; ++c)
        for (float v : odd) {
            m.SetValue(c, v);
            EXPECT_EQ(m.Value(c), Lv2ToneControl::Clamp(4 + c, v));
        }
    // Wild drags and wheels on every target: never outside the ranges.
    for (int t = 0; t < ToneEditorModel::kTargets; ++t) {
        const double x = t < 4 ? m.KnobCentreX(t) : m.HandleX(t);
        const double y = t < 4 ? m.KnobCentreY(t) : m.HandleY(t);
        m.Press(x, y, 10000u * (t + 1), false);
        for (double d : {1e9, -1e9, 37.0, -1e6})
            m.Motion(x + d, y + d, d < 0);
        m.Release();
        m.Wheel(x, y, 100000, t % 2 == 0, false);
        for (int c = 0; c < 4; ++c) {
            const auto& r = Lv2ToneControl::RangeOf(4 + c);
            EXPECT_GE(m.Value(c), r.minimum);
            EXPECT_LE(m.Value(c), r.maximum);
        }
    }
}
