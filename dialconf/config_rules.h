// The rules of the configuration program that need no window: the Windows kind, the
// manufacturer match, the port number for serlink.ini, the profile lists and switch types, and
// the number checks. No Windows header here.
#pragma once

#include "framework/cstring.h"

// Windows kinds: 1 Windows 95 build 950, 2 other Windows 95, 3 Windows 98 or later 9x,
// 4 Windows NT 4.0, 5 Windows 2000; 0 when none applies.
enum class VersionVerdict { Run, RefuseWin32s, RefuseNt3 };
// platform: 0 Win32s, 1 Windows 9x, 2 NT (the VER_PLATFORM_ values).
VersionVerdict WindowsKindOf(unsigned platform, unsigned major, unsigned minor, unsigned build, int* kind);

// A device belongs to the maker when its manufacturer value occurs inside the list entry (an
// empty value occurs in every entry).
inline bool ManufacturerMatches(const CString& value, const CString& entry) { return entry.Find(value) >= 0; }

// The [COMM] comPort value of serlink.ini for a port name: its whole number ("COM12" -> "12");
// "" when the name ends in no number.
CString SerlinkComPort(const CString& port);

// The lists of the configuration dialog, in their order.
extern const char* const kProfileNames[5];
extern const char* const kDChannelNames[5];
extern const char* const kBChannelNames[7];
constexpr const char* kDss1 = "Europe-Euro-ISDN (DSS1)";

// The switch-type number of a D-channel entry text; 255 for anything else.
int SwitchTypeFromName(const CString& name);
// True when that switch type takes an MSN; false when it takes a phone number and SPIDs.
bool SwitchTypeUsesMsn(int type);
// The D-channel entry text of a switch-type number; "" when none.
CString DChannelNameOf(int type);
// The D-channel entry text of a profile's stored SwitchType ("" gives DSS1; a value that is no
// known number gives "").
CString DChannelNameOfStored(const CString& stored);

// "*" or 1 to 20 digits.
bool IsValidNumber(const CString& number);
// 1 to 20 digits, or empty when allowed.
bool IsValidSpid(const CString& spid, bool may_be_empty);
