// gpc_bench.exe: how close the extension comes to the file system's own cost.
//
// It loads the shipped vrgpcext.dll as a host does (LoadLibrary and
// GetProcAddress, its own host table, see bench_host.h) and times, in one
// process and side by side with the bare work that cannot be avoided:
//   (a) a start-up with N installed items, all current ("version" control),
//       up to "Download is done", against a loop of GetFileVersionInfoSize +
//       GetFileVersionInfo + VerQueryValue over the same files;
//   (b) a first install of M files of 256 KB ("existence"), downloads
//       completing at once, against a CopyFileA loop of the same bytes;
//   (c) the next start-up of the product of (a) in a new process (what a user
//       sees on the next join), against the same version-read loop there;
//   (d) on-demand requests for one current section: time per request, and
//       the process's private bytes and handle count after the first 10 and
//       after all of them.
// Each figure is the median of several runs. It prints a table and always
// exits 0 once it could set up: it is a benchmark, not a test. The library
// writes the debugger output only while someone listens: --listener runs a
// debug-output monitor in this process, so the cost of a traced run shows.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_host.h"
#include "lib/debug_monitor.h"

namespace {

const char GPC_PRODUCT_ROOT[] = "GpcBench";
const char GPC_EXTRAS_SECTION[] = "Extras";
const DWORD GPC_INSTALL_FILE_BYTES = 256 * 1024;
// A start-up that has not finished by then is reported as unfinished.
const DWORD GPC_STARTUP_LIMIT_MS = 30 * 60 * 1000;

struct Options {
    std::vector<int> items{50, 500};     // N of (a) and (c)
    std::vector<int> files{20, 200};     // M of (b)
    int runs = 5;
    int requests = 1000;                 // (d)
    int sectionItems = 2;                // files of the section of (d)
    std::string dllPath;                 // default: vrgpcext.dll beside the benchmark
    bool listener = false;               // a debug-output monitor runs meanwhile
    int logLines = 0;                    // (g): trace lines with the log file off and on
    std::vector<int> durability;         // M of (f); none by default
};

// ---------------------------------------------------------------- helpers

class CStopwatch {
public:
    CStopwatch()
    {
        QueryPerformanceFrequency(&m_Frequency);
        QueryPerformanceCounter(&m_Start);
    }
    double Ms() const
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - m_Start.QuadPart) * 1000.0 /
               static_cast<double>(m_Frequency.QuadPart);
    }

private:
    LARGE_INTEGER m_Frequency;
    LARGE_INTEGER m_Start;
};

