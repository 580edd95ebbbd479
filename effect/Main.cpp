#include "Main.h"

#include "ToneKernel.h"
#include "dspExtendedBits.h"

#include <cmath>
#include <cstring>

namespace vurnel {

// How parameter changes meet the audio thread
// -------------------------------------------
// Hosts call setParameter and setSampleRate from user-interface or automation threads while
// processReplacing runs on the audio thread. The four TdspIIRFilter objects belong to the
// setter side: a cutoff or sample-rate change takes setterMutex (so two setter threads never
// design the same filter at once), runs the filters' setters exactly as a single-threaded
// effect would (each redesigns itself when its value changes), records the left filters'
// cutoffs for read-back, and publishes a snapshot of all four designs (coefficients, gain factor,
// chosen routine and design count) through a triple buffer.
//
// The audio thread never touches the setter-side filters and never locks, allocates or waits.
// At the start of each block it takes the newest published snapshot, if there is one; a filter
// whose design count has changed since its last block starts again from silent histories, as a
// redesigned filter does. (SetParameterKeepingState publishes a new design that names the old
// design's histories as its own, so the filter carries on from them instead.) Every sample of a
// block is therefore processed with one complete design of each filter, the old or the new one,
// never a mix. Gains are single 32-bit atomics read at the start of each block.
//
// getParameter and the display texts read the cutoffs from a sequence-locked copy written under
// setterMutex, and the gains from their atomics, so a value set on one thread reads back at once
// on that thread and no reader ever waits for a design. On one thread all of this reproduces
// exactly the output of an effect that designs and processes in place.

namespace {

const char* const kNames[4] = {"Bass cutoff", "Treble cutoff", "Bass", "Treble"};
const char kHzLabel[] = "  Hz    ";
const char kDbLabel[] = "  dB    ";

bool Overlaps(const float* a, const float* b, std::int32_t frames) {
    const auto a0 = reinterpret_cast<std::uintptr_t>(a);
    const auto b0 = reinterpret_cast<std::uintptr_t>(b);
    const auto bytes = static_cast<std::uintptr_t>(frames) * sizeof(float);
    return a0 < b0 + bytes && b0 < a0 + bytes;
}

// Buffers that share memory without being the same buffer.
bool OverlapsShifted(const float* a, const float* b, std::int32_t frames) {
    return a != b && Overlaps(a, b, frames);
}

int SignOf(long double coefficient) {
    return coefficient == 1.0L ? 1 : coefficient == -1.0L ? -1 : 0;
}

// A first-order step reads only entry 1 of each history (entry 0 is overwritten by the shift
// before it is read), so a block keeps those two values in locals.
template <typename Runner> FirstOrderState LoadState(const Runner& r) {
    return {r.XV[1], r.YV[1]};
}
template <typename Runner> void StoreState(Runner& r, const FirstOrderState& s) {
    r.XV[1] = s.prevT;
    r.YV[1] = s.prevY;
}

bool IsFirstOrder(const dsp::TdspIIRDesignSnapshot& d) {
    return d.Routine == dsp::TdspSampleRoutine::FilterSample && d.NumTaps == 1;
}

float BassHertz(float x) {
    return static_cast<float>(450.0L * x + 50.0L);
}

float TrebleHertz(float x) {
    return static_cast<float>(7000.0L * x + 3000.0L);
}

} // namespace

TMirvakEffect::TMirvakEffect(audioMasterCallback master, std::int32_t /*numPrograms*/,
                             std::int32_t /*numParams*/)
    : AudioEffect(master, 1, 4) {
    using namespace dsp;
    BassGain.store(0.0f);
    TrebleGain.store(0.0f);
    auto configure = [](TdspIIRFilterResponse response) {
        auto filter = std::make_unique<TdspIIRFilter>(nullptr);
        filter->SetKind(fkButterworth);
        filter->SetResponse(response);
        filter->SetOrder(1);
        return filter;
    };
    BassFilterLeft = configure(ftLowpass);
    TrebleFilterLeft = configure(ftHighpass);
    BassFilterRight = configure(ftLowpass);
    TrebleFilterRight = configure(ftHighpass);
    for (Runner& runner : runners)
        runner.designCount = ~std::uint64_t{0};
    setSampleRate(44100.0f);
    SetBassCutoff(false, 50.0f);
    SetTrebleCutoff(false, 10000.0f);
    setProgram(0);
    setNumInputs(2);
    setNumOutputs(2);
    canMono(true);
    canProcessReplacing(true);
    setUniqueID(kUniqueID);
}

TMirvakEffect::~TMirvakEffect() {
    BassFilterLeft.reset();
    TrebleFilterLeft.reset();
    BassFilterRight.reset();
    TrebleFilterRight.reset();
}

// ---------------------------------------------------------------------------------------------
// Mappings

float TMirvakEffect::ParameterToGain(float x) {
    return static_cast<float>(std::pow(10.0L, 2.0L * x - 1.0L) - 1.0L);
}

float TMirvakEffect::GainToParameter(float g) {
    return static_cast<float>((std::log10(static_cast<long double>(g) + 1.0L) + 1.0L) / 2.0L);
}

float TMirvakEffect::ParameterToHertz(std::int32_t index, float x) {
    return (index & 0xFF) == kBassCutoff ? BassHertz(x) : TrebleHertz(x);
}

void TMirvakEffect::SetBassCutoff(bool normalised, float value) {
    const float hertz = normalised ? BassHertz(value) : value;
    SetCutoff(*BassFilterLeft, *BassFilterRight, hertz, false);
}

void TMirvakEffect::SetTrebleCutoff(bool normalised, float value) {
    const float hertz = normalised ? TrebleHertz(value) : value;
    SetCutoff(*TrebleFilterLeft, *TrebleFilterRight, hertz, false);
}

void TMirvakEffect::SetCutoff(dsp::TdspIIRFilter& left, dsp::TdspIIRFilter& right,
                              long double hertz, bool keepHistories) {
    std::lock_guard<std::mutex> guard(setterMutex);
    const std::uint64_t before = left.GetDesignCount() + right.GetDesignCount();
    left.SetFrequency(1, hertz);
    right.SetFrequency(1, hertz);
    if (left.GetDesignCount() + right.GetDesignCount() == before) return; // nothing changed
    (&left == BassFilterLeft.get() ? bassCutoff : trebleCutoff).Store(left.GetFrequency(1));
    PublishDesigns(keepHistories);
}

void TMirvakEffect::setSampleRate(float rate) {
    std::lock_guard<std::mutex> guard(setterMutex);
    const long double wide = rate;
    BassFilterLeft->SetSampleRate(wide);
    TrebleFilterLeft->SetSampleRate(wide);
    BassFilterRight->SetSampleRate(wide);
    TrebleFilterRight->SetSampleRate(wide);
    bassCutoff.Store(BassFilterLeft->GetFrequency(1));
    trebleCutoff.Store(TrebleFilterLeft->GetFrequency(1));
    PublishDesigns(false);
}

TMirvakEffect::ToneDesign TMirvakEffect::CurrentDesign() {
    ToneDesign d;
    std::lock_guard<std::mutex> guard(setterMutex);
    d.sampleRate = BassFilterLeft->GetSampleRate();
    BassFilterLeft->TakeDesignSnapshot(d.bass);
    TrebleFilterLeft->TakeDesignSnapshot(d.treble);
    d.bassGain = BassGain.load(std::memory_order_relaxed);
    d.trebleGain = TrebleGain.load(std::memory_order_relaxed);
    return d;
}

void TMirvakEffect::PublishDesigns(bool keepHistories) {
    Designs& back = designs.Back();
    BassFilterLeft->TakeDesignSnapshot(back.filter[kBassLeft]);
    TrebleFilterLeft->TakeDesignSnapshot(back.filter[kTrebleLeft]);
    BassFilterRight->TakeDesignSnapshot(back.filter[kBassRight]);
    TrebleFilterRight->TakeDesignSnapshot(back.filter[kTrebleRight]);
    back.sampleRate = BassFilterLeft->GetSampleRate();
    // A filter redesigned here starts from silence unless asked to keep its histories; one that
    // was not redesigned goes on with whatever its histories belonged to.
    for (int slot = 0; slot < 4; ++slot) {
        const std::uint64_t count = back.filter[slot].DesignCount;
        if (count != publishedCount[slot]) {
            publishedCount[slot] = count;
            if (!keepHistories) historyOf[slot] = count;
        }
        back.historyOf[slot] = historyOf[slot];
    }
    designs.Publish();
}

// ---------------------------------------------------------------------------------------------
// Parameters

void TMirvakEffect::setParameter(std::int32_t index, float value) {
    switch (index & 0xFF) {
    case kBassCutoff:
        SetBassCutoff(true, value);
        break;
    case kTrebleCutoff:
        SetTrebleCutoff(true, value);
        break;
    case kBass:
        BassGain.store(ParameterToGain(value), std::memory_order_relaxed);
        break;
    case kTreble:
        TrebleGain.store(ParameterToGain(value), std::memory_order_relaxed);
        break;
    default:
        break;
    }
}

void TMirvakEffect::SetParameterKeepingState(std::int32_t index, float value) {
    switch (index & 0xFF) {
    case kBassCutoff:
        SetCutoff(*BassFilterLeft, *BassFilterRight, BassHertz(value), true);
        break;
    case kTrebleCutoff:
        SetCutoff(*TrebleFilterLeft, *TrebleFilterRight, TrebleHertz(value), true);
        break;
    default:
        setParameter(index, value);
        break;
    }
}

float TMirvakEffect::getParameter(std::int32_t index) {
    switch (index & 0xFF) {
    case kBassCutoff:
        return static_cast<float>((bassCutoff.Load() - 50.0L) / 450.0L);
    case kTrebleCutoff:
        return static_cast<float>((trebleCutoff.Load() - 3000.0L) / 7000.0L);
    case kBass:
        return GainToParameter(BassGain.load(std::memory_order_relaxed));
    case kTreble:
        return GainToParameter(TrebleGain.load(std::memory_order_relaxed));
    default:
        return 0.0f;
    }
}

void TMirvakEffect::getParameterName(std::int32_t index, char* text) {
    const int i = index & 0xFF;
    if (i < 4) std::strcpy(text, kNames[i]);
}

void TMirvakEffect::getParameterLabel(std::int32_t index, char* label) {
    const int i = index & 0xFF;
    if (i < 2)
        std::memcpy(label, kHzLabel, sizeof kHzLabel);
    else if (i < 4)
        std::memcpy(label, kDbLabel, sizeof kDbLabel);
}

void TMirvakEffect::getParameterDisplay(std::int32_t index, char* text) {
    auto gainText = [text](float gain) {
        AmplitudeToDbText(text, static_cast<float>(static_cast<long double>(gain) + 1.0L));
    };
    switch (index & 0xFF) {
    case kBassCutoff:
        FloatToDisplayText(text, static_cast<float>(bassCutoff.Load()));
        break;
    case kTrebleCutoff:
        FloatToDisplayText(text, static_cast<float>(trebleCutoff.Load()));
        break;
    case kBass:
        gainText(BassGain.load(std::memory_order_relaxed));
        break;
    case kTreble:
        gainText(TrebleGain.load(std::memory_order_relaxed));
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Audio

void TMirvakEffect::AdoptDesigns() {
    if (!designs.Acquire()) return;
    const Designs& current = designs.Front();
    for (int slot = 0; slot < 4; ++slot) {
        Runner& runner = runners[slot];
        const dsp::TdspIIRDesignSnapshot& d = current.filter[slot];
        runner.decay = IsFirstOrder(d) ? DecayBound(d.YCoeffs[0]) : 0;
        runner.tailFits = IsFirstOrder(d) && TailCoefficientsFit(d.GainFactor, d.YCoeffs[0]);
        if (runner.designCount == current.historyOf[slot]) continue;
        runner.designCount = current.historyOf[slot];
        for (int i = 0; i < dsp::MaxPoleZero; ++i)
            runner.XV[i] = runner.YV[i] = 0.0L;
    }
    // Each channel's pair, a first-order lowpass and highpass the Tail kernel may run, and the
    // channel's frame pointed at them.
    for (int channel = 0; channel < 2; ++channel) {
        const int b = channel == 0 ? kBassLeft : kBassRight, t = b + 1;
        Runner &br = runners[b], &tr = runners[t];
        const dsp::TdspIIRDesignSnapshot &bd = current.filter[b], &td = current.filter[t];
        const bool firstOrder = IsFirstOrder(bd) && IsFirstOrder(td);
        const bool standard =
            firstOrder && SignOf(bd.XCoeffs[0]) == 1 && SignOf(td.XCoeffs[0]) == -1;
        pairForm[channel] = standard     ? PairForm::Standard
                            : firstOrder ? PairForm::FirstOrder
                                         : PairForm::Higher;
        tailReady[channel] = br.tailFits && tr.tailFits && standard;
        if (tailReady[channel])
            BindTail(tails[channel], {bd.GainFactor, bd.YCoeffs[0], br.XV[1], br.YV[1]},
                     {td.GainFactor, td.YCoeffs[0], tr.XV[1], tr.YV[1]});
    }
}

SilentFilter TMirvakEffect::Silent(int slot) {
    const dsp::TdspIIRDesignSnapshot& d = designs.Front().filter[slot];
    Runner& r = runners[slot];
    return {d.GainFactor, d.YCoeffs[0], r.decay, d.DesignCount, r.XV[1], r.YV[1]};
}

// A NaN or an infinity that reached a filter stays in its histories and makes every later
// output NaN; a filter whose histories are no longer finite after a block starts again from
// silence, as a redesign starts it, so the output is finite again from the next block on.
// Finite input never makes them so: the states stay within a few times the input's range.
// outputs: the block's, frames > 0.
void TMirvakEffect::ClearNonFiniteHistories(float** outputs, std::int32_t frames) {
    // A state that is not finite makes every output that reads it NaN or infinite, the last one
    // of its channel included; the states are looked at only then.
    auto finite = [](float v) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return (bits & 0x7F800000u) != 0x7F800000u;
    };
    if (finite(outputs[0][frames - 1]) && finite(outputs[1][frames - 1])) return;
    // As bits, the exponent fields alone: an x87 test of a subnormal would take an assist.
    auto infinite = [](const long double& v) {
        unsigned char raw[sizeof(long double)];
        std::memcpy(raw, &v, sizeof raw);
        return (raw[8] | (raw[9] << 8) | 0x8000) == 0xFFFF;
    };
    const Designs& current = designs.Front();
    for (int slot = 0; slot < 4; ++slot) {
        Runner& r = runners[slot];
        const int n = current.filter[slot].NumTaps;
        bool bad = false;
        for (int i = n == 1 ? 1 : 0; i <= n; ++i) // a first-order step reads entry 1 alone
            bad = bad || infinite(r.XV[i]) || infinite(r.YV[i]);
        if (!bad) continue;
        for (int i = 0; i < dsp::MaxPoleZero; ++i)
            r.XV[i] = r.YV[i] = 0.0L;
    }
}

long double TMirvakEffect::RunFilter(int slot, long double x) {
    const dsp::TdspIIRDesignSnapshot& d = designs.Front().filter[slot];
    switch (d.Routine) {
    case dsp::TdspSampleRoutine::FilterSample: {
        Runner& r = runners[slot];
        return dsp::IIRFilterStep(d.NumTaps, d.GainFactor, d.XCoeffs, d.YCoeffs, r.XV, r.YV, x);
    }
    case dsp::TdspSampleRoutine::Silence:
        return 0.0L;
    case dsp::TdspSampleRoutine::PassThrough:
    default:
        return x;
    }
}

void TMirvakEffect::process(float** inputs, float** outputs, std::int32_t sampleFrames) {
    Render<true>(inputs, outputs, sampleFrames);
}

void TMirvakEffect::processReplacing(float** inputs, float** outputs, std::int32_t sampleFrames) {
    Render<false>(inputs, outputs, sampleFrames);
}

// Whether a channel's block may be a tail (RenderTail): input below kTinyInput, not all zeros, or
// zeros among a tail's last samples, on designs the Tail kernel may run.
inline bool TMirvakEffect::TailMayRun(int channel, const float* in) const {
    std::uint32_t first;
    std::memcpy(&first, in, sizeof first);
    const std::uint32_t size = first & 0x7FFFFFFFu;
    constexpr std::uint32_t kTinyBits = 0x1F800000u; // kTinyInput
    static_assert(0x1p-64f == kTinyInput);
    return tailReady[channel] & (size < kTinyBits) &
           ((size != 0) | (plans[channel].sinceTail < kTailLinger));
}

template <bool Accumulate>
void TMirvakEffect::Render(float** inputs, float** outputs, std::int32_t frames) {
    if (frames <= 0) return;
    AdoptDesigns();
    const float bassGain = BassGain.load(std::memory_order_relaxed);
    const float trebleGain = TrebleGain.load(std::memory_order_relaxed);
    float* inL = inputs[0];
    float* inR = inputs[1];
    float* outL = outputs[0];
    float* outR = outputs[1];
    // Channel by channel gives the same bits as position by position unless a channel's output
    // feeds the other channel's reads at another position: where they share memory they must
    // be the same buffer (then the right channel reads at each position what the left one
    // wrote there, and the left one reads what the right one has yet to write, either way).
    if (OverlapsShifted(outL, inR, frames) || OverlapsShifted(outL, outR, frames) ||
        OverlapsShifted(outR, inL, frames)) {
        RenderInterleaved<Accumulate>(inputs, outputs, frames, bassGain, trebleGain);
    } else {
        // (Sound is told from a tail here, in a few instructions, rather than in a call.)
        if (!(TailMayRun(0, inL) &&
              RenderTail<Accumulate>(0, inL, outL, frames, bassGain, trebleGain)))
            RenderChannel<Accumulate>(inL, outL, frames, kBassLeft, kTrebleLeft, bassGain,
                                      trebleGain);
        if (!(TailMayRun(1, inR) &&
              RenderTail<Accumulate>(1, inR, outR, frames, bassGain, trebleGain)))
            RenderChannel<Accumulate>(inR, outR, frames, kBassRight, kTrebleRight, bassGain,
                                      trebleGain);
    }
    ClearNonFiniteHistories(outputs, frames);
}

// A tail through the float subnormals (input below kTinyInput, not all zeros), or zeros among its
// last samples, goes straight to the Tail kernel, ahead of everything RenderChannel looks at:
// short blocks come by the thousand a second, and at blocks of a few frames looking cost as much
// as running. The designs were looked at once, as they came (tailReady, the channel's frame bound
// to them), and the states are not looked at where the kernel has just left them in range: read
// back at once as integers, its x87 stores would stall this AMD core, block after block.
template <bool Accumulate>
bool TMirvakEffect::RenderTail(int channel, const float* in, float* out, std::int32_t frames,
                               float bassGain, float trebleGain) {
    SilentPlan& plan = plans[channel];
    std::uint32_t first;
    std::memcpy(&first, in, sizeof first);
    const std::uint32_t size = first & 0x7FFFFFFFu;
    if (!TailGainsFit(bassGain, trebleGain)) return false;
    TailFrame& frame = tails[channel];
    if (!plan.tailFits && !(TailStateFits(*frame.uB) & TailStateFits(*frame.yB) &
                            TailStateFits(*frame.uT) & TailStateFits(*frame.yT)))
        return false;
    plan.valid = false;
    plan.sinceTail = size != 0 ? 0 : plan.sinceTail + frames;
    bool fits = false;
    const std::int32_t done =
        ToneTailBlock<Accumulate>(frame, in, out, frames, bassGain, trebleGain, fits);
    ++silentBlocks[static_cast<int>(SilentPath::Tail)];
    plan.tailFits = fits;
    if (done < frames) {
        // Zeros that have decayed the states out of the kernel's range: the rest as any other
        // block.
        plan.tailFits = false;
        const int bassSlot = channel == 0 ? kBassLeft : kBassRight;
        const SilentPath path =
            ChannelBlock<Accumulate>(Silent(bassSlot), Silent(bassSlot + 1), in + done, out + done,
                                     frames - done, bassGain, trebleGain, plan);
        ++silentBlocks[static_cast<int>(path)];
    }
    return true;
}

template <bool Accumulate>
void TMirvakEffect::RenderInterleaved(float** inputs, float** outputs, std::int32_t frames,
                                      float bassGain, float trebleGain) {
    for (SilentPlan& plan : plans) // the states move here otherwise
        plan.Forget();
    const Designs& d = designs.Front();
    bool firstOrder = true;
    for (const auto& design : d.filter)
        firstOrder = firstOrder && IsFirstOrder(design);
    bool standard = firstOrder;
    for (int slot = 0; slot < 4 && standard; ++slot)
        standard = SignOf(d.filter[slot].XCoeffs[0]) == (slot % 2 == 0 ? 1 : -1);
    if (standard) {
        const SilentFilter silent[4] = {Silent(0), Silent(1), Silent(2), Silent(3)};
        const SilentFilter* const order[4] = {&silent[kBassLeft], &silent[kTrebleLeft],
                                              &silent[kBassRight], &silent[kTrebleRight]};
        const SilentPath path = SilentInterleavedBlock<Accumulate>(order, inputs, outputs, frames,
                                                                   bassGain, trebleGain);
        silentBlocks[static_cast<int>(path)] += 2;
        if (path != SilentPath::Usual) return;
    } else {
        silentBlocks[static_cast<int>(SilentPath::Usual)] += 2;
    }
    if (firstOrder) {
        // The same position-by-position order with the four states in locals.
        FirstOrderDesign design[4];
        FirstOrderState state[4];
        for (int slot = 0; slot < 4; ++slot) {
            const auto& f = d.filter[slot];
            design[slot] = {f.GainFactor, f.XCoeffs[0], f.YCoeffs[0]};
            state[slot] = LoadState(runners[slot]);
        }
        for (std::int32_t i = 0; i < frames; ++i)
            for (int c = 0; c < 2; ++c)
                outputs[c][i] = ToneStep<Accumulate, 0, 0>(
                    design[2 * c], state[2 * c], design[2 * c + 1], state[2 * c + 1], inputs[c][i],
                    outputs[c][i], bassGain, trebleGain);
        for (int slot = 0; slot < 4; ++slot)
            StoreState(runners[slot], state[slot]);
        return;
    }
    for (std::int32_t i = 0; i < frames; ++i) {
        for (int channel = 0; channel < 2; ++channel) {
            const long double x = inputs[channel][i];
            const long double a = RunFilter(channel == 0 ? kBassLeft : kBassRight, x);
            long double t;
            if constexpr (Accumulate)
                t = a * bassGain + (outputs[channel][i] + x);
            else
                t = a * bassGain + x;
            const long double b = RunFilter(channel == 0 ? kTrebleLeft : kTrebleRight, x);
            outputs[channel][i] = static_cast<float>(b * trebleGain + t);
        }
    }
}

template <bool Accumulate>
void TMirvakEffect::RenderChannel(const float* in, float* out, std::int32_t frames, int bassSlot,
                                  int trebleSlot, float bassGain, float trebleGain) {
    const dsp::TdspIIRDesignSnapshot& bd = designs.Front().filter[bassSlot];
    const dsp::TdspIIRDesignSnapshot& td = designs.Front().filter[trebleSlot];
    const int channel = bassSlot == kBassLeft ? 0 : 1;
    SilentPlan& plan = plans[channel];
    // The Tail kernel did not run this block (RenderTail): whether it left the states in range
    // is for it to say, and they move here another way.
    plan.tailFits = false;
    if (pairForm[channel] == PairForm::Higher) {
        for (std::int32_t i = 0; i < frames; ++i) {
            const long double x = in[i];
            const long double a = RunFilter(bassSlot, x);
            long double t;
            if constexpr (Accumulate)
                t = a * bassGain + (out[i] + x);
            else
                t = a * bassGain + x;
            const long double b = RunFilter(trebleSlot, x);
            out[i] = static_cast<float>(b * trebleGain + t);
        }
        return;
    }
    Runner& br = runners[bassSlot];
    Runner& tr = runners[trebleSlot];
    if (pairForm[channel] == PairForm::Standard) {
        std::uint32_t first;
        std::memcpy(&first, in, sizeof first);
        // Sound: the usual kernel, nothing to look at. Zeros, and input so small that it may
        // be a tail into the float subnormals, go to the silent paths.
        constexpr std::uint32_t kTinyBits = 0x1F800000u; // kTinyInput
        static_assert(0x1p-64f == kTinyInput);
        if ((first & 0x7FFFFFFFu) >= kTinyBits) {
            plan.Forget();
            ToneChannelBlock<Accumulate>({bd.GainFactor, bd.YCoeffs[0], br.XV[1], br.YV[1]},
                                         {td.GainFactor, td.YCoeffs[0], tr.XV[1], tr.YV[1]}, in,
                                         out, frames, bassGain, trebleGain);
            ++silentBlocks[static_cast<int>(SilentPath::Usual)];
            return;
        }
        // Tails through the float subnormals, and zeros among their last samples, went to
        // RenderTail where it may run them.
        const SilentPath path = ChannelBlock<Accumulate>(Silent(bassSlot), Silent(trebleSlot), in,
                                                         out, frames, bassGain, trebleGain, plan);
        ++silentBlocks[static_cast<int>(path)];
        return;
    }
    const FirstOrderDesign bass{bd.GainFactor, bd.XCoeffs[0], bd.YCoeffs[0]};
    const FirstOrderDesign treble{td.GainFactor, td.XCoeffs[0], td.YCoeffs[0]};
    FirstOrderState bassState = LoadState(br);
    FirstOrderState trebleState = LoadState(tr);
    PlainToneBlock<Accumulate, 0, 0>(bass, bassState, treble, trebleState, in, out, frames,
                                     bassGain, trebleGain);
    StoreState(br, bassState);
    StoreState(tr, trebleState);
}

} // namespace vurnel
