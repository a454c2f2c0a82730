#include "cardflash/inventory/qorv_error.h"

CString QorvError::SetCode(int code) {
    // Only codes of the error table are looked up: the entries that follow it in the string table
    // are labels of the program, never error texts.
    if (code < 0 || code > kLastCodeWithText || !m_Message.LoadText(kFirstText + static_cast<unsigned>(code)))
        m_Message.Format("Error code %d", code);
    return m_Message;
}