double Median(std::vector<double> values)
{
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

std::string Numbered(const char* lpszPrefix, int n, const char* lpszExt)
{
    char achName[64];
    std::snprintf(achName, sizeof(achName), "%s%04d%s", lpszPrefix, n, lpszExt);
    return achName;
}

// The manifest line of one file; the url is its name below the url root.
std::string ItemLine(const std::string& name, const char* lpszVersion, DWORD dwSize, const char* lpszControl)
{
    return name + ";" + name + ";;" + lpszVersion + ";" + std::to_string(dwSize) + ";" + std::to_string(dwSize) +
           ";;" + lpszControl + ";;";
}

std::string Section(const char* lpszName, const std::vector<std::string>& lines)
{
    std::string text = std::string("[") + lpszName + "]\r\nCount=" + std::to_string(lines.size()) + "\r\n";
    for (size_t i = 0; i < lines.size(); ++i) text += "File" + std::to_string(i + 1) + "=" + lines[i] + "\r\n";
    return text;
}

// The version-payload names of a start-up with n items.
std::vector<std::string> PayloadNames(int n)
{
    std::vector<std::string> names;
    for (int i = 1; i <= n; ++i) names.push_back(Numbered("v", i, ".dll"));
    return names;
}

// The floor of a start-up: each file's version resource read once.
double VersionReadLoop(const std::string& dir, const std::vector<std::string>& names, int* pRead)
{
    CStopwatch watch;
    int nRead = 0;
    std::vector<BYTE> buffer;
    for (const std::string& name : names) {
        std::string path = Join(dir, name);
        DWORD dwHandle = 0;
        DWORD dwSize = GetFileVersionInfoSizeA(path.c_str(), &dwHandle);
        if (!dwSize) continue;
        buffer.resize(dwSize);
        if (!GetFileVersionInfoA(path.c_str(), 0, dwSize, buffer.data())) continue;
        VS_FIXEDFILEINFO* pInfo = nullptr;
        UINT uLen = 0;
        if (VerQueryValueA(buffer.data(), "\\", reinterpret_cast<void**>(&pInfo), &uLen) && pInfo) ++nRead;
    }
    if (pRead) *pRead = nRead;
    return watch.Ms();
}

// ------------------------------------------------------------- scenarios

struct Workspace {
    std::string exeDir;     // gpc_bench.exe and vrgpcext.dll
    std::string root;       // everything the benchmark writes
    std::string hostDir;    // what HostGetDirectory answers
    std::string serverDir;  // what the "server" has
    std::string dllPath;
};

std::string ProductDir(const Workspace& ws, const std::string& version)
{
    return Join(Join(ws.hostDir, GPC_PRODUCT_ROOT), version);
}

void SetPage(CBenchHost& host, const std::string& ini, const std::string& version, const std::string& component)
{
    host.SetParam("GpcUrlRoot", "http://127.0.0.1/bench");
    host.SetParam("GpcComponentName", component);
    host.SetParam("GpcIniFileName", ini);
    host.SetParam("GpcProductRoot", GPC_PRODUCT_ROOT);
    host.SetParam("GpcProductVersion", version);
    host.SetParam("GpcUnpackVersion", "3");
    host.SetParam("GpcExtVersion", "3");
    host.SetParam("GpcDownloadOnly", "TRUE");
    host.SetParam("GpcSuppressProgressBar", "True");
}

struct StartupResult {
    bool finished = false;
    double ms = 0.0;
    int traceLines = 0;
    int downloads = 0;
};

// One start-up as a host runs it: load the library, GpcInitInstance, then
// completions and heartbeats until the extension traces "Download is done".
// The clock runs from LoadLibrary to that line; GpcExitInstance and the
// unloading are not counted. With pHold the instance stays alive for the
// caller (on-demand requests) and is ended by the caller.
StartupResult RunStartup(const Workspace& ws, CBenchHost& host, std::unique_ptr<CBenchExtension>* pHold = nullptr)
{
    StartupResult result;
    host.ResetTrace();
    int nDownloadsBefore = host.DownloadRequests();
    CStopwatch watch;
    std::unique_ptr<CBenchExtension> pExt(new CBenchExtension(ws.dllPath));
    if (pExt->IsLoaded() && pExt->InitInstance(host.Cookie(), host.Table()) == 0) {
        while (!host.DownloadDone() && watch.Ms() < GPC_STARTUP_LIMIT_MS) {
            host.DeliverDownloads();
            pExt->Heartbeat(host.Cookie());
            CBenchHost::PumpMessages();
        }
        result.ms = watch.Ms();
        result.finished = host.DownloadDone();
    }
    result.traceLines = host.TraceLines();
    result.downloads = host.DownloadRequests() - nDownloadsBefore;
    if (pHold && result.finished) {
        *pHold = std::move(pExt);
        return result;
    }
    if (pExt->IsLoaded()) pExt->ExitInstance(host.Cookie());
    CBenchHost::PumpMessages();
    return result;
}

// The library's rule for the debugger's channel: written while a debugger
// is attached or a debug-output monitor runs, the monitor looked for at
// most once per 100 ms.
bool DebugListenerPresent()
{
    static DWORD s_dwChecked = 0;
    static int s_nState = -1;
    DWORD dwNow = GetTickCount();
    if (s_nState < 0 || dwNow - s_dwChecked >= 100) {
        HANDLE hMapping = OpenFileMappingA(FILE_MAP_READ, FALSE, "DBWIN_BUFFER");
        s_nState = hMapping ? 1 : 0;
        if (hMapping) CloseHandle(hMapping);
        s_dwChecked = dwNow;
    }
    return IsDebuggerPresent() || s_nState == 1;
}

// What the trace lines of a run cost by themselves: as many lines of the
// library's length, each written the way the library writes one (the
// debugger's channel while someone listens, then the tracer window), in
// this process. Under Wine a debugger-channel write costs far more than on
// Windows, so this shows which part of the extension's time is its trace
// and which part is everything else.
double TraceLinesMs(int nLines)
{
    HWND hTracer = nullptr;
    DWORD dwSelf = GetCurrentProcessId();
    while ((hTracer = FindWindowExA(nullptr, hTracer, "GPCTracer", nullptr)) != nullptr) {
        DWORD dwPid = 0;
        GetWindowThreadProcessId(hTracer, &dwPid);
        if (dwPid == dwSelf) break;
    }
    char achLine[512];
    CStopwatch watch;
    for (int i = 0; i < nLines; ++i) {
        std::snprintf(achLine, sizeof(achLine),
                      "(vrgpcext.dll:%lu:%lu)CVRGPCEXT::GetInstallDir,installdir = "
                      "C:\\users\\someone\\Temp\\gpc_bench\\host\\GpcBench\\a500_1,file = p%04d.dll",
                      static_cast<unsigned long>(dwSelf), static_cast<unsigned long>(GetCurrentThreadId()), i);
        if (DebugListenerPresent()) OutputDebugStringA(achLine);
        if (hTracer && IsWindow(hTracer)) {
            COPYDATASTRUCT cds = {1, static_cast<DWORD>(std::strlen(achLine) + 1), achLine};
            DWORD_PTR dwResult = 0;
            SendMessageTimeoutA(hTracer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                100, &dwResult);
        }
    }
    return watch.Ms();
}

struct Row {
    std::string work;
    std::string ext;
    std::string floor;
    std::string ratio;
    std::string note;
};

std::string FormatMs(double ms)
{
    char ach[32];
    std::snprintf(ach, sizeof(ach), "%.1f ms", ms);
    return ach;
}

std::string FormatRatio(double ext, double floor)
{
    if (floor <= 0.0) return "-";
    char ach[32];
    std::snprintf(ach, sizeof(ach), "%.2fx", ext / floor);
    return ach;
}

// "13.0 trace lines/item (alone 29 ms, 4.4 us a line, 1.10x without)": how
// many lines the run traced per unit, what they cost written by themselves
// (in all and each), and the ratio the extension would have if its trace
// cost nothing.
std::string TraceNote(int nLines, int nUnits, const char* lpszUnit, const std::vector<double>& ext,
                      const std::vector<double>& trace, const std::vector<double>& floor)
{
    double dTrace = Median(trace);
    char ach[160];
    std::snprintf(ach, sizeof(ach), "%.1f trace lines/%s (alone %.0f ms, %.1f us a line, %s without)",
                  nUnits ? double(nLines) / nUnits : 0.0, lpszUnit, dTrace,
                  nLines ? dTrace * 1000.0 / nLines : 0.0,
                  FormatRatio(Median(ext) - dTrace, Median(floor)).c_str());
    return ach;
}

// Places n copies of the payload in dir.
bool PlacePayload(const Workspace& ws, const std::string& dir, int n)
{
    CreateDirectoryA(Join(ws.hostDir, GPC_PRODUCT_ROOT).c_str(), nullptr);
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string payload = ws.exeDir + "gpc_bench_payload.dll";
    for (const std::string& name : PayloadNames(n)) {
        if (!CopyFileA(payload.c_str(), Join(dir, name).c_str(), FALSE)) return false;
    }
    return true;
}

std::string StartupIniName(int n)
{
    return "gpcbench_a" + std::to_string(n) + ".ini";
}

std::string StartupVersion(int n, int run)
{
    return "a" + std::to_string(n) + "_" + std::to_string(run);
}

// (a): every run is the first start-up of a product (a product version of its
// own, so no state of an earlier run can help it); the files move from one
// run's product folder to the next, untimed. Returns the last product version.
std::string BenchStartup(const Workspace& ws, const Options& opt, int n, std::vector<Row>& rows)
{
    std::vector<std::string> names = PayloadNames(n);
    std::vector<std::string> lines;
    for (const std::string& name : names) lines.push_back(ItemLine(name, "1,0,0,7", 0, "version"));
    WriteWholeFile(Join(ws.serverDir, StartupIniName(n)), Section("Corvo", lines));

    std::string dir = ProductDir(ws, StartupVersion(n, 0));
    if (!PlacePayload(ws, dir, n)) {
        rows.push_back({"(a) start-up, " + std::to_string(n) + " current items", "-", "-", "-",
                        "could not place the files"});
        return "";
    }
    std::vector<double> ext, floor, trace;
    StartupResult last;
    bool bAllFinished = true;
    int nRead = 0;
    std::string version;
    for (int r = 0; r < opt.runs; ++r) {
        version = StartupVersion(n, r + 1);
        std::string next = ProductDir(ws, version);
        MoveFileA(dir.c_str(), next.c_str());
        dir = next;
        CBenchHost host(ws.hostDir, ws.serverDir);
        SetPage(host, StartupIniName(n), version, names.front());
        // The order alternates so that neither side always meets a warmer cache.
        if (r % 2) floor.push_back(VersionReadLoop(dir, names, &nRead));
        last = RunStartup(ws, host);
        if (!last.finished) bAllFinished = false;
        ext.push_back(last.ms);
        trace.push_back(TraceLinesMs(last.traceLines));
        if (!(r % 2)) floor.push_back(VersionReadLoop(dir, names, &nRead));
    }
    char achNote[200];
    std::snprintf(achNote, sizeof(achNote), "%s, %d downloads%s%s",
                  TraceNote(last.traceLines, n, "item", ext, trace, floor).c_str(), last.downloads,
                  nRead == n ? "" : ", files without version!", bAllFinished ? "" : ", DID NOT FINISH");
    rows.push_back({"(a) start-up, " + std::to_string(n) + " current items", FormatMs(Median(ext)),
                    FormatMs(Median(floor)), FormatRatio(Median(ext), Median(floor)), achNote});
    return version;
}

// (c): the next start-up of the same product, each in a process of its own.
void BenchRepeatStartup(const Workspace& ws, const Options& opt, int n, const std::string& version,
                        std::vector<Row>& rows)
{
    std::string label = "(c) repeat start-up in a new process, " + std::to_string(n) + " items";
    if (version.empty()) {
        rows.push_back({label, "-", "-", "-", "no product from (a)"});
        return;
    }
    std::vector<double> ext, floor;
    bool bAllFinished = true;
    std::string resultFile = Join(ws.root, "child_result.txt");
    for (int r = 0; r < opt.runs; ++r) {
        DeleteFileA(resultFile.c_str());
        std::string cmd = "\"" + ws.exeDir + "gpc_bench.exe\" --child-startup \"" + ws.root + "\" " +
                          std::to_string(n) + " " + version + " \"" + resultFile + "\" \"" + ws.dllPath + "\"";
        std::vector<char> cmdLine(cmd.begin(), cmd.end());
        cmdLine.push_back('\0');
        STARTUPINFOA si;
        std::memset(&si, 0, sizeof(si));
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi;
        if (!CreateProcessA(nullptr, cmdLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            bAllFinished = false;
            continue;
        }
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        FILE* pFile = std::fopen(resultFile.c_str(), "r");
        double dExt = 0, dFloor = 0;
        int nFinished = 0;
        if (pFile) {
            if (std::fscanf(pFile, "%lf %lf %d", &dExt, &dFloor, &nFinished) != 3) nFinished = 0;
            std::fclose(pFile);
        }
        if (!nFinished) {
            bAllFinished = false;
            continue;
        }
        ext.push_back(dExt);
        floor.push_back(dFloor);
    }
    DeleteFileA(resultFile.c_str());
    rows.push_back({label, ext.empty() ? "-" : FormatMs(Median(ext)), floor.empty() ? "-" : FormatMs(Median(floor)),
                    FormatRatio(Median(ext), Median(floor)),
                    bAllFinished ? "version-read loop in that process" : "SOME RUNS DID NOT FINISH"});
}

// The child of (c): one start-up, then the floor, written to a file.
int ChildStartup(const std::string& root, int n, const std::string& version, const std::string& resultFile,
                 const std::string& dllPath)
{
    Workspace ws;
    ws.exeDir = ExeDir();
    ws.root = root;
    ws.hostDir = Join(root, "host");
    ws.serverDir = Join(root, "server");
    ws.dllPath = dllPath;
    CBenchHost host(ws.hostDir, ws.serverDir);
    if (!host.IsReady()) return 1;
    std::vector<std::string> names = PayloadNames(n);
    SetPage(host, StartupIniName(n), version, names.front());
    StartupResult result = RunStartup(ws, host);
    double dFloor = VersionReadLoop(ProductDir(ws, version), names, nullptr);
    FILE* pFile = std::fopen(resultFile.c_str(), "w");
    if (!pFile) return 1;
    std::fprintf(pFile, "%.3f %.3f %d\n", result.ms, dFloor, result.finished ? 1 : 0);
    std::fclose(pFile);
    return 0;
}

// (b): a first install into an empty product folder.
void BenchFirstInstall(const Workspace& ws, const Options& opt, int m, std::vector<Row>& rows)
{
    std::string ini = "gpcbench_b" + std::to_string(m) + ".ini";
    std::vector<std::string> names, lines;
    std::string bytes(GPC_INSTALL_FILE_BYTES, '\0');
    for (int i = 1; i <= m; ++i) {
        std::string name = Numbered("p", i, ".bin");
        names.push_back(name);
        lines.push_back(ItemLine(name, "", GPC_INSTALL_FILE_BYTES, "existence"));
        // Every file differs, as real files do.
        for (size_t k = 0; k < bytes.size(); k += 4096) bytes[k] = static_cast<char>(i + k / 4096);
        std::string path = Join(ws.serverDir, name);
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) WriteWholeFile(path, bytes);
    }
    WriteWholeFile(Join(ws.serverDir, ini), Section("Corvo", lines));

    std::vector<double> ext, floor, trace;
    StartupResult last;
    bool bAllFinished = true;
    bool bCopied = true;
    for (int r = 0; r < opt.runs; ++r) {
        std::string version = "b" + std::to_string(m) + "_" + std::to_string(r + 1);
        std::string copyDir = Join(ws.root, "copy_" + version);
        CreateDirectoryA(copyDir.c_str(), nullptr);
        auto copyLoop = [&]() {
            CStopwatch watch;
            for (const std::string& name : names) {
                if (!CopyFileA(Join(ws.serverDir, name).c_str(), Join(copyDir, name).c_str(), FALSE)) bCopied = false;
            }
            return watch.Ms();
        };
        CBenchHost host(ws.hostDir, ws.serverDir);
        SetPage(host, ini, version, names.front());
        if (r % 2) floor.push_back(copyLoop());
        last = RunStartup(ws, host);
        if (!last.finished) bAllFinished = false;
        ext.push_back(last.ms);
        trace.push_back(TraceLinesMs(last.traceLines));
        if (!(r % 2)) floor.push_back(copyLoop());
        RemoveTree(copyDir);
        RemoveTree(ProductDir(ws, version));
    }
    char achNote[200];
    std::snprintf(achNote, sizeof(achNote), "%s, %d downloads%s%s",
                  TraceNote(last.traceLines, m, "file", ext, trace, floor).c_str(), last.downloads,
                  bCopied ? "" : ", COPY FAILED", bAllFinished ? "" : ", DID NOT FINISH");
    rows.push_back({"(b) first install, " + std::to_string(m) + " files of 256 KB", FormatMs(Median(ext)),
                    FormatMs(Median(floor)), FormatRatio(Median(ext), Median(floor)), achNote});
}

// (g): what the administrator's log file costs per trace line. The same
// export (GpcOdeConfig, one trace line a call, no instance needed) is
// called nLines times in a fresh load of the library with the policy value
// "LogFile" absent, then in another fresh load with it set (the library
// reads the policy once per load), in turn, so that neither side always
// meets a warmer cache.
void BenchLogFile(const Workspace& ws, const Options& opt, std::vector<Row>& rows)
{
    const char* const lpszKey = "Software\\Policies\\VRGpcExt";
    std::string logFile = Join(ws.root, "bench.log");
    auto setPolicy = [&](bool bOn) {
        HKEY hKey = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, lpszKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) !=
            ERROR_SUCCESS)
            return false;
        LONG lResult = bOn ? RegSetValueExA(hKey, "LogFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(logFile.c_str()),
                                            static_cast<DWORD>(logFile.size() + 1))
                           : RegDeleteValueA(hKey, "LogFile");
        RegCloseKey(hKey);
        return lResult == ERROR_SUCCESS || (!bOn && lResult == ERROR_FILE_NOT_FOUND);
    };
    auto timeLines = [&](bool bOn) {
        if (!setPolicy(bOn)) return -1.0;
        DeleteFileA(logFile.c_str());
        HMODULE hDll = LoadLibraryA(ws.dllPath.c_str());
        typedef int(WINAPI * PFN_OdeConfig)(DWORD, DWORD, DWORD);
        PFN_OdeConfig pfn = hDll ? reinterpret_cast<PFN_OdeConfig>(GetProcAddress(hDll, "GpcOdeConfig")) : nullptr;
        double ms = -1.0;
        if (pfn) {
            CStopwatch watch;
            for (int i = 0; i < opt.logLines; ++i) pfn(1, static_cast<DWORD>(i), 0);
            ms = watch.Ms();
        }
        if (hDll) FreeLibrary(hDll);
        return ms;
    };
    std::vector<double> off, on;
    for (int r = 0; r < opt.runs; ++r) {
        bool bOnFirst = r % 2;
        double first = timeLines(bOnFirst);
        double second = timeLines(!bOnFirst);
        (bOnFirst ? on : off).push_back(first);
        (bOnFirst ? off : on).push_back(second);
    }
    setPolicy(false);
    WIN32_FILE_ATTRIBUTE_DATA info;
    DWORD dwBytes = GetFileAttributesExA(logFile.c_str(), GetFileExInfoStandard, &info) ? info.nFileSizeLow : 0;
    DeleteFileA(logFile.c_str());
    DeleteFileA((logFile + ".old").c_str());
    double dOn = Median(on), dOff = Median(off);
    char achNote[200];
    std::snprintf(achNote, sizeof(achNote), "%.1f us more per line (times the trace lines of (a), (b)); %lu KB logged",
                  (dOn - dOff) * 1000.0 / opt.logLines, static_cast<unsigned long>(dwBytes / 1024));
    rows.push_back({"(g) " + std::to_string(opt.logLines) + " trace lines, log file on / off", FormatMs(dOn),
                    FormatMs(dOff), FormatRatio(dOn, dOff), achNote});
}

