#include "remover/uninstall_list.h"

#include <windows.h>

#include "remover/uninstall_rules.h"

namespace {

// Both profile readers say that the buffer was too small only by the count they return: a
// section that filled it comes back as size - 2, a value as size - 1. Grow until it fits.
constexpr DWORD kFirstSection = 32000, kFirstValue = 500, kLargest = 16u << 20;

}  // namespace

std::vector<CString> ReadListSection(const char* section, const char* path) {
    for (DWORD size = kFirstSection; size <= kLargest; size *= 4) {
        std::vector<char> buf(size);
        DWORD n = GetPrivateProfileSectionA(section, buf.data(), size, path);
        if (n + 2 < size) return remover::SplitSection(buf.data(), n);
    }
    return {};
}

CString ReadListValue(const char* section, const char* key, const char* path) {
    for (DWORD size = kFirstValue; size <= kLargest; size *= 4) {
        std::vector<char> buf(size);
        DWORD n = GetPrivateProfileStringA(section, key, remover::kNotFound, buf.data(), size, path);
        if (n + 1 < size) return CString(buf.data(), static_cast<int>(n));
    }
    return remover::kNotFound;
}

void UninstallList::Load(const CString& list_path) {
    char full[MAX_PATH * 4];
    DWORD n = GetFullPathNameA(list_path, sizeof(full), full, nullptr);
    path = n > 0 && n < sizeof(full) ? CString(full) : list_path;

    file_version = ReadListValue("Version", "FileVersion", path);
    product_name = ReadListValue("Version", "ProductName", path);
    folder_name = ReadListValue("Version", "FolderName", path);
    destination_dir = ReadListValue("Version", "DestinationDir", path);
    uninstall_message = ReadListValue("Version", "UninstallMessage", path);

    char names[64];
    has_sections = GetPrivateProfileSectionNamesA(names, sizeof(names), path) > 0;

    launch = ReadListSection("Launch", path);
    shortcuts = ReadListSection("ShortcutList", path);
    files = ReadListSection("FileList", path);
    created_after_install = ReadListSection("CreatedAfterInstall", path);
    directories = ReadListSection("DirectoryList", path);
    registry = ReadListSection("RegistryList", path);
}
