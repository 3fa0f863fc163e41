// gpc_crash.exe: the host killed in the middle of an installation, and what
// the next start makes of it.
//
// A browser that is closed, crashes or is killed during a meeting join is an
// everyday event. This program installs a product of F files (1 KB to 2 MB,
// "version", "size" and "existence" controls, a quarter in a subfolder) in
// the benchmark's host, in a process of its own, and kills that process:
//   - "./run.sh crash [POINTS]": at POINTS instants spread over a first
//     install and an update of most files (the process is terminated from
//     outside, after a delay measured from the start of its start-up);
//   - "--windows": right after chosen trace lines (and once in the middle of
//     an unpack), so that each window of the install path is hit every time.
// After each kill it checks:
//   1. every destination holds the old file, the new one, or (first install)
//      nothing: never a file cut short or empty under its final name;
//   2. the next start, run to its end, leaves every file whole and current
//      ("version" and "size" files new), each listed in the installation log;
//   3. no temporary file of the library's is left: "VR*.tmp" in the product's
//      folders, "VRK*.tmp" in the temporary folder, "WT*.tmp" in the product
//      folder;
//   4. a third start downloads nothing.
// It prints one line per kill and a closing line, and exits 1 on any breach.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_host.h"

namespace {

const char GPC_MANIFEST[] = "gpccrash.ini";
const DWORD GPC_CHILD_LIMIT_MS = 10 * 60 * 1000;
// The child's exit code when it ended itself at a chosen moment.
const UINT GPC_KILLED_ITSELF = 99;
// The exit code the parent gives the child it terminates.
const UINT GPC_KILLED_FROM_OUTSIDE = 77;

enum Control { CONTROL_VERSION, CONTROL_SIZE, CONTROL_EXISTENCE };

struct ProductFile {
    std::string name;
    bool bSub = false;
    Control control = CONTROL_EXISTENCE;
    std::string v1;  // the first install's bytes
    std::string v2;  // the update's bytes
};

struct Workspace {
    std::string exeDir;
    std::string root;       // everything this run writes
    std::string hostDir;    // what HostGetDirectory answers
    std::string tempDir;    // TMP and TEMP of the children
    std::string server1;    // the first version's "server"
    std::string server2;    // the update's
    std::string dllPath;
    std::string productRoot;  // GpcProductRoot: a registry tree of its own
};

std::string ProductDir(const Workspace& ws)
{
    return Join(Join(ws.hostDir, ws.productRoot), "1.0");
}

std::string Destination(const Workspace& ws, const ProductFile& f)
{
    return f.bSub ? Join(Join(ProductDir(ws), "Sub"), f.name) : Join(ProductDir(ws), f.name);
}

bool ReadWholeFile(const std::string& path, std::string* pBytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD dwSize = GetFileSize(h, nullptr);
    pBytes->assign(dwSize, '\0');
    DWORD dwRead = 0;
    BOOL bOk = dwSize == 0 || ReadFile(h, &(*pBytes)[0], dwSize, &dwRead, nullptr);
    CloseHandle(h);
    return bOk && dwRead == dwSize;
}

// ---------------------------------------------------------------- the product

// A module with a version resource: the benchmark's payload with its file
// version's last part set, then padded to the size wanted. The version
// resource sits near the start, so a file cut short still shows it.
bool MakeVersioned(const std::string& payload, WORD wLast, size_t nSize, unsigned nSeed, std::string* pOut)
{
    std::string bytes = payload;
    const unsigned char signature[] = {0xBD, 0x04, 0xEF, 0xFE};
    size_t at = bytes.find(std::string(reinterpret_cast<const char*>(signature), 4));
    if (at == std::string::npos || at + 16 > bytes.size()) return false;
    // VS_FIXEDFILEINFO: signature, struct version, FileVersionMS, FileVersionLS.
    DWORD dwLs = static_cast<DWORD>(wLast);
    std::memcpy(&bytes[at + 12], &dwLs, 4);
    if (bytes.size() > nSize) nSize = bytes.size();
    for (size_t i = bytes.size(); i < nSize; ++i) bytes.push_back(static_cast<char>((i * 131 + nSeed) >> 3));
    *pOut = bytes;
    return true;
}

std::string Filler(size_t nSize, unsigned nSeed)
{
    std::string bytes(nSize, '\0');
    unsigned x = nSeed * 2654435761u + 1;
    for (size_t i = 0; i < nSize; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

// F files from 1 KB to 2 MB (geometric), every fourth in "Sub"; controls
// in turn, "version" only where the module fits in the size.
bool MakeProduct(const Workspace& ws, int nFiles, size_t nMaxBytes, std::vector<ProductFile>* pFiles)
{
    std::string payload;
    if (!ReadWholeFile(ws.exeDir + "gpc_bench_payload.dll", &payload)) {
        std::fprintf(stderr, "gpc_crash: gpc_bench_payload.dll is missing beside the program\n");
        return false;
    }
    pFiles->clear();
    for (int i = 0; i < nFiles; ++i) {
        double dShare = nFiles > 1 ? static_cast<double>(i) / (nFiles - 1) : 1.0;
        size_t nSize = static_cast<size_t>(1024.0 * std::pow(static_cast<double>(nMaxBytes) / 1024.0, dShare));
        ProductFile f;
        f.bSub = i % 4 == 3;
        f.control = static_cast<Control>(i % 3);
        if (f.control == CONTROL_VERSION && nSize < payload.size()) f.control = CONTROL_SIZE;
        char achName[32];
        std::snprintf(achName, sizeof(achName), "c%02d.%s", i + 1, f.control == CONTROL_VERSION ? "dll" : "bin");
        f.name = achName;
        if (f.control == CONTROL_VERSION) {
            if (!MakeVersioned(payload, 7, nSize, i, &f.v1) || !MakeVersioned(payload, 8, nSize, i + 1000, &f.v2))
                return false;
        } else {
            f.v1 = Filler(nSize, i);
            // A "size" file's new version has another size, or nothing would
            // tell it from the old one.
            f.v2 = Filler(f.control == CONTROL_SIZE ? nSize + 512 : nSize, i + 1000);
        }
        pFiles->push_back(f);
    }
    return true;
}

bool WriteServer(const std::string& dir, const std::vector<ProductFile>& files, bool bSecond)
{
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string ini = "[Corvo]\r\nCount=" + std::to_string(files.size()) + "\r\n";
    for (size_t i = 0; i < files.size(); ++i) {
        const ProductFile& f = files[i];
        const std::string& bytes = bSecond ? f.v2 : f.v1;
        std::string version, control;
        std::string size = std::to_string(bytes.size());
        switch (f.control) {
        case CONTROL_VERSION: version = bSecond ? "1,0,0,8" : "1,0,0,7"; control = "version"; break;
        case CONTROL_SIZE: control = "size"; break;
        case CONTROL_EXISTENCE: control = "existence"; break;
        }
        ini += "File" + std::to_string(i + 1) + "=" + f.name + ";" + f.name + ";" + (f.bSub ? "Sub" : "") + ";" +
               version + ";" + size + ";" + size + ";;" + control + ";\r\n";
        if (!WriteWholeFile(Join(dir, f.name), bytes)) return false;
    }
    return WriteWholeFile(Join(dir, GPC_MANIFEST), ini);
}

// ---------------------------------------------------------------- the child

struct KillSpec {
    std::string kind = "none";  // none, after (a trace line), unpack, timer
    int nth = 0;
    std::string text;           // the start of the trace line
    int seen = 0;
};

void OnTrace(void* pContext, const char* lpszText)
{
    KillSpec* pKill = static_cast<KillSpec*>(pContext);
    if (pKill->kind != "after" || std::strncmp(lpszText, pKill->text.c_str(), pKill->text.size()) != 0) return;
    if (++pKill->seen == pKill->nth) TerminateProcess(GetCurrentProcess(), GPC_KILLED_ITSELF);
}

// Half the file written, then the end: as a host killed in mid-copy leaves it.
void OnUnpack(void* pContext, const char* lpszSource, const char* lpszDest)
{
    KillSpec* pKill = static_cast<KillSpec*>(pContext);
    if (pKill->kind != "unpack" || ++pKill->seen != pKill->nth) return;
    std::string bytes;
    if (ReadWholeFile(lpszSource, &bytes)) WriteWholeFile(lpszDest, bytes.substr(0, bytes.size() / 2));
    TerminateProcess(GetCurrentProcess(), GPC_KILLED_ITSELF);
}

// One start-up: writes "<finished> <item downloads> <ms>" to resultFile.
int RunChild(const std::string& root, const std::string& productRoot, const std::string& serverDir,
             const std::string& dllPath, KillSpec kill, const std::string& readyEvent, const std::string& resultFile)
{
    CBenchHost host(Join(root, "host"), serverDir);
    if (!host.IsReady()) return 3;
    host.SetParam("GpcUrlRoot", "http://127.0.0.1/crash");
    host.SetParam("GpcComponentName", "c01.bin");
    host.SetParam("GpcIniFileName", GPC_MANIFEST);
    host.SetParam("GpcProductRoot", productRoot);
    host.SetParam("GpcProductVersion", "1.0");
    host.SetParam("GpcUnpackVersion", "3");
    host.SetParam("GpcExtVersion", "3");
    host.SetParam("GpcDownloadOnly", "TRUE");
    host.SetParam("GpcSuppressProgressBar", "True");
    host.SetTraceHook(&OnTrace, &kill);
    host.SetUnpackHook(&OnUnpack, &kill);

    if (!readyEvent.empty()) {
        HANDLE hReady = OpenEventA(EVENT_MODIFY_STATE, FALSE, readyEvent.c_str());
        if (hReady) {
            SetEvent(hReady);
            CloseHandle(hReady);
        }
    }
    DWORD dwStart = GetTickCount();
    bool bFinished = false;
    {
        CBenchExtension ext(dllPath);
        if (ext.IsLoaded() && ext.InitInstance(host.Cookie(), host.Table()) == 0) {
            while (!host.DownloadDone() && GetTickCount() - dwStart < GPC_CHILD_LIMIT_MS) {
                host.DeliverDownloads();
                ext.Heartbeat(host.Cookie());
                CBenchHost::PumpMessages();
            }
            bFinished = host.DownloadDone();
        }
        DWORD dwMs = GetTickCount() - dwStart;
        if (ext.IsLoaded()) ext.ExitInstance(host.Cookie());
        CBenchHost::PumpMessages();
        FILE* pFile = std::fopen(resultFile.c_str(), "w");
        if (!pFile) return 3;
        // The manifest is one request of every start; the rest are files.
        std::fprintf(pFile, "%d %d %lu\n", bFinished ? 1 : 0, host.DownloadRequests() - 1,
                     static_cast<unsigned long>(dwMs));
        std::fclose(pFile);
    }
    return bFinished ? 0 : 2;
}

// ---------------------------------------------------------------- the parent

struct ChildResult {
    bool started = false;
    UINT exitCode = 0;
    bool finished = false;
    int downloads = -1;
    unsigned long ms = 0;
    bool killedFromOutside = false;
};

// Runs one start-up in a new process. dwKillAfterMs > 0: the process is
// terminated that long after its start-up begins (unless it ended first).
ChildResult StartChild(const Workspace& ws, const std::string& serverDir, const std::string& killArgs,
                       DWORD dwKillAfterMs)
{
    ChildResult r;
    std::string resultFile = Join(ws.root, "child_result.txt");
    DeleteFileA(resultFile.c_str());
    char achEvent[64];
    std::snprintf(achEvent, sizeof(achEvent), "GpcCrashReady%lu_%lu", GetCurrentProcessId(), GetTickCount());
    HANDLE hReady = CreateEventA(nullptr, TRUE, FALSE, achEvent);
    std::string cmd = "\"" + ws.exeDir + "gpc_crash.exe\" --child \"" + ws.root + "\" " + ws.productRoot + " \"" +
                      serverDir + "\" \"" + ws.dllPath + "\" \"" + resultFile + "\" " + achEvent + " " + killArgs;
    std::vector<char> cmdLine(cmd.begin(), cmd.end());
    cmdLine.push_back('\0');
    STARTUPINFOA si;
    std::memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, cmdLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        if (hReady) CloseHandle(hReady);
        return r;
    }
    r.started = true;
    if (dwKillAfterMs > 0 && hReady) {
        HANDLE ah[2] = {hReady, pi.hProcess};
        if (WaitForMultipleObjects(2, ah, FALSE, GPC_CHILD_LIMIT_MS) == WAIT_OBJECT_0) {
            if (WaitForSingleObject(pi.hProcess, dwKillAfterMs) == WAIT_TIMEOUT) {
                TerminateProcess(pi.hProcess, GPC_KILLED_FROM_OUTSIDE);
                r.killedFromOutside = true;
            }
        }
    }
    if (WaitForSingleObject(pi.hProcess, GPC_CHILD_LIMIT_MS) == WAIT_TIMEOUT)
        TerminateProcess(pi.hProcess, 4);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD dwCode = 0;
    GetExitCodeProcess(pi.hProcess, &dwCode);
    r.exitCode = dwCode;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (hReady) CloseHandle(hReady);
    FILE* pFile = std::fopen(resultFile.c_str(), "r");
    if (pFile) {
        int nFinished = 0;
        if (std::fscanf(pFile, "%d %d %lu", &nFinished, &r.downloads, &r.ms) == 3) r.finished = nFinished == 1;
        std::fclose(pFile);
    }
    return r;
}

std::string LogKeyPath(const Workspace& ws)
{
    return "SOFTWARE\\" + ws.productRoot + "\\Deinstall";
}

// The installation log's value for a file: the log key is the one below
// "Deinstall" that holds values named after the product's files.
bool FindLogValue(HKEY hKey, const std::string& name, std::string* pValue, int nDepth = 0)
{
    char achData[1024];
    DWORD dwType = 0;
    DWORD dwSize = sizeof(achData) - 1;
    if (RegQueryValueExA(hKey, name.c_str(), nullptr, &dwType, reinterpret_cast<BYTE*>(achData), &dwSize) ==
            ERROR_SUCCESS &&
        dwType == REG_SZ) {
        achData[dwSize] = '\0';
        *pValue = achData;
        return true;
    }
    if (nDepth > 4) return false;
    for (DWORD i = 0;; ++i) {
        char achSub[256];
        DWORD dwLen = sizeof(achSub);
        if (RegEnumKeyExA(hKey, i, achSub, &dwLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY hSub = nullptr;
        if (RegOpenKeyExA(hKey, achSub, 0, KEY_READ, &hSub) != ERROR_SUCCESS) continue;
        bool bFound = FindLogValue(hSub, name, pValue, nDepth + 1);
        RegCloseKey(hSub);
        if (bFound) return true;
    }
    return false;
}

// The library's temporary files in one folder (one prefix).
int CountTempFiles(const std::string& dir, const char* lpszPrefix, std::string* pNames)
{
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(Join(dir, std::string(lpszPrefix) + "*.tmp").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        ++n;
        *pNames += std::string(" ") + fd.cFileName;
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    return n;
}

void ResetProduct(const Workspace& ws)
{
    RemoveTree(Join(ws.hostDir, ws.productRoot));
    RemoveTree(ws.tempDir, true);
    DeleteRegTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + ws.productRoot);
    DeleteRegTree(HKEY_CURRENT_USER, "Software\\" + ws.productRoot);
}

// Check 1: right after the kill every destination is old, new or absent.
std::string CheckOldOrNew(const Workspace& ws, const std::vector<ProductFile>& files, bool bUpdate, int* pNew)
{
    std::string breaches;
    *pNew = 0;
    for (const ProductFile& f : files) {
        std::string bytes;
        if (!ReadWholeFile(Destination(ws, f), &bytes)) {
            // Only a first install may have nothing there yet (a held file
            // cannot be read: that would be a breach too).
            if (bUpdate || GetFileAttributesA(Destination(ws, f).c_str()) != INVALID_FILE_ATTRIBUTES)
                breaches += " " + f.name + " unreadable or missing;";
            continue;
        }
        const std::string& before = f.v1;
        const std::string& after = bUpdate ? f.v2 : f.v1;
        if (bytes == after) {
            ++*pNew;
        } else if (!(bUpdate && bytes == before)) {
            breaches += " " + f.name + " holds " + std::to_string(bytes.size()) + " bytes of neither version;";
        }
    }
    return breaches;
}

// Check 2 and 3: after a complete start every file is whole and current,
// listed in the log, and nothing of the library's is left.
std::string CheckComplete(const Workspace& ws, const std::vector<ProductFile>& files, bool bUpdate, int* pDebris)
{
    std::string breaches;
    HKEY hLog = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, LogKeyPath(ws).c_str(), 0, KEY_READ, &hLog);
    for (const ProductFile& f : files) {
        std::string path = Destination(ws, f);
        std::string bytes;
        if (!ReadWholeFile(path, &bytes)) {
            breaches += " " + f.name + " missing;";
            continue;
        }
        // An "existence" file that was there stays as it was; every other
        // file carries the version the last start installed.
        bool bCurrent = bytes == (bUpdate ? f.v2 : f.v1) ||
                        (f.control == CONTROL_EXISTENCE && bUpdate && bytes == f.v1);
        if (!bCurrent) breaches += " " + f.name + " not current (" + std::to_string(bytes.size()) + " bytes);";
        std::string logged;
        if (!hLog || !FindLogValue(hLog, f.name, &logged) || lstrcmpiA(logged.c_str(), path.c_str()) != 0)
            breaches += " " + f.name + " not in the installation log;";
    }
    if (hLog) RegCloseKey(hLog);
    std::string names;
    *pDebris = CountTempFiles(ProductDir(ws), "VR", &names) + CountTempFiles(Join(ProductDir(ws), "Sub"), "VR", &names) +
               CountTempFiles(ProductDir(ws), "WT", &names) + CountTempFiles(ws.tempDir, "VRK", &names);
    if (*pDebris) breaches += " left behind:" + names + ";";
    return breaches;
}

struct KillPoint {
    bool bUpdate;
    std::string killArgs;  // for the child; empty: killed from outside
    DWORD dwDelayMs;       // from outside
    std::string label;
};

// One kill and its checks; prints its line. Returns true when nothing was breached.
bool RunPoint(const Workspace& ws, const std::vector<ProductFile>& files, const KillPoint& p, int nIndex, int nTotal,
              bool bMustKill)
{
    ResetProduct(ws);
    std::string breaches;
    if (p.bUpdate) {
        ChildResult first = StartChild(ws, ws.server1, "none", 0);
        if (!first.finished) breaches += " the first install before the update did not finish;";
    }
    ChildResult killed = StartChild(ws, p.bUpdate ? ws.server2 : ws.server1,
                                    p.killArgs.empty() ? "timer" : p.killArgs, p.killArgs.empty() ? p.dwDelayMs : 0);
    bool bKilled = killed.exitCode == GPC_KILLED_ITSELF || killed.killedFromOutside;
    if (!killed.started) breaches += " the host could not be started;";
    if (bMustKill && !bKilled) breaches += " the chosen moment never came;";
    int nNew = 0;
    breaches += CheckOldOrNew(ws, files, p.bUpdate, &nNew);

    ChildResult next = StartChild(ws, p.bUpdate ? ws.server2 : ws.server1, "none", 0);
    if (!next.finished) breaches += " the next start did not finish;";
    int nDebris = 0;
    breaches += CheckComplete(ws, files, p.bUpdate, &nDebris);
    ChildResult third = StartChild(ws, p.bUpdate ? ws.server2 : ws.server1, "none", 0);
    if (!third.finished) breaches += " the third start did not finish;";
    if (third.downloads != 0) breaches += " the third start downloaded " + std::to_string(third.downloads) + " files;";

    std::printf("kill %3d/%d %-7s %-34s %s; right after: %2d of %zu new; next start: %d downloads, %s%s\n",
                nIndex, nTotal, p.bUpdate ? "update" : "install", p.label.c_str(),
                bKilled ? "killed" : "ended before the kill", nNew, files.size(), next.downloads,
                breaches.empty() ? "ok" : "BREACH:", breaches.c_str());
    std::fflush(stdout);
    return breaches.empty();
}

void Usage()
{
    std::printf(
        "usage: gpc_crash [POINTS] [--windows] [--files F] [--max-kb K] [--seed S] [--dll PATH]\n"
        "  POINTS     kills from outside, spread over a first install and an update   default 100\n"
        "  --windows  kill right after chosen trace lines and in mid-unpack instead (deterministic)\n"
        "  --files    files of the product                                             default 40\n"
        "  --max-kb   size of the largest file (the smallest is 1 KB)                  default 2048\n"
        "  --seed     spreads the instants differently                                 default 1\n"
        "  --dll      the library (Windows path)       default: vrgpcext.dll beside gpc_crash.exe\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 9 && std::strcmp(argv[1], "--child") == 0) {
        KillSpec kill;
        kill.kind = argv[8];
        if (argc >= 10) kill.nth = std::atoi(argv[9]);
        if (argc >= 11) kill.text = argv[10];
        return RunChild(argv[2], argv[3], argv[4], argv[5], kill, argv[7], argv[6]);
    }

    int nPoints = 100;
    bool bWindows = false;
    int nFiles = 40;
    size_t nMaxKb = 2048;
    unsigned nSeed = 1;
    Workspace ws;
    ws.exeDir = ExeDir();
    ws.dllPath = ws.exeDir + "vrgpcext.dll";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* lpszNext = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--windows") {
            bWindows = true;
        } else if (a == "--files" && lpszNext) {
            nFiles = std::atoi(argv[++i]);
        } else if (a == "--max-kb" && lpszNext) {
            nMaxKb = static_cast<size_t>(std::atoi(argv[++i]));
        } else if (a == "--seed" && lpszNext) {
            nSeed = static_cast<unsigned>(std::atoi(argv[++i]));
        } else if (a == "--dll" && lpszNext) {
            ws.dllPath = argv[++i];
        } else if (!a.empty() && a[0] >= '0' && a[0] <= '9') {
            nPoints = std::atoi(a.c_str());
        } else {
            Usage();
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    if (nFiles < 4 || nPoints < 1 || nMaxKb < 1) {
        Usage();
        return 2;
    }

    char achTemp[MAX_PATH];
    GetTempPathA(sizeof(achTemp), achTemp);
    ws.root = std::string(achTemp) + "gpc_crash_" + std::to_string(GetCurrentProcessId());
    ws.hostDir = Join(ws.root, "host");
    ws.tempDir = Join(ws.root, "temp");
    ws.server1 = Join(ws.root, "server1");
    ws.server2 = Join(ws.root, "server2");
    ws.productRoot = "GpcCrash" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(ws.root.c_str(), nullptr);
    CreateDirectoryA(ws.hostDir.c_str(), nullptr);
    CreateDirectoryA(ws.tempDir.c_str(), nullptr);
    // The children's temporary folder is this run's own: what they leave
    // there is theirs alone.
    SetEnvironmentVariableA("TMP", ws.tempDir.c_str());
    SetEnvironmentVariableA("TEMP", ws.tempDir.c_str());

    std::vector<ProductFile> files;
    if (!MakeProduct(ws, nFiles, nMaxKb * 1024, &files) || !WriteServer(ws.server1, files, false) ||
        !WriteServer(ws.server2, files, true)) {
        std::fprintf(stderr, "gpc_crash: could not write the product\n");
        RemoveTree(ws.root);
        return 2;
    }
    int nVersion = 0, nSize = 0, nExistence = 0, nSub = 0;
    size_t nBytes = 0;
    for (const ProductFile& f : files) {
        nVersion += f.control == CONTROL_VERSION;
        nSize += f.control == CONTROL_SIZE;
        nExistence += f.control == CONTROL_EXISTENCE;
        nSub += f.bSub;
        nBytes += f.v2.size();
    }
    std::printf("product: %zu files, %zu KB (%d version, %d size, %d existence; %d in a subfolder)\n", files.size(),
                nBytes / 1024, nVersion, nSize, nExistence, nSub);

    std::vector<KillPoint> points;
    if (bWindows) {
        // The third file installed, in each phase: each window of its path.
        const struct {
            const char* lpszArgs;
            const char* lpszLabel;
        } windows[] = {
            {"after 3 \"VRGPCEXT::DoItemInstall,SrcFileName\"", "after the write test"},
            {"unpack 3", "in the middle of the unpack"},
            {"after 3 \"filename = \"", "unpacked, before the log value"},
            {"after 3 \"Write log:\"", "logged, before the rename"},
            {"after 3 \"DoItemInstall: \"", "after the rename"},
            {"after 1 \"Removed \"", "after the sweep of leftovers"},
        };
        for (int nPhase = 0; nPhase < 2; ++nPhase) {
            for (const auto& w : windows) points.push_back({nPhase == 1, w.lpszArgs, 0, w.lpszLabel});
        }
    } else {
        // How long each phase's start-up runs when nobody kills it.
        DWORD adwRun[2] = {0, 0};
        for (int nPhase = 0; nPhase < 2; ++nPhase) {
            ResetProduct(ws);
            if (nPhase == 1) StartChild(ws, ws.server1, "none", 0);
            ChildResult r = StartChild(ws, nPhase ? ws.server2 : ws.server1, "none", 0);
            if (!r.finished) {
                std::printf("the %s does not finish without a kill\n", nPhase ? "update" : "first install");
                ResetProduct(ws);
                RemoveTree(ws.root);
                return 1;
            }
            adwRun[nPhase] = r.ms > 0 ? r.ms : 1;
            std::printf("%s runs %lu ms unkilled\n", nPhase ? "update" : "first install", r.ms);
        }
        std::srand(nSeed);
        int nPerPhase[2] = {(nPoints + 1) / 2, nPoints / 2};
        for (int k = 0; k < nPoints; ++k) {
            int nPhase = k % 2;
            int nStep = k / 2;
            // Spread over the run, each instant somewhere in its own slice.
            double dSlice = static_cast<double>(adwRun[nPhase]) / nPerPhase[nPhase];
            double dAt = dSlice * (nStep + static_cast<double>(std::rand()) / RAND_MAX);
            DWORD dwDelay = static_cast<DWORD>(dAt) + 1;
            char achLabel[64];
            std::snprintf(achLabel, sizeof(achLabel), "at %lu of %lu ms", static_cast<unsigned long>(dwDelay),
                          static_cast<unsigned long>(adwRun[nPhase]));
            points.push_back({nPhase == 1, "", dwDelay, achLabel});
        }
    }

    int nBreaches = 0;
    int nIndex = 0;
    for (const KillPoint& p : points) {
        if (!RunPoint(ws, files, p, ++nIndex, static_cast<int>(points.size()), bWindows)) ++nBreaches;
    }
    std::printf("%d kills, %d with a breach: %s\n", nIndex, nBreaches,
                nBreaches ? "FAILED" : "no lost or cut file, every next start complete, nothing left behind");
    ResetProduct(ws);
    RemoveTree(ws.root);
    return nBreaches ? 1 : 0;
}
