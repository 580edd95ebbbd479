// AudioEffect: the base class of every effect. It owns the record the host sees, turns the
// host's dispatcher opcodes into calls of its virtual operations, gives every operation a
// default, and wraps the few calls an effect can make back into the host.
#pragma once

#include <cstdint>
#include <memory>

#include "DAEffect.h"

namespace vurnel {

// The optional editor an effect may own; the dispatcher's four editor opcodes reach it.
class EffectEditor {
public:
    virtual ~EffectEditor() = default;
    virtual std::int32_t getRect(void** rect) = 0;
    virtual std::int32_t open(void* ptr) = 0;
    virtual void close() = 0;
    virtual void idle() = 0;
};

class AudioEffect {
public:
    // Fills the record; calls no virtual operation and makes no host call.
    AudioEffect(audioMasterCallback audioMaster, std::int32_t numPrograms, std::int32_t numParams);
    virtual ~AudioEffect();

    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    // The record handed to the host; its address is fixed for the life of the object.
    AEffect* getEffectRecord() { return &effectRecord; }

    // Audio: process adds to the output buffers, processReplacing overwrites them.
    virtual void process(float** inputs, float** outputs, std::int32_t sampleFrames) = 0;
    virtual void processReplacing(float** inputs, float** outputs, std::int32_t sampleFrames);

    // Opcodes 0..22; every other opcode answers 0 and calls nothing.
    virtual VstIntPtr dispatcher(std::int32_t opcode, std::int32_t index, VstIntPtr value,
                                 void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    virtual std::int32_t getProgram() { return curProgram; }
    virtual void setProgram(std::int32_t program) { curProgram = program; }
    virtual void setProgramName(char* /*name*/) {}
    virtual void getProgramName(char* name) { name[0] = '\0'; }
    virtual void getParameterLabel(std::int32_t /*index*/, char* label) { label[0] = '\0'; }
    virtual void getParameterDisplay(std::int32_t /*index*/, char* text) { text[0] = '\0'; }
    virtual void getParameterName(std::int32_t /*index*/, char* text) { text[0] = '\0'; }
    virtual float getVu() { return 0.0f; }
    virtual void setSampleRate(float rate) { sampleRate = rate; }
    virtual void setBlockSize(std::int32_t size) { blockSize = size; }
    virtual void suspend() {}
    virtual void resume() {}
    virtual void setUniqueID(std::int32_t id) { effectRecord.uniqueID = id; }
    virtual void setNumInputs(std::int32_t count) { effectRecord.numInputs = count; }
    virtual void setNumOutputs(std::int32_t count) { effectRecord.numOutputs = count; }
    virtual void hasVu(bool state) { setFlag(effFlagsHasVu, state); }
    virtual void hasClip(bool state) { setFlag(effFlagsHasClip, state); }
    virtual void canMono(bool state) { setFlag(effFlagsCanMono, state); }
    virtual void canProcessReplacing(bool state) { setFlag(effFlagsCanReplacing, state); }
    virtual void setRealtimeQualities(std::int32_t quality) {
        effectRecord.realQualities = quality;
    }
    virtual void setOfflineQualities(std::int32_t quality) { effectRecord.offQualities = quality; }
    virtual void setInitialDelay(std::int32_t delay) { effectRecord.initialDelay = delay; }
    virtual float getSampleRate() { return sampleRate; }
    virtual std::int32_t getBlockSize() { return blockSize; }

    // Host wrappers. Each tests audioMaster first; without a host it answers the default.
    virtual std::int32_t getMasterVersion();   // 1 when the host answers 0 or is absent
    virtual std::int32_t getCurrentUniqueId(); // 0 without a host
    virtual void masterIdle();
    virtual bool isInputConnected(std::int32_t input);   // true when the host answers 0
    virtual bool isOutputConnected(std::int32_t output); // the same rule

    virtual void setParameter(std::int32_t /*index*/, float /*value*/) {}
    virtual float getParameter(std::int32_t /*index*/) { return 0.0f; }
    // Calls this effect's setParameter, then tells the host (its answer is ignored).
    virtual void setParameterAutomated(std::int32_t index, float value);

protected:
    void setFlag(std::int32_t bit, bool state) {
        if (state)
            effectRecord.flags |= bit;
        else
            effectRecord.flags &= ~bit;
    }
    VstIntPtr callHost(std::int32_t opcode, std::int32_t index, VstIntPtr value, void* ptr,
                       float opt);

    float sampleRate;
    std::unique_ptr<EffectEditor> editor;
    audioMasterCallback audioMaster;
    std::int32_t numPrograms;
    std::int32_t numParams;
    std::int32_t curProgram;
    std::int32_t blockSize;
    AEffect effectRecord;
};

// The five entry points a host reaches through the record. Each finds the effect through the
// record's object field and makes one call; no C++ exception leaves them.
// Any host thread; they allocate only what the effect's operation allocates.
VstIntPtr VURNEL_VSTCALL DispatchEntry(AEffect* e, std::int32_t opcode, std::int32_t index,
                                       VstIntPtr value, void* ptr, float opt) noexcept;
// The host's audio thread; never allocates.
void VURNEL_VSTCALL ProcessEntry(AEffect* e, float** inputs, float** outputs,
                                 std::int32_t sampleFrames) noexcept;
// The host's audio thread; never allocates.
void VURNEL_VSTCALL ProcessReplacingEntry(AEffect* e, float** inputs, float** outputs,
                                          std::int32_t sampleFrames) noexcept;
// Any host thread; may design filters, does not allocate.
void VURNEL_VSTCALL SetParameterEntry(AEffect* e, std::int32_t index, float value) noexcept;
// Any host thread; does not allocate.
float VURNEL_VSTCALL GetParameterEntry(AEffect* e, std::int32_t index) noexcept;

} // namespace vurnel
