#include "cardflash/inventory/module_version.h"

#include <cstring>

namespace {
// Windows refuses longer names anyway; refusing them here keeps a short buffer on every road.
constexpr int kMaxFileName = MAX_PATH - 1;
}

CModuleVersion::CModuleVersion() : VS_FIXEDFILEINFO() {}

BOOL CModuleVersion::GetFileVersionInfo(const CString& fileName) {
    code_page_ = 1252;
    language_ = 0;
    static_cast<VS_FIXEDFILEINFO&>(*this) = VS_FIXEDFILEINFO();
    if (fileName.IsEmpty() || fileName.GetLength() > kMaxFileName) return FALSE;

    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(fileName.c_str(), &ignored);
    if (size == 0) return FALSE;
    data_.assign(size, 0);
    if (!::GetFileVersionInfoA(fileName.c_str(), 0, size, data_.data())) {
        data_.clear();
        return FALSE;
    }
    void* fixed = nullptr;
    UINT fixed_len = 0;
    if (!VerQueryValueA(data_.data(), "\\", &fixed, &fixed_len) || !fixed || fixed_len < sizeof(VS_FIXEDFILEINFO))
        return FALSE;
    std::memcpy(static_cast<VS_FIXEDFILEINFO*>(this), fixed, sizeof(VS_FIXEDFILEINFO));

    void* trans = nullptr;
    UINT trans_len = 0;
    if (VerQueryValueA(data_.data(), "\\VarFileInfo\\Translation", &trans, &trans_len) && trans && trans_len >= 4) {
        const WORD* w = static_cast<const WORD*>(trans);
        language_ = w[0];
        code_page_ = w[1];
    }
    return dwSignature == 0xFEEF04BD;
}

CString CModuleVersion::GetValue(const CString& name) const {
    if (data_.empty() || dwSignature != 0xFEEF04BD) return CString();
    CString path;
    path.Format("\\StringFileInfo\\%04x%04x\\%s", language_, code_page_, name.c_str());
    void* value = nullptr;
    UINT len = 0;
    // VerQueryValue takes a non-const block but does not change it.
    if (!VerQueryValueA(const_cast<BYTE*>(data_.data()), path.c_str(), &value, &len) || !value || len == 0)
        return CString();
    const char* text = static_cast<const char*>(value);
    // The length counts characters and may include the terminator; never read past it.
    return CString(text, static_cast<int>(strnlen(text, len)));
}

BOOL GetDllVersion(const CString& libraryName, DllVersionRecord* version) {
    if (!version) return FALSE;
    HMODULE lib = LoadLibraryA(libraryName.c_str());
    if (!lib) return FALSE;
    typedef HRESULT(CALLBACK * DllGetVersionProc)(DllVersionRecord*);
    DllGetVersionProc get =
        reinterpret_cast<DllGetVersionProc>(reinterpret_cast<void*>(GetProcAddress(lib, "DllGetVersion")));
    if (!get) return FALSE;
    std::memset(version, 0, sizeof(*version));
    version->cbSize = sizeof(*version);
    return SUCCEEDED(get(version)) ? TRUE : FALSE;
}
