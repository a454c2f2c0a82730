// The provider process end to end: portbridge's window and named objects, reached from this test
// program through the stand-in capi2032.dll beside it (and, for what a well-behaved library never
// sends, through the window directly), with the test provider behind the window
// (portbridge_testhost.exe, which logs every provider call to a file).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "portbridge/capi/shared_layout.h"
#include "winetest/process.h"

using namespace shared;

namespace {

constexpr UINT kOpenPort = WM_USER + 104, kClosePort = WM_USER + 105, kCall = WM_USER + 106,
               kAttach = WM_USER + 108, kDetach = WM_USER + 109, kShutDown = WM_USER + 110;

// The id the stand-in library chooses for this process.
uint32_t libraryInstanceId() { return (GetCurrentProcessId() << 8) | 0x5A; }

struct CapiLibrary {
    HMODULE module = nullptr;
    DWORD(WINAPI* Register)(DWORD, DWORD, DWORD, DWORD, DWORD*) = nullptr;
    DWORD(WINAPI* Release)(DWORD) = nullptr;
    DWORD(WINAPI* Put)(DWORD, void*) = nullptr;
    DWORD(WINAPI* Get)(DWORD, void**) = nullptr;
    DWORD(WINAPI* Wait)(DWORD) = nullptr;
    DWORD(WINAPI* Manufacturer)(char*) = nullptr;
    DWORD(WINAPI* Version)(DWORD*, DWORD*, DWORD*, DWORD*) = nullptr;
    DWORD(WINAPI* SerialNumber)(char*) = nullptr;
    DWORD(WINAPI* Profile)(void*, DWORD) = nullptr;
    DWORD(WINAPI* Installed)() = nullptr;

    template <typename F>
    void bind(F& f, const char* name) {
        f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    bool load() {
        module = LoadLibraryA((winetest::ProgramFolder() + "\\capi2032.dll").c_str());
        if (!module) return false;
        bind(Register, "CAPI_REGISTER");
        bind(Release, "CAPI_RELEASE");
        bind(Put, "CAPI_PUT_MESSAGE");
        bind(Get, "CAPI_GET_MESSAGE");
        bind(Wait, "CAPI_WAIT_FOR_SIGNAL");
        bind(Manufacturer, "CAPI_GET_MANUFACTURER");
        bind(Version, "CAPI_GET_VERSION");
        bind(SerialNumber, "CAPI_GET_SERIAL_NUMBER");
        bind(Profile, "CAPI_GET_PROFILE");
        bind(Installed, "CAPI_INSTALLED");
        return Register && Release && Put && Get && Wait && Manufacturer && Version && SerialNumber && Profile && Installed;
    }
    void unload() {
        if (module) FreeLibrary(module);
        module = nullptr;
    }
};

// A named section opened by this test, with its real size.
struct Section {
    HANDLE handle = nullptr;
    uint8_t* view = nullptr;
    explicit Section(const std::string& name) {
        handle = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
        if (handle) view = static_cast<uint8_t*>(MapViewOfFile(handle, FILE_MAP_WRITE, 0, 0, 0));
    }
    ~Section() {
        if (view) UnmapViewOfFile(view);
        if (handle) CloseHandle(handle);
    }
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;
    // The size of the section in whole pages (Wine keeps sections page-rounded; Windows gives
    // the creator's size, which rounds to the same).
    int64_t pages() const {
        struct BasicInformation {
            void* base;
            ULONG attributes;
            LARGE_INTEGER size;
        } info = {};
        typedef LONG(WINAPI * QuerySection)(HANDLE, int, void*, ULONG, ULONG*);
        auto query = reinterpret_cast<QuerySection>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySection")));
        if (!handle || !query || query(handle, 0, &info, sizeof info, nullptr) != 0) return -1;
        return (info.size.QuadPart + 4095) / 4096;
    }
};

// A DATA_B3_REQ that names its payload as an application of this platform does (Data, or Data64
// in 30 bytes on a 64-bit build).
std::vector<uint8_t> dataB3Req(uint32_t ncci, const void* data, uint16_t length, uint16_t handle) {
    std::vector<uint8_t> m(capib3::kLength64, 0);
    put16(&m[0], 22);
    m[4] = 0x86;
    m[5] = 0x80;
    put32(&m[kNcci], ncci);
    put16(&m[kDataLength], length);
    put16(&m[kDataHandle], handle);
    m.resize(capib3::name(m.data(), m.size(), 22, capib3::addressOf(data), capib3::kWideAddresses));
    return m;
}

// The payload a DATA_B3_IND got from the library names, in either form.
const uint8_t* indicationData(const uint8_t* ind) { return capib3::pointer(capib3::address(ind, get16(ind))); }

// How the provider logs a DATA_B3_REQ put: its length is this platform's form.
const char* kDataB3ReqPut = capib3::kWideAddresses ? "put 1 8086 30" : "put 1 8086 22";

std::vector<uint8_t> dataB3Resp(uint32_t ncci, uint16_t handle) {
    std::vector<uint8_t> m(14, 0);
    put16(&m[0], 14);
    m[4] = 0x86;
    m[5] = 0x83;
    put32(&m[kNcci], ncci);
    put16(&m[kRespHandle], handle);
    return m;
}

// A command of the test provider: 1 (indications of `length` bytes from `seed` on, `count` of
// them; 5 the same in the CAPI 1.1 form), 2 (one MANUFACTURER_IND of `length` bytes), 3 (a
// DISCONNECT_B3_IND for `ncci`) or 4 (`length` 1: take DATA_B3_REQ without confirming them).
std::vector<uint8_t> testCommand(uint16_t command, uint32_t ncci, uint16_t length, uint8_t seed = 0, uint8_t count = 1) {
    std::vector<uint8_t> m(22, 0);
    put16(&m[0], 22);
    m[4] = 0xFF;
    m[5] = 0x80;
    put32(&m[8], ncci);
    std::memcpy(&m[12], "test", 4);
    put16(&m[16], command);
    put16(&m[18], length);
    m[20] = seed;
    m[21] = count;
    return m;
}

class ProviderProcess : public ::testing::Test {
protected:
    void TearDown() override {
        capi_.unload();
        host_.Terminate();
        DeleteFileA(log_.c_str());
    }

