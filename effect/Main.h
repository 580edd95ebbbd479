// TMirvakEffect: a stereo bass and treble tone control. Each channel's output is the dry input
// plus a first-order Butterworth lowpass copy scaled by the bass gain plus a first-order
// Butterworth highpass copy scaled by the treble gain.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "DAudioE.h"
#include "LockFree.h"
#include "dspIIRFilters.h"

namespace vurnel {

class TMirvakEffect : public AudioEffect {
public:
    static constexpr std::int32_t kUniqueID = FourCharCode('Z', 'K', 'R', 'W');
    enum Parameter : std::int32_t { kBassCutoff = 0, kTrebleCutoff = 1, kBass = 2, kTreble = 3 };

    // The two counts are ignored: the effect always has 1 program and 4 parameters.
    // Any thread; allocates the effect's filters.
    TMirvakEffect(audioMasterCallback audioMaster, std::int32_t numPrograms,
                  std::int32_t numParams);
    ~TMirvakEffect() override;

    // The host's audio thread; never allocates, locks or waits.
    void process(float** inputs, float** outputs, std::int32_t sampleFrames) override;
    // The host's audio thread; never allocates, locks or waits.
    void processReplacing(float** inputs, float** outputs, std::int32_t sampleFrames) override;

    // Any thread; no allocation. Indices look only at their low 8 bits.
    void getParameterLabel(std::int32_t index, char* label) override;
    void getParameterDisplay(std::int32_t index, char* text) override;
    void getParameterName(std::int32_t index, char* text) override;
    // Any thread but the audio thread of this instance (it may wait for another setter's
    // design, a few microseconds); no allocation.
    void setSampleRate(float rate) override;
    void setParameter(std::int32_t index, float value) override;
    // Any thread; no allocation, no lock.
    float getParameter(std::int32_t index) override;
    // As setParameter, except that a cutoff change (indices 0 and 1) leaves the redesigned
    // filters' histories as they are instead of starting them from silence, so a cutoff moved in
    // small steps keeps the sound going. Same threads as setParameter; no allocation.
    void SetParameterKeepingState(std::int32_t index, float value);

    // Cutoffs in hertz, or mapped from a parameter value when normalised is true.
    void SetBassCutoff(bool normalised, float value);
    void SetTrebleCutoff(bool normalised, float value);
    static float ParameterToGain(float x);
    static float GainToParameter(float g);

    // What the left channel runs right now (the right one runs the same), for computing the
    // effect's response. Any thread but the audio thread of this instance; no allocation.
    struct ToneDesign {
        long double sampleRate;
        dsp::TdspIIRDesignSnapshot bass, treble;
        float bassGain, trebleGain;
    };
    ToneDesign CurrentDesign();

private:
    enum FilterSlot { kBassLeft = 0, kTrebleLeft = 1, kBassRight = 2, kTrebleRight = 3 };

    // Every filter's design as the audio thread runs it, and for each the design count of the
    // design whose histories it continues (its own count unless it kept the histories).
    struct Designs {
        dsp::TdspIIRDesignSnapshot filter[4];
        std::uint64_t historyOf[4];
    };
    // The audio thread's own state of one filter: its histories and which design they belong to.
    struct Runner {
        long double XV[dsp::MaxPoleZero];
        long double YV[dsp::MaxPoleZero];
        std::uint64_t designCount;
    };

    void SetCutoff(dsp::TdspIIRFilter& left, dsp::TdspIIRFilter& right, long double hertz,
                   bool keepHistories);
    void PublishDesigns(bool keepHistories);
    void AdoptDesigns();
    template <bool Accumulate> void Render(float** inputs, float** outputs, std::int32_t frames);
    template <bool Accumulate>
    void RenderInterleaved(float** inputs, float** outputs, std::int32_t frames, float bassGain,
                           float trebleGain);
    template <bool Accumulate>
    void RenderChannel(const float* in, float* out, std::int32_t frames, int bassSlot,
                       int trebleSlot, float bassGain, float trebleGain);
    long double RunFilter(int slot, long double x);

    std::atomic<float> BassGain{0.0f};
    std::atomic<float> TrebleGain{0.0f};
    std::unique_ptr<dsp::TdspIIRFilter> BassFilterLeft;
    std::unique_ptr<dsp::TdspIIRFilter> TrebleFilterLeft;
    std::unique_ptr<dsp::TdspIIRFilter> BassFilterRight;
    std::unique_ptr<dsp::TdspIIRFilter> TrebleFilterRight;

    // Setter side: serialises designs; the cutoffs as the left filters hold them, for read-back.
    std::mutex setterMutex;
    SeqLockedExtended bassCutoff;
    SeqLockedExtended trebleCutoff;
    // Each filter's design count when it was last published, and the one its histories belong to.
    std::uint64_t publishedCount[4] = {~std::uint64_t{0}, ~std::uint64_t{0}, ~std::uint64_t{0},
                                       ~std::uint64_t{0}};
    std::uint64_t historyOf[4] = {};
    // Hand-over of finished designs to the audio thread.
    TripleBuffer<Designs> designs;
    // Audio side.
    Runner runners[4]{};
};

} // namespace vurnel
