// The library as it ships: small, without symbols, and linked to the debug
// file beside it that crash analysis needs. The other boundary tests load this
// same file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "trace_capture.h"

namespace {

const char GPC_LIBRARY[] = "vrgpcext.dll";
const char GPC_DEBUG_FILE[] = "vrgpcext.dll.debug";
const size_t GPC_MAX_LIBRARY_BYTES = 600 * 1024;

// The checksum a .gnu_debuglink section carries (CRC-32, as zlib computes it).
DWORD Crc32(const std::string& bytes)
{
    DWORD crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

struct PeView {
    const IMAGE_FILE_HEADER* file = nullptr;
    const IMAGE_SECTION_HEADER* sections = nullptr;
};

bool ViewPe(const std::string& image, PeView& view)
{
    if (image.size() < sizeof(IMAGE_DOS_HEADER)) return false;
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    size_t ntOffset = static_cast<size_t>(dos->e_lfanew);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || ntOffset + sizeof(IMAGE_NT_HEADERS32) > image.size()) return false;
    const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + ntOffset);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return false;
    size_t sectionOffset = ntOffset + 4 + sizeof(IMAGE_FILE_HEADER) + nt->FileHeader.SizeOfOptionalHeader;
    if (sectionOffset + nt->FileHeader.NumberOfSections * sizeof(IMAGE_SECTION_HEADER) > image.size()) return false;
    view.file = &nt->FileHeader;
    view.sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(image.data() + sectionOffset);
    return true;
}

// The raw data of the section that starts with the debug file's name, or "".
std::string DebugLinkSection(const std::string& image, const PeView& view)
{
    for (WORD i = 0; i < view.file->NumberOfSections; ++i) {
        const IMAGE_SECTION_HEADER& s = view.sections[i];
        size_t nameBytes = sizeof(GPC_DEBUG_FILE);  // with its terminator
        if (s.PointerToRawData + s.SizeOfRawData > image.size() || s.SizeOfRawData < nameBytes + 4) continue;
        const char* data = image.data() + s.PointerToRawData;
        if (std::memcmp(data, GPC_DEBUG_FILE, nameBytes) == 0) return std::string(data, s.SizeOfRawData);
    }
    return "";
}

TEST(ShippedLibrary, IsStrippedSmallAndLinkedToItsDebugFileBeside)
{
    std::string image = ReadFileBytes(TestBinDir() + GPC_LIBRARY);
    ASSERT_FALSE(image.empty());
    EXPECT_LT(image.size(), GPC_MAX_LIBRARY_BYTES);

    PeView view;
    ASSERT_TRUE(ViewPe(image, view));
    // (The string table of long section names may stay; the symbols may not.)
    EXPECT_EQ(0u, view.file->NumberOfSymbols) << "the shipped library still carries its symbol table";

    std::string debug = ReadFileBytes(TestBinDir() + GPC_DEBUG_FILE);
    ASSERT_FALSE(debug.empty()) << GPC_DEBUG_FILE << " is missing beside the library";
    // The symbols went into the debug file, not away.
    PeView debugView;
    ASSERT_TRUE(ViewPe(debug, debugView));
    EXPECT_GT(debugView.file->NumberOfSymbols, 0u);

    // A debugger trusts the debug file only when its checksum matches the
    // one recorded in the library: a stale debug file would be refused.
    std::string link = DebugLinkSection(image, view);
    ASSERT_FALSE(link.empty()) << "no .gnu_debuglink naming " << GPC_DEBUG_FILE;
    size_t crcOffset = (sizeof(GPC_DEBUG_FILE) + 3) & ~static_cast<size_t>(3);
    ASSERT_LE(crcOffset + 4, link.size());
    DWORD recorded = 0;
    std::memcpy(&recorded, link.data() + crcOffset, 4);
    EXPECT_EQ(Crc32(debug), recorded);
}

}  // namespace
