// The reference host: loads vrgpcext.dll for a meeting page, serves its
// callback table, downloads over HTTP on worker threads and delivers every
// notice on its own thread through the message loop.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "page_params.h"
#include "vrgpcext/host_table.h"

struct GpcHostOptions {
    std::string page;          // local file or http(s) URL of the meeting page
    std::string dllPath;       // default: vrgpcext.dll beside the host
    std::string directory;     // HostGetDirectory; default: the host's own folder
    bool pluginHost = true;    // slot 1 present (plug-in host) or null (ActiveX host)
    bool messageBoxes = false; // HostShowMessage as a message box instead of printing
    DWORD seconds = 60;        // the run ends after this time at the latest
    DWORD heartbeatMs = 100;
    std::string until;         // the run ends once a trace line contains this text
    std::string odeSection;    // after "Download is done": check and download this section
    bool quietTrace = false;   // do not print trace lines
    DWORD lingerMs = 0;        // time the run goes on after "until" matched
};

class CGpcHost {
public:
    explicit CGpcHost(const GpcHostOptions& options);
    ~CGpcHost();
    CGpcHost(const CGpcHost&) = delete;
    CGpcHost& operator=(const CGpcHost&) = delete;

    // Loads the page's parameters; false (with a message) when it cannot.
    bool LoadPage();
    // Loads the extension, runs the meeting until it ends, shuts it down.
    // Returns the process exit code.
    int Run();

    GpcHostTable* Table() { return &m_Table; }
    GpcCookie Cookie() const { return m_pCookie; }
    HWND PluginWindow() const { return m_hPlugin; }
    const GpcPageParams& Params() const { return m_Params; }
    static CGpcHost* Current() { return s_pHost; }

private:
    struct DownloadTask;

    bool CreateWindows();
    void OnTraceLine(const char* lpszLine);
    void OnDownloadProgress(int nId, DWORD dwBytes);
    void OnDownloadDone(int nId, char* lpszPath);
    void CancelDownloads(int nIndex);
    void StartOde();
    void Print(const char* lpszFormat, ...);

    static DWORD WINAPI DownloadThread(LPVOID pParam);
    static LRESULT CALLBACK FrameProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK PluginProc(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK TracerProc(HWND, UINT, WPARAM, LPARAM);
    static void WINAPI OnOdeNotice(void* pContext, int nKind, const char* lpszFile, const char* lpszSection,
                                   int nResult, GpcOdeFileInfo* pInfo);

    // The table's slots.
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

    GpcHostOptions m_Options;
    GpcPageParams m_Params;
    GpcHostTable m_Table;
    GpcCookie m_pCookie;
    HMODULE m_hExtension = nullptr;
    HWND m_hFrame = nullptr;
    HWND m_hPlugin = nullptr;
    HWND m_hTracer = nullptr;
    std::map<GpcCookie, void*> m_Instances;
    std::map<int, DownloadTask*> m_Downloads;
    int m_nNextDownload = 1;
    bool m_bUntilSeen = false;
    bool m_bEndScheduled = false;
    bool m_bDownloadDone = false;
    bool m_bOdeStarted = false;
    bool m_bOdeFinished = false;
    int m_nExitCode = 0;
    static CGpcHost* s_pHost;
};
