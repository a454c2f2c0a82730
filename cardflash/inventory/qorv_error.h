// The error object: a failure code of cardflash and the text the user sees for it (string-table
// entry 25300 + code, or "Error code %d").
#pragma once

// windows.h renames GetMessage; seeing it here keeps every caller on the same name.
#include <windows.h>

#include "framework/cstring.h"

class QorvError {
public:
    QorvError() = default;
    explicit QorvError(int code) { SetCode(code); }
    virtual ~QorvError() = default;

    CString SetCode(int code);
    CString GetMessage() const { return m_Message; }

    static constexpr unsigned kFirstText = 25300;
    static constexpr int kLastCodeWithText = 32;  // entries past 25332 are other texts

private:
    CString m_Message;
};
