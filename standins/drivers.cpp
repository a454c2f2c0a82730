#include "standins/drivers.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace standins {
namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v); p[1] = static_cast<uint8_t>(v >> 8); }
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class StandinHandle : public drv::DriverHandle {
public:
    explicit StandinHandle(DriverStandin* s) : s_(s) {}
    ~StandinHandle() override { s_->Closed(); }
    bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                 uint32_t* returned) override {
        return s_->Control(code, in, in_size, out, out_size, returned);
    }

private:
    DriverStandin* s_;
};

}  // namespace

// --- DriverStandin -----------------------------------------------------------------------------

std::vector<drv::OpenRequest> DriverStandin::opens() const {
    std::lock_guard<std::mutex> hold(lock_);
    return opens_;
}

std::vector<RecordedRequest> DriverStandin::requests() const {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

int DriverStandin::open_handles() const {
    std::lock_guard<std::mutex> hold(lock_);
    return open_;
}

void DriverStandin::FailOpens(uint32_t error) {
    std::lock_guard<std::mutex> hold(lock_);
    open_error_ = error;
}

void DriverStandin::FailRequests(bool fail) {
    std::lock_guard<std::mutex> hold(lock_);
    fail_requests_ = fail;
}

std::unique_ptr<drv::DriverHandle> DriverStandin::Open(const drv::OpenRequest& r, uint32_t* error) {
    std::lock_guard<std::mutex> hold(lock_);
    opens_.push_back(r);
    if (open_error_ != 0) {
        *error = open_error_;
        return nullptr;
    }
    ++open_;
    return std::make_unique<StandinHandle>(this);
}

bool DriverStandin::Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                            uint32_t* returned) {
    std::lock_guard<std::mutex> hold(lock_);
    RecordedRequest rec;
    rec.code = code;
    if (in && in_size) {
        const uint8_t* p = static_cast<const uint8_t*>(in);
        rec.input.assign(p, p + in_size);
    }
    rec.out_size = out_size;
    requests_.push_back(rec);
    uint32_t got = 0;
    // The driver reads its input before it writes its output: the same buffer may be both.
    Bytes input = rec.input;
    bool ok = !fail_requests_ &&
              Answer(code, input.empty() ? nullptr : input.data(), in_size, static_cast<uint8_t*>(out), out_size, &got);
    if (returned) *returned = ok ? got : 0;
    return ok;
}

void DriverStandin::Closed() {
    std::lock_guard<std::mutex> hold(lock_);
    --open_;
}

// --- StandinDrivers ----------------------------------------------------------------------------

struct StandinDrivers::Table {
    std::mutex lock;
    std::map<std::string, DriverStandin*> drivers;
    std::vector<std::string> unknown;
};

StandinDrivers::StandinDrivers() : table_(std::make_shared<Table>()) {
    std::shared_ptr<Table> table = table_;
    previous_ = drv::DriverAccess::SetOpener(
        [table](const drv::OpenRequest& r, uint32_t* error) -> std::unique_ptr<drv::DriverHandle> {
            DriverStandin* s = nullptr;
            {
                std::lock_guard<std::mutex> hold(table->lock);
                auto it = table->drivers.find(Lower(r.path));
                if (it == table->drivers.end()) {
                    table->unknown.push_back(r.path);
                    *error = drv::win::kErrorFileNotFound;
                    return nullptr;
                }
                s = it->second;
            }
            return s->Open(r, error);
        });
}

StandinDrivers::~StandinDrivers() { drv::DriverAccess::SetOpener(previous_); }

void StandinDrivers::Add(const std::string& path, DriverStandin* standin) {
    std::lock_guard<std::mutex> hold(table_->lock);
    table_->drivers[Lower(path)] = standin;
}

std::vector<std::string> StandinDrivers::unknown_opens() const {
    std::lock_guard<std::mutex> hold(table_->lock);
    return table_->unknown;
}

// --- CardInfoDriver ----------------------------------------------------------------------------

void CardInfoDriver::SetCard(const std::string& device_id, const Bytes& cis) {
    std::lock_guard<std::mutex> hold(lock_);
    Bytes b(cis.begin(), cis.begin() + std::min<size_t>(cis.size(), 256));
    cards_[device_id] = b;
}

void CardInfoDriver::SetStatus(uint16_t status) {
    std::lock_guard<std::mutex> hold(lock_);
    status_ = status;
}

