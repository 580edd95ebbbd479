// The plug-in frame: the record's bytes, every dispatcher row, the flag setters, the host
// wrappers and the entry points.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "DAudioE.h"

using namespace vurnel;

namespace {

// An effect that records which virtual operation was called with which arguments.
class RecordingEffect : public AudioEffect {
public:
    RecordingEffect(audioMasterCallback master, std::int32_t programs, std::int32_t params)
        : AudioEffect(master, programs, params) {}
    ~RecordingEffect() override { ++destroyed; }

    std::vector<std::string> calls;
    float vu = 0.0f;
    static int destroyed;

    void process(float**, float**, std::int32_t n) override { log("process", n); }
    void open() override { log("open"); }
    void close() override { log("close"); }
    void setProgram(std::int32_t p) override {
        log("setProgram", p);
        AudioEffect::setProgram(p);
    }
    void setProgramName(char*) override { log("setProgramName"); }
    void getProgramName(char* t) override { log("getProgramName"), std::strcpy(t, "prog"); }
    void getParameterLabel(std::int32_t i, char* t) override {
        log("getParameterLabel", i), std::strcpy(t, "lab");
    }
    void getParameterDisplay(std::int32_t i, char* t) override {
        log("getParameterDisplay", i), std::strcpy(t, "disp");
    }
    void getParameterName(std::int32_t i, char* t) override {
        log("getParameterName", i), std::strcpy(t, "name");
    }
    float getVu() override { return vu; }
    void setSampleRate(float r) override {
        log("setSampleRate", static_cast<long long>(r));
        AudioEffect::setSampleRate(r);
    }
    void setBlockSize(std::int32_t s) override {
        log("setBlockSize", s);
        AudioEffect::setBlockSize(s);
    }
    void suspend() override { log("suspend"); }
    void resume() override { log("resume"); }
    void setParameter(std::int32_t i, float v) override {
        log("setParameter", i, static_cast<long long>(v * 100));
    }

    AEffect& record() { return effectRecord; }

private:
    void log(const char* name) { calls.emplace_back(name); }
    void log(const char* name, long long a) {
        calls.push_back(std::string(name) + "(" + std::to_string(a) + ")");
    }
    void log(const char* name, long long a, long long b) {
        calls.push_back(std::string(name) + "(" + std::to_string(a) + "," + std::to_string(b) +
                        ")");
    }
};
int RecordingEffect::destroyed = 0;

struct HostCall {
    AEffect* effect;
    std::int32_t opcode, index;
    VstIntPtr value;
    void* ptr;
    float opt;
};
std::vector<HostCall> g_hostCalls;
VstIntPtr g_hostAnswer = 0;

VstIntPtr VURNEL_VSTCALL FakeHost(AEffect* e, std::int32_t opcode, std::int32_t index,
                                  VstIntPtr value, void* ptr, float opt) {
    g_hostCalls.push_back({e, opcode, index, value, ptr, opt});
    return g_hostAnswer;
}

VstIntPtr Dispatch(RecordingEffect& fx, std::int32_t opcode, std::int32_t index = 0,
                   VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f) {
    return DispatchEntry(fx.getEffectRecord(), opcode, index, value, ptr, opt);
}

} // namespace

