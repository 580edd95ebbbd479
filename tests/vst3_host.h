// A small VST 3 host of the project's own, for the tests: loads a bundle's module by file name
// (dlopen or LoadLibrary, as hosts do), calls its entry points, and gives the plug-in the
// host-side objects it reads: memory streams that hand over at most N bytes per call, parameter
// queues, a component handler. Built from the project's own interface declarations.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Vst3Interface.h"

namespace vst3host {

using namespace vurnel::vst3;

// A module loaded from a file; its entry (ModuleEntry or InitDll) called on load, its exit on
// destruction.
class Module {
public:
    explicit Module(const std::string& path);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    bool Loaded() const { return handle != nullptr; }
    void* Symbol(const char* name) const;
    IPluginFactory* Factory() const;

private:
    void* handle = nullptr;
};

// A host object with a reference count that never frees (the test owns it).
template <class Interface> class HostObject : public Interface {
public:
    tresult VURNEL_VST3_API queryInterface(const TUID iid, void** obj) override {
        if (SameUid(iid, kFUnknownIid) || SameUid(iid, Iid())) {
            *obj = this;
            addRef();
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 VURNEL_VST3_API addRef() override { return ++references; }
    uint32 VURNEL_VST3_API release() override { return --references; }
    int references = 1;

protected:
    ~HostObject() = default;
    virtual const Uid& Iid() const = 0;
};

// A memory stream whose read and write move at most `chunk` bytes per call.
class Stream final : public HostObject<IBStream> {
public:
    explicit Stream(std::vector<unsigned char> bytes = {}, int most = 1 << 30)
        : data(std::move(bytes)), chunk(most) {}
    tresult VURNEL_VST3_API read(void* buffer, int32 numBytes, int32* numBytesRead) override;
    tresult VURNEL_VST3_API write(void* buffer, int32 numBytes, int32* numBytesWritten) override;
    tresult VURNEL_VST3_API seek(int64 pos, int32 mode, int64* result) override;
    tresult VURNEL_VST3_API tell(int64* pos) override;
    void Rewind() { position = 0; }
    std::vector<unsigned char> data;
    std::size_t position = 0;
    int chunk;

private:
    const Uid& Iid() const override { return kIBStreamIid; }
};

class Queue final : public HostObject<IParamValueQueue> {
public:
    explicit Queue(ParamID parameter) : id(parameter) {}
    ParamID VURNEL_VST3_API getParameterId() override { return id; }
    int32 VURNEL_VST3_API getPointCount() override { return int32(points.size()); }
    tresult VURNEL_VST3_API getPoint(int32 index, int32& offset, ParamValue& value) override;
    tresult VURNEL_VST3_API addPoint(int32 offset, ParamValue value, int32& index) override;
    ParamID id;
    std::vector<std::pair<int32, ParamValue>> points;

private:
    const Uid& Iid() const override { return kIParamValueQueueIid; }
};

class Changes final : public HostObject<IParameterChanges> {
public:
    int32 VURNEL_VST3_API getParameterCount() override { return int32(queues.size()); }
    IParamValueQueue* VURNEL_VST3_API getParameterData(int32 index) override;
    IParamValueQueue* VURNEL_VST3_API addParameterData(const ParamID& id, int32& index) override;
    // A point at offset for id (the queue made on first use).
    void Add(ParamID id, int32 offset, ParamValue value);
    void Clear() { queues.clear(); }
    std::vector<Queue> queues;

private:
    const Uid& Iid() const override { return kIParameterChangesIid; }
};

class Handler final : public HostObject<IComponentHandler> {
public:
    tresult VURNEL_VST3_API beginEdit(ParamID) override { return kResultOk; }
    tresult VURNEL_VST3_API performEdit(ParamID, ParamValue) override { return kResultOk; }
    tresult VURNEL_VST3_API endEdit(ParamID) override { return kResultOk; }
    tresult VURNEL_VST3_API restartComponent(int32) override { return kResultOk; }

private:
    const Uid& Iid() const override { return kIComponentHandlerIid; }
};

// A component handler that records every call, in order.
class RecordingHandler final : public HostObject<IComponentHandler> {
public:
    enum Kind { kBegin, kPerform, kEnd };
    struct Call {
        Kind kind;
        ParamID id;
        ParamValue value;
    };
    tresult VURNEL_VST3_API beginEdit(ParamID id) override;
    tresult VURNEL_VST3_API performEdit(ParamID id, ParamValue value) override;
    tresult VURNEL_VST3_API endEdit(ParamID id) override;
    tresult VURNEL_VST3_API restartComponent(int32) override { return kResultOk; }
    std::vector<Call> calls;

private:
    const Uid& Iid() const override { return kIComponentHandlerIid; }
};

// The host's editor frame and its Linux run loop, one object as Ardour's is: descriptors polled
// and timers run on the calling thread by Run. resizeView answers with onSize at once.
class Frame final : public IPlugFrame, public IRunLoop {
public:
    tresult VURNEL_VST3_API queryInterface(const TUID iid, void** obj) override;
    uint32 VURNEL_VST3_API addRef() override { return ++references; }
    uint32 VURNEL_VST3_API release() override { return --references; }
    tresult VURNEL_VST3_API resizeView(IPlugView* view, ViewRect* newSize) override;
    tresult VURNEL_VST3_API registerEventHandler(IEventHandler* handler,
                                                 FileDescriptor fd) override;
    tresult VURNEL_VST3_API unregisterEventHandler(IEventHandler* handler) override;
    tresult VURNEL_VST3_API registerTimer(ITimerHandler* handler,
                                          TimerInterval milliseconds) override;
    tresult VURNEL_VST3_API unregisterTimer(ITimerHandler* handler) override;
    // Polls the descriptors and runs the timers for `milliseconds`, calling back on this thread.
    void Run(int milliseconds);
    // What is registered now.
    std::size_t Registered() const { return handlers.size() + timers.size(); }
    int references = 1;
    int resizes = 0;
    int timerCalls = 0;

private:
    struct Timer {
        ITimerHandler* handler;
        TimerInterval interval;
        std::int64_t due; // ms on the monotonic clock
    };
    std::vector<std::pair<IEventHandler*, FileDescriptor>> handlers;
    std::vector<Timer> timers;
};

// One plug-in instance made as a host makes it: the component from the factory, its processor
// and controller by queryInterface, both initialized; released on destruction.
class Instance {
public:
    Instance(IPluginFactory* factory, const Uid& cid);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    bool Ok() const { return component && processor && controller; }
    // setupProcessing (32-bit floats, realtime), setActive(true), setProcessing(true).
    bool Start(double rate, int32 maxBlock);
    void Stop();
    // One process call on stereo buffers (null buffers and zero frames make a flush).
    tresult Process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                    int32 frames, IParameterChanges* changes, uint64* outSilence = nullptr,
                    uint64 inSilence = 0);
    std::vector<unsigned char> ComponentState();
    IComponent* component = nullptr;
    IAudioProcessor* processor = nullptr;
    IEditController* controller = nullptr;
};

// FNV-1a, 64 bits, of the bytes of floats.
std::uint64_t Hash(const std::vector<float>& samples, std::uint64_t hash = 1469598103934665603ull);

} // namespace vst3host
