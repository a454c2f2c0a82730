#include "cardflash/inventory/ndis.h"

#include <gtest/gtest.h>

#include "standins/drivers.h"
#include "winetest/version.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool IsNT() {
    std::string v = winetest::RequestedVersion();
    return v == "nt351" || v == "nt40" || v == "win2k";
}

Bytes Le32(uint32_t v) { return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

bool DosNameExists(const char* name, std::string* target = nullptr) {
    char buf[1024];
    if (QueryDosDeviceA(name, buf, sizeof buf) == 0) return false;
    if (target) *target = buf;
    return true;
}

// One adapter "E100B1" behind whichever road this Windows takes.
class NdisRoads : public ::testing::Test {
protected:
    void SetUp() override {
        drivers_.Add("\\\\.\\DIAG.VXD", &diag_);
        drivers_.Add("\\\\.\\E100B1", &nt_);
        drivers_.Add("\\\\.\\E100B2", &nt_);
        Answer(ndis::kGenLinkSpeed, Le32(1000000));
        Answer(ndis::kGenVendorId, Le32(0x00A0C901));
        Bytes desc = {'D', 'o', 'r', 'v', 'e', 'x', ' ', 'L', 'A', 'N', 0, 'x', 'y'};
        Answer(ndis::kGenVendorDescription, desc);
        Answer(ndis::k8023PermanentAddress, {0x00, 0xA0, 0xC9, 0x12, 0x34, 0x5F});
        Answer(ndis::kGenSupportedList, Bytes());
        Answer(ndis::kGenRcvOk, Le32(77));
        Answer(ndis::kGenDirectedBytesXmit, Le32(0xFFFFFFF0u));
        Answer(ndis::kGenDirectedBytesRcv, {0x01, 0, 0, 0, 0x02, 0, 0, 0});
    }
    void Answer(uint32_t oid, const Bytes& b) {
        diag_.SetAnswer("E100B1", oid, b);
        nt_.SetAnswer(oid, b);
    }
    // The OID and request type of every request the program sent, whichever road.
    std::vector<std::pair<uint32_t, uint32_t>> Sent() const {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        for (const auto& r : IsNT() ? nt_.requests() : diag_.requests()) {
            if (IsNT()) out.push_back({r.input.size() == 4 ? GetLE(r.input, 0) : 0, 0});
            else if (r.code == 3) out.push_back({GetLE(r.input, 20), GetLE(r.input, 16)});
        }
        return out;
    }
    static uint32_t GetLE(const Bytes& b, size_t at) {
        return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
    }

    standins::StandinDrivers drivers_;
    standins::NdisDiagDriver diag_;
    standins::NdisNtAdapter nt_;
};

TEST_F(NdisRoads, OpenReadsTheFixedFacts) {
    NetAdapterInfo info;
    ASSERT_EQ(info.Open("E100B", 1u), 0);
    uint32_t v = 0;
    info.GetLinkSpeed(&v);
    EXPECT_EQ(v, 1000000u);
    info.GetVendorId(&v);
    EXPECT_EQ(v, 0x00A0C901u);
    CString s;
    info.GetDescription(&s);
    EXPECT_EQ(s, "Dorvex LAN");
    info.GetAddressText(&s);
    EXPECT_EQ(s, "00 A0 C9 12 34 5F");
    EXPECT_EQ(info.GetRcvOk(&v), 0);
    EXPECT_EQ(v, 77u);
    EXPECT_EQ(info.GetXmitOk(&v), 11);  // the driver has no answer
    EXPECT_EQ(info.GetRcvCrcError(&v), 3);
    uint64_t bytes = 0;
    EXPECT_EQ(info.GetDirectedBytesXmit(&bytes), 0);
    EXPECT_EQ(bytes, 0xFFFFFFF0ull);  // widened without a sign
    EXPECT_EQ(info.GetDirectedBytesRcv(&bytes), 0);
    EXPECT_EQ(bytes, 0x0000000200000001ull);

    auto sent = Sent();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent[0].first, ndis::kGenLinkSpeed);
    EXPECT_EQ(sent[1].first, ndis::kGenVendorId);
    EXPECT_EQ(sent[2].first, ndis::kGenVendorDescription);
    EXPECT_EQ(sent[3].first, ndis::k8023PermanentAddress);
    if (!IsNT()) {
        EXPECT_EQ(sent[0].second, 0u);  // a general OID is a query
        auto rcv = std::find_if(sent.begin(), sent.end(), [](auto& p) { return p.first == ndis::kGenRcvOk; });
        ASSERT_NE(rcv, sent.end());
        EXPECT_EQ(rcv->second, 2u);  // a statistics OID goes out as a statistics request
    }
    info.Close();
    EXPECT_EQ(diag_.open_handles() + nt_.open_handles(), 0);
}

TEST_F(NdisRoads, AnAddressOfAnotherSizeIsNotUsed) {
    Answer(ndis::kGenVendorDescription, Bytes(NetAdapterInfo::kAnswerBuffer, 'D'));  // no terminator
    // Too long the drivers refuse it themselves; too short they hand it over, and only the
    // caller's size check keeps it out.
    for (const Bytes& address : {Bytes{1, 2, 3, 4, 5, 6, 7, 8}, Bytes{1, 2, 3, 4}}) {
        SCOPED_TRACE(address.size());
        Answer(ndis::k8023PermanentAddress, address);
        NetAdapterInfo info;
        ASSERT_EQ(info.Open("E100B1"), 0);
        CString s;
        info.GetAddressText(&s);
        EXPECT_EQ(s, "00 00 00 00 00 00");
        info.GetDescription(&s);
        EXPECT_EQ(s.GetLength(), NetAdapterInfo::kAnswerBuffer);
        info.Close();
    }
}

