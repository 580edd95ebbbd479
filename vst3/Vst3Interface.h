// The VST 3 binary interface as this project uses it, declared here from the interface's
// published facts (identifiers, vtable slot order, struct layouts, result codes): only what a
// stereo effect with parameters and state needs. Interfaces are abstract classes without data
// members or virtual destructors and with no overloaded virtual names, so that the Itanium C++
// ABI (g++, MinGW g++) and COM lay out their vtables alike: FUnknown's three slots first, then
// each interface's methods in declaration order. Every size and offset is pinned below.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define VURNEL_VST3_API __stdcall
#else
#define VURNEL_VST3_API
#endif

// An interface's destructor is protected and not virtual: objects go with release().
#define VURNEL_VST3_INTERFACE(Name)                                                                \
protected:                                                                                         \
    ~Name() = default;                                                                             \
                                                                                                   \
public:

namespace vurnel::vst3 {

using int8 = char;
using uint8 = std::uint8_t;
using int16 = std::int16_t;
using uint16 = std::uint16_t;
using int32 = std::int32_t;
using uint32 = std::uint32_t;
using int64 = std::int64_t;
using uint64 = std::uint64_t;
using TBool = std::uint8_t;
using tresult = std::int32_t;
using char8 = char;
using char16 = char16_t;
using TChar = char16_t;
using String128 = TChar[128];
using FIDString = const char8*;
using TUID = char[16];
using ParamID = std::uint32_t;
using ParamValue = double;
using MediaType = std::int32_t;
using BusDirection = std::int32_t;
using BusType = std::int32_t;
using IoMode = std::int32_t;
using UnitID = std::int32_t;
using SpeakerArrangement = std::uint64_t;
using Sample32 = float;
using Sample64 = double;
using SampleRate = double;
using TSamples = std::int64_t;

// Result codes: small integers on Linux, COM's HRESULTs on Windows.
#ifdef _WIN32
constexpr tresult kNoInterface = static_cast<tresult>(0x80004002u);
constexpr tresult kResultOk = 0;
constexpr tresult kResultTrue = 0;
constexpr tresult kResultFalse = 1;
constexpr tresult kInvalidArgument = static_cast<tresult>(0x80070057u);
constexpr tresult kNotImplemented = static_cast<tresult>(0x80004001u);
constexpr tresult kInternalError = static_cast<tresult>(0x80004005u);
constexpr tresult kNotInitialized = static_cast<tresult>(0x8000FFFFu);
constexpr tresult kOutOfMemory = static_cast<tresult>(0x8007000Eu);
#else
constexpr tresult kNoInterface = -1;
constexpr tresult kResultOk = 0;
constexpr tresult kResultTrue = 0;
constexpr tresult kResultFalse = 1;
constexpr tresult kInvalidArgument = 2;
constexpr tresult kNotImplemented = 3;
constexpr tresult kInternalError = 4;
constexpr tresult kNotInitialized = 5;
constexpr tresult kOutOfMemory = 6;
#endif

// A 16-byte interface or class identifier from its four 32-bit words, in the platform's byte
// order: the words' bytes most significant first on Linux; on Windows the GUID layout (the
// first word and the two halves of the second little-endian, the rest as on Linux).
struct Uid {
    char bytes[16];
};
constexpr char Byte(std::uint32_t word, int shift) {
    return static_cast<char>(static_cast<std::uint8_t>(word >> shift));
}
constexpr Uid MakeUid(std::uint32_t w1, std::uint32_t w2, std::uint32_t w3, std::uint32_t w4) {
#ifdef _WIN32
    return {{Byte(w1, 0), Byte(w1, 8), Byte(w1, 16), Byte(w1, 24), Byte(w2, 16), Byte(w2, 24),
             Byte(w2, 0), Byte(w2, 8), Byte(w3, 24), Byte(w3, 16), Byte(w3, 8), Byte(w3, 0),
             Byte(w4, 24), Byte(w4, 16), Byte(w4, 8), Byte(w4, 0)}};
#else
    return {{Byte(w1, 24), Byte(w1, 16), Byte(w1, 8), Byte(w1, 0), Byte(w2, 24), Byte(w2, 16),
             Byte(w2, 8), Byte(w2, 0), Byte(w3, 24), Byte(w3, 16), Byte(w3, 8), Byte(w3, 0),
             Byte(w4, 24), Byte(w4, 16), Byte(w4, 8), Byte(w4, 0)}};
#endif
}
// Whether 16 bytes at id are uid (a null id is no identifier).
bool SameUid(const char* id, const Uid& uid) noexcept;

// ---------------------------------------------------------------------------------------------
// Interfaces

class FUnknown {
public:
    VURNEL_VST3_INTERFACE(FUnknown)
    virtual tresult VURNEL_VST3_API queryInterface(const TUID iid, void** obj) = 0;
    virtual uint32 VURNEL_VST3_API addRef() = 0;
    virtual uint32 VURNEL_VST3_API release() = 0;
};

class IBStream : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IBStream)
    virtual tresult VURNEL_VST3_API read(void* buffer, int32 numBytes, int32* numBytesRead) = 0;
    virtual tresult VURNEL_VST3_API write(void* buffer, int32 numBytes, int32* numBytesWritten) = 0;
    virtual tresult VURNEL_VST3_API seek(int64 pos, int32 mode, int64* result) = 0;
    virtual tresult VURNEL_VST3_API tell(int64* pos) = 0;
};
enum : int32 { kIBSeekSet = 0, kIBSeekCur = 1, kIBSeekEnd = 2 };