bool CardInfoDriver::Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                            uint32_t* returned) {
    constexpr uint32_t kBlock = 736;
    if (code != 1 || in_size != kBlock || out_size != kBlock || !out) return false;
    std::memcpy(out, in, kBlock);
    uint16_t status = status_;
    if (status == 0 && Get16(in + 734) != 0x1146) status = 0xFFFF;
    const char* id = reinterpret_cast<const char*>(in + 2);
    size_t len = strnlen(id, 472);
    auto card = cards_.find(std::string(id, len));
    if (status == 0 && (len == 472 || card == cards_.end())) status = 2;  // unterminated or unknown
    if (status == 0) {
        std::memset(out + 474, 0, 256);
        std::memcpy(out + 474, card->second.data(), card->second.size());
    }
    Put16(out, status);
    *returned = kBlock;
    return true;
}

// --- NtPcmciaDriver ----------------------------------------------------------------------------

void NtPcmciaDriver::SetCard(int socket, const Bytes& cis) {
    std::lock_guard<std::mutex> hold(lock_);
    cis_[socket] = Bytes(cis.begin(), cis.begin() + std::min<size_t>(cis.size(), 1024));
}

void NtPcmciaDriver::SetConfig(int socket, const Config& config) {
    std::lock_guard<std::mutex> hold(lock_);
    config_[socket] = config;
}

bool NtPcmciaDriver::Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                            uint32_t* returned) {
    if (in_size != 80 || in[4] != 1) return false;
    int socket = Get16(in);
    if (code == 0x42EE0) {
        auto it = cis_.find(socket);
        if (it == cis_.end() || out_size < 1024) return false;
        std::memset(out, 0, 1024);
        std::memcpy(out, it->second.data(), it->second.size());
        *returned = 1024;
        return true;
    }
    if (code == 0x42EE4) {
        auto it = config_.find(socket);
        if (it == config_.end() || out_size < 80) return false;
        const Config& c = it->second;
        std::memcpy(out, in, 80);
        out[6] = c.irq;
        Put16(out + 8, static_cast<uint16_t>(c.io_count >= 0 ? c.io_count : static_cast<int>(c.io.size())));
        for (size_t i = 0; i < c.io.size() && i < 2; ++i) {
            Put16(out + 12 + 2 * i, c.io[i].first);
            Put16(out + 16 + 2 * i, c.io[i].second);
        }
        Put16(out + 24, static_cast<uint16_t>(c.mem_count >= 0 ? c.mem_count : static_cast<int>(c.mem.size())));
        for (size_t i = 0; i < c.mem.size() && i < 5; ++i) {
            Put32(out + 28 + 4 * i, c.mem[i].first);
            Put32(out + 60 + 4 * i, c.mem[i].second);
        }
        *returned = 80;
        return true;
    }
    return false;
}

// --- NdisDiagDriver ----------------------------------------------------------------------------

void NdisDiagDriver::SetAnswer(const std::string& adapter, uint32_t oid, const Bytes& answer) {
    std::lock_guard<std::mutex> hold(lock_);
    answers_[adapter][oid] = answer;
}

void NdisDiagDriver::SetWriteCount(uint32_t count) {
    std::lock_guard<std::mutex> hold(lock_);
    write_count_ = count;
}

Bytes NdisDiagDriver::last_set() const {
    std::lock_guard<std::mutex> hold(lock_);
    return last_set_;
}

std::string NdisDiagDriver::opened_adapter() const {
    std::lock_guard<std::mutex> hold(lock_);
    return adapter_;
}

bool NdisDiagDriver::Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                            uint32_t* returned) {
    switch (code) {
    case 1: {  // open: the adapter's name, no terminator
        if (out_size < 4 || !out) return false;
        std::string name(reinterpret_cast<const char*>(in), in ? in_size : 0);
        bool known = answers_.count(name) != 0;
        if (known) adapter_ = name;
        Put32(out, known ? 0 : 1);
        *returned = 4;
        return true;
    }
    case 2:  // close
        if (in_size != 4 || out_size < 4) return false;
        adapter_.clear();
        Put32(out, 0);
        *returned = 4;
        return true;
    case 3: {
        if (in_size != 40 || out_size != 40 || adapter_.empty()) return false;
        std::memcpy(out, in, 40);
        uint32_t type = Get32(in + 16), oid = Get32(in + 20), length = Get32(in + 28);
        uint8_t* buffer = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(Get32(in + 24)));
        if (length > 0xFFFF || (length && !buffer)) return false;
        uint32_t written = 0;
        if (type == 0 || type == 2) {
            const auto& table = answers_[adapter_];
            auto it = table.find(oid);
            // An answer that does not fit is not written; the block says how much is needed.
            if (it != table.end() && it->second.size() <= length) {
                written = static_cast<uint32_t>(it->second.size());
                std::memcpy(buffer, it->second.data(), written);
            } else if (it != table.end()) {
                Put32(out + 36, static_cast<uint32_t>(it->second.size()));
            }
        } else if (type == 1) {
            last_set_.assign(buffer, buffer + length);
            written = write_count_ >= 0 ? static_cast<uint32_t>(write_count_) : length;
        } else {
            return false;
        }
        Put32(out + 32, written);
        *returned = 40;
        return true;
    }
    default:
        return false;
    }
}

