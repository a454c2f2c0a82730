// The service module's run loop in the test's own process.
#include <windows.h>

#include <gtest/gtest.h>

#include "ServiceModule.h"

namespace {

DWORD WINAPI RunModule(void*) {
    ServiceModule::Instance().Run();
    return 0;
}

// A stop control that comes before the service's run thread has even started must still end it.
TEST(ServiceModule, StopBeforeTheRunLoopIsNotLost) {
    ServiceModule& module = ServiceModule::Instance();
    module.Init();  // as a service
    module.Handler(SERVICE_CONTROL_STOP);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, RunModule, nullptr, 0, &id);
    ASSERT_NE(thread, nullptr);
    bool ended = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
    EXPECT_TRUE(ended) << "the run loop missed the stop request";
    if (!ended) {
        PostThreadMessageA(id, WM_QUIT, 0, 0);
        WaitForSingleObject(thread, 5000);
    }
    CloseHandle(thread);
}

}  // namespace