class IPluginBase : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IPluginBase)
    virtual tresult VURNEL_VST3_API initialize(FUnknown* context) = 0;
    virtual tresult VURNEL_VST3_API terminate() = 0;
};

struct PFactoryInfo {
    char8 vendor[64];
    char8 url[256];
    char8 email[128];
    int32 flags;
};
enum : int32 {
    kFactoryNoFlags = 0,
    kClassesDiscardable = 1,
    kComponentNonDiscardable = 8,
    kUnicode = 16
};

struct PClassInfo {
    TUID cid;
    int32 cardinality;
    char8 category[32];
    char8 name[64];
};
constexpr int32 kManyInstances = 0x7FFFFFFF;

struct PClassInfo2 {
    TUID cid;
    int32 cardinality;
    char8 category[32];
    char8 name[64];
    uint32 classFlags;
    char8 subCategories[128];
    char8 vendor[64];
    char8 version[64];
    char8 sdkVersion[64];
};

struct PClassInfoW {
    TUID cid;
    int32 cardinality;
    char8 category[32];
    char16 name[64];
    uint32 classFlags;
    char8 subCategories[128];
    char16 vendor[64];
    char16 version[64];
    char16 sdkVersion[64];
};
enum : uint32 { kDistributable = 1, kSimpleModeSupported = 2 };

class IPluginFactory : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IPluginFactory)
    virtual tresult VURNEL_VST3_API getFactoryInfo(PFactoryInfo* info) = 0;
    virtual int32 VURNEL_VST3_API countClasses() = 0;
    virtual tresult VURNEL_VST3_API getClassInfo(int32 index, PClassInfo* info) = 0;
    virtual tresult VURNEL_VST3_API createInstance(FIDString cid, FIDString iid, void** obj) = 0;
};
class IPluginFactory2 : public IPluginFactory {
public:
    VURNEL_VST3_INTERFACE(IPluginFactory2)
    virtual tresult VURNEL_VST3_API getClassInfo2(int32 index, PClassInfo2* info) = 0;
};
class IPluginFactory3 : public IPluginFactory2 {
public:
    VURNEL_VST3_INTERFACE(IPluginFactory3)
    virtual tresult VURNEL_VST3_API getClassInfoUnicode(int32 index, PClassInfoW* info) = 0;
    virtual tresult VURNEL_VST3_API setHostContext(FUnknown* context) = 0;
};

