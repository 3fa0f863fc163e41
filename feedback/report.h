// Failure reports to the page's "LoggingURL".
#pragma once

class CVRGpcExtension;

enum { GPC_REPORT_CANCELLED = 901 };

// Builds the report request and sends it; 1 when a send was attempted.
int ReportFailureToServer(CVRGpcExtension* pExtension, int nErrorCode, const char* lpszDetail);
// Builds the request text for a base URL (empty text for a base with no "?"
// that ends in "&"). Returns false when the text would not fit in nSize.
bool BuildReportRequest(const char* lpszBase, const char* lpszMeeting, const char* lpszSession,
                        int nErrorCode, const char* lpszDetail, char* lpszOut, int nSize);
// GET over WinINet; 1 when the server answered 200 and the body was read.
int SendHttpRequest(const char* lpszUrl);