    // Starts `program` (the test host unless named) and waits for its window.
    void startProvider(const std::string& args = "", const std::string& program = "portbridge_testhost.exe") {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        log_ = std::string(temp) + "portbridge-process-test.log";
        DeleteFileA(log_.c_str());
        ASSERT_TRUE(host_.Start(winetest::ProgramFolder() + "\\" + program, "--log=" + log_ + " " + args));
        for (int i = 0; i < 1000 && !window_; ++i) {
            HWND w = FindWindowA("capispAppWinClass", "TA capi service provider");
            DWORD pid = 0;
            if (w) GetWindowThreadProcessId(w, &pid);
            if (w && pid == host_.pid()) window_ = w;
            else Sleep(10);
        }
        ASSERT_NE(window_, nullptr) << "the provider window did not appear";
    }

    DWORD send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        DWORD_PTR result = 0xDEAD;
        EXPECT_TRUE(SendMessageTimeoutA(window_, message, wParam, lParam, SMTO_NORMAL, 20000, &result));
        return DWORD(result);
    }

    std::vector<std::string> log() const {
        std::vector<std::string> lines;
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    int count(const std::string& prefix) const {
        int n = 0;
        for (const std::string& line : log()) n += line.compare(0, prefix.size(), prefix) == 0;
        return n;
    }

    DWORD registerApp(DWORD connections, DWORD blocks, DWORD length, DWORD* id) {
        return capi_.Register(connections * blocks * length, connections, blocks, length, id);
    }
    DWORD put(DWORD id, std::vector<uint8_t> m) { return capi_.Put(id, m.data()); }
    const uint8_t* get(DWORD id, DWORD expected = 0) {
        void* p = nullptr;
        EXPECT_EQ(capi_.Get(id, &p), expected);
        return static_cast<const uint8_t*>(p);
    }

    winetest::Process host_;
    HWND window_ = nullptr;
    std::string log_;
    CapiLibrary capi_;
};

TEST_F(ProviderProcess, SecondCopyEndsWithExitCodeTwo) {
    startProvider();
    winetest::Process second;
    ASSERT_TRUE(second.Start(winetest::ProgramFolder() + "\\portbridge.exe"));
    ASSERT_TRUE(second.Wait(10000));
    EXPECT_EQ(second.exit_code(), 2u);
    EXPECT_TRUE(host_.running());
}

TEST_F(ProviderProcess, WindowMessagesFromNoClient) {
    startProvider();
    struct Case {
        const char* what;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        DWORD result;
    } cases[] = {
        {"call from an instance never attached", kCall, kFnRegister, 0x77777777, kInfoResources},
        {"detach of an instance never attached", kDetach, 0x77777777, 0, kInfoUnknownApplication},
        {"the unused message number", WM_USER + 107, 1, 2, 0},
        {"attach with a section too small for the id", kAttach, 0x1234, 100, kInfoResources},
        {"attach with a section of 2 GiB less a byte", kAttach, 0x1235, 0x7FFFFFFF, kInfoResources},
        {"open the adapter port", kOpenPort, 1, 0, 0},
        {"open a port that does not exist", kOpenPort, 2, 0, 4},
        {"close the adapter port", kClosePort, 1, 0, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(send(c.message, c.wParam, c.lParam), c.result) << c.what;
    EXPECT_EQ(count("open 1"), 1);
    EXPECT_EQ(count("open 2"), 1);
    EXPECT_EQ(count("close 1"), 1);
    EXPECT_EQ(count("register"), 0);
    EXPECT_TRUE(host_.running());
}

TEST_F(ProviderProcess, CloseWaitsForTheLastInstance) {
    startProvider();
    const uint32_t id = 0x00ABCD01;
    ASSERT_EQ(send(kAttach, id, 512), id & 0xFFFF);
    Section section(instanceSectionName(id));
    ASSERT_NE(section.view, nullptr);
    EXPECT_EQ(section.pages(), 1);
    EXPECT_EQ(get32(section.view + kInstanceId), id);
    section.view[0] = 0x5A;
    ASSERT_EQ(send(kAttach, id, 512), id & 0xFFFF) << "attached twice";
    EXPECT_EQ(section.view[0], 0x5A) << "the existing section is mapped again, not cleared";

    EXPECT_EQ(send(WM_CLOSE), 5u);
    EXPECT_EQ(send(kDetach, id), 0u);
    EXPECT_EQ(send(WM_CLOSE), 5u) << "the second attachment remains";
    EXPECT_EQ(send(kDetach, id), 0u);
    EXPECT_EQ(send(kDetach, id), kInfoUnknownApplication);
    EXPECT_TRUE(host_.running());
    EXPECT_EQ(send(WM_CLOSE), 0u);
    ASSERT_TRUE(host_.Wait(10000));
    EXPECT_EQ(host_.exit_code(), 0u);
}

// The idle delay is 3 s; the provider must outlive it when an attach came in between.
TEST_F(ProviderProcess, IdleShutDownCancelledByAnAttachRunsOnTheMainThread) {
    startProvider();
    const uint32_t id = 0x00ABCD02;
    EXPECT_EQ(send(kShutDown), 5u);
    ASSERT_EQ(send(kAttach, id, 256), id & 0xFFFF);
    EXPECT_FALSE(host_.Wait(4500)) << "an attach cancels the shut-down";
    EXPECT_EQ(count("shutdown"), 0);

    EXPECT_EQ(send(kDetach, id), 0u);
    EXPECT_EQ(send(kShutDown), 5u);
    ASSERT_TRUE(host_.Wait(15000));
    EXPECT_EQ(host_.exit_code(), 0u);
    std::vector<std::string> lines = log();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front().substr(0, 6), "start ");
    EXPECT_EQ(lines.back(), "shutdown " + lines.front().substr(6)) << "shut down on the thread that started it";
}

TEST_F(ProviderProcess, SharedObjectsOfAnApplication) {
    startProvider();
    ASSERT_TRUE(capi_.load());
    DWORD app = 0;
    ASSERT_EQ(registerApp(2, 3, 1500, &app), 0u);
    ASSERT_EQ(app, 1u);
    EXPECT_EQ(count("register 2 3 1500 v0 q0"), 1);
    EXPECT_EQ(count("signal 1"), 1);
    {
        Section instance(instanceSectionName(libraryInstanceId()));
        Section record("AP01"), tx("TX01"), rx("RX01");
        ASSERT_NE(instance.view, nullptr);
        ASSERT_NE(record.view, nullptr);
        EXPECT_EQ(instance.pages(), 1);
        EXPECT_EQ(get32(instance.view + kInstanceId), libraryInstanceId());
        EXPECT_EQ(get16(instance.view + kAppIdResult), 1u);
        EXPECT_EQ(record.pages(), 1);
        EXPECT_EQ(tx.pages(), 3) << "2 x 3 slots of 1500 bytes";
        EXPECT_EQ(rx.pages(), 3);
        EXPECT_EQ(get32(record.view + kRecordAppId), 1u);
        EXPECT_EQ(get32(record.view + kRecordSlotSize), 1500u);
        HANDLE request = OpenEventA(SYNCHRONIZE, FALSE, "serlinkRequest01");
        HANDLE signal = OpenSemaphoreA(SYNCHRONIZE, FALSE, "serlinkSignal01");
        EXPECT_NE(request, nullptr);
        EXPECT_NE(signal, nullptr);
        EXPECT_EQ(WaitForSingleObject(request, 0), WAIT_OBJECT_0) << "set at creation";
        EXPECT_EQ(WaitForSingleObject(signal, 0), DWORD(WAIT_TIMEOUT)) << "no message yet";
        if (request) CloseHandle(request);
        if (signal) CloseHandle(signal);
    }

    char text[64];
    EXPECT_EQ(capi_.Manufacturer(text), 0u);
    EXPECT_STREQ(text, "Test provider");
    DWORD v[4] = {};
    EXPECT_EQ(capi_.Version(&v[0], &v[1], &v[2], &v[3]), 0u);
    EXPECT_EQ(std::vector<DWORD>(v, v + 4), (std::vector<DWORD>{2, 0, 1, 7}));
    EXPECT_EQ(capi_.SerialNumber(text), 0u);
    EXPECT_STREQ(text, "0815");
    uint8_t profile[64];
    EXPECT_EQ(capi_.Profile(profile, 0), 0u);
    EXPECT_EQ(get16(profile), 1u) << "one controller";
    EXPECT_EQ(capi_.Profile(profile, 1), 0u);
    EXPECT_EQ(profile[63], 64);

    EXPECT_EQ(capi_.Release(app), 0u);
    EXPECT_EQ(capi_.Release(app), kInfoUnknownApplication);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "AP01"), nullptr) << "released with the application";
}

TEST_F(ProviderProcess, ReleaseWakesTheWaiterAndUnloadDetaches) {
    startProvider();
    ASSERT_TRUE(capi_.load());
    DWORD first = 0, second = 0;
    ASSERT_EQ(registerApp(1, 2, 64, &first), 0u);
    ASSERT_EQ(registerApp(1, 2, 64, &second), 0u);
    DWORD waited = 0xDEAD;
    std::thread waiter([&] { waited = capi_.Wait(first); });
    Sleep(50);  // usually inside the wait by now; either way the release must end it
    EXPECT_EQ(capi_.Release(first), 0u);
    waiter.join();
    EXPECT_EQ(waited, kInfoUnknownApplication);

    capi_.unload();  // `second` is still registered: the library releases it and detaches
    EXPECT_EQ(count("release 2"), 1);
    EXPECT_EQ(send(WM_CLOSE), 0u) << "no instance left";
    ASSERT_TRUE(host_.Wait(10000));
}

TEST_F(ProviderProcess, DataBothWaysThroughTheSlots) {
    startProvider();
    ASSERT_TRUE(capi_.load());
    DWORD app = 0;
    ASSERT_EQ(registerApp(1, 2, 200, &app), 0u);
    const uint32_t ncci = 0x00010101;
    // More blocks than slots: each TX slot comes back with its confirmation, each RX slot with
    // the answer to its indication.
    for (int round = 0; round < 6; ++round) {
        std::vector<uint8_t> data(200);
        for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(round * 31 + i);
        ASSERT_EQ(put(app, dataB3Req(ncci, data.data(), 200, uint16_t(100 + round))), 0u);
        ASSERT_EQ(capi_.Wait(app), 0u);
        const uint8_t* conf = get(app);
        ASSERT_NE(conf, nullptr);
        EXPECT_EQ(commandWord(conf), 0x8186);
        EXPECT_EQ(get16(conf + 12), 100 + round);
        ASSERT_EQ(capi_.Wait(app), 0u);
        const uint8_t* ind = get(app);
        ASSERT_NE(ind, nullptr);
        ASSERT_EQ(commandWord(ind), kDataB3Ind);
        ASSERT_EQ(get16(ind + kDataLength), 200u);
        const uint8_t* payload = indicationData(ind);
        EXPECT_EQ(std::memcmp(payload, data.data(), 200), 0) << "round " << round;
        EXPECT_EQ(put(app, dataB3Resp(ncci, get16(ind + kDataHandle))), 0u);
    }
    EXPECT_EQ(count(kDataB3ReqPut), 6);
    EXPECT_EQ(count("put 1 8386 14"), 6);

    // Both TX slots held by unconfirmed requests: a third waits for a confirmation.
    uint8_t block[200] = {};
    EXPECT_EQ(put(app, dataB3Req(ncci, block, 200, 1)), 0u);
    EXPECT_EQ(put(app, dataB3Req(ncci, block, 200, 2)), 0u);
    EXPECT_EQ(put(app, dataB3Req(ncci, block, 200, 3)), kInfoQueueFull);
    EXPECT_EQ(put(app, dataB3Req(ncci, block, 201, 3)), kInfoBadParameter) << "longer than a slot";
    EXPECT_EQ(count(kDataB3ReqPut), 8);
}

// Requests still unconfirmed when their B3 connection ends (hang-up, lost link) give their TX
// slots back with the DISCONNECT_B3_IND: none is ever confirmed now.
TEST_F(ProviderProcess, TransmitSlotsComeBackWhenTheConnectionEnds) {
    startProvider();
    ASSERT_TRUE(capi_.load());
    DWORD app = 0;
    ASSERT_EQ(registerApp(1, 2, 200, &app), 0u);
    const uint32_t ncci = 0x00010101;
    ASSERT_EQ(put(app, testCommand(4, ncci, 1)), 0u);
    uint8_t block[200] = {};
    ASSERT_EQ(put(app, dataB3Req(ncci, block, 200, 1)), 0u);
    ASSERT_EQ(put(app, dataB3Req(ncci, block, 200, 2)), 0u);
    ASSERT_EQ(put(app, dataB3Req(ncci, block, 200, 3)), kInfoQueueFull);
    ASSERT_EQ(put(app, testCommand(3, ncci, 0)), 0u);
    bool ended = false;
    for (int i = 0; i < 10 && !ended; ++i) {
        const uint8_t* m = get(app);
        ASSERT_NE(m, nullptr);
        ended = commandWord(m) == 0x8284;
        if (commandWord(m) == kDataB3Ind) put(app, dataB3Resp(ncci, get16(m + kDataHandle)));
    }
    ASSERT_TRUE(ended);
    EXPECT_EQ(put(app, dataB3Req(0x00010102, block, 200, 4)), 0u) << "the slots are free again";
    EXPECT_EQ(put(app, dataB3Req(0x00010102, block, 200, 5)), 0u);
}

// A DATA_B3_IND in the CAPI 1.1 form (subcommand 0x02) crosses the sections as the 2.0 form does:
// its Data names the client's RX slot, never an address of the provider.
TEST_F(ProviderProcess, Capi11DataB3IndicationUsesTheSlots) {
    startProvider();
    ASSERT_TRUE(capi_.load());
    DWORD app = 0;
    ASSERT_EQ(registerApp(1, 2, 200, &app), 0u);
    ASSERT_EQ(put(app, testCommand(5, 0x00010101, 40, 9)), 0u);
    ASSERT_EQ(capi_.Wait(app), 0u);
    const uint8_t* ind = get(app);
    ASSERT_NE(ind, nullptr);
    EXPECT_EQ(ind[5], 0x02);
    ASSERT_EQ(get16(ind + kDataLength), 40u);
    const uint8_t* payload = indicationData(ind);
    ASSERT_NE(payload, nullptr);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(payload[i], uint8_t(9 + i)) << i;
}

TEST_F(ProviderProcess, IndicationsCutLostAndAnsweredByHandle) {
    startProvider();
    ASSERT_TRUE(capi_.load());
    DWORD app = 0;
    ASSERT_EQ(registerApp(1, 2, 100, &app), 0u);
    const uint32_t ncci = 0x00010101;

    ASSERT_EQ(put(app, testCommand(1, ncci, 150, 7)), 0u);
    const uint8_t* ind = get(app);
    ASSERT_NE(ind, nullptr);
    EXPECT_EQ(get16(ind + kDataLength), 100u) << "cut to the slot, and the length says so";
    const uint8_t* payload = indicationData(ind);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(payload[i], uint8_t(7 + i)) << i;
    uint16_t firstHandle = get16(ind + kDataHandle);

    // Two more with one slot left: the second is lost, never handed on.
    ASSERT_EQ(put(app, testCommand(1, ncci, 50, 1, 2)), 0u);
    ind = get(app);
    ASSERT_NE(ind, nullptr);
    const uint8_t* secondSlot = indicationData(ind);
    uint16_t secondHandle = get16(ind + kDataHandle);
    get(app, kInfoMessageLost);
    get(app, kInfoQueueEmpty);

    // Answering the newer indication frees its own slot, not the oldest.
    ASSERT_EQ(put(app, dataB3Resp(ncci, secondHandle)), 0u);
    ASSERT_EQ(put(app, testCommand(1, ncci, 10, 0, 1)), 0u);
    ind = get(app);
    ASSERT_NE(ind, nullptr);
    EXPECT_EQ(indicationData(ind), secondSlot);
    EXPECT_EQ(put(app, dataB3Resp(ncci, firstHandle)), 0u);

    // A message longer than the get area is cut, its length with it.
    ASSERT_EQ(put(app, testCommand(2, ncci, 300)), 0u);
    const uint8_t* m = get(app);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(commandWord(m), 0x82FF);
    EXPECT_EQ(get16(m), 282u);
    for (int i = 8; i < 282; ++i) ASSERT_EQ(m[i], uint8_t(i)) << i;
}

// What a well-behaved library never sends: written straight into the shared bytes.
TEST_F(ProviderProcess, ClientValuesCheckedBeforeTheProvider) {
    startProvider();
    ASSERT_TRUE(capi_.load());
    DWORD app = 0;
    ASSERT_EQ(registerApp(1, 2, 100, &app), 0u);
    Section instance(instanceSectionName(libraryInstanceId()));
    Section record("AP01");
    ASSERT_NE(instance.view, nullptr);
    ASSERT_NE(record.view, nullptr);
    auto call = [&](uint32_t function, const std::vector<uint8_t>& message, uint16_t application) {
        if (!message.empty()) std::memcpy(record.view + kPutArea, message.data(), message.size());
        uint8_t* block = instance.view + (function == kFnGet ? kGetBlock : kCallBlock);
        std::memset(block, 0, kBlockSize);
        put16(block + 4, application);
        return send(kCall, function, libraryInstanceId());
    };
    auto withLength = [](std::vector<uint8_t> m, uint16_t length) {
        put16(&m[0], length);
        return m;
    };
    uint8_t data[100] = {};
    std::vector<uint8_t> good = dataB3Req(0x10101, nullptr, 100, 1);
    put32(&good[kData], 1);  // the last TX slot
    std::vector<uint8_t> pastSection = good, tooLong = dataB3Req(0x10101, nullptr, 101, 1);
    put32(&pastSection[kData], 2);
    struct Case {
        const char* what;
        uint32_t function;
        std::vector<uint8_t> message;
        uint16_t application;
        DWORD result;
    } cases[] = {
        {"TX slot index past the section", kFnPut, pastSection, 1, kInfoBadParameter},
        {"data longer than a TX slot", kFnPut, tooLong, 1, kInfoBadParameter},
        {"data request too short for its fields", kFnPut, withLength(good, 21), 1, kInfoBadParameter},
        {"message shorter than a header", kFnPut, withLength(good, 11), 1, kInfoBadMessage},
        {"message longer than the put area", kFnPut, withLength(good, 283), 1, kInfoBadMessage},
        {"put for an application without shared objects", kFnPut, good, 5, kInfoUnknownApplication},
        {"get for an application without shared objects", kFnGet, {}, 5, kInfoUnknownApplication},
        {"a signal procedure of another process", kFnSignal, {}, 1, kInfoBadMessage},
        {"the good request", kFnPut, good, 1, 0},
    };
    (void)data;
    for (const Case& c : cases) EXPECT_EQ(call(c.function, c.message, c.application), c.result) << c.what;
    EXPECT_EQ(count("put "), 1) << "only the good request reached the provider";
    EXPECT_EQ(count("get "), 0);

    // The version text goes to the result buffer, not to the address the client named.
    uint8_t* block = instance.view + kCallBlock;
    std::memset(block, 0, kBlockSize);
    put16(block + 6, kVersionTextSelector);
    put32(block + 8, 0x12345678);
    EXPECT_EQ(send(kCall, kFnVersion, libraryInstanceId()), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(instance.view + kResultBuffer), "test 1.0");
    EXPECT_TRUE(host_.running());
}

TEST_F(ProviderProcess, FailedSharedObjectsReleaseTheApplication) {
    startProvider();
    ASSERT_TRUE(capi_.load());
    // A TX section that exists already, smaller than the application needs (2 x 7 x 2048).
    HANDLE squatter = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "TX01");
    ASSERT_NE(squatter, nullptr);
    DWORD app = 0;
    EXPECT_EQ(registerApp(2, 7, 2048, &app), kInfoResources);
    EXPECT_EQ(app, 0u);
    EXPECT_EQ(count("registered 1"), 1);
    EXPECT_EQ(count("release 1"), 1) << "the provider's object goes back";
    CloseHandle(squatter);
    // An application record that exists already, big enough but only reserved: a write to it
    // would fault in the provider.
    squatter = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_RESERVE, 0, 65536, "AP01");
    ASSERT_NE(squatter, nullptr);
    EXPECT_EQ(registerApp(2, 7, 2048, &app), kInfoResources);
    EXPECT_TRUE(host_.running());
    CloseHandle(squatter);
    EXPECT_EQ(registerApp(2, 7, 2048, &app), 0u);
    EXPECT_EQ(app, 1u);
}

// portbridge.exe itself, without an adapter: registration finds none, and the library's unload
// lets the provider end after its idle delay (3 s).
TEST_F(ProviderProcess, ProgramWithoutAdapterEndsWhenIdle) {
    startProvider("", "portbridge.exe");
    ASSERT_TRUE(capi_.load());
    EXPECT_EQ(capi_.Installed(), 0u);
    DWORD app = 7;
    EXPECT_EQ(registerApp(1, 2, 128, &app), kInfoNotInstalled);
    EXPECT_EQ(app, 0u);
    capi_.unload();
    ASSERT_TRUE(host_.Wait(15000));
    EXPECT_EQ(host_.exit_code(), 0u);
}

}  // namespace
