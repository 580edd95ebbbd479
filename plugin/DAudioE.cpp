#include "DAudioE.h"

#include <cmath>
#include <cstring>

namespace vurnel {

AudioEffect::AudioEffect(audioMasterCallback master, std::int32_t programs, std::int32_t params)
    : sampleRate(44100.0f), editor(), audioMaster(master), numPrograms(programs), numParams(params),
      curProgram(0), blockSize(1024) {
    std::memset(static_cast<void*>(&effectRecord), 0, sizeof effectRecord);
    effectRecord.magic = kEffectMagic;
    effectRecord.dispatcher = DispatchEntry;
    effectRecord.process = ProcessEntry;
    effectRecord.setParameter = SetParameterEntry;
    effectRecord.getParameter = GetParameterEntry;
    effectRecord.numPrograms = programs;
    effectRecord.numParams = params;
    effectRecord.numInputs = 1;
    effectRecord.numOutputs = 2;
    effectRecord.ioRatio = 1.0f;
    effectRecord.object = this;
    effectRecord.user = nullptr;
    effectRecord.uniqueID = FourCharCode('N', 'o', 'E', 'f');
    effectRecord.version = 1;
    effectRecord.processReplacing = ProcessReplacingEntry;
}

AudioEffect::~AudioEffect() = default; // the editor, if any, goes with the object

void AudioEffect::processReplacing(float** /*inputs*/, float** /*outputs*/,
                                   std::int32_t /*sampleFrames*/) {}

VstIntPtr AudioEffect::dispatcher(std::int32_t opcode, std::int32_t index, VstIntPtr value,
                                  void* ptr, float opt) {
    switch (static_cast<std::uint32_t>(opcode)) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        // Only programs that exist: a negative number would index an effect's programs out of
        // bounds.
        if (value >= 0 && value < numPrograms) setProgram(static_cast<std::int32_t>(value));
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        setProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetProgramName:
        getProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetParamLabel:
        getParameterLabel(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamDisplay:
        getParameterDisplay(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamName:
        getParameterName(index, static_cast<char*>(ptr));
        return 0;
    case effGetVu:
        // The exact product (a float times 32767 fits a double), rounded by the current
        // rounding mode (to nearest, ties to even, by default), whatever precision float
        // expressions are evaluated in.
        return static_cast<VstIntPtr>(std::lrint(static_cast<double>(getVu()) * 32767.0));
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<std::int32_t>(value));
        return 0;
    case effMainsChanged:
        if (value == 0)
            suspend();
        else
            resume();
        return 0;
    case effEditGetRect: {
        if (!editor) return 0;
        void** location = static_cast<void**>(ptr);
        void* rect = *location;
        const std::int32_t result = editor->getRect(&rect);
        *location = rect;
        return result;
    }
    case effEditOpen:
        return editor ? editor->open(ptr) : 0;
    case effEditClose:
        if (editor) editor->close();
        return 0;
    case effEditIdle:
        if (editor) editor->idle();
        return 0;
    case effIdentify:
        return FourCharCode('N', 'v', 'E', 'f');
    default:
        return 0;
    }
}

VstIntPtr AudioEffect::callHost(std::int32_t opcode, std::int32_t index, VstIntPtr value, void* ptr,
                                float opt) {
    return audioMaster(&effectRecord, opcode, index, value, ptr, opt);
}

std::int32_t AudioEffect::getMasterVersion() {
    if (!audioMaster) return 1;
    const VstIntPtr answer = callHost(audioMasterVersion, 0, 0, nullptr, 0.0f);
    return answer == 0 ? 1 : static_cast<std::int32_t>(answer);
}

std::int32_t AudioEffect::getCurrentUniqueId() {
    if (!audioMaster) return 0;
    return static_cast<std::int32_t>(callHost(audioMasterCurrentId, 0, 0, nullptr, 0.0f));
}

void AudioEffect::masterIdle() {
    if (audioMaster) callHost(audioMasterIdle, 0, 0, nullptr, 0.0f);
}

bool AudioEffect::isInputConnected(std::int32_t input) {
    if (!audioMaster) return true;
    return callHost(audioMasterPinConnected, input, 0, nullptr, 0.0f) == 0;
}

bool AudioEffect::isOutputConnected(std::int32_t output) {
    if (!audioMaster) return true;
    return callHost(audioMasterPinConnected, output, 1, nullptr, 0.0f) == 0;
}

void AudioEffect::setParameterAutomated(std::int32_t index, float value) {
    setParameter(index, value);
    if (audioMaster) callHost(audioMasterAutomate, index, 0, nullptr, value);
}

namespace {
AudioEffect* EffectOf(AEffect* e) {
    return static_cast<AudioEffect*>(e->object);
}
} // namespace

VstIntPtr VURNEL_VSTCALL DispatchEntry(AEffect* e, std::int32_t opcode, std::int32_t index,
                                       VstIntPtr value, void* ptr, float opt) noexcept {
    try {
        AudioEffect* effect = EffectOf(e);
        const VstIntPtr answer = effect->dispatcher(opcode, index, value, ptr, opt);
        if (opcode == effClose) {
            delete effect; // the record goes with it
            return 1;
        }
        return answer;
    } catch (...) {
        return 0;
    }
}

void VURNEL_VSTCALL ProcessEntry(AEffect* e, float** inputs, float** outputs,
                                 std::int32_t sampleFrames) noexcept {
    try {
        EffectOf(e)->process(inputs, outputs, sampleFrames);
    } catch (...) {
    }
}

void VURNEL_VSTCALL ProcessReplacingEntry(AEffect* e, float** inputs, float** outputs,
                                          std::int32_t sampleFrames) noexcept {
    try {
        EffectOf(e)->processReplacing(inputs, outputs, sampleFrames);
    } catch (...) {
    }
}

void VURNEL_VSTCALL SetParameterEntry(AEffect* e, std::int32_t index, float value) noexcept {
    try {
        EffectOf(e)->setParameter(index, value);
    } catch (...) {
    }
}

float VURNEL_VSTCALL GetParameterEntry(AEffect* e, std::int32_t index) noexcept {
    try {
        return static_cast<float>(EffectOf(e)->getParameter(index));
    } catch (...) {
        return 0.0f;
    }
}

} // namespace vurnel