enum : MediaType { kAudio = 0, kEvent = 1 };
enum : BusDirection { kInput = 0, kOutput = 1 };
enum : BusType { kMain = 0, kAux = 1 };
enum : uint32 { kDefaultActive = 1, kIsControlVoltage = 2 };
enum : IoMode { kSimple = 0, kAdvanced = 1, kOfflineProcessing = 2 };
enum : int32 { kSample32 = 0, kSample64 = 1 };
enum : int32 { kRealtime = 0, kPrefetch = 1, kOffline = 2 };
constexpr SpeakerArrangement kSpeakerL = 1u << 0;
constexpr SpeakerArrangement kSpeakerR = 1u << 1;
constexpr SpeakerArrangement kSpeakerM = 1u << 19;
constexpr SpeakerArrangement kEmptyArrangement = 0;
constexpr SpeakerArrangement kMonoArrangement = kSpeakerM;
constexpr SpeakerArrangement kStereoArrangement = kSpeakerL | kSpeakerR;
constexpr uint32 kNoTail = 0;
constexpr ParamID kNoParamId = 0xFFFFFFFFu;
constexpr UnitID kRootUnitId = 0;

struct BusInfo {
    MediaType mediaType;
    BusDirection direction;
    int32 channelCount;
    String128 name;
    BusType busType;
    uint32 flags;
};

struct RoutingInfo {
    MediaType mediaType;
    int32 busIndex;
    int32 channel;
};

class IComponent : public IPluginBase {
public:
    VURNEL_VST3_INTERFACE(IComponent)
    virtual tresult VURNEL_VST3_API getControllerClassId(TUID classId) = 0;
    virtual tresult VURNEL_VST3_API setIoMode(IoMode mode) = 0;
    virtual int32 VURNEL_VST3_API getBusCount(MediaType type, BusDirection dir) = 0;
    virtual tresult VURNEL_VST3_API getBusInfo(MediaType type, BusDirection dir, int32 index,
                                               BusInfo& bus) = 0;
    virtual tresult VURNEL_VST3_API getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) = 0;
    virtual tresult VURNEL_VST3_API activateBus(MediaType type, BusDirection dir, int32 index,
                                                TBool state) = 0;
    virtual tresult VURNEL_VST3_API setActive(TBool state) = 0;
    virtual tresult VURNEL_VST3_API setState(IBStream* state) = 0;
    virtual tresult VURNEL_VST3_API getState(IBStream* state) = 0;
};

struct ProcessSetup {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 maxSamplesPerBlock;
    SampleRate sampleRate;
};

struct AudioBusBuffers {
    int32 numChannels;
    uint64 silenceFlags;
    union {
        Sample32** channelBuffers32;
        Sample64** channelBuffers64;
    };
};

class IParamValueQueue : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IParamValueQueue)
    virtual ParamID VURNEL_VST3_API getParameterId() = 0;
    virtual int32 VURNEL_VST3_API getPointCount() = 0;
    virtual tresult VURNEL_VST3_API getPoint(int32 index, int32& sampleOffset,
                                             ParamValue& value) = 0;
    virtual tresult VURNEL_VST3_API addPoint(int32 sampleOffset, ParamValue value,
                                             int32& index) = 0;
};

class IParameterChanges : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IParameterChanges)
    virtual int32 VURNEL_VST3_API getParameterCount() = 0;
    virtual IParamValueQueue* VURNEL_VST3_API getParameterData(int32 index) = 0;
    virtual IParamValueQueue* VURNEL_VST3_API addParameterData(const ParamID& id, int32& index) = 0;
};

class IEventList; // not used: the effect has no event buses

struct Chord {
    uint8 keyNote;
    uint8 rootNote;
    int16 chordMask;
};
struct FrameRate {
    uint32 framesPerSecond;
    uint32 flags;
};
struct ProcessContext {
    uint32 state;
    double sampleRate;
    TSamples projectTimeSamples;
    int64 systemTime;
    TSamples continousTimeSamples;
    double projectTimeMusic;
    double barPositionMusic;
    double cycleStartMusic;
    double cycleEndMusic;
    double tempo;
    int32 timeSigNumerator;
    int32 timeSigDenominator;
    Chord chord;
    int32 smpteOffsetSubframes;
    FrameRate frameRate;
    int32 samplesToNextClock;
};

