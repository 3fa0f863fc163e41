#include "lib/debug_monitor.h"

#include <cstring>

namespace {

const DWORD GPC_DBWIN_BUFFER_SIZE = 4096;

}  // namespace

CGpcDebugMonitor::CGpcDebugMonitor(bool bKeepTexts) : m_bKeepTexts(bKeepTexts)
{
    InitializeCriticalSection(&m_cs);
    m_hMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, GPC_DBWIN_BUFFER_SIZE,
                                    "DBWIN_BUFFER");
    if (!m_hMapping || GetLastError() == ERROR_ALREADY_EXISTS) {
        Close();
        return;
    }
    m_pView = MapViewOfFile(m_hMapping, FILE_MAP_READ, 0, 0, 0);
    m_hBufferReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    m_hDataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    m_hStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!m_pView || !m_hBufferReady || !m_hDataReady || !m_hStop) {
        Close();
        return;
    }
    m_hThread = CreateThread(nullptr, 0, &CGpcDebugMonitor::Run, this, 0, nullptr);
    if (!m_hThread) Close();
}

CGpcDebugMonitor::~CGpcDebugMonitor()
{
    Close();
    DeleteCriticalSection(&m_cs);
}

void CGpcDebugMonitor::Close()
{
    if (m_hThread) {
        SetEvent(m_hStop);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    if (m_pView) UnmapViewOfFile(m_pView);
    m_pView = nullptr;
    for (HANDLE* ph : {&m_hMapping, &m_hBufferReady, &m_hDataReady, &m_hStop}) {
        if (*ph) CloseHandle(*ph);
        *ph = nullptr;
    }
}

DWORD WINAPI CGpcDebugMonitor::Run(void* pParam)
{
    CGpcDebugMonitor* pSelf = static_cast<CGpcDebugMonitor*>(pParam);
    const DWORD dwSelf = GetCurrentProcessId();
    HANDLE ahWait[2] = {pSelf->m_hStop, pSelf->m_hDataReady};
    SetEvent(pSelf->m_hBufferReady);
    for (;;) {
        if (WaitForMultipleObjects(2, ahWait, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
        const char* pBuffer = static_cast<const char*>(pSelf->m_pView);
        DWORD dwPid = 0;
        std::memcpy(&dwPid, pBuffer, sizeof(dwPid));
        if (dwPid == dwSelf) {
            const char* pText = pBuffer + sizeof(DWORD);
            size_t nText = strnlen(pText, GPC_DBWIN_BUFFER_SIZE - sizeof(DWORD));
            EnterCriticalSection(&pSelf->m_cs);
            if (pSelf->m_bKeepTexts) pSelf->m_Texts.emplace_back(pText, nText);
            ++pSelf->m_nCount;
            LeaveCriticalSection(&pSelf->m_cs);
        }
        SetEvent(pSelf->m_hBufferReady);
    }
    return 0;
}

std::vector<std::string> CGpcDebugMonitor::Texts() const
{
    EnterCriticalSection(&m_cs);
    std::vector<std::string> texts = m_Texts;
    LeaveCriticalSection(&m_cs);
    return texts;
}

size_t CGpcDebugMonitor::Count() const
{
    EnterCriticalSection(&m_cs);
    size_t n = m_nCount;
    LeaveCriticalSection(&m_cs);
    return n;
}

bool CGpcDebugMonitor::WaitForCount(size_t n, DWORD dwTimeoutMs) const
{
    DWORD dwStart = GetTickCount();
    while (Count() < n) {
        if (GetTickCount() - dwStart >= dwTimeoutMs) return false;
        Sleep(1);
    }
    return true;
}
