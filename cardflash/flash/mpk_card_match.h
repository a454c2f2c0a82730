// The package id of an adapter as the device database gives it. The records of a package are
// named by the Plug and Play id of the model they serve; an adapter's own id (an instance of a
// generic modem on Windows 2000, a hardware id with a revision suffix) is mapped to that name
// through QorvDevices.ini.
#pragma once

#include "cardflash/flash/mpk_file.h"

class CModem;

class CMpkCardResolver : public CMpkIdResolver {
public:
    // `modem` (may be null) answers the identity queries of a generic modem on Windows 2000;
    // without one, the adapter record's modem identity is used.
    explicit CMpkCardResolver(CModem* modem) : modem_(modem) {}

    int ResolvePackageId(const CString& pnp_id, CString* package_id) override;

private:
    struct ModemIdentity {
        CString manufacturer, board_code, module_id, ati5;
    };
    ModemIdentity GatherIdentity(const CString& pnp_id) const;

    CModem* modem_;
};
