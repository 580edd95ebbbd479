#include "PipeWireControl.h"

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/param/props.h>
#include <spa/pod/builder.h>
#include <spa/pod/iter.h>
#include <spa/pod/parser.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

// libpipewire's method macros (pw_core_sync, pw_registry_bind, ...) cast in C style and use
// statement expressions where they expand.
#pragma GCC diagnostic ignored "-Wold-style-cast"
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wgnu-statement-expression"
#endif

namespace vurnel::host {

namespace {

constexpr int kAnswerSeconds = 5;

std::string Text(const char* s) {
    return s ? s : "";
}

// The "name" of a metadata value such as { "name": "effect_input.vurnel" }.
std::string JsonName(const std::string& json) {
    const auto key = json.find("\"name\"");
    if (key == std::string::npos) return json;
    const auto open = json.find('"', json.find(':', key));
    if (open == std::string::npos) return json;
    const auto close = json.find('"', open + 1);
    return close == std::string::npos ? json : json.substr(open + 1, close - open - 1);
}

} // namespace

struct PipeWireControl::Impl {
    pw_main_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_registry* registry = nullptr;
    pw_proxy* node = nullptr;
    pw_proxy* metadata = nullptr;
    spa_source* timer = nullptr;
    spa_hook coreListener{}, registryListener{}, nodeListener{}, metadataListener{};
    pw_core_events coreEvents{};
    pw_registry_events registryEvents{};
    pw_node_events nodeEvents{};
    pw_metadata_events metadataEvents{};

    std::string problem; // why there is no connection
    std::string error;   // the daemon's last complaint
    int pending = 0;
    bool timedOut = false;

    std::map<std::string, std::uint32_t> nodes; // node.name -> global id
    std::optional<std::uint32_t> defaultMetadata;
    std::map<std::string, float> controls;
    bool propsArrived = false;
    bool gone = false; // the connection failed
    std::optional<std::string> defaultSink;

    Impl() {
        pw_init(nullptr, nullptr);
        coreEvents.version = PW_VERSION_CORE_EVENTS;
        coreEvents.done = OnDone;
        coreEvents.error = OnError;
        registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
        registryEvents.global = OnGlobal;
        nodeEvents.version = PW_VERSION_NODE_EVENTS;
        nodeEvents.param = OnParam;
        metadataEvents.version = PW_VERSION_METADATA_EVENTS;
        metadataEvents.property = OnProperty;

        loop = pw_main_loop_new(nullptr);
        if (loop == nullptr) {
            problem = "cannot start a PipeWire client";
            return;
        }
        timer = pw_loop_add_timer(pw_main_loop_get_loop(loop), OnTimeout, this);
        context = pw_context_new(pw_main_loop_get_loop(loop), nullptr, 0);
        if (context == nullptr) {
            problem = "cannot start a PipeWire client";
            return;
        }
        core = pw_context_connect(context, nullptr, 0);
        if (core == nullptr) {
            problem = std::string("PipeWire is not running (") + std::strerror(errno) + ")";
            return;
        }
        pw_core_add_listener(core, &coreListener, &coreEvents, this);
        registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
        pw_registry_add_listener(registry, &registryListener, &registryEvents, this);
        try {
            Roundtrip();
        } catch (const PipeWireError& e) {
            problem = e.what();
            Disconnect();
        }
    }

    ~Impl() {
        Disconnect();
        if (context) pw_context_destroy(context);
        if (loop) pw_main_loop_destroy(loop);
        pw_deinit();
    }

    void Disconnect() {
        if (metadata) pw_proxy_destroy(metadata);
        if (node) pw_proxy_destroy(node);
        if (registry) pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        if (core) pw_core_disconnect(core);
        metadata = node = nullptr;
        registry = nullptr;
        core = nullptr;
    }

