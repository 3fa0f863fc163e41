#include "npvrgpc/gpc_assert.h"

#include <cstdio>

#include "npvrgpc/text_seam.h"

void GpcAssertReport(const char* lpszExpression, int nLine)
{
    // The report names the support library's chief file, whatever the caller:
    // people reading logs know the checks by that path.
    char achBuffer[1024];
    std::snprintf(achBuffer, sizeof(achBuffer), "ASSERT %s failed at file %s, line %d\r\n",
                  lpszExpression ? lpszExpression : "", "..\\npvrgpc\\npbase", nLine);
    achBuffer[sizeof(achBuffer) - 1] = '\0';
    GpcDebugOutput(achBuffer);
}
