#include "npvrgpc/host_link.h"

const char* GpcHostLink::GetParam(const char* lpszName) const
{
    if (!lpszName || !Has(&GpcHostTable::HostGetParam)) return nullptr;
    return m_pTable->HostGetParam(m_pCookie, lpszName);
}

int GpcHostLink::GetParamCount() const
{
    return CanListParams() ? m_pTable->HostGetParamCount(m_pCookie) : 0;
}

int GpcHostLink::GetParamAt(int nIndex, const char** ppName, const char** ppValue) const
{
    return CanListParams() ? m_pTable->HostGetParamAt(m_pCookie, nIndex, ppName, ppValue) : 0;
}

int GpcHostLink::DownloadUrl(GpcDownloadCallback pfnCallback, void* pContext, const char* lpszUrl) const
{
    if (!CanDownload()) return GPC_HOST_NO_SLOT;
    return m_pTable->HostDownloadUrl(m_pCookie, pfnCallback, pContext, lpszUrl);
}

int GpcHostLink::UnpackFile(const char* lpszSource, const char* lpszDest) const
{
    if (!CanUnpack()) return GPC_HOST_NO_SLOT;
    return m_pTable->HostUnpackFile(m_pCookie, lpszSource, lpszDest);
}

int GpcHostLink::Navigate(const char* lpszTarget, const char* lpszUrl) const
{
    if (!CanNavigate()) return GPC_HOST_NO_SLOT;
    return m_pTable->HostNavigate(m_pCookie, lpszTarget, lpszUrl);
}

HWND GpcHostLink::GetWindow() const
{
    return CanGetWindow() ? m_pTable->HostGetWindow(m_pCookie) : nullptr;
}

int GpcHostLink::SetSocketCallback(GpcSocketCallback pfnCallback, void* pContext) const
{
    if (!CanSetSocketCallback()) return GPC_HOST_NO_SLOT;
    return m_pTable->HostSetSocketCallback(m_pCookie, pfnCallback, pContext);
}

int GpcHostLink::GetDirectory(char* lpszBuffer, int nSize) const
{
    return CanGetDirectory() ? m_pTable->HostGetDirectory(lpszBuffer, nSize) : 0;
}

int GpcHostLink::SetInstance(void* pInstance) const
{
    if (!CanSetInstance()) return GPC_HOST_NO_SLOT;
    return m_pTable->HostSetInstance(m_pCookie, pInstance);
}

void* GpcHostLink::GetInstance() const
{
    return CanGetInstance() ? m_pTable->HostGetInstance(m_pCookie) : nullptr;
}

int GpcHostLink::ShowMessage(const char* lpszText) const
{
    if (!CanShowMessage()) return GPC_HOST_NO_SLOT;
    return m_pTable->HostShowMessage(m_pCookie, lpszText);
}
