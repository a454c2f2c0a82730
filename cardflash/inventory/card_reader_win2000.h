// The Windows 2000 adapter reader's parts that tests reach on their own: the reader on a registry
// object it is given, and the IP Helper lookup of a network adapter's addresses.
#pragma once

#include <windows.h>
#include <iphlpapi.h>

#include "framework/cstring.h"
#include "watchsvc/client/RegistryClient.h"

class CCardInfo;

// Reads `card` through `reg` (which may be empty: the first call then raises E_POINTER). Raises
// watchsvc::CComError when a call of the registry service fails; every key it opened is closed
// by then.
void ReadCardWin2000(CCardInfo& card, IRegistry* reg);

typedef DWORD(WINAPI* GetAdaptersInfoFn)(PIP_ADAPTER_INFO info, PULONG size);

struct AdapterAddresses {
    CString mac;  // "%02X " per address byte
    CString ip;   // the first IP address, dotted
};

// The addresses of the adapter named `name` in what `getAdaptersInfo` reports (the system's
// GetAdaptersInfo, bound at first use, when null). False when no adapter has that name or the
// list cannot be read.
bool LookUpAdapter(const CString& name, AdapterAddresses* out, GetAdaptersInfoFn getAdaptersInfo = nullptr);
