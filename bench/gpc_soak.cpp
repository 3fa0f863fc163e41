// gpc_soak.exe: thousands of hostile start-ups in one long-lived process.
//
// Each cycle loads a fresh copy of vrgpcext.dll as a host does (bench_host.h),
// hands it a generated page and a generated manifest, delivers some of the
// downloads it asks for, fails some with a null path and leaves some for
// ever undelivered, calls the on-demand, single-file, location, cancel and
// notification exports with hostile arguments, ends with GpcExitInstance and
// unloads the library. Every cycle has a time budget; a cycle that overruns it
// is a hang. Every --report cycles it prints the process's handle count,
// private bytes, GDI and USER objects and top-level windows, and it ends with
// one line of totals. It fails (exit code 1) on a hang, on a crash (the
// unhandled-exception filter names the cycle) and when, after the warm-up,
// handles, GDI or USER objects grew at all or the bytes in use in the
// process's heaps by more than 1 MB.
//
// Every file a cycle makes stays inside the soak's scratch folder: the
// library runs from a copy there, TMP, TEMP and USERPROFILE point there, the
// folders that paths are built from lie 16 levels deep so that the generated
// ".." steps cannot climb out, and items whose target is a system folder are
// never delivered. Registry keys that a cycle adds below Software are removed
// after it.
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_host.h"

namespace {

const int kBaseDepth = 16;       // folders between the scratch root and the working folders
const int kMaxClimb = 3;         // ".." steps in one generated path value
const char kNoDeliver[] = "nodeliver_";
const SIZE_T kHeapSlack = 1024 * 1024;

struct Options {
    int cycles = 5000;
    int first = 1;               // number of the first cycle (a cycle's pages follow from it and the seed)
    int pages = 0;               // distinct pages; the cycles go round them (default: two rounds)
    int report = 500;
    int warmup = -1;             // default: a tenth of the cycles, at least 10, at most 200
    DWORD budgetMs = 60000;
    unsigned seed = 20261210;
    std::string dllPath;         // default: vrgpcext.dll beside gpc_soak.exe
    std::string scratch;         // default: %TEMP%\gpc_soak_<pid>
    bool showPages = false;      // print each cycle's page and manifest kind
    bool noReports = false;      // pages never name a "LoggingURL": no failure reports through WinINet
    bool loadOnly = false;       // each cycle only loads and unloads the library
    bool listWindows = false;    // name the process's top-level windows at the end
    bool listHandles = false;    // name the handles that appeared after the warm-up
};

// ------------------------------------------------------------- registry

std::set<std::string> SoftwareKeys(HKEY hRoot)
{
    std::set<std::string> names;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, "Software", 0, KEY_READ, &hKey) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        char achName[512];
        DWORD dwLen = sizeof(achName);
        if (RegEnumKeyExA(hKey, i, achName, &dwLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.insert(achName);
    }
    RegCloseKey(hKey);
    return names;
}

// The keys below Software of both hives that were there before the soak.
struct RegistryBaseline {
    std::set<std::string> machine = SoftwareKeys(HKEY_LOCAL_MACHINE);
    std::set<std::string> user = SoftwareKeys(HKEY_CURRENT_USER);

    void RemoveAdded() const
    {
        for (const std::string& name : SoftwareKeys(HKEY_LOCAL_MACHINE))
            if (!machine.count(name)) DeleteRegTree(HKEY_LOCAL_MACHINE, "Software\\" + name);
        for (const std::string& name : SoftwareKeys(HKEY_CURRENT_USER))
            if (!user.count(name)) DeleteRegTree(HKEY_CURRENT_USER, "Software\\" + name);
    }
};

// --------------------------------------------------------- process figures

struct Figures {
    int handles = 0;
    SIZE_T privateBytes = 0;
    SIZE_T heapBytes = 0;  // bytes in use in every heap of the process
    DWORD gdi = 0;
    DWORD user = 0;
    int windows = 0;
};

BOOL CALLBACK PrintOwnWindow(HWND hWnd, LPARAM)
{
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid != GetCurrentProcessId()) return TRUE;
    char achClass[128] = "";
    char achTitle[128] = "";
    GetClassNameA(hWnd, achClass, sizeof(achClass));
    GetWindowTextA(hWnd, achTitle, sizeof(achTitle));
    std::printf("window: class \"%s\", title \"%s\", %s\n", achClass, achTitle, IsWindowVisible(hWnd) ? "visible" : "hidden");
    return TRUE;
}

BOOL CALLBACK CountOwnWindow(HWND hWnd, LPARAM lParam)
{
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid == GetCurrentProcessId()) ++*reinterpret_cast<int*>(lParam);
    return TRUE;
}

std::set<ULONG_PTR> HandleValues()
{
    std::set<ULONG_PTR> values;
    int nMisses = 0;
    for (ULONG_PTR v = 4; nMisses < 4096; v += 4) {
        DWORD dwFlags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(v), &dwFlags)) {
            values.insert(v);
            nMisses = 0;
        } else {
            ++nMisses;
        }
    }
    return values;
}

