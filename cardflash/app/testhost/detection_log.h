// cardflash for the tests of its start-up: the same start-up as the program, but in place of the
// main window it writes what it found to its text log <program folder>\<base name>.LOG and ends,
// so that a test reads the Windows road, the language, the mode and the adapters and modems that
// detection gave.
#pragma once

#include <windows.h>

#include "cardflash/app/conf_util_app.h"
#include "cardflash/app/resource.h"
#include "cardflash/inventory/log.h"
#include "cardflash/inventory/os_index.h"

class DetectionLogApp : public CConfUtilApp {
protected:
    bool InitInstance() override {
        CConfUtilApp::InitInstance();
        WriteDetectionLog();
        return false;
    }
    void RunSheet() override {}

private:
    void WriteDetectionLog() {
        CLog log;
        log.Open(m_ProgramFolder + "\\" + BaseName() + ".LOG", TRUE, CLog::kPlain);
        const int m = CLog::kPlain;
        log.Printf(m, "%s\n", Text(IDS_SHEET_CAPTION).c_str());
        log.Printf(m, "Windows: %s (index %d)\n", OSIndexName(m_OSInfo.m_OSIndex), m_OSInfo.m_OSIndex);
        log.Printf(m, "Language: %s\n", Language().c_str());
        const CString library = LanguageLibrary();
        log.Printf(m, "Language library: %s\n", library.IsEmpty() ? "none" : library.c_str());
        log.Printf(m, "Help file: %s\n", HelpFile().c_str());
        log.Printf(m, "Mode: %s\n", m_FlashBoth ? "both adapters" : m_TvlMode ? "TVL" : "sheet");
        log.Printf(m, "Post-restart: %d\n", m_PostRestart);
        log.Printf(m, "Port manager: %s\n", m_PortManager ? "open" : "not open");

        auto list = [&](const char* name, const CActiveCardList& cards) {
            int n = 0;
            while (n < CActiveCardList::kMaxCards && cards.m_Cards[n]) ++n;
            log.Printf(m, "%s: %d (device keys %lu)\n", name, n, static_cast<unsigned long>(cards.m_KeyCount));
            for (int i = 0; i < n; ++i) {
                const CCardInfo* c = cards.m_Cards[i];
                log.Printf(m, "  [%d] %s | %s | inserted %s | flags %lu | modem port %s\n", i, c->m_PnPID.c_str(),
                           c->m_DeviceDesc.c_str(), c->m_CardInserted ? "yes" : "no",
                           static_cast<unsigned long>(c->m_Flags), c->m_ModemComPort.c_str());
                if (const CCardInfo* p = cards.m_Partners[i])
                    log.Printf(m, "      partner %s | %s | modem port %s\n", p->m_PnPID.c_str(), p->m_DeviceDesc.c_str(),
                               p->m_ModemComPort.c_str());
            }
        };
        list("Present adapters", m_ActiveCards);
        list("Installed adapters", m_AllCards);

        log.Printf(m, "Modems: %d\n", ModemCount());
        for (int i = 0; i < ModemCount(); ++i) {
            const CModemInfo& e = ModemAt(i);
            log.Printf(m, "  [%d] %s on %s | %s\n", i, e.m_Card->m_PnPID.c_str(), e.m_Card->m_ModemComPort.c_str(),
                       e.m_Modem ? "bound" : "no modem");
        }
        log.Printf(m, "Selected modem: %d\n", m_Selected);
        log.Close();
    }
};