struct ProcessData {
    int32 processMode;
    int32 symbolicSampleSize;
    int32 numSamples;
    int32 numInputs;
    int32 numOutputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    IParameterChanges* inputParameterChanges;
    IParameterChanges* outputParameterChanges;
    IEventList* inputEvents;
    IEventList* outputEvents;
    ProcessContext* processContext;
};

class IAudioProcessor : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IAudioProcessor)
    virtual tresult VURNEL_VST3_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                       SpeakerArrangement* outputs,
                                                       int32 numOuts) = 0;
    virtual tresult VURNEL_VST3_API getBusArrangement(BusDirection dir, int32 index,
                                                      SpeakerArrangement& arr) = 0;
    virtual tresult VURNEL_VST3_API canProcessSampleSize(int32 symbolicSampleSize) = 0;
    virtual uint32 VURNEL_VST3_API getLatencySamples() = 0;
    virtual tresult VURNEL_VST3_API setupProcessing(ProcessSetup& setup) = 0;
    virtual tresult VURNEL_VST3_API setProcessing(TBool state) = 0;
    virtual tresult VURNEL_VST3_API process(ProcessData& data) = 0;
    virtual uint32 VURNEL_VST3_API getTailSamples() = 0;
};

class IProcessContextRequirements : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IProcessContextRequirements)
    virtual uint32 VURNEL_VST3_API getProcessContextRequirements() = 0;
};

struct ParameterInfo {
    ParamID id;
    String128 title;
    String128 shortTitle;
    String128 units;
    int32 stepCount;
    ParamValue defaultNormalizedValue;
    UnitID unitId;
    int32 flags;
};
enum : int32 {
    kNoParameterFlags = 0,
    kCanAutomate = 1,
    kIsReadOnly = 2,
    kIsWrapAround = 4,
    kIsList = 8,
    kIsHidden = 16,
    kIsProgramChange = 0x8000,
    kIsBypass = 0x10000
};

class IComponentHandler : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IComponentHandler)
    virtual tresult VURNEL_VST3_API beginEdit(ParamID id) = 0;
    virtual tresult VURNEL_VST3_API performEdit(ParamID id, ParamValue valueNormalized) = 0;
    virtual tresult VURNEL_VST3_API endEdit(ParamID id) = 0;
    virtual tresult VURNEL_VST3_API restartComponent(int32 flags) = 0;
};
enum : int32 { kParamValuesChanged = 0x4 };

class IPlugView;

class IEditController : public IPluginBase {
public:
    VURNEL_VST3_INTERFACE(IEditController)
    virtual tresult VURNEL_VST3_API setComponentState(IBStream* state) = 0;
    virtual tresult VURNEL_VST3_API setState(IBStream* state) = 0;
    virtual tresult VURNEL_VST3_API getState(IBStream* state) = 0;
    virtual int32 VURNEL_VST3_API getParameterCount() = 0;
    virtual tresult VURNEL_VST3_API getParameterInfo(int32 paramIndex, ParameterInfo& info) = 0;
    virtual tresult VURNEL_VST3_API getParamStringByValue(ParamID id, ParamValue valueNormalized,
                                                          String128 string) = 0;
    virtual tresult VURNEL_VST3_API getParamValueByString(ParamID id, TChar* string,
                                                          ParamValue& valueNormalized) = 0;
    virtual ParamValue VURNEL_VST3_API normalizedParamToPlain(ParamID id,
                                                              ParamValue valueNormalized) = 0;
    virtual ParamValue VURNEL_VST3_API plainParamToNormalized(ParamID id,
                                                              ParamValue plainValue) = 0;
    virtual ParamValue VURNEL_VST3_API getParamNormalized(ParamID id) = 0;
    virtual tresult VURNEL_VST3_API setParamNormalized(ParamID id, ParamValue value) = 0;
    virtual tresult VURNEL_VST3_API setComponentHandler(IComponentHandler* handler) = 0;
    virtual IPlugView* VURNEL_VST3_API createView(FIDString name) = 0;
};

