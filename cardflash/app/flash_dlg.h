// The Update page: the user picks an adapter, the page asks its modem for the firmware version
// and whether it can be flashed in place (on worker threads), lists the firmware packages of a
// folder that fit the adapter, and starts the update routine for the chosen file. It follows the
// sheet's device-change notices and the last-call monitor's word that a busy port is free again.
#pragma once

#include <windows.h>

#include "framework/cstring.h"
#include "framework/property_sheet.h"

class CFlashDlg : public fw::PropertyPage {
public:
    // WM_APP notes (lParam 1) from the application and the sheet.
    static constexpr WPARAM kAppRedetected = 1;
    static constexpr WPARAM kAppRedetectedAfterRemoval = 2;
    static constexpr WPARAM kAppAdapterRemoved = 3;
    static constexpr WPARAM kAppSystemChanging = 4;
    static constexpr WPARAM kAppCheckDone = 5;  // the sheet's post-reboot check has ended
    static constexpr WPARAM kAppPortFree = 6;

    CFlashDlg();

    // Fills the adapter combo from the modem list and starts the chosen adapter's queries.
    void FillAdapterCombo();
    // TRUE when the chosen adapter is flashed through AT commands (its queries then start).
    BOOL OnAdapterChosen();
    BOOL StartVersionRead();
    void StartCapabilityQuery();
    // The packages of the folder that fit the chosen adapter.
    void FillFileList();

    CString m_Folder;
    int m_SelectedItem = -1;
    int m_VersionBusy = 0;       // the version read found the port taken and waits for it
    int m_CapabilityBusy = 0;    // the same for the capability query
    int m_VersionPending = 0;    // the version read runs (or waits for the port)
    int m_CapabilityPending = 0;
    int m_Failures = 0;          // failures in a row, shared by both queries
    int m_SystemChanging = 0;    // told that the system is changing; the adapters are not refilled yet

protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, int code) override;
    LRESULT OnNotify(NMHDR* header, bool* handled) override;
    INT_PTR OnMessage(UINT msg, WPARAM wparam, LPARAM lparam, bool* handled) override;

private:
    void OnUpdate();
    void OnBrowse();
    void HandleModemResult(int code, int result);
    void OnAppNote(WPARAM what);
    void EnableControls(BOOL update, BOOL browse, BOOL list);
    static void RestartVersionRead(CFlashDlg* page);
};