TEST_F(NdisRoads, Windows9xRequestsAndClose) {
    if (IsNT()) GTEST_SKIP() << "the diagnostics driver is the Windows 9x road";
    {
        NetAdapterInfo info;
        ASSERT_EQ(info.Open("E100B1"), 0);
        ASSERT_FALSE(diag_.opens().empty());
        drv::OpenRequest o = diag_.opens()[0];
        EXPECT_EQ(o.access, 0u);
        EXPECT_EQ(o.share, 0u);
        EXPECT_EQ(o.disposition, 1u);             // create-new
        EXPECT_EQ(o.attributes, 0x04000000u);     // delete-on-close
        auto reqs = diag_.requests();
        EXPECT_EQ(reqs[0].code, 1u);
        EXPECT_EQ(std::string(reqs[0].input.begin(), reqs[0].input.end()), "E100B1");  // no terminator
        ASSERT_EQ(reqs[1].input.size(), 40u);
        EXPECT_EQ(GetLE(reqs[1].input, 28), 4u);  // buffer length
        EXPECT_EQ(GetLE(reqs[1].input, 36), 4u);  // bytes needed starts as the length
        EXPECT_EQ(GetLE(reqs[1].input, 32), 0u);
    }
    auto reqs = diag_.requests();
    EXPECT_EQ(reqs.back().code, 2u);
    EXPECT_EQ(diag_.open_handles(), 0);

    NetAdapterInfo unknown;
    EXPECT_EQ(unknown.Open("E100B7"), 10);
    EXPECT_EQ(diag_.open_handles(), 0);
    diag_.FailOpens(2);
    EXPECT_EQ(unknown.Open("E100B1"), 10);
}

TEST_F(NdisRoads, SetOidOnlyForSupportedOids) {
    const uint32_t kMulticast = 0x01010103;
    Answer(ndis::kGenSupportedList, Le32(kMulticast));
    NetAdapterInfo info;
    ASSERT_EQ(info.Open("E100B1"), 0);
    std::vector<uint32_t> oids{0x1234};
    info.GetSupportedOids(&oids);
    EXPECT_EQ(oids, (std::vector<uint32_t>{0x1234, kMulticast}));

    uint8_t list[6] = {1, 0, 0x5E, 0, 0, 1};
    uint32_t len = 6;
    EXPECT_EQ(info.SetOid(ndis::kGenLinkSpeed, list, &len), 11);
    if (IsNT()) {
        EXPECT_EQ(info.SetOid(kMulticast, list, &len), 12);  // NT has no set road
        EXPECT_EQ(len, 0u);
        return;
    }
    EXPECT_EQ(info.SetOid(kMulticast, list, &len), 0);
    EXPECT_EQ(diag_.last_set(), Bytes(list, list + 6));
    EXPECT_EQ(GetLE(diag_.requests().back().input, 16), 1u);
    diag_.SetWriteCount(2);
    EXPECT_EQ(info.SetOid(kMulticast, list, &len), 12);
    EXPECT_EQ(len, 2u);
}

TEST_F(NdisRoads, NtDosNamesAreDefinedAndRemovedOnlyWhenOurs) {
    if (!IsNT()) GTEST_SKIP() << "DOS device names are the NT road";
    // Short names: 64-bit Wine defines no DOS name longer than four characters (it reports success).
    drivers_.Add("\\\\.\\NIC1", &nt_);
    drivers_.Add("\\\\.\\NIC2", &nt_);
    ASSERT_FALSE(DosNameExists("NIC1"));
    {
        NetAdapterInfo info;
        ASSERT_EQ(info.Open("NIC1"), 0);
        std::string target;
        EXPECT_TRUE(DosNameExists("NIC1", &target));
        EXPECT_EQ(target, "\\Device\\NIC1");
        drv::OpenRequest o = nt_.opens()[0];
        EXPECT_EQ(o.path, "\\\\.\\NIC1");
        EXPECT_EQ(o.access, 0x80000000u);
        EXPECT_EQ(o.share, 3u);
        EXPECT_EQ(o.disposition, 3u);
        standins::RecordedRequest r = nt_.requests()[0];
        EXPECT_EQ(r.code, 0x170002u);
        EXPECT_EQ(r.input, Le32(ndis::kGenLinkSpeed));
        EXPECT_EQ(r.out_size, 4u);
    }
    EXPECT_FALSE(DosNameExists("NIC1"));

    // A name that exists already is used as it is and left in place.
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "NIC2", "\\Device\\NIC2"));
    {
        NetAdapterInfo info;
        EXPECT_EQ(info.Open("NIC2"), 0);
    }
    EXPECT_TRUE(DosNameExists("NIC2"));
    DefineDosDeviceA(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, "NIC2",
                     "\\Device\\NIC2");

    // A device that does not open takes its new name away again.
    NetAdapterInfo missing;
    EXPECT_EQ(missing.Open("NIC9"), 10);
    EXPECT_FALSE(DosNameExists("NIC9"));
}

}  // namespace
