// The manifest reader. Input: one byte for the output size (1..256), a line
// "section=key", then the manifest text. The same text is read through a
// memory stream (IniFindValue) and through a file (IniGetString, IniGetInt);
// the copy held in memory (CGpcIniText, from the text and from the file)
// must answer every lookup as the stream does, for that key and for names
// taken from the text's own lines.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "npvrgpc/npbase.h"

namespace {

const char GPC_UNTOUCHED = 0x5A;

std::string ScratchPath()
{
    static std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/gpc_fuzz_ini_" + std::to_string(getpid()) + ".ini";
    return path;
}

void CheckValue(const char* lpszValue, size_t nSize)
{
    FUZZ_CHECK(TerminatedWithin(lpszValue, nSize));
    size_t nLen = strlen(lpszValue);
    // A value lives on one line: the reader never hands out a line end.
    FUZZ_CHECK(memchr(lpszValue, '\n', nLen) == nullptr);
}

// One lookup through a memory stream over the text.
int StreamLookup(const std::string& text, const char* lpszSection, const char* lpszKey, char* lpszOut, int nOut)
{
    FILE* pStream = text.empty() ? fmemopen(nullptr, 1, "w+")
                                 : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (!pStream) return -1;
    int bFound = IniFindValue(pStream, lpszSection, lpszKey, lpszOut, nOut);
    fclose(pStream);
    return bFound;
}

// Names worth asking for: the given pair, and from the first lines of the
// text the part before each "=" (a key) and each line itself (a section
// name, and the text between its brackets).
void CollectNames(const std::string& text, const std::string& section, const std::string& key,
                  std::vector<std::string>* pSections, std::vector<std::string>* pKeys)
{
    pSections->push_back(section);
    pKeys->push_back(key);
    size_t nStart = 0;
    for (int nLine = 0; nLine < 12 && nStart < text.size(); ++nLine) {
        size_t nEnd = text.find('\n', nStart);
        if (nEnd == std::string::npos) nEnd = text.size();
        std::string line = text.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        line = line.substr(0, line.find('\0'));
        size_t nEquals = line.find('=');
        if (nEquals != std::string::npos) pKeys->push_back(line.substr(0, nEquals));
        size_t nOpen = line.find('[');
        size_t nClose = nOpen == std::string::npos ? std::string::npos : line.find(']', nOpen);
        if (nClose != std::string::npos) pSections->push_back(line.substr(nOpen + 1, nClose - nOpen - 1));
    }
}

// The held copy against the stream, lookup by lookup, byte for byte.
void CheckHeldCopy(CGpcIniText& held, const std::string& text, const std::vector<std::string>& sections,
                   const std::vector<std::string>& keys, int nOut)
{
    for (const std::string& section : sections) {
        for (const std::string& key : keys) {
            char achStream[256 + 16];
            char achHeld[256 + 16];
            memset(achStream, GPC_UNTOUCHED, sizeof(achStream));
            memset(achHeld, GPC_UNTOUCHED, sizeof(achHeld));
            int bStream = StreamLookup(text, section.c_str(), key.c_str(), achStream, nOut);
            if (bStream < 0) return;
            int bHeld = held.FindValue(section.c_str(), key.c_str(), achHeld, nOut);
            FUZZ_CHECK(bStream == bHeld);
            FUZZ_CHECK(memcmp(achStream, achHeld, sizeof(achHeld)) == 0);
            FUZZ_CHECK(held.GetInt(section.c_str(), key.c_str(), -7) ==
                       IniGetInt(section.c_str(), key.c_str(), -7, ScratchPath().c_str()));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1) return 0;
    int nOut = 1 + pData[0] % 256;
    std::string rest(reinterpret_cast<const char*>(pData + 1), nSize - 1);
    size_t nLineEnd = rest.find('\n');
    if (nLineEnd == std::string::npos) return 0;
    std::string header = rest.substr(0, nLineEnd);
    std::string text = rest.substr(nLineEnd + 1);
    size_t nEquals = header.find('=');
    if (nEquals == std::string::npos) return 0;
    std::string section = header.substr(0, nEquals);
    std::string key = header.substr(nEquals + 1);
    if (section.find('\0') != std::string::npos || key.find('\0') != std::string::npos) return 0;

    // Through a memory stream, with guard bytes after the output.
    {
        FILE* pStream = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
        if (text.empty()) pStream = fmemopen(nullptr, 1, "w+");
        if (!pStream) return 0;
        char achOut[256 + 16];
        memset(achOut, GPC_UNTOUCHED, sizeof(achOut));
        int bFound = IniFindValue(pStream, section.c_str(), key.c_str(), achOut, nOut);
        fclose(pStream);
        for (size_t i = static_cast<size_t>(nOut); i < sizeof(achOut); ++i) FUZZ_CHECK(achOut[i] == GPC_UNTOUCHED);
        if (bFound) {
            CheckValue(achOut, static_cast<size_t>(nOut));
        } else {
            // Not found leaves the caller's buffer as it was.
            for (int i = 0; i < nOut; ++i) FUZZ_CHECK(achOut[i] == GPC_UNTOUCHED);
        }
    }

    // Through a file, as the extension reads manifests.
    FILE* pFile = fopen(ScratchPath().c_str(), "wb");
    if (!pFile) return 0;
    fwrite(text.data(), 1, text.size(), pFile);
    fclose(pFile);

    char achString[256 + 16];
    memset(achString, GPC_UNTOUCHED, sizeof(achString));
    int nLen = IniGetString(section.c_str(), key.c_str(), "dflt", achString, nOut, ScratchPath().c_str());
    for (size_t i = static_cast<size_t>(nOut); i < sizeof(achString); ++i) FUZZ_CHECK(achString[i] == GPC_UNTOUCHED);
    CheckValue(achString, static_cast<size_t>(nOut));
    FUZZ_CHECK(nLen == static_cast<int>(strlen(achString)));
    FUZZ_CHECK(nLen < nOut);

    // A count that is not there (or not a number) is the default, whatever
    // default is asked for.
    int nA = IniGetInt(section.c_str(), key.c_str(), -7, ScratchPath().c_str());
    int nB = IniGetInt(section.c_str(), key.c_str(), 11, ScratchPath().c_str());
    FUZZ_CHECK(nA == nB || (nA == -7 && nB == 11));

    // The copy held in memory, taken from the text and from the file.
    std::vector<std::string> sections;
    std::vector<std::string> keys;
    CollectNames(text, section, key, &sections, &keys);
    CGpcIniText fromText(text.data(), text.size());
    FUZZ_CHECK(fromText.IsHeld());
    CheckHeldCopy(fromText, text, sections, keys, nOut);
    CGpcIniText fromFile(ScratchPath().c_str());
    FUZZ_CHECK(fromFile.IsHeld());
    CheckHeldCopy(fromFile, text, sections, keys, nOut);

    char achHeld[256 + 16];
    memset(achHeld, GPC_UNTOUCHED, sizeof(achHeld));
    FUZZ_CHECK(fromFile.GetString(section.c_str(), key.c_str(), "dflt", achHeld, nOut) == nLen);
    FUZZ_CHECK(memcmp(achHeld, achString, sizeof(achHeld)) == 0);
    return 0;
}
