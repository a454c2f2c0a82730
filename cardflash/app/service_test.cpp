// cardflash on Windows 2000, where it reads the registry through watchsvc: without the service it
// refuses to start; with it, it starts and ends cleanly.
#include "cardflash/app/watchsvc_case.h"

namespace {

const char kNoService[] = "Unable to start application, the Dorvex service is not installed properly.";

class CardflashServiceTest : public WatchsvcCase {};

}  // namespace

TEST_F(CardflashServiceTest, WithoutTheServiceItSaysSoAndEnds) {
    ASSERT_EQ(watchtest::RunServer(WatchsvcExe(), "/UnregServer"), 0u);
    Start("win2k");
    HWND box = ui::WaitMessageBox(p_.pid(), 30000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ui::MessageBoxText(box), kNoService);
    // The message is all there is: no wait box or other window beside it.
    for (HWND w : ui::TopWindows(p_.pid())) EXPECT_EQ(w, box) << ui::Text(w);
    ui::Click(box, IDOK);
    ASSERT_TRUE(p_.Wait(15000));
    EXPECT_EQ(p_.exit_code(), static_cast<DWORD>(-1));
    // It ended before detection: nothing logged, no settings written.
    EXPECT_EQ(GetFileAttributesA(LogFile().c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(Ini().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(CardflashServiceTest, WithTheServiceItStartsAndEndsCleanly) {
    ASSERT_NO_FATAL_FAILURE(RegisterWatchsvc());
    EXPECT_EQ(Run("win2k"), 0u);
    std::string log = Log();
    EXPECT_TRUE(HasLine(log, "Windows: Windows 2000 (index 8)")) << log;
    EXPECT_TRUE(HasLine(log, "Port manager: not open")) << log;
    EXPECT_EQ(CurLanguage(), "English");
}
