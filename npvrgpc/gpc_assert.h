// Non-fatal argument checks of the support library. A failed check writes
// "ASSERT <expr> failed at file ..\npvrgpc\npbase, line <n>\r\n" to the
// debugger output (no trace prefix, not sent to the tracer window) and the
// caller goes on to handle the failed case itself.
#pragma once

void GpcAssertReport(const char* lpszExpression, int nLine);

#define GPC_ASSERT(expr)                                 \
    do {                                                 \
        if (!(expr)) GpcAssertReport(#expr, __LINE__);   \
    } while (0)
