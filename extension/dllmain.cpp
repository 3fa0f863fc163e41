#include <windows.h>

#include "npvrgpc/module_state.h"

// The static runtime's own locks.
//
// The runtime that is linked into this library (the unwinder's registry of
// frame tables, the emulated thread-local storage of the exception state)
// guards itself with mutexes whenever the C runtime's flag _CRT_MT says that
// threads are in use, and each such mutex is a semaphore that is created on
// first use and never closed: one for every load of the library, left in the
// host's process after the unload. The library creates no threads, and the
// host calls it from one thread at a time, so those guards protect nothing
// here. The flag is cleared before the first static constructor runs (the
// one that registers the unwinder's frame tables) and again on every
// notification of the entry point, since the runtime's TLS callback sets it
// whenever a thread starts in the process.
extern "C" int _CRT_MT;

// The C++ runtime's reserve for exceptions thrown when memory is short is
// allocated when the library is loaded; only this call gives it back.
namespace __gnu_cxx {
void __freeres() throw();
}

namespace {

void SingleThreadedRuntime()
{
    _CRT_MT = 0;
}

// The start-up code sets the flag once more just before it runs the static
// constructors, last to first in the linker's order of ".ctors" sections.
// The unwinder's registration is the section ".ctors.65535"; a name that
// sorts after it runs before it.
typedef void(__cdecl* PFN_Constructor)();
__attribute__((used, section(".ctors.99999"))) PFN_Constructor s_pfnSingleThreaded = &SingleThreadedRuntime;

}  // namespace

// The entry point remembers the module handle, whatever the reason. On an
// unload (FreeLibrary, not the end of the process) it also returns the C++
// runtime's reserve, which would otherwise stay in the host's heap: no
// exception can be on its way once the host lets the library go.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    SingleThreadedRuntime();
    g_hModule = hInstance;
    if (dwReason == DLL_PROCESS_DETACH && !lpReserved)
        __gnu_cxx::__freeres();
    return TRUE;
}
