#include <windows.h>

#include "npvrgpc/module_state.h"

// The entry point only remembers the module handle, whatever the reason.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD /*dwReason*/, LPVOID /*lpReserved*/)
{
    g_hModule = hInstance;
    return TRUE;
}