// The object type of each handle that is not in before, counted by type.
void PrintNewHandles(const std::set<ULONG_PTR>& before)
{
    typedef LONG(WINAPI * PFN_NtQueryObject)(HANDLE, int, void*, ULONG, ULONG*);
    PFN_NtQueryObject pfnQuery =
        reinterpret_cast<PFN_NtQueryObject>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject"));
    std::vector<std::pair<std::string, int>> counts;
    for (ULONG_PTR v : HandleValues()) {
        if (before.count(v)) continue;
        std::string type = "?";
        // ObjectTypeInformation (2): a UNICODE_STRING with the type name first.
        alignas(8) BYTE abInfo[1024];
        ULONG cbNeeded = 0;
        if (pfnQuery && pfnQuery(reinterpret_cast<HANDLE>(v), 2, abInfo, sizeof(abInfo), &cbNeeded) >= 0) {
            const UNICODE_STRING* pName = reinterpret_cast<const UNICODE_STRING*>(abInfo);
            type.clear();
            for (USHORT i = 0; pName->Buffer && i < pName->Length / 2; ++i) type += static_cast<char>(pName->Buffer[i]);
        }
        bool bFound = false;
        for (auto& c : counts) {
            if (c.first == type) {
                ++c.second;
                bFound = true;
            }
        }
        if (!bFound) counts.emplace_back(type, 1);
    }
    for (const auto& c : counts) std::printf("new handles: %d of type %s\n", c.second, c.first.c_str());
}

// What the heaps of the process hold: the private bytes also grow with what
// the system's loader keeps per load, the heaps only with what code forgot.
SIZE_T HeapBytesInUse()
{
    HANDLE ahHeaps[256];
    DWORD nHeaps = GetProcessHeaps(256, ahHeaps);
    SIZE_T cbTotal = 0;
    for (DWORD i = 0; i < nHeaps && i < 256; ++i) {
        if (!HeapLock(ahHeaps[i])) continue;
        PROCESS_HEAP_ENTRY entry;
        std::memset(&entry, 0, sizeof(entry));
        while (HeapWalk(ahHeaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) cbTotal += entry.cbData;
        }
        HeapUnlock(ahHeaps[i]);
    }
    return cbTotal;
}

Figures Measure()
{
    Figures f;
    f.heapBytes = HeapBytesInUse();
    f.handles = CountProcessHandles();
    f.privateBytes = ProcessPrivateBytes();
    f.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    f.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    EnumWindows(&CountOwnWindow, reinterpret_cast<LPARAM>(&f.windows));
    return f;
}

// ------------------------------------------------------- hostile values

typedef std::mt19937 Rng;

int Pick(Rng& rng, int n)
{
    return n <= 1 ? 0 : static_cast<int>(rng() % static_cast<unsigned>(n));
}

bool Chance(Rng& rng, int percent)
{
    return Pick(rng, 100) < percent;
}

// Between 300 and 70,000 characters of one of several fillers.
std::string LongValue(Rng& rng)
{
    static const char* const s_apszFill[] = {"A", "%s", "|", ";", "\\", "..\\", "\x81\x5C", "\xE9", "9", " "};
    size_t nLength = 300 + rng() % (70000 - 300 + 1);
    if (Chance(rng, 50)) nLength = 300 + rng() % 3000;  // most long values near the common limits
    std::string fill = s_apszFill[Pick(rng, sizeof(s_apszFill) / sizeof(s_apszFill[0]))];
    std::string value;
    value.reserve(nLength + fill.size());
    while (value.size() < nLength) value += fill;
    value.resize(nLength);
    return value;
}

// A relative path that climbs at most kMaxClimb folders.
std::string ClimbingPath(Rng& rng)
{
    static const char* const s_apsz[] = {"..", "..\\..", "..\\..\\..", "..\\x", "..\\..\\..\\x", "../../x",
                                         ".\\.\\.", "a\\..\\..\\b", "...\\....", "x\\..\\..\\..", "..\\"};
    return s_apsz[Pick(rng, sizeof(s_apsz) / sizeof(s_apsz[0]))];
}

enum ValueKind { V_EMPTY, V_LONG, V_PRINTF, V_HIGHBIT, V_DOUBLEBYTE, V_SEPARATORS, V_NUMERIC, V_PATH, V_KINDS };

std::string HostileValue(Rng& rng, ValueKind kind)
{
    switch (kind) {
    case V_EMPTY:
        return "";
    case V_LONG:
        return LongValue(rng);
    case V_PRINTF: {
        static const char* const s[] = {"%s%s%s%s", "%n%n", "%x%08X%p", "%%%", "%999999999d", "%.70000s", ":w:s=",
                                        "%s|%n|%d", "%WPARAM%LPARAM"};
        return s[Pick(rng, sizeof(s) / sizeof(s[0]))];
    }
    case V_HIGHBIT: {
        std::string v;
        int n = 1 + Pick(rng, 40);
        for (int i = 0; i < n; ++i) v += static_cast<char>(0x80 + Pick(rng, 0x80));
        return v;
    }
    case V_DOUBLEBYTE: {
        // Lead bytes followed by trail bytes that are separators or a
        // backslash in a single-byte reading, and a dangling lead byte.
        static const char* const s[] = {"\x81\x5C\x82\x7C\x83\x3B", "\x95\x5C|\x95\x5C", "\xE0\x40\xFC\x7C\x81",
                                        "abc\x81", "\x81\x5C\\\x81\x5C.ini", "\x88\x9F\x8A\xBF%s"};
        return s[Pick(rng, sizeof(s) / sizeof(s[0]))];
    }
    case V_SEPARATORS: {
        static const char* const s[] = {"|||", ";;;;;;;;;;", "| |\t|\r\n|", ",,,", "=;=|=", "[Corvo]", " \t ",
                                        "a|b;c,d=e[f]g\"h'i"};
        return s[Pick(rng, sizeof(s) / sizeof(s[0]))];
    }
    case V_NUMERIC: {
        static const char* const s[] = {"0", "-1", "15", "16", "2147483647", "2147483648", "-2147483648",
                                        "4294967295", "4294967296", "99999999999999999999", "0x7FFFFFFF", "1e9",
                                        " 7", "+3", "00000000000000000001"};
        return s[Pick(rng, sizeof(s) / sizeof(s[0]))];
    }
    case V_PATH:
    default:
        return ClimbingPath(rng);
    }
}

