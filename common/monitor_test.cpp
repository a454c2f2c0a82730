// The debug-monitor writer read back by a monitor in the test process: the helper program writes
// one line, the monitor thread here takes it from the shared section with its process id.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "winetest/process.h"

namespace {

std::string HelperPath() { return winetest::ProgramFolder() + "\\common_monitor_writer.exe"; }

struct Record {
    DWORD pid;
    std::string text;
};

// The monitor's side of the convention: both events (auto-reset) and the 4096-byte section.
class Monitor {
public:
    Monitor() {
        bufferReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
        dataReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
        section_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
        view_ = section_ ? static_cast<char*>(MapViewOfFile(section_, FILE_MAP_READ, 0, 0, 4096)) : nullptr;
    }
    ~Monitor() {
        if (view_) UnmapViewOfFile(view_);
        for (HANDLE h : {section_, dataReady_, bufferReady_})
            if (h) CloseHandle(h);
    }
    bool ok() const { return bufferReady_ && dataReady_ && view_; }

    // Offers the buffer and takes records until `until` is signalled (the writer ended).
    std::vector<Record> Read(HANDLE until) {
        std::vector<Record> records;
        for (;;) {
            SetEvent(bufferReady_);
            HANDLE both[2] = {dataReady_, until};
            const DWORD w = WaitForMultipleObjects(2, both, FALSE, 20000);
            if (w != WAIT_OBJECT_0) break;
            Record r;
            std::memcpy(&r.pid, view_, sizeof r.pid);
            r.text.assign(view_ + sizeof r.pid, strnlen(view_ + sizeof r.pid, 4096 - sizeof r.pid));
            records.push_back(r);
        }
        return records;
    }

private:
    HANDLE bufferReady_ = nullptr, dataReady_ = nullptr, section_ = nullptr;
    char* view_ = nullptr;
};

// Runs the helper with `args` against a monitor thread and returns the records of its process.
std::vector<Record> RecordsOfHelper(const std::string& args) {
    Monitor monitor;
    EXPECT_TRUE(monitor.ok());
    if (!monitor.ok()) return {};
    winetest::Process writer;
    EXPECT_TRUE(writer.Start(HelperPath(), args)) << writer.last_error();
    std::vector<Record> records;
    std::thread reader([&] { records = monitor.Read(writer.handle()); });
    reader.join();
    EXPECT_TRUE(writer.Wait(30000));
    EXPECT_EQ(writer.exit_code(), 0u);
    // Other programs of the session may write too; only the helper's records count.
    std::vector<Record> mine;
    for (const Record& r : records)
        if (r.pid == writer.pid()) mine.push_back(r);
    return mine;
}

TEST(commonDebugMonitor, WriterInAnotherProcessDeliversPidAndLine) {
    // Wine's own OutputDebugString also writes to a running monitor (Windows 9x's does not), so
    // the line arrives twice: from the system channel and from the writer after it.
    std::vector<Record> records = RecordsOfHelper("hello-monitor");
    EXPECT_EQ(records.size(), 2u);
    for (const Record& r : records) {
        ASSERT_GE(r.text.size(), 2u + 20u) << r.text;
        EXPECT_EQ(r.text.substr(0, 11), "serlinksp: ");
        EXPECT_EQ(r.text.substr(20), "hello-monitor\r\n");
    }
}

TEST(commonDebugMonitor, PortbridgeLineBeforeInit) {
    // Module name "undefined " and name width 11: the text at column 21, in the stamp's blank.
    std::vector<Record> records = RecordsOfHelper("early preinit");
    EXPECT_EQ(records.size(), 2u);
    for (const Record& r : records) {
        ASSERT_GE(r.text.size(), 21u) << r.text;
        EXPECT_EQ(r.text.substr(0, 12), "undefined : ");
        EXPECT_EQ(r.text.substr(21), "early\r\n");
    }
}

TEST(commonDebugMonitor, MonitorThatNeverReadsDoesNotHoldTheWriter) {
    Monitor monitor;  // never sets DBWIN_BUFFER_READY
    ASSERT_TRUE(monitor.ok());
    winetest::Process writer;
    ASSERT_TRUE(writer.Start(HelperPath(), "dropped"));
    // Bounded: the writer gives up and ends (an unbounded wait would hang here).
    ASSERT_TRUE(writer.Wait(45000));
    EXPECT_EQ(writer.exit_code(), 0u);
}

TEST(commonDebugMonitor, NoMonitorMeansNothingButTheSystemChannel) {
    winetest::Process writer;
    ASSERT_TRUE(writer.Start(HelperPath(), "nobody-listens"));
    ASSERT_TRUE(writer.Wait(30000));
    EXPECT_EQ(writer.exit_code(), 0u);
}

}  // namespace
