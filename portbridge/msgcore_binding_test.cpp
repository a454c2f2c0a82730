// msgcore.dll as an application uses it, on the stand-in capi2032.dll that reaches the provider
// process: its binding, registration, a put, and the release that ends its receive thread's wait.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "msgcore/msgcore.h"
#include "winetest/process.h"

namespace {

uintptr_t CALLBACK ignoreEvents(void*, uint32_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t) {
    return 0;
}

int logCount(const std::string& path, const std::string& prefix) {
    std::ifstream in(path);
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line.compare(0, prefix.size(), prefix) == 0;
    return n;
}

TEST(ProviderThroughMsgcore, RegisterListenAndDone) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string log = std::string(temp) + "portbridge-msgcore-test.log";
    DeleteFileA(log.c_str());
    winetest::Process host;
    ASSERT_TRUE(host.Start(winetest::ProgramFolder() + "\\portbridge_testhost.exe", "--log=" + log));
    HWND window = nullptr;
    for (int i = 0; i < 1000 && !window; ++i) {
        window = FindWindowA("capispAppWinClass", "TA capi service provider");
        if (!window) Sleep(10);
    }
    ASSERT_NE(window, nullptr);

    ISDN_PORT port = nullptr;
    ASSERT_EQ(isdnInit(&port, 2, 2048), 0u);
    EXPECT_EQ(logCount(log, "register 2 8 2048"), 1);
    ISDN_CONNECTION connection = nullptr;
    ASSERT_EQ(isdnOpen(port, 1, ignoreEvents, nullptr, &connection), 0u);
    EXPECT_EQ(isdnListen(connection, 0), 0u);
    EXPECT_EQ(logCount(log, "put 1 8005"), 1);

    // The receive thread waits in CAPI_WAIT_FOR_SIGNAL; the release must wake it well before
    // msgcore gives up on joining it.
    DWORD start = GetTickCount();
    EXPECT_EQ(isdnClose(connection), 0u);
    EXPECT_EQ(isdnDone(port), 0u);
    EXPECT_LT(GetTickCount() - start, 8000u);
    EXPECT_EQ(logCount(log, "release 1"), 1);
    host.Terminate();
    DeleteFileA(log.c_str());
}

}  // namespace
