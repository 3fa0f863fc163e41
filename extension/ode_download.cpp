// Standard and on-demand downloads, and the per-file completion handlers.
#include "extension/extension.h"

int CVRGpcExtension::StdDownloadExt(const char*, const char* lpszSectionName, const char*, GpcOdeCallback, void*)
{
    return lpszSectionName ? 1 : 0;
}
int CVRGpcExtension::OdeGetSectionIntegrityExt(const char*, const char*, const char*) { return 0; }
void CVRGpcExtension::DoItemInstall(GpcInstallItem*, DWORD, ULONG_PTR) {}
void CVRGpcExtension::DoStdDownloadItem(GpcInstallItem*, DWORD, ULONG_PTR) {}
void WINAPI CVRGpcExtension::OnItemDownload(void*, void*, DWORD, ULONG_PTR) {}
void WINAPI CVRGpcExtension::OnStdItemDownload(void*, void*, DWORD, ULONG_PTR) {}
