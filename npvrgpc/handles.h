// Small owning types for operating-system handles. Each closes what it owns
// and keeps GetLastError() intact across the close, because callers read
// the error code right after the call that produced it.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <cstdio>
#include <utility>

template <typename T, typename Traits>
class CGpcScoped {
public:
    CGpcScoped() : m_h(Traits::Invalid()) {}
    explicit CGpcScoped(T h) : m_h(h) {}
    ~CGpcScoped() { Reset(); }
    CGpcScoped(const CGpcScoped&) = delete;
    CGpcScoped& operator=(const CGpcScoped&) = delete;
    CGpcScoped(CGpcScoped&& o) noexcept : m_h(o.Release()) {}
    CGpcScoped& operator=(CGpcScoped&& o) noexcept { if (this != &o) Reset(o.Release()); return *this; }

    void Reset(T h = Traits::Invalid()) {
        if (Traits::IsValid(m_h)) {
            DWORD dwErr = GetLastError();
            Traits::Close(m_h);
            SetLastError(dwErr);
        }
        m_h = h;
    }
    T Release() { T h = m_h; m_h = Traits::Invalid(); return h; }
    T Get() const { return m_h; }
    bool IsValid() const { return Traits::IsValid(m_h); }
    explicit operator bool() const { return IsValid(); }

private:
    T m_h;
};

struct GpcFileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
// A kernel handle whose invalid value is INVALID_HANDLE_VALUE or null.
typedef CGpcScoped<HANDLE, GpcFileHandleTraits> CGpcHandle;

struct GpcModuleTraits {
    static HMODULE Invalid() { return nullptr; }
    static bool IsValid(HMODULE h) { return h != nullptr; }
    static void Close(HMODULE h) { FreeLibrary(h); }
};
typedef CGpcScoped<HMODULE, GpcModuleTraits> CGpcModule;

struct GpcStdioTraits {
    static FILE* Invalid() { return nullptr; }
    static bool IsValid(FILE* p) { return p != nullptr; }
    static void Close(FILE* p) { fclose(p); }
};
typedef CGpcScoped<FILE*, GpcStdioTraits> CGpcFile;

struct GpcHGlobalTraits {
    static HGLOBAL Invalid() { return nullptr; }
    static bool IsValid(HGLOBAL h) { return h != nullptr; }
    static void Close(HGLOBAL h) { GlobalFree(h); }
};
typedef CGpcScoped<HGLOBAL, GpcHGlobalTraits> CGpcHGlobal;

struct GpcScHandleTraits {
    static SC_HANDLE Invalid() { return nullptr; }
    static bool IsValid(SC_HANDLE h) { return h != nullptr; }
    static void Close(SC_HANDLE h) { CloseServiceHandle(h); }
};
typedef CGpcScoped<SC_HANDLE, GpcScHandleTraits> CGpcScHandle;

struct GpcBrushTraits {
    static HBRUSH Invalid() { return nullptr; }
    static bool IsValid(HBRUSH h) { return h != nullptr; }
    static void Close(HBRUSH h) { DeleteObject(h); }
};
typedef CGpcScoped<HBRUSH, GpcBrushTraits> CGpcBrush;

struct GpcBstrTraits {
    static BSTR Invalid() { return nullptr; }
    static bool IsValid(BSTR b) { return b != nullptr; }
    static void Close(BSTR b) { SysFreeString(b); }
};
typedef CGpcScoped<BSTR, GpcBstrTraits> CGpcBstr;

// A COM interface pointer that is released when it goes out of scope.
template <typename T>
class CGpcComPtr {
public:
    CGpcComPtr() : m_p(nullptr) {}
    explicit CGpcComPtr(T* p) : m_p(p) {}  // takes over one reference
    ~CGpcComPtr() { Reset(); }
    CGpcComPtr(const CGpcComPtr&) = delete;
    CGpcComPtr& operator=(const CGpcComPtr&) = delete;
    void Reset(T* p = nullptr) { if (m_p) m_p->Release(); m_p = p; }
    T* Get() const { return m_p; }
    T** Out() { Reset(); return &m_p; }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T* Detach() { T* p = m_p; m_p = nullptr; return p; }

private:
    T* m_p;
};
