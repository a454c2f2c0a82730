// CTapi against the TAPI stand-in (standins/tapi32, loaded as TAPI32.DLL): the lines of each
// Initialize mode with their installed modems, the locations, the exact calls of MakeCall, the
// line events as texts with the redial question answered both ways, and the dialogs' failures.
#include "cardflash/flash/tapi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "standins/tapi_standin.h"
#include "winetest/registry.h"
#include "winetest/ui.h"

namespace {

namespace ui = winetest::ui;
using namespace tapi;

constexpr DWORD kData = kMediaDataModem;
constexpr DWORD kVoice = 0x4;  // interactive voice only

// What the notification function was told, and on which thread.
struct Told {
    std::string text;
    BOOL connected;
    DWORD handle;
    DWORD thread;
};
std::vector<Told> g_told;
void Notify(CTapi*, const char* text, BOOL connected, DWORD handle) {
    g_told.push_back({text, connected, handle, GetCurrentThreadId()});
}

// Answers the next message box of this process with `button` and keeps its text.
class BoxAnswer {
public:
    explicit BoxAnswer(int button) {
        thread_ = std::thread([this, button] {
            HWND box = ui::WaitMessageBox(GetCurrentProcessId(), 10000);
            if (!box) return;
            text_ = ui::MessageBoxText(box);
            ui::Click(box, button);
        });
    }
    ~BoxAnswer() { Join(); }
    std::string Text() {
        Join();
        return text_;
    }

private:
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    std::thread thread_;
    std::string text_;
};

class TapiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tapi.loaded()) << "TAPI32.DLL is not the stand-in (WINEDLLOVERRIDES=tapi32=n?)";
        g_told.clear();
    }
    // Delivers the events waiting for this thread.
    void Pump(CTapi& t) {
        for (int i = 0; i < 5; ++i) {
            t.PumpMessages();
            Sleep(10);
        }
    }
    std::string LastLine() const { return std::to_string(tapi.LastLine()); }

    standins::TapiStandin tapi;
};

const char kModems[] =
    "[HKLM\\Enum\\PCMCIA\\DORVEX-MODEM_56K-77C2\\1]\n"
    "\"Class\"=\"Modem\"\n"
    "\"DeviceDesc\"=\"Dorvex 56K PC Card Modem\"\n"
    "\"PORTNAME\"=\"COM3\"\n";

