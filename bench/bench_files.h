// Files, folders and registry trees of the benchmark's and the soak's
// scratch space: small helpers both programs share.
#pragma once

#include <windows.h>

#include <set>
#include <string>

// The folder of the running program, with its trailing backslash.
std::string ExeDir();
std::string Join(const std::string& dir, const std::string& name);
bool WriteWholeFile(const std::string& path, const std::string& bytes);
// Removes what lies below dir; with bKeepDir the folder itself stays, and so
// do the names in keep.
void RemoveTree(const std::string& dir, bool bKeepDir = false, const std::set<std::string>& keep = {});
// Deletes a registry key with everything below it.
void DeleteRegTree(HKEY hRoot, const std::string& path);
