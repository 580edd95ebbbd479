// The VST 3 module's entry points: the factory, and the module's load and unload calls (Linux
// ModuleEntry/ModuleExit, Windows InitDll/ExitDll). Nothing else is exported; no C++ exception
// leaves here.
#include "FloatingPointSetup.h"
#include "Vst3Factory.h"

#ifdef _WIN32
#include <windows.h>
// The module definition file (vurnel_vst3.def) exports the names, undecorated.
#define VURNEL_VST3_EXPORT extern "C"
#else
#define VURNEL_VST3_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
int entries = 0; // ModuleEntry/InitDll calls not yet paired with an exit
}

// Any thread; no allocation. The one factory; its reference count does nothing.
VURNEL_VST3_EXPORT vurnel::vst3::IPluginFactory* VURNEL_VST3_API GetPluginFactory() {
    return vurnel::vst3::Factory();
}

#ifdef _WIN32
// The loading thread, after LoadLibrary (hosts need not call it); no allocation.
VURNEL_VST3_EXPORT bool VURNEL_VST3_API InitDll() {
    ++entries;
    return true;
}
// The unloading thread, before FreeLibrary; no allocation.
VURNEL_VST3_EXPORT bool VURNEL_VST3_API ExitDll() {
    if (entries > 0) --entries;
    return true;
}
// Load-time initialisation: masks floating-point exceptions on the loading thread, as the VST 2
// module does.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) vurnel::MaskFloatingPointExceptions();
    return TRUE;
}
#else
// The loading thread, right after dlopen (possibly more than once); no allocation.
VURNEL_VST3_EXPORT bool ModuleEntry(void* /*sharedLibraryHandle*/) {
    ++entries;
    return true;
}
// The unloading thread, before dlclose; no allocation.
VURNEL_VST3_EXPORT bool ModuleExit() {
    if (entries > 0) --entries;
    return true;
}
// Load-time initialisation: masks floating-point exceptions on the loading thread, as the VST 2
// and LV2 modules do.
__attribute__((constructor)) static void VurnelVst3LoadTimeInitialisation() {
    vurnel::MaskFloatingPointExceptions();
}
#endif