// The editor's interfaces. A view's size is in pixels; width = right − left.
struct ViewRect {
    int32 left = 0, top = 0, right = 0, bottom = 0;
};
constexpr const char kPlatformTypeX11EmbedWindowID[] = "X11EmbedWindowID";
constexpr const char kEditorViewName[] = "editor";

class IPlugFrame;

class IPlugView : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IPlugView)
    virtual tresult VURNEL_VST3_API isPlatformTypeSupported(FIDString type) = 0;
    virtual tresult VURNEL_VST3_API attached(void* parent, FIDString type) = 0;
    virtual tresult VURNEL_VST3_API removed() = 0;
    virtual tresult VURNEL_VST3_API onWheel(float distance) = 0;
    virtual tresult VURNEL_VST3_API onKeyDown(char16 key, int16 keyCode, int16 modifiers) = 0;
    virtual tresult VURNEL_VST3_API onKeyUp(char16 key, int16 keyCode, int16 modifiers) = 0;
    virtual tresult VURNEL_VST3_API getSize(ViewRect* size) = 0;
    virtual tresult VURNEL_VST3_API onSize(ViewRect* newSize) = 0;
    virtual tresult VURNEL_VST3_API onFocus(TBool state) = 0;
    virtual tresult VURNEL_VST3_API setFrame(IPlugFrame* frame) = 0;
    virtual tresult VURNEL_VST3_API canResize() = 0;
    virtual tresult VURNEL_VST3_API checkSizeConstraint(ViewRect* rect) = 0;
};

class IPlugFrame : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IPlugFrame)
    virtual tresult VURNEL_VST3_API resizeView(IPlugView* view, ViewRect* newSize) = 0;
};

class IPlugViewContentScaleSupport : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IPlugViewContentScaleSupport)
    virtual tresult VURNEL_VST3_API setContentScaleFactor(float factor) = 0;
};

// The Linux run loop: the host's UI thread calls the editor back when a descriptor is readable
// or a timer is due.
using FileDescriptor = int;
using TimerInterval = uint64;

class IEventHandler : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IEventHandler)
    virtual void VURNEL_VST3_API onFDIsSet(FileDescriptor fd) = 0;
};

class ITimerHandler : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(ITimerHandler)
    virtual void VURNEL_VST3_API onTimer() = 0;
};

class IRunLoop : public FUnknown {
public:
    VURNEL_VST3_INTERFACE(IRunLoop)
    virtual tresult VURNEL_VST3_API registerEventHandler(IEventHandler* handler,
                                                         FileDescriptor fd) = 0;
    virtual tresult VURNEL_VST3_API unregisterEventHandler(IEventHandler* handler) = 0;
    virtual tresult VURNEL_VST3_API registerTimer(ITimerHandler* handler,
                                                  TimerInterval milliseconds) = 0;
    virtual tresult VURNEL_VST3_API unregisterTimer(ITimerHandler* handler) = 0;
};

// ---------------------------------------------------------------------------------------------
// Identifiers

constexpr Uid kFUnknownIid = MakeUid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
constexpr Uid kIPluginBaseIid = MakeUid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
constexpr Uid kIPluginFactoryIid = MakeUid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
constexpr Uid kIPluginFactory2Iid = MakeUid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
constexpr Uid kIPluginFactory3Iid = MakeUid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);
constexpr Uid kIComponentIid = MakeUid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
constexpr Uid kIAudioProcessorIid = MakeUid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
constexpr Uid kIProcessContextRequirementsIid =
    MakeUid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);
constexpr Uid kIEditControllerIid = MakeUid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
constexpr Uid kIComponentHandlerIid = MakeUid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);
constexpr Uid kIParameterChangesIid = MakeUid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
constexpr Uid kIParamValueQueueIid = MakeUid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
constexpr Uid kIBStreamIid = MakeUid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
constexpr Uid kIHostApplicationIid = MakeUid(0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5);
constexpr Uid kIConnectionPointIid = MakeUid(0x70A4156F, 0x6E6E4026, 0x989148BF, 0xAA60D8D1);
constexpr Uid kIEditController2Iid = MakeUid(0x7F4EFE59, 0xF3204967, 0xAC27A3AE, 0xAFB63038);
constexpr Uid kIPlugViewIid = MakeUid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
constexpr Uid kIPlugFrameIid = MakeUid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);
constexpr Uid kIPlugViewContentScaleSupportIid =
    MakeUid(0x65ED9690, 0x8AC44525, 0x8AADEF7A, 0x72EA703F);