TEST_F(TapiTest, LinesOfEachModeWithTheirModems) {
    winetest::RegFixture reg(kModems);
    // The first line's capabilities do not fit the start size.
    tapi.AddLine("Dorvex 56K PC Card Modem", kData | kVoice, 1, 8, 3000);
    tapi.AddLine("Voice line", kVoice);
    tapi.AddLine("Other modem", kData);
    tapi.AddLocation(3, "Home");
    tapi.AddLocation(7, "Office");
    tapi.SetCurrentLocation(7);

    struct Case {
        int mode;
        std::vector<std::string> names;
        std::vector<DWORD> devices;
    } cases[] = {
        {CTapi::kModeDataModem, {"Dorvex 56K PC Card Modem", "Other modem"}, {0, 2}},
        {CTapi::kModeAllLines, {"Dorvex 56K PC Card Modem", "Voice line", "Other modem"}, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        tapi.ClearLog();
        CTapi t(FALSE);
        ASSERT_TRUE(t.Initialize(Notify, c.mode));
        ASSERT_EQ(t.m_LineCount, static_cast<int>(c.names.size()));
        for (int i = 0; i < t.m_LineCount; ++i) {
            EXPECT_EQ(t.m_LineNames[i], c.names[i]);
            EXPECT_EQ(t.m_DeviceIds[i], c.devices[i]);
            EXPECT_EQ(t.m_ModemKeys[i], i == 0 ? "PCMCIA\\DORVEX-MODEM_56K-77C2\\1" : "");
            EXPECT_NE(t.m_Icons[i], nullptr);
        }
        EXPECT_EQ(t.m_SelectedDevice, 0u);
        ASSERT_EQ(t.m_LocationCount, 2);
        EXPECT_EQ(t.m_LocationNames[0], "Home");
        EXPECT_EQ(t.m_LocationIds[1], 7u);
        EXPECT_EQ(t.m_CurrentLocation, 1);
        // The first line's capabilities were asked again at the size they need.
        std::vector<std::string> caps = tapi.Calls("lineGetDevCaps");
        ASSERT_EQ(caps.size(), 4u);
        EXPECT_EQ(caps[0], "lineGetDevCaps(app=" + std::to_string(t.m_LineApp) +
                               ", device=0, api=0x00010004, ext=0, total=1264)");
        EXPECT_NE(caps[1].find("device=0"), std::string::npos);
        EXPECT_EQ(caps[1].find("total=1264"), std::string::npos);
        EXPECT_NE(caps[2].find("device=1, api=0x00010004, ext=0, total=1264"), std::string::npos);
        EXPECT_EQ(tapi.Calls("lineGetTranslateCaps"),
                  (std::vector<std::string>{"lineGetTranslateCaps(app=" + std::to_string(t.m_LineApp) +
                                            ", api=0x00010004, total=44)",
                                            "lineGetTranslateCaps(app=" + std::to_string(t.m_LineApp) +
                                            ", api=0x00010004, total=" +
                                            std::to_string(44 + 2 * 68 + 5 + 7) + ")"}));
    }
    // Destruction closes nothing that is not open and shuts TAPI down.
    EXPECT_EQ(tapi.Calls("lineClose").size(), 0u);
    EXPECT_EQ(tapi.Calls("lineShutdown").size(), 1u);
}

TEST_F(TapiTest, RowsStopAtFifty) {
    for (int i = 0; i < 55; ++i) tapi.AddLine("Modem " + std::to_string(i), kData);
    for (DWORD i = 0; i < 60; ++i) tapi.AddLocation(100 + i, "Place " + std::to_string(i));
    tapi.SetCurrentLocation(155);  // beyond the rows kept: no current row
    CTapi t(FALSE);
    ASSERT_TRUE(t.Initialize(Notify, CTapi::kModeDataModem));
    EXPECT_EQ(t.m_LineCount, CTapi::kRows);
    EXPECT_EQ(t.m_LineNames[49], "Modem 49");
    EXPECT_EQ(t.m_LocationCount, CTapi::kRows);
    EXPECT_EQ(t.m_LocationNames[49], "Place 49");
    EXPECT_EQ(t.m_CurrentLocation, -1);
}

TEST_F(TapiTest, InitializeFailures) {
    {
        tapi.SetResult("lineInitialize", static_cast<LONG>(0x80000048u));  // LINEERR_REINIT
        BoxAnswer box(IDOK);
        CTapi t(FALSE);
        EXPECT_FALSE(t.Initialize(Notify, CTapi::kModeDataModem));
        EXPECT_EQ(box.Text(), "Unable to Initialize TAPI");
        EXPECT_EQ(tapi.Calls("lineGetDevCaps").size(), 0u);
    }
    EXPECT_EQ(tapi.Calls("lineShutdown").size(), 0u);  // nothing to shut down
    {
        tapi.AddLine("Modem", kData);
        tapi.SetResult("lineGetTranslateCaps", static_cast<LONG>(0x8000004Eu));
        CTapi t(FALSE);
        EXPECT_FALSE(t.Initialize(Notify, CTapi::kModeDataModem));
        EXPECT_EQ(t.m_LineCount, 1);
    }
}

TEST_F(TapiTest, MakeCallsExactSequence) {
    tapi.AddLine("Modem A", kData);
    tapi.AddLine("Modem B", kData);
    CTapi t(FALSE);
    ASSERT_TRUE(t.Initialize(Notify, CTapi::kModeDataModem));
    ASSERT_TRUE(t.SelectLine(1));
    tapi.ClearLog();
    ASSERT_TRUE(t.MakeCall("5551234"));
    std::string app = std::to_string(t.m_LineApp), line = LastLine();
    EXPECT_EQ(t.m_Line, tapi.LastLine());
    EXPECT_EQ(t.m_Call, tapi.LastCall());
    EXPECT_EQ(tapi.Log(),
              (std::vector<std::string>{
                  "lineGetDevCaps(app=" + app + ", device=1, api=0x00010004, ext=0, total=1264)",
                  "lineOpen(app=" + app + ", device=1, api=0x00010004, ext=0, instance=0, privileges=0x1, "
                                          "media=0x10, params=null)",
                  "lineSetStatusMessages(line=" + line + ", lineStates=0x1BFFFFF, addressStates=0x1FF)",
                  "lineGetAddressStatus(line=" + line + ", address=0, total=1088)",
                  "lineMakeCall(line=" + line + ", dest=5551234, country=0, params={total=112, bearer=0x1, "
                                                "media=0x10, flags=0x2, addressMode=0x1, addressId=0, others=0})",
              }));
    // The request's reply comes through this thread's messages.
    Pump(t);
    ASSERT_EQ(g_told.size(), 1u);
    EXPECT_EQ(g_told[0].text, "LINE_REPLY: Successfully replied");
    EXPECT_EQ(g_told[0].thread, GetCurrentThreadId());
    EXPECT_EQ(tapi.CallbackThread(), GetCurrentThreadId());
}

TEST_F(TapiTest, MakeCallFailures) {
    struct Case {
        const char* what;
        DWORD features, addressFeatures;
        std::vector<std::pair<const char*, LONG>> results;
        size_t opens, closes;
        bool makeCall;
    } cases[] = {
        {"line taken by another program", 8, 2, {{"lineOpen", kErrAllocated}}, 1, 0, false},
        {"other open errors are tried again",
         8, 2, {{"lineOpen", static_cast<LONG>(0x80000048u)}, {"lineOpen", static_cast<LONG>(0x80000048u)},
                {"lineOpen", static_cast<LONG>(0x80000048u)}}, 3, 0, false},
        {"a passing open error", 8, 2, {{"lineOpen", static_cast<LONG>(0x80000048u)}}, 2, 0, true},
        {"line cannot make calls", 0, 2, {}, 0, 0, false},
        {"address cannot make calls", 8, 0, {}, 1, 1, false},
        {"lineMakeCall fails with a TAPI error", 8, 2, {{"lineMakeCall", static_cast<LONG>(0x80000018u)}}, 1, 1,
         true},
        {"lineMakeCall answers 0", 8, 2, {{"lineMakeCall", 0}}, 1, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tapi.Reset();
        tapi.AddLine("Modem", kData, 1, c.features);
        tapi.SetAddressFeatures(c.addressFeatures);
        CTapi t(FALSE);
        ASSERT_TRUE(t.Initialize(Notify, CTapi::kModeDataModem));
        for (const auto& r : c.results) tapi.SetResult(r.first, r.second);
        bool expected = std::string(c.what) == "a passing open error";
        EXPECT_EQ(t.MakeCall("5551234") != FALSE, expected);
        EXPECT_EQ(tapi.Calls("lineOpen").size(), c.opens);
        EXPECT_EQ(tapi.Calls("lineClose").size(), c.closes);
        EXPECT_EQ(tapi.Calls("lineMakeCall").size(), c.makeCall ? 1u : 0u);
        if (!expected) {
            EXPECT_EQ(t.m_Line, 0u);
        }
    }
}

TEST_F(TapiTest, CallEventsAsTextsAndTheRedialQuestion) {
    tapi.AddLine("Modem", kData);
    struct Case {
        BOOL redial;
        int answer;  // 0: no question expected
        size_t makeCalls;
    } cases[] = {{TRUE, IDYES, 2}, {TRUE, IDNO, 1}, {FALSE, 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        g_told.clear();
        CTapi t(c.redial);
        ASSERT_TRUE(t.Initialize(Notify, CTapi::kModeDataModem));
        tapi.ClearLog();
        ASSERT_TRUE(t.MakeCall("5551234"));
        Pump(t);
        DWORD call = t.m_Call, line = t.m_Line;
        tapi.PostEvent(call, kLineCallState, kCallDialing, 0, kPrivilegeOwner);
        tapi.PostEvent(call, kLineCallState, kCallConnected, 0, 0);
        tapi.PostEvent(call, kLineCallState, kCallDisconnected, 0x20, 0);
        {
            std::unique_ptr<BoxAnswer> box;
            if (c.answer) box = std::make_unique<BoxAnswer>(c.answer);
            Pump(t);
            if (box) {
                EXPECT_EQ(box->Text(), "Unable to complete call, would you like to re-dial?");
            }
        }
        Pump(t);
        ASSERT_GE(g_told.size(), 4u);
        EXPECT_EQ(g_told[1].text, "Dialing Call");
        EXPECT_EQ(g_told[2].text, "Connected to Dorvex Server");
        EXPECT_TRUE(g_told[2].connected);
        EXPECT_EQ(g_told[2].handle, call);
        EXPECT_FALSE(g_told[1].connected);
        EXPECT_EQ(g_told[3].text, "Disconnected: Busy");
        // The line is closed either way; Yes dials the kept number again on a new line.
        std::vector<std::string> closes = tapi.Calls("lineClose");
        ASSERT_GE(closes.size(), 1u);
        EXPECT_EQ(closes[0], "lineClose(line=" + std::to_string(line) + ")");
        std::vector<std::string> calls = tapi.Calls("lineMakeCall");
        ASSERT_EQ(calls.size(), c.makeCalls);
        if (c.makeCalls == 2) {
            EXPECT_NE(calls[1].find("dest=5551234"), std::string::npos);
            EXPECT_NE(t.m_Line, 0u);
        } else {
            EXPECT_EQ(t.m_Line, 0u);
        }
    }
}

TEST_F(TapiTest, LineAndDeviceEvents) {
    tapi.AddLine("Modem", kData);
    CTapi t(TRUE);
    ASSERT_TRUE(t.Initialize(Notify, CTapi::kModeDataModem));
    struct Case {
        DWORD msg, p1, p2, p3;
        const char* text;  // nullptr: nothing told
        bool closes;
    } cases[] = {
        {kLineCallState, kCallConnected, 0, kPrivilegeMonitor, nullptr, false},  // monitor privilege: ignored
        {kLineCallState, kCallBusy, 0, 0, "Line is busy", true},
        {kLineCallState, kCallIdle, 0, 0, "Line is idle", true},
        {kLineClose, 0, 0, 0, "Call was shutdown", true},
        {kLineDevState, kDevRinging, 0, 0, "Line Ringing", false},
        {kLineDevState, kDevOutOfService, 0, 0, "Line selected is now Out of Service", true},
        {kLineReply, 4, 0x80000005u, 0, "LINE_REPLY: Error", false},
        {kLineCreate, 5, 0, 0, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.msg) + "/" + std::to_string(c.p1));
        ASSERT_TRUE(t.MakeCall("5551234"));
        Pump(t);
        g_told.clear();
        tapi.ClearLog();
        DWORD line = t.m_Line;
        tapi.PostEvent(t.m_Call, c.msg, c.p1, c.p2, c.p3);
        Pump(t);
        if (c.text) {
            ASSERT_EQ(g_told.size(), 1u);
            EXPECT_EQ(g_told[0].text, c.text);
        } else {
            EXPECT_TRUE(g_told.empty());
        }
        EXPECT_EQ(tapi.Calls("lineClose"),
                  c.closes ? std::vector<std::string>{"lineClose(line=" + std::to_string(line) + ")"}
                           : std::vector<std::string>{});
        t.CloseLine();
    }
}

TEST_F(TapiTest, TranslationLocationsAndDialogs) {
    tapi.AddLine("Modem", kData);
    tapi.AddLocation(3, "Home");
    tapi.AddLocation(7, "Office");
    tapi.SetCurrentLocation(3);
    tapi.SetDialable("9,5551234");
    CTapi t(FALSE);
    ASSERT_TRUE(t.Initialize(Notify, CTapi::kModeDataModem));
    std::string app = std::to_string(t.m_LineApp);
    tapi.ClearLog();

    EXPECT_EQ(t.GetDialableString("5551234"), "9,5551234");
    EXPECT_EQ(tapi.Calls("lineTranslateAddress"),
              (std::vector<std::string>{"lineTranslateAddress(app=" + app +
                                        ", device=0, api=0x00010004, address=5551234, card=0, options=2, "
                                        "total=1064)"}));
    {
        tapi.SetResult("lineTranslateAddress", static_cast<LONG>(0x80000006u));
        BoxAnswer box(IDOK);
        EXPECT_EQ(t.GetDialableString("5551234"), "");
        EXPECT_EQ(box.Text(), "Unable to translate phone number");
    }

    // The dialog may change the current location: it is looked up again afterwards.
    tapi.SetCurrentLocation(7);
    t.TranslateDialog(nullptr, "5551234");
    EXPECT_EQ(t.m_CurrentLocation, 1);
    {
        tapi.SetResult("lineTranslateDialog", static_cast<LONG>(0x80000006u));
        BoxAnswer box(IDOK);
        t.TranslateDialog(nullptr, "5551234");
        EXPECT_EQ(box.Text(), "Can't open Tapi error right now.");
    }
    tapi.ClearLog();
    t.SetCurrentLocation();
    t.ConfigDialog(nullptr);
    EXPECT_EQ(tapi.Log(), (std::vector<std::string>{"lineSetCurrentLocation(app=" + app + ", location=7)",
                                                    "lineConfigDialog(device=0, owner=null, class=comm/datamodem)"}));
}

}  // namespace
