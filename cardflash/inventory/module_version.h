// File versions: the version resource of a file, and the version a library reports through its
// "DllGetVersion" export.
#pragma once

#include <windows.h>

#include <vector>

#include "framework/cstring.h"

// The system's fixed file-version record is the base, so its fields (dwSignature,
// dwFileVersionMS, ...) read directly; they are all zero until a read succeeds.
class CModuleVersion : public VS_FIXEDFILEINFO {
public:
    CModuleVersion();
    virtual ~CModuleVersion() = default;

    // True when `fileName` (at most MAX_PATH - 1 characters) has a version resource whose fixed
    // record carries the signature 0xFEEF04BD. Replaces whatever an earlier call read.
    BOOL GetFileVersionInfo(const CString& fileName);
    // A string of the version resource for the stored translation ("FileVersion", ...); empty
    // when nothing was read or the value is missing.
    CString GetValue(const CString& name) const;

    WORD language() const { return language_; }
    WORD code_page() const { return code_page_; }

private:
    std::vector<BYTE> data_;
    WORD language_ = 0;
    WORD code_page_ = 1252;
};

// The 20-byte record that "DllGetVersion" fills (size, major, minor, build, platform).
struct DllVersionRecord {
    DWORD cbSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformID;
};

// Loads `libraryName` (it stays loaded) and asks its "DllGetVersion"; false when the library or
// the export is missing or the export reports failure.
BOOL GetDllVersion(const CString& libraryName, DllVersionRecord* version);
