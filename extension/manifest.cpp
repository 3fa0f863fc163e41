// Manifest selection, the product directory, update settings and parsing.
#include "extension/extension.h"

#include <cstring>

#include "extension/param_lists.h"
#include "feedback/messages.h"
#include "feedback/trace.h"
#include "npvrgpc/handles.h"
#include "npvrgpc/module_state.h"
#include "npvrgpc/text_seam.h"

namespace {

// "GpcUrlRoot" must stay below this length, so that the root, the manifest
// name and the random suffix fit the url buffers.
enum { GPC_MAX_URL_ROOT = 950 };
// "GpcIniFileName" must stay below this length; longer names are ignored.
enum { GPC_MAX_INI_NAME = 64 };
// Registry setting values are read into buffers of this size.
enum { GPC_SETTING_BUFFER = 256 };

const char* const s_aManifestNames[] = {
    nullptr,         // 0: unknown platform
    "gpc95.ini",     // 1: Windows 9x, minor version 0
    "gpc95.ini",     // 2: Windows 9x, later minor versions
    "gpcnt.ini",     // 3: NT 4 and older
    "gpc2k.ini",     // 4: NT 5 and later
    "gpcmac.ini",    // 5
    "gpcsun86.ini",  // 6
    "gpcsunsp.ini",  // 7
};

const char* ManifestNameFor(int nOsClass)
{
    if (nOsClass < 0 || nOsClass >= static_cast<int>(sizeof(s_aManifestNames) / sizeof(s_aManifestNames[0]))) {
        return nullptr;
    }
    return s_aManifestNames[nOsClass];
}

// Position just after the last path separator of a text ("\" that is not
// the trail byte of a double-byte character, "/" or ":"), or the text
// itself when it has none.
const char* AfterLastSeparator(const char* lpszPath)
{
    const char* pSeparator = GpcFindLastSeparator(lpszPath, "\\/:");
    return pSeparator ? pSeparator + 1 : lpszPath;
}

// Reads a string setting into a zeroed 256-byte buffer, offering 255 bytes
// so that the text always ends inside the buffer.
bool ReadSetting(CGpcRegKey& key, const char* lpszName, char* lpszValue, DWORD* pdwType = nullptr)
{
    memset(lpszValue, 0, GPC_SETTING_BUFFER);
    DWORD dwSize = GPC_SETTING_BUFFER - 1;
    return key.QueryValue(lpszValue, lpszName, &dwSize, pdwType) == ERROR_SUCCESS;
}

// The key that answers "autoupdate", left open in *pKey with the value in
// lpszValue; the other settings are read from the same key. On 64-bit
// Windows an administrator's tools (reg.exe, PowerShell, policy
// preferences) write the machine's 64-bit view, which this 32-bit process
// does not see by default: that view is asked first, then the 32-bit one.
// The user's own key comes last. Traces which one answered.
bool OpenUpdateSettings(const char* lpszKey, CGpcRegKey* pKey, char* lpszValue)
{
    struct GpcSettingSource {
        HKEY hHive;
        REGSAM samView;
        const char* lpszName;
    };
    static const GpcSettingSource s_aWow64[] = {
        {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "HKEY_LOCAL_MACHINE (64-bit view)"},
        {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "HKEY_LOCAL_MACHINE (32-bit view)"},
        {HKEY_CURRENT_USER, 0, "HKEY_CURRENT_USER"},
    };
    static const GpcSettingSource s_aNative[] = {
        {HKEY_LOCAL_MACHINE, 0, "HKEY_LOCAL_MACHINE"},
        {HKEY_CURRENT_USER, 0, "HKEY_CURRENT_USER"},
    };
    const bool bWow64 = IsWow64() != 0;
    const GpcSettingSource* pSources = bWow64 ? s_aWow64 : s_aNative;
    const size_t nSources = bWow64 ? sizeof(s_aWow64) / sizeof(s_aWow64[0]) : sizeof(s_aNative) / sizeof(s_aNative[0]);
    for (size_t i = 0; i < nSources; ++i) {
        pKey->Close();
        if (pKey->Open(pSources[i].hHive, lpszKey, KEY_READ | pSources[i].samView) == ERROR_SUCCESS &&
            ReadSetting(*pKey, "autoupdate", lpszValue)) {
            TraceMessage("Update settings from %s", pSources[i].lpszName);
            return true;
        }
    }
    pKey->Close();
    TraceMessage("Update settings: none");
    return false;
}

// Environment value into a path buffer; false when unset, empty or too long.
bool GetEnvPath(const char* lpszName, char* lpszDir)
{
    DWORD dwLen = GetEnvironmentVariableA(lpszName, lpszDir, GPC_MAX_PATH);
    if (dwLen == 0 || dwLen >= GPC_MAX_PATH) {
        lpszDir[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace

int CVRGpcExtension::BuildManifestUrl(int nOsClass, char* lpszUrl, int nSize)
{
    if (!lpszUrl || nSize <= 0) return 0;
    lpszUrl[0] = '\0';

    const char* lpszRoot = GetParam("GpcUrlRoot");
    if (!lpszRoot || strlen(lpszRoot) >= GPC_MAX_URL_ROOT) {
        ShowErrorMessage(this, GPC_MSG_BAD_URL_ROOT);
        m_bFailed = 1;
        return 0;
    }
    GpcCopyString(lpszUrl, nSize, lpszRoot);
    size_t nLen = strlen(lpszUrl);
    if (nLen == 0 || lpszUrl[nLen - 1] != '/') GpcAppendString(lpszUrl, nSize, "/");

    // The name is also the name of the copy beside the library: only a
    // plain ".ini" name is taken, never a path, a device or another kind of
    // file.
    const char* lpszIniName = GetParam("GpcIniFileName");
    if (lpszIniName) {
        if (strlen(lpszIniName) < GPC_MAX_INI_NAME && GpcIsPlainManifestName(lpszIniName)) {
            GpcAppendString(lpszUrl, nSize, lpszIniName);
            return 1;
        }
        TraceMessage("Error: Invalid value of the parameter 'GpcIniFileName', use default name");
    }

    const char* lpszName = ManifestNameFor(nOsClass);
    if (!lpszName) {
        ShowErrorMessage(this, GPC_MSG_OS_NOT_SUPPORTED, GetMessageTitle());
        m_bFailed = 1;
        return 0;
    }
    GpcAppendString(lpszUrl, nSize, lpszName);
    return 1;
}

void WINAPI CVRGpcExtension::OnManifestDownload(void* /*pIgnored*/, void* pContext, DWORD dwStatus, ULONG_PTR value)
{
    CVRGpcExtension* pExtension =
        static_cast<CVRGpcExtension*>(CGpcLiveContext::Find(pContext, GPC_LIVE_EXTENSION));
    if (!pExtension) {
        TraceMessage("vrgpcext: notice of a download that is no longer awaited ignored");
        return;
    }
    try {
        // One completion per download: a second one for the same request
        // would prepare the installation twice.
        if (dwStatus == 0) pExtension->m_ManifestContext.Withdraw();
        pExtension->OnManifestStatus(dwStatus, value);
    } catch (...) {
        // Nothing may unwind into the host's download code.
        TraceMessage("vrgpcext: manifest callback ended by an unexpected exception");
    }
}

void CVRGpcExtension::OnManifestStatus(DWORD dwStatus, ULONG_PTR value)
{
    if (dwStatus != 0) return;  // progress of the manifest itself is not shown
    const char* lpszPath = reinterpret_cast<const char*>(value);
    if (!lpszPath) {
        ShowErrorMessage(this, GPC_MSG_NO_MANIFEST);
        m_bFailed = 1;
        return;
    }
    // A refused manifest is neither read nor kept: nothing it lists is
    // downloaded, installed or loaded. An accepted one is held shut to
    // writers until it has been read and copied.
    // The table of a manifest that fails its check is not trusted, nor is
    // the one accepted before: the start-up's manifest has changed.
    m_bManifestTrusted = 0;
    CGpcHandle hHeld;
    if (!CheckManifestTrust(lpszPath, m_achManifestName, &hHeld, &m_SignedManifest)) {
        m_bFailed = 1;
        return;
    }
    if (m_TrustKeys.IsConfigured()) m_bManifestTrusted = 1;
    PrepareInstallation(lpszPath);
    KeepManifestCopies(lpszPath);
}

int CVRGpcExtension::CheckManifestTrust(const char* lpszIniFile, const char* lpszAskedName, CGpcHandle* phHold,
                                        CVRGpcSignedManifest* pManifest)
{
    if (!m_TrustKeys.IsConfigured()) return 1;
    int nResult = GpcCheckManifestFile(lpszIniFile, m_TrustKeys, pManifest, phHold);
    if (nResult == GPC_TRUST_OK) nResult = pManifest->CheckAskedName(lpszAskedName);
    if (nResult != GPC_TRUST_OK) {
        if (phHold) phHold->Reset();
        RefuseManifest(lpszIniFile, nResult);
        return 0;
    }
    // Recorded only now that the manifest is acted on: an older one is
    // refused from here on.
    if (!GpcRecordAcceptedSerial(pManifest->GetProduct(), pManifest->GetSerial())) {
        TraceMessage("vrgpcext: serial %lu of %s could not be recorded", pManifest->GetSerial(),
                     pManifest->GetProduct());
    }
    TraceMessage("vrgpcext: manifest signature verified: product %s, serial %lu, %d file hash(es)",
                 pManifest->GetProduct(), pManifest->GetSerial(), pManifest->GetHashCount());
    return 1;
}

void CVRGpcExtension::RefuseManifest(const char* lpszIniFile, int nResult)
{
    TraceMessage("vrgpcext: manifest %s refused: %s", Printable(lpszIniFile), GpcTrustResultName(nResult));
    bool bTold = nResult == m_nRefusedReason && m_achRefusedManifest[0] &&
                 lstrcmpiA(m_achRefusedManifest, lpszIniFile) == 0;
    if (bTold) return;
    ShowErrorMessage(this, GPC_MSG_MANIFEST_REFUSED, GpcTrustResultName(nResult));
    // A name too long to keep is simply told every time.
    if (strlen(lpszIniFile) < sizeof(m_achRefusedManifest)) {
        GpcCopyString(m_achRefusedManifest, sizeof(m_achRefusedManifest), lpszIniFile);
    } else {
        m_achRefusedManifest[0] = '\0';
    }
    m_nRefusedReason = nResult;
}

void CVRGpcExtension::KeepManifestCopies(const char* lpszDownloaded)
{
    char achUrl[1024];
    if (BuildManifestUrl(GetOsClass(), achUrl, sizeof(achUrl))) {
        // Only the last name of the url is used, never a path the page
        // smuggled into "GpcIniFileName": the copy must stay beside us.
        const char* lpszName = AfterLastSeparator(achUrl);
        if (*lpszName) {
            char achCopy[GPC_MAX_PATH];
            GetGpcModulePath(achCopy, sizeof(achCopy));
            char* lpszDirEnd = const_cast<char*>(AfterLastSeparator(achCopy));
            *lpszDirEnd = '\0';
            if (achCopy[0] && GpcAppendString(achCopy, sizeof(achCopy), lpszName)) {
                CopyFileA(lpszDownloaded, achCopy, FALSE);
            }
        }
    }

    // The temporary copy is the default manifest of the on-demand requests.
    m_hCurIniFile.Reset();
    if (m_achCurIniFile[0] && m_bOwnCurIniFile) DeleteFileA(m_achCurIniFile);
    m_achCurIniFile[0] = '\0';
    m_bOwnCurIniFile = 0;
    char achTempDir[GPC_MAX_PATH];
    DWORD dwLen = GetTempPathA(sizeof(achTempDir), achTempDir);
    if (dwLen == 0 || dwLen >= sizeof(achTempDir)) return;
    if (!GetTempFileNameA(achTempDir, "VRK", 0, m_achCurIniFile)) {
        m_achCurIniFile[0] = '\0';
        return;
    }
    m_bOwnCurIniFile = 1;
    CopyFileA(lpszDownloaded, m_achCurIniFile, FALSE);
    m_hCurIniFile.Reset(CreateFileA(m_achCurIniFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void CVRGpcExtension::PrepareInstallation(const char* lpszIniFile)
{
    if (!m_bStdDownload && !GetParam("GpcComponentName")) {
        ShowErrorMessage(this, GPC_MSG_NO_COMPONENT_NAME);
        m_bFailed = 1;
        return;
    }
    const char* lpszRoot = GetParam("GpcUrlRoot");
    if (!lpszRoot || strlen(lpszRoot) >= GPC_MAX_URL_ROOT) {
        ShowErrorMessage(this, GPC_MSG_BAD_URL_ROOT);
        m_bFailed = 1;
        return;
    }

    m_InstallationMgr.UrlRoot.Assign(lpszRoot);
    char achDir[GPC_MAX_PATH];
    GetProductDir(achDir, 0);
    m_InstallationMgr.DefaultInstallDir.Assign(achDir);

    if (m_InstallationMgr.LogMgr) {
        char achTag[GPC_MAX_PATH];
        if (HostLink().HasPluginMarker()) {
            GetHostProductVersion(achTag, sizeof(achTag));
        } else {
            GpcCopyString(achTag, sizeof(achTag), "Internet Explorer");
        }
        m_InstallationMgr.LogMgr->OpenLogRoot(achDir, achTag, GetParam("GpcProductRoot"),
                                              GetParam("GpcProductVersion"));
    }

    if (!m_bStdDownload) ParseInitFile(lpszIniFile, m_bSuppressInstallation);
    m_bReady = 1;
}

void CVRGpcExtension::GetProductDir(char* lpszDir, int bRootOnly)
{
    if (!lpszDir) return;
    lpszDir[0] = '\0';

    if (m_bUserDirAsRoot) {
        if (!GetEnvPath("USERPROFILE", lpszDir) && !GetEnvPath("TEMP", lpszDir) && !GetEnvPath("TMP", lpszDir)) {
            GpcCopyString(lpszDir, GPC_MAX_PATH, "\\");
        }
    } else if (HostLink().CanGetDirectory()) {
        HostLink().GetDirectory(lpszDir, GPC_MAX_PATH);
        lpszDir[GPC_MAX_PATH - 1] = '\0';  // the host's text may fill the buffer
    }
    if (bRootOnly) return;

    const char* const apszParts[] = {GetParam("GpcProductRoot"), GetParam("GpcProductVersion")};
    for (const char* lpszPart : apszParts) {
        if (!lpszPart) continue;
        // The start-up refuses such a page; should one come this far, no
        // product folder is known rather than one outside the host's.
        if (!GpcIsContainedPathPart(lpszPart)) {
            TraceMessage("VRGPCEXT::GetProductDir, invalid product parameter: %s", lpszPart);
            lpszDir[0] = '\0';
            return;
        }
        if (!AppendPathComponent(lpszDir, GPC_MAX_PATH, lpszPart)) {
            TraceMessage("VRGPCEXT::GetProductDir, path too long: %s", lpszPart);
            continue;
        }
        CreateDirectoryPath(lpszDir);
    }
}

void CVRGpcExtension::EnableUserDirAsRoot(int bValue)
{
    TraceMessage("VRGPCEXT::EnableUserDirAsRoot,bValue = %d", bValue);
    m_bUserDirAsRoot = bValue;
    if (bValue) {
        char achProp[32];
        GpcFormat(achProp, sizeof(achProp), "UH%lu", static_cast<unsigned long>(GetCurrentProcessId()));
        SetPropA(GetDesktopWindow(), achProp, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GPC_USER_DIR_MARK)));
    }
}

int CVRGpcExtension::CheckUpdateStatus(int bUpdate)
{
    const char* lpszRoot = GetParam("GpcProductRoot");
    const char* lpszVersion = GetParam("GpcProductVersion");
    char achKey[GPC_MAX_PATH * 2];
    if (m_bStdDownload && lpszRoot && *lpszRoot) {
        GpcFormat(achKey, sizeof(achKey), "Software\\%s\\", Printable(lpszVersion));
    } else {
        GpcFormat(achKey, sizeof(achKey), "Software\\%s\\%s\\", Printable(lpszRoot), Printable(lpszVersion));
    }
    TraceMessage("CheckUpdateStatus:%s,%s,%s", Printable(lpszRoot), Printable(lpszVersion), achKey);

    // The registry wants the key without its closing separator.
    char achOpen[sizeof(achKey)];
    GpcCopyString(achOpen, sizeof(achOpen), achKey);
    size_t nLen = strlen(achOpen);
    if (nLen && achOpen[nLen - 1] == '\\') achOpen[nLen - 1] = '\0';

    char achValue[GPC_SETTING_BUFFER];
    CGpcRegKey key;
    bool bFound = OpenUpdateSettings(achOpen, &key, achValue);
    if (!bFound || achValue[0] != '0') return 0;
    if (!bUpdate) return 1;

    if (!ReadSetting(key, "alwaysconnect", achValue) || achValue[0] == '1') return 1;

    DWORD dwType = REG_NONE;
    if (ReadSetting(key, "connectmsg", achValue, &dwType) && (dwType == REG_SZ || dwType == REG_EXPAND_SZ)) {
        ShowErrorMessageText(this, achValue);
    } else {
        ShowErrorMessageText(this, "Meeting halt!!");
    }
    m_bFailed = 1;
    return 2;
}

void CVRGpcExtension::ParseInitFile(const char* lpszIniFile, int bSuppress)
{
    m_InstallationMgr.BeginPass();
    if (!lpszIniFile) {
        if (const char* lpszDependency = GetParam("GpcDependency")) m_InstallationMgr.ParseItemList(lpszDependency);
    } else {
        const char* lpszSection = GetParam("GpcActiveIniSection");
        if (!lpszSection) lpszSection = "Corvo";
        TraceMessage("vrgpcext: regular sec %s", lpszSection);
        // Read once for the whole list, and only for this pass.
        CGpcIniText manifest(lpszIniFile);
        int nCount = manifest.GetInt(lpszSection, "Count", 0);
        if (nCount <= 0) {
            TraceMessage("Invalid INI file format(0 files in Ini)");
        } else {
            TraceMessage("There are %d files in the file list", nCount);
            ParseSectionEntries(manifest, lpszSection, nCount, nullptr);
        }
    }

    // Before anything is installed: what an interrupted run left goes.
    m_InstallationMgr.RemoveLeftoverTempFiles(m_InstallationMgr.Items, 0,
                                              m_bOwnCurIniFile ? m_achCurIniFile : nullptr);

    int nSetting = 0;
    if (!m_bUserDirAsRoot) {
        int bUpdate = m_InstallationMgr.HasAnyUpdate();
        nSetting = CheckUpdateStatus(bUpdate);
        TraceMessage("Update setting: %d,%d", bUpdate, nSetting);
        if (bUpdate && nSetting == 0) {
            // Installing needs a product directory we can write to; a locked
            // one moves the installation below the user's profile.
            TraceMessage("VRGPCEXT::ParseInitFile,bUpdate = %d", bUpdate);
            char achDir[GPC_MAX_PATH];
            GetProductDir(achDir, 0);
            char achTestFile[GPC_MAX_PATH];
            achTestFile[0] = '\0';
            UINT nUnique = GetTempFileNameA(achDir, "WT", 0, achTestFile);
            if (!nUnique) achTestFile[0] = '\0';
            TraceMessage("VRGPCEXT::achTestFile : %s", achTestFile);
            bool bWritable = false;
            if (nUnique) {
                CGpcFile file(fopen(achTestFile, "wb"));
                bWritable = file.IsValid();
                file.Reset();
                DeleteFileA(achTestFile);  // also when only the name could be made
            }
            if (!bWritable) {
                EnableUserDirAsRoot(1);
                GetProductDir(achDir, 0);
                m_InstallationMgr.DefaultInstallDir.Assign(achDir);
                TraceMessage("Change default installation directory to %s", achDir);
            }
        }
    }

    if (!bSuppress && nSetting == 0) {
        m_InstallationMgr.ScheduleDownloads();
    } else {
        m_InstallationMgr.MarkAllItemsDone();
    }
}

void CVRGpcExtension::ParseSectionEntries(CGpcIniText& manifest, const char* lpszSection, int nCount,
                                          const char* lpszFileName)
{
    char achKey[32];
    char achItem[GPC_INI_LINE];
    for (int i = 1; i <= nCount; ++i) {
        GpcFormat(achKey, sizeof(achKey), "File%d", i);
        manifest.GetString(lpszSection, achKey, "", achItem, sizeof(achItem));
        if (strlen(achItem) < 2) {
            TraceMessage("Invalid INI file format");
            break;
        }
        m_InstallationMgr.ParseItem(achItem);
        if (lpszFileName) {
            // Looking for one file: keep it alone, or nothing.
            if (m_InstallationMgr.FindItem(lpszFileName)) break;
            m_InstallationMgr.ClearItems();
        }
    }
}