TEST(EffectRecord, FreshRecordHoldsTheDocumentedBytes) {
    RecordingEffect fx(nullptr, 3, 7);
    const AEffect* r = fx.getEffectRecord();
    const auto* bytes = reinterpret_cast<const unsigned char*>(r);
    EXPECT_EQ(bytes[0], 0x50);
    EXPECT_EQ(bytes[1], 0x74);
    EXPECT_EQ(bytes[2], 0x73);
    EXPECT_EQ(bytes[3], 0x56);

    // Everything but the five entry points and the object pointer, byte for byte, padding too.
    unsigned char expected[sizeof(AEffect)] = {};
    auto put = [&](std::size_t offset, const void* v, std::size_t n) {
        std::memcpy(expected + offset, v, n);
    };
    const std::int32_t magic = 0x56737450, programs = 3, params = 7, ins = 1, outs = 2,
                       id = 0x4E6F4566, version = 1;
    const std::uint32_t ioRatioBits = 0x3F800000u;
    put(offsetof(AEffect, magic), &magic, 4);
    put(offsetof(AEffect, numPrograms), &programs, 4);
    put(offsetof(AEffect, numParams), &params, 4);
    put(offsetof(AEffect, numInputs), &ins, 4);
    put(offsetof(AEffect, numOutputs), &outs, 4);
    put(offsetof(AEffect, ioRatio), &ioRatioBits, 4);
    put(offsetof(AEffect, uniqueID), &id, 4);
    put(offsetof(AEffect, version), &version, 4);
    unsigned char actual[sizeof(AEffect)];
    std::memcpy(actual, r, sizeof actual);
    const std::size_t pointerFields[] = {
        offsetof(AEffect, dispatcher),   offsetof(AEffect, process),
        offsetof(AEffect, setParameter), offsetof(AEffect, getParameter),
        offsetof(AEffect, object),       offsetof(AEffect, processReplacing)};
    for (std::size_t offset : pointerFields)
        std::memset(actual + offset, 0, sizeof(void*));
    EXPECT_EQ(0, std::memcmp(expected, actual, sizeof actual));

    EXPECT_EQ(r->object, static_cast<void*>(&fx));
    EXPECT_EQ(static_cast<AudioEffect*>(r->object)->getEffectRecord(), r);
    EXPECT_EQ(r->dispatcher, &DispatchEntry);
    EXPECT_EQ(r->process, &ProcessEntry);
    EXPECT_EQ(r->processReplacing, &ProcessReplacingEntry);
    EXPECT_EQ(r->setParameter, &SetParameterEntry);
    EXPECT_EQ(r->getParameter, &GetParameterEntry);
    EXPECT_EQ(fx.getSampleRate(), 44100.0f);
    EXPECT_EQ(fx.getBlockSize(), 1024);
    EXPECT_EQ(fx.getProgram(), 0);
}

TEST(Dispatcher, EachOpcodeReachesItsOperationWithItsArguments) {
    RecordingEffect fx(nullptr, 1, 4);
    char text[32];
    struct Row {
        std::int32_t opcode, index;
        VstIntPtr value;
        float opt;
        const char* call;
        VstIntPtr answer;
    };
    const Row rows[] = {
        {0, 0, 0, 0, "open", 0},
        {4, 0, 0, 0, "setProgramName", 0},
        {5, 0, 0, 0, "getProgramName", 0},
        {6, 3, 0, 0, "getParameterLabel(3)", 0},
        {7, 2, 0, 0, "getParameterDisplay(2)", 0},
        {8, 1, 0, 0, "getParameterName(1)", 0},
        {10, 0, 999, 48000.0f, "setSampleRate(48000)", 0}, // the rate comes from opt
        {11, 0, 512, 7.0f, "setBlockSize(512)", 0},        // the size comes from value
        {12, 0, 0, 0, "suspend", 0},
        {12, 0, 1, 0, "resume", 0},
        {12, 0, -1, 0, "resume", 0},
    };
    for (const Row& row : rows) {
        fx.calls.clear();
        EXPECT_EQ(Dispatch(fx, row.opcode, row.index, row.value, text, row.opt), row.answer)
            << "opcode " << row.opcode;
        ASSERT_EQ(fx.calls.size(), 1u) << "opcode " << row.opcode;
        EXPECT_EQ(fx.calls[0], row.call);
    }
    EXPECT_EQ(fx.getBlockSize(), 512);
    EXPECT_EQ(fx.getSampleRate(), 48000.0f);
}

