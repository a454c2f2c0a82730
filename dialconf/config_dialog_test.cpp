// The configuration dialog against the simulated adapter: the settings it reads, the profiles it
// sends, saves and loads.
#include "dialconf/program_fixture.h"

namespace {

using Commands = std::vector<std::string>;

const Commands kReadSettings = {"AT\r", "AT ** PROT\r", "AT\r", "AT **ISDN\r", "AT\r", "AT **MSN\r",
                                "AT\r", "AT **PTP\r",   "ATI3\r"};

Commands Join(std::initializer_list<Commands> parts) {
    Commands all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

TEST_F(DialconfTest, ShowsTheAdapterSettingsAndSendsAnMsnProfile) {
    HWND dlg = OpenConfiguration();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(sim_.Commands(), kReadSettings);
    EXPECT_EQ(ui::ControlText(dlg, IDC_SETTINGS),
              "B-Channel Protocol: HDLC-PPP\nD-Channel Protocol: Europe-Euro-ISDN (DSS1)\nMSN: *\n"
              "Connection type: Point to Multipoint\nISDN Firmware version: " +
                  std::string(isdnsim::kDefaultFirmware));
    EXPECT_EQ(ui::ComboSelection(dlg, IDC_PROFILE), 1);  // Office
    EXPECT_TRUE(ui::IsVisible(dlg, IDC_MSN));
    EXPECT_FALSE(ui::IsVisible(dlg, IDC_SPID1));

    sim_.ClearLog();
    ui::SetEditText(dlg, IDC_MSN, "4930123");
    ui::SelectComboText(dlg, IDC_BCHANNEL, "X.75");
    ui::Click(dlg, IDC_SEND);
    EXPECT_EQ(AnswerMessageBox(), "Profile has been successfully stored in modem.");
    ASSERT_TRUE(ui::WaitDialog(p_.pid(), "ISDN Tamrisk Configuration"));
    Commands send = {"AT\r",          "AT #z=4930123\r", "AT &W\r",      "AT #H\r",
                     "AT\r",          "AT **PTP=0\r",    "AT &W\r",      "AT **PTP\r",
                     "AT\r",          "AT ** ISDN=0\r",  "AT &W\r",      "AT ** RESET\r",
                     "AT\r",          "AT ** ISDN\r",    "AT\r",         "AT **ISDN\r",
                     "AT\r",          "AT ** PROT=10\r", "AT &W\r",      "AT ** PROT\r"};
    // After a good send the settings are read again.
    for (int i = 0; i < 100 && sim_.Commands().size() < send.size() + kReadSettings.size(); ++i) Sleep(50);
    EXPECT_EQ(sim_.Commands(), Join({send, kReadSettings}));
    EXPECT_NE(ui::ControlText(dlg, IDC_SETTINGS).find("MSN: 4930123"), std::string::npos);

    ui::Click(dlg, IDOK);
    EXPECT_EQ(ExitCode(), 0u);
}

TEST_F(DialconfTest, SendsAUsProfileWithAnEmptySecondSpid) {
    HWND dlg = OpenConfiguration("win98", "firsttime");
    ASSERT_NE(dlg, nullptr);
    ui::SelectComboText(dlg, IDC_DCHANNEL, "USA - National1 and National2");
    EXPECT_FALSE(ui::IsVisible(dlg, IDC_MSN));
    EXPECT_TRUE(ui::IsVisible(dlg, IDC_SPID2));
    ui::SetEditText(dlg, IDC_PHONE, "5551234");
    ui::SetEditText(dlg, IDC_SPID1, "0155512340101");
    ui::SetEditText(dlg, IDC_SPID2, "");
    ui::ChooseRadio(dlg, IDC_POINT2POINT);
    sim_.ClearLog();
    ui::Click(dlg, IDC_SEND);
    EXPECT_EQ(AnswerMessageBox(), "Profile has been successfully stored in modem.");
    Commands log = sim_.Commands();
    Commands send = {"AT\r", "AT #z=5551234\r", "AT &W\r", "AT #H\r",
                     "AT\r", "AT**SPID1=0155512340101\r", "AT &W\r", "AT**SPID1\r",
                     "AT\r", "AT**SPID2=-\r", "AT &W\r", "AT**SPID2\r",
                     "AT\r", "AT **PTP=1\r", "AT &W\r", "AT **PTP\r",
                     "AT\r", "AT ** ISDN=5\r", "AT &W\r", "AT ** RESET\r", "AT\r", "AT ** ISDN\r",
                     "AT\r", "AT **ISDN\r",
                     "AT\r", "AT ** PROT=3\r", "AT &W\r", "AT ** PROT\r"};
    ASSERT_GE(log.size(), send.size());
    EXPECT_EQ(Commands(log.begin(), log.begin() + static_cast<long>(send.size())), send);
    isdnsim::Settings s = sim_.With([](isdnsim::IsdnAdapter& a) { return a.settings(); });
    EXPECT_EQ(s.spid[1], "-");
    EXPECT_FALSE(s.multipoint);
    EXPECT_EQ(s.switch_type, 5);

    // The US read-back adds the SPIDs; at a first run the installed note follows the dialog.
    for (int i = 0; i < 100 && ui::ControlText(dlg, IDC_SETTINGS).find("SPID 2: -") == std::string::npos; ++i)
        Sleep(50);
    EXPECT_NE(ui::ControlText(dlg, IDC_SETTINGS).find("Phone: 5551234\nSPID 1: 0155512340101   SPID 2: -"),
              std::string::npos);
    ui::Click(dlg, IDOK);
    HWND installed = ui::WaitDialog(p_.pid(), "Dorvex ISDN Installation");
    ASSERT_NE(installed, nullptr);
    ui::Click(installed, IDOK);
    EXPECT_EQ(ExitCode(), 0u);
}

TEST_F(DialconfTest, ListsWhatFailedAfterAWrongSwitchTypeReadBack) {
    HWND dlg = OpenConfiguration();
    ASSERT_NE(dlg, nullptr);
    sim_.With([](isdnsim::IsdnAdapter& a) { a.behaviour().fixed["ISDN"] = "0"; });
    ui::SelectComboText(dlg, IDC_DCHANNEL, "USA - 5ESS, Nortel, Bellcore U.S.");
    ui::SetEditText(dlg, IDC_PHONE, "5551234");
    ui::SetEditText(dlg, IDC_SPID1, "01555");
    ui::Click(dlg, IDC_SEND);
    EXPECT_EQ(AnswerMessageBox(), "Switch Type failed verificatioon");
    EXPECT_EQ(AnswerMessageBox(),
              "Make sure that the modem is inserted and that the ISDN adapter and cable are attached. The following "
              "settings failed to be set:  DCHANNEL");
    ui::Click(dlg, IDOK);
    EXPECT_EQ(ExitCode(), 0u);
}

TEST_F(DialconfTest, SavesAndLoadsProfiles) {
    HWND dlg = OpenConfiguration();
    ASSERT_NE(dlg, nullptr);

    // An invalid MSN: the switch type is written all the same, nothing else.
    ui::SetEditText(dlg, IDC_MSN, "12a");
    ui::Click(dlg, IDC_SAVE);
    EXPECT_EQ(AnswerMessageBox(), "MSNneeds to be an \\\"*\\\" or a number between 1 and 20 digits.");
    EXPECT_EQ(Settings()["Office"], (std::map<std::string, std::string>{{"SwitchType", "0"}}));

    ui::SelectComboText(dlg, IDC_DCHANNEL, "USA - 5ESS, Nortel, Bellcore U.S.");
    ui::SetEditText(dlg, IDC_PHONE, "5551234");
    ui::SetEditText(dlg, IDC_SPID1, "");
    ui::Click(dlg, IDC_SAVE);
    EXPECT_EQ(AnswerMessageBox(),
              "The spid settings need to contain numbers between 1 and 20 digits. SPID 1 must have a value, but SPID 2 "
              "can be empty.");
    ui::SetEditText(dlg, IDC_SPID1, "0155512340101");
    ui::ChooseRadio(dlg, IDC_POINT2POINT);
    ui::SelectComboText(dlg, IDC_BCHANNEL, "V.120");
    ui::Click(dlg, IDC_SAVE);
    for (int i = 0; i < 100 && Settings()["Office"].count("Protocol") == 0; ++i) Sleep(50);
    EXPECT_EQ(Settings()["Office"], (std::map<std::string, std::string>{{"SwitchType", "7"},
                                                                         {"Phone1", "5551234"},
                                                                         {"Spid1", "0155512340101"},
                                                                         {"Spid2", ""},
                                                                         {"Connection", "Point"},
                                                                         {"Protocol", "V.120"}}));

    // A stored switch type of 8 loads as VN4 with the MSN field.
    std::ofstream(Ini(), std::ios::app) << "[Home]\nSwitchType=8\nMsn=3312345\nConnection=Multi\nProtocol=X.75\n";
    ui::SelectComboText(dlg, IDC_PROFILE, "Home");
    EXPECT_EQ(ui::ControlText(dlg, IDC_DCHANNEL), "France - VN4");
    EXPECT_TRUE(ui::IsVisible(dlg, IDC_MSN));
    EXPECT_EQ(ui::ControlText(dlg, IDC_MSN), "3312345");
    EXPECT_EQ(ui::ControlText(dlg, IDC_PHONE), "*");
    EXPECT_EQ(ui::ControlText(dlg, IDC_BCHANNEL), "X.75");

    // A profile that was never saved: DSS1, "*", multipoint, HDLC-PPP.
    ui::SelectComboText(dlg, IDC_PROFILE, "Travel");
    EXPECT_EQ(ui::ControlText(dlg, IDC_DCHANNEL), "Europe-Euro-ISDN (DSS1)");
    EXPECT_EQ(ui::ControlText(dlg, IDC_MSN), "*");
    EXPECT_TRUE(ui::IsChecked(dlg, IDC_MULTIPOINT));
    EXPECT_FALSE(ui::IsChecked(dlg, IDC_POINT2POINT));
    EXPECT_EQ(ui::ControlText(dlg, IDC_BCHANNEL), "HDLC-PPP");

    // Loading the saved US profile back.
    ui::SelectComboText(dlg, IDC_PROFILE, "Office");
    EXPECT_EQ(ui::ControlText(dlg, IDC_DCHANNEL), "USA - 5ESS, Nortel, Bellcore U.S.");
    EXPECT_EQ(ui::ControlText(dlg, IDC_SPID1), "0155512340101");
    EXPECT_TRUE(ui::IsChecked(dlg, IDC_POINT2POINT));
    ui::Click(dlg, IDOK);
    EXPECT_EQ(ExitCode(), 0u);
}
