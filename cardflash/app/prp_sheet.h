// The main window of cardflash: a property sheet with the Update and About pages. It opens the
// modem-settings dialog first on the run after the DOS flasher's reboot, and follows Plug and Play
// device changes: when one of the maker's adapters comes or goes it stops the last-call monitor,
// tells the Update page that the system is changing, waits on a timer until the system has
// settled, rebuilds the adapter lists and the modem list and tells the page to fill itself again.
#pragma once

#include <windows.h>

#include "framework/cstring.h"
#include "framework/property_sheet.h"

class PrpSheet : public fw::PropertySheet {
public:
    static constexpr UINT_PTR kRedetectTimer = 528;
    static constexpr UINT kNtSettleMs = 400;
    static constexpr UINT k9xSettleMs = 50;
    static constexpr int kMaxPrefixes = 256;

    explicit PrpSheet(const CString& caption);
    ~PrpSheet() override;

    static PrpSheet* Current();

    CString m_RemovedDevKey;   // HKEY_DYN_DATA\Config Manager\Enum\<devnode> of the last removal (9x)
    CString m_MatchedKey;      // the prefix or id that matched the last change
    CString m_Prefixes[kMaxPrefixes];
    OSVERSIONINFOA m_Version{};

protected:
    void OnCreate() override;
    void OnInitDialog() override;
    LRESULT OnMessage(UINT msg, WPARAM wparam, LPARAM lparam, bool* handled) override;

private:
    LRESULT OnDeviceChange(WPARAM event, LPARAM header);
    void StartRedetection(UINT ms);
    static VOID CALLBACK RedetectTimer(HWND window, UINT message, UINT_PTR id, DWORD time);
    static void Rebuild(WPARAM note);
};