// --- NdisNtAdapter -----------------------------------------------------------------------------

void NdisNtAdapter::SetAnswer(uint32_t oid, const Bytes& answer) {
    std::lock_guard<std::mutex> hold(lock_);
    answers_[oid] = answer;
}

bool NdisNtAdapter::Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out, uint32_t out_size,
                           uint32_t* returned) {
    if (code != 0x170002 || in_size != 4) return false;
    auto it = answers_.find(Get32(in));
    if (it == answers_.end() || (out_size && !out) || it->second.size() > out_size) return false;
    uint32_t n = static_cast<uint32_t>(it->second.size());
    std::memcpy(out, it->second.data(), n);
    *returned = n;
    return true;
}

}  // namespace standins

namespace standins {
namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A zero-terminated text within `size` bytes (all of them when no terminator comes).
std::string InputText(const uint8_t* in, uint32_t size) {
    if (!in) return std::string();
    uint32_t n = 0;
    while (n < size && in[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(in), n);
}

}  // namespace

void PortManagerDriver::SetPortFree(const std::string& path, bool free) {
    std::lock_guard<std::mutex> lock(lock_);
    free_[Upper(path)] = free;
}

void PortManagerDriver::SetInCall(bool in_call) {
    std::lock_guard<std::mutex> lock(lock_);
    in_call_ = in_call;
}

void PortManagerDriver::FailRecord(bool fail) {
    std::lock_guard<std::mutex> lock(lock_);
    fail_record_ = fail;
}

void PortManagerDriver::SetAnswerSize(uint32_t size) {
    std::lock_guard<std::mutex> lock(lock_);
    answer_size_ = size;
}

void PortManagerDriver::SetPortRecord(const std::string& path, const Bytes& record12) {
    std::lock_guard<std::mutex> lock(lock_);
    Bytes r = record12;
    r.resize(12, 0);
    records_[Upper(path)] = r;
}

void PortManagerDriver::SetCallCounters(const std::string& path, const std::vector<uint32_t>& counters6) {
    std::lock_guard<std::mutex> lock(lock_);
    std::vector<uint32_t> c = counters6;
    c.resize(6, 0);
    counters_[Upper(path)] = c;
}

void PortManagerDriver::SetStatusWord(const std::string& path, uint32_t status) {
    std::lock_guard<std::mutex> lock(lock_);
    status_[Upper(path)] = status;
}

std::vector<std::string> PortManagerDriver::registered() const {
    std::lock_guard<std::mutex> lock(lock_);
    return registered_;
}

bool PortManagerDriver::Answer(uint32_t code, const uint8_t* in, uint32_t in_size, uint8_t* out,
                               uint32_t out_size, uint32_t* returned) {
    switch (code) {
    case k9xRegisterPort:
    case kNtRegisterPort:
        port_ = Upper(InputText(in, in_size));
        registered_.push_back(InputText(in, in_size));
        return true;
    case k9xRegisterDevice:
        registered_.push_back(InputText(in, in_size));
        return true;
    case k9xPortQuery:
    case kNtPortQuery: {
        auto it = free_.find(Upper(InputText(in, in_size)));
        uint32_t value = (it == free_.end() || it->second) ? 1 : 0;
        uint32_t n = std::min<uint32_t>({answer_size_, out_size, 4});
        if (out) std::memcpy(out, &value, n);
        *returned = n;
        return true;
    }
    case k9xPortRecord:
    case kNtStatusWord: {
        const uint32_t size = code == k9xPortRecord ? 12 : 4;
        if (fail_record_ || !out || out_size < size) return false;
        std::memset(out, 0, size);
        if (code == k9xPortRecord) {
            auto it = records_.find(port_);
            if (it != records_.end()) std::memcpy(out, it->second.data(), 12);
        } else {
            auto it = status_.find(port_);
            if (it != status_.end()) std::memcpy(out, &it->second, 4);
        }
        if (in_call_) out[0] |= 0x80;
        *returned = size;
        return true;
    }
    case kNtCallCounters: {
        if (fail_record_ || !out || out_size < 24) return false;
        std::memset(out, 0, 24);
        auto it = counters_.find(port_);
        if (it != counters_.end()) std::memcpy(out, it->second.data(), 24);
        *returned = 24;
        return true;
    }
    default:
        return false;
    }
}

}  // namespace standins
