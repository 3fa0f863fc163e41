// A host for unit tests: serves all 20 slots of the host table, records
// every call, and completes downloads when the test says so.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "vrgpcext/host_table.h"

class FakeHost {
public:
    struct Download {
        GpcCookie cookie;
        GpcDownloadCallback callback;
        void* context;
        std::string url;
        bool completed = false;
    };
    struct Unpack {
        GpcCookie cookie;
        std::string source;
        std::string dest;
    };
    struct Navigation {
        GpcCookie cookie;
        std::string target;
        std::string url;
    };
    struct Message {
        GpcCookie cookie;
        std::string text;
    };
    struct WindowMessage {
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
    };

    // Only one FakeHost may exist at a time: the stdcall slots find it
    // through a static pointer, as a real host finds its own state.
    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    static FakeHost* Current();

    GpcHostTable* Table() { return &m_Table; }
    GpcCookie Cookie() const { return m_pCookie; }
    void SetCookie(GpcCookie pCookie) { m_pCookie = pCookie; }

    // Page parameters, in insertion order (slots 6, 8 and 9).
    void SetParam(const std::string& name, const std::string& value);
    void RemoveParam(const std::string& name);
    void ClearParams() { m_Params.clear(); }
    const std::vector<std::pair<std::string, std::string>>& Params() const { return m_Params; }

    // Slot 1 present (plug-in host) or null (ActiveX host). Default: present.
    void SetPluginMarker(bool bPresent);
    // Nulls any slot (0..19) to test how the extension copes.
    void NullSlot(int nSlot);

    // Slot 11. What HostDownloadUrl answers (0 = started).
    int downloadResult = 0;
    std::vector<Download> downloads;
    // Delivers a progress notice or the completion of download i.
    void Progress(size_t i, DWORD dwBytes);
    // Completes download i with a local file, or with null (failure).
    void Complete(size_t i, const char* lpszLocalPath);
    // Index of the first download whose url contains text, or -1.
    int FindDownload(const std::string& text) const;

    // Slot 12. By default the source is expanded into the destination
    // (LZ: SZDD-compressed or plain copy) and 0 is answered; set a value
    // >= 0 to answer it without touching any file.
    int unpackResult = -1;
    std::vector<Unpack> unpacks;
    // Called with the destination once the default unpack is done, before
    // the host answers: what a program running meanwhile might do then.
    std::function<void(const std::string&)> onUnpacked;

    std::vector<Navigation> navigations;  // slot 10
    std::vector<Message> messages;        // slot 19

    // Slot 13.
    GpcSocketCallback socketCallback = nullptr;
    void* socketContext = nullptr;
    int socketCallbackCalls = 0;

    // Slot 16: the host's directory (default: a fresh folder under %TEMP%).
    std::string directory;

    // Slots 17/18: per-cookie instance storage.
    std::map<GpcCookie, void*> instances;
    int getInstanceCalls = 0;

    // Slot 14: a real window whose window long 0 holds the cookie. Created on
    // first use; messages sent or posted to it are recorded.
    HWND Window();
    std::vector<WindowMessage> windowMessages;
    // Whether slot 14 answers with the window (true) or null.
    bool provideWindow = true;

    // Pumps this thread's message queue (posted messages, dialogs).
    static void PumpMessages();

private:
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
    static int WINAPI PluginMarker();
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);

    GpcHostTable m_Table;
    GpcCookie m_pCookie;
    std::vector<std::pair<std::string, std::string>> m_Params;
    HWND m_hWnd = nullptr;
    static FakeHost* s_pCurrent;
};
