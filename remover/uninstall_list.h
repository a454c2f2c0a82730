// An uninstall list (.UNI), read whole before anything is removed: the [Version] values and the
// lines of the six list sections.
#pragma once

#include <vector>

#include "framework/cstring.h"

struct UninstallList {
    CString path;  // as the profile reader was given it: a full path
    // [Version]; remover::kNotFound when missing.
    CString file_version, product_name, folder_name, destination_dir, uninstall_message;
    bool has_sections = false;
    std::vector<CString> launch, shortcuts, files, created_after_install, directories, registry;

    // Reads every value and section of the list at `path` (made a full path first, so a relative
    // path never means a file in the Windows folder).
    void Load(const CString& path);
};

// The whole section (no line is cut however long the section), or a [Version] value.
std::vector<CString> ReadListSection(const char* section, const char* path);
CString ReadListValue(const char* section, const char* key, const char* path);