// (f): what it would cost to make each installed file durable before it
// takes its name. Four loops over the same M files of 256 KB, in turn: a
// plain copy to the final name (the floor of (b)); a copy into a temporary
// file renamed over the final name (what the library's install does); the
// same with the temporary file flushed (FlushFileBuffers) before the rename;
// and flushed with the rename written through (MOVEFILE_WRITE_THROUGH).
void BenchDurability(const Workspace& ws, const Options& opt, int m, std::vector<Row>& rows)
{
    std::vector<std::string> names;
    std::string bytes(GPC_INSTALL_FILE_BYTES, '\0');
    for (int i = 1; i <= m; ++i) {
        std::string name = Numbered("p", i, ".bin");
        names.push_back(name);
        for (size_t k = 0; k < bytes.size(); k += 4096) bytes[k] = static_cast<char>(i + k / 4096);
        std::string path = Join(ws.serverDir, name);
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) WriteWholeFile(path, bytes);
    }
    enum { PLAIN, RENAME, FLUSH, WRITE_THROUGH, KINDS };
    std::vector<double> times[KINDS];
    bool bFailed = false;
    std::string dest = Join(ws.root, "durable");
    for (int r = 0; r < opt.runs; ++r) {
        for (int k = 0; k < KINDS; ++k) {
            // Each run starts the loops at another one: none always meets the warmest cache.
            int kind = (k + r) % KINDS;
            RemoveTree(dest);
            CreateDirectoryA(dest.c_str(), nullptr);
            CStopwatch watch;
            for (const std::string& name : names) {
                std::string source = Join(ws.serverDir, name);
                std::string final = Join(dest, name);
                if (kind == PLAIN) {
                    if (!CopyFileA(source.c_str(), final.c_str(), FALSE)) bFailed = true;
                    continue;
                }
                char achTemp[MAX_PATH];
                if (!GetTempFileNameA(dest.c_str(), "VR", 0, achTemp) || !CopyFileA(source.c_str(), achTemp, FALSE)) {
                    bFailed = true;
                    continue;
                }
                if (kind == FLUSH || kind == WRITE_THROUGH) {
                    HANDLE h = CreateFileA(achTemp, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                           nullptr);
                    if (h == INVALID_HANDLE_VALUE || !FlushFileBuffers(h)) bFailed = true;
                    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
                }
                DWORD dwFlags = MOVEFILE_REPLACE_EXISTING | (kind == WRITE_THROUGH ? MOVEFILE_WRITE_THROUGH : 0);
                if (!MoveFileExA(achTemp, final.c_str(), dwFlags)) bFailed = true;
            }
            times[kind].push_back(watch.Ms());
        }
    }
    RemoveTree(dest);
    const char* const labels[KINDS] = {"copy", "copy to a temporary file + rename", "... + flush the temporary file",
                                       "... + flush + rename written through"};
    for (int kind = RENAME; kind < KINDS; ++kind) {
        double dExtra = (Median(times[kind]) - Median(times[kind - 1])) / m;
        char achNote[160];
        std::snprintf(achNote, sizeof(achNote), "%+.3f ms per file over \"%s\"%s", dExtra, labels[kind - 1],
                      bFailed ? ", A CALL FAILED" : "");
        rows.push_back({"(f) " + std::string(labels[kind]) + ", " + std::to_string(m) + " files of 256 KB",
                        FormatMs(Median(times[kind])), FormatMs(Median(times[PLAIN])),
                        FormatRatio(Median(times[kind]), Median(times[PLAIN])), achNote});
    }
}

