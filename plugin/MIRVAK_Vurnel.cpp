// The library entry: the one function a host finds in the module, and the load-time set-up.

#include "FloatingPointSetup.h"
#include "Main.h"

#if defined(_WIN32)
#include <windows.h>
#endif

using vurnel::AEffect;
using vurnel::audioMasterCallback;

// The C++ name is VurnelMain; the exported symbol is main (a C++ function cannot be declared
// main with this signature).
#if defined(_WIN32)
extern "C" AEffect* VURNEL_VSTCALL VurnelMain(audioMasterCallback audioMaster);
#else
extern "C" __attribute__((visibility("default"))) AEffect*
VurnelMain(audioMasterCallback audioMaster) __asm__("main");
#endif

// Called by the host for each new instance: asks the host's version (a host answering 0 gets
// nothing), then creates one tone control and returns its record. A null callback gives null.
// Any host thread; allocates the instance.
extern "C" AEffect* VURNEL_VSTCALL VurnelMain(audioMasterCallback audioMaster) {
    if (audioMaster == nullptr) return nullptr;
    try {
        if (audioMaster(nullptr, vurnel::audioMasterVersion, 0, 0, nullptr, 0.0f) == 0)
            return nullptr;
        auto* effect = new vurnel::TMirvakEffect(audioMaster, 0, 0);
        return effect->getEffectRecord();
    } catch (...) {
        return nullptr;
    }
}

// Load-time initialisation: masks floating-point exceptions on the loading thread, before the
// host can reach main. Thread attach/detach and process detach do nothing of the plug-in's own.
#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) vurnel::MaskFloatingPointExceptions();
    return TRUE;
}
#else
__attribute__((constructor)) static void VurnelLoadTimeInitialisation() {
    vurnel::MaskFloatingPointExceptions();
}
#endif
