// The fifteen exports of the library, all stdcall with 32-bit arguments.
#pragma once

#include "vrgpcext/host_table.h"

// What GpcGetFileAtUrlEx's caller hands over (its last argument): expected
// size and caption.
struct GpcProgressRequest {
    DWORD dwTotalSize;
    const char* lpszCaption;
};

extern "C" {
int WINAPI GpcInitInstance(GpcCookie pCookie, GpcHostTable* pTable);
int WINAPI GpcExitInstance(GpcCookie pCookie);
int WINAPI GpcHeartbeat(GpcCookie pCookie);
int WINAPI GpcActionNotify(GpcCookie pCookie, DWORD dwMessage, DWORD dwParam);
int WINAPI GpcStdDownloadExt(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName,
                             GpcOdeCallback pfnCallback, void* pContext);
int WINAPI GpcOdeDownload(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName,
                          GpcOdeCallback pfnCallback, void* pContext);
int WINAPI GpcOdeDownload2(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName,
                           const char* lpszFileName, GpcOdeCallback pfnCallback, void* pContext);
int WINAPI GpcOdeGetSectionIntegrity(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName);
int WINAPI GpcOdeGetSectionIntegrity2(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName,
                                      const char* lpszFileName);
int WINAPI GpcOdeGetSectionIntegrityExt(GpcCookie pCookie, const char* lpszIniFile,
                                        const char* lpszSectionName, const char* lpszFileName);
int WINAPI GpcOdeConfig(DWORD dwValue1, DWORD dwValue2, DWORD dwValue3);
int WINAPI GpcGetFileAtUrl(GpcCookie pCookie, GpcDownloadCallback pfnCallback, void* pContext,
                           const char* lpszUrl);
int WINAPI GpcGetFileAtUrlEx(GpcCookie pCookie, GpcDownloadCallback pfnCallback, void* pContext,
                             const char* lpszUrl, void* pProgressRequest);
int WINAPI GpcOpenLocation(GpcCookie pCookie, const char* lpszUrl, const char* lpszTarget, void* pIgnored);
int WINAPI GpcCancelFileIndex(GpcCookie pCookie, int nIndex);
}
