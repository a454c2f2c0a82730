// serlink.ini as a table of files: every key over its built-in default, the hexadecimal reading,
// the accumulating B3 options word, identification texts cut to their fields; and the file in
// the Windows folder as dialconf writes it, carrying the link up.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "portbridge/stack/link_control.h"
#include "portbridge/ta_config.h"
#include "simulators/isdn/isdn_simulator.h"
#include "winetest/ports.h"

namespace portbridge {
namespace {

std::string TempFile(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof(dir), dir);
    return std::string(dir) + name + "_" + std::to_string(GetCurrentProcessId()) + ".ini";
}

// Reads `text` as a settings file (none at all when null).
struct Read {
    explicit Read(const char* text) : path(TempFile("serlink")) {
        DeleteFileA(path.c_str());
        if (text) std::ofstream(path) << text;
        cfg.setFile(path.c_str(), "COMM");
        cfg.readConfiguration();
    }
    ~Read() { DeleteFileA(path.c_str()); }
    std::string device() const {
        char d[16];
        cfg.serialDeviceName(d, sizeof(d));
        return d;
    }
    std::string path;
    CTaConfig cfg;
};

class SerlinkIni : public ::testing::Test {
protected:
    void SetUp() override { testing::resetProcessSwitches(); }
};

TEST_F(SerlinkIni, NoFileGivesTheBuiltInDefaults) {
    Read r(nullptr);
    EXPECT_EQ(r.device(), "COM2");
    EXPECT_EQ(r.cfg.port.baudRate, 115200u);
    EXPECT_EQ(r.cfg.link.windowSize, 4);
    EXPECT_EQ(r.cfg.link.t1, 1000);
    EXPECT_EQ(r.cfg.port.bufferSize, 6) << "a missing bufferSize reads 6, not 1024";
    EXPECT_EQ(b3OptionsWord(), 0x9u) << "B3 transmit window 10";
    EXPECT_EQ(messageTraceSwitch(), 0u);
    EXPECT_STREQ(r.cfg.identification.versionCommand, "");
    EXPECT_STREQ(r.cfg.port.modemInit, "ATCM3\r");
    EXPECT_EQ(r.cfg.port.word1, 4400);
    EXPECT_EQ(r.cfg.link.word2, 2200);
}

TEST_F(SerlinkIni, KeysOverTheDefaults) {
    struct Case {
        const char* text;
        const char* device;
        uint32_t baud;
        uint8_t window;
        uint16_t bufferSize;
        uint32_t trace;
    } cases[] = {
        {"[COMM]\ncomPort=5\n", "COM5", 115200, 4, 6, 0},
        {"[COMM]\ncomPort=12\nbaudRate=57600\nbufferSize=2048\n[HDLC]\nwindowSize=7\n", "COM12", 57600, 7, 2048, 0},
        {"[DEBUG]\ntraceCapiMessage=10\n", "COM2", 115200, 4, 6, 16},  // hexadecimal, also without 0x
        {"[DEBUG]\ntraceCapiMessage=0x1A\n", "COM2", 115200, 4, 6, 26},
        {"[COMM]\nbaudRate=\nbufferSize=\n", "COM2", 115200, 4, 6, 0},  // empty: the defaults
        {"[comm]\nCOMPORT=3\n", "COM3", 115200, 4, 6, 0},               // names in any case
        {"[HDLC]\nwindowSize=260\n", "COM2", 115200, 0, 6, 0},           // out of range, not 260 - 256
        {"[HDLC]\nwindowSize=-3\n", "COM2", 115200, 0, 6, 0},
        {"[HDLC]\nwindowSize=200\n", "COM2", 115200, 200, 6, 0},         // the link clamps it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Read r(c.text);
        EXPECT_EQ(r.device(), c.device);
        EXPECT_EQ(r.cfg.port.baudRate, c.baud);
        EXPECT_EQ(r.cfg.link.windowSize, c.window);
        EXPECT_EQ(r.cfg.port.bufferSize, c.bufferSize);
        EXPECT_EQ(messageTraceSwitch(), c.trace);
    }
}

TEST_F(SerlinkIni, B3OptionsOnlyGainBits) {
    {
        Read r("[CAPI]\ndataB3Transparent=2\ndataB3Confirmation=2\n");
        EXPECT_EQ(b3OptionsWord(), 0xAu);
    }
    {
        Read r("[CAPI]\ndataB3Transparent=1\ndataB3Confirmation=1\n");
        EXPECT_EQ(b3OptionsWord(), 0xBu);
    }
    {
        Read r("[CAPI]\ndataB3Transparent=0\ndataB3Confirmation=7\n");
        EXPECT_EQ(b3OptionsWord(), 0xBu);
    }
}

TEST_F(SerlinkIni, IdentificationTextsAreCutToTheirFields) {
    const std::string longAnswer(120, 'v');
    Read r(("[COMM]\nVersionCmd=ati3xxxxxxxx\nVersion=" + longAnswer + "\nTaNameCmd=ati\nTaName=ISDN Tamrisk\n").c_str());
    EXPECT_STREQ(r.cfg.identification.versionCommand, "ati3xxx");
    EXPECT_EQ(std::string(r.cfg.identification.versionAnswer), std::string(79, 'v'));
    EXPECT_STREQ(r.cfg.identification.nameCommand, "ati");
    EXPECT_STREQ(r.cfg.identification.nameAnswer, "ISDN Tamrisk");
}

TEST_F(SerlinkIni, ProfileAccess) {
    Read r("[COMM]\ncomPort=5\nTaName=x\n[EMPTY]\n");
    EXPECT_EQ(r.cfg.hasKey("COMM", "comPort"), 1);
    EXPECT_EQ(r.cfg.hasDefaultKey("baudRate"), 0);
    EXPECT_EQ(r.cfg.keyCount("COMM"), 2u);
    EXPECT_STREQ(r.cfg.keyNames("COMM", nullptr, 0), "");
    unsigned calls = 0;
    auto count = [](uintptr_t first, const char*, uintptr_t) -> uint32_t {
        ++*reinterpret_cast<unsigned*>(first);
        return 0;
    };
    EXPECT_EQ(r.cfg.forEachKey("COMM", count, reinterpret_cast<uintptr_t>(&calls), 0), 0u);
    EXPECT_EQ(calls, 2u);
    EXPECT_EQ(r.cfg.forEachKey("EMPTY", count, reinterpret_cast<uintptr_t>(&calls), 0), 259u);
    auto refuse = [](uintptr_t, const char*, uintptr_t) -> uint32_t { return 1; };
    EXPECT_EQ(r.cfg.forEachKey("COMM", refuse, 0, 0), 13u);
    EXPECT_EQ(r.cfg.setFile(TempFile("nothing_here").c_str(), "COMM"), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
}

std::atomic<int> g_established{0};
void Indication(void*, const stack::RuntimeMessage& m) {
    if (m.id() == stack::kEstablishedInd) ++g_established;
}

// dialconf writes [COMM] comPort into serlink.ini in the Windows folder; the provider's read of
// "SERLINK.INI" finds it there and the link comes up on that port.
TEST_F(SerlinkIni, LinkComesUpFromTheFileDialconfWrites) {
    winetest::PortPair pair = winetest::GetPortPair(0);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    const std::string file = std::string(windows) + "\\serlink.ini";
    DeleteFileA(file.c_str());
    const std::string number = pair.a.substr(3);
    ASSERT_TRUE(WritePrivateProfileStringA("COMM", "comPort", number.c_str(), file.c_str()));

    CTaConfig cfg;
    cfg.readConfiguration();
    char device[16];
    cfg.serialDeviceName(device, sizeof(device));
    EXPECT_EQ(std::string(device), pair.a);

    isdnsim::IsdnSimulator sim;
    ASSERT_TRUE(sim.Start(pair.b));
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            stack::runtimeTick();
            Sleep(10);
        }
    });
    stack::LinkSettings s;
    std::strcpy(s.portName, device);
    s.baudRate = cfg.port.baudRate;
    s.windowSize = cfg.link.windowSize;
    ASSERT_EQ(stack::startRuntime(&Indication, nullptr), 0u);
    EXPECT_EQ(stack::bringUpLink(s), 1u);
    EXPECT_EQ(stack::connectLink(), 0u);
    for (int i = 0; i < 1000 && !g_established; ++i) Sleep(10);
    EXPECT_EQ(g_established.load(), 1);
    stack::shutDownLink();
    stop = true;
    ticker.join();
    sim.Stop();
    DeleteFileA(file.c_str());
}

}  // namespace
}  // namespace portbridge