std::string AnyHostile(Rng& rng)
{
    return HostileValue(rng, static_cast<ValueKind>(Pick(rng, V_KINDS)));
}

// Values that name files or folders: hostile, but never absolute and never
// climbing further than kMaxClimb.
std::string HostilePathPart(Rng& rng)
{
    ValueKind kind = static_cast<ValueKind>(Pick(rng, V_KINDS));
    std::string v = HostileValue(rng, kind);
    if (v.find(':') != std::string::npos || (v.size() >= 1 && (v[0] == '\\' || v[0] == '/'))) return "x" + v;
    return v;
}

// A logging address that can only ever reach this machine.
std::string HostileLoggingUrl(Rng& rng)
{
    switch (Pick(rng, 4)) {
    case 0:
        return ":w:s=";
    case 1:
        return "http://127.0.0.1:9/" + AnyHostile(rng);
    case 2:
        return AnyHostile(rng);  // no scheme at all
    default:
        return "http://127.0.0.1:9/log?x=" + HostileValue(rng, V_PRINTF);
    }
}

// ------------------------------------------------------------ manifests

struct Payload {
    std::string name;
};

const char* const kPayloads[] = {"p1.bin", "p2.bin", "p3.dat", "p4.txt", "component.dll"};
const char* const kSafeTargets[] = {"", "sub", "sub\\deeper", "%uninstall%", "%UNINSTALL%\\x", ".."};
const char* const kSystemTargets[] = {"%system%", "%windows%", "%pdriver%", "%kdriver%", "%windows%\\Fonts",
                                      "C:\\", "\\\\127.0.0.1\\share"};
const char* const kControls[] = {"version", "size", "existence", "vertag", "VERSION", "", "bogus"};
const char* const kFailureControls[] = {"ignore", "redirect", "", "IGNORE", "whatever"};

// One item line. Items that could write outside the scratch folder (system
// targets, absolute targets, actions that run the file) get a url that the
// soak's host never delivers.
std::string ItemLine(Rng& rng, bool bHostile)
{
    std::string name = kPayloads[Pick(rng, sizeof(kPayloads) / sizeof(kPayloads[0]))];
    std::string url = name;
    std::string target = kSafeTargets[Pick(rng, sizeof(kSafeTargets) / sizeof(kSafeTargets[0]))];
    std::string action;
    bool bUnsafe = Chance(rng, 15);
    if (bUnsafe) {
        target = kSystemTargets[Pick(rng, sizeof(kSystemTargets) / sizeof(kSystemTargets[0]))];
        if (Chance(rng, 50)) action = Chance(rng, 50) ? "e" : "p";
        url = std::string(kNoDeliver) + name;
    } else if (Chance(rng, 20)) {
        action = Chance(rng, 50) ? "r" : "x";  // registering a data file fails, nothing runs
    }
    std::string version = Chance(rng, 50) ? "1,0,0,7" : "";
    std::string size = std::to_string(rng() % 5000);
    std::string control = kControls[Pick(rng, sizeof(kControls) / sizeof(kControls[0]))];
    std::string failure = kFailureControls[Pick(rng, sizeof(kFailureControls) / sizeof(kFailureControls[0]))];
    std::string os = Chance(rng, 70) ? "" : std::to_string(static_cast<int>(rng() % 9) - 1);
    if (bHostile) {
        // One to three fields replaced by hostile text; names and targets
        // stay relative and shallow.
        int n = 1 + Pick(rng, 3);
        for (int i = 0; i < n; ++i) {
            switch (Pick(rng, 9)) {
            case 0: name = HostilePathPart(rng); break;
            case 1: url = (bUnsafe ? std::string(kNoDeliver) : std::string()) + AnyHostile(rng); break;
            case 2: target = bUnsafe ? target : HostilePathPart(rng); break;
            case 3: version = AnyHostile(rng); break;
            case 4: size = HostileValue(rng, V_NUMERIC); break;
            case 5: action = bUnsafe ? action : std::string(Chance(rng, 50) ? "r" : "") + HostileValue(rng, V_SEPARATORS); break;
            case 6: control = AnyHostile(rng); break;
            case 7: failure = AnyHostile(rng); break;
            default: os = HostileValue(rng, V_NUMERIC); break;
            }
        }
        if (bUnsafe && url.find(kNoDeliver) == std::string::npos) url = kNoDeliver + url;
    }
    std::string line = name + ";" + url + ";" + target + ";" + version + ";" + size + ";" + size + ";" + action + ";" +
                       control + ";" + failure;
    if (!os.empty()) line += ";" + os;
    // Fewer fields than the record has.
    if (bHostile && Chance(rng, 15)) line.resize(rng() % (line.size() + 1));
    return line;
}

std::string SectionText(Rng& rng, const std::string& section, int nKind)
{
    int nItems = 1 + Pick(rng, 4);
    std::string count = std::to_string(nItems);
    if (nKind == 3) count = Chance(rng, 50) ? "2147483647" : std::to_string(1000 + rng() % 100000);
    std::string text = "[" + section + "]\r\nCount=" + count + "\r\n";
    for (int i = 1; i <= nItems; ++i) {
        std::string line = ItemLine(rng, nKind == 5);
        if (nKind == 4) {
            // An entry of about 3,000 characters.
            std::string pad(3000, static_cast<char>('a' + Pick(rng, 26)));
            line = Chance(rng, 50) ? line + pad : pad + ";" + line;
        }
        text += "File" + std::to_string(i) + "=" + line + "\r\n";
    }
    return text;
}

