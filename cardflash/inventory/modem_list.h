// The modems Windows has installed, each with the COM port it is attached to, read from the
// registry in the way of the running Windows family. The TAPI side uses it to tell which installed
// modem (and so which port) a TAPI line belongs to.
#pragma once

#include <windows.h>

#include "framework/cstring.h"

class CModemList {
public:
    CModemList() = default;
    virtual ~CModemList() = default;
    CModemList(const CModemList&) = delete;
    CModemList& operator=(const CModemList&) = delete;

    // Appends the installed modems to the arrays and returns how many the arrays hold; 0 on a
    // platform that is neither Windows 9x nor NT.
    int Fill();
    // Windows 9x: the modem instances of HKLM\Enum (bus\device\instance).
    int Fill9x(int win9xIndex);
    // Windows NT: the subkeys of the modem device class.
    int FillNt();

    int GetCount() const { return m_Names.GetSize(); }

    // Parallel arrays: entry i of each belongs to the same modem.
    CStringArray m_Names;      // the modem's description
    CStringArray m_EnumPaths;  // Windows 9x: bus\device\instance below HKLM\Enum; empty on NT
    CStringArray m_Ports;      // "COM3", or "???" on NT when the key names none
    CStringArray m_Spare;      // empty strings on NT, untouched on 9x
};