    // Waits until the daemon has answered everything sent so far.
    void Roundtrip() {
        error.clear();
        timedOut = false;
        pending = pw_core_sync(core, PW_ID_CORE, pending);
        timespec limit{kAnswerSeconds, 0};
        pw_loop_update_timer(pw_main_loop_get_loop(loop), timer, &limit, nullptr, false);
        pw_main_loop_run(loop);
        timespec off{0, 0};
        pw_loop_update_timer(pw_main_loop_get_loop(loop), timer, &off, nullptr, false);
        if (timedOut)
            throw PipeWireError("PipeWire did not answer within " + std::to_string(kAnswerSeconds) +
                                " seconds");
        if (!error.empty()) throw PipeWireError(error);
    }

    static void OnDone(void* data, std::uint32_t id, int seq) {
        auto* self = static_cast<Impl*>(data);
        if (id == PW_ID_CORE && seq == self->pending) pw_main_loop_quit(self->loop);
    }

    static void OnError(void* data, std::uint32_t id, int, int res, const char* message) {
        auto* self = static_cast<Impl*>(data);
        self->error = "PipeWire: " + Text(message) + " (" + std::strerror(-res) + ")";
        if (id == PW_ID_CORE) { // the connection itself failed
            self->gone = true;
            pw_main_loop_quit(self->loop);
        }
    }

    static void OnTimeout(void* data, std::uint64_t) {
        auto* self = static_cast<Impl*>(data);
        self->timedOut = true;
        pw_main_loop_quit(self->loop);
    }

    static void OnGlobal(void* data, std::uint32_t id, std::uint32_t, const char* type,
                         std::uint32_t, const spa_dict* props) {
        auto* self = static_cast<Impl*>(data);
        if (props == nullptr) return;
        if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
            const char* name = spa_dict_lookup(props, PW_KEY_NODE_NAME);
            if (name) self->nodes.emplace(name, id);
        } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0) {
            const char* name = spa_dict_lookup(props, PW_KEY_METADATA_NAME);
            if (name && std::strcmp(name, "default") == 0) self->defaultMetadata = id;
        }
    }

    // A Props param: every "params" entry that holds a number.
    static void OnParam(void* data, int, std::uint32_t id, std::uint32_t, std::uint32_t,
                        const spa_pod* param) {
        auto* self = static_cast<Impl*>(data);
        if (id != SPA_PARAM_Props || param == nullptr || !spa_pod_is_object(param)) return;
        const spa_pod_prop* prop = spa_pod_find_prop(param, nullptr, SPA_PROP_params);
        if (prop == nullptr || !spa_pod_is_struct(&prop->value)) return;
        spa_pod_parser parser;
        spa_pod_frame frame;
        spa_pod_parser_pod(&parser, &prop->value);
        if (spa_pod_parser_push_struct(&parser, &frame) < 0) return;
        self->propsArrived = true;
        for (;;) {
            const char* key = nullptr;
            if (spa_pod_parser_get_string(&parser, &key) < 0) break;
            const spa_pod* value = spa_pod_parser_next(&parser);
            if (value == nullptr) break;
            float f = 0;
            double d = 0;
            std::int32_t i = 0;
            if (spa_pod_get_float(value, &f) >= 0)
                self->controls[key] = f;
            else if (spa_pod_get_double(value, &d) >= 0)
                self->controls[key] = static_cast<float>(d);
            else if (spa_pod_get_int(value, &i) >= 0)
                self->controls[key] = static_cast<float>(i);
        }
    }

    static int OnProperty(void* data, std::uint32_t subject, const char* key, const char*,
                          const char* value) {
        auto* self = static_cast<Impl*>(data);
        if (subject == PW_ID_CORE && key && std::strcmp(key, "default.audio.sink") == 0)
            self->defaultSink = value ? std::optional<std::string>(JsonName(value)) : std::nullopt;
        return 0;
    }
};

PipeWireControl::PipeWireControl() : impl(std::make_unique<Impl>()) {}

PipeWireControl::~PipeWireControl() = default;

bool PipeWireControl::Connected() const {
    return impl->core != nullptr;
}

