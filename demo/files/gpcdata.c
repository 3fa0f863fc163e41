/* The demo's data library: only its version resource matters. */
#include <windows.h>
__declspec(dllexport) int WINAPI GpcDemoDataVersion(void) { return 0x02010005; }
