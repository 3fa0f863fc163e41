// Registry helpers for tests. Under Wine the registry is real and private to
// the test prefix, so tests give keys names of their own and remove them.
#pragma once

#include <windows.h>

#include <string>

// Deletes a key with everything below it; nothing happens when it is absent.
void DeleteRegTree(HKEY hRoot, const std::string& key);
// The text of a string value, or "" when the key or the value is absent
// (*pbFound tells an empty value from a missing one).
std::string ReadRegString(HKEY hRoot, const std::string& key, const std::string& name, bool* pbFound = nullptr);
// Creates the key if needed and sets a string value; false when it could not.
bool WriteRegString(HKEY hRoot, const std::string& key, const std::string& name, const std::string& value);
// Forgets the manifest serials accepted so far, per user and per machine:
// one product's, or every product's when lpszProduct is null.
void ForgetManifestSerials(const char* lpszProduct = nullptr);
