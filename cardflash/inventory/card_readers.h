// The adapter registry readers that CCardInfo runs by Windows version, one per road. Each starts
// from the record's device key (m_PnPID) and fills the members the registry gives; a value that
// cannot be read leaves its member empty.
#pragma once

#include <windows.h>

class CCardInfo;

// Enum branch, class and driver entries, HKEY_DYN_DATA presence, DHCP/TCP addresses, resources.
void ReadCardWin9x(CCardInfo& card, BOOL readResources);  // card_reader_win9x.cpp
// From the card's CIS and the PCMCIA database of the registry. A record without a CIS takes the
// one of the socket whose card has the record's plug-and-play id; with none, it stays empty.
void ReadCardNt351(CCardInfo& card);  // card_reader_nt.cpp
// Enum\Root, the services and the modem class.
void ReadCardNt40(CCardInfo& card);  // card_reader_nt.cpp
// Through watchsvc's IRegistry (may raise watchsvc::CComError), and IP Helper for addresses.
void ReadCardWin2000(CCardInfo& card);  // card_reader_win2000.cpp