// Kinds: 0 valid, 1 truncated, 2 binary, 3 "Count" far beyond its entries,
// 4 3,000-character entries, 5 hostile fields.
std::string ManifestText(Rng& rng, const std::string& section, int nKind)
{
    if (nKind == 2) {
        std::string bytes(static_cast<size_t>(Pick(rng, 20000)), '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        if (Chance(rng, 50)) bytes = "[" + section + "]\r\nCount=3\r\nFile1=" + bytes;
        return bytes;
    }
    std::string text = SectionText(rng, section, nKind) + SectionText(rng, "Extras", nKind);
    if (nKind == 1) text.resize(rng() % (text.size() + 1));
    return text;
}

// ------------------------------------------------------------ the page

struct ParamSpec {
    const char* name;
    bool pathLike;  // ends up in a file or folder name
};

const ParamSpec kParams[] = {
    {"GpcUrls", false},           {"GpcActions", false},           {"GpcSuppressInstallation", false},
    {"GpcUnpackVersion", false},  {"GpcExtVersion", false},        {"GpcStdDownload", false},
    {"GpcUrlRoot", false},        {"GpcIniFileName", true},        {"GpcComponentName", true},
    {"GpcProductRoot", true},     {"GpcProductVersion", true},     {"GpcActiveIniSection", false},
    {"GpcDependency", false},     {"GpcLocalSetting", false},      {"GpcMessageTitle", false},
    {"GpcSuppressProgressBar", false}, {"GpcProgressBarTitle", false}, {"GpcDownloadOnly", false},
    {"GpcComponentProgID", false}, {"GpcInitCall", false},         {"GpcExitCall", false},
    {"LoggingURL", false},        {"MeetingID", false},            {"SessionID", false},
    {"regtype", false},           {"Extras", false},
};

std::string ValidValue(Rng& rng, const std::string& name, const std::string& ini)
{
    if (name == "GpcUrls") return "http://127.0.0.1/a| http://127.0.0.1/b||http://127.0.0.1/c";
    if (name == "GpcActions") return "Go(#LPARAM)|Show($LPARAM, %WPARAM)|GpcOpenLocation(\"http://127.0.0.1/x\")";
    if (name == "GpcSuppressInstallation") return Chance(rng, 30) ? "True" : "false";
    if (name == "GpcUnpackVersion" || name == "GpcExtVersion") return "3";
    if (name == "GpcStdDownload") return "1";
    if (name == "GpcUrlRoot") return "http://127.0.0.1/soak";
    if (name == "GpcIniFileName") return ini;
    if (name == "GpcComponentName") return kPayloads[Pick(rng, 5)];
    if (name == "GpcProductRoot") return "SoakProduct";
    if (name == "GpcProductVersion") return "v" + std::to_string(Pick(rng, 3));
    if (name == "GpcActiveIniSection") return Chance(rng, 70) ? "Corvo" : "Extras";
    if (name == "GpcDependency") return "p1.bin;p1.bin;sub;;10;10;;existence;|p2.bin;p2.bin;;;;;;size;ignore";
    if (name == "GpcLocalSetting") return std::to_string(1 + Pick(rng, 15));
    if (name == "GpcMessageTitle" || name == "GpcProgressBarTitle") return "Soak";
    if (name == "GpcSuppressProgressBar") return Chance(rng, 70) ? "True" : "no";
    if (name == "GpcDownloadOnly") return Chance(rng, 70) ? "TRUE" : "no";
    if (name == "GpcComponentProgID") return "Soak.NoSuchControl.1";
    if (name == "GpcInitCall" || name == "GpcExitCall") return "Init(\"a\", 1, #LPARAM)";
    if (name == "LoggingURL") return "http://127.0.0.1:9/log";
    if (name == "MeetingID" || name == "SessionID") return std::to_string(rng() % 100000);
    if (name == "regtype") return "1";  // "0" would start a browser through automation
    return "Fetching extras";
}

struct Page {
    std::string ini;      // the manifest name the server answers to, when valid
    std::string section;  // the section the manifest is written for
};

Page MakePage(Rng& rng, CBenchHost& host, int nPage, bool bNoReports)
{
    Page page;
    page.ini = "soak" + std::to_string(nPage % 7) + ".ini";
    page.section = "Corvo";
    host.ClearParams();
    // Most pages are near valid, so the later steps are reached too.
    int nHostilePercent = Chance(rng, 30) ? 60 : 15;
    for (const ParamSpec& p : kParams) {
        std::string name = p.name;
        // The standard-download and dependency-list paths are rarer than the
        // ordinary one, and so is a suppressed installation.
        int nPresent = name == "GpcStdDownload" ? 10 : name == "GpcSuppressInstallation" ? 30 : 80;
        if (name == "GpcUnpackVersion" || name == "GpcExtVersion") nPresent = 92;
        if (!Chance(rng, nPresent)) continue;  // missing
        std::string value;
        if (name == "LoggingURL" && Chance(rng, nHostilePercent)) {
            value = HostileLoggingUrl(rng);
        } else if (name == "regtype") {
            value = Chance(rng, nHostilePercent) ? "x" + AnyHostile(rng) : ValidValue(rng, name, page.ini);
        } else if (Chance(rng, nHostilePercent)) {
            value = p.pathLike ? HostilePathPart(rng) : AnyHostile(rng);
        } else {
            value = ValidValue(rng, name, page.ini);
        }
        if (name == "LoggingURL" && bNoReports) continue;
        if (name == "GpcIniFileName") page.ini = value;
        if (name == "GpcActiveIniSection") page.section = value;
        host.SetParam(name, value);
    }
    return page;
}

// ------------------------------------------------------------ a cycle

struct Totals {
    long long delivered = 0;
    long long failed = 0;
    long long held = 0;
    long long exportCalls = 0;
    long long traceLines = 0;
    long long notices = 0;
    int initRefused = 0;
};

struct CycleContext {
    Rng* rng;
    int deliverPercent;
    int failPercent;
};

CBenchHost::Delivery ChooseDelivery(void* pContext, const char* lpszUrl)
{
    CycleContext* p = static_cast<CycleContext*>(pContext);
    if (lpszUrl && std::strstr(lpszUrl, kNoDeliver)) return Chance(*p->rng, 50) ? CBenchHost::FAIL : CBenchHost::HOLD;
    int n = Pick(*p->rng, 100);
    if (n < p->deliverPercent) return CBenchHost::DELIVER;
    if (n < p->deliverPercent + p->failPercent) return CBenchHost::FAIL;
    return CBenchHost::HOLD;
}

void WINAPI OnOdeNotice(void* pContext, int, const char*, const char*, int, GpcOdeFileInfo*)
{
    if (pContext) ++static_cast<Totals*>(pContext)->notices;
}

void WINAPI OnFileAtUrl(void*, void* pContext, DWORD, ULONG_PTR)
{
    if (pContext) ++static_cast<Totals*>(pContext)->notices;
}

struct ProgressRequest {
    DWORD dwExpected;
    const char* lpszCaption;
};

struct Workspace {
    std::string root;
    std::string base;  // kBaseDepth folders below root
    std::string bin;
    std::string host;
    std::string temp;
    std::string server;
    std::string dll;
};

// The hostile calls of the other exports, made while the instance lives.
void CallExports(Rng& rng, CBenchExtension& ext, CBenchHost& host, Totals& totals)
{
    std::vector<std::string> texts;  // keeps every string alive for the whole batch
    auto text = [&](bool bPath) -> const char* {
        int n = Pick(rng, 10);
        if (n == 0) return nullptr;
        if (n < 4) {
            static const char* const s[] = {"Extras", "Corvo", "soak0.ini"};
            texts.push_back(s[Pick(rng, 3)]);
        } else {
            texts.push_back(bPath ? HostilePathPart(rng) : AnyHostile(rng));
        }
        return texts.back().c_str();
    };
    auto cookie = [&]() -> GpcCookie {
        switch (Pick(rng, 5)) {
        case 0: return nullptr;
        case 1: return host.Cookie();
        case 2: return reinterpret_cast<GpcCookie>(static_cast<ULONG_PTR>(0xFFFFFFFF));
        case 3: return reinterpret_cast<GpcCookie>(static_cast<ULONG_PTR>(0x1234));
        default: return reinterpret_cast<GpcCookie>(host.PluginWindow());
        }
    };
    int nCalls = 2 + Pick(rng, 8);
    for (int i = 0; i < nCalls; ++i) {
        ++totals.exportCalls;
        GpcOdeCallback pfnOde = Chance(rng, 90) ? &OnOdeNotice : nullptr;
        switch (Pick(rng, 11)) {
        case 0: ext.OdeGetSectionIntegrity(cookie(), text(true), text(false)); break;
        case 1: ext.OdeGetSectionIntegrity2(cookie(), text(true), text(false), text(true)); break;
        case 2: ext.OdeGetSectionIntegrityExt(cookie(), text(true), text(false), text(true)); break;
        case 3: ext.OdeDownload(cookie(), text(true), text(false), pfnOde, &totals); break;
        case 4: ext.OdeDownload2(cookie(), text(true), text(false), text(true), pfnOde, &totals); break;
        case 5: ext.StdDownloadExt(cookie(), text(true), text(false), pfnOde, &totals); break;
        case 6: ext.GetFileAtUrl(cookie(), &OnFileAtUrl, &totals, text(false)); break;
        case 7: {
            ProgressRequest request = {static_cast<DWORD>(rng()), text(false)};
            ext.GetFileAtUrlEx(cookie(), &OnFileAtUrl, &totals, text(false), Chance(rng, 20) ? nullptr : &request);
            break;
        }
        case 8: ext.OpenLocation(cookie(), text(false), text(false), rng()); break;
        case 9: {
            static const int s_anIndex[] = {-1, 0, 1, 3, 0x7FFFFFFF, static_cast<int>(0x80000000)};
            ext.CancelFileIndex(cookie(), s_anIndex[Pick(rng, 6)]);
            break;
        }
        default: {
            // The parameter is a text the host passes by address, or 0.
            const char* lpszParam = text(false);
            ext.ActionNotify(host.Cookie(), static_cast<DWORD>(Pick(rng, 6)) - 1,
                             static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(lpszParam)));
            break;
        }
        }
        if (Chance(rng, 10)) {
            ++totals.exportCalls;
            ext.OdeConfig(Chance(rng, 70) ? 1 : 0, rng(), rng());
        }
        if (Chance(rng, 50)) host.DeliverDownloads();
        CBenchHost::PumpMessages();
    }
}