TEST(Dispatcher, OpcodesWithoutMeaningAnswerZeroAndCallNothing) {
    RecordingEffect fx(nullptr, 1, 4);
    for (std::int32_t opcode : {16, 17, 18, 20, 21, 23, 1000, -1}) {
        fx.calls.clear();
        EXPECT_EQ(Dispatch(fx, opcode, 1, 1, nullptr, 1.0f), 0) << opcode;
        EXPECT_TRUE(fx.calls.empty()) << opcode;
    }
    EXPECT_EQ(Dispatch(fx, 22), 0x4E764566);
}

TEST(Dispatcher, EditorOpcodesWithoutAnEditorTouchNothing) {
    RecordingEffect fx(nullptr, 1, 4);
    void* sentinel = &fx;
    void* slot = sentinel;
    for (std::int32_t opcode : {13, 14, 15, 19}) {
        EXPECT_EQ(Dispatch(fx, opcode, 0, 0, &slot), 0);
        EXPECT_EQ(slot, sentinel);
    }
    EXPECT_TRUE(fx.calls.empty());
}

TEST(Dispatcher, EditorOpcodesReachAnEditorWhenThereIsOne) {
    struct FakeEditor : EffectEditor {
        std::vector<std::string>* log;
        std::int32_t getRect(void** rect) override {
            log->push_back("getRect");
            *rect = this; // hands back its own rectangle
            return 5;
        }
        std::int32_t open(void*) override { return log->push_back("open"), 6; }
        void close() override { log->push_back("close"); }
        void idle() override { log->push_back("idle"); }
    };
    struct WithEditor : RecordingEffect {
        explicit WithEditor(std::vector<std::string>* log) : RecordingEffect(nullptr, 1, 1) {
            auto e = std::make_unique<FakeEditor>();
            e->log = log;
            editorAddress = e.get();
            editor = std::move(e);
        }
        void* editorAddress;
    };
    std::vector<std::string> log;
    WithEditor fx(&log);
    void* slot = nullptr;
    EXPECT_EQ(Dispatch(fx, 13, 0, 0, &slot), 5);
    EXPECT_EQ(slot, fx.editorAddress); // stored back through ptr
    EXPECT_EQ(Dispatch(fx, 14), 6);
    EXPECT_EQ(Dispatch(fx, 15), 0);
    EXPECT_EQ(Dispatch(fx, 19), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"getRect", "open", "close", "idle"}));
}

TEST(Dispatcher, SetProgramAcceptsOnlyExistingPrograms) {
    RecordingEffect fx(nullptr, 1, 4);
    EXPECT_EQ(Dispatch(fx, 2, 0, 0), 0);
    EXPECT_EQ(fx.calls, std::vector<std::string>{"setProgram(0)"});
    fx.calls.clear();
    // 1 is past the last program; a negative number would index programs out of bounds.
    for (VstIntPtr value : {VstIntPtr{1}, VstIntPtr{-1}, VstIntPtr{-2147483647 - 1}}) {
        EXPECT_EQ(Dispatch(fx, 2, 0, value), 0);
        EXPECT_EQ(Dispatch(fx, 3), 0);
    }
    EXPECT_TRUE(fx.calls.empty());

    RecordingEffect three(nullptr, 3, 4);
    Dispatch(three, 2, 0, 2);
    EXPECT_EQ(Dispatch(three, 3), 2);
}

TEST(Dispatcher, VuIsScaledAndRoundedToNearestEven) {
    RecordingEffect fx(nullptr, 1, 4);
    EXPECT_EQ(Dispatch(fx, 9), 0);
    fx.vu = 0.5f; // 16383.5 goes to the even neighbour
    EXPECT_EQ(Dispatch(fx, 9), 16384);
    fx.vu = 1.0f;
    EXPECT_EQ(Dispatch(fx, 9), 32767);
}

