// A module whose main gives no effect, for the host's error handling.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) void* VSTPluginMain(void* /*host*/) {
    return nullptr;
}
