// The shape of the shipped executable, read from its file: what Windows loads and what it binds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "process_harness.h"

namespace {

std::vector<char> ReadFileBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct Image {
  std::vector<char> bytes;
  const IMAGE_NT_HEADERS64* headers = nullptr;
  std::vector<IMAGE_SECTION_HEADER> sections;

  // Where a relative virtual address lies in the file; 0 where no section holds it.
  size_t Offset(DWORD rva) const {
    for (const IMAGE_SECTION_HEADER& section : sections) {
      if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData) {
        return rva - section.VirtualAddress + section.PointerToRawData;
      }
    }
    return 0;
  }
  const char* At(DWORD rva) const { return bytes.data() + Offset(rva); }
  IMAGE_DATA_DIRECTORY Directory(int index) const {
    return headers->OptionalHeader.DataDirectory[index];
  }
};

// `headers` stays nullptr unless the file holds a DOS header and, where it points, an NT header
// whose section table lies inside the file.
Image LoadImage(const std::wstring& path) {
  Image image;
  image.bytes = ReadFileBytes(path);
  if (image.bytes.size() < sizeof(IMAGE_DOS_HEADER)) {
    return image;
  }
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.bytes.data());
  const size_t ntOffset = static_cast<size_t>(dos->e_lfanew);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0 ||
      ntOffset + sizeof(IMAGE_NT_HEADERS64) > image.bytes.size()) {
    return image;
  }
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.bytes.data() + ntOffset);
  const IMAGE_SECTION_HEADER* first = IMAGE_FIRST_SECTION(headers);
  const size_t sectionsEnd =
      static_cast<size_t>(reinterpret_cast<const char*>(first) - image.bytes.data()) +
      headers->FileHeader.NumberOfSections * sizeof(IMAGE_SECTION_HEADER);
  if (sectionsEnd > image.bytes.size()) {
    return image;
  }
  image.headers = headers;
  image.sections.assign(first, first + headers->FileHeader.NumberOfSections);
  return image;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
  return text;
}

// What each shipped image must be: its kind, the DLLs it binds and what it must take from them
// (a system without one refuses to load it), and what it exports.
struct ShippedImage {
  const char* name;
  WORD subsystem;
  bool dll;
  std::set<std::string> dlls;
  std::vector<const char*> needed;
  std::set<std::string> exports;
};

const ShippedImage kShippedImages[] = {
    {"tavelune-helper.exe",
     IMAGE_SUBSYSTEM_WINDOWS_CUI,
     false,
     {"KERNEL32.DLL", "USER32.DLL", "MSVCRT.DLL"},
     {"SetDefaultDllDirectories", "CreateToolhelp32Snapshot", "Process32FirstW", "Process32NextW",
      "OpenProcess", "QueryFullProcessImageNameW", "GetFullPathNameW", "GetLongPathNameW",
      "ProcessIdToSessionId", "GetProcessWindowStation", "GetUserObjectInformationW", "MessageBoxW",
      "fwprintf", "_wcsicmp", "wcscmp"},
     {}},
    {"tavelune-update.exe",
     IMAGE_SUBSYSTEM_WINDOWS_CUI,
     false,
     {"KERNEL32.DLL", "MSVCRT.DLL"},
     {"SetDefaultDllDirectories", "CreateProcessW", "CreateFileW", "FlushFileBuffers",
      "MoveFileExW", "SetConsoleCtrlHandler", "WideCharToMultiByte"},
     {}},
    // Built with the helper's options; the loader reads no subsystem from a DLL.
    {"tavelune-msi-check.dll",
     IMAGE_SUBSYSTEM_WINDOWS_CUI,
     true,
     {"KERNEL32.DLL", "MSI.DLL", "MSVCRT.DLL"},
     {"CreateToolhelp32Snapshot", "OpenProcess", "QueryFullProcessImageNameW", "GetLongPathNameW",
      "CreateThread", "HeapAlloc", "MsiGetPropertyW", "MsiGetActiveDatabase",
      "MsiDatabaseOpenViewW", "MsiViewFetch", "MsiProcessMessage", "_wcsicmp", "wcscmp"},
     {"TaveluneCheck", "TaveluneCheckInScript"}},
};

