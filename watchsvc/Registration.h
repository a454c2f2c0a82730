// The registry entries of watchsvc as a COM server: its application id and its class. Written and
// removed by the program itself.
#pragma once

#include <windows.h>

#include <string>

namespace watchsvc {

extern const char kAppIdText[];  // "{...}", the application id of watchsvc

std::string GuidText(REFGUID guid);  // "{XXXXXXXX-...}"
std::wstring Wide(const std::string& text);  // `text` in the wide form, through the ANSI code page
std::string ModulePath();            // this program's full path
// The full path in quotation marks, as a command that starts this program: unquoted, a blank in a
// folder name would let "C:\Program.exe" run in its place.
std::string QuotedModulePath();

// HKCR\AppID\{appid} = "watchsvc" and HKCR\AppID\watchsvc.EXE with AppID = {appid}. The AppID key
// itself is shared with every other server and stays on removal.
HRESULT ApplyAppEntries();
HRESULT RemoveAppEntries();

// The ProgIDs and CLSID\{clsid} of the Registry class (LocalServer32 = this program).
HRESULT ApplyClassEntries();
HRESULT RemoveClassEntries();

// Writes a string value (REG_SZ, with its terminating zero) into HKCR\`path`, creating the key.
LONG SetClassesString(const std::string& path, const char* name, const std::string& value);

}  // namespace watchsvc
