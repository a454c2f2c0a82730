// The application object in the test's own process: the modem list's selection and the one
// last-call monitor that follows it, the add-on note to the Update page, and the wait box.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "cardflash/app/conf_util_app.h"
#include "cardflash/app/flash_dlg.h"
#include "cardflash/app/please_wait.h"
#include "cardflash/app/resource.h"
#include "framework/property_sheet.h"

namespace {

class AppObjectTest : public ::testing::Test {
protected:
    // Two modem cards in the modem list, their modems not bound to a port.
    void SetUp() override {
        for (const char* id : {"PCMCIA\\DORVEX-MODEM_56K-77C2\\1", "PCMCIA\\DORVEX-MODEM_56K-77C2\\2"}) {
            cards_.push_back(std::make_unique<CCardInfo>(id, FALSE));
            CCardInfo& card = *cards_.back();
            card.m_Flags = CCardInfo::kFlagModem;
            card.m_DeviceDesc = card.m_BaseDesc = "Dorvex 56K PC Card Modem";
            CModemInfo entry;
            entry.m_Card = &card;
            entry.m_Modem = std::make_unique<CModem>();
            app_.m_Modems.push_back(std::move(entry));
        }
    }
    CModem* ModemOf(int i) { return app_.ModemAt(i).m_Modem.get(); }

    std::vector<std::unique_ptr<CCardInfo>> cards_;  // outlive the list, which does not own them
    CConfUtilApp app_;
};

TEST_F(AppObjectTest, SelectionOutsideTheListSelectsNothing) {
    EXPECT_TRUE(app_.Select(1));
    EXPECT_EQ(app_.CurrentModem(), ModemOf(1));
    EXPECT_EQ(app_.CurrentCard(), cards_[1].get());
    for (int bad : {2, -1, 1000}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(app_.Select(bad));
        EXPECT_EQ(app_.SelectedIndex(), -1);
        EXPECT_EQ(app_.CurrentModem(), nullptr);
        EXPECT_EQ(app_.CurrentCard(), nullptr);
    }
}

TEST_F(AppObjectTest, OneMonitorFollowsTheSelectedModem) {
    // No selection yet: the first modem is taken.
    app_.PrepareMonitor();
    EXPECT_EQ(app_.SelectedIndex(), 0);
    CGetLastCall* first = app_.Monitor();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetModem(), ModemOf(0));
    EXPECT_EQ(first->BusyPeriod(), 250u);
    EXPECT_EQ(first->IdlePeriod(), 300u);
    EXPECT_FALSE(app_.IsMonitorRunning());
    EXPECT_EQ(CGetLastCall::Current(), first);

    app_.EnsureMonitor(TRUE);  // the same modem keeps its monitor
    EXPECT_EQ(app_.Monitor(), first);
    EXPECT_TRUE(app_.IsMonitorRunning());

    EXPECT_TRUE(app_.Select(0));  // no change of selection: the monitor stays
    EXPECT_EQ(app_.Monitor(), first);
    EXPECT_TRUE(app_.Select(1));  // another modem: the monitor goes
    EXPECT_EQ(app_.Monitor(), nullptr);
    EXPECT_EQ(CGetLastCall::Current(), nullptr);

    app_.StartMonitorSticky();
    ASSERT_NE(app_.Monitor(), nullptr);
    EXPECT_EQ(app_.Monitor()->GetModem(), ModemOf(1));
    app_.StopMonitorUnlessSticky();
    EXPECT_TRUE(app_.IsMonitorRunning());
    app_.StopMonitor();  // also ends the stickiness
    EXPECT_FALSE(app_.IsMonitorRunning());
    app_.EnsureMonitor(TRUE);
    app_.StopMonitorUnlessSticky();
    EXPECT_FALSE(app_.IsMonitorRunning());

    app_.ClearModemList();
    EXPECT_EQ(app_.Monitor(), nullptr);
    EXPECT_EQ(app_.SelectedIndex(), -1);
    app_.EnsureMonitor(TRUE);  // an empty list has no monitor
    EXPECT_EQ(app_.Monitor(), nullptr);
}

TEST_F(AppObjectTest, AddOnChangeRenamesTheAdapterAndTellsTheUpdatePage) {
    HWND page = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(page, nullptr);
    CConfUtilApp::SetUpdatePage(page);
    using Note = std::pair<WPARAM, LPARAM>;
    const Note kAdaptersChanged(1, 1);
    auto note = [&]() {
        MSG msg;
        if (!PeekMessageA(&msg, page, WM_APP, WM_APP, PM_REMOVE)) return Note(0, 0);
        return Note(msg.wParam, msg.lParam);
    };

    CModem stranger;
    app_.OnAddOnStateChanged(&stranger, TRUE);  // not in the list: nothing happens
    app_.OnAddOnStateChanged(nullptr, TRUE);
    EXPECT_EQ(note().first, 0u);
    EXPECT_EQ(cards_[0]->m_DeviceDesc, "Dorvex 56K PC Card Modem");

    app_.OnAddOnStateChanged(ModemOf(1), TRUE);
    EXPECT_EQ(cards_[1]->m_DeviceDesc, "Dorvex 56K PC Card Modem+ISDN Tamrisk");
    EXPECT_EQ(cards_[0]->m_DeviceDesc, "Dorvex 56K PC Card Modem");
    EXPECT_EQ(note(), kAdaptersChanged);
    app_.OnAddOnStateChanged(ModemOf(1), FALSE);
    EXPECT_EQ(cards_[1]->m_DeviceDesc, "Dorvex 56K PC Card Modem");
    EXPECT_EQ(note(), kAdaptersChanged);

    // Once the page is gone nobody is told, and nothing fails.
    DestroyWindow(page);
    app_.OnAddOnStateChanged(ModemOf(0), TRUE);
    EXPECT_EQ(CConfUtilApp::UpdatePage(), nullptr);
    CConfUtilApp::SetUpdatePage(nullptr);
}

