// The in-place road of one flash: the image goes over the modem's own COM port through its boot
// loader (CModem::FlashFirmware), once the port is known to be free for this program. A CATFlash
// lives for one flash.
#pragma once

#include "framework/cstring.h"

class CCardInfo;
class CModem;

class CATFlash {
public:
    CATFlash() = default;
    virtual ~CATFlash();
    CATFlash(const CATFlash&) = delete;
    CATFlash& operator=(const CATFlash&) = delete;

    // Flashes `image` into the adapter's modem: `modem` when given (not owned), else a modem of
    // its own bound to `port` (or the record's modem port when empty). 14 when the port is busy;
    // otherwise the flash's result (0 on success), or AttachCard's when the binding fails.
    // `progress` (may be null) gets 0 to 100.
    int Flash(const CCardInfo* card, const CString& port, const CString& image, void (*progress)(int),
              CModem* modem);

    CModem* m_Modem = nullptr;
    bool m_OwnsModem = false;
    CString m_ImagePath;
    CString m_PnPID;
    CString m_Spare;

private:
    void DropModem();
};
