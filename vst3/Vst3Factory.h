// The VST 3 plug-in factory: one audio effect class (the processor) and its edit controller,
// described to hosts and made on request.
#pragma once

#include "Vst3Interface.h"

namespace vurnel::vst3 {

// The module's one factory, a static object: its reference count does nothing. Any thread.
IPluginFactory3* Factory() noexcept;

} // namespace vurnel::vst3
