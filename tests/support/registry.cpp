#include "registry.h"

#include "install/manifest_trust.h"

void DeleteRegTree(HKEY hRoot, const std::string& key)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, key.c_str(), 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) return;
    for (;;) {
        // Always the first subkey: each pass deletes the one it found.
        char achName[512];
        DWORD cch = sizeof(achName);
        if (RegEnumKeyExA(hKey, 0, achName, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteRegTree(hKey, achName);
    }
    RegCloseKey(hKey);
    RegDeleteKeyA(hRoot, key.c_str());
}

std::string ReadRegString(HKEY hRoot, const std::string& key, const std::string& name, bool* pbFound)
{
    if (pbFound) *pbFound = false;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return std::string();
    char achValue[1024] = "";
    DWORD cb = sizeof(achValue) - 1, dwType = 0;
    LONG l = RegQueryValueExA(hKey, name.c_str(), nullptr, &dwType, reinterpret_cast<BYTE*>(achValue), &cb);
    RegCloseKey(hKey);
    if (l != ERROR_SUCCESS) return std::string();
    achValue[cb] = '\0';
    if (pbFound) *pbFound = true;
    return achValue;
}

bool WriteRegString(HKEY hRoot, const std::string& key, const std::string& name, const std::string& value)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(hRoot, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        return false;
    LONG l = RegSetValueExA(hKey, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    RegCloseKey(hKey);
    return l == ERROR_SUCCESS;
}

void ForgetManifestSerials(const char* lpszProduct)
{
    for (HKEY hRoot : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        if (!lpszProduct) {
            RegDeleteKeyA(hRoot, GPC_MANIFEST_SERIALS_KEY);
            continue;
        }
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(hRoot, GPC_MANIFEST_SERIALS_KEY, 0, KEY_ALL_ACCESS, &hKey) == ERROR_SUCCESS) {
            RegDeleteValueA(hKey, lpszProduct);
            RegCloseKey(hKey);
        }
    }
}
