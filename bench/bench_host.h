// A minimal in-process host for the benchmark: it loads vrgpcext.dll by path
// and resolves its exports as a browser host does, serves the callback table
// from a fixed set of page parameters, and "downloads" from a local folder:
// every requested url is answered with the file of the same name in that
// folder, completed on the next delivery round without any network.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "vrgpcext/host_table.h"

// vrgpcext.dll loaded by path, with the exports the benchmark drives.
class CBenchExtension {
public:
    typedef int(WINAPI* PFN_Init)(GpcCookie, GpcHostTable*);
    typedef int(WINAPI* PFN_Cookie)(GpcCookie);
    typedef int(WINAPI* PFN_OdeDownload)(GpcCookie, const char*, const char*, GpcOdeCallback, void*);
    typedef int(WINAPI* PFN_OdeIntegrity)(GpcCookie, const char*, const char*);
    typedef int(WINAPI* PFN_ActionNotify)(GpcCookie, DWORD, DWORD);
    typedef int(WINAPI* PFN_OdeDownload2)(GpcCookie, const char*, const char*, const char*, GpcOdeCallback, void*);
    typedef int(WINAPI* PFN_OdeIntegrity2)(GpcCookie, const char*, const char*, const char*);
    typedef int(WINAPI* PFN_OdeConfig)(DWORD, DWORD, DWORD);
    typedef int(WINAPI* PFN_GetFileAtUrl)(GpcCookie, GpcDownloadCallback, void*, const char*);
    typedef int(WINAPI* PFN_GetFileAtUrlEx)(GpcCookie, GpcDownloadCallback, void*, const char*, void*);
    typedef int(WINAPI* PFN_OpenLocation)(GpcCookie, const char*, const char*, DWORD);
    typedef int(WINAPI* PFN_CancelFileIndex)(GpcCookie, int);

    explicit CBenchExtension(const std::string& dllPath);
    ~CBenchExtension();
    CBenchExtension(const CBenchExtension&) = delete;
    CBenchExtension& operator=(const CBenchExtension&) = delete;

    // Every export the benchmark needs was found.
    bool IsLoaded() const;
    // All fifteen exports were found (the soak calls every one).
    bool HasAllExports() const;

    PFN_Init InitInstance = nullptr;
    PFN_Cookie ExitInstance = nullptr;
    PFN_Cookie Heartbeat = nullptr;
    PFN_OdeDownload OdeDownload = nullptr;
    PFN_OdeIntegrity OdeGetSectionIntegrity = nullptr;
    PFN_ActionNotify ActionNotify = nullptr;
    PFN_OdeDownload StdDownloadExt = nullptr;
    PFN_OdeDownload2 OdeDownload2 = nullptr;
    PFN_OdeIntegrity2 OdeGetSectionIntegrity2 = nullptr;
    PFN_OdeIntegrity2 OdeGetSectionIntegrityExt = nullptr;
    PFN_OdeConfig OdeConfig = nullptr;
    PFN_GetFileAtUrl GetFileAtUrl = nullptr;
    PFN_GetFileAtUrlEx GetFileAtUrlEx = nullptr;
    PFN_OpenLocation OpenLocation = nullptr;
    PFN_CancelFileIndex CancelFileIndex = nullptr;

private:
    HMODULE m_hModule = nullptr;
};

// Process figures that Wine 8 answers: PagefileUsage stands for the private
// bytes (PrivateUsage reads 0 there), and the handle count is found by
// probing handle values, since GetProcessHandleCount reads 0 as well.
SIZE_T ProcessPrivateBytes();
int CountProcessHandles();

class CBenchHost {
public:
    // hostDir: what HostGetDirectory answers (the product directory's root).
    // serverDir: the folder that plays the web server.
    CBenchHost(const std::string& hostDir, const std::string& serverDir);
    ~CBenchHost();
    CBenchHost(const CBenchHost&) = delete;
    CBenchHost& operator=(const CBenchHost&) = delete;

    // False when the windows could not be created (no display).
    bool IsReady() const { return m_hPlugin && m_hTracer; }

    void SetParam(const std::string& name, const std::string& value);
    void ClearParams() { m_Params.clear(); }