TEST(Dispatcher, BaseTextOperationsLeaveAnEmptyText) {
    struct Plain : AudioEffect {
        Plain() : AudioEffect(nullptr, 1, 1) {}
        void process(float**, float**, std::int32_t) override {}
    } fx;
    for (std::int32_t opcode : {5, 6, 7, 8}) {
        char text[8] = "xxxxxxx";
        DispatchEntry(fx.getEffectRecord(), opcode, 0, 0, text, 0);
        EXPECT_EQ(text[0], '\0');
        EXPECT_EQ(text[1], 'x'); // one byte written, no more
    }
}

TEST(Flags, EachSetterChangesOnlyItsOwnBit) {
    RecordingEffect fx(nullptr, 1, 4);
    AEffect& r = fx.record();
    fx.hasVu(true);
    fx.hasClip(true);
    fx.hasVu(false);
    EXPECT_EQ(r.flags, 2);
    fx.canMono(true);
    fx.canProcessReplacing(true);
    EXPECT_EQ(r.flags, 2 | 8 | 16);
    fx.hasClip(false);
    fx.canMono(false);
    EXPECT_EQ(r.flags, 16);
    r.flags = ~0;
    fx.canProcessReplacing(false);
    EXPECT_EQ(r.flags, ~16);
}

TEST(Flags, RecordSettersWriteTheirFields) {
    RecordingEffect fx(nullptr, 1, 4);
    fx.setUniqueID(1234);
    fx.setNumInputs(5);
    fx.setNumOutputs(6);
    fx.setRealtimeQualities(7);
    fx.setOfflineQualities(8);
    fx.setInitialDelay(9);
    const AEffect& r = fx.record();
    EXPECT_EQ(r.uniqueID, 1234);
    EXPECT_EQ(r.numInputs, 5);
    EXPECT_EQ(r.numOutputs, 6);
    EXPECT_EQ(r.realQualities, 7);
    EXPECT_EQ(r.offQualities, 8);
    EXPECT_EQ(r.initialDelay, 9);
}

TEST(HostWrappers, AskTheHostWithTheDocumentedArguments) {
    RecordingEffect fx(FakeHost, 1, 4);
    AEffect* r = fx.getEffectRecord();
    g_hostCalls.clear();
    g_hostAnswer = 0;
    EXPECT_EQ(fx.getMasterVersion(), 1); // a host answering 0 counts as version 1
    g_hostAnswer = 2;
    EXPECT_EQ(fx.getMasterVersion(), 2);
    g_hostAnswer = 77;
    EXPECT_EQ(fx.getCurrentUniqueId(), 77);
    fx.masterIdle();
    g_hostAnswer = 0;
    EXPECT_TRUE(fx.isInputConnected(3));
    g_hostAnswer = 1;
    EXPECT_FALSE(fx.isInputConnected(3));
    EXPECT_FALSE(fx.isOutputConnected(4));
    g_hostAnswer = 0;
    EXPECT_TRUE(fx.isOutputConnected(4));
    ASSERT_EQ(g_hostCalls.size(), 8u);
    const std::int32_t opcodes[] = {1, 1, 2, 3, 4, 4, 4, 4};
    const std::int32_t indices[] = {0, 0, 0, 0, 3, 3, 4, 4};
    const VstIntPtr values[] = {0, 0, 0, 0, 0, 0, 1, 1};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(g_hostCalls[i].effect, r);
        EXPECT_EQ(g_hostCalls[i].opcode, opcodes[i]);
        EXPECT_EQ(g_hostCalls[i].index, indices[i]);
        EXPECT_EQ(g_hostCalls[i].value, values[i]);
        EXPECT_EQ(g_hostCalls[i].ptr, nullptr);
        EXPECT_EQ(g_hostCalls[i].opt, 0.0f);
    }
}

