// A shell shortcut made through the shell's own link object, for tests that need one on disk.
// Header only: a program that uses it links ole32, uuid and shell32.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

namespace winetest {

// A shortcut `lnk` to `target` with `args`; false when the link object failed or the file was not
// saved.
inline bool MakeShortcut(const std::string& lnk, const std::string& target, const std::string& args = "") {
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    bool ok = false;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        link->SetPath(target.c_str());
        link->SetArguments(args.c_str());
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            std::wstring wide(lnk.begin(), lnk.end());
            ok = SUCCEEDED(file->Save(wide.c_str(), TRUE));
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return ok;
}

}  // namespace winetest
