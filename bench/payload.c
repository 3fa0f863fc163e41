/* The file the start-up benchmark installs many copies of: a small library
   whose only content that matters is its version resource. */
#include <windows.h>

__declspec(dllexport) int __stdcall BenchPayloadMarker(void)
{
    return 1;
}
