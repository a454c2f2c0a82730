// The text log: a file written in text mode (each "\n" becomes CR LF) under a mask of channels:
// 1 the line as it is, 2 the line after "DBG:", 4 a message box. Callers end their lines.
#pragma once

#include <cstdio>

#include "framework/cstring.h"

class CLog {
public:
    enum : int { kPlain = 1, kDebug = 2, kMessageBox = 4 };
    static constexpr int kPrintfBuffer = 512;

    CLog() = default;
    virtual ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    // create: start the file empty; otherwise add to its end (creating it when missing).
    int Open(const CString& path, int create, int mask);
    void SetMask(int mask) { m_Mask = mask; }
    void Write(int mask, const CString& text);
    // A formatted line, cut to what fits the 512-byte buffer.
    void Printf(int mask, const char* format, ...) __attribute__((format(printf, 3, 4)));
    int Close();

    bool is_open() const { return m_Open != 0; }

private:
    int m_Open = 0;
    int m_Mask = 0;
    std::FILE* m_File = nullptr;
};
