// Failure reports to the page's "LoggingURL".
#pragma once

#include <windows.h>

#include "vrgpcext/messages.h"

#include "feedback/feedback_site.h"

// Builds the report request and sends it; 1 when a send was attempted.
int ReportFailureToServer(const IGpcFeedbackSite* pSite, int nErrorCode, const char* lpszDetail);
// Builds the request text for a base URL (empty text for a base with no "?"
// that ends in "&"). The meeting, session and detail are escaped so that the
// server reads back exactly these texts. Returns false when the text would
// not fit in nSize.
bool BuildReportRequest(const char* lpszBase, const char* lpszMeeting, const char* lpszSession,
                        int nErrorCode, const char* lpszDetail, char* lpszOut, int nSize);
// GET over WinINet; 1 when the server answered 200 and the body was read.
// A certificate the system does not accept, or a 401 or 403, ends it at once
// (traced, 0); only a 407 of the system's proxy brings a credentials prompt.
// An address that is not http or https with a host name, or longer than
// GPC_REPORT_MAX_REQUEST characters, is refused (traced, 0) before any
// WinINet call.
int SendHttpRequest(const char* lpszUrl);

// The longest request a report sends, about what browsers accept in an
// address: longer page values would only hold the host's thread.
enum { GPC_REPORT_MAX_REQUEST = 2048 };

// The WinINet request flags for a report address: always from the network,
// never cached, the certificate checked in full; secure when the address
// begins with "https" after blanks and tabs.
DWORD GetReportRequestFlags(const char* lpszUrl);

// How long a report may wait for the server: connecting, sending and each
// receive are bounded so that a server that never answers cannot hold the
// host's thread for ever. Defaults: GPC_REPORT_TIMEOUT_MS each.
enum { GPC_REPORT_TIMEOUT_MS = 30000 };
// Credentials prompts per report at most: a server that keeps refusing
// what the user confirms ends the report as failed.
enum { GPC_REPORT_MAX_CREDENTIAL_ROUNDS = 3 };
// Tests shorten the time-outs; 0 restores the defaults.
void SetReportTimeoutForTesting(DWORD dwMilliseconds);
