// A stand-in for the instance that owns items, jobs and the installation
// manager: its flags are plain fields a test sets, and it records what the
// installation asked of it. No extension object is built.
#pragma once

#include <windows.h>

#include "install/install_owner.h"
#include "npvrgpc/module_state.h"

class FakeInstallOwner : public IGpcInstallOwner {
public:
    explicit FakeInstallOwner(GpcCookie pCookie) : cookie(pCookie) {}

    GpcCookie GetCookie() const override { return cookie; }
    HWND GetMessageWindow() const override { return messageWindow; }
    GpcHostLink HostLink() const override { return GetHostLink(cookie); }
    int IsFailed() const override { return bFailed; }
    void SetFailed(int bValue) override { bFailed = bValue; }
    int IsStdDownload() const override { return bStdDownload; }
    void SetOdeFailureCallback(GpcOdeCallback pfnCallback) override { pfnOdeFailureCallback = pfnCallback; }
    int ChecksItemOsVersion() const override { return bCheckItemOsVersion; }
    int IsUserDirRoot() const override { return bUserDirRoot; }
    int CheckUpdateStatus(int /*bUpdate*/) override { return nUpdateStatus; }
    GpcDownloadCallback ItemDownloadHandler() const override { return pfnItemHandler; }
    GpcDownloadCallback JobItemDownloadHandler() const override { return pfnJobItemHandler; }
    int MayRun(GpcInstallItem* /*pItem*/, const char* /*lpszPath*/) override { return bMayRun; }

    GpcCookie cookie;
    HWND messageWindow = nullptr;
    int bFailed = 0;
    int bStdDownload = 0;
    int bCheckItemOsVersion = 0;
    int bUserDirRoot = 0;
    int nUpdateStatus = 0;
    int bMayRun = 1;
    GpcOdeCallback pfnOdeFailureCallback = nullptr;
    GpcDownloadCallback pfnItemHandler = nullptr;
    GpcDownloadCallback pfnJobItemHandler = nullptr;
};
