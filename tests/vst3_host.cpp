#include "vst3_host.h"

#include <algorithm>
#ifndef _WIN32
#include <poll.h>
#include <time.h>
#endif

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vst3host {

Module::Module(const std::string& path) {
#ifdef _WIN32
    handle = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    using Entry = bool (*)();
    if (handle != nullptr)
        if (auto entry = reinterpret_cast<Entry>(Symbol("InitDll"))) entry();
#else
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    using Entry = bool (*)(void*);
    if (handle != nullptr) {
        auto entry = reinterpret_cast<Entry>(Symbol("ModuleEntry"));
        if (entry == nullptr || !entry(handle)) {
            dlclose(handle);
            handle = nullptr;
        }
    }
#endif
}

Module::~Module() {
    if (handle == nullptr) return;
    using Exit = bool (*)();
#ifdef _WIN32
    if (auto exit = reinterpret_cast<Exit>(Symbol("ExitDll"))) exit();
    FreeLibrary(reinterpret_cast<HMODULE>(handle));
#else
    if (auto exit = reinterpret_cast<Exit>(Symbol("ModuleExit"))) exit();
    dlclose(handle);
#endif
}

void* Module::Symbol(const char* name) const {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
#else
    return dlsym(handle, name);
#endif
}

IPluginFactory* Module::Factory() const {
    using Get = IPluginFactory*(VURNEL_VST3_API*)();
    auto get = reinterpret_cast<Get>(Symbol("GetPluginFactory"));
    return get ? get() : nullptr;
}

tresult Stream::read(void* buffer, int32 numBytes, int32* numBytesRead) {
    std::size_t n = numBytes < 0 ? 0 : std::size_t(numBytes);
    n = std::min({n, std::size_t(chunk), data.size() - std::min(position, data.size())});
    if (n) std::memcpy(buffer, data.data() + position, n);
    position += n;
    if (numBytesRead) *numBytesRead = int32(n);
    return kResultOk;
}

tresult Stream::write(void* buffer, int32 numBytes, int32* numBytesWritten) {
    std::size_t n = numBytes < 0 ? 0 : std::min(std::size_t(numBytes), std::size_t(chunk));
    if (data.size() < position + n) data.resize(position + n);
    if (n) std::memcpy(data.data() + position, buffer, n);
    position += n;
    if (numBytesWritten) *numBytesWritten = int32(n);
    return kResultOk;
}

tresult Stream::seek(int64 pos, int32 mode, int64* result) {
    const int64 base = mode == kIBSeekCur   ? int64(position)
                       : mode == kIBSeekEnd ? int64(data.size())
                                            : 0;
    if (base + pos < 0) return kInvalidArgument;
    position = std::size_t(base + pos);
    if (result) *result = int64(position);
    return kResultOk;
}

tresult Stream::tell(int64* pos) {
    if (pos) *pos = int64(position);
    return kResultOk;
}

tresult Queue::getPoint(int32 index, int32& offset, ParamValue& value) {
    if (index < 0 || index >= int32(points.size())) return kInvalidArgument;
    offset = points[std::size_t(index)].first;
    value = points[std::size_t(index)].second;
    return kResultOk;
}

tresult Queue::addPoint(int32 offset, ParamValue value, int32& index) {
    index = int32(points.size());
    points.emplace_back(offset, value);
    return kResultOk;
}

IParamValueQueue* Changes::getParameterData(int32 index) {
    return index >= 0 && index < int32(queues.size()) ? &queues[std::size_t(index)] : nullptr;
}

IParamValueQueue* Changes::addParameterData(const ParamID& id, int32& index) {
    for (std::size_t i = 0; i < queues.size(); ++i)
        if (queues[i].id == id) {
            index = int32(i);
            return &queues[i];
        }
    queues.emplace_back(id);
    index = int32(queues.size() - 1);
    return &queues.back();
}

void Changes::Add(ParamID id, int32 offset, ParamValue value) {
    int32 index, point;
    addParameterData(id, index)->addPoint(offset, value, point);
}

Instance::Instance(IPluginFactory* factory, const Uid& cid) {
    void* obj = nullptr;
    if (factory == nullptr ||
        factory->createInstance(cid.bytes, kIComponentIid.bytes, &obj) != kResultOk)
        return;
    component = static_cast<IComponent*>(obj);
    if (component->initialize(nullptr) != kResultOk) return;
    if (component->queryInterface(kIAudioProcessorIid.bytes, &obj) == kResultOk)
        processor = static_cast<IAudioProcessor*>(obj);
    if (component->queryInterface(kIEditControllerIid.bytes, &obj) == kResultOk) {
        controller = static_cast<IEditController*>(obj);
        controller->initialize(nullptr); // a host initializes the controller half too
    }
}

Instance::~Instance() {
    if (controller) {
        controller->terminate();
        controller->release();
    }
    if (processor) processor->release();
    if (component) {
        component->terminate();
        component->release();
    }
}

bool Instance::Start(double rate, int32 maxBlock) {
    ProcessSetup setup{kRealtime, kSample32, maxBlock, rate};
    return processor->setupProcessing(setup) == kResultOk && component->setActive(1) == kResultOk &&
           processor->setProcessing(1) == kResultOk;
}

void Instance::Stop() {
    processor->setProcessing(0);
    component->setActive(0);
}

tresult Instance::Process(const float* inLeft, const float* inRight, float* outLeft,
                          float* outRight, int32 frames, IParameterChanges* changes,
                          uint64* outSilence, uint64 inSilence) {
    float* in[2] = {const_cast<float*>(inLeft), const_cast<float*>(inRight)};
    float* out[2] = {outLeft, outRight};
    AudioBusBuffers inBus{}, outBus{};
    inBus.numChannels = 2;
    inBus.silenceFlags = inSilence;
    inBus.channelBuffers32 = in;
    outBus.numChannels = 2;
    outBus.channelBuffers32 = out;
    ProcessData data{};
    data.processMode = kRealtime;
    data.symbolicSampleSize = kSample32;
    data.numSamples = frames;
    const bool buffers = inLeft != nullptr;
    data.numInputs = buffers ? 1 : 0;
    data.numOutputs = buffers ? 1 : 0;
    data.inputs = buffers ? &inBus : nullptr;
    data.outputs = buffers ? &outBus : nullptr;
    data.inputParameterChanges = changes;
    const tresult r = processor->process(data);
    if (outSilence) *outSilence = outBus.silenceFlags;
    return r;
}

std::vector<unsigned char> Instance::ComponentState() {
    Stream stream;
    component->getState(&stream);
    return stream.data;
}

std::uint64_t Hash(const std::vector<float>& samples, std::uint64_t hash) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(samples.data());
    for (std::size_t i = 0; i < samples.size() * sizeof(float); ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

tresult RecordingHandler::beginEdit(ParamID id) {
    calls.push_back({kBegin, id, 0});
    return kResultOk;
}
tresult RecordingHandler::performEdit(ParamID id, ParamValue value) {
    calls.push_back({kPerform, id, value});
    return kResultOk;
}
tresult RecordingHandler::endEdit(ParamID id) {
    calls.push_back({kEnd, id, 0});
    return kResultOk;
}

#ifndef _WIN32
namespace {
std::int64_t NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}
} // namespace

tresult Frame::queryInterface(const TUID iid, void** obj) {
    if (SameUid(iid, kFUnknownIid) || SameUid(iid, kIPlugFrameIid))
        *obj = static_cast<IPlugFrame*>(this);
    else if (SameUid(iid, kIRunLoopIid))
        *obj = static_cast<IRunLoop*>(this);
    else {
        *obj = nullptr;
        return kNoInterface;
    }
    addRef();
    return kResultOk;
}

tresult Frame::resizeView(IPlugView* view, ViewRect* newSize) {
    ++resizes;
    return view->onSize(newSize);
}

tresult Frame::registerEventHandler(IEventHandler* handler, FileDescriptor fd) {
    if (handler == nullptr || fd < 0) return kInvalidArgument;
    handlers.emplace_back(handler, fd);
    return kResultOk;
}

tresult Frame::unregisterEventHandler(IEventHandler* handler) {
    const auto before = handlers.size();
    handlers.erase(std::remove_if(handlers.begin(), handlers.end(),
                                  [&](const auto& h) { return h.first == handler; }),
                   handlers.end());
    return handlers.size() < before ? kResultOk : kInvalidArgument;
}

tresult Frame::registerTimer(ITimerHandler* handler, TimerInterval milliseconds) {
    if (handler == nullptr || milliseconds == 0) return kInvalidArgument;
    timers.push_back({handler, milliseconds, NowMs() + std::int64_t(milliseconds)});
    return kResultOk;
}

tresult Frame::unregisterTimer(ITimerHandler* handler) {
    const auto before = timers.size();
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const Timer& t) { return t.handler == handler; }),
                 timers.end());
    return timers.size() < before ? kResultOk : kInvalidArgument;
}

void Frame::Run(int milliseconds) {
    const std::int64_t end = NowMs() + milliseconds;
    for (;;) {
        const std::int64_t now = NowMs();
        if (now >= end) return;
        std::int64_t wait = end - now;
        for (const Timer& t : timers)
            wait = std::min(wait, std::max<std::int64_t>(0, t.due - now));
        std::vector<pollfd> fds;
        for (const auto& h : handlers)
            fds.push_back({h.second, POLLIN, 0});
        const int ready = poll(fds.data(), fds.size(), int(wait));
        if (ready > 0) {
            // A callback may unregister handlers: call those still registered.
            for (const pollfd& p : fds) {
                if ((p.revents & POLLIN) == 0) continue;
                for (std::size_t i = 0; i < handlers.size(); ++i)
                    if (handlers[i].second == p.fd) {
                        handlers[i].first->onFDIsSet(p.fd);
                        break;
                    }
            }
        }
        const std::int64_t after = NowMs();
        for (std::size_t i = 0; i < timers.size(); ++i) {
            if (timers[i].due > after) continue;
            timers[i].due = after + std::int64_t(timers[i].interval);
            ++timerCalls;
            timers[i].handler->onTimer(); // may unregister itself
        }
    }
}
#endif

} // namespace vst3host
