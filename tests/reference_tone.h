// The tone control written the plain way: four filters of the library, designed in place and
// run one sample at a time, position by position, left before right. The effect must produce
// exactly these bits whatever path it takes.
#pragma once

#include <cmath>
#include <cstdint>

#include "dspIIRFilters.h"

namespace vurnel::test {

class ReferenceTone {
public:
    ReferenceTone() {
        for (int i = 0; i < 4; ++i) {
            f[i].SetResponse(i % 2 == 0 ? dsp::ftLowpass : dsp::ftHighpass);
            f[i].SetSampleRate(44100.0L);
        }
        Cutoff(0, 50.0f);
        Cutoff(1, 10000.0f);
    }
    void SetParameter(std::int32_t index, float x) {
        switch (index & 0xFF) {
        case 0:
            Cutoff(0, static_cast<float>(450.0L * x + 50.0L));
            break;
        case 1:
            Cutoff(1, static_cast<float>(7000.0L * x + 3000.0L));
            break;
        case 2:
            bass = static_cast<float>(std::pow(10.0L, 2.0L * x - 1.0L) - 1.0L);
            break;
        case 3:
            treble = static_cast<float>(std::pow(10.0L, 2.0L * x - 1.0L) - 1.0L);
            break;
        }
    }
    void SetSampleRate(float rate) {
        for (auto& filter : f)
            filter.SetSampleRate(rate);
    }
    void Process(float** in, float** out, std::int32_t frames, bool accumulate) {
        for (std::int32_t i = 0; i < frames; ++i) {
            for (int c = 0; c < 2; ++c) {
                const long double x = in[c][i];
                const long double a = f[2 * c].ProcessSample(x);
                const long double t = accumulate ? a * bass + (out[c][i] + x) : a * bass + x;
                const long double b = f[2 * c + 1].ProcessSample(x);
                out[c][i] = static_cast<float>(b * treble + t);
            }
        }
    }

    // The filters, for looking at their state: bass left, treble left, bass right, treble right.
    const dsp::TdspIIRFilter& Filter(int i) const { return f[i]; }

private:
    void Cutoff(int band, float hertz) { // band 0 bass, 1 treble; left then right
        f[band].SetFrequency(1, hertz);
        f[band + 2].SetFrequency(1, hertz);
    }
    dsp::TdspIIRFilter f[4]; // bass left, treble left, bass right, treble right
    float bass = 0.0f, treble = 0.0f;
};

} // namespace vurnel::test