// One cycle over one page; the page number alone decides what the cycle does,
// so "--first <page>" replays it.
void RunCycle(const Workspace& ws, const Options& opt, int nPage, Totals& totals)
{
    if (opt.loadOnly) {
        HMODULE hModule = LoadLibraryA(ws.dll.c_str());
        if (!hModule) {
            std::printf("page %d: vrgpcext.dll did not load from %s\n", nPage, ws.dll.c_str());
            std::fflush(stdout);
            ExitProcess(2);
        }
        FreeLibrary(hModule);
        return;
    }
    Rng rng(opt.seed ^ (static_cast<unsigned>(nPage) * 2654435761u));
    CBenchHost host(ws.host, ws.server);
    CycleContext ctx = {&rng, 40 + Pick(rng, 50), 0};
    ctx.failPercent = Pick(rng, 100 - ctx.deliverPercent + 1);
    host.SetChooser(&ChooseDelivery, &ctx);

    Page page = MakePage(rng, host, nPage, opt.noReports);
    int nKind = Pick(rng, 6);
    if (opt.showPages) {
        std::printf("page %d: manifest kind %d, manifest name \"%.80s\"\n", nPage, nKind, page.ini.c_str());
        for (int i = 0;; ++i) {
            const char* lpszName = nullptr;
            const char* lpszValue = nullptr;
            if (!host.Table()->HostGetParamAt(host.Cookie(), i, &lpszName, &lpszValue)) break;
            std::printf("  %s = (%u) \"%.80s\"\n", lpszName, static_cast<unsigned>(std::strlen(lpszValue)), lpszValue);
        }
        std::fflush(stdout);
    }
    std::string manifest = ManifestText(rng, page.section.size() < 200 ? page.section : "Corvo", nKind);
    // The server answers to the page's manifest name and to the per-OS names.
    static const char* const s_apszOsNames[] = {"gpcnt.ini", "gpc95.ini", "gpc98.ini", "gpcnt4.ini", "gpcw2k.ini"};
    for (const char* lpszName : s_apszOsNames) WriteWholeFile(Join(ws.server, lpszName), manifest);
    if (page.ini.size() < 64 && page.ini.find_first_of("\\/:*?\"<>|") == std::string::npos && !page.ini.empty() &&
        page.ini != "." && page.ini != "..")
        WriteWholeFile(Join(ws.server, page.ini), manifest);

    {
        CBenchExtension ext(ws.dll);
        if (!ext.HasAllExports()) {
            std::printf("page %d: vrgpcext.dll did not load from %s\n", nPage, ws.dll.c_str());
            std::fflush(stdout);
            ExitProcess(2);
        }
        if (ext.InitInstance(host.Cookie(), host.Table()) != 0) ++totals.initRefused;
        int nRounds = 5 + Pick(rng, 40);
        bool bExportsCalled = false;
        for (int r = 0; r < nRounds && !host.DownloadDone(); ++r) {
            if (Chance(rng, 70)) host.DeliverDownloads();
            ext.Heartbeat(host.Cookie());
            CBenchHost::PumpMessages();
            if (!bExportsCalled && Chance(rng, 15)) {
                CallExports(rng, ext, host, totals);
                bExportsCalled = true;
            }
        }
        if (!bExportsCalled) CallExports(rng, ext, host, totals);
        for (int r = 0; r < 3; ++r) {
            host.DeliverDownloads();
            ext.Heartbeat(host.Cookie());
            CBenchHost::PumpMessages();
        }
        ext.ExitInstance(host.Cookie());
        CBenchHost::PumpMessages();
        totals.held += static_cast<long long>(host.HeldDownloads());
        host.DropPending();
    }
    totals.traceLines += host.TraceLines();
    totals.delivered += host.DeliveredDownloads();
    totals.failed += host.FailedDownloads();
}

