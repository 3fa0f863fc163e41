// What the installation needs of the instance that owns its items, jobs and
// manager. The extension implements it; install/ never sees its type, so
// items can be owned by a small stand-in in the tests.
#pragma once

#include <windows.h>

#include "feedback/feedback_site.h"
#include "npvrgpc/host_link.h"
#include "vrgpcext/host_table.h"

struct GpcInstallItem;

class IGpcInstallOwner : public IGpcFeedbackSite {
public:
    // The instance's cookie with the host's table.
    virtual GpcHostLink HostLink() const = 0;

    // A fatal failure stops the start-up; an on-demand request beside it
    // puts the flag back as it found it.
    virtual int IsFailed() const = 0;
    virtual void SetFailed(int bFailed) = 0;
    // The start-up download runs (a halted on-demand request then waits for
    // the heartbeat to answer its caller, through the callback kept here).
    virtual int IsStdDownload() const = 0;
    virtual void SetOdeFailureCallback(GpcOdeCallback pfnCallback) = 0;
    // Items are filtered by their platform field.
    virtual int ChecksItemOsVersion() const = 0;
    // The product lies under the user's profile ("%uninstall%" then too).
    virtual int IsUserDirRoot() const = 0;
    // The registry update settings for a list with or without updates;
    // 2 when the meeting halts (the user has been told).
    virtual int CheckUpdateStatus(int bUpdate) = 0;

    // Asked before the file at lpszPath is run for an item's action: 1 to
    // go on; 0 when it may not run (the owner has said why, as the item's
    // failure control asks).
    virtual int MayRun(GpcInstallItem* pItem, const char* lpszPath) = 0;

    // The handlers the host calls as item downloads progress and end (the
    // start-up's and the on-demand requests').
    virtual GpcDownloadCallback ItemDownloadHandler() const = 0;
    virtual GpcDownloadCallback JobItemDownloadHandler() const = 0;

protected:
    ~IGpcInstallOwner() = default;
};
