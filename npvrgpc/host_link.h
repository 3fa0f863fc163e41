// The host as the library sees it: one instance's cookie with the host's
// callback table. Every host operation the library uses goes through here,
// and each one checks for a missing table or slot in this one place: a host
// may serve a shorter or partly empty table.
#pragma once

#include <windows.h>

#include "vrgpcext/host_table.h"

// What an operation answers when the host has no table or no such slot: a
// failure for the operations whose 0 means success (download, unpack).
enum { GPC_HOST_NO_SLOT = -1 };

class GpcHostLink {
public:
    GpcHostLink() = default;
    GpcHostLink(GpcCookie pCookie, GpcHostTable* pTable) : m_pCookie(pCookie), m_pTable(pTable) {}

    GpcCookie Cookie() const { return m_pCookie; }
    // The host's own table pointer (handed on, never copied); may be null.
    GpcHostTable* Table() const { return m_pTable; }
    bool HasTable() const { return m_pTable != nullptr; }

    // Slot 1 is only ever tested for null: a plug-in host fills it.
    bool HasPluginMarker() const { return Has(&GpcHostTable::HostPluginMarker); }
    bool CanListParams() const { return Has(&GpcHostTable::HostGetParamCount) && Has(&GpcHostTable::HostGetParamAt); }
    bool CanDownload() const { return Has(&GpcHostTable::HostDownloadUrl); }
    bool CanUnpack() const { return Has(&GpcHostTable::HostUnpackFile); }
    bool CanNavigate() const { return Has(&GpcHostTable::HostNavigate); }
    bool CanGetWindow() const { return Has(&GpcHostTable::HostGetWindow); }
    bool CanGetInstance() const { return Has(&GpcHostTable::HostGetInstance); }
    bool CanSetInstance() const { return Has(&GpcHostTable::HostSetInstance); }
    bool CanSetSocketCallback() const { return Has(&GpcHostTable::HostSetSocketCallback); }
    bool CanGetDirectory() const { return Has(&GpcHostTable::HostGetDirectory); }
    bool CanShowMessage() const { return Has(&GpcHostTable::HostShowMessage); }

    // Slot 8: a page parameter; null without the slot, without a name, or
    // when the page has no such parameter.
    const char* GetParam(const char* lpszName) const;
    // Slots 6 and 9: 0 without them.
    int GetParamCount() const;
    int GetParamAt(int nIndex, const char** ppName, const char** ppValue) const;
    // Slot 11: the host's result (0: started), GPC_HOST_NO_SLOT without it.
    int DownloadUrl(GpcDownloadCallback pfnCallback, void* pContext, const char* lpszUrl) const;
    // Slot 12: the host's result (0: unpacked), GPC_HOST_NO_SLOT without it.
    int UnpackFile(const char* lpszSource, const char* lpszDest) const;
    // Slot 10: the host's result, GPC_HOST_NO_SLOT without it.
    int Navigate(const char* lpszTarget, const char* lpszUrl) const;
    // Slot 14: null without it.
    HWND GetWindow() const;
    // Slot 13: the host's result, GPC_HOST_NO_SLOT without it.
    int SetSocketCallback(GpcSocketCallback pfnCallback, void* pContext) const;
    // Slot 16 (takes no cookie): the host's result, 0 without it.
    int GetDirectory(char* lpszBuffer, int nSize) const;
    // Slots 17 and 18: the instance the host keeps for the cookie.
    int SetInstance(void* pInstance) const;
    void* GetInstance() const;
    // Slot 19: the host's result, GPC_HOST_NO_SLOT without it.
    int ShowMessage(const char* lpszText) const;

private:
    template <typename Slot>
    bool Has(Slot GpcHostTable::*pSlot) const { return m_pTable != nullptr && m_pTable->*pSlot != nullptr; }

    GpcCookie m_pCookie = nullptr;
    GpcHostTable* m_pTable = nullptr;
};