constexpr Uid kIRunLoopIid = MakeUid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);
constexpr Uid kIEventHandlerIid = MakeUid(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);
constexpr Uid kITimerHandlerIid = MakeUid(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);

// IComponent's bytes as each platform lays them out.
#ifdef _WIN32
static_assert(kIComponentIid.bytes[0] == '\x31' && kIComponentIid.bytes[3] == '\xE8' &&
              kIComponentIid.bytes[4] == '\xD5' && kIComponentIid.bytes[5] == '\xF2' &&
              kIComponentIid.bytes[6] == '\x01' && kIComponentIid.bytes[7] == '\x43' &&
              kIComponentIid.bytes[8] == '\x92' && kIComponentIid.bytes[15] == '\x02');
#else
static_assert(kIComponentIid.bytes[0] == '\xE8' && kIComponentIid.bytes[3] == '\x31' &&
              kIComponentIid.bytes[4] == '\xF2' && kIComponentIid.bytes[5] == '\xD5' &&
              kIComponentIid.bytes[6] == '\x43' && kIComponentIid.bytes[7] == '\x01' &&
              kIComponentIid.bytes[8] == '\x92' && kIComponentIid.bytes[15] == '\x02');
#endif

// Class categories.
constexpr const char kAudioEffectClass[] = "Audio Module Class";
constexpr const char kComponentControllerClass[] = "Component Controller Class";

// ---------------------------------------------------------------------------------------------
// The layout the interface fixes (identical on Linux x86-64 and Win64).

#if defined(__x86_64__) || defined(_WIN64)
static_assert(sizeof(void*) == 8);
static_assert(sizeof(FUnknown) == 8 && sizeof(IEditController) == 8, "one vtable pointer");
static_assert(sizeof(TUID) == 16 && sizeof(Uid) == 16 && sizeof(String128) == 256);
static_assert(sizeof(char16) == 2 && sizeof(TBool) == 1 && sizeof(ParamValue) == 8);

static_assert(sizeof(PFactoryInfo) == 452 && alignof(PFactoryInfo) == 4);
static_assert(offsetof(PFactoryInfo, url) == 64 && offsetof(PFactoryInfo, email) == 320 &&
              offsetof(PFactoryInfo, flags) == 448);

static_assert(sizeof(PClassInfo) == 116 && alignof(PClassInfo) == 4);
static_assert(offsetof(PClassInfo, cardinality) == 16 && offsetof(PClassInfo, category) == 20 &&
              offsetof(PClassInfo, name) == 52);

static_assert(sizeof(PClassInfo2) == 440 && alignof(PClassInfo2) == 4);
static_assert(offsetof(PClassInfo2, cardinality) == 16 && offsetof(PClassInfo2, category) == 20 &&
              offsetof(PClassInfo2, name) == 52 && offsetof(PClassInfo2, classFlags) == 116 &&
              offsetof(PClassInfo2, subCategories) == 120 && offsetof(PClassInfo2, vendor) == 248 &&
              offsetof(PClassInfo2, version) == 312 && offsetof(PClassInfo2, sdkVersion) == 376);

static_assert(sizeof(PClassInfoW) == 696 && alignof(PClassInfoW) == 4);
static_assert(offsetof(PClassInfoW, cardinality) == 16 && offsetof(PClassInfoW, category) == 20 &&
              offsetof(PClassInfoW, name) == 52 && offsetof(PClassInfoW, classFlags) == 180 &&
              offsetof(PClassInfoW, subCategories) == 184 && offsetof(PClassInfoW, vendor) == 312 &&
              offsetof(PClassInfoW, version) == 440 && offsetof(PClassInfoW, sdkVersion) == 568);