// ------------------------------------------------------------ watchdog

// The running cycle and its page (-1 between cycles): a crash or hang names
// both, and "--first <page>" replays the page.
volatile LONG g_nCycle = -1;
volatile LONG g_nPage = -1;
volatile LONG g_dwCycleStart = 0;
DWORD g_dwBudgetMs = 60000;
unsigned g_nSeed = 0;

DWORD WINAPI Watchdog(void*)
{
    for (;;) {
        Sleep(500);
        LONG nCycle = g_nCycle;
        LONG nPage = g_nPage;
        DWORD dwStart = static_cast<DWORD>(g_dwCycleStart);
        if (nCycle >= 0 && GetTickCount() - dwStart > g_dwBudgetMs) {
            std::printf("HANG: cycle %ld, page %ld (seed %u) ran longer than %lu ms\n", nCycle, nPage, g_nSeed,
                        static_cast<unsigned long>(g_dwBudgetMs));
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* pInfo)
{
    std::printf("CRASH: cycle %ld, page %ld (seed %u): exception %08lX at %p\n", static_cast<long>(g_nCycle),
                static_cast<long>(g_nPage), g_nSeed,
                pInfo && pInfo->ExceptionRecord ? static_cast<unsigned long>(pInfo->ExceptionRecord->ExceptionCode) : 0ul,
                pInfo && pInfo->ExceptionRecord ? pInfo->ExceptionRecord->ExceptionAddress : nullptr);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 4);
    return EXCEPTION_EXECUTE_HANDLER;
}

// ------------------------------------------------------------ reporting

long long Kb(SIZE_T cb)
{
    return static_cast<long long>(cb / 1024);
}

void PrintFigures(int nCycle, const Figures& f, const Figures& start, double dMsPerCycle)
{
    std::printf("cycle %5d: handles %d (%+d), private %lld KB (%+lld KB), heap %lld KB (%+lld KB), gdi %lu (%+ld), "
                "user %lu (%+ld), windows %d, %.0f ms/cycle\n",
                nCycle, f.handles, f.handles - start.handles, Kb(f.privateBytes),
                Kb(f.privateBytes) - Kb(start.privateBytes), Kb(f.heapBytes), Kb(f.heapBytes) - Kb(start.heapBytes),
                static_cast<unsigned long>(f.gdi),
                static_cast<long>(f.gdi) - static_cast<long>(start.gdi), static_cast<unsigned long>(f.user),
                static_cast<long>(f.user) - static_cast<long>(start.user), f.windows, dMsPerCycle);
    std::fflush(stdout);
}

void Usage()
{
    std::printf(
        "usage: gpc_soak [CYCLES] [--report N] [--warmup N] [--budget-ms MS] [--seed S] [--dll PATH] [--scratch DIR]\n"
        "  CYCLES      start-up cycles, each loading and unloading the library   default 5000\n"
        "  --report    print the process figures every N cycles                   default 500\n"
        "  --warmup    cycles before the figures that the limits are judged from  default cycles/10 (10..200)\n"
        "  --budget-ms time one cycle may take before it counts as a hang        default 60000\n"
        "  --seed      seed of the generated pages and manifests                  default 20261210\n"
        "  --dll       the library (it is copied into the scratch folder)         default: beside gpc_soak.exe\n"
        "  --scratch   the folder every file of the run stays in                  default: %%TEMP%%\\gpc_soak_<pid>\n"
        "  --first     number of the first page, to repeat a stretch of a run     default 1\n"
        "  --pages     distinct pages; the cycles go round them again, so that    default CYCLES/2\n"
        "              what the system caches per address fills in the first round\n"
        "              and only what grows again on every round counts (warm-up:\n"
        "              the first round, when there is more than one)\n"
        "  --no-reports pages without \"LoggingURL\": failure reports (WinINet) stay out of the figures\n"
        "  --show-pages print each cycle's page parameters and manifest kind\n"
        "  --load-only each cycle only loads and unloads the library (the bare cost of a load)\n"
        "  --list-handles  name the type of every handle that appeared after the warm-up\n"
        "  --list-windows  name the class of every top-level window of the process at the end\n");
}

}  // namespace