// A 64-bit image with ASLR and DEP, no resources and no link time; only DLLs on the system's
// KnownDLLs list, bound at load, so nothing beside it can be planted in their place and nothing
// is looked up later; and no export but its entry points.
TEST(ShippedImages, AreHardenedAndBindOnlyWhatTheyNeed) {
  for (const ShippedImage& row : kShippedImages) {
    SCOPED_TRACE(row.name);
    const std::wstring path =
        ExecutableDirectory() + L"\\" + std::wstring(row.name, row.name + strlen(row.name));
    const Image image = LoadImage(path);
    ASSERT_NE(image.headers, nullptr) << "no image to read at " << testing::PrintToString(path);
    ASSERT_EQ(image.headers->Signature, IMAGE_NT_SIGNATURE);

    EXPECT_EQ(image.headers->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(image.headers->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    EXPECT_EQ(image.headers->OptionalHeader.Subsystem, row.subsystem);
    EXPECT_EQ((image.headers->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0, row.dll);
    const WORD hardening = IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA |
                           IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE |
                           IMAGE_DLLCHARACTERISTICS_NX_COMPAT;
    EXPECT_EQ(hardening, 0x0160);
    EXPECT_EQ(image.headers->OptionalHeader.DllCharacteristics & hardening, hardening);
    EXPECT_GT(image.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size, 0u) << "no relocations";
    EXPECT_EQ(image.headers->FileHeader.TimeDateStamp, 0u) << "a link time makes builds differ";
    for (const IMAGE_SECTION_HEADER& section : image.sections) {
      EXPECT_STRNE(std::string(reinterpret_cast<const char*>(section.Name), 8).c_str(), ".rsrc");
    }
    EXPECT_EQ(image.Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE).Size, 0u);
    EXPECT_EQ(image.Directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT).Size, 0u);

    std::set<std::string> dlls;
    std::set<std::string> functions;
    DWORD importsRva = image.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress;
    ASSERT_NE(image.Offset(importsRva), 0u);
    for (const auto* import =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image.At(importsRva));
         import->Name != 0; ++import) {
      dlls.insert(Upper(image.At(import->Name)));
      DWORD thunks =
          import->OriginalFirstThunk != 0 ? import->OriginalFirstThunk : import->FirstThunk;
      for (const auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA64*>(image.At(thunks));
           thunk->u1.AddressOfData != 0; ++thunk) {
        ASSERT_FALSE(IMAGE_SNAP_BY_ORDINAL64(thunk->u1.Ordinal)) << "import by ordinal";
        const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
            image.At(static_cast<DWORD>(thunk->u1.AddressOfData)));
        functions.insert(reinterpret_cast<const char*>(byName->Name));
      }
    }
    EXPECT_EQ(dlls, row.dlls);
    for (const char* loader : {"LoadLibraryA", "LoadLibraryW", "LoadLibraryExA", "LoadLibraryExW",
                               "GetProcAddress", "LdrLoadDll", "LdrGetProcedureAddress"}) {
      EXPECT_EQ(functions.count(loader), 0u) << loader;
    }
    for (const char* needed : row.needed) {
      EXPECT_EQ(functions.count(needed), 1u) << needed;
    }

    std::set<std::string> exports;
    const IMAGE_DATA_DIRECTORY exportDirectory = image.Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (exportDirectory.Size != 0) {
      const auto* directory =
          reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(image.At(exportDirectory.VirtualAddress));
      const auto* names = reinterpret_cast<const DWORD*>(image.At(directory->AddressOfNames));
      for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
        exports.insert(image.At(names[i]));
      }
      EXPECT_EQ(directory->NumberOfFunctions, directory->NumberOfNames) << "unnamed exports";
    }
    EXPECT_EQ(exports, row.exports);
  }
}

}  // namespace
