// Variable-argument call of an exported function.
#include "script/call_export.h"

LONG GpcCallExport(FARPROC pfn, const ULONG_PTR* rgArgs, int nArgs)
{
    (void)pfn; (void)rgArgs; (void)nArgs;
    return 0;
}
