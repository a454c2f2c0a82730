// One registry key named by a single text ("HKEY_DYN_DATA\Config Manager\Enum\C29A0000"), with
// string and number values, opened with full access and created with its missing parents on
// request.
#pragma once

#include <windows.h>

#include "framework/cstring.h"

class CQuickReg {
public:
    static constexpr int kOpen = 3;
    static constexpr int kFailed = 2;

    explicit CQuickReg(const CString& path);
    // An empty path means the program's own key (string 28998 on Windows 9x, 28999 on NT).
    CQuickReg(BOOL create, const CString& path);
    virtual ~CQuickReg();
    CQuickReg(const CQuickReg&) = delete;
    CQuickReg& operator=(const CQuickReg&) = delete;

    static int CreatePath(HKEY root, const CString& subkeyPath, HKEY* key);

    BOOL QueryString(const CString& valueName, CString* value);
    BOOL QueryDWORD(const CString& valueName, DWORD* value);
    BOOL SetString(const CString& valueName, const CString& value);
    BOOL SetExpandString(const CString& valueName, const CString& value);
    BOOL SetDWORD(const CString& valueName, DWORD value);

    BOOL m_Open = FALSE;
    HKEY m_Key = nullptr;

private:
    BOOL OpenPath(const CString& path, BOOL create);
};