struct OdeCounter {
    int sectionDone = 0;
    int failures = 0;
};

void WINAPI OnOdeNotice(void* pContext, int nKind, const char*, const char*, int nResult, GpcOdeFileInfo*)
{
    OdeCounter* pCounter = static_cast<OdeCounter*>(pContext);
    if (!pCounter) return;
    if (nKind == 1) ++pCounter->sectionDone;
    if ((nKind == 0 || nKind == 1) && nResult != 0) ++pCounter->failures;
}

// (d): a page asking, again and again, whether a current section is intact
// and having it "downloaded" (nothing to fetch: it answers at once).
void BenchOnDemand(const Workspace& ws, const Options& opt, std::vector<Row>& rows, std::vector<std::string>& details)
{
    const std::string label = "(d) on-demand request, " + std::to_string(opt.sectionItems) + "-file current section";
    const std::string ini = "gpcbench_d.ini";
    const std::string version = "d";
    std::vector<std::string> names = PayloadNames(opt.sectionItems);
    std::vector<std::string> lines;
    for (const std::string& name : names) lines.push_back(ItemLine(name, "1,0,0,7", 0, "version"));
    WriteWholeFile(Join(ws.serverDir, ini), Section("Corvo", lines) + Section(GPC_EXTRAS_SECTION, lines));
    if (!PlacePayload(ws, ProductDir(ws, version), opt.sectionItems)) {
        rows.push_back({label, "-", "-", "-", "could not place the files"});
        return;
    }

    CBenchHost host(ws.hostDir, ws.serverDir);
    SetPage(host, ini, version, names.front());
    std::unique_ptr<CBenchExtension> pExt;
    StartupResult startup = RunStartup(ws, host, &pExt);
    if (!startup.finished || !pExt) {
        rows.push_back({label, "-", "-", "-", "start-up did not finish"});
        return;
    }

    OdeCounter counter;
    int nNotIntact = 0;
    HWND hPlugin = host.PluginWindow();
    auto request = [&]() {
        GpcCookie pCookie = reinterpret_cast<GpcCookie>(hPlugin);
        if (pExt->OdeGetSectionIntegrity(pCookie, nullptr, GPC_EXTRAS_SECTION) != 1) ++nNotIntact;
        pExt->OdeDownload(pCookie, nullptr, GPC_EXTRAS_SECTION, &OnOdeNotice, &counter);
        host.DeliverDownloads();
        pExt->Heartbeat(host.Cookie());
        CBenchHost::PumpMessages();
    };

    SIZE_T cbBefore = ProcessPrivateBytes();
    int nHandlesBefore = CountProcessHandles();
    const int nFirst = std::min(10, opt.requests);
    for (int i = 0; i < nFirst; ++i) request();
    SIZE_T cbAfterFirst = ProcessPrivateBytes();
    int nHandlesAfterFirst = CountProcessHandles();
    CStopwatch watch;
    for (int i = nFirst; i < opt.requests; ++i) request();
    double dMs = watch.Ms();
    SIZE_T cbAfterAll = ProcessPrivateBytes();
    int nHandlesAfterAll = CountProcessHandles();

    pExt->ExitInstance(host.Cookie());
    CBenchHost::PumpMessages();
    pExt.reset();

    int nTimed = opt.requests - nFirst;
    std::vector<double> floors;
    for (int r = 0; r < opt.runs; ++r) floors.push_back(VersionReadLoop(ProductDir(ws, version), names, nullptr));
    double dFloor = Median(floors);
    double dPerRequest = nTimed > 0 ? dMs / nTimed : 0.0;
    char achNote[160];
    std::snprintf(achNote, sizeof(achNote), "%d answers, %d not intact, %d failed", counter.sectionDone, nNotIntact,
                  counter.failures);
    rows.push_back({label, nTimed > 0 ? FormatMs(dPerRequest) : "-", FormatMs(dFloor),
                    nTimed > 0 ? FormatRatio(dPerRequest, dFloor) : "-", achNote});

    char ach[256];
    long long dFirst = static_cast<long long>(cbAfterFirst) - static_cast<long long>(cbBefore);
    long long dAll = static_cast<long long>(cbAfterAll) - static_cast<long long>(cbAfterFirst);
    std::snprintf(ach, sizeof(ach),
                  "(d) private bytes: before %lu KB, after %d requests %lu KB (%+lld KB), after %d %lu KB (%+lld KB)",
                  static_cast<unsigned long>(cbBefore / 1024), nFirst, static_cast<unsigned long>(cbAfterFirst / 1024),
                  dFirst / 1024, opt.requests, static_cast<unsigned long>(cbAfterAll / 1024), dAll / 1024);
    details.push_back(ach);
    std::snprintf(ach, sizeof(ach), "(d) handles:       before %d, after %d requests %d (%+d), after %d %d (%+d)",
                  nHandlesBefore, nFirst, nHandlesAfterFirst, nHandlesAfterFirst - nHandlesBefore, opt.requests,
                  nHandlesAfterAll, nHandlesAfterAll - nHandlesAfterFirst);
    details.push_back(ach);
}