    // What becomes of a requested download when the downloads are delivered.
    enum Delivery { DELIVER, FAIL, HOLD };
    // Chooses per download (its url); null delivers every download. The
    // chooser's answer is asked once per request, when it is made.
    typedef Delivery (*PFN_Chooser)(void* pContext, const char* lpszUrl);
    void SetChooser(PFN_Chooser pfnChooser, void* pContext)
    {
        m_pfnChooser = pfnChooser;
        m_pChooserContext = pContext;
    }
    // Forgets every held download without calling it back, as a host does
    // with the requests of an instance that has gone.
    void DropPending();
    size_t HeldDownloads() const { return m_Held.size(); }
    int DeliveredDownloads() const { return m_nDelivered; }
    int FailedDownloads() const { return m_nFailed; }
    GpcHostTable* Table() { return &m_Table; }
    GpcCookie Cookie() const { return m_pCookie; }
    // The plug-in window: its window long 0 carries the cookie, which is how
    // page scripts reach the on-demand exports.
    HWND PluginWindow() const { return m_hPlugin; }

    // Completes every download requested so far (and those that the
    // completions request in turn); returns how many were completed. With a
    // chooser, a download it fails completes with a null path and one it
    // holds stays pending for ever.
    size_t DeliverDownloads();
    static void PumpMessages();

    // Trace lines received by the tracer window since the last reset.
    int TraceLines() const { return m_nTraceLines; }
    bool DownloadDone() const { return m_bDownloadDone; }
    void ResetTrace();

    int DownloadRequests() const { return m_nDownloadRequests; }

    // For the crash test: called with the text of each trace line as it
    // arrives (inside the library's trace call), and with both paths of
    // each unpack before the host copies. Either may end the process there.
    typedef void (*PFN_TraceHook)(void* pContext, const char* lpszText);
    typedef void (*PFN_UnpackHook)(void* pContext, const char* lpszSource, const char* lpszDest);
    void SetTraceHook(PFN_TraceHook pfnHook, void* pContext)
    {
        m_pfnTraceHook = pfnHook;
        m_pTraceHookContext = pContext;
    }
    void SetUnpackHook(PFN_UnpackHook pfnHook, void* pContext)
    {
        m_pfnUnpackHook = pfnHook;
        m_pUnpackHookContext = pContext;
    }

private:
    struct PendingDownload {
        GpcDownloadCallback callback;
        void* context;
        std::string localPath;  // empty: the server has no such file
        Delivery delivery = DELIVER;
    };

    static int WINAPI PluginMarker();
    static int WINAPI GetParamCount(GpcCookie);
    static const char* WINAPI GetParam(GpcCookie, const char*);
    static int WINAPI GetParamAt(GpcCookie, int, const char**, const char**);
    static int WINAPI Navigate(GpcCookie, const char*, const char*);
    static int WINAPI DownloadUrl(GpcCookie, GpcDownloadCallback, void*, const char*);
    static int WINAPI UnpackFile(GpcCookie, const char*, const char*);
    static int WINAPI SetSocketCallback(GpcCookie, GpcSocketCallback, void*);
    static HWND WINAPI GetWindow(GpcCookie);
    static int WINAPI GetDirectory(char*, int);
    static int WINAPI SetInstance(GpcCookie, void*);
    static void* WINAPI GetInstance(GpcCookie);
    static int WINAPI ShowMessage(GpcCookie, const char*);
    static LRESULT CALLBACK TracerProc(HWND, UINT, WPARAM, LPARAM);

    std::string m_strHostDir;
    std::string m_strServerDir;
    std::vector<std::pair<std::string, std::string>> m_Params;
    GpcHostTable m_Table;
    GpcCookie m_pCookie;
    void* m_pInstance = nullptr;
    HWND m_hPlugin = nullptr;
    HWND m_hTracer = nullptr;
    std::vector<PendingDownload> m_Pending;
    std::vector<PendingDownload> m_Held;
    PFN_Chooser m_pfnChooser = nullptr;
    void* m_pChooserContext = nullptr;
    int m_nDownloadRequests = 0;
    int m_nDelivered = 0;
    int m_nFailed = 0;
    int m_nTraceLines = 0;
    bool m_bDownloadDone = false;
    PFN_TraceHook m_pfnTraceHook = nullptr;
    void* m_pTraceHookContext = nullptr;
    PFN_UnpackHook m_pfnUnpackHook = nullptr;
    void* m_pUnpackHookContext = nullptr;
    static CBenchHost* s_pCurrent;
};