static_assert(sizeof(BusInfo) == 276 && alignof(BusInfo) == 4);
static_assert(offsetof(BusInfo, direction) == 4 && offsetof(BusInfo, channelCount) == 8 &&
              offsetof(BusInfo, name) == 12 && offsetof(BusInfo, busType) == 268 &&
              offsetof(BusInfo, flags) == 272);

static_assert(sizeof(RoutingInfo) == 12 && alignof(RoutingInfo) == 4);
static_assert(offsetof(RoutingInfo, busIndex) == 4 && offsetof(RoutingInfo, channel) == 8);

static_assert(sizeof(ProcessSetup) == 24 && alignof(ProcessSetup) == 8);
static_assert(offsetof(ProcessSetup, symbolicSampleSize) == 4 &&
              offsetof(ProcessSetup, maxSamplesPerBlock) == 8 &&
              offsetof(ProcessSetup, sampleRate) == 16);

static_assert(sizeof(AudioBusBuffers) == 24 && alignof(AudioBusBuffers) == 8);
static_assert(offsetof(AudioBusBuffers, silenceFlags) == 8 &&
              offsetof(AudioBusBuffers, channelBuffers32) == 16 &&
              offsetof(AudioBusBuffers, channelBuffers64) == 16);

static_assert(sizeof(ProcessData) == 80 && alignof(ProcessData) == 8);
static_assert(offsetof(ProcessData, symbolicSampleSize) == 4 &&
              offsetof(ProcessData, numSamples) == 8 && offsetof(ProcessData, numInputs) == 12 &&
              offsetof(ProcessData, numOutputs) == 16 && offsetof(ProcessData, inputs) == 24 &&
              offsetof(ProcessData, outputs) == 32 &&
              offsetof(ProcessData, inputParameterChanges) == 40 &&
              offsetof(ProcessData, outputParameterChanges) == 48 &&
              offsetof(ProcessData, inputEvents) == 56 &&
              offsetof(ProcessData, outputEvents) == 64 &&
              offsetof(ProcessData, processContext) == 72);

static_assert(sizeof(ParameterInfo) == 792 && alignof(ParameterInfo) == 8);
static_assert(offsetof(ParameterInfo, title) == 4 && offsetof(ParameterInfo, shortTitle) == 260 &&
              offsetof(ParameterInfo, units) == 516 && offsetof(ParameterInfo, stepCount) == 772 &&
              offsetof(ParameterInfo, defaultNormalizedValue) == 776 &&
              offsetof(ParameterInfo, unitId) == 784 && offsetof(ParameterInfo, flags) == 788);

static_assert(sizeof(ViewRect) == 16 && alignof(ViewRect) == 4 && offsetof(ViewRect, top) == 4 &&
              offsetof(ViewRect, right) == 8 && offsetof(ViewRect, bottom) == 12);
static_assert(sizeof(IPlugView) == 8 && sizeof(IRunLoop) == 8, "one vtable pointer");

static_assert(sizeof(Chord) == 4 && alignof(Chord) == 2 && sizeof(FrameRate) == 8);
static_assert(sizeof(ProcessContext) == 112 && alignof(ProcessContext) == 8);
static_assert(offsetof(ProcessContext, sampleRate) == 8 &&
              offsetof(ProcessContext, projectTimeSamples) == 16 &&
              offsetof(ProcessContext, systemTime) == 24 &&
              offsetof(ProcessContext, continousTimeSamples) == 32 &&
              offsetof(ProcessContext, projectTimeMusic) == 40 &&
              offsetof(ProcessContext, barPositionMusic) == 48 &&
              offsetof(ProcessContext, cycleStartMusic) == 56 &&
              offsetof(ProcessContext, cycleEndMusic) == 64 &&
              offsetof(ProcessContext, tempo) == 72 &&
              offsetof(ProcessContext, timeSigNumerator) == 80 &&
              offsetof(ProcessContext, timeSigDenominator) == 84 &&
              offsetof(ProcessContext, chord) == 88 &&
              offsetof(ProcessContext, smpteOffsetSubframes) == 92 &&
              offsetof(ProcessContext, frameRate) == 96 &&
              offsetof(ProcessContext, samplesToNextClock) == 104);
#endif

} // namespace vurnel::vst3
