// The UI driver against a real GUI program in another process.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "winetest/process.h"
#include "winetest/ui.h"
#include "winetest/version.h"
#include "../tests/uiprobe.h"

namespace ui = winetest::ui;
using winetest::Process;

namespace {

std::string Probe() { return winetest::ProgramFolder() + "\\uiprobe.exe"; }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(UiDriver, ReadsAndAnswersAMessageBox) {
    struct Case {
        int button;
    } cases[] = {{IDYES}, {IDNO}};
    for (const auto& c : cases) {
        Process p;
        ASSERT_TRUE(p.Start(Probe(), "msgbox \"Unable to find the adapter.\"")) << p.last_error();
        HWND box = ui::WaitMessageBox(p.pid());
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(ui::IsMessageBox(box));
        EXPECT_EQ(ui::Text(box), "UI probe");
        EXPECT_EQ(ui::MessageBoxText(box), "Unable to find the adapter.");
        ASSERT_TRUE(ui::Click(box, c.button));
        ASSERT_TRUE(p.Wait(10000));
        EXPECT_EQ(p.exit_code(), static_cast<DWORD>(c.button));
    }
}

TEST(UiDriver, FillsADialogAndPressesOk) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string result = std::string(temp) + "uiprobe-result.txt";
    DeleteFileA(result.c_str());

    Process p;
    ASSERT_TRUE(p.Start(Probe(), "dialog \"" + result + "\""));
    HWND dlg = ui::WaitDialog(p.pid(), "UI probe");
    ASSERT_NE(dlg, nullptr);
    EXPECT_FALSE(ui::IsMessageBox(dlg));
    EXPECT_EQ(ui::ControlText(dlg, IDC_LABEL), "Name:");
    EXPECT_EQ(ui::ComboItems(dlg, IDC_PLACE), (std::vector<std::string>{"Home", "Office", "Travel"}));
    EXPECT_EQ(ui::ComboSelection(dlg, IDC_PLACE), 0);
    EXPECT_TRUE(ui::IsChecked(dlg, IDC_ONE));

    ASSERT_TRUE(ui::SetEditText(dlg, IDC_NAME, "Office line"));
    EXPECT_EQ(ui::ControlText(dlg, IDC_ECHO), "name Office line");  // the dialog saw EN_CHANGE
    ASSERT_TRUE(ui::SelectComboText(dlg, IDC_PLACE, "Travel"));
    EXPECT_EQ(ui::ControlText(dlg, IDC_ECHO), "place changed");
    EXPECT_FALSE(ui::SelectComboText(dlg, IDC_PLACE, "Moon"));
    ASSERT_TRUE(ui::ChooseRadio(dlg, IDC_TWO));
    EXPECT_FALSE(ui::IsChecked(dlg, IDC_ONE));
    ASSERT_TRUE(ui::SetCheck(dlg, IDC_CHECK, true));
    ASSERT_TRUE(ui::Click(dlg, IDOK));

    ASSERT_TRUE(ui::WaitGone(dlg));
    ASSERT_TRUE(p.Wait(10000));
    EXPECT_EQ(p.exit_code(), 1u);
    EXPECT_EQ(ReadAll(result), "name=Office line;place=Travel;radio=two;check=1");
    DeleteFileA(result.c_str());
}

TEST(UiDriver, WaitsGiveUpWhenNothingAppears) {
    Process p;
    ASSERT_TRUE(p.Start(Probe(), "none"));
    DWORD start = GetTickCount();
    EXPECT_EQ(ui::WaitMessageBox(p.pid(), 300), nullptr);
    EXPECT_LT(GetTickCount() - start, 3000u);
    ASSERT_TRUE(p.Wait(10000));
    EXPECT_EQ(p.exit_code(), 100u);
}

TEST(ProgramVersion, AStartedProgramRunsAsTheVersionItIsGiven) {
    struct Case {
        const char* version;
        DWORD expected;
    } cases[] = {
        {"win95", VER_PLATFORM_WIN32_WINDOWS << 16 | 4 << 8 | 0},
        {"nt40", VER_PLATFORM_WIN32_NT << 16 | 4 << 8 | 0},
        {"win2k", VER_PLATFORM_WIN32_NT << 16 | 5 << 8 | 0},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(winetest::SetProgramVersion("uiprobe.exe", c.version));
        Process p;
        ASSERT_TRUE(p.Start(Probe(), "version"));
        ASSERT_TRUE(p.Wait(10000));
        EXPECT_EQ(p.exit_code(), c.expected) << c.version;
    }
}
