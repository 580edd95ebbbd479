// TMirvakEffect: a stereo bass and treble tone control. Each channel's output is the dry input
// plus a first-order Butterworth lowpass copy scaled by the bass gain plus a first-order
// Butterworth highpass copy scaled by the treble gain.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "DAudioE.h"
#include "GlideKernel.h"
#include "LockFree.h"
#include "ToneSilence.h"
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
    // The cutoff in hertz of a parameter value of index 0 (bass) or 1 (treble), before the
    // filters limit it.
    static float ParameterToHertz(std::int32_t index, float x);

    // Glides, for hosts whose controls move smoothly (the LV2 plug-in's smooth switch). A glide
    // takes a parameter from where it is to `value` over `frames` frames, a little every sample:
    // a gain evenly in decibels, a cutoff evenly in the logarithm of its frequency. It ends
    // exactly where setParameter(index, value) puts the parameter, the gain's bits and the
    // cutoff's design included (the cutoff's filters keep their histories), and getParameter
    // reports the new value by the time it is over (a cutoff's from its last segment on). A glide
    // of a gliding parameter starts from where that glide is. Glides move only in
    // ProcessReplacingGliding and ProcessGliding; processReplacing and process leave them where
    // they are.
    // The thread that runs the audio; no allocation, no lock. A change that cannot glide
    // (frames < 1, a value the path cannot reach) is made at once by setParameter, with its
    // lock; false if that failed (the caller may try again).
    bool GlideParameter(std::int32_t index, float value, std::int32_t frames) noexcept;
    // Every glide ends at once, as setParameter of its value would end it. The thread that runs
    // the audio; no allocation; may wait for a setter on another thread, as setParameter does.
    void FinishGlides();
    // Whether any parameter glides. The thread that runs the audio.
    bool Gliding() const noexcept { return glidingMask != 0; }
    // processReplacing and process with the glides moving: the same calls while nothing glides.
    // The host's audio thread; never allocate, lock or wait (a cutoff glide designs its end under
    // a try-lock, and holds still while another thread is designing).
    void ProcessReplacingGliding(float** inputs, float** outputs,
                                 std::int32_t sampleFrames) noexcept;
    void ProcessGliding(float** inputs, float** outputs, std::int32_t sampleFrames) noexcept;

    // What the left channel runs right now (the right one runs the same), for computing the
    // effect's response. Any thread but the audio thread of this instance; no allocation.
    struct ToneDesign {
        long double sampleRate;
        dsp::TdspIIRDesignSnapshot bass, treble;
        float bassGain, trebleGain;
    };
    ToneDesign CurrentDesign();

    // How many channel blocks have run on each of the silent paths (SilentPath::None: the usual
    // kernels), for measurements and tests. The audio thread's own counts: read them on it.
    std::uint64_t SilentBlocks(SilentPath path) const {
        return silentBlocks[static_cast<int>(path)];
    }
    // A first-order filter's previous scaled input and previous output (slot: bass left, treble
    // left, bass right, treble right), for tests that hold them to a plain computation's bits.
    // The audio thread's own: read them on it.
    const long double& PreviousScaledInput(int slot) const { return runners[slot].XV[1]; }
    const long double& PreviousOutput(int slot) const { return runners[slot].YV[1]; }

private:
    enum FilterSlot { kBassLeft = 0, kTrebleLeft = 1, kBassRight = 2, kTrebleRight = 3 };

    // Every filter's design as the audio thread runs it, and for each the design count of the
    // design whose histories it continues (its own count unless it kept the histories).
    struct Designs {
        dsp::TdspIIRDesignSnapshot filter[4];
        std::uint64_t historyOf[4];
        long double sampleRate;
    };
    // The audio thread's own state of one filter: its histories and which design they belong to.
    struct Runner {
        long double XV[dsp::MaxPoleZero];
        long double YV[dsp::MaxPoleZero];
        std::uint64_t designCount;
        std::uint32_t decay; // DecayBound of a first-order design's feedback coefficient
        bool tailFits;       // a first-order design the Tail kernel may run (TailCoefficientsFit)
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
    bool TailMayRun(int channel, const float* in) const;
    template <bool Accumulate>
    bool RenderTail(int channel, const float* in, float* out, std::int32_t frames, float bassGain,
                    float trebleGain);
    long double RunFilter(int slot, long double x);
    SilentFilter Silent(int slot);
    void ClearNonFiniteHistories(float** outputs, std::int32_t frames);

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

    // A parameter on its way to a new value, in segments of at most kGainSegment or
    // kCutoffSegment frames: along the path (1 + gain, or hertz) the segments' ends are even
    // steps in its logarithm, and in between the gain or the band's coefficients move on a
    // straight line, a step per sample. A cutoff's last segment ends on the filters' own design.
    // The audio thread's own (GlideParameter, FinishGlides and the gliding renders).
    struct Glide {
        float value = 0.0f;                // the parameter value it ends on
        std::int32_t frames = 0, done = 0; // its length, and the frames gone
        // The current segment, in frames from the glide's start, and the path at its two ends.
        std::int32_t segmentStart = 0, segmentEnd = 0;
        long double startValue = 0.0L, endValue = 0.0L;
        long double finalValue = 0.0L; // a cutoff's path at the glide's end
        long double ratio = 1.0L;      // the path's factor from one segment end to the next
        long double gainStep = 0.0L;   // a gain's step per sample in this segment
        bool holding = false;          // a cutoff waiting to design its end
    };
    static constexpr std::int32_t kGainSegment = 256;
    static constexpr std::int32_t kCutoffSegment = 64;
    static constexpr std::int32_t kGlideChunk = kGainSegment;

    template <bool Accumulate>
    void RenderGliding(float** inputs, float** outputs, std::int32_t frames) noexcept;
    template <bool Accumulate>
    void RenderGlideChunk(float** inputs, float** outputs, std::int32_t offset, std::int32_t frames,
                          bool interleaved) noexcept;
    std::int32_t StartGlideSegments(std::int32_t frames) noexcept;
    void AdvanceGlides(std::int32_t frames) noexcept;
    long double GlidePosition(const Glide& glide) const noexcept;
    bool TryDesignCutoff(std::int32_t index, float value) noexcept;

    Glide glides[4];
    std::uint8_t glidingMask = 0; // bit i: parameter i glides
    GlideCoefficients glideBands[2] = {};
    float glideGains[2][kGlideChunk] = {};
    std::uint64_t silentBlocks[static_cast<int>(SilentPath::Count)] = {};
    SilentPlan plans[2]; // each channel's, for the next block of the same silence
    // Each channel's filters as the Tail kernel finds them, and whether it may run them
    // (AdoptDesigns); RenderTail's.
    TailFrame tails[2];
    bool tailReady[2] = {};
    // Each channel's pair of designs as RenderChannel takes them (AdoptDesigns): anything but
    // first-order filters, first-order ones of the standard form (a lowpass with feed-forward
    // coefficient +1 beside a highpass with −1, which the silent paths know), or other ones.
    enum class PairForm : std::uint8_t { Higher, Standard, FirstOrder };
    PairForm pairForm[2] = {PairForm::Higher, PairForm::Higher};
};

} // namespace vurnel
