// What messages, failure reports and progress windows need of the instance
// they speak for. The rooms above implement it (the extension); feedback
// never knows their types.
#pragma once

#include <windows.h>

#include "vrgpcext/host_table.h"

class IGpcFeedbackSite {
public:
    // The host's cookie of the instance: its language, its page parameters.
    virtual GpcCookie GetCookie() const = 0;
    // The instance's message window (template 101), or null.
    virtual HWND GetMessageWindow() const = 0;

protected:
    ~IGpcFeedbackSite() = default;
};

// The cookie of a site; the stored cookie when there is none.
GpcCookie CookieOf(const IGpcFeedbackSite* pSite);
