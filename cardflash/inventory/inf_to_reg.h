// Re-installs one section of a modem INF into the registry entry of an adapter's modem after a
// firmware upgrade: the INF is checked, copied into the Windows INF folder, the modem's driver key
// loses its subkeys (its own values stay) and gets the section's registry and settings-file
// entries through the Setup API; on Windows NT the modem's responses then move to where Unimodem
// reads them.
#pragma once

#include <windows.h>

#include "framework/cstring.h"

class CInfToReg {
public:
    enum Result : int {
        kOk = 0,
        kNotModemClass = 1,      // nothing done
        kNoResponsesName = -1,   // Windows NT: the driver key has no "ResponsesKeyName"
        kNoDriverKey = 2,        // no modem function, no driver value, or the key does not open
        kBadInf = 3,             // not an INF of class "Modem", or the section is missing
        kCopyFailed = 4,         // the INF could not be copied into the INF folder
        kInstallFailed = 5,      // the section's entries could not be installed
        kResponsesFailed = 6,    // the responses were not (all) copied; the originals stay
    };

    CInfToReg() = default;
    virtual ~CInfToReg() = default;

    // Nothing is deleted before the INF has been opened as a "Modem" INF holding `section` and
    // copied.
    int Install(const CString& pnpId, const CString& infFile, const CString& infDir, const CString& deviceClass,
                const CString& section);
    // Deletes every subkey of the open `key` (whose path below HKEY_LOCAL_MACHINE is `keyPath`) with
    // all their subkeys; the key's own values stay. Returns 1.
    int DeleteSubkeys(const CString& keyPath, HKEY key);
};
