// Cases of the running program on Windows 2000, where cardflash reads the registry through
// watchsvc: a case registers it when it needs it, and ends with it removed and its local server
// gone before the program folder goes (the server keeps it as its current folder until it ends).
#pragma once

#include <optional>
#include <string>

#include "cardflash/app/program_fixture.h"
#include "watchsvc/tests/testserver.h"

inline std::string WatchsvcExe() { return watchtest::ServerExe("..\\..\\watchsvc\\watchsvc.exe"); }

class WatchsvcCase : public CardflashTest {
protected:
    void RegisterWatchsvc() {
        watchsvc_.emplace(WatchsvcExe());
        ASSERT_TRUE(watchsvc_->registered()) << "watchsvc /RegServer";
    }
    void TearDown() override {
        p_.Terminate();
        watchsvc_.reset();
        CardflashTest::TearDown();
    }

    std::optional<watchtest::ServerRegistration> watchsvc_;
};