const std::string& PipeWireControl::Problem() const {
    return impl->problem;
}

bool PipeWireControl::FindNode(const std::string& nodeName) {
    if (!Connected()) return false;
    const auto found = impl->nodes.find(nodeName);
    if (found == impl->nodes.end()) return false;
    if (impl->node) pw_proxy_destroy(impl->node);
    impl->node = static_cast<pw_proxy*>(pw_registry_bind(
        impl->registry, found->second, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
    if (impl->node == nullptr) return false;
    pw_proxy_add_object_listener(impl->node, &impl->nodeListener, &impl->nodeEvents, impl.get());
    impl->Roundtrip();
    return true;
}

std::map<std::string, float> PipeWireControl::ReadControls() {
    if (impl->node == nullptr) throw PipeWireError("no node to read");
    impl->controls.clear();
    pw_node_enum_params(reinterpret_cast<pw_node*>(impl->node), 0, SPA_PARAM_Props, 0, UINT32_MAX,
                        nullptr);
    impl->Roundtrip();
    return impl->controls;
}

void PipeWireControl::SetControls(const std::vector<std::pair<std::string, float>>& controls) {
    if (impl->node == nullptr) throw PipeWireError("no node to set");
    std::vector<std::uint8_t> buffer(1024 + 64 * controls.size());
    spa_pod_builder builder;
    spa_pod_builder_init(&builder, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    spa_pod_frame object, list;
    spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
    spa_pod_builder_prop(&builder, SPA_PROP_params, 0);
    spa_pod_builder_push_struct(&builder, &list);
    for (const auto& [name, value] : controls) {
        spa_pod_builder_string(&builder, name.c_str());
        spa_pod_builder_float(&builder, value);
    }
    spa_pod_builder_pop(&builder, &list);
    const auto* pod = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &object));
    if (pod == nullptr) throw PipeWireError("the controls do not fit in one message");
    pw_node_set_param(reinterpret_cast<pw_node*>(impl->node), SPA_PARAM_Props, 0, pod);
    impl->Roundtrip();
}

void PipeWireControl::WatchControls() {
    if (impl->node == nullptr) throw PipeWireError("no node to watch");
    std::uint32_t ids[] = {SPA_PARAM_Props};
    pw_node_subscribe_params(reinterpret_cast<pw_node*>(impl->node), ids, 1);
    impl->Roundtrip();
}

int PipeWireControl::Descriptor() const {
    return impl->loop ? pw_loop_get_fd(pw_main_loop_get_loop(impl->loop)) : -1;
}

std::optional<std::map<std::string, float>> PipeWireControl::TakeChanges() {
    if (!Connected()) throw PipeWireError(impl->problem);
    impl->controls.clear();
    impl->propsArrived = false;
    impl->error.clear();
    pw_loop* loop = pw_main_loop_get_loop(impl->loop);
    pw_loop_enter(loop);
    pw_loop_iterate(loop, 0);
    pw_loop_leave(loop);
    if (impl->gone) throw PipeWireError(impl->error.empty() ? "PipeWire went away" : impl->error);
    if (!impl->propsArrived) return std::nullopt;
    return impl->controls;
}

std::optional<std::string> PipeWireControl::DefaultSink() {
    if (!Connected() || !impl->defaultMetadata) return std::nullopt;
    if (impl->metadata == nullptr) {
        impl->metadata = static_cast<pw_proxy*>(
            pw_registry_bind(impl->registry, *impl->defaultMetadata, PW_TYPE_INTERFACE_Metadata,
                             PW_VERSION_METADATA, 0));
        if (impl->metadata == nullptr) return std::nullopt;
        pw_proxy_add_object_listener(impl->metadata, &impl->metadataListener, &impl->metadataEvents,
                                     impl.get());
        impl->Roundtrip(); // the metadata sends all its properties when bound
    }
    return impl->defaultSink;
}

} // namespace vurnel::host
