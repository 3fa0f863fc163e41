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

    explicit CBenchExtension(const std::string& dllPath);
    ~CBenchExtension();
    CBenchExtension(const CBenchExtension&) = delete;
    CBenchExtension& operator=(const CBenchExtension&) = delete;

    // Every export the benchmark needs was found.
    bool IsLoaded() const;

    PFN_Init InitInstance = nullptr;
    PFN_Cookie ExitInstance = nullptr;
    PFN_Cookie Heartbeat = nullptr;
    PFN_OdeDownload OdeDownload = nullptr;
    PFN_OdeIntegrity OdeGetSectionIntegrity = nullptr;

private:
    HMODULE m_hModule = nullptr;
};

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
    GpcHostTable* Table() { return &m_Table; }
    GpcCookie Cookie() const { return m_pCookie; }
    // The plug-in window: its window long 0 carries the cookie, which is how
    // page scripts reach the on-demand exports.
    HWND PluginWindow() const { return m_hPlugin; }

    // Completes every download requested so far (and those that the
    // completions request in turn); returns how many were completed.
    size_t DeliverDownloads();
    static void PumpMessages();

    // Trace lines received by the tracer window since the last reset.
    int TraceLines() const { return m_nTraceLines; }
    bool DownloadDone() const { return m_bDownloadDone; }
    void ResetTrace();

    int DownloadRequests() const { return m_nDownloadRequests; }

private:
    struct PendingDownload {
        GpcDownloadCallback callback;
        void* context;
        std::string localPath;  // empty: the server has no such file
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
    int m_nDownloadRequests = 0;
    int m_nTraceLines = 0;
    bool m_bDownloadDone = false;
    static CBenchHost* s_pCurrent;
};