int main(int argc, char** argv)
{
    Options opt;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* lpszNext = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!a.empty() && a[0] != '-') {
            opt.cycles = std::max(1, std::atoi(a.c_str()));
        } else if (a == "--report" && lpszNext) {
            opt.report = std::max(1, std::atoi(lpszNext));
            ++i;
        } else if (a == "--warmup" && lpszNext) {
            opt.warmup = std::max(0, std::atoi(lpszNext));
            ++i;
        } else if (a == "--budget-ms" && lpszNext) {
            opt.budgetMs = static_cast<DWORD>(std::max(100, std::atoi(lpszNext)));
            ++i;
        } else if (a == "--seed" && lpszNext) {
            opt.seed = static_cast<unsigned>(std::strtoul(lpszNext, nullptr, 10));
            ++i;
        } else if (a == "--dll" && lpszNext) {
            opt.dllPath = lpszNext;
            ++i;
        } else if (a == "--pages" && lpszNext) {
            opt.pages = std::max(1, std::atoi(lpszNext));
            ++i;
        } else if (a == "--first" && lpszNext) {
            opt.first = std::max(1, std::atoi(lpszNext));
            ++i;
        } else if (a == "--no-reports") {
            opt.noReports = true;
        } else if (a == "--show-pages") {
            opt.showPages = true;
        } else if (a == "--load-only") {
            opt.loadOnly = true;
        } else if (a == "--list-handles") {
            opt.listHandles = true;
        } else if (a == "--list-windows") {
            opt.listWindows = true;
        } else if (a == "--scratch" && lpszNext) {
            opt.scratch = lpszNext;
            ++i;
        } else {
            Usage();
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    if (opt.pages <= 0) opt.pages = std::max(1, opt.cycles / 2);
    if (opt.pages > opt.cycles) opt.pages = opt.cycles;
    // With pages repeated, the first round is the warm-up: a cache keyed by
    // what a page holds fills once, a leak grows again on every round.
    if (opt.warmup < 0 && opt.pages < opt.cycles) opt.warmup = opt.pages;
    if (opt.warmup < 0) opt.warmup = std::min(200, std::max(10, opt.cycles / 10));
    if (opt.warmup >= opt.cycles) opt.warmup = opt.cycles / 2;
    if (opt.dllPath.empty()) opt.dllPath = ExeDir() + "vrgpcext.dll";

    Workspace ws;
    if (opt.scratch.empty()) {
        char achTemp[MAX_PATH] = "";
        DWORD dwTemp = GetTempPathA(sizeof(achTemp), achTemp);
        if (dwTemp == 0 || dwTemp >= sizeof(achTemp)) {
            std::fprintf(stderr, "gpc_soak: no temporary folder\n");
            return 2;
        }
        opt.scratch = std::string(achTemp) + "gpc_soak_" + std::to_string(GetCurrentProcessId());
    }
    ws.root = opt.scratch;
    RemoveTree(ws.root);
    CreateDirectoryA(ws.root.c_str(), nullptr);
    ws.base = ws.root;
    for (int i = 0; i < kBaseDepth; ++i) {
        ws.base = Join(ws.base, "s");
        CreateDirectoryA(ws.base.c_str(), nullptr);
    }
    ws.bin = Join(ws.base, "bin");
    ws.host = Join(ws.base, "host");
    ws.temp = Join(ws.base, "temp");
    ws.server = Join(ws.base, "server");
    for (const std::string* p : {&ws.bin, &ws.host, &ws.temp, &ws.server}) CreateDirectoryA(p->c_str(), nullptr);
    ws.dll = Join(ws.bin, "vrgpcext.dll");
    if (!CopyFileA(opt.dllPath.c_str(), ws.dll.c_str(), FALSE)) {
        std::fprintf(stderr, "gpc_soak: cannot copy %s\n", opt.dllPath.c_str());
        return 2;
    }
    // Whatever the library puts in the temporary or the user's folder lands
    // in the scratch folder too.
    SetEnvironmentVariableA("TMP", ws.temp.c_str());
    SetEnvironmentVariableA("TEMP", ws.temp.c_str());
    SetEnvironmentVariableA("USERPROFILE", ws.temp.c_str());
    for (const char* lpszName : kPayloads) {
        std::string bytes = std::string("soak payload ") + lpszName + "\r\n";
        bytes.resize(512 + std::strlen(lpszName) * 97, '.');
        WriteWholeFile(Join(ws.server, lpszName), bytes);
    }
    {
        CBenchHost probe(ws.host, ws.server);
        if (!probe.IsReady()) {
            std::fprintf(stderr, "gpc_soak: cannot create windows (is there a display?)\n");
            return 2;
        }
    }
    RegistryBaseline registry;
    // A browser has the system libraries that the extension imports loaded
    // long before and long after it: they stay loaded here too, so that the
    // figures show what a load of the extension itself leaves behind.
    for (const char* lpszName : {"ole32.dll", "oleaut32.dll", "wininet.dll", "version.dll", "shell32.dll",
                                 "comdlg32.dll", "lz32.dll", "gdi32.dll", "advapi32.dll"})
        LoadLibraryA(lpszName);

    g_dwBudgetMs = opt.budgetMs;
    g_nSeed = opt.seed;
    SetUnhandledExceptionFilter(&OnCrash);
    // The watchdog is the soak's own; the library creates no threads.
    HANDLE hWatchdog = CreateThread(nullptr, 0, &Watchdog, nullptr, 0, nullptr);
    if (!hWatchdog) {
        std::fprintf(stderr, "gpc_soak: cannot start the watchdog\n");
        return 2;
    }

    std::printf("gpc_soak: %d cycles over %d pages, seed %u, warm-up %d, budget %lu ms, scratch %s\n", opt.cycles,
                opt.pages, opt.seed, opt.warmup, static_cast<unsigned long>(opt.budgetMs), ws.root.c_str());
    std::fflush(stdout);
    std::set<std::string> keepInBin = {"vrgpcext.dll"};
    Totals totals;
    Figures start = Measure();
    Figures warm = start;
    Figures last = start;
    std::set<ULONG_PTR> warmHandles;
    DWORD dwRunStart = GetTickCount();
    DWORD dwSliceStart = dwRunStart;
    int nSliceStart = 0;
    for (int c = 1; c <= opt.cycles; ++c) {
        g_dwCycleStart = static_cast<LONG>(GetTickCount());
        int nPage = opt.first + (c - 1) % opt.pages;
        g_nPage = nPage;
        g_nCycle = c;
        RunCycle(ws, opt, nPage, totals);
        // What a cycle leaves on disk and in the registry goes with it.
        RemoveTree(ws.host, true);
        RemoveTree(ws.temp, true);
        RemoveTree(ws.bin, true, keepInBin);
        registry.RemoveAdded();
        g_nCycle = -1;
        g_nPage = -1;
        if (c == opt.warmup) {
            warm = Measure();
            if (opt.listHandles) warmHandles = HandleValues();
        }
        if (c % opt.report == 0 || c == opt.cycles) {
            last = Measure();
            DWORD dwNow = GetTickCount();
            PrintFigures(c, last, start, c > nSliceStart ? double(dwNow - dwSliceStart) / (c - nSliceStart) : 0.0);
            dwSliceStart = dwNow;
            nSliceStart = c;
        }
    }
    last = Measure();

    int nLoads = opt.cycles - opt.warmup;
    long long dHandles = last.handles - warm.handles;
    long long dPrivate = static_cast<long long>(last.privateBytes) - static_cast<long long>(warm.privateBytes);
    long long dHeap = static_cast<long long>(last.heapBytes) - static_cast<long long>(warm.heapBytes);
    long long dGdi = static_cast<long long>(last.gdi) - static_cast<long long>(warm.gdi);
    long long dUser = static_cast<long long>(last.user) - static_cast<long long>(warm.user);
    // The private bytes are shown, not judged: under Wine every load of any
    // library, even one without code of its own, leaves tens of KB of the
    // loader's own there. The heaps hold what code left behind.
    bool bPass = dHandles <= 0 && dHeap <= static_cast<long long>(kHeapSlack) && dGdi <= 0 && dUser <= 0;
    double dSeconds = (GetTickCount() - dwRunStart) / 1000.0;
    std::printf("totals: %d cycles (loads) in %.0f s, no crash, no hang; after warm-up (%d): handles %+lld "
                "(%.2f/load), private %+lld KB (%.0f bytes/load), heap %+lld KB (%.0f bytes/load), gdi %+lld, user %+lld, windows %d; "
                "downloads %lld delivered, %lld failed, %lld held; %lld export calls; %lld trace lines: %s\n",
                opt.cycles, dSeconds, opt.warmup, dHandles, nLoads > 0 ? double(dHandles) / nLoads : 0.0,
                dPrivate / 1024, nLoads > 0 ? double(dPrivate) / nLoads : 0.0, dHeap / 1024,
                nLoads > 0 ? double(dHeap) / nLoads : 0.0, dGdi, dUser, last.windows,
                totals.delivered, totals.failed, totals.held, totals.exportCalls, totals.traceLines,
                bPass ? "PASS" : "FAIL (growth beyond the limits)");
    std::fflush(stdout);
    if (opt.listWindows) EnumWindows(&PrintOwnWindow, 0);
    if (opt.listHandles) PrintNewHandles(warmHandles);
    std::fflush(stdout);
    RemoveTree(ws.root);
    return bPass ? 0 : 1;
}
