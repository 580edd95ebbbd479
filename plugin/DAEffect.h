// The effect record a VST 2 host reads, the host callback type and the entry-point types.
//
// The record is the one structure whose bytes are shared with the host. With 32-bit pointers it
// is 144 bytes; with 64-bit pointers every pointer is 8 bytes and naturally aligned, the two
// reserved integers are pointer-sized, and the reserved tail is one pointer-sized slot plus 56
// bytes (192 bytes in all). Both layouts are pinned below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "VstUtils.h"

#if defined(_WIN32) && !defined(_WIN64)
#define VURNEL_VSTCALL __cdecl
#else
#define VURNEL_VSTCALL
#endif

namespace vurnel {

// The dispatcher's and the host callback's `value` argument and result: int32 with 32-bit
// pointers, a pointer-sized signed integer with 64-bit pointers (what 64-bit hosts pass).
using VstIntPtr = std::intptr_t;

struct AEffect;

using audioMasterCallback = VstIntPtr(VURNEL_VSTCALL*)(AEffect* effect, std::int32_t opcode,
                                                       std::int32_t index, VstIntPtr value,
                                                       void* ptr, float opt);
using AEffectDispatcherProc = VstIntPtr(VURNEL_VSTCALL*)(AEffect* effect, std::int32_t opcode,
                                                         std::int32_t index, VstIntPtr value,
                                                         void* ptr, float opt);
using AEffectProcessProc = void(VURNEL_VSTCALL*)(AEffect* effect, float** inputs, float** outputs,
                                                 std::int32_t sampleFrames);
using AEffectSetParameterProc = void(VURNEL_VSTCALL*)(AEffect* effect, std::int32_t index,
                                                      float value);
using AEffectGetParameterProc = float(VURNEL_VSTCALL*)(AEffect* effect, std::int32_t index);

constexpr std::int32_t kEffectMagic = FourCharCode('V', 's', 't', 'P');

// Bits of AEffect::flags that the base class sets or clears.
enum AEffectFlags : std::int32_t {
    effFlagsHasClip = 2,
    effFlagsHasVu = 4,
    effFlagsCanMono = 8,
    effFlagsCanReplacing = 16,
};

// Dispatcher opcodes the base class answers.
enum AEffectOpcodes : std::int32_t {
    effOpen = 0,
    effClose = 1,
    effSetProgram = 2,
    effGetProgram = 3,
    effSetProgramName = 4,
    effGetProgramName = 5,
    effGetParamLabel = 6,
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effGetVu = 9,
    effSetSampleRate = 10,
    effSetBlockSize = 11,
    effMainsChanged = 12,
    effEditGetRect = 13,
    effEditOpen = 14,
    effEditClose = 15,
    effEditIdle = 19,
    effIdentify = 22,
};

// Host callback opcodes the base class may send.
enum AudioMasterOpcodes : std::int32_t {
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterCurrentId = 2,
    audioMasterIdle = 3,
    audioMasterPinConnected = 4,
};

struct AEffect {
    std::int32_t magic;
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process;
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    std::int32_t numPrograms;
    std::int32_t numParams;
    std::int32_t numInputs;
    std::int32_t numOutputs;
    std::int32_t flags;
    VstIntPtr resvd1;
    VstIntPtr resvd2;
    std::int32_t initialDelay;
    std::int32_t realQualities;
    std::int32_t offQualities;
    float ioRatio;
    void* object;
    void* user;
    std::int32_t uniqueID;
    std::int32_t version;
    AEffectProcessProc processReplacing;
    char future[sizeof(void*) + 56];
};

static_assert(sizeof(float) == 4 && sizeof(std::int32_t) == 4, "host boundary types");

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(AEffect) == 144, "32-bit record is 144 bytes");
static_assert(offsetof(AEffect, dispatcher) == 4 && offsetof(AEffect, process) == 8 &&
                  offsetof(AEffect, setParameter) == 12 && offsetof(AEffect, getParameter) == 16,
              "32-bit entry point offsets");
static_assert(offsetof(AEffect, numPrograms) == 20 && offsetof(AEffect, numParams) == 24 &&
                  offsetof(AEffect, numInputs) == 28 && offsetof(AEffect, numOutputs) == 32 &&
                  offsetof(AEffect, flags) == 36,
              "32-bit count offsets");
static_assert(offsetof(AEffect, resvd1) == 40 && offsetof(AEffect, resvd2) == 44 &&
                  offsetof(AEffect, initialDelay) == 48 && offsetof(AEffect, realQualities) == 52 &&
                  offsetof(AEffect, offQualities) == 56 && offsetof(AEffect, ioRatio) == 60,
              "32-bit quality offsets");
static_assert(offsetof(AEffect, object) == 64 && offsetof(AEffect, user) == 68 &&
                  offsetof(AEffect, uniqueID) == 72 && offsetof(AEffect, version) == 76 &&
                  offsetof(AEffect, processReplacing) == 80 && offsetof(AEffect, future) == 84,
              "32-bit tail offsets");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(AEffect) == 192, "64-bit record is 192 bytes");
static_assert(offsetof(AEffect, dispatcher) == 8 && offsetof(AEffect, process) == 16 &&
                  offsetof(AEffect, setParameter) == 24 && offsetof(AEffect, getParameter) == 32,
              "64-bit entry point offsets");
static_assert(offsetof(AEffect, numPrograms) == 40 && offsetof(AEffect, numParams) == 44 &&
                  offsetof(AEffect, numInputs) == 48 && offsetof(AEffect, numOutputs) == 52 &&
                  offsetof(AEffect, flags) == 56,
              "64-bit count offsets");
static_assert(offsetof(AEffect, resvd1) == 64 && offsetof(AEffect, resvd2) == 72 &&
                  offsetof(AEffect, initialDelay) == 80 && offsetof(AEffect, realQualities) == 84 &&
                  offsetof(AEffect, offQualities) == 88 && offsetof(AEffect, ioRatio) == 92,
              "64-bit quality offsets");
static_assert(offsetof(AEffect, object) == 96 && offsetof(AEffect, user) == 104 &&
                  offsetof(AEffect, uniqueID) == 112 && offsetof(AEffect, version) == 116 &&
                  offsetof(AEffect, processReplacing) == 120 && offsetof(AEffect, future) == 128,
              "64-bit tail offsets");
#else
#error "unsupported pointer width"
#endif

} // namespace vurnel