// Each figure as soon as it is measured: a long run shows its progress.
void PrintLatest(const std::vector<Row>& rows, size_t nBefore)
{
    for (size_t i = nBefore; i < rows.size(); ++i) {
        const Row& r = rows[i];
        std::printf("    %s: %s against %s (%s) %s\n", r.work.c_str(), r.ext.c_str(), r.floor.c_str(), r.ratio.c_str(),
                    r.note.c_str());
    }
    std::fflush(stdout);
}

void PrintTable(const Options& opt, const std::vector<Row>& rows, const std::vector<std::string>& details,
                DWORD dwDllBytes)
{
    size_t w0 = 4, w1 = 9, w2 = 5, w3 = 5;
    for (const Row& r : rows) {
        w0 = std::max(w0, r.work.size());
        w1 = std::max(w1, r.ext.size());
        w2 = std::max(w2, r.floor.size());
        w3 = std::max(w3, r.ratio.size());
    }
    std::printf("\nvrgpcext.dll benchmark: median of %d run(s); ratio = extension / floor (lower is better)\n",
                opt.runs);
    std::printf("library: %s, %lu KB on disk\n", opt.dllPath.c_str(), static_cast<unsigned long>(dwDllBytes / 1024));
    std::printf("debugger output: %s\n\n",
                opt.listener ? "a debug-output monitor runs in this process (--listener): every line is written"
                             : "nobody listens: the library writes no line there");
    std::printf("%-*s  %*s  %*s  %*s  %s\n", static_cast<int>(w0), "work", static_cast<int>(w1), "extension",
                static_cast<int>(w2), "floor", static_cast<int>(w3), "ratio", "notes");
    std::printf("%s\n", std::string(w0 + w1 + w2 + w3 + 8 + 30, '-').c_str());
    for (const Row& r : rows) {
        std::printf("%-*s  %*s  %*s  %*s  %s\n", static_cast<int>(w0), r.work.c_str(), static_cast<int>(w1),
                    r.ext.c_str(), static_cast<int>(w2), r.floor.c_str(), static_cast<int>(w3), r.ratio.c_str(),
                    r.note.c_str());
    }
    std::printf("\n");
    for (const std::string& d : details) std::printf("%s\n", d.c_str());
    std::printf(
        "\nFloors: (a) and (c) GetFileVersionInfoSize + GetFileVersionInfo + VerQueryValue once per file;\n"
        "(b) and (f) CopyFileA of the same files. Extension times run from LoadLibrary to \"Download is done\";\n"
        "downloads complete at once from local files and the host unpacks by CopyFileA.\n"
        "(d) time per request = GpcOdeGetSectionIntegrity + GpcOdeDownload, averaged after the first 10,\n"
        "against one version-read loop over the section's files;\n"
        "private bytes are PagefileUsage (Wine answers 0 for PrivateUsage), handles are counted by probing.\n"
        "\"alone\": the run's number of trace lines, each written as the library writes one\n"
        "(OutputDebugStringA only while a debugger or a monitor listens, then the tracer window),\n"
        "timed by themselves in the same process: that much of the extension's time is its trace;\n"
        "\"without\" is the ratio less that time.\n"
        "(g) GpcOdeConfig calls (one trace line each) in a fresh load with the policy value LogFile set,\n"
        "against the same calls in a fresh load without it.\n");
}

