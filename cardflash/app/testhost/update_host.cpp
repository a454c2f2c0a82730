// cardflash with a direct way in to the update routine for the tests: after the same start-up as
// the program (without its main window), "PERFORM:<package>" runs the update routine for the
// selected modem with that package from the program folder (the modem's version and in-place
// capability read first, as the Update page does), "PROGRESS:<package>" runs the progress dialog
// with no modem selected, and a run with "UPGRADE" opens the modem-settings dialog first.
// "UNBOUND" leaves every adapter without its modem, as when a modem cannot be bound to its port.
// What happened goes to "update_host.txt" beside the exe.
#include <windows.h>

#include <cstdio>

#include "cardflash/app/conf_util_app.h"
#include "cardflash/app/update_dialogs.h"
#include "cardflash/app/update_routine.h"

namespace {

class UpdateHost : public CConfUtilApp {
protected:
    void RunSheet() override {}

    bool InitInstance() override {
        CConfUtilApp::InitInstance();
        std::FILE* report = std::fopen(ProgramFolder() + "\\update_host.txt", "w");
        if (!report) return false;
        if (CommandLine().Find("UNBOUND") >= 0)
            for (CModemInfo& entry : m_Modems) entry.m_Modem.reset();
        if (m_PostRestart) {
            CUpdModSetDlg dialog;
            std::fprintf(report, "settings dialog %d\n", static_cast<int>(dialog.DoModal()));
            std::fprintf(report, "package %s for %s: %d kinds\n", dialog.m_PackagePath.c_str(), dialog.m_PnPID.c_str(), static_cast<int>(dialog.m_Kinds.size()));
        }
        const CString command = CommandLine();
        // The progress dialog on its own, with no modem selected.
        int alone = command.Find("PROGRESS:");
        if (alone >= 0) {
            Select(-1);
            CFlashProgDlg dialog(m_ProgramFolder + "\\" + command.Mid(alone + 9), CString(), TRUE);
            m_ProgressDlg = &dialog;
            std::fprintf(report, "progress dialog ended %d\n", static_cast<int>(dialog.DoModal()));
            m_ProgressDlg = nullptr;
        }
        int at = command.Find("PERFORM:");
        if (at >= 0) {
            CString file = command.Mid(at + 8);
            int blank = file.Find(' ');
            if (blank >= 0) file = file.Left(blank);
            CModem* modem = CurrentModem();
            if (modem) {
                modem->ReadFirmwareVersion();
                modem->CheckFirmwareLevel();
            }
            BOOL done = PerformUpdate(modem, file, m_ProgramFolder, nullptr);
            std::fprintf(report, "perform %d\n", done);
            // After a failed flash the card may still sit in its boot loader: it is asked only
            // after a success.
            if (done && modem && modem->ReadFirmwareVersion() == 0)
                std::fprintf(report, "version %s\n", modem->m_FirmwareVersion.c_str());
        }
        std::fprintf(report, "post-restart %d\nrunonce registered %d\nprogress dialog %s\n", m_PostRestart,
                     m_RunOnceRegistered, m_ProgressDlg ? "set" : "none");
        std::fclose(report);
        return false;
    }
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    UpdateHost app;
    return app.Run(instance, command_line);
}
