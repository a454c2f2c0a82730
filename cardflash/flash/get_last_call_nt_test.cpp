// The last-call monitor on Windows NT 4.0: the port-manager driver "\\.\Wendlow" is told the port
// once, and every busy poll samples the call counters (0x222004) and the status word (0x222008)
// into the port record: the status with bit 0x100, and a flag for each of the first two counters
// that changed since the sample before.
#include "cardflash/flash/get_last_call.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cardflash/flash/modem.h"
#include "cardflash/flash/monitor_test_util.h"
#include "standins/drivers.h"

namespace {

using standins::PortManagerDriver;

struct Record {
    DWORD w[3];
    bool operator==(const Record& o) const { return w[0] == o.w[0] && w[1] == o.w[1] && w[2] == o.w[2]; }
};
std::ostream& operator<<(std::ostream& os, const Record& r) {
    return os << std::hex << "{" << r.w[0] << ", " << r.w[1] << ", " << r.w[2] << "}";
}

std::vector<Record> g_records;
std::function<void()> g_next;

void Callback() {
    CGetLastCall* m = CGetLastCall::Current();
    if (!m || m->GetState() != CGetLastCall::kPortBusy) return;
    g_records.push_back({{m->PortRecord(0), m->PortRecord(1), m->PortRecord(2)}});
    if (g_next) g_next();
}

using monitortest::PumpUntil;

TEST(MonitorNt40, RequestCodesAndThePortRecord) {
    standins::StandinDrivers drivers;
    PortManagerDriver manager;
    drivers.Add("\\\\.\\Wendlow", &manager);
    CModem modem;
    ASSERT_EQ(modem.AttachCard(nullptr, "COM250"), 0);  // the driver answers: the port is never opened
    const std::string path = "\\\\.\\COM250";
    manager.SetPortFree(path, false);
    manager.SetStatusWord(path, 0x5);

    // Counters for each sample, and the record each gives.
    struct Step {
        std::vector<uint32_t> counters;
        bool fail;
        Record want;
    } steps[] = {
        {{3, 7, 9, 9, 9, 9}, false, {{0x105, 1, 1}}},
        {{3, 7, 1, 1, 1, 1}, false, {{0x105, 0, 0}}},  // only the first two counters count
        {{3, 8}, false, {{0x105, 0, 1}}},
        {{4, 8}, false, {{0x105, 1, 0}}},
        {{4, 8}, true, {{0x100, 0, 0}}},  // unreadable: zeroed, the flag bit still set
    };
    size_t step = 0;
    manager.SetCallCounters(path, steps[0].counters);
    g_records.clear();
    g_next = [&] {
        if (++step >= sizeof(steps) / sizeof(steps[0])) return;
        manager.SetCallCounters(path, steps[step].counters);
        manager.FailRecord(steps[step].fail);
    };

    const size_t before = manager.requests().size();  // the modem's own poll when it was bound
    CGetLastCall monitor(&modem, Callback, 30, 40);
    EXPECT_EQ(manager.registered(), std::vector<std::string>{path});
    std::vector<drv::OpenRequest> opens = manager.opens();
    ASSERT_FALSE(opens.empty());
    EXPECT_EQ(opens[0].attributes, uint32_t(FILE_FLAG_NO_BUFFERING));
    EXPECT_EQ(opens[0].access, drv::win::kGenericRead | drv::win::kGenericWrite);
    EXPECT_EQ(opens[0].share, 0u);

    ASSERT_TRUE(monitor.Start());
    ASSERT_TRUE(PumpUntil([&] { return g_records.size() >= 5; }, 10000));
    monitor.Stop();
    g_next = nullptr;
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(g_records[i], steps[i].want);
    }

    // Each busy poll: the port query, then the counters and the status word.
    std::vector<uint32_t> codes;
    std::vector<uint32_t> sizes;
    std::vector<standins::RecordedRequest> asked = manager.requests();
    for (size_t i = before; i < asked.size(); ++i) {
        const standins::RecordedRequest& r = asked[i];
        codes.push_back(r.code);
        sizes.push_back(r.out_size);
    }
    ASSERT_GE(codes.size(), 4u);
    EXPECT_EQ(codes[0], PortManagerDriver::kNtRegisterPort);
    EXPECT_EQ(std::vector<uint32_t>(codes.begin() + 1, codes.begin() + 4),
              (std::vector<uint32_t>{PortManagerDriver::kNtPortQuery, PortManagerDriver::kNtCallCounters,
                                     PortManagerDriver::kNtStatusWord}));
    EXPECT_EQ(std::vector<uint32_t>(sizes.begin() + 1, sizes.begin() + 4), (std::vector<uint32_t>{4, 24, 4}));
}

}  // namespace
