// The cardflash application object: the whole start-up (COM and the registry service on Windows
// 2000, the settings file, the device database, the language library, detection of the adapters
// and modems behind the wait box), the modem list with its selection, and the one last-call
// monitor that works for the selected modem.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "cardflash/flash/get_last_call.h"
#include "cardflash/flash/modem.h"
#include "cardflash/inventory/card_list.h"
#include "cardflash/inventory/driver_access.h"
#include "cardflash/inventory/os_info.h"
#include "framework/app.h"

class PrpSheet;
class CFlashProgDlg;

// One entry of the modem list: an adapter record of the active list (not owned) and its modem
// (owned; null when the modem could not be bound to its port).
struct CModemInfo {
    CCardInfo* m_Card = nullptr;
    std::unique_ptr<CModem> m_Modem;
};

// A language resource library, freed when it goes.
class CResourceLibrary {
public:
    CResourceLibrary() = default;
    ~CResourceLibrary() { Free(); }
    CResourceLibrary(const CResourceLibrary&) = delete;
    CResourceLibrary& operator=(const CResourceLibrary&) = delete;

    bool Load(const CString& path);
    void Free();
    HMODULE get() const { return h_; }

private:
    HMODULE h_ = nullptr;
};

class CConfUtilApp;

// Marks the stretch in which an update holds a modem of the application's list.
class CUpdateRun {
public:
    explicit CUpdateRun(CConfUtilApp* app);
    ~CUpdateRun();
    CUpdateRun(const CUpdateRun&) = delete;
    CUpdateRun& operator=(const CUpdateRun&) = delete;

private:
    CConfUtilApp* app_;
};

class CConfUtilApp : public fw::App {
public:
    // Monitor periods (ms) while another program holds the port and while it is free.
    static constexpr UINT kMonitorBusyPeriod = 250;
    static constexpr UINT kMonitorIdlePeriod = 300;

    CConfUtilApp();
    ~CConfUtilApp() override;

    static CConfUtilApp* Get() { return static_cast<CConfUtilApp*>(fw::App::Current()); }

    // Refreshes both adapter lists and rebuilds the modem list.
    void Detect();
    // The modem list, rebuilt from the active adapter list.
    void BuildModemList();
    void ClearModemList();
    int ModemCount() const { return static_cast<int>(m_Modems.size()); }
    const CModemInfo& ModemAt(int index) const { return m_Modems[static_cast<size_t>(index)]; }
    CModem* CurrentModem() const;
    CCardInfo* CurrentCard() const;
    int SelectedIndex() const { return m_Selected; }
    // The modem-list entry of the adapter with this Plug and Play id; -1 when none.
    int IndexOfCard(const CString& pnpId) const;
    BOOL Select(int index);

    // The ISDN add-on of `modem` appeared or went: the adapter's description follows, and the
    // Update page re-reads the adapter list.
    void OnAddOnStateChanged(CModem* modem, BOOL present);

    // The last-call monitor, always for the selected modem.
    void EnsureMonitor(BOOL start);
    void StartMonitorSticky();
    void PrepareMonitor() { EnsureMonitor(FALSE); }
    void StopMonitor();
    void StopMonitorUnlessSticky();
    BOOL IsMonitorRunning() const;

    // TRUE while an update (or the post-reboot check) holds a modem of the list: the list is
    // not rebuilt then (CUpdateRun marks the stretch).
    BOOL UpdateRunning() const { return m_UpdateDepth > 0; }
    CGetLastCall* Monitor() const { return m_Monitor.get(); }

    // The Update page registers its window here while it exists; the application posts to it.
    static void SetUpdatePage(HWND page);
    static HWND UpdatePage();

    const CString& SettingsFile() const { return m_SettingsFile; }
    const CString& HelpFile() const { return m_HelpFile; }
    const CString& Language() const { return m_Language; }
    const COSInfo& OSInfo() const { return m_OSInfo; }

    // Members, in declaration order.
    CString m_DeviceDbPath;
    PrpSheet* m_Sheet = nullptr;
    CString m_WindowsDir;
    int m_PostRestart = 0;
    std::unique_ptr<CGetLastCall> m_Monitor;
    CActiveCardList m_ActiveCards;
    CActiveCardList m_AllCards;
    std::vector<CModemInfo> m_Modems;
    COSInfo m_OSInfo{TRUE};
    CString m_ProgramFolder;
    BYTE m_TvlMode = 0;
    BYTE m_FlashBoth = 0;
    std::unique_ptr<drv::DriverHandle> m_PortManager;  // Windows 9x only
    int m_Selected = -1;
    BYTE m_MonitorSticky = 0;
    CFlashProgDlg* m_ProgressDlg = nullptr;
    // Set when this run registered the RunOnce command of a DOS-flasher hand-over; apart from the
    // post-restart flag, which says that this run is the one after that reboot.
    int m_RunOnceRegistered = 0;
    int m_UpdateDepth = 0;  // CUpdateRun stretches in progress

    const CString& BaseName() const { return m_BaseName; }
    // The language library in use; empty when the program's own resources are.
    CString LanguageLibrary() const { return m_LanguageLibrary.get() ? m_LanguageLibraryPath : CString(); }

protected:
    bool InitInstance() override;
    int ExitInstance() override;
    // The main property sheet with the Update and About pages, run modally.
    virtual void RunSheet();

private:
    static void MonitorCallback();

    bool ProbeRegistryService();
    void FindSettings();
    void ChooseLanguage();

    CString m_BaseName;
    CString m_SettingsFile;
    CString m_HelpFile;
    CString m_Language;
    CString m_LanguageLibraryPath;  // the library that was tried; empty for English
    CResourceLibrary m_LanguageLibrary;
    bool m_OleStarted = false;
};
