// The contexts that the library hands to the host with a download.
//
// The host keeps such a context until it delivers the download's notices,
// which can be long after the object it stood for is gone: a meeting closed
// mid-download, a section read again, a notice delivered while a dialog
// pumps messages during shut-down. So the host never holds an object's
// address. It holds a number that is never handed out twice, and the
// handler looks the number up among the objects still alive; a number that
// finds nothing is stale and its notice is dropped.
//
// The table is module-wide and intrusive: each object carries its own entry,
// so registering can never fail for want of memory. The library runs on the
// host's thread only, so the table needs no lock.
#pragma once

#include <windows.h>

enum GpcLiveKind {
    GPC_LIVE_NONE = 0,
    GPC_LIVE_ITEM = 1,       // a manifest item whose download the host runs
    GPC_LIVE_JOB = 2,        // an on-demand request
    GPC_LIVE_EXTENSION = 3,  // an instance waiting for its manifest
};

class CGpcLiveContext {
public:
    CGpcLiveContext() = default;
    ~CGpcLiveContext() { Withdraw(); }
    // A copy is another object: it starts outside the table, and an
    // assignment keeps the entry of the object assigned to.
    CGpcLiveContext(const CGpcLiveContext&) {}
    CGpcLiveContext& operator=(const CGpcLiveContext&) { return *this; }

    // Enters the object in the table under a fresh number; an entry it had
    // is withdrawn first, so notices handed out for it become stale.
    void Register(int nKind, void* pObject);
    // Takes the entry out: every context handed out for it is stale now.
    void Withdraw();
    bool IsRegistered() const { return m_dwId != 0; }

    // What the host is given: the number, never the address. Null while
    // the object is not in the table.
    void* GetContext() const { return reinterpret_cast<void*>(static_cast<ULONG_PTR>(m_dwId)); }
    int GetKind() const { return m_nKind; }
    void* GetObject() const { return m_pObject; }

    // The live object of that kind a context stands for, or null.
    static void* Find(void* pContext, int nKind);
    // Walks the table: the first entry, then each one's successor.
    static CGpcLiveContext* First() { return s_pFirst; }
    CGpcLiveContext* GetNext() const { return m_pNext; }

private:
    DWORD m_dwId = 0;
    int m_nKind = GPC_LIVE_NONE;
    void* m_pObject = nullptr;
    CGpcLiveContext* m_pPrev = nullptr;
    CGpcLiveContext* m_pNext = nullptr;

    static CGpcLiveContext* s_pFirst;
    static DWORD s_dwLastId;
};
