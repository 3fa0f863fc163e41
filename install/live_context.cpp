#include "install/live_context.h"

CGpcLiveContext* CGpcLiveContext::s_pFirst = nullptr;
DWORD CGpcLiveContext::s_dwLastId = 0;

void CGpcLiveContext::Register(int nKind, void* pObject)
{
    Withdraw();
    // Numbers are never reused, so a context the host kept for an object
    // that is gone can never name a newer one. After four thousand million
    // contexts no number is left: the object stays outside the table and
    // its notices are dropped rather than sent to the wrong object.
    if (s_dwLastId == 0xFFFFFFFFu || !pObject) return;
    m_dwId = ++s_dwLastId;
    m_nKind = nKind;
    m_pObject = pObject;
    m_pPrev = nullptr;
    m_pNext = s_pFirst;
    if (s_pFirst) s_pFirst->m_pPrev = this;
    s_pFirst = this;
}

void CGpcLiveContext::Withdraw()
{
    if (m_dwId == 0) return;
    if (m_pPrev) {
        m_pPrev->m_pNext = m_pNext;
    } else {
        s_pFirst = m_pNext;
    }
    if (m_pNext) m_pNext->m_pPrev = m_pPrev;
    m_dwId = 0;
    m_nKind = GPC_LIVE_NONE;
    m_pObject = nullptr;
    m_pPrev = nullptr;
    m_pNext = nullptr;
}

void* CGpcLiveContext::Find(void* pContext, int nKind)
{
    DWORD dwId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pContext));
    if (dwId == 0) return nullptr;
    for (CGpcLiveContext* p = s_pFirst; p; p = p->m_pNext) {
        if (p->m_dwId == dwId) return p->m_nKind == nKind ? p->m_pObject : nullptr;
    }
    return nullptr;
}
