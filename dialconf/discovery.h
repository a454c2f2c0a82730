// Where the ISDN adapter may be: the manufacturer list of the settings file, the candidate COM
// ports from the Plug and Play registry, and the modem delays of Windows 2000.
#pragma once

#include "framework/cstring.h"

// [Manufacturer] "0" to "49" of the settings file; values of one character or less are left out.
CStringArray ReadManufacturers(const CString& settings_file);

// Ports of the maker's devices for a Windows kind (1 to 3: the 9x Enum keys; otherwise the NT
// modem class), in the order found; a device adds its port once for every list entry it matches.
CStringArray CollectCandidatePorts(int windows_kind, const CStringArray& manufacturers);

// Writes PowerDelay and ConfigDelay = 1500 into every modem-class entry of the maker; false when
// a write failed.
bool SetModemDelays(const CStringArray& manufacturers);