// A modem's destructor dispatches the reports of its operations, and the Update page asks the
// application for the selected modem when one arrives: while the list is torn down nothing may
// be selected and the list must read as empty.
struct TeardownView {
    CConfUtilApp* app = nullptr;
    bool seen = false;
    int selected = 0, count = -1;
    CModem* modem = nullptr;
    CGetLastCall* monitor = nullptr;
};
TeardownView g_teardown;

LRESULT CALLBACK TeardownPageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_USER && !g_teardown.seen) {
        g_teardown.seen = true;
        g_teardown.selected = g_teardown.app->SelectedIndex();
        g_teardown.count = g_teardown.app->ModemCount();
        g_teardown.modem = g_teardown.app->CurrentModem();
        g_teardown.monitor = g_teardown.app->Monitor();
        // The operation that keeps the destructor waiting may now run (and is skipped).
        ReleaseSemaphore(CModemProcess::OperationSemaphore(), 1, nullptr);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

TEST_F(AppObjectTest, ClearingTheListDeselectsBeforeTheModemsGo) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TeardownPageProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TeardownPage";
    RegisterClassA(&wc);
    HWND page = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(page, nullptr);
    g_teardown = TeardownView();
    g_teardown.app = &app_;

    ASSERT_TRUE(app_.Select(1));
    app_.PrepareMonitor();
    // An operation waits for the semaphore this thread holds, so the modem's destructor waits
    // and dispatches the report that is already queued.
    ASSERT_EQ(WaitForSingleObject(CModemProcess::OperationSemaphore(), 5000), WAIT_OBJECT_0);
    ASSERT_EQ(ModemOf(1)->StartReadFirmwareVersion(page), 0);
    ASSERT_TRUE(PostMessageA(page, WM_USER, 1, 0));
    app_.ClearModemList();

    EXPECT_TRUE(g_teardown.seen);
    EXPECT_EQ(g_teardown.selected, -1);
    EXPECT_EQ(g_teardown.count, 0);
    EXPECT_EQ(g_teardown.modem, nullptr);
    EXPECT_EQ(g_teardown.monitor, nullptr);
    EXPECT_EQ(app_.ModemCount(), 0);
    DestroyWindow(page);
}

TEST(PleaseWaitTest, ShowsItsCaptionAndTextWithoutButtons) {
    CPleaseWait wait;
    ASSERT_TRUE(wait.Show());
    HWND box = wait.hwnd();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(IsWindowVisible(box));
    char text[128] = {};
    GetWindowTextA(box, text, sizeof(text));
    EXPECT_STREQ(text, "Detecting Dorvex Adapters");
    EXPECT_EQ(wait.ItemText(IDC_WAIT_TEXT), "Please Wait....");
    EXPECT_EQ(GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
    wait.Destroy();
    EXPECT_FALSE(IsWindow(box));
}

}  // namespace


namespace {

// What the Update page's adapter lines did, seen from inside the running sheet.
struct LineChoice {
    CFlashDlg* page = nullptr;
    CConfUtilApp* app = nullptr;
    int lines = -1;
    std::vector<int> selected;  // the modem-list entry after choosing line 1, then line 0
};
LineChoice g_choice;

VOID CALLBACK ChooseLines(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    HWND page = g_choice.page->hwnd();
    HWND combo = GetDlgItem(page, IDC_UPD_ADAPTERS);
    g_choice.lines = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int line : {1, 0}) {
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(line), 0);
        SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_UPD_ADAPTERS, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
        g_choice.selected.push_back(g_choice.app->SelectedIndex());
    }
    PostMessageA(g_choice.page->SheetWindow(), WM_COMMAND, IDCANCEL, 0);
}

}  // namespace

// An entry whose modem could not be bound has no line on the Update page: the lines after it
// choose the entries they stand for, not the entries of their own number.
TEST_F(AppObjectTest, AdapterLinesChooseTheirOwnEntries) {
    auto unbound = std::make_unique<CCardInfo>("PCMCIA\\DORVEX-MODEM_56K-77C2\\3", FALSE);
    unbound->m_Flags = CCardInfo::kFlagModem;
    unbound->m_DeviceDesc = "Unbound modem";
    CModemInfo first;
    first.m_Card = unbound.get();
    app_.m_Modems.insert(app_.m_Modems.begin(), std::move(first));
    cards_.push_back(std::move(unbound));

    fw::PropertySheet sheet("Lines", PSH_NOAPPLYNOW);
    CFlashDlg page;
    sheet.AddPage(&page);
    g_choice = LineChoice{};
    g_choice.page = &page;
    g_choice.app = &app_;
    ASSERT_NE(SetTimer(nullptr, 0, 200, &ChooseLines), 0u);
    sheet.DoModal();
    EXPECT_EQ(g_choice.lines, 2);
    EXPECT_EQ(g_choice.selected, (std::vector<int>{2, 1}));
}
