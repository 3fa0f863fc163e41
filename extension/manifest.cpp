// Manifest selection, the product directory, update settings and parsing.
#include "extension/extension.h"

int CVRGpcExtension::BuildManifestUrl(int, char* lpszUrl, int nSize)
{
    if (lpszUrl && nSize > 0) lpszUrl[0] = '\0';
    return 0;
}
void WINAPI CVRGpcExtension::OnManifestDownload(void*, void*, DWORD, ULONG_PTR) {}
void CVRGpcExtension::OnManifestStatus(DWORD, ULONG_PTR) {}
void CVRGpcExtension::PrepareInstallation(const char*) {}
void CVRGpcExtension::GetProductDir(char* lpszDir, int)
{
    if (lpszDir) lpszDir[0] = '\0';
}
void CVRGpcExtension::EnableUserDirAsRoot(int bValue) { m_bUserDirAsRoot = bValue; }
int CVRGpcExtension::CheckUpdateStatus(int) { return 0; }
void CVRGpcExtension::ParseInitFile(const char*, int) {}