std::vector<int> ParseList(const char* lpszText)
{
    std::vector<int> values;
    std::string text = lpszText ? lpszText : "";
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t comma = text.find(',', pos);
        std::string piece = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        int v = std::atoi(piece.c_str());
        if (v > 0) values.push_back(v);
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return values;
}

void Usage()
{
    std::printf(
        "usage: gpc_bench [--items N[,N...]] [--files M[,M...]] [--runs R] [--requests Q] [--quick] [--listener]\n"
        "  --items     items of the start-up runs (a) and (c)    default 50,500\n"
        "  --files     256 KB files of the first install (b)      default 20,200\n"
        "  --runs      runs per figure (the median is shown)      default 5\n"
        "  --requests  on-demand requests of (d)                  default 1000\n"
        "  --section-files  files of the section of (d)          default 2\n"
        "  --dll       the library to measure (Windows path)      default: vrgpcext.dll beside gpc_bench.exe\n"
        "  --log L     (g): L trace lines with the administrator's log file off and on  default 0 (skipped)\n"
        "  --durability  256 KB files of (f): the cost of flushing each file and writing\n"
        "              its rename through, per file (the library does neither)    default: none\n"
        "  --quick     --items 50 --files 20 --runs 1 --requests 100\n"
        "  --listener  run a debug-output monitor meanwhile (the library then writes every line there)\n"
        "  Give 0 to skip a part (for example --files 0).\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 7 && std::strcmp(argv[1], "--child-startup") == 0)
        return ChildStartup(argv[2], std::atoi(argv[3]), argv[4], argv[5], argv[6]);

    Options opt;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* lpszNext = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--items" && lpszNext) {
            opt.items = ParseList(lpszNext);
            ++i;
        } else if (a == "--files" && lpszNext) {
            opt.files = ParseList(lpszNext);
            ++i;
        } else if (a == "--runs" && lpszNext) {
            opt.runs = std::max(1, std::atoi(lpszNext));
            ++i;
        } else if (a == "--requests" && lpszNext) {
            opt.requests = std::max(0, std::atoi(lpszNext));
            ++i;
        } else if (a == "--dll" && lpszNext) {
            opt.dllPath = lpszNext;
            ++i;
        } else if (a == "--durability" && lpszNext) {
            opt.durability = ParseList(lpszNext);
            ++i;
        } else if (a == "--section-files" && lpszNext) {
            opt.sectionItems = std::max(1, std::atoi(lpszNext));
            ++i;
        } else if (a == "--listener") {
            opt.listener = true;
        } else if (a == "--log" && lpszNext) {
            opt.logLines = std::max(0, std::atoi(lpszNext));
            ++i;
        } else if (a == "--quick") {
            opt.items = {50};
            opt.files = {20};
            opt.runs = 1;
            opt.requests = 100;
        } else {
            Usage();
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }

    Workspace ws;
    ws.exeDir = ExeDir();
    if (opt.dllPath.empty()) opt.dllPath = ws.exeDir + "vrgpcext.dll";
    ws.dllPath = opt.dllPath;
    char achTemp[MAX_PATH] = "";
    DWORD dwTemp = GetTempPathA(sizeof(achTemp), achTemp);
    if (dwTemp == 0 || dwTemp >= sizeof(achTemp)) {
        std::fprintf(stderr, "gpc_bench: no temporary folder\n");
        return 1;
    }
    ws.root = std::string(achTemp) + "gpc_bench_" + std::to_string(GetCurrentProcessId());
    ws.hostDir = Join(ws.root, "host");
    ws.serverDir = Join(ws.root, "server");
    RemoveTree(ws.root);
    DeleteRegTree(HKEY_LOCAL_MACHINE, std::string("Software\\") + GPC_PRODUCT_ROOT);
    CreateDirectoryA(ws.root.c_str(), nullptr);
    CreateDirectoryA(ws.hostDir.c_str(), nullptr);
    CreateDirectoryA(ws.serverDir.c_str(), nullptr);

    WIN32_FILE_ATTRIBUTE_DATA dllInfo;
    if (!GetFileAttributesExA(ws.dllPath.c_str(), GetFileExInfoStandard, &dllInfo)) {
        std::fprintf(stderr, "gpc_bench: %s not found\n", ws.dllPath.c_str());
        return 1;
    }
    {
        CBenchHost probe(ws.hostDir, ws.serverDir);
        if (!probe.IsReady()) {
            std::fprintf(stderr, "gpc_bench: cannot create windows (is there a display?)\n");
            return 1;
        }
    }

    // Every process of the session writes to it, the children of (c) too.
    std::unique_ptr<CGpcDebugMonitor> pMonitor;
    if (opt.listener) {
        pMonitor.reset(new CGpcDebugMonitor(false));
        if (!pMonitor->IsRunning()) {
            std::fprintf(stderr, "gpc_bench: cannot run a debug-output monitor (does another one run?)\n");
            return 1;
        }
    }

    std::vector<Row> rows;
    std::vector<std::string> details;
    for (int n : opt.items) {
        std::printf("(a) start-up, %d items ...\n", n);
        std::fflush(stdout);
        size_t nBefore = rows.size();
        std::string version = BenchStartup(ws, opt, n, rows);
        PrintLatest(rows, nBefore);
        std::printf("(c) repeat start-up, %d items ...\n", n);
        std::fflush(stdout);
        nBefore = rows.size();
        BenchRepeatStartup(ws, opt, n, version, rows);
        PrintLatest(rows, nBefore);
    }
    for (int m : opt.files) {
        std::printf("(b) first install, %d files ...\n", m);
        std::fflush(stdout);
        size_t nBefore = rows.size();
        BenchFirstInstall(ws, opt, m, rows);
        PrintLatest(rows, nBefore);
    }
    for (int m : opt.durability) {
        std::printf("(f) durable renames, %d files ...\n", m);
        std::fflush(stdout);
        size_t nBefore = rows.size();
        BenchDurability(ws, opt, m, rows);
        PrintLatest(rows, nBefore);
    }
    if (opt.requests > 0) {
        std::printf("(d) %d on-demand requests ...\n", opt.requests);
        std::fflush(stdout);
        size_t nBefore = rows.size();
        BenchOnDemand(ws, opt, rows, details);
        PrintLatest(rows, nBefore);
    }
    if (opt.logLines > 0) {
        std::printf("(g) %d trace lines, log file off and on ...\n", opt.logLines);
        std::fflush(stdout);
        size_t nBefore = rows.size();
        BenchLogFile(ws, opt, rows);
        PrintLatest(rows, nBefore);
    }
    // (a) and (c) rows side by side per N read better.
    std::stable_sort(rows.begin(), rows.end(), [](const Row& x, const Row& y) { return x.work.substr(0, 3) < y.work.substr(0, 3); });
    PrintTable(opt, rows, details, dllInfo.nFileSizeLow);

    // What the runs left behind: folders, install logs, manifest copies.
    RemoveTree(ws.root);
    DeleteRegTree(HKEY_LOCAL_MACHINE, std::string("Software\\") + GPC_PRODUCT_ROOT);
    DeleteRegTree(HKEY_CURRENT_USER, std::string("Software\\") + GPC_PRODUCT_ROOT);
    WIN32_FIND_DATAA fd;
    // The extension keeps a copy of each manifest beside itself.
    std::string dllDir = ws.dllPath.substr(0, ws.dllPath.find_last_of('\\') + 1);
    HANDLE hFind = FindFirstFileA((dllDir + "gpcbench_*.ini").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((dllDir + fd.cFileName).c_str());
        } while (FindNextFileA(hFind, &fd));
        FindClose(hFind);
    }
    return 0;
}