TEST(HostWrappers, WithoutAHostGiveTheirDefaults) {
    RecordingEffect fx(nullptr, 1, 4);
    EXPECT_EQ(fx.getMasterVersion(), 1);
    EXPECT_EQ(fx.getCurrentUniqueId(), 0);
    fx.masterIdle();
    EXPECT_TRUE(fx.isInputConnected(0));
    EXPECT_TRUE(fx.isOutputConnected(0));
    fx.setParameterAutomated(1, 0.5f); // still reaches the effect
    EXPECT_EQ(fx.calls, std::vector<std::string>{"setParameter(1,50)"});
}

TEST(HostWrappers, AutomationSetsTheParameterThenTellsTheHost) {
    RecordingEffect fx(FakeHost, 1, 4);
    g_hostCalls.clear();
    fx.setParameterAutomated(2, 0.25f);
    EXPECT_EQ(fx.calls, std::vector<std::string>{"setParameter(2,25)"});
    ASSERT_EQ(g_hostCalls.size(), 1u);
    EXPECT_EQ(g_hostCalls[0].effect, fx.getEffectRecord());
    EXPECT_EQ(g_hostCalls[0].opcode, 0);
    EXPECT_EQ(g_hostCalls[0].index, 2);
    EXPECT_EQ(g_hostCalls[0].value, 0);
    EXPECT_EQ(g_hostCalls[0].ptr, nullptr);
    EXPECT_EQ(g_hostCalls[0].opt, 0.25f);
}

TEST(EntryPoints, CloseRunsCloseDestroysTheObjectAndAnswersOne) {
    RecordingEffect::destroyed = 0;
    auto* fx = new RecordingEffect(nullptr, 1, 4);
    AEffect* r = fx->getEffectRecord();
    EXPECT_EQ(r->dispatcher(r, 22, 0, 0, nullptr, 0), 0x4E764566);
    EXPECT_EQ(r->dispatcher(r, 1, 0, 0, nullptr, 0), 1);
    EXPECT_EQ(RecordingEffect::destroyed, 1);
}

TEST(EntryPoints, ForwardToTheEffect) {
    struct Echo : RecordingEffect {
        Echo() : RecordingEffect(nullptr, 1, 4) {}
        void processReplacing(float**, float**, std::int32_t n) override {
            calls.push_back("processReplacing(" + std::to_string(n) + ")");
        }
        float getParameter(std::int32_t index) override { return 0.25f * index; }
    } fx;
    AEffect* r = fx.getEffectRecord();
    r->process(r, nullptr, nullptr, 5);
    r->processReplacing(r, nullptr, nullptr, -3);
    r->setParameter(r, 1, 0.5f);
    EXPECT_EQ(r->getParameter(r, 3), 0.75f);
    EXPECT_EQ(fx.calls, (std::vector<std::string>{"process(5)", "processReplacing(-3)",
                                                  "setParameter(1,50)"}));
}

TEST(EntryPoints, NoExceptionReachesTheHost) {
    struct Throwing : AudioEffect {
        Throwing() : AudioEffect(nullptr, 1, 1) {}
        void process(float**, float**, std::int32_t) override { throw std::runtime_error("x"); }
        void processReplacing(float**, float**, std::int32_t) override { throw 1; }
        VstIntPtr dispatcher(std::int32_t, std::int32_t, VstIntPtr, void*, float) override {
            throw std::bad_alloc();
        }
        void setParameter(std::int32_t, float) override { throw 2; }
        float getParameter(std::int32_t) override { throw 3; }
    } fx;
    AEffect* r = fx.getEffectRecord();
    EXPECT_NO_THROW(r->process(r, nullptr, nullptr, 1));
    EXPECT_NO_THROW(r->processReplacing(r, nullptr, nullptr, 1));
    EXPECT_EQ(r->dispatcher(r, 22, 0, 0, nullptr, 0), 0);
    EXPECT_NO_THROW(r->setParameter(r, 0, 0));
    EXPECT_EQ(r->getParameter(r, 0), 0.0f);
}
