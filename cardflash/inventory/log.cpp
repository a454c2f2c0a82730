#include "cardflash/inventory/log.h"

#include <windows.h>

#include <cstdarg>

namespace {

CString ProgramTitle() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    CString name(path, n < MAX_PATH ? static_cast<int>(n) : 0);
    name = name.Mid(name.ReverseFind('\\') + 1);
    int dot = name.ReverseFind('.');
    return dot > 0 ? name.Left(dot) : name;
}

}  // namespace

CLog::~CLog() { Close(); }

int CLog::Open(const CString& path, int create, int mask) {
    Close();
    m_Mask = mask;
    m_File = std::fopen(path.c_str(), create ? "w" : "a");
    m_Open = m_File != nullptr;
    return m_Open;
}

void CLog::Write(int mask, const CString& text) {
    if (!m_Open) return;
    int channels = mask & m_Mask;
    if (channels & kPlain) std::fputs(text.c_str(), m_File);
    if (channels & kDebug) {
        std::fputs("DBG:", m_File);
        std::fputs(text.c_str(), m_File);
    }
    if (channels & (kPlain | kDebug)) std::fflush(m_File);
    if (channels & kMessageBox) MessageBoxA(nullptr, text.c_str(), ProgramTitle().c_str(), MB_OK);
}

void CLog::Printf(int mask, const char* format, ...) {
    char buffer[kPrintfBuffer];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (n < 0) buffer[0] = 0;  // vsnprintf cuts longer texts and always terminates them
    Write(mask, buffer);
}

int CLog::Close() {
    if (m_File) std::fclose(m_File);
    m_File = nullptr;
    m_Open = 0;
    return TRUE;
}
