// Failure reports.
#include "feedback/report.h"

int ReportFailureToServer(CVRGpcExtension*, int, const char*) { return 0; }
bool BuildReportRequest(const char*, const char*, const char*, int, const char*, char* lpszOut, int nSize)
{
    if (lpszOut && nSize > 0) lpszOut[0] = '\0';
    return false;
}
int SendHttpRequest(const char*) { return 0; }
